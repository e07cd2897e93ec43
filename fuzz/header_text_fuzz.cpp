// DecodeHeaderField and HeaderBlockText on arbitrary bytes, the first byte choosing the room
// (odd: 1 to 128 units, cuts met often); every code page but 54936 read a byte a unit.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "mailview/mailtext/headers/header_text.h"

namespace {

const PaneUnit kUntouched = static_cast<PaneUnit>(0xFFFE);

int ByteAUnit(void*, unsigned codePage, const char* bytes, size_t length, PaneUnit* out, size_t room)
{
    if (codePage == 54936 || length > room)
        return -1;
    for (size_t i = 0; i < length; ++i)
        out[i] = static_cast<PaneUnit>(static_cast<unsigned char>(bytes[i]) | 0x100);
    return static_cast<int>(length);
}

// Valid UTF-16, no control but the block's line ends, nothing past the text or a bound.
std::string Check(const std::vector<PaneUnit>& out, size_t written, bool block)
{
    if (written > out.size() - 1)
        return "written past the room";
    for (size_t i = written; i < out.size(); ++i)
        if (out[i] != kUntouched)
            return "unit " + std::to_string(i) + " beyond the text was written";
    size_t line = 0;   // units since the last line end; "Subject: " is the longest label
    for (size_t i = 0; i < written; ++i) {
        const unsigned c = static_cast<unsigned>(out[i]) & 0xFFFF;
        if (c == '\n' && block) {
            line = 0;
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < written && (out[i + 1] & 0xFC00) == 0xDC00)
            ++i, ++line;
        else if (c >= 0xD800 && c <= 0xDFFF)
            return "a lone surrogate at " + std::to_string(i);
        else if (c < 0x20 || (c >= 0x7F && c <= 0x9F))
            return "control character " + std::to_string(c) + " at " + std::to_string(i);
        if (++line > kHeaderFieldUnits + (block ? 9 : 0))
            return "a line past the field's bound at " + std::to_string(i);
    }
    if (!block && written > 0 && (out[0] == ' ' || out[written - 1] == ' '))
        return "a blank at the value's end";
    if (block && written > 0 && (written < 2 || out[written - 1] != '\n' || out[written - 2] != '\n'))
        return "a block without its empty line";
    return "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t room = (data[0] & 1) ? 1 + (data[0] >> 1) : kHeaderBlockUnits;
    const HeaderConverter converter = {ByteAUnit, NULL};
    // Blocks of exactly the input's bytes: a read past them is the sanitizer's to find.
    std::vector<PaneUnit> out(room + 1, kUntouched);
    const char* value = reinterpret_cast<const char*>(data) + 1;
    FuzzReport(Check(out, DecodeHeaderField(value, size - 1, &out[0], room, converter), false));
    std::unique_ptr<char[]> text(new char[size]);
    std::memcpy(text.get(), data + 1, size - 1);
    text[size - 1] = '\0';
    out.assign(room + 1, kUntouched);
    FuzzReport(Check(out, HeaderBlockText(text.get(), &out[0], room, converter), true));
    return 0;
}
