#include "tests/mailtext/mail_checks.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mailview/mailtext/mime/mail_text.h"

namespace {

// ---- Describing a failure ---------------------------------------------------------------

std::string Shown(const std::string& bytes)
{
    std::string out = "\"";
    for (size_t i = 0; i < bytes.size() && i < 160; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char escape[8];
            snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        }
    }
    return out + (bytes.size() > 160 ? "\"..." : "\"");
}

std::string Shown(int value)
{
    return std::to_string(value);
}

std::string Differs(const char* what, int got, int expected)
{
    return std::string(what) + ": got " + Shown(got) + ", expected " + Shown(expected);
}

// Shown from a little before the first byte that differs.
std::string Differs(const char* what, const std::string& got, const std::string& expected)
{
    size_t at = 0;
    while (at < got.size() && at < expected.size() && got[at] == expected[at])
        ++at;
    const size_t from = at > 40 ? at - 40 : 0;
    return std::string(what) + " from byte " + std::to_string(from) + ": got " + Shown(got.substr(from)) +
           ", expected " + Shown(expected.substr(from));
}

// ---- The bytes as the reader sees them --------------------------------------------------

// CR LF reads as LF, a byte 0x1A ends the data. `offsets` gets the file offset of every
// character read, and last the offset where the data ends.
std::string ReadAsText(const std::string& file, std::vector<long>* offsets)
{
    std::string text;
    offsets->clear();
    size_t i = 0;
    for (; i < file.size() && file[i] != '\x1a'; ++i) {
        offsets->push_back(static_cast<long>(i));
        if (file[i] == '\r' && i + 1 < file.size() && file[i + 1] == '\n')
            ++i;
        text += file[i];
    }
    offsets->push_back(static_cast<long>(i));
    return text;
}

// The file and the other files that must read as it does: its text with every line
// feed stored as CR LF, and the text as it stands when no CR precedes a line feed in it;
// each keeps the file's bytes from its 0x1A on.
std::string WithoutBlanks(const std::string& text)
{
    std::string kept;
    for (char c : text)
        if (c != '\n' && c != '\r' && c != ' ' && c != '\t')
            kept += c;
    return kept;
}

// Read with a limit of about half of it, the body is the whole one's first limit bytes; in
// base64 text, what follows them may only lose its blanks and end early.
std::string CheckLimitedBody(const std::string& path, const char* boundary, int encoding, const std::string& whole)
{
    const size_t limit = whole.size() / 2 + 1;
    MailBodyBuffer part;
    ExtractMailBodyFromFile(path.c_str(), boundary, &part, limit);
    if (part.empty() || part.back() != 0)
        return "the limited body doesn't end in a NUL";
    const std::string got(part.begin(), part.end() - 1), text = whole.substr(0, whole.size() - 1);
    const size_t head = std::min(limit, text.size());
    if (encoding != Base64)
        return got == text.substr(0, head) ? "" : Differs("limited body", got, text.substr(0, head));
    const std::string rest = WithoutBlanks(got.substr(std::min(head, got.size())));
    if (got.compare(0, head, text, 0, head) != 0 || WithoutBlanks(text.substr(head)).compare(0, rest.size(), rest) != 0)
        return Differs("limited base64 text", got, text);
    // Enough of it to decode to limit bytes, unless a character the decoder rejects ended it.
    auto decoding = [](const std::string& t) {
        return std::count_if(t.begin(), t.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/' || c == '='; });
    };
    const bool rejected = !rest.empty() && decoding(rest.substr(rest.size() - 1)) == 0;
    if (!rejected && decoding(got) < std::min<long>(decoding(text), static_cast<long>(limit / 3 + 1) * 4))
        return Differs("limited base64 text (too short to decode)", got, text);
    return "";
}

std::vector<std::string> Twins(const std::string& file)
{
    std::vector<long> offsets;
    const std::string text = ReadAsText(file, &offsets);
    const std::string tail = file.substr(static_cast<size_t>(offsets.back()));
    std::string crlf;
    for (char c : text)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    std::vector<std::string> files = {file, crlf + tail};
    if (text.find("\r\n") == std::string::npos)
        files.push_back(text + tail);
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    return files;
}

bool WriteFile(const std::string& path, const std::string& bytes)
{
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && written;
}

// Boundary before the first NUL, file after it; no NUL, no boundary.
bool SplitInput(const unsigned char* data, size_t size, std::string* boundary, std::string* file)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t nul = input.find('\0');
    if (nul == std::string::npos) {
        boundary->clear();
        *file = input;
        return false;
    }
    *boundary = input.substr(0, nul);
    *file = input.substr(nul + 1);
    return true;
}

// ---- Case-insensitive byte strings ------------------------------------------------------

std::string Upper(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

bool StartsNoCase(const std::string& text, const std::string& prefix)
{
    return Upper(text.substr(0, prefix.size())) == Upper(prefix);
}

size_t FindUpper(const std::string& text, const std::string& needle, size_t from = 0)
{
    return Upper(text).find(Upper(needle), from);
}

std::string UpToNul(const std::string& text)
{
    return text.substr(0, text.find('\0'));
}

// ---- The rules over the text, `pos` the index of the next character ---------------------

int ModelRead(const std::string& t, size_t* pos)
{
    return *pos < t.size() ? static_cast<unsigned char>(t[(*pos)++]) : EOF;
}

// The field runs to its first line feed that no tab follows, each such tab a space; the
// final line feed becomes the terminator. Of a longer field `count` characters are kept
// without a terminator, and one more when the last kept is a line feed (its tab's space).
bool ModelField(const std::string& t, size_t* pos, int count, std::vector<char>* buffer)
{
    if (count <= 0 || *pos >= t.size())
        return false;
    const size_t room = static_cast<size_t>(count);
    std::string field;
    size_t next = *pos;
    bool endsAtLineFeed = false;
    while (next < t.size() && field.size() <= room) {
        char c = t[next++];
        field += c;
        if (c != '\n')
            continue;
        if (next < t.size() && t[next] == '\t') {
            field += ' ';
            ++next;
        } else {
            endsAtLineFeed = true;
            break;
        }
    }
    if (field.size() > room) {
        const size_t kept = field[room - 1] == '\n' ? room + 1 : room;
        std::copy(field.data(), field.data() + kept, buffer->begin());
        *pos += kept;
        return true;
    }
    std::copy(field.begin(), field.end(), buffer->begin());
    if (endsAtLineFeed)
        (*buffer)[field.size() - 1] = '\0';
    else if (field.size() < room)
        (*buffer)[field.size()] = '\0';
    *pos = next;
    return true;
}

// A field of at most 299 characters as a C string, or false.
bool ModelFieldText(const std::string& t, size_t* pos, std::string* text)
{
    std::vector<char> buffer(kFieldBufferSize, 'x');
    if (!ModelField(t, pos, kFieldCount, &buffer))
        return false;
    buffer[kFieldCount] = '\0';
    *text = buffer.data();
    return true;
}

// After a '-': a '-' and a line, cut at boundary length + 98 characters, that begins
// with the boundary; and the end of the data.
bool ModelDelimiter(const std::string& t, size_t* pos, const std::string& boundary)
{
    if (*pos >= t.size())
        return true;
    if (t[*pos] != '-')
        return false;
    const size_t from = *pos + 1;
    size_t end = t.find('\n', from);
    end = end == std::string::npos ? t.size() : end + 1;
    end = std::min(end, from + boundary.size() + 98);
    const std::string line = t.substr(from, end - from);
    if (line.empty() || !StartsNoCase(line, boundary))
        return false;
    *pos = end;
    return true;
}

int ModelQp(const std::string& t, size_t* pos)
{
    int first = ModelRead(t, pos);
    if (first == EOF)
        return -1;
    for (;;) {
        int next = ModelRead(t, pos);
        if (first == '\n') {
            if (next != '=')
                return next == EOF ? -1 : next;
            first = ModelRead(t, pos);
            if (first == EOF)
                return -1;
            continue;
        }
        if (next == EOF)
            return -1;
        static const char kDigits[] = "0123456789ABCDEF";
        const char* high = first ? strchr(kDigits, Upper(std::string(1, static_cast<char>(first)))[0]) : NULL;
        const char* low = next ? strchr(kDigits, Upper(std::string(1, static_cast<char>(next)))[0]) : NULL;
        if (high && low)
            return static_cast<int>((high - kDigits) * 16 + (low - kDigits));
        return '=';
    }
}

bool ModelUtf8ContentType(const std::string& t, size_t* pos)
{
    size_t after = *pos;
    std::string field;
    if (!ModelFieldText(t, &after, &field) || !StartsNoCase(field, "ontent-Type:") ||
        FindUpper(field, "utf-8") == std::string::npos)
        return false;
    *pos = after;
    return true;
}

void ModelTransferEncoding(const std::string& t, size_t pos, int* encoding)
{
    std::string field;
    if (!ModelFieldText(t, &pos, &field) || !StartsNoCase(field, "ontent-Transfer-Encoding:"))
        return;
    if (FindUpper(field, "base64") != std::string::npos)
        *encoding = Base64;
    else if (FindUpper(field, "quoted-printable") != std::string::npos)
        *encoding = QuotedPrintable;
}

void ModelHeader(const std::string& t, size_t* pos, int* encoding)
{
    bool lineStart = true;
    while (*pos < t.size()) {
        char c = t[(*pos)++];
        if (lineStart && c == '\n')
            return;
        if (lineStart && (c == 'C' || c == 'c'))
            ModelTransferEncoding(t, *pos, encoding);
        lineStart = c == '\n';
    }
}

void ModelSkip(const std::string& t, size_t* pos, const std::string& boundary)
{
    bool lineStart = true;
    while (*pos < t.size()) {
        char c = t[(*pos)++];
        if (lineStart && c == '-' && ModelDelimiter(t, pos, boundary))
            return;
        lineStart = c == '\n';
    }
}

// The body and its final NUL.
std::string ModelExtract(const std::string& t, const std::string* boundary, int* encoding)
{
    size_t pos = 0;
    *encoding = Identity;
    ModelHeader(t, &pos, encoding);
    if (boundary) {
        ModelSkip(t, &pos, *boundary);
        ModelHeader(t, &pos, encoding);
    }
    std::string body;
    bool lineStart = true;
    while (pos < t.size()) {
        char c = t[pos++];
        if (boundary && lineStart && c == '-' && ModelDelimiter(t, &pos, *boundary))
            break;
        lineStart = c == '\n';
        if (c == '=' && *encoding == QuotedPrintable) {
            int decoded = ModelQp(t, &pos);
            if (decoded < 0)
                break;
            c = static_cast<char>(decoded);
        }
        body += c;
    }
    return body + '\0';
}

bool ModelUtf8Part(const std::string& t, const std::string* boundary)
{
    if (!boundary)
        return false;
    size_t pos = 0;
    ModelSkip(t, &pos, *boundary);
    bool lineStart = true;
    while (pos < t.size()) {
        char c = t[pos++];
        if (lineStart && (c == 'C' || c == 'c') && ModelUtf8ContentType(t, &pos))
            return true;
        lineStart = c == '\n';
    }
    return false;
}

// The value from `from` up to and including the first line feed that no tab follows.
std::string ModelFieldValue(const std::string& text, size_t from)
{
    size_t end = from;
    while (end < text.size()) {
        if (text[end++] == '\n' && (end == text.size() || text[end] != '\t'))
            break;
    }
    return text.substr(from, end - from);
}

// The class of a NUL-free header text, and the boundary that it stores.
int ModelClassify(const std::string& text, std::string* boundary, bool* stored)
{
    *stored = false;
    size_t line = 0;
    while (!StartsNoCase(text.substr(line, 13), "Content-Type:")) {
        line = text.find('\n', line);
        if (line == std::string::npos)
            return NotUtf8;
        ++line;
    }
    const std::string value = ModelFieldValue(text, line + 12);
    const size_t charset = FindUpper(value, "charset=");
    if (charset != std::string::npos && charset + 8 < value.size() &&
        FindUpper(value, "utf-8", charset + 8) != std::string::npos)
        return Utf8;
    const size_t kind = FindUpper(value, "multipart/alternative");
    if (kind == std::string::npos || kind + 21 >= value.size())
        return NotUtf8;
    const size_t parameter = FindUpper(value, "boundary=");
    if (parameter != std::string::npos && parameter + 9 < value.size()) {
        size_t begin = parameter + 9;
        if (value[begin] == '"')
            ++begin;
        size_t end = std::min(value.find('"', begin), value.size());
        while (end > begin && static_cast<signed char>(value[end - 1]) <= 32)
            --end;
        if (end > begin) {
            *boundary = value.substr(begin, end - begin);
            *stored = true;
        }
    }
    return MultipartAlternative;
}

// ---- Checks -----------------------------------------------------------------------------

std::string CheckHelpers(const std::string& text)
{
    // The last line is the needle, the lines before it the text searched.
    const size_t cut = text.rfind('\n');
    const std::string hay = cut == std::string::npos ? text : text.substr(0, cut);
    const std::string needle = cut == std::string::npos ? "" : text.substr(cut + 1);
    const char* h = hay.c_str();
    if (ComparePrefixNoCase(h, needle.c_str()) != (StartsNoCase(hay, needle) ? 0 : 1))
        return "ComparePrefixNoCase of " + Shown(hay) + " and " + Shown(needle);
    if (!needle.empty()) {
        const size_t at = FindUpper(hay, needle);
        const char* expected = at == std::string::npos ? NULL : h + at + needle.size();
        if (FindNoCase(h, needle.c_str()) != expected)
            return "FindNoCase of " + Shown(needle) + " in " + Shown(hay);
        if (FindNoCaseOrEnd(h, needle.c_str()) != (expected ? expected : h + hay.size()))
            return "FindNoCaseOrEnd of " + Shown(needle) + " in " + Shown(hay);
    }
    const char character = needle.empty() ? '\0' : needle[0];
    if (FindCharOrEnd(h, character) != h + std::min(hay.find(character), hay.size()))
        return "FindCharOrEnd in " + Shown(hay);
    char* copy = CopyFieldValue(text.c_str());
    const std::string value = ModelFieldValue(text, 0);
    std::string problem;
    if (value.empty() ? copy != NULL : !copy || value != copy)
        problem = Differs("CopyFieldValue", std::string(copy ? copy : "(none)"), value);
    free(copy);
    return problem;
}

std::string CheckBoundarySlot(const char* slot, int result, bool expectStored, const std::string& expected)
{
    if (!slot) {
        return expectStored ? "no boundary stored; expected " + Shown(expected) : "";
    }
    const size_t length = strlen(slot);
    if (length == 0)
        return "an empty boundary text stored";
    if (static_cast<signed char>(slot[length - 1]) <= 32)
        return "the stored boundary ends in a blank, control or high byte: " + Shown(std::string(slot));
    if (result != MultipartAlternative)
        return "a boundary stored for class " + Shown(result);
    if (!expectStored || expected != slot)
        return Differs("boundary", std::string(slot), expectStored ? expected : std::string("(none)"));
    return "";
}

char* StaleBoundary()
{
    char* slot = static_cast<char*>(malloc(8));
    if (slot)
        memcpy(slot, "b-stale", 8);
    return slot;
}

}  // namespace

std::string CheckHeaderInput(const unsigned char* data, size_t size)
{
    const std::string text = UpToNul(std::string(reinterpret_cast<const char*>(data), size));
    std::string problem = CheckHelpers(text);
    if (!problem.empty())
        return problem;

    std::string boundary;
    bool stored = false;
    const int expected = ModelClassify(text, &boundary, &stored);
    // The previous mail's boundary is in the slot: it must be released (else a leak).
    char* slot = StaleBoundary();
    int result = ClassifyMailHeader(text.c_str(), &slot);
    if (result != expected)
        problem = Differs("class", result, expected);
    if (problem.empty())
        problem = CheckBoundarySlot(slot, result, stored, boundary);
    // Again over the text just stored: released and stored anew, the same.
    if (problem.empty()) {
        result = ClassifyMailHeader(text.c_str(), &slot);
        problem = result != expected ? Differs("class, second call", result, expected)
                                     : CheckBoundarySlot(slot, result, stored, boundary);
    }
    if (problem.empty() && ClassifyMailHeader(text.c_str(), NULL) != expected)
        problem = "another class without a boundary slot";
    // A null header releases the text and stores nothing.
    if (ClassifyMailHeader(NULL, &slot) != NotUtf8 && problem.empty())
        problem = "a null header is not NotUtf8";
    if (slot) {
        free(slot);
        if (problem.empty())
            problem = "a null header left a boundary text in the slot";
    }
    // The parameters read one by one: every field terminated in its room, the media type
    // folded and without blanks, and the table found only for its whole names.
    ContentType type;
    if (problem.empty() && ReadHeaderContentType(text.c_str(), &type)) {
        const std::string media = type.mediaType;
        if (std::strlen(type.charset) >= sizeof type.charset || std::strlen(type.boundary) >= sizeof type.boundary ||
            media.size() >= sizeof type.mediaType)
            problem = "a Content-Type field unterminated";
        else if (media.find_first_of(" \t\r\n;ABCDEFGHIJKLMNOPQRSTUVWXYZ") != std::string::npos)
            problem = "media type " + Shown(media) + " not folded or with a blank";
        else if (CharsetCodePage(type.charset) != 0 && std::string(type.charset).find_first_of(" \t\"';") != std::string::npos)
            problem = "charset " + Shown(type.charset) + " taken for a name of the table";
    }
    return problem.empty() ? "" : problem + " (header " + Shown(text) + ")";
}

namespace {

// The nested walk's part: found alike by the load's walk and the press's, the same body in
// every form of the file, within its bounds, and a limited read a prefix of the whole.
std::string CheckTextPart(const std::string& path, const char* boundary, size_t fileSize, std::string* firstBody)
{
    TextPart located, part;
    const int found = FindFirstTextPart(path.c_str(), boundary, &located);
    MailBodyBuffer whole, limited;
    const int encoding = ExtractTextPartFromFile(path.c_str(), boundary, &whole, kWholeBody, &part);
    if (found != !whole.empty())
        return found ? "the walk found a part the extraction did not" : "the extraction found a part the walk did not";
    // With the HTML fallback the text/plain rule stands whenever it finds a part.
    TextPart either;
    MailBodyBuffer html;
    const int foundEither = FindFirstTextPart(path.c_str(), boundary, &either, 1);
    ExtractTextPartFromFile(path.c_str(), boundary, &html, kWholeBody, NULL, 1);
    if (foundEither != !html.empty() || (found && (either.html || either.bodyOffset != located.bodyOffset)) ||
        (foundEither && !found && (!either.html || either.bodyOffset > kPartSearchBytes || either.depth < 1)))
        return "the walk with the HTML fallback found another part, or one outside its bounds";
    if (!found)
        return firstBody->empty() || fileSize > kPartSearchBytes / 2 ? "" : "a part in one form of the file only";
    if (whole.back() != 0 || part.bodyOffset != located.bodyOffset || part.bodyOffset > kPartSearchBytes ||
        part.depth < 1 || part.depth > kMaxPartDepth || std::strlen(part.boundaries[part.depth - 1]) == 0 ||
        std::strlen(part.boundaries[part.depth - 1]) >= sizeof part.boundaries[0] ||
        std::strlen(part.charset) >= sizeof part.charset)
        return "a part outside its bounds, or its fields unterminated";
    const std::string body(whole.begin(), whole.end());
    if (!firstBody->empty() && *firstBody != body && fileSize <= kPartSearchBytes / 2)
        return Differs("part body in another form of the file", body, *firstBody);
    *firstBody = body;
    if (encoding == Base64)
        return "";
    const size_t limit = body.size() / 2;
    ExtractTextPartFromFile(path.c_str(), boundary, &limited, limit);
    const std::string got(limited.begin(), limited.end());
    return got == body.substr(0, std::min(limit, body.size() - 1)) + '\0' ? "" : Differs("limited part", got, body);
}

}  // namespace

std::string CheckExtractInput(const unsigned char* data, size_t size, const std::string& path)
{
    std::string boundary, file;
    const bool hasBoundary = SplitInput(data, size, &boundary, &file);
    std::vector<long> offsets;
    const std::string text = ReadAsText(file, &offsets);
    int expectedEncoding = Identity;
    const std::string expected = ModelExtract(text, hasBoundary ? &boundary : NULL, &expectedEncoding);
    if (!hasBoundary && expectedEncoding == Identity) {
        // Plainly: everything after the first empty line.
        const size_t end = text.compare(0, 1, "\n") == 0 ? 0 : text.find("\n\n");
        const std::string plain = end == std::string::npos ? "" : text.substr(end + (end ? 2 : 1));
        if (plain + '\0' != expected)
            return "the models disagree over " + Shown(text);
    }
    std::string partBody;
    for (const std::string& form : Twins(file)) {
        if (!WriteFile(path, form))
            return "can't write " + path;
        MailBodyBuffer buffer(3, 'x');  // whatever was there goes
        const int encoding = ExtractMailBodyFromFile(path.c_str(), hasBoundary ? boundary.c_str() : NULL, &buffer);
        std::string problem;
        if (buffer.empty() || buffer.back() != 0)
            problem = "the body doesn't end in a NUL";
        else if (encoding != expectedEncoding)
            problem = Differs("encoding", encoding, expectedEncoding);
        else if (std::string(buffer.begin(), buffer.end()) != expected)
            problem = Differs("body", std::string(buffer.begin(), buffer.end()), expected);
        else
            problem = CheckLimitedBody(path, hasBoundary ? boundary.c_str() : NULL, encoding, expected);
        // The same bytes in memory, as a load reads the head of a file.
        MailStream memory;
        MailBodyBuffer fromBytes;
        OpenMailStreamOnBytes(&memory, reinterpret_cast<const unsigned char*>(form.data()), form.size());
        if (problem.empty() &&
            (ExtractMailBodyFromStream(&memory, hasBoundary ? boundary.c_str() : NULL, &fromBytes) != encoding ||
             fromBytes != buffer))
            problem = Differs("body from memory", std::string(fromBytes.begin(), fromBytes.end()), expected);
        if (problem.empty() && hasBoundary)
            problem = CheckTextPart(path, boundary.c_str(), form.size(), &partBody);
        if (!problem.empty())
            return problem + " (boundary " + (hasBoundary ? Shown(boundary) : "none") + ", file " + Shown(form) + ")";
    }
    return "";
}

std::string CheckUtf8PartInput(const unsigned char* data, size_t size, const std::string& path)
{
    std::string boundary, file;
    const bool hasBoundary = SplitInput(data, size, &boundary, &file);
    std::vector<long> offsets;
    const bool expected = ModelUtf8Part(ReadAsText(file, &offsets), hasBoundary ? &boundary : NULL);
    for (const std::string& form : Twins(file)) {
        if (!WriteFile(path, form))
            return "can't write " + path;
        MailStream memory;
        OpenMailStreamOnBytes(&memory, reinterpret_cast<const unsigned char*>(form.data()), form.size());
        if (MultipartFileHasUtf8Part(path.c_str(), hasBoundary ? boundary.c_str() : NULL) != expected ||
            (hasBoundary && MultipartStreamHasUtf8Part(&memory, boundary.c_str()) != expected))
            return std::string(expected ? "no" : "a") + " UTF-8 part found (boundary " +
                   (hasBoundary ? Shown(boundary) : "none") + ", file " + Shown(form) + ")";
    }
    return "";
}

std::string CheckReaderInput(const unsigned char* data, size_t size, const std::string& path)
{
    if (size == 0)
        return "";
    const size_t steps = std::min<size_t>(1 + data[0] % 16, (size - 1) / 2);
    const unsigned char* program = data + 1;
    const size_t used = 1 + 2 * steps;
    std::string boundary, file;
    const bool hasBoundary = SplitInput(data + used, size - used, &boundary, &file);
    const char* boundaryText = hasBoundary ? boundary.c_str() : NULL;  // null counts as empty

    for (const std::string& form : Twins(file)) {
        if (!WriteFile(path, form))
            return "can't write " + path;
        std::vector<long> offsets;
        const std::string t = ReadAsText(form, &offsets);
        MailStream stream;
        if (OpenMailStream(&stream, path.c_str()) != 1)
            return "can't open " + path;
        std::string problem;
        size_t pos = 0;
        for (size_t step = 0; step < steps && problem.empty(); ++step) {
            const int op = program[2 * step] % 10;
            const int parameter = program[2 * step + 1];
            std::string what = "step " + std::to_string(step) + " (" + std::to_string(op) + ")";
            switch (op) {
            case 0: {
                int expected = ModelRead(t, &pos);
                int got = ReadMailChar(&stream);
                if (got != expected)
                    problem = Differs("ReadMailChar", got, expected);
                break;
            }
            case 1: {
                int expected = ModelQp(t, &pos);
                int got = DecodeQpEscape(&stream);
                if (got != expected)
                    problem = Differs("DecodeQpEscape", got, expected);
                break;
            }
            case 2: {
                // Small counts and 0 or less, counts around the field buffer's, long ones.
                const int count = parameter < 192   ? parameter - 8
                                  : parameter < 224 ? parameter - 192 + 280
                                                    : (parameter - 223) * 128;
                const size_t room = count >= 0 ? static_cast<size_t>(count) + 1 : 1;
                std::vector<char> expected(room, '#'), got(room, '#');
                bool expectedRead = ModelField(t, &pos, count, &expected);
                char* result = ReadUnfoldedField(got.data(), count, &stream);
                if (result != (expectedRead ? got.data() : NULL))
                    problem = "ReadUnfoldedField with count " + std::to_string(count) + " gave " +
                              (result ? "the buffer" : "none");
                else if (got != expected)
                    problem = Differs(("ReadUnfoldedField with count " + std::to_string(count)).c_str(),
                                      std::string(got.begin(), got.end()), std::string(expected.begin(), expected.end()));
                break;
            }
            case 3: {
                bool expected = ModelDelimiter(t, &pos, boundary);
                if (IsDelimiterLine(&stream, boundaryText) != expected)
                    problem = std::string("IsDelimiterLine is ") + (expected ? "false" : "true");
                break;
            }
            case 4: {
                bool expected = ModelUtf8ContentType(t, &pos);
                if (IsUtf8ContentTypeField(&stream) != expected)
                    problem = std::string("IsUtf8ContentTypeField is ") + (expected ? "false" : "true");
                break;
            }
            case 5: {
                int expected = parameter % 3, got = expected;
                ModelTransferEncoding(t, pos, &expected);
                ReadTransferEncodingField(&stream, &got);
                if (got != expected)
                    problem = Differs("ReadTransferEncodingField", got, expected);
                break;
            }
            case 6: {
                int expected = parameter % 3, got = expected;
                ModelHeader(t, &pos, &expected);
                ScanHeaderForEncoding(&stream, &got);
                if (got != expected)
                    problem = Differs("ScanHeaderForEncoding", got, expected);
                break;
            }
            case 7:
                ModelSkip(t, &pos, boundary);
                SkipToFirstDelimiter(&stream, boundaryText);
                break;
            case 8:
                pos = static_cast<size_t>(parameter) % offsets.size();
                if (SeekMailStream(&stream, offsets[pos]) != 1)
                    problem = "SeekMailStream to " + std::to_string(offsets[pos]) + " failed";
                break;
            default: {
                long expected = static_cast<long>(form.size()) - offsets[pos];
                long got = MailStreamRemaining(&stream);
                if (got != expected)
                    problem = "MailStreamRemaining is " + std::to_string(got) + ", expected " + std::to_string(expected);
                break;
            }
            }
            if (problem.empty() && TellMailStream(&stream) != offsets[pos])
                problem = "TellMailStream is " + std::to_string(TellMailStream(&stream)) + ", expected " +
                          std::to_string(offsets[pos]);
            if (!problem.empty())
                problem = what + ": " + problem;
        }
        CloseMailStream(&stream);
        if (!problem.empty())
            return problem + " (boundary " + (hasBoundary ? Shown(boundary) : "none") + ", file " + Shown(form) + ")";
    }
    return "";
}
