// Header charset detection: the header text's first Content-Type line, and for
// multipart/alternative mails the part headers in the mail file.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "mailview/mailtext/common/ascii.h"
#include "mailview/mailtext/mime/mail_text.h"

namespace {

const char kContentType[] = "Content-Type:";

// The boundary parameter's value, quotes and trailing blanks off, malloc'ed; or null.
char* CopyBoundary(const char* value)
{
    const char* begin = FindNoCaseOrEnd(value, "boundary=");
    if (!*begin)
        return NULL;
    if (*begin == '"')
        ++begin;
    const char* end = FindCharOrEnd(begin, '"');
    // Read as signed bytes, so 0x80 to 0xFF trim away with the blanks and controls.
    while (end > begin && static_cast<signed char>(end[-1]) <= 32)
        --end;
    return CopyOfBytes(begin, static_cast<size_t>(end - begin));
}

}  // namespace

char* ReadUnfoldedField(char* buffer, int count, MailStream* stream, int spaceFolds)
{
    if (count <= 0)
        return NULL;
    int stored = 0;
    int terminator = -1;  // stays -1 when the field fills the buffer
    while (stored < count) {
        int c = ReadMailChar(stream);
        if (c == EOF) {
            terminator = stored;
            break;
        }
        buffer[stored++] = static_cast<char>(c);
        if (c != '\n')
            continue;
        long lineEnd = TellMailStream(stream);
        int next = ReadMailChar(stream);
        if (next == '\t' || (spaceFolds && next == ' ')) {
            // May land in the extra byte at index count, which the caller overwrites.
            buffer[stored++] = ' ';
            continue;
        }
        if (next != EOF)
            SeekMailStream(stream, lineEnd);
        terminator = stored - 1;  // the field's line feed
        break;
    }
    if (stored == 0)
        return NULL;
    if (terminator >= 0)
        buffer[terminator] = '\0';
    return buffer;
}

bool FieldGoesOn(MailStream* stream, int spaceFolds)
{
    const long at = TellMailStream(stream);
    int c = ReadMailChar(stream);
    if (c == '\n') {
        c = ReadMailChar(stream);
        c = c == '\t' || (spaceFolds && c == ' ') ? c : EOF;
    }
    SeekMailStream(stream, at);
    return c != EOF;
}

bool IsUtf8ContentTypeField(MailStream* stream)
{
    long start = TellMailStream(stream);
    char field[kFieldBufferSize];
    if (ReadUnfoldedField(field, kFieldCount, stream)) {
        field[kFieldCount] = '\0';
        if (ComparePrefixNoCase(field, kContentType + 1) == 0 && FindNoCase(field, "utf-8"))
            return true;
    }
    SeekMailStream(stream, start);
    return false;
}

bool IsDelimiterLine(MailStream* stream, const char* boundary)
{
    if (!boundary)
        boundary = "";
    long start = TellMailStream(stream);
    int c = ReadMailChar(stream);
    if (c == EOF)
        return true;
    if (c == '-') {
        // The line counts up to boundary length + 98 characters, its line feed included;
        // the rest of a longer line is left for the caller.
        const size_t length = strlen(boundary);
        const size_t limit = length <= SIZE_MAX - 98 ? length + 98 : SIZE_MAX;
        size_t read = 0;
        bool matches = true;
        while (read < limit) {
            c = ReadMailChar(stream);
            if (c == EOF)
                break;
            if (read < length &&
                !MatchesNoCase(static_cast<unsigned char>(c), static_cast<unsigned char>(boundary[read]))) {
                matches = false;
                break;
            }
            ++read;
            if (c == '\n')
                break;
        }
        if (matches && read > 0 && read >= length && !MailStreamFailed(stream))
            return true;
    }
    SeekMailStream(stream, start);
    return false;
}

void SkipToFirstDelimiter(MailStream* stream, const char* boundary)
{
    if (MailStreamAtEnd(stream))
        return;
    bool lineStart = true;
    for (;;) {
        int c = ReadMailChar(stream);
        if (c == EOF)
            return;
        if (lineStart && c == '-' && IsDelimiterLine(stream, boundary))
            return;
        lineStart = c == '\n';
    }
}

const char* FindContentTypeLine(const char* headerText)
{
    if (!headerText)
        return NULL;
    // Continuation lines begin with a tab and so never match the field name.
    const char* line = headerText;
    while (ComparePrefixNoCase(line, kContentType) != 0) {
        const char* lineFeed = strchr(line, '\n');
        if (!lineFeed)
            return NULL;
        line = lineFeed + 1;
    }
    return line;
}

int ClassifyMailHeader(const char* headerText, char** boundarySlot)
{
    if (boundarySlot && *boundarySlot) {
        free(*boundarySlot);
        *boundarySlot = NULL;
    }
    const char* line = FindContentTypeLine(headerText);
    if (!line)
        return NotUtf8;
    // The copy starts at the colon: "charset=" and "boundary=" need something after them.
    char* value = CopyFieldValue(line + strlen(kContentType) - 1);
    if (!value)
        return NotUtf8;
    int result = NotUtf8;
    const char* charset = FindNoCaseOrEnd(value, "charset=");
    if (*charset && FindNoCase(charset, "utf-8")) {
        result = Utf8;
    } else if (*FindNoCaseOrEnd(value, "multipart/alternative")) {
        result = MultipartAlternative;
        // Without memory for the copy the mail stays multipart, with no boundary.
        if (boundarySlot)
            *boundarySlot = CopyBoundary(value);
    }
    free(value);
    return result;
}

bool MultipartFileHasUtf8Part(const char* path, const char* boundary)
{
    if (!path || !boundary)
        return false;
    MailStream stream;
    if (!OpenMailStream(&stream, path))
        return false;
    bool found = MultipartStreamHasUtf8Part(&stream, boundary);
    CloseMailStream(&stream);
    return found;
}

bool MultipartStreamHasUtf8Part(MailStream* stream, const char* boundary)
{
    if (!stream || !boundary || !SeekMailStream(stream, 0))
        return false;
    // The message header and the preamble are not looked at.
    SkipToFirstDelimiter(stream, boundary);
    bool lineStart = true;
    for (;;) {
        int c = ReadMailChar(stream);
        if (c == EOF)
            return false;
        if (lineStart && ToUpperAscii(c) == 'C' && IsUtf8ContentTypeField(stream))
            return true;
        lineStart = c == '\n';
    }
}
