// The mail file read through the host.
#include "mailview/mail_file.h"

#include <wincrypt.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

#include "base/host_api.h"
#include "base/scoped.h"
#include "mailview/mailtext/html_text.h"

bool MultipartHasUtf8Part(HWND view, const char* boundary)
{
    return MultipartFileHasUtf8Part(HostViewGetPath(view), boundary);
}

void ExtractMailBody(HWND view, const char* boundary, MailBodyBuffer* buffer, size_t limit)
{
    if (!buffer)
        return;
    int encoding = ExtractMailBodyFromFile(HostViewGetPath(view), boundary, buffer, limit);
    if (encoding == Base64 && buffer->size() > 1)
        DecodeBase64Body(buffer);
}

UINT UsableCodePage(const char* charset)
{
    UINT codePage = CharsetCodePage(charset);
    return codePage != 0 && IsValidCodePage(codePage) ? codePage : 0;
}

bool FirstPartType(HWND view, const char* boundary, ContentType* type)
{
    return ReadFirstPartContentType(HostViewGetPath(view), boundary, type) != 0;
}

bool FindNestedTextPart(HWND view, const char* boundary, TextPart* part, int orHtml)
{
    return FindFirstTextPart(HostViewGetPath(view), boundary, part, orHtml) != 0;
}

void ExtractNestedTextPart(HWND view, const char* boundary, MailBodyBuffer* buffer, size_t limit, int orHtml)
{
    if (!buffer)
        return;
    int encoding = ExtractTextPartFromFile(HostViewGetPath(view), boundary, buffer, limit, NULL, orHtml);
    if (encoding == Base64 && buffer->size() > 1)
        DecodeBase64Body(buffer);
}

MailFileHead::MailFileHead(HWND view) : view_(view), state_(0), cut_(false)
{
    OpenMailStream(&stream_, NULL);
}

MailStream* MailFileHead::Stream()
{
    if (state_ == 0) {
        state_ = -1;
        MailStream file;
        if (OpenMailStream(&file, HostViewGetPath(view_))) {
            const long rest = MailStreamRemaining(&file);
            const size_t wanted = rest < 0 ? kLoadHeadBytes : std::min(static_cast<size_t>(rest), kLoadHeadBytes);
            cut_ = rest < 0 || static_cast<size_t>(rest) > kLoadHeadBytes;
            try {
                bytes_.resize(wanted + 1);   // never empty, so that its data has an address
                bytes_.resize(std::fread(&bytes_[0], 1, wanted, file.file));
                if (!std::ferror(file.file) && OpenMailStreamOnBytes(&stream_, bytes_.data(), bytes_.size()))
                    state_ = 1;
            } catch (const std::bad_alloc&) {
            }
            CloseMailStream(&file);
        }
    }
    return state_ == 1 ? &stream_ : NULL;
}

bool MultipartHasUtf8Part(MailFileHead& head, const char* boundary)
{
    return MultipartStreamHasUtf8Part(head.Stream(), boundary);
}

bool FirstPartType(MailFileHead& head, const char* boundary, ContentType* type)
{
    return ReadFirstPartContentTypeInStream(head.Stream(), boundary, type) != 0;
}

bool FindNestedTextPart(MailFileHead& head, const char* boundary, TextPart* part, int orHtml)
{
    MailStream* stream = head.Stream();
    return stream && SeekMailStream(stream, 0) && WalkToFirstTextPart(stream, boundary, part, orHtml) != 0;
}

void ExtractMailBody(MailFileHead& head, const char* boundary, MailBodyBuffer* buffer, size_t limit)
{
    if (!buffer)
        return;
    if (ExtractMailBodyFromStream(head.Stream(), boundary, buffer, limit) == Base64 && buffer->size() > 1)
        DecodeBase64Body(buffer);
}

void ExtractNestedTextPart(MailFileHead& head, const char* boundary, MailBodyBuffer* buffer, size_t limit,
                           int orHtml)
{
    if (!buffer)
        return;
    if (ExtractTextPartFromStream(head.Stream(), boundary, buffer, limit, NULL, orHtml) == Base64 &&
        buffer->size() > 1)
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
    ScopedHandle<CHeapTraits<BYTE> > decoded(static_cast<BYTE*>(malloc(room)));
    if (!decoded.IsValid())
        return;
    DWORD written = static_cast<DWORD>(room);
    if (CryptStringToBinaryA(text, static_cast<DWORD>(textLength), CRYPT_STRING_BASE64, decoded.Get(), &written,
                             NULL, NULL) &&
        written <= room && static_cast<size_t>(written) < buffer->capacity()) {
        // The decoded bytes and their NUL fit in the room the text had, so nothing is
        // allocated here and nothing can throw.
        buffer->assign(decoded.Get(), decoded.Get() + written);
        buffer->push_back(0);
    }
}

bool Utf8ToUtf16(const char* text, std::wstring* out)
{
    if (!text || !out)
        return false;
    int count = MultiByteToWideChar(CP_UTF8, 0, text, -1, NULL, 0);
    if (count <= 0)
        return false;
    try {
        out->resize(static_cast<size_t>(count));
    } catch (const std::bad_alloc&) {
        return false;
    }
    MultiByteToWideChar(CP_UTF8, 0, text, -1, &(*out)[0], count);
    out->resize(static_cast<size_t>(count) - 1);   // without the terminator the call wrote
    return true;
}

// "【UNICODE表示はここまでです。長いメールのため、先頭の部分だけを表示しています】"
const wchar_t kPaneCutMarker[] =
    L"\r\n\r\n\x3010UNICODE\x8868\x793A\x306F\x3053\x3053\x307E\x3067\x3067\x3059\x3002\x9577\x3044"
    L"\x30E1\x30FC\x30EB\x306E\x305F\x3081\x3001\x5148\x982D\x306E\x90E8\x5206\x3060\x3051\x3092"
    L"\x8868\x793A\x3057\x3066\x3044\x307E\x3059\x3011\r\n";

namespace {

bool IsLineEnd(wchar_t c)
{
    return c == L'\r' || c == L'\n';
}

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == 0x3000;
}

// The length of the whole characters within the first length bytes of text (of size bytes),
// so that a cut never converts half a character.
size_t WholeCharacters(const char* text, size_t size, size_t length, UINT codePage)
{
    if (codePage == CP_UTF8) {
        for (int back = 0; back < 3 && length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80;
             ++back)
            --length;
        return length;
    }
    if (codePage != 936 && codePage != 949 && codePage != 950 && codePage != 54936)
        return length;   // a byte is a character
    // Double-byte characters lead with 0x81 to 0xFE; GB18030 also has four-byte ones, whose
    // second byte is a digit.
    size_t at = 0;
    while (at < length) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        size_t step = 1;
        if (c >= 0x81 && c <= 0xFE) {
            step = 2;
            if (codePage == 54936 && at + 1 < size && text[at + 1] >= '0' && text[at + 1] <= '9')
                step = 4;
        }
        if (at + step > length)
            break;
        at += step;
    }
    return at;
}

// The body's text: its bytes up to the NUL that ends it.
size_t TextLength(const MailBodyBuffer& body)
{
    const char* text = reinterpret_cast<const char*>(&body[0]);
    const void* nul = std::memchr(text, 0, body.size());
    return nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) : body.size();
}

}  // namespace

bool BodyReadsAsUtf8(const char* charset, const MailBodyBuffer& head, size_t limit)
{
    const int rule = Utf8FallbackOf(charset);
    if (rule == NoUtf8Fallback || head.empty())
        return false;
    const size_t length = TextLength(head);
    const bool prefix = length >= limit;
    size_t sequences = 0;
    if (!ScanUtf8(&head[0], length, prefix, &sequences) || sequences == 0)
        return false;
    if (rule != Utf8WhenUndecodable)
        return true;
    const UINT codePage = UsableCodePage(charset);
    const char* text = reinterpret_cast<const char*>(&head[0]);
    const size_t whole = prefix ? WholeCharacters(text, head.size(), length, codePage) : length;
    return codePage == 0 || whole > INT_MAX ||
           MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text, static_cast<int>(whole), NULL, 0) <= 0;
}

bool BodyToPaneText(const MailBodyBuffer& body, size_t maxUnits, size_t maxLineUnits, std::wstring* pane,
                    UINT codePage)
{
    if (!pane)
        return false;
    pane->clear();
    if (body.empty() || maxUnits == 0)
        return false;
    const char* text = reinterpret_cast<const char*>(&body[0]);
    size_t length = TextLength(body);
    if (length == 0)
        return false;

    // Every code unit comes from at most four bytes, so this prefix yields more than is
    // shown; the rest of a huge body is never converted.
    bool cut = false;
    if (maxUnits < INT_MAX / 4 && length > maxUnits * 4) {
        length = WholeCharacters(text, body.size(), maxUnits * 4, codePage);
        cut = true;
    }
    if (length > INT_MAX)
        return false;
    int units = MultiByteToWideChar(codePage, 0, text, static_cast<int>(length), NULL, 0);
    if (units <= 0)
        return false;
    // A break follows at least half a line's worth of units: room for all of them.
    const size_t markerUnits = std::wcslen(kPaneCutMarker);
    const size_t shownAtMost = static_cast<size_t>(units) < maxUnits ? static_cast<size_t>(units) : maxUnits;
    const size_t breaks = maxLineUnits >= 2 ? shownAtMost / (maxLineUnits / 2) + 1 : 0;
    std::wstring wide;
    try {
        wide.resize(static_cast<size_t>(units));
        pane->resize(shownAtMost + 2 * breaks + markerUnits);
    } catch (const std::bad_alloc&) {
        pane->clear();
        return false;
    }
    MultiByteToWideChar(codePage, 0, text, static_cast<int>(length), &wide[0], units);
    size_t shown = static_cast<size_t>(units);
    if (shown > maxUnits) {
        shown = maxUnits;
        // A character beyond the BMP stays whole.
        if (shown > 1 && IS_HIGH_SURROGATE(wide[shown - 1]))
            --shown;
        cut = true;
    }

    wchar_t* out = &(*pane)[0];
    size_t used = 0;
    size_t column = 0;
    size_t afterBlank = 0;   // where a break after the line's last blank would go; 0: none
    for (size_t i = 0; i < shown; ++i) {
        wchar_t c = wide[i];
        out[used++] = c;
        if (IsLineEnd(c)) {
            column = 0;
            afterBlank = 0;
            continue;
        }
        ++column;
        if (IsBlank(c))
            afterBlank = used;
        if (maxLineUnits < 2 || column < maxLineUnits || i + 1 >= shown || IsLineEnd(wide[i + 1]) ||
            IS_LOW_SURROGATE(wide[i + 1]))
            continue;
        // After the last blank when it lies in the line's last eighth; else right here.
        size_t at = used;
        if (afterBlank && used - afterBlank < maxLineUnits / 8)
            at = afterBlank;
        std::memmove(out + at + 2, out + at, (used - at) * sizeof(wchar_t));
        out[at] = L'\r';
        out[at + 1] = L'\n';
        used += 2;
        column = used - (at + 2);
        afterBlank = 0;
    }
    if (cut) {
        std::memcpy(out + used, kPaneCutMarker, markerUnits * sizeof(wchar_t));
        used += markerUnits;
    }
    pane->resize(used);
    return true;
}

namespace {

// The UTF-8 of length bytes of text in codePage, into out; false without text or memory.
bool ToUtf8(const char* text, size_t length, UINT codePage, std::string* out)
{
    if (length == 0 || length > INT_MAX)
        return false;
    int units = MultiByteToWideChar(codePage, 0, text, static_cast<int>(length), NULL, 0);
    if (units <= 0)
        return false;
    std::wstring wide;
    try {
        wide.resize(static_cast<size_t>(units));
        MultiByteToWideChar(codePage, 0, text, static_cast<int>(length), &wide[0], units);
        int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, NULL, 0, NULL, NULL);
        if (bytes <= 0)
            return false;
        out->resize(static_cast<size_t>(bytes));
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, &(*out)[0], bytes, NULL, NULL);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

}  // namespace

bool HtmlBodyToPaneText(const MailBodyBuffer& body, size_t maxBytes, size_t maxUnits, size_t maxLineUnits,
                        std::wstring* pane, UINT codePage)
{
    if (!pane)
        return false;
    pane->clear();
    if (body.empty() || maxUnits == 0)
        return false;
    const char* text = reinterpret_cast<const char*>(&body[0]);
    size_t length = TextLength(body);
    bool cut = false;
    if (length > maxBytes) {
        length = WholeCharacters(text, body.size(), maxBytes, codePage);
        cut = true;
    }
    // The converter reads UTF-8: a part in another charset goes through UTF-16 first.
    std::string utf8;
    if (codePage != CP_UTF8) {
        if (!ToUtf8(text, length, codePage, &utf8))
            return false;
        text = utf8.data();
        length = utf8.size();
    }
    const size_t markerUnits = std::wcslen(kPaneCutMarker);
    try {
        pane->resize(maxUnits + markerUnits);
    } catch (const std::bad_alloc&) {
        pane->clear();
        return false;
    }
    size_t written = 0;
    const int result = HtmlToPaneText(text, length, &(*pane)[0], maxUnits, maxLineUnits, &written);
    if (result != HtmlTextWhole && result != HtmlTextCut) {
        pane->clear();
        return false;
    }
    if (result == HtmlTextCut || cut) {
        std::memcpy(&(*pane)[written], kPaneCutMarker, markerUnits * sizeof(wchar_t));
        written += markerUnits;
    }
    pane->resize(written);
    return true;
}
