// The walk through a multipart mail file, nested multiparts included, to its first
// text/plain part (or, when asked and there is none, its first text/html part). Bounded in
// depth, parts and bytes read, so that no mail can hold a load.
#include <climits>
#include <cstring>

#include "mailview/mailtext/common/ascii.h"
#include "mailview/mailtext/mime/mail_text.h"

namespace {

// The boundaries of the multiparts the walk is inside, the outermost first.
struct Levels {
    const char* boundary[kMaxPartDepth];
    char inner[kMaxPartDepth][kPartBoundarySize];
    int depth;
};

bool PastLimit(MailStream* stream, long limit)
{
    return TellMailStream(stream) >= limit;
}

// After a line-start '-': when the line is a delimiter line of an open level (the longest
// boundary that begins it wins, the inner on a tie), the line is consumed and the level is
// returned, close set for a close delimiter. -1 otherwise, the stream right after the '-'.
int MatchDelimiter(MailStream* stream, const Levels& levels, long limit, bool* close)
{
    const long start = TellMailStream(stream);
    if (ReadMailChar(stream) != '-') {
        SeekMailStream(stream, start);
        return -1;
    }
    char line[kPartBoundarySize + 3];
    size_t length = 0;
    int c = EOF;
    while (length + 1 < sizeof line) {
        c = ReadMailChar(stream);
        if (c == EOF || c == '\n')
            break;
        line[length++] = static_cast<char>(c);
    }
    line[length] = '\0';
    int best = -1;
    size_t bestLength = 0;
    for (int i = 0; i < levels.depth; ++i) {
        size_t n = std::strlen(levels.boundary[i]);
        if (n <= length && n >= bestLength && ComparePrefixNoCase(line, levels.boundary[i]) == 0) {
            best = i;
            bestLength = n;
        }
    }
    if (best < 0) {
        SeekMailStream(stream, start);
        return -1;
    }
    *close = line[bestLength] == '-' && line[bestLength + 1] == '-';
    // The rest of a long delimiter line is padding.
    while (c != EOF && c != '\n' && !PastLimit(stream, limit))
        c = ReadMailChar(stream);
    return best;
}

// Reads on to the next delimiter line of an open level; the level, or -1 at the end of the
// data or the limit. The stream stands at a line start when it is called.
int NextDelimiter(MailStream* stream, const Levels& levels, long limit, bool* close)
{
    bool lineStart = true;
    while (!PastLimit(stream, limit)) {
        int c = ReadMailChar(stream);
        if (c == EOF)
            return -1;
        if (lineStart && c == '-') {
            int level = MatchDelimiter(stream, levels, limit, close);
            if (level >= 0)
                return level;
        }
        lineStart = c == '\n';
    }
    return -1;
}

// What a part header says.
struct PartHeader {
    ContentType type;
    bool typed;        // it has a Content-Type field
    bool attachment;   // Content-Disposition: attachment
    int encoding;
};

bool IsAttachment(const char* value)
{
    // A value folded onto the next line keeps that line feed before the fold's blank.
    while (*value == ' ' || *value == '\t' || *value == '\r' || *value == '\n')
        ++value;
    if (ComparePrefixNoCase(value, "attachment") != 0)
        return false;
    const char after = value[sizeof "attachment" - 1];
    return after == '\0' || after == ';' || after == ' ' || after == '\t' || after == '\r' || after == '\n';
}

// After a line-start 'C' or 'c' of a part header: the first Content-Type field, the first
// Content-Disposition field and every Content-Transfer-Encoding field count; continuation
// lines may begin with a space. The stream goes back, as the header scan reads on.
void ReadPartField(MailStream* stream, PartHeader* header, bool* disposed)
{
    const long start = TellMailStream(stream);
    char field[kFieldBufferSize];
    if (ReadUnfoldedField(field, kFieldCount, stream, 1)) {
        field[kFieldCount] = '\0';
        const char kType[] = "ontent-Type:";
        const char kDisposition[] = "ontent-Disposition:";
        if (!header->typed && ComparePrefixNoCase(field, kType) == 0) {
            header->typed = true;
            // A field that filled the buffer may have lost the end of its last parameter.
            const bool cut = std::strlen(field) >= kFieldCount && FieldGoesOn(stream, 1);
            ParseContentType(field + sizeof kType - 1, &header->type, cut);
        } else if (!*disposed && ComparePrefixNoCase(field, kDisposition) == 0) {
            *disposed = true;
            header->attachment = IsAttachment(field + sizeof kDisposition - 1);
        } else {
            NoteTransferEncoding(field, &header->encoding);
        }
    }
    SeekMailStream(stream, start);
}

// Reads a part header up to and including its empty line. False when the data or the limit
// ends first: such a part has no body.
bool ScanPartHeader(MailStream* stream, long limit, PartHeader* header)
{
    ParseContentType(NULL, &header->type);
    header->typed = false;
    header->attachment = false;
    header->encoding = Identity;
    bool disposed = false;
    bool lineStart = true;
    while (!PastLimit(stream, limit)) {
        int c = ReadMailChar(stream);
        if (c == EOF)
            return false;
        if (lineStart) {
            if (c == '\n')
                return true;
            if (ToUpperAscii(c) == 'C')
                ReadPartField(stream, header, &disposed);
        }
        lineStart = c == '\n';
    }
    return false;
}

void CopyText(char* field, size_t size, const char* text)
{
    size_t length = std::strlen(text);
    if (length >= size)
        length = 0;
    std::memcpy(field, text, length);
    field[length] = '\0';
}

// Keeps where a part's body begins and the boundaries that end it.
void NotePart(MailStream* stream, const PartHeader& header, const Levels& levels, TextPart* part)
{
    part->bodyOffset = TellMailStream(stream);
    part->encoding = header.encoding;
    CopyText(part->charset, sizeof part->charset, header.type.charset);
    for (int i = 0; i < levels.depth; ++i)
        CopyText(part->boundaries[i], kPartBoundarySize, levels.boundary[i]);
    part->depth = levels.depth;
    part->html = 0;
}

// The walk itself: 1 at the first text/plain part. On the way the first text/html part
// that is no attachment is noted into html, when given (its bodyOffset -1 until then).
int Walk(MailStream* stream, const char* boundary, TextPart* part, TextPart* html)
{
    Levels levels;
    levels.boundary[0] = boundary;
    levels.depth = 1;
    // The message header is read within the same bound: a header without an empty line (or
    // with CR-only line ends) would otherwise be read to the end of the file.
    PartHeader header;
    if (!ScanPartHeader(stream, kPartSearchBytes, &header))
        return 0;
    int parts = 0;
    for (;;) {
        bool close = false;
        int level = NextDelimiter(stream, levels, kPartSearchBytes, &close);
        if (level < 0)
            return 0;
        // A delimiter of an outer multipart ends the inner ones, closed or not.
        levels.depth = level + 1;
        if (close) {
            levels.depth = level;
            if (levels.depth == 0)
                return 0;
            continue;
        }
        if (++parts > kMaxParts)
            return 0;
        // The body must begin within the bound; a CR LF read as one may end just past it.
        if (!ScanPartHeader(stream, kPartSearchBytes, &header) || TellMailStream(stream) > kPartSearchBytes)
            return 0;
        const ContentType& type = header.type;
        // A text file sent with the mail is not the mail's text.
        if ((!header.typed || std::strcmp(type.mediaType, "text/plain") == 0) && !header.attachment) {
            if (part)
                NotePart(stream, header, levels, part);
            return 1;
        }
        if (html && html->bodyOffset < 0 && std::strcmp(type.mediaType, "text/html") == 0 && !header.attachment)
            NotePart(stream, header, levels, html);
        if (IsMultipartType(type) && type.boundary[0]) {
            if (levels.depth >= kMaxPartDepth)
                return 0;
            char* inner = levels.inner[levels.depth];
            CopyText(inner, kPartBoundarySize, type.boundary);
            levels.boundary[levels.depth++] = inner;
        }
    }
}

}  // namespace

int WalkToFirstTextPart(MailStream* stream, const char* boundary, TextPart* part, int orHtml)
{
    if (!stream || !boundary || !*boundary || std::strlen(boundary) >= kPartBoundarySize)
        return 0;
    if (!orHtml)
        return Walk(stream, boundary, part, NULL);
    // The text/plain rule stands whenever it finds a part; the HTML part only replaces none.
    TextPart html;
    html.bodyOffset = -1;
    if (Walk(stream, boundary, part, &html))
        return 1;
    if (html.bodyOffset < 0 || !SeekMailStream(stream, html.bodyOffset))
        return 0;
    html.html = 1;
    if (part)
        *part = html;
    return 1;
}

int FindFirstTextPart(const char* path, const char* boundary, TextPart* part, int orHtml)
{
    MailStream stream;
    if (!OpenMailStream(&stream, path))
        return 0;
    int found = WalkToFirstTextPart(&stream, boundary, part, orHtml);
    CloseMailStream(&stream);
    return found;
}

int ReadFirstPartContentType(const char* path, const char* boundary, ContentType* type)
{
    if (type)
        ParseContentType(NULL, type);
    if (!boundary || !type)
        return 0;
    MailStream stream;
    if (!OpenMailStream(&stream, path))
        return 0;
    int typed = ReadFirstPartContentTypeInStream(&stream, boundary, type);
    CloseMailStream(&stream);
    return typed;
}

int ReadFirstPartContentTypeInStream(MailStream* stream, const char* boundary, ContentType* type)
{
    if (type)
        ParseContentType(NULL, type);
    if (!stream || !boundary || !type || !SeekMailStream(stream, 0))
        return 0;
    // The first part as the extraction finds it.
    int ignored = Identity;
    ScanHeaderForEncoding(stream, &ignored);
    SkipToFirstDelimiter(stream, boundary);
    PartHeader header;
    ScanPartHeader(stream, LONG_MAX, &header);
    *type = header.type;
    return header.typed ? 1 : 0;
}
