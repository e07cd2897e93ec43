// The mail file read through the host.
#include "mailview/mail_file.h"

#include <wincrypt.h>

#include <climits>
#include <cstdlib>

#include "plugin/host_api.h"

bool MultipartHasUtf8Part(HWND view, const char* boundary)
{
    return MultipartFileHasUtf8Part(HostViewGetPath(view), boundary);
}

void ExtractMailBody(HWND view, const char* boundary, MailBodyBuffer* buffer)
{
    if (!buffer)
        return;
    int encoding = ExtractMailBodyFromFile(HostViewGetPath(view), boundary, buffer);
    if (encoding == Base64 && buffer->size() > 1)
        DecodeBase64Body(buffer);
}

void DecodeBase64Body(MailBodyBuffer* buffer)
{
    if (!buffer || buffer->empty())
        return;
    // The decoder rejects a NUL inside the length it is given: the terminator stays out.
    size_t textLength = buffer->size();
    if (buffer->back() == 0)
        --textLength;
    if (textLength == 0 || textLength > MAXDWORD)
        return;
    const char* text = reinterpret_cast<const char*>(&(*buffer)[0]);
    // Four characters give at most three bytes, so this room always suffices and the
    // text is decoded once, not measured first and then decoded.
    const size_t room = textLength / 4 * 3 + 3;
    BYTE* decoded = static_cast<BYTE*>(malloc(room));
    if (!decoded)
        return;
    DWORD written = static_cast<DWORD>(room);
    if (CryptStringToBinaryA(text, static_cast<DWORD>(textLength), CRYPT_STRING_BASE64, decoded, &written, NULL,
                             NULL) &&
        written <= room && static_cast<size_t>(written) < buffer->capacity()) {
        // The decoded bytes and their NUL fit in the room the text had, so nothing is
        // allocated here and nothing can throw.
        buffer->assign(decoded, decoded + written);
        buffer->push_back(0);
    }
    free(decoded);
}

wchar_t* Utf8ToUtf16(const char* text)
{
    if (!text)
        return NULL;
    int count = MultiByteToWideChar(CP_UTF8, 0, text, -1, NULL, 0);
    if (count < 0 || static_cast<size_t>(count) >= SIZE_MAX / sizeof(wchar_t) - 1 || count == INT_MAX)
        return NULL;
    wchar_t* wide = static_cast<wchar_t*>(malloc((static_cast<size_t>(count) + 1) * sizeof(wchar_t)));
    if (!wide)
        return NULL;
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, count + 1);
    wide[count] = 0;
    return wide;
}
