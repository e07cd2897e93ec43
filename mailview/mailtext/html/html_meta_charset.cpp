// The charset an HTML part names in a <meta> element, read as HTML5's prescan reads it:
// comments and other tags' attributes are stepped over, so that a quoted "<meta" is no
// meta. Bytes only, so it works on every ASCII-compatible charset before any decoding.
#include <cstring>

#include "mailview/mailtext/common/ascii.h"
#include "mailview/mailtext/html/html_text.h"

namespace {

bool IsSpace(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

enum { kValueBytes = 128 };

struct Attribute {
    char name[16];             // lower case; "" when longer
    char value[kValueBytes];   // lower case; "" when longer
};

// Copies bytes into a field, lower case; a text that does not fit is left out.
void Store(char* field, size_t size, size_t* length, unsigned char c, bool* tooLong)
{
    if (*length + 1 < size)
        field[(*length)++] = static_cast<char>(ToLowerAscii(c));
    else
        *tooLong = true;
}

// HTML5's "get an attribute": 1 with the attribute and *at past it; 0 at the tag's '>'
// (*at then on it) or at the end of the data.
int GetAttribute(const unsigned char* p, size_t* at, size_t end, Attribute* attribute)
{
    size_t i = *at;
    while (i < end && (IsSpace(p[i]) || p[i] == '/'))
        ++i;
    *at = i;
    if (i >= end || p[i] == '>')
        return 0;
    size_t nameLength = 0, valueLength = 0;
    bool longName = false, longValue = false, hasValue = false;
    // The name: a first '=' belongs to it.
    for (; i < end; ++i) {
        if (p[i] == '=' && (nameLength > 0 || longName)) {
            hasValue = true;
            break;
        }
        if (IsSpace(p[i]) || p[i] == '/' || p[i] == '>')
            break;
        Store(attribute->name, sizeof attribute->name, &nameLength, p[i], &longName);
    }
    if (!hasValue && i < end && IsSpace(p[i])) {
        while (i < end && IsSpace(p[i]))
            ++i;
        hasValue = i < end && p[i] == '=';   // else the byte begins what comes next
    }
    if (i >= end)
        return 0;
    if (hasValue) {
        ++i;
        while (i < end && IsSpace(p[i]))
            ++i;
        if (i >= end)
            return 0;
        if (p[i] == '"' || p[i] == '\'') {
            const unsigned char quote = p[i++];
            for (; i < end && p[i] != quote; ++i)
                Store(attribute->value, sizeof attribute->value, &valueLength, p[i], &longValue);
            if (i >= end)
                return 0;
            ++i;
        } else {
            for (; i < end && !IsSpace(p[i]) && p[i] != '>'; ++i)
                Store(attribute->value, sizeof attribute->value, &valueLength, p[i], &longValue);
            if (i >= end)
                return 0;
        }
    }
    attribute->name[longName ? 0 : nameLength] = '\0';
    attribute->value[longValue ? 0 : valueLength] = '\0';
    *at = i;
    return 1;
}

// HTML5's "extract a character encoding from a meta element" on a content value: into
// charset (size bytes); false when there is none.
bool CharsetFromContent(const char* content, char* charset, size_t size)
{
    const char* at = content;
    for (;;) {
        const char* found = std::strstr(at, "charset");
        if (!found)
            return false;
        at = found + 7;
        while (IsSpace(static_cast<unsigned char>(*at)))
            ++at;
        if (*at == '=')
            break;
    }
    ++at;
    while (IsSpace(static_cast<unsigned char>(*at)))
        ++at;
    const char* begin = at;
    const char* end;
    if (*at == '"' || *at == '\'') {
        end = std::strchr(at + 1, *at);
        if (!end)
            return false;
        ++begin;
    } else {
        end = at;
        while (*end && !IsSpace(static_cast<unsigned char>(*end)) && *end != ';')
            ++end;
    }
    const size_t length = static_cast<size_t>(end - begin);
    if (length == 0 || length >= size)
        return false;
    std::memcpy(charset, begin, length);
    charset[length] = '\0';
    return true;
}

bool StartsWithNoCase(const unsigned char* p, size_t at, size_t end, const char* text)
{
    for (; *text; ++text, ++at)
        if (at >= end || !MatchesNoCase(p[at], static_cast<unsigned char>(*text)))
            return false;
    return true;
}

// The charset of one <meta>'s attributes, or "" (HTML5's pragma rules).
void ReadMeta(const unsigned char* p, size_t* at, size_t end, char* charset, size_t size)
{
    bool seenHttpEquiv = false, seenContent = false, seenCharset = false, gotPragma = false;
    int needPragma = -1;   // -1: not known
    char found[kValueBytes] = "";
    Attribute attribute;
    while (GetAttribute(p, at, end, &attribute)) {
        if (std::strcmp(attribute.name, "http-equiv") == 0 && !seenHttpEquiv) {
            seenHttpEquiv = true;
            gotPragma = std::strcmp(attribute.value, "content-type") == 0;
        } else if (std::strcmp(attribute.name, "content") == 0 && !seenContent) {
            seenContent = true;
            if (!found[0] && CharsetFromContent(attribute.value, found, sizeof found))
                needPragma = 1;
        } else if (std::strcmp(attribute.name, "charset") == 0 && !seenCharset) {
            seenCharset = true;
            std::strcpy(found, attribute.value);
            needPragma = 0;
        }
    }
    charset[0] = '\0';
    if (needPragma < 0 || (needPragma == 1 && !gotPragma))
        return;
    // A label's surrounding blanks are not part of it.
    const char* begin = found;
    while (IsSpace(static_cast<unsigned char>(*begin)))
        ++begin;
    size_t length = std::strlen(begin);
    while (length > 0 && IsSpace(static_cast<unsigned char>(begin[length - 1])))
        --length;
    if (length == 0 || length >= size)
        return;
    std::memcpy(charset, begin, length);
    charset[length] = '\0';
    if (std::strncmp(charset, "utf-16", 6) == 0 && (charset[6] == '\0' || std::strcmp(charset + 6, "be") == 0 ||
                                                  std::strcmp(charset + 6, "le") == 0)) {
        if (size > 5)
            std::strcpy(charset, "utf-8");
        else
            charset[0] = '\0';
    }
}

}  // namespace

int FindHtmlMetaCharset(const char* html, size_t length, char* charset, size_t size)
{
    if ((!html && length) || !charset || size == 0)
        return -1;
    charset[0] = '\0';
    const unsigned char* p = reinterpret_cast<const unsigned char*>(html);
    const size_t end = length < kHtmlMetaScanBytes ? length : kHtmlMetaScanBytes;
    size_t at = 0;
    while (at < end) {
        if (p[at] != '<') {
            ++at;
            continue;
        }
        if (StartsWithNoCase(p, at, end, "<!--")) {
            // Ends at the first "-->", whose dashes may be the opening's.
            size_t i = at + 2;
            while (i + 2 < end && !(p[i] == '-' && p[i + 1] == '-' && p[i + 2] == '>'))
                ++i;
            at = i + 3;
        } else if (StartsWithNoCase(p, at, end, "<meta") && at + 5 < end && (IsSpace(p[at + 5]) || p[at + 5] == '/')) {
            at += 6;
            ReadMeta(p, &at, end, charset, size);
            if (charset[0])
                return 1;
            ++at;
        } else if (at + 1 < end && (IsAsciiLetter(p[at + 1]) || (p[at + 1] == '/' && at + 2 < end &&
                                                                 IsAsciiLetter(p[at + 2])))) {
            at += 2;
            while (at < end && !IsSpace(p[at]) && p[at] != '>')
                ++at;
            Attribute ignored;
            while (GetAttribute(p, &at, end, &ignored)) {
            }
            ++at;
        } else if (at + 1 < end && (p[at + 1] == '!' || p[at + 1] == '/' || p[at + 1] == '?')) {
            const void* close = std::memchr(p + at + 1, '>', end - at - 1);
            at = close ? static_cast<size_t>(static_cast<const unsigned char*>(close) - p) + 1 : end;
        } else {
            ++at;
        }
    }
    return 0;
}
