// What the HTML tokenizer hands the stack of open elements: code points of text, and tags
// with the few attributes the text depends on. Shared by the three parts of the HTML
// reader (tokenizer, open elements, text sink), with the UTF-8 they all read.
#pragma once
#include <cstddef>
#include <cstdint>

#include "mailview/mailtext/html/html_bounds.h"
#include "mailview/mailtext/common/pane_unit.h"

namespace html {

typedef unsigned long CodePoint;
const CodePoint kReplacement = 0xFFFD;

// One code point from at most avail bytes; *used gets the bytes taken. An ill-formed
// sequence gives U+FFFD for its maximal valid prefix, as browsers decode.
CodePoint DecodeUtf8(const unsigned char* p, size_t avail, size_t* used);

// Appends the code point's UTF-8 to buffer (room for size bytes); false when it does not fit.
bool AppendUtf8(CodePoint cp, char* buffer, size_t size, size_t* length);

inline bool IsHtmlSpace(CodePoint c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

inline bool IsAsciiDigit(int c)
{
    return c >= '0' && c <= '9';
}

// Characters a browser draws nothing for.
inline bool IsControl(CodePoint c)
{
    return (c < 0x20 && c != '\t' && c != '\n') || (c >= 0x7F && c <= 0x9F);
}

enum ValueState { kAbsent = 0, kPresent = 1, kTooLong = 2 };

template <size_t N>
struct ValueOf {
    int state;
    size_t length;
    char bytes[N];
};
typedef ValueOf<kHtmlAttributeValueBytes> Value;
typedef ValueOf<16> ShortValue;   // a list's start and type

struct Tag {
    bool end;
    bool unknownName;    // too long, or with a NUL that no element's name has
    char name[kHtmlTagNameBytes + 1];   // lower case; "" when longer than its bound
    size_t nameLength;
    int element;         // an ElementId, known once the name is read
    uint32_t digest;     // of the name, which tells apart elements outside the table
    Value value;         // an a's href, an img's alt: the one value an element's text needs
    ShortValue start;
    ShortValue type;
    bool hidden;
    bool selected;
};

}  // namespace html
