// The portable mail-text code: recognising UTF-8 mails from their header text and their
// file, and taking the first body out of a mail file. Standard C++ over C stdio only, so
// that it builds natively (under the sanitizers) as well as for Windows.
//
// Mail files are bytes. ASCII letters compare without regard to case (only a to z fold);
// nothing is ever decoded from a charset here.
#pragma once
#include <cstddef>
#include <cstdio>
#include <vector>

#include "mailview/mailtext/common/ascii.h"

// ---- The mail file reader ---------------------------------------------------------------

// A mail file read one character at a time with look-ahead through tell and seek. The
// file is opened in binary mode, because the Windows runtime's ftell is wrong in text
// mode for bare-LF files; ReadMailChar applies the text-mode rules itself, so positions
// are exact byte offsets and a CR LF file reads like its bare-LF twin on every platform.
enum { kMailStreamWindow = 16384 };
struct MailStream {
    FILE* file;   // null for a stream over bytes in memory
    const unsigned char* bytes;   // without a file: the data, byteCount long
    long byteCount;
    int ended;  // 1 after a byte 0x1A (or a failed seek) ended the data; a seek clears it
    // The bytes last read from the file, so that a look-ahead and its seek back cost no
    // read: the C runtime of Windows drops its buffer at every fseek.
    long windowStart;   // file offset of window[0]
    int windowLength;   // bytes held
    int windowPos;      // the next byte to hand out
    unsigned char window[kMailStreamWindow];
};

// 1 when the file could be opened and read; 0 otherwise (the stream is then closed).
int OpenMailStream(MailStream* stream, const char* path);
// Over count bytes in memory, read as a file of those bytes would be; 1 unless bytes is null.
int OpenMailStreamOnBytes(MailStream* stream, const unsigned char* bytes, size_t count);
void CloseMailStream(MailStream* stream);
// The next character, 0 to 255, or EOF at the end of the data or on a read error.
// CR LF reads as LF, a lone CR as CR, and a byte 0x1A as the end of the data.
int ReadMailChar(MailStream* stream);
// The position for SeekMailStream; -1 when it can't be had.
long TellMailStream(MailStream* stream);
// 1 on success. A failed seek ends the data, so that no scan goes on from a wrong place.
int SeekMailStream(MailStream* stream, long position);
// True at the end of the data or after a read error.
bool MailStreamAtEnd(MailStream* stream);
// True after a read error of its file.
bool MailStreamFailed(MailStream* stream);
// Bytes from the position to the end of the file, or -1.
long MailStreamRemaining(MailStream* stream);

// ---- String helpers (NUL-terminated byte strings, nothing allocated) --------------------

// 0 when the text begins with the prefix, 1 otherwise.
int ComparePrefixNoCase(const char* text, const char* prefix);
// Just past the first occurrence of the needle, or the text's terminator.
const char* FindNoCaseOrEnd(const char* text, const char* needle);
// 0 when the text is the name, ASCII letters of either case alike; 1 otherwise.
int CompareNameNoCase(const char* text, const char* name);
// Just past the first occurrence of the needle, or null.
const char* FindNoCase(const char* text, const char* needle);
// The first occurrence of the character, or the text's terminator.
const char* FindCharOrEnd(const char* text, char character);

// A malloc'ed, NUL-terminated copy of `length` bytes; null when length is 0 or memory runs out.
char* CopyOfBytes(const char* begin, size_t length);

// A malloc'ed copy of a field value from `text` up to and including the first line feed
// that no tab (with spaceFolds, no tab or space) follows; null when empty or out of
// memory. The caller frees it.
char* CopyFieldValue(const char* text, int spaceFolds = 0);

// ---- Header fields and delimiter lines --------------------------------------------------

enum { kFieldBufferSize = 300, kFieldCount = kFieldBufferSize - 1 };

// Reads one header field into `buffer` (room for count + 1 bytes): a line feed followed
// by a tab continues it, the tab stored as a space (with spaceFolds, a line feed followed
// by a space too). The field's final line feed becomes the terminator. When `count`
// characters are stored the read stops without a terminator and the caller terminates at
// index count. Null when nothing was read.
char* ReadUnfoldedField(char* buffer, int count, MailStream* stream, int spaceFolds = 0);
// After a read that filled its count: true when the field goes on (a line feed ends it
// unless a tab, with spaceFolds a tab or a space, follows). The stream stays where it is.
bool FieldGoesOn(MailStream* stream, int spaceFolds);
// After a line-start 'C' or 'c': true, stream after the field, when the field is a
// Content-Type naming "utf-8" within its first 299 characters; else the stream goes back.
bool IsUtf8ContentTypeField(MailStream* stream);
// After a line-start '-': true when a '-' and the boundary follow (the line is then
// consumed up to boundary length + 98 characters), and at the end of the data. False
// leaves the stream right after the first '-'. A null boundary counts as empty.
bool IsDelimiterLine(MailStream* stream, const char* boundary);
// Reads up to and including the first delimiter line, or to the end.
void SkipToFirstDelimiter(MailStream* stream, const char* boundary);

// ---- Header charset detection -----------------------------------------------------------

enum HeaderCharsetClass { NotUtf8 = 0, Utf8 = 1, MultipartAlternative = 2 };

// The header text's first line that begins with "Content-Type:", or null.
const char* FindContentTypeLine(const char* headerText);
// Classifies the header text by its first Content-Type line. The boundary slot holds a
// malloc'ed boundary text or null: it is freed on every call, and a multipart/alternative
// field with a boundary parameter stores a new one. A null header counts as empty.
int ClassifyMailHeader(const char* headerText, char** boundarySlot);
// True when, after the first delimiter line, a line begins with a Content-Type field that
// names "utf-8". False for a null path or boundary, or a file that can't be read.
bool MultipartFileHasUtf8Part(const char* path, const char* boundary);
// The same on an open stream, from the start of its data.
bool MultipartStreamHasUtf8Part(MailStream* stream, const char* boundary);

// ---- Body extraction --------------------------------------------------------------------

typedef std::vector<unsigned char> MailBodyBuffer;
enum TransferEncoding { Identity = 0, Base64 = 1, QuotedPrintable = 2 };

// Reads one header block, up to and including its empty line, and sets the encoding from
// its Content-Transfer-Encoding fields (never resets it).
void ScanHeaderForEncoding(MailStream* stream, int* encoding);
// After a line-start 'C' or 'c': sets the encoding when the field is a
// Content-Transfer-Encoding naming base64 or quoted-printable. The stream goes back.
void ReadTransferEncodingField(MailStream* stream, int* encoding);
// The same test on a field read already, its first character left out.
void NoteTransferEncoding(const char* fieldAfterC, int* encoding);
// After an '=' of a quoted-printable body: the byte that stands for the escape (soft line
// breaks joined), or -1 at the end of the data.
int DecodeQpEscape(MailStream* stream);

// Fills the buffer with the body (the first part's, when a boundary is given), quoted-
// printable undone, followed by one NUL; and returns the transfer encoding. The buffer is
// left empty when the file can't be read, and also when memory runs out on the way.
// Base64 text is left as it stands for the caller to decode.
// With a limit, only the body's first limit bytes are read (quoted-printable: decoded
// bytes; base64: as much text as decodes to limit bytes, counting the alphabet's
// characters and '=' only), and room is taken for at most that much, never for the rest
// of the file. The buffer then holds a prefix of what the whole body would give.
const size_t kWholeBody = static_cast<size_t>(-1);
int ExtractMailBodyFromFile(const char* path, const char* boundary, MailBodyBuffer* buffer,
                            size_t limit = kWholeBody);
// The same on an open stream, from the start of its data.
int ExtractMailBodyFromStream(MailStream* stream, const char* boundary, MailBodyBuffer* buffer,
                              size_t limit = kWholeBody);

// ---- Content-Type parameters and nested multiparts (opt-in readings) -------------------
// Unlike the readers above, these read a Content-Type field as MIME does: the media type
// and its parameters one by one, a parameter's value quoted or a token, compared whole.

enum { kMediaTypeSize = 64, kCharsetNameSize = 40, kPartBoundarySize = kFieldBufferSize };

struct ContentType {
    char mediaType[kMediaTypeSize];     // "type/subtype" in lower case; "" when absent
    char charset[kCharsetNameSize];     // the charset parameter, quotes removed; "" when absent
    char boundary[kPartBoundarySize];   // the boundary parameter, quotes removed; "" when absent
};
// A value too long for its field, or a quoted value without its closing quote, is left out
// ("") rather than cut: a cut name could name something else.

// Reads a Content-Type field's value: what follows the colon, continuation lines included.
// cut: the field was cut to its buffer, so its last parameter is left out.
void ParseContentType(const char* value, ContentType* type, int cut = 0);
// The header text's first Content-Type line (the one ClassifyMailHeader looks at), parsed,
// continuation lines that begin with a space or a tab included; 0 when the header has none
// or no copy of it can be made.
int ReadHeaderContentType(const char* headerText, ContentType* type);
// 1 for a multipart media type.
int IsMultipartType(const ContentType& type);
// The Windows code page of a charset name of the table, the name compared whole with ASCII
// letters folded; 0 for any other name. Japanese charsets and US-ASCII are not in it.
unsigned CharsetCodePage(const char* name);

// The opt-in reading of a body as UTF-8 where its label can't decode it. NoUtf8Fallback:
// never (UTF-8 itself, a charset left to the host); Utf8WhenValid: when the body is valid
// UTF-8 with a sequence of two bytes or more (no charset, us-ascii, a single-byte charset of
// the table, utf-7); Utf8WhenUndecodable: that, and the declared double-byte code page
// rejects the bytes (the caller's test).
enum Utf8Fallback { NoUtf8Fallback = 0, Utf8WhenValid = 1, Utf8WhenUndecodable = 2 };
int Utf8FallbackOf(const char* charset);
// 1 when the bytes are valid UTF-8 (no overlong form, surrogate, or code point beyond
// U+10FFFF); with prefix, bytes cut inside a sequence that is right so far count too.
// *multiByte, when given, gets the number of sequences of two bytes or more.
int ScanUtf8(const unsigned char* bytes, size_t length, int prefix, size_t* multiByte);
// The value of a base64 digit, -1 for any other character.
int Base64Value(int c);

// Limits of the walk through nested multiparts: a hostile mail can nest without end and
// hold any number of parts, and a load must not read a large file through.
enum { kMaxPartDepth = 8, kMaxParts = 100 };
const long kPartSearchBytes = 1L << 20;

struct TextPart {
    long bodyOffset;                    // where the part's body begins in the file
    int encoding;                       // TransferEncoding from the part's own header
    char charset[kCharsetNameSize];     // the part's charset parameter; "" when none
    // The boundaries of the multiparts around it, the outermost first: a delimiter of any
    // of them ends its body.
    char boundaries[kMaxPartDepth][kPartBoundarySize];
    int depth;
    int html;   // 1: a text/html part, taken because the walk found no text/plain part
};

// Walks a multipart mail file whose message header gives the boundary, part by part and
// into nested multiparts, to its first text/plain part (a part without Content-Type counts
// as one) that is not marked Content-Disposition: attachment. Part headers may fold with a
// space. 1 with the part; 0 when the file can't be read or no such part begins within
// kMaxPartDepth levels, kMaxParts parts and the first kPartSearchBytes bytes. With orHtml,
// a walk that finds no such part within those bounds gives the first text/html part it met
// (no attachment either), its html set.
int FindFirstTextPart(const char* path, const char* boundary, TextPart* part, int orHtml = 0);
// The walk on an open stream, from the start of the file; on 1 the stream stands at the
// part's body.
int WalkToFirstTextPart(MailStream* stream, const char* boundary, TextPart* part, int orHtml = 0);
// The Content-Type of a multipart mail file's first part; 0 when there is none.
int ReadFirstPartContentType(const char* path, const char* boundary, ContentType* type);
int ReadFirstPartContentTypeInStream(MailStream* stream, const char* boundary, ContentType* type);
// Finds the part as FindFirstTextPart does and fills the buffer with its body as
// ExtractMailBodyFromFile does (quoted-printable undone, base64 left for the caller, one
// NUL, the limit as there); returns the part's transfer encoding. The buffer is left empty
// when no part is found. part may be null.
int ExtractTextPartFromFile(const char* path, const char* boundary, MailBodyBuffer* buffer,
                            size_t limit = kWholeBody, TextPart* part = NULL, int orHtml = 0);
// The same on an open stream, from the start of its data.
int ExtractTextPartFromStream(MailStream* stream, const char* boundary, MailBodyBuffer* buffer,
                              size_t limit = kWholeBody, TextPart* part = NULL, int orHtml = 0);

// A part's body read a piece at a time, transfer encoding undone (base64 too: what is not
// of its alphabet is passed over), so that a body of any length is read in bounded memory.
struct BodyReader {
    MailStream stream;
    int open;
    int encoding;
    int lineStart;
    int ended;
    TextPart part;   // the nested part, and the boundaries that end its body
    const char* list[kMaxPartDepth];
    int count;
    unsigned long bits;   // base64: bits not yet given out, and their count
    int bitCount;
};
// Opens the body that ExtractMailBodyFromFile reads (nested 0) or ExtractTextPartFromFile
// finds (nested 1, with orHtml); the boundary must outlive the reader. 0 when the file
// can't be read or no part is found (the reader is then closed).
int OpenBodyReader(BodyReader* reader, const char* path, const char* boundary, int nested = 0, int orHtml = 0);
// Up to size decoded bytes of the body into out; 0 at its end.
size_t ReadBodyBytes(BodyReader* reader, unsigned char* out, size_t size);
void CloseBodyReader(BodyReader* reader);
