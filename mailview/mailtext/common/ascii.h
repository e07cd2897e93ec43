// Byte helpers shared by the mail-text sources: ASCII case folding as in the C locale,
// without the locale and without sign trouble for bytes above 0x7F.
#pragma once
#include <cstddef>

inline int ToUpperAscii(int c)
{
    return (c >= 'a' && c <= 'z') ? c - ('a' - 'A') : c;
}

inline int ToLowerAscii(int c)
{
    return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
}

inline bool IsAsciiLetter(int c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A text byte against a pattern byte: letters of the pattern match either case, every
// other byte only itself.
inline bool MatchesNoCase(unsigned char text, unsigned char pattern)
{
    if (IsAsciiLetter(pattern))
        return ToUpperAscii(text) == ToUpperAscii(pattern);
    return text == pattern;
}

// 0 to 15 for a hexadecimal digit of either case, -1 otherwise.
inline int HexDigitValue(int character)
{
    const int c = ToUpperAscii(character);
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
