// Content-Type fields read as MIME does, and the charsets the opt-in conversion knows.
#include <cstdlib>
#include <cstring>

#include "mailview/mailtext/common/ascii.h"
#include "mailview/mailtext/mime/mail_text.h"

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

const char* SkipBlanks(const char* p)
{
    while (IsBlank(*p))
        ++p;
    return p;
}

// True when [begin, begin + length) is the name, ASCII letters folded.
bool IsName(const char* begin, size_t length, const char* name)
{
    return std::strlen(name) == length && ComparePrefixNoCase(begin, name) == 0;
}

// A parameter value being read: kept while it fits, marked too long otherwise.
struct Value {
    char text[kPartBoundarySize];
    size_t length;
    bool tooLong;
    bool unclosed;   // a quoted string that the field ends before its closing quote
    void Add(char c)
    {
        if (length + 1 < sizeof text)
            text[length++] = c;
        else
            tooLong = true;
    }
};

// Stores the value into a field of size bytes, or "" when it does not fit.
void Store(char* field, size_t size, const Value& value)
{
    if (value.tooLong || value.unclosed || value.length + 1 > size) {
        field[0] = '\0';
        return;
    }
    std::memcpy(field, value.text, value.length);
    field[value.length] = '\0';
}

// Reads a quoted string or a token at p into value; returns the position after it.
const char* ReadValue(const char* p, Value* value)
{
    value->length = 0;
    value->tooLong = false;
    value->unclosed = false;
    if (*p != '"') {
        while (*p && *p != ';' && !IsBlank(*p))
            value->Add(*p++);
        return p;
    }
    for (++p; *p && *p != '"'; ++p) {
        if (*p == '\\' && p[1])
            ++p;   // a quoted pair stands for the character after the backslash
        value->Add(*p);
    }
    value->unclosed = *p != '"';
    return *p == '"' ? p + 1 : p;
}

// Passes over what is left of an item, up to the next ';' outside quotes or the end.
const char* SkipToSemicolon(const char* p)
{
    Value ignored;
    while (*p && *p != ';') {
        if (*p == '"')
            p = ReadValue(p, &ignored);
        else
            ++p;
    }
    return p;
}

// Labels of ISO 8859-1, -9 and -11 mean their Windows supersets, as HTML's Encoding
// Standard and mail readers take them: mail written on Windows puts quotes, dashes and the
// euro sign at 0x80 to 0x9F, which the ISO code pages make control characters.
const struct {
    const char* name;
    unsigned codePage;
} kCharsets[] = {
    {"iso-8859-1", 1252},   {"iso8859-1", 1252},    {"iso88591", 1252},     {"iso_8859-1", 1252},
    {"iso_8859-1:1987", 1252}, {"iso-ir-100", 1252}, {"latin1", 1252},      {"l1", 1252},
    {"csisolatin1", 1252},  {"cp819", 1252},        {"ibm819", 1252},       {"cp1252", 1252},
    {"x-cp1252", 1252},     {"iso-8859-9", 1254},   {"iso8859-9", 1254},    {"iso88599", 1254},
    {"iso_8859-9", 1254},   {"iso_8859-9:1989", 1254}, {"iso-ir-148", 1254}, {"latin5", 1254},
    {"l5", 1254},           {"csisolatin5", 1254},  {"cp1254", 1254},       {"x-cp1254", 1254},
    {"iso-8859-11", 874},   {"iso8859-11", 874},    {"iso885911", 874},     {"tis-620", 874},
    {"windows-874", 874},   {"dos-874", 874},
    {"iso-8859-2", 28592},  {"iso-8859-3", 28593},  {"iso-8859-4", 28594},  {"iso-8859-5", 28595},
    {"iso-8859-6", 28596},  {"iso-8859-7", 28597},  {"iso-8859-8", 28598},  {"iso-8859-13", 28603},
    {"iso-8859-15", 28605}, {"windows-1250", 1250}, {"windows-1251", 1251}, {"windows-1252", 1252},
    {"windows-1253", 1253}, {"windows-1254", 1254}, {"windows-1255", 1255}, {"windows-1256", 1256},
    {"windows-1257", 1257}, {"windows-1258", 1258}, {"koi8-r", 20866},      {"koi8-u", 21866},
    {"euc-kr", 949},        {"ks_c_5601-1987", 949}, {"gb2312", 936},       {"gbk", 936},
    {"gb18030", 54936},     {"big5", 950},          {"utf-7", 65000},
};
}  // namespace

void ParseContentType(const char* value, ContentType* type, int cut)
{
    if (!type)
        return;
    type->mediaType[0] = '\0';
    type->charset[0] = '\0';
    type->boundary[0] = '\0';
    if (!value)
        return;
    const char* p = SkipBlanks(value);
    Value item;
    item.length = 0;
    item.tooLong = false;
    item.unclosed = false;
    while (*p && *p != ';' && !IsBlank(*p))
        item.Add(static_cast<char>(ToLowerAscii(*p++)));
    Store(type->mediaType, sizeof type->mediaType, item);

    bool charsetSeen = false;
    bool boundarySeen = false;
    for (;;) {
        p = SkipToSemicolon(p);
        if (!*p)
            return;
        p = SkipBlanks(p + 1);
        const char* name = p;
        while (*p && *p != '=' && *p != ';' && !IsBlank(*p))
            ++p;
        size_t nameLength = static_cast<size_t>(p - name);
        p = SkipBlanks(p);
        if (*p != '=')
            continue;
        p = ReadValue(SkipBlanks(p + 1), &item);
        // A field cut to its buffer may have cut its last value: iso-8859-15 would read as -1.
        if (cut && !*SkipToSemicolon(p))
            return;
        // The first of a repeated parameter counts.
        if (!charsetSeen && IsName(name, nameLength, "charset")) {
            charsetSeen = true;
            Store(type->charset, sizeof type->charset, item);
        } else if (!boundarySeen && IsName(name, nameLength, "boundary")) {
            boundarySeen = true;
            Store(type->boundary, sizeof type->boundary, item);
        }
    }
}

int ReadHeaderContentType(const char* headerText, ContentType* type)
{
    ParseContentType(NULL, type);
    const char* line = FindContentTypeLine(headerText);
    if (!line || !type)
        return 0;
    char* value = CopyFieldValue(line + std::strlen("Content-Type:"), 1);
    if (!value)
        return 0;
    ParseContentType(value, type);
    std::free(value);
    return 1;
}

int IsMultipartType(const ContentType& type)
{
    return std::strncmp(type.mediaType, "multipart/", 10) == 0;
}

unsigned CharsetCodePage(const char* name)
{
    if (!name)
        return 0;
    for (size_t i = 0; i < sizeof kCharsets / sizeof kCharsets[0]; ++i)
        if (CompareNameNoCase(name, kCharsets[i].name) == 0)
            return kCharsets[i].codePage;
    return 0;
}

int Utf8FallbackOf(const char* charset)
{
    if (!charset || !charset[0] || CompareNameNoCase(charset, "us-ascii") == 0)
        return Utf8WhenValid;
    switch (CharsetCodePage(charset)) {
    case 0:
        return NoUtf8Fallback;
    // A double-byte text is rarely valid UTF-8 throughout, but a short one can be.
    case 936: case 949: case 950: case 54936:
        return Utf8WhenUndecodable;
    default:
        // Every byte has a meaning in most single-byte code pages, and none of 0x80 to 0xFF
        // in UTF-7: only UTF-8's own structure tells.
        return Utf8WhenValid;
    }
}

int ScanUtf8(const unsigned char* bytes, size_t length, int prefix, size_t* multiByte)
{
    size_t sequences = 0;
    size_t i = 0;
    while (i < length) {
        const unsigned char c = bytes[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        // The bounds of the second byte exclude overlong forms, surrogates and code points
        // beyond U+10FFFF.
        size_t size = 4;
        unsigned char low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF)
            size = 2;
        else if (c >= 0xE0 && c <= 0xEF)
            size = 3;
        else if (c < 0xF0 || c > 0xF4)
            return 0;
        if (c == 0xE0)
            low = 0xA0;
        else if (c == 0xED)
            high = 0x9F;
        else if (c == 0xF0)
            low = 0x90;
        else if (c == 0xF4)
            high = 0x8F;
        if (i + size > length) {
            // A prefix may end inside a sequence: what it holds of it must still fit.
            for (size_t k = i + 1; k < length; ++k)
                if (bytes[k] < (k == i + 1 ? low : 0x80) || bytes[k] > (k == i + 1 ? high : 0xBF))
                    return 0;
            if (!prefix)
                return 0;
            break;
        }
        for (size_t k = 1; k < size; ++k)
            if (bytes[i + k] < (k == 1 ? low : 0x80) || bytes[i + k] > (k == 1 ? high : 0xBF))
                return 0;
        ++sequences;
        i += size;
    }
    if (multiByte)
        *multiByte = sequences;
    return 1;
}
