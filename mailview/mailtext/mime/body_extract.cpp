// Body extraction: the transfer encoding from the headers, the first part's body, and
// quoted-printable undone on the way.
#include <cstdlib>

#include "mailview/mailtext/common/ascii.h"
#include "mailview/mailtext/mime/mail_text.h"

namespace {

// The bytes of the file a body of at most limit bytes can take: base64 text is longer
// than what it decodes to, by a third and its line breaks; it is counted as it goes.
size_t RoomForLimit(size_t limit, int encoding)
{
    if (limit == kWholeBody || encoding != Base64)
        return limit;
    return limit / 3 * 4 + 4;
}

bool IsBase64Blank(int c)
{
    return c == '\n' || c == '\r' || c == ' ' || c == '\t';
}

bool IsBase64Character(int c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/' || c == '=';
}

// Room up front for what the body can hold: the rest of the file, or less when the body is
// limited. It grows a byte at a time, and doubling would hold up to twice the body while
// it copies.
void ReserveForBody(MailStream* stream, size_t room, MailBodyBuffer* buffer)
{
    long rest = MailStreamRemaining(stream);
    if (rest <= 0 || static_cast<unsigned long>(rest) >= buffer->max_size())
        return;
    size_t wanted = static_cast<size_t>(rest) < room ? static_cast<size_t>(rest) : room;
    try {
        buffer->reserve(wanted + 1);
    } catch (...) {
        // Growing as it goes may still fit.
    }
}

// The boundaries whose delimiter lines end a body.
struct Boundaries {
    const char* const* list;
    int count;
};

// After a line-start '-': true, the line consumed, when it is a delimiter line of one of them.
bool EndsBody(MailStream* stream, const Boundaries& boundaries)
{
    for (int i = 0; i < boundaries.count; ++i)
        if (IsDelimiterLine(stream, boundaries.list[i]))
            return true;
    return false;
}

// Copies the body (up to the limit) and its final NUL; 0 when memory ran out (no
// exception leaves).
int CopyBody(MailStream* stream, const Boundaries& boundaries, int encoding, size_t limit, MailBodyBuffer* buffer)
{
    // Base64 counts the characters that decode: four of them give three bytes.
    const size_t quads = limit == kWholeBody ? 0 : limit / 3 + 1;
    size_t counted = 0;
    try {
        bool lineStart = true;
        for (int c = ReadMailChar(stream); c != EOF; c = ReadMailChar(stream)) {
            if (lineStart && c == '-' && EndsBody(stream, boundaries))
                break;
            lineStart = false;
            if (c == '\n') {
                lineStart = true;
            } else if (c == '=' && encoding == QuotedPrintable) {
                // A decoded line feed is no line start: it was not a line end in the file.
                c = DecodeQpEscape(stream);
                if (c < 0)
                    break;
            }
            if (limit == kWholeBody) {
                buffer->push_back(static_cast<unsigned char>(c));
                continue;
            }
            if (encoding != Base64) {
                buffer->push_back(static_cast<unsigned char>(c));
                if (buffer->size() >= limit)
                    break;
                continue;
            }
            // Base64 with a limit. Shown raw (when the decoder rejects it), the text needs
            // its first limit bytes; decoded, the characters that decode to limit bytes.
            // Past the first limit bytes, blanks (the decoder skips them) are not kept, and
            // a character the decoder rejects ends the body.
            bool decodes = IsBase64Character(c);
            if (buffer->size() >= limit && !decodes && IsBase64Blank(c))
                continue;
            buffer->push_back(static_cast<unsigned char>(c));
            if (decodes ? ++counted >= quads * 4 : buffer->size() > limit)
                break;
        }
        buffer->push_back(0);
        return 1;
    } catch (...) {
        return 0;
    }
}

}  // namespace

void ScanHeaderForEncoding(MailStream* stream, int* encoding)
{
    if (MailStreamAtEnd(stream))
        return;
    bool lineStart = true;
    for (;;) {
        int c = ReadMailChar(stream);
        if (c == EOF)
            return;
        if (lineStart) {
            if (c == '\n')
                return;  // the empty line that ends the header
            if (ToUpperAscii(c) == 'C')
                ReadTransferEncodingField(stream, encoding);
        }
        lineStart = c == '\n';
    }
}

void ReadTransferEncodingField(MailStream* stream, int* encoding)
{
    long start = TellMailStream(stream);
    char field[kFieldBufferSize];
    if (encoding && ReadUnfoldedField(field, kFieldCount, stream)) {
        field[kFieldCount] = '\0';
        NoteTransferEncoding(field, encoding);
    }
    // The header scan reads the field once more.
    SeekMailStream(stream, start);
}

void NoteTransferEncoding(const char* fieldAfterC, int* encoding)
{
    if (ComparePrefixNoCase(fieldAfterC, "ontent-Transfer-Encoding:") != 0)
        return;
    if (FindNoCase(fieldAfterC, "base64"))
        *encoding = Base64;
    else if (FindNoCase(fieldAfterC, "quoted-printable"))
        *encoding = QuotedPrintable;
}

int DecodeQpEscape(MailStream* stream)
{
    int first = ReadMailChar(stream);
    if (first == EOF)
        return -1;
    int next = ReadMailChar(stream);
    while (first == '\n') {
        // A soft line break: the next line goes on, perhaps with another escape.
        if (next != '=')
            return next == EOF ? -1 : next;
        first = ReadMailChar(stream);
        if (first == EOF)
            return -1;
        next = ReadMailChar(stream);
    }
    if (next == EOF)
        return -1;
    int high = HexDigitValue(first);
    int low = HexDigitValue(next);
    if (high >= 0 && low >= 0)
        return high * 16 + low;
    // Not an escape: the '=' stays, and the two characters after it go.
    return '=';
}

namespace {

// Copies the body from where the stream stands.
void CopyBodyFrom(MailStream* stream, const Boundaries& boundaries, int encoding, size_t limit,
                  MailBodyBuffer* buffer)
{
    ReserveForBody(stream, RoomForLimit(limit, encoding), buffer);
    int copied = CopyBody(stream, boundaries, encoding, limit, buffer);
    if (!copied) {
        // Out of memory: nothing half-copied is shown, and the storage goes back at once.
        MailBodyBuffer().swap(*buffer);
        return;
    }
    // Keep a short first part of a large file from holding the whole file's room.
    if (buffer->capacity() / 2 > buffer->size()) {
        try {
            buffer->shrink_to_fit();
        } catch (...) {
        }
    }
}

}  // namespace

int ExtractMailBodyFromFile(const char* path, const char* boundary, MailBodyBuffer* buffer, size_t limit)
{
    if (!buffer)
        return Identity;
    buffer->clear();
    MailStream stream;
    if (!OpenMailStream(&stream, path))
        return Identity;
    int encoding = ExtractMailBodyFromStream(&stream, boundary, buffer, limit);
    CloseMailStream(&stream);
    return encoding;
}

int ExtractMailBodyFromStream(MailStream* stream, const char* boundary, MailBodyBuffer* buffer, size_t limit)
{
    int encoding = Identity;
    if (!buffer)
        return encoding;
    buffer->clear();
    if (!stream || !SeekMailStream(stream, 0))
        return encoding;
    ScanHeaderForEncoding(stream, &encoding);
    if (boundary) {
        SkipToFirstDelimiter(stream, boundary);
        ScanHeaderForEncoding(stream, &encoding);
    }
    const Boundaries boundaries = {&boundary, boundary ? 1 : 0};
    CopyBodyFrom(stream, boundaries, encoding, limit, buffer);
    return encoding;
}

int ExtractTextPartFromFile(const char* path, const char* boundary, MailBodyBuffer* buffer, size_t limit,
                            TextPart* part, int orHtml)
{
    if (!buffer)
        return Identity;
    buffer->clear();
    MailStream stream;
    if (!OpenMailStream(&stream, path))
        return Identity;
    int encoding = ExtractTextPartFromStream(&stream, boundary, buffer, limit, part, orHtml);
    CloseMailStream(&stream);
    return encoding;
}

int ExtractTextPartFromStream(MailStream* stream, const char* boundary, MailBodyBuffer* buffer, size_t limit,
                              TextPart* part, int orHtml)
{
    if (!buffer)
        return Identity;
    buffer->clear();
    if (!stream || !SeekMailStream(stream, 0))
        return Identity;
    TextPart found;
    if (!part)
        part = &found;
    if (!WalkToFirstTextPart(stream, boundary, part, orHtml))
        return Identity;
    // An outer delimiter ends the body too, when an inner multipart was left open.
    const char* list[kMaxPartDepth];
    for (int i = 0; i < part->depth; ++i)
        list[i] = part->boundaries[i];
    const Boundaries boundaries = {list, part->depth};
    CopyBodyFrom(stream, boundaries, part->encoding, limit, buffer);
    return part->encoding;
}

int Base64Value(int c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    return c == '+' ? 62 : (c == '/' ? 63 : -1);
}

int OpenBodyReader(BodyReader* reader, const char* path, const char* boundary, int nested, int orHtml)
{
    if (!reader)
        return 0;
    reader->open = 0;
    reader->encoding = Identity;
    reader->lineStart = 1;
    reader->ended = 0;
    reader->bits = 0;
    reader->bitCount = 0;
    reader->count = 0;
    if (!OpenMailStream(&reader->stream, path))
        return 0;
    if (nested) {
        if (!WalkToFirstTextPart(&reader->stream, boundary, &reader->part, orHtml)) {
            CloseMailStream(&reader->stream);
            return 0;
        }
        reader->encoding = reader->part.encoding;
        for (int i = 0; i < reader->part.depth; ++i)
            reader->list[reader->count++] = reader->part.boundaries[i];
    } else {
        ScanHeaderForEncoding(&reader->stream, &reader->encoding);
        if (boundary) {
            SkipToFirstDelimiter(&reader->stream, boundary);
            ScanHeaderForEncoding(&reader->stream, &reader->encoding);
            reader->list[reader->count++] = boundary;
        }
    }
    reader->open = 1;
    return 1;
}

size_t ReadBodyBytes(BodyReader* reader, unsigned char* out, size_t size)
{
    if (!reader || !reader->open || !out)
        return 0;
    const Boundaries boundaries = {reader->list, reader->count};
    size_t n = 0;
    while (n < size) {
        if (reader->bitCount >= 8) {   // a decoded byte waits
            reader->bitCount -= 8;
            out[n++] = static_cast<unsigned char>(reader->bits >> reader->bitCount);
            reader->bits &= (1UL << reader->bitCount) - 1;
            continue;
        }
        if (reader->ended)
            break;
        int c = ReadMailChar(&reader->stream);
        if (c == EOF || (reader->lineStart && c == '-' && EndsBody(&reader->stream, boundaries))) {
            reader->ended = 1;
            break;
        }
        reader->lineStart = c == '\n';
        if (c == '=' && reader->encoding == QuotedPrintable) {
            c = DecodeQpEscape(&reader->stream);
            if (c < 0) {
                reader->ended = 1;
                break;
            }
        }
        if (reader->encoding != Base64) {
            out[n++] = static_cast<unsigned char>(c);
            continue;
        }
        // Padding ends the data (RFC 2045), as it does for crypt32: a list's footer after
        // it is no base64, and the bits left over are no byte.
        if (c == '=') {
            reader->bitCount = 0;
            reader->ended = 1;
            break;
        }
        const int value = Base64Value(c);
        if (value < 0)
            continue;
        reader->bits = (reader->bits << 6) | static_cast<unsigned long>(value);
        reader->bitCount += 6;
    }
    return n;
}

void CloseBodyReader(BodyReader* reader)
{
    if (reader && reader->open) {
        CloseMailStream(&reader->stream);
        reader->open = 0;
    }
}
