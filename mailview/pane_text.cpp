#include "mailview/pane_text.h"

#include <richedit.h>

#include <cstring>
#include <vector>

namespace {
const LRESULT kPaneTextCeiling = 0x7FFFFFFE;   // the pane's text limit: no answer beyond it is believed
}

bool ReadPaneText(HWND pane, std::wstring* text)
{
    GETTEXTLENGTHEX question = {GTL_NUMCHARS | GTL_PRECISE, 1200};
    const LRESULT length = SendMessageA(pane, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&question), 0);
    if (length < 0 || length > kPaneTextCeiling)
        return false;
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
    GETTEXTEX request;
    std::memset(&request, 0, sizeof request);
    request.cb = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    request.flags = GT_DEFAULT;
    request.codepage = 1200;
    const LRESULT copied = SendMessageA(pane, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&request),
                                        reinterpret_cast<LPARAM>(buffer.data()));
    if (copied < 0 || copied > length)
        return false;
    text->assign(buffer.data(), static_cast<size_t>(copied));
    return true;
}
