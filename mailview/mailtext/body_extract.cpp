// Body extraction: the transfer encoding from the headers, the first part's body, and
// quoted-printable undone on the way.
#include <cstdlib>

#include "mailview/mailtext/ascii.h"
#include "mailview/mailtext/mail_text.h"

namespace {

// Room for the whole rest of the file up front: the body grows a byte at a time, and
// doubling would hold up to twice the body while it copies.
void ReserveForBody(MailStream* stream, MailBodyBuffer* buffer)
{
    long rest = MailStreamRemaining(stream);
    if (rest <= 0 || static_cast<unsigned long>(rest) >= buffer->max_size())
        return;
    try {
        buffer->reserve(static_cast<size_t>(rest) + 1);
    } catch (...) {
        // Growing as it goes may still fit.
    }
}

// Copies the body and its final NUL; 0 when memory ran out (no exception leaves).
int CopyBody(MailStream* stream, const char* boundary, int encoding, MailBodyBuffer* buffer)
{
    try {
        bool lineStart = true;
        for (int c = ReadMailChar(stream); c != EOF; c = ReadMailChar(stream)) {
            if (boundary && lineStart && c == '-' && IsDelimiterLine(stream, boundary))
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
            buffer->push_back(static_cast<unsigned char>(c));
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
        if (ComparePrefixNoCase(field, "ontent-Transfer-Encoding:") == 0) {
            if (FindNoCase(field, "base64"))
                *encoding = Base64;
            else if (FindNoCase(field, "quoted-printable"))
                *encoding = QuotedPrintable;
        }
    }
    // The header scan reads the field once more.
    SeekMailStream(stream, start);
}

int HexDigitValue(int character)
{
    int c = ToUpperAscii(character);
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
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

int ExtractMailBodyFromFile(const char* path, const char* boundary, MailBodyBuffer* buffer)
{
    int encoding = Identity;
    if (!buffer)
        return encoding;
    buffer->clear();
    MailStream stream;
    if (!OpenMailStream(&stream, path))
        return encoding;
    ScanHeaderForEncoding(&stream, &encoding);
    if (boundary) {
        SkipToFirstDelimiter(&stream, boundary);
        ScanHeaderForEncoding(&stream, &encoding);
    }
    ReserveForBody(&stream, buffer);
    int copied = CopyBody(&stream, boundary, encoding, buffer);
    CloseMailStream(&stream);
    if (!copied) {
        // Out of memory: nothing half-copied is shown, and the storage goes back at once.
        MailBodyBuffer().swap(*buffer);
        return encoding;
    }
    // Keep a short first part of a large file from holding the whole file's room.
    if (buffer->capacity() / 2 > buffer->size()) {
        try {
            buffer->shrink_to_fit();
        } catch (...) {
        }
    }
    return encoding;
}
