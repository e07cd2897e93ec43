// The UTF-8 that the HTML reader's parts read and keep.
#include "mailview/mailtext/html/html_tokens.h"

#include <cstring>

namespace html {

CodePoint DecodeUtf8(const unsigned char* p, size_t avail, size_t* used)
{
    const unsigned char c = p[0];
    *used = 1;
    if (c < 0x80)
        return c;
    size_t need;
    CodePoint cp;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        need = 1;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        need = 2;
        cp = c & 0x0F;
        if (c == 0xE0)
            low = 0xA0;
        if (c == 0xED)
            high = 0x9F;   // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        need = 3;
        cp = c & 0x07;
        if (c == 0xF0)
            low = 0x90;
        if (c == 0xF4)
            high = 0x8F;
    } else {
        return kReplacement;
    }
    for (size_t i = 1; i <= need; ++i) {
        if (i >= avail || p[i] < low || p[i] > high)
            return kReplacement;
        cp = (cp << 6) | (p[i] & 0x3F);
        *used = i + 1;
        low = 0x80;
        high = 0xBF;
    }
    return cp;
}

bool AppendUtf8(CodePoint cp, char* buffer, size_t size, size_t* length)
{
    unsigned char bytes[4];
    size_t n;
    if (cp < 0x80) {
        bytes[0] = static_cast<unsigned char>(cp);
        n = 1;
    } else if (cp < 0x800) {
        bytes[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
        bytes[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        n = 2;
    } else if (cp < 0x10000) {
        bytes[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
        bytes[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        bytes[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        n = 3;
    } else {
        bytes[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
        bytes[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
        bytes[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        bytes[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        n = 4;
    }
    if (*length + n > size)
        return false;
    std::memcpy(buffer + *length, bytes, n);
    *length += n;
    return true;
}

}  // namespace html
