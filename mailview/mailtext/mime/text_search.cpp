// Case-insensitive prefix test and searches over byte strings, and the field-value copy.
#include <cstdlib>
#include <cstring>

#include "mailview/mailtext/common/ascii.h"
#include "mailview/mailtext/mime/mail_text.h"

int ComparePrefixNoCase(const char* text, const char* prefix)
{
    for (; *prefix; ++text, ++prefix) {
        // The text's terminator matches no prefix byte, so a short text stops here.
        if (!MatchesNoCase(static_cast<unsigned char>(*text), static_cast<unsigned char>(*prefix)))
            return 1;
    }
    return 0;
}

int CompareNameNoCase(const char* text, const char* name)
{
    return ComparePrefixNoCase(text, name) == 0 && text[strlen(name)] == '\0' ? 0 : 1;
}

const char* FindNoCase(const char* text, const char* needle)
{
    const int first = ToUpperAscii(static_cast<unsigned char>(*needle));
    const size_t length = strlen(needle);
    for (; *text; ++text) {
        if (ToUpperAscii(static_cast<unsigned char>(*text)) == first &&
            ComparePrefixNoCase(text, needle) == 0)
            return text + length;
    }
    return NULL;
}

const char* FindNoCaseOrEnd(const char* text, const char* needle)
{
    const char* found = FindNoCase(text, needle);
    return found ? found : text + strlen(text);
}

const char* FindCharOrEnd(const char* text, char character)
{
    while (*text && *text != character)
        ++text;
    return text;
}

char* CopyFieldValue(const char* text, int spaceFolds)
{
    if (!text)
        return NULL;
    size_t length = 0;
    while (text[length]) {
        // text[length + 1] is at worst the terminator.
        const char next = text[length + 1];
        if (text[length] == '\n' && next != '\t' && !(spaceFolds && next == ' ')) {
            ++length;
            break;
        }
        ++length;
    }
    return CopyOfBytes(text, length);
}

char* CopyOfBytes(const char* begin, size_t length)
{
    if (length == 0)
        return NULL;
    char* copy = static_cast<char*>(malloc(length + 1));
    if (!copy)
        return NULL;
    memcpy(copy, begin, length);
    copy[length] = '\0';
    return copy;
}
