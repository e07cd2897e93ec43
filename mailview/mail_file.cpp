// The mail file read through the host.
#include "mailview/mail_file.h"

#include <wincrypt.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>

#include "base/host_api.h"
#include "base/scoped.h"
#include "mailview/mailtext/html/html_text.h"
#include "mailview/mailtext/mime/jis_text.h"

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

UINT HostReadingCodePage(const char* charset)
{
    if (CompareNameNoCase(charset, "iso-2022-jp") == 0)
        return kIso2022JpCodePage;
    if ((CompareNameNoCase(charset, "euc-jp") == 0 || CompareNameNoCase(charset, "x-euc-jp") == 0) &&
        IsValidCodePage(20932))
        return 20932;
    const UINT table = UsableCodePage(charset);
    return table ? table : 932;
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
    if (codePage != 932 && codePage != 936 && codePage != 949 && codePage != 950 && codePage != 20932 &&
        codePage != 54936)
        return length;   // a byte is a character
    // Double-byte characters lead with 0x81 to 0xFE; GB18030 also has four-byte ones, whose
    // second byte is a digit. Shift_JIS's half-width katakana are single bytes, and EUC-JP
    // has three-byte characters after 0x8F.
    size_t at = 0;
    while (at < length) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        size_t step = 1;
        if (codePage == 932) {
            step = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC) ? 2 : 1;
        } else if (codePage == 20932) {
            step = c == 0x8F ? 3 : (c == 0x8E || (c >= 0xA1 && c <= 0xFE)) ? 2 : 1;
        } else if (c >= 0x81 && c <= 0xFE) {
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
    if (codePage == kIso2022JpCodePage) {
        MailBodyBuffer shiftJis;
        try {
            std::string read;
            JisToShiftJis().Read(reinterpret_cast<const char*>(&body[0]), TextLength(body), true, &read);
            shiftJis.assign(read.begin(), read.end());
            shiftJis.push_back(0);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return BodyToPaneText(shiftJis, maxUnits, maxLineUnits, pane, 932);
    }
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

// The bytes of a piece that hold whole characters of codePage; the rest waits for the
// next piece.
size_t WholePiece(const char* text, size_t length, UINT codePage)
{
    if (length == 0)
        return 0;
    // Without the byte after the piece, its last character may be incomplete: leave it.
    return WholeCharacters(text, length, length - 1, codePage);
}

// What of a piece in UTF-7 converts now. A shift sequence ("+" and modified base64) that
// the piece leaves open converts up to its last whole group of eight characters (48 bits,
// three UTF-16 units, no bits over), one character at least kept: the rest waits, to go
// on as a shift sequence of its own ("+" and the rest, *reopen set), so that what waits
// stays within a group whatever the part holds. A '+' at the end waits for the next byte.
size_t WholeUtf7(const char* text, size_t length, bool* reopen)
{
    *reopen = false;
    size_t shift = length;   // the open sequence's '+'; length: none
    for (size_t at = 0; at < length; ++at) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        if (shift < length) {
            if (Base64Value(c) < 0)
                shift = length;
        } else if (c == '+') {
            if (at + 1 == length)
                return at;
            if (Base64Value(static_cast<unsigned char>(text[at + 1])) >= 0)
                shift = at;
            ++at;   // "+-" is a '+'; what follows a '+' opens the sequence
        }
    }
    if (shift == length)
        return length;
    const size_t groups = (length - shift - 2) / 8;
    *reopen = groups > 0;
    return groups ? shift + 1 + 8 * groups : shift;
}

// An HTML part as the pane's text, given in pieces of its decoded bytes: converted to UTF-8
// a piece at a time (a part in another charset through UTF-16), and the UTF-8 through the
// converter, which keeps its state between pieces. Memory stays that of a piece.
class HtmlPaneText {
public:
    HtmlPaneText(UINT codePage)
        : jis_(codePage == kIso2022JpCodePage), codePage_(jis_ ? 932 : codePage), cut_(false), high_(0) {}

    bool Begin(size_t maxUnits, size_t maxLineUnits, std::wstring* pane)
    {
        try {
            pane->resize(maxUnits + std::wcslen(kPaneCutMarker));
        } catch (const std::bad_alloc&) {
            pane->clear();
            return false;
        }
        return converter_.Begin(&(*pane)[0], maxUnits, maxLineUnits);
    }

    // false once nothing more can be shown, or without memory.
    bool Add(const char* bytes, size_t length, bool final)
    {
        try {
            if (codePage_ == CP_UTF8) {
                utf8_.append(bytes, length);
            } else {
                if (jis_)
                    jisReader_.Read(bytes, length, final, &raw_);
                else
                    raw_.append(bytes, length);
                bool reopen = false;
                const size_t whole = final                ? raw_.size()
                                     : codePage_ == 65000 ? WholeUtf7(raw_.data(), raw_.size(), &reopen)
                                                          : WholePiece(raw_.data(), raw_.size(), codePage_);
                if (!AppendUtf8(raw_.data(), whole, final))
                    return false;
                raw_.erase(0, whole);
                if (reopen)
                    raw_.insert(raw_.begin(), '+');
            }
        } catch (const std::bad_alloc&) {
            return false;
        }
        utf8_.erase(0, converter_.Feed(utf8_.data(), utf8_.size(), final));
        return !converter_.Full();
    }

    // The read stopped at a bound: what is held ends before its last, incomplete character.
    void Cut()
    {
        cut_ = true;
        if (!raw_.empty() || high_) {
            bool reopen = false;
            const size_t whole = codePage_ == 65000 ? WholeUtf7(raw_.data(), raw_.size(), &reopen)
                                                    : WholeCharacters(raw_.data(), raw_.size(), raw_.size(), codePage_);
            try {
                AppendUtf8(raw_.data(), whole, true);
            } catch (const std::bad_alloc&) {
            }
            raw_.clear();
        }
        size_t length = utf8_.size(), back = 0;
        while (back < 3 && back < length && (static_cast<unsigned char>(utf8_[length - 1 - back]) & 0xC0) == 0x80)
            ++back;
        if (back < length) {
            const unsigned char lead = static_cast<unsigned char>(utf8_[length - 1 - back]);
            const size_t needs = lead >= 0xF0 ? 3 : (lead >= 0xE0 ? 2 : (lead >= 0xC0 ? 1 : 0));
            if (needs > back)
                length -= back + 1;   // a sequence the bound cut
        }
        utf8_.resize(length);
        converter_.Feed(utf8_.data(), utf8_.size(), true);
    }

    // The text, and the marker line when it or the read was cut; false without text.
    bool End(std::wstring* pane)
    {
        size_t written = 0;
        const int result = converter_.Finish(&written);
        const bool cut = result == HtmlTextCut || cut_;
        if (result < 0 || (result == HtmlTextNone && !cut)) {
            pane->clear();
            return false;
        }
        if (cut) {
            // With no text before it the marker's own empty lines are left out.
            const wchar_t* marker = kPaneCutMarker;
            while (written == 0 && (*marker == L'\r' || *marker == L'\n'))
                ++marker;
            const size_t units = std::wcslen(marker);
            std::memcpy(&(*pane)[written], marker, units * sizeof(wchar_t));
            written += units;
        }
        pane->resize(written);
        return true;
    }

private:
    // A high surrogate that ends a piece's UTF-16 waits for its pair (a UTF-7 sequence goes
    // on in the next piece), unless last.
    bool AppendUtf8(const char* text, size_t length, bool last)
    {
        if (length > INT_MAX)
            return false;
        int units = length ? MultiByteToWideChar(codePage_, 0, text, static_cast<int>(length), NULL, 0) : 0;
        if (units == 0 && !high_)
            return length == 0;
        const size_t waiting = high_ ? 1 : 0;
        wide_.resize(waiting + static_cast<size_t>(units));
        if (high_)
            wide_[0] = high_;
        if (units)
            MultiByteToWideChar(codePage_, 0, text, static_cast<int>(length), &wide_[waiting], units);
        units += static_cast<int>(waiting);
        high_ = 0;
        if (!last && IS_HIGH_SURROGATE(wide_[units - 1]))
            high_ = wide_[--units];
        if (units == 0)
            return true;
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide_.data(), units, NULL, 0, NULL, NULL);
        if (bytes <= 0)
            return false;
        const size_t held = utf8_.size();
        utf8_.resize(held + static_cast<size_t>(bytes));
        WideCharToMultiByte(CP_UTF8, 0, wide_.data(), units, &utf8_[held], bytes, NULL, NULL);
        return true;
    }

    bool jis_;   // ISO-2022-JP, read as Shift_JIS
    JisToShiftJis jisReader_;
    UINT codePage_;
    bool cut_;
    wchar_t high_;        // a high surrogate that waits for its pair; 0: none
    HtmlTextConverter converter_;
    std::string raw_;     // bytes in the part's charset not yet converted
    std::wstring wide_;
    std::string utf8_;    // UTF-8 the converter has not taken yet
};

// The bytes of a part read at a time.
const size_t kHtmlPieceBytes = 64 * 1024;

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
    const size_t length = TextLength(body);
    HtmlPaneText html(codePage);
    if (!html.Begin(maxUnits, maxLineUnits, pane))
        return false;
    const size_t shown = length < maxBytes ? length : maxBytes;
    size_t at = 0;
    bool more = true;
    while (more && at < shown) {
        const size_t piece = shown - at < kHtmlPieceBytes ? shown - at : kHtmlPieceBytes;
        more = html.Add(text + at, piece, at + piece == length);
        at += piece;
    }
    if (more && length > maxBytes)
        html.Cut();
    return html.End(pane);
}

bool HtmlPartToPaneText(HWND view, const char* boundary, int nested, size_t maxBytes, size_t maxUnits,
                        size_t maxLineUnits, std::wstring* pane, UINT codePage)
{
    if (!pane)
        return false;
    pane->clear();
    std::unique_ptr<BodyReader> reader(new (std::nothrow) BodyReader);
    std::unique_ptr<char[]> piece(new (std::nothrow) char[kHtmlPieceBytes]);
    if (!reader || !piece || maxUnits == 0 ||
        !OpenBodyReader(reader.get(), HostViewGetPath(view), boundary, nested, nested))
        return false;
    HtmlPaneText html(codePage);
    bool read = html.Begin(maxUnits, maxLineUnits, pane);
    size_t total = 0;
    bool more = read;
    while (more) {
        // One byte more than the bound tells whether the part goes on.
        const size_t wanted = maxBytes - total < kHtmlPieceBytes ? maxBytes - total + 1 : kHtmlPieceBytes;
        size_t length = ReadBodyBytes(reader.get(), reinterpret_cast<unsigned char*>(piece.get()), wanted);
        const void* nul = std::memchr(piece.get(), 0, length);
        const bool atEnd = length < wanted || nul != NULL;   // the text ends at its first NUL
        if (nul)
            length = static_cast<size_t>(static_cast<const char*>(nul) - piece.get());
        if (total + length > maxBytes) {
            more = html.Add(piece.get(), maxBytes - total, false);
            if (more)
                html.Cut();
            break;
        }
        total += length;
        more = html.Add(piece.get(), length, atEnd) && !atEnd;
    }
    CloseBodyReader(reader.get());
    if (read)
        html.End(pane);
    return read;
}
