// The mail file of a view, read through the host's path: the Win32 side of the
// mail-text code (base64 through crypt32, UTF-8 to UTF-16 through the kernel).
#pragma once
#include <windows.h>

#include <string>

#include "mailview/mailtext/mime/mail_text.h"

// True when the view's mail file has a part that declares UTF-8 after the first delimiter
// line of the boundary; false without a path or a boundary.
bool MultipartHasUtf8Part(HWND view, const char* boundary);
// Fills the buffer with the body of the view's mail file (the first part when a boundary
// is given), decoded, and one NUL; empty when the file can't be read. With a limit, only
// the body's first limit bytes (decoded) are read: see ExtractMailBodyFromFile.
void ExtractMailBody(HWND view, const char* boundary, MailBodyBuffer* buffer, size_t limit = kWholeBody);
// The opt-in readings of a load look at the head of the mail file only: the host is asked
// for its path once, on first need, and at most kLoadHeadBytes of it are read once. That
// holds the walk's bound, and past it the first bytes of a part's body that begins there.
const size_t kLoadHeadBytes = static_cast<size_t>(kPartSearchBytes) + 65536;
class MailFileHead {
public:
    explicit MailFileHead(HWND view);
    MailFileHead(const MailFileHead&) = delete;
    MailFileHead& operator=(const MailFileHead&) = delete;
    // A stream over the head; null when the file can't be read.
    MailStream* Stream();
    // True when the file goes on past the head.
    bool Cut() const { return cut_; }

private:
    HWND view_;
    int state_;   // 0: not read yet, 1: read, -1: unreadable
    bool cut_;
    MailBodyBuffer bytes_;
    MailStream stream_;
};
bool MultipartHasUtf8Part(MailFileHead& head, const char* boundary);
bool FirstPartType(MailFileHead& head, const char* boundary, ContentType* type);
bool FindNestedTextPart(MailFileHead& head, const char* boundary, TextPart* part, int orHtml = 0);
// The body of the part a load found (nested, or the mail's first), decoded, as far as the head holds it.
void ExtractMailBody(MailFileHead& head, const char* boundary, MailBodyBuffer* buffer, size_t limit);
void ExtractNestedTextPart(MailFileHead& head, const char* boundary, MailBodyBuffer* buffer, size_t limit,
                           int orHtml);

// The opt-in readings. The code page of a charset of the table when this system has it, 0
// otherwise: a charset that can't be converted is left to the host, never shown wrong.
UINT UsableCodePage(const char* charset);
// Stands for ISO-2022-JP, which a press reads itself through code page 932.
const UINT kIso2022JpCodePage = 50220;
// The code page of a body as the host shows it: ISO-2022-JP (kIso2022JpCodePage), EUC-JP
// (20932), a charset of the table that this system has, else 932 (Shift_JIS, US-ASCII,
// none, any other name).
UINT HostReadingCodePage(const char* charset);
// The Content-Type of a multipart mail's first part (its header's fields may fold with a
// space); false when it has none.
bool FirstPartType(HWND view, const char* boundary, ContentType* type);
// The first text/plain part of the view's multipart mail file, nested multiparts included
// (see FindFirstTextPart; with orHtml, the first text/html part when there is none); false
// when there is none within the walk's bounds.
bool FindNestedTextPart(HWND view, const char* boundary, TextPart* part, int orHtml = 0);
// Fills the buffer with that part's body, decoded, and one NUL; empty when the file can't
// be read or the part is not found.
void ExtractNestedTextPart(HWND view, const char* boundary, MailBodyBuffer* buffer, size_t limit = kWholeBody,
                           int orHtml = 0);
// The opt-in UTF-8 reading reads this much of a body, the walk's own bound: the load
// stays a bounded read.
const size_t kUtf8ScanBytes = static_cast<size_t>(kPartSearchBytes);
// True when a body declared in charset is to be read as UTF-8 instead (Utf8FallbackOf's
// rule): head holds its first bytes and a NUL, read with the limit given (a head that
// reaches it may end inside a character). A double-byte code page that this system lacks
// can't decode it.
bool BodyReadsAsUtf8(const char* charset, const MailBodyBuffer& head, size_t limit);
// Replaces the buffer's base64 text (and its NUL) by the decoded bytes and a NUL. A body
// the decoder rejects keeps its text.
void DecodeBase64Body(MailBodyBuffer* buffer);
// The UTF-16 text of NUL-terminated UTF-8 text, into out; false without text or memory.
bool Utf8ToUtf16(const char* text, std::wstring* out);

// Rich edit takes a long text slowly and a long line far more slowly (Wine's wraps a line
// in time that grows with the square of its length), so a huge or hostile body would hold
// the host's thread for minutes. The pane is given at most this much of a body, far more
// than any mail a person writes, and only lines longer than any real line (URLs included)
// are broken.
const size_t kPaneTextUnits = 262144;   // UTF-16 code units
const size_t kPaneLineUnits = 4096;
// The bytes of a body that give the pane all it shows: a code unit comes from at most four
// bytes of UTF-8, and one more byte tells that the text goes on.
const size_t kPaneBodyBytes = kPaneTextUnits * 4 + 4;
// The text of a body for the pane: its text in codePage (UTF-8 unless said) up to its first
// NUL, in UTF-16, at most
// maxUnits code units of it, a line break after every maxLineUnits code units of a line
// (after a blank near the end when there is one; below 2: none), and, when text was left out, a
// marker line saying so. Only a bounded prefix of a huge body is converted. Into pane;
// false, with pane empty, when the body holds no text or memory runs out.
bool BodyToPaneText(const MailBodyBuffer& body, size_t maxUnits, size_t maxLineUnits, std::wstring* pane,
                    UINT codePage = CP_UTF8);
// HTML holds far less text than bytes (markup, style sheets, the data of inline images and
// fonts), and its text may begin megabytes in: a press reads an HTML part a piece at a time,
// in memory of a piece whatever its length, until the pane is full or this many decoded
// bytes are read, which bounds the time a press takes.
const size_t kPaneHtmlBytes = 64u << 20;
// The text of an HTML body for the pane: at most maxBytes of it (up to its first NUL), in
// codePage, converted as HtmlToPaneText does into at most maxUnits code units, lines broken
// after maxLineUnits, and the marker line when the body or the text was cut (alone when
// the cut came before any text). Into pane; false, with pane empty, when the body holds no
// text and was not cut, or memory runs out.
bool HtmlBodyToPaneText(const MailBodyBuffer& body, size_t maxBytes, size_t maxUnits, size_t maxLineUnits,
                        std::wstring* pane, UINT codePage = CP_UTF8);
// The same for the HTML part of the view's mail file (nested: the part the walk finds),
// read from the file a piece at a time. True when the part was read, its text (perhaps
// none) in pane; false when the file or the part can't be read or memory runs out.
bool HtmlPartToPaneText(HWND view, const char* boundary, int nested, size_t maxBytes, size_t maxUnits,
                        size_t maxLineUnits, std::wstring* pane, UINT codePage = CP_UTF8);
// The line that ends a text that was cut.
extern const wchar_t kPaneCutMarker[];
