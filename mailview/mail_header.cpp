#include "mailview/mail_header.h"

#include <windows.h>

#include <climits>
#include <new>
#include <string>

#include "mailview/mailtext/headers/header_text.h"

namespace {

// A code page this system lacks leaves the encoded-word as written, never shown wrong.
int ConvertCodePage(void*, unsigned codePage, const char* bytes, size_t length, PaneUnit* out, size_t room)
{
    if (length > INT_MAX || room > INT_MAX || !IsValidCodePage(codePage))
        return -1;
    const int units =
        MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(length), out, static_cast<int>(room));
    return units > 0 ? units : -1;
}

}  // namespace

void HeaderBlockForPane(const char* headerText, std::wstring* block)
{
    block->clear();
    if (!headerText)
        return;
    const HeaderConverter converter = {ConvertCodePage, NULL};
    try {
        block->resize(kHeaderBlockUnits);
        block->resize(HeaderBlockText(headerText, &(*block)[0], block->size(), converter));
    } catch (const std::bad_alloc&) {
        block->clear();
    }
}

bool HostLacksHeaderText(const std::wstring& block)
{
    if (block.empty() || block.size() > INT_MAX / 2)
        return false;
    try {
        // A U+FFFD stands for what the decoder could not read: the pane shows it no better.
        std::wstring text(block);
        for (wchar_t& c : text)
            c = c == 0xFFFD ? L'?' : c;
        std::string bytes(text.size() * 2, '\0');
        BOOL usedDefault = FALSE;
        const int written = WideCharToMultiByte(kHostCodePage, WC_NO_BEST_FIT_CHARS, text.data(),
                                                static_cast<int>(text.size()), &bytes[0],
                                                static_cast<int>(bytes.size()), NULL, &usedDefault);
        return written > 0 && usedDefault;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
