#include "mailview/mailtext/mime/jis_text.h"

#include <cstring>

namespace {

// A JIS X 0208 row and cell (0x21 to 0x7E each) as Shift_JIS bytes.
void PutShiftJis(std::string* out, unsigned row, unsigned cell)
{
    if (row < 0x21 || row > 0x7E || cell < 0x21 || cell > 0x7E) {
        out->push_back('?');
        return;
    }
    // Two rows of 94 to a lead byte; an odd row's cells from 0x40 (0x7F left out), an even
    // row's from 0x9F.
    unsigned lead = (row - 0x21) / 2 + 0x81;
    if (lead >= 0xA0)
        lead += 0x40;
    unsigned trail = (row & 1) ? cell - 0x21 + 0x40 : cell - 0x21 + 0x9F;
    if ((row & 1) && trail >= 0x7F)
        ++trail;
    out->push_back(static_cast<char>(lead));
    out->push_back(static_cast<char>(trail));
}

const struct {
    const char* bytes;
    JisMode mode;
} kEscapes[] = {{"\x1B(B", JisAscii},  {"\x1B(J", JisAscii},  {"\x1B(I", JisKatakana},
                {"\x1B$@", JisKanji}, {"\x1B$B", JisKanji}, {"\x1B$(D", JisSupplement}};

// Whether the bytes from at to the end could begin an escape that the next piece completes.
bool CutEscape(const char* s, size_t length, size_t at)
{
    for (const auto& escape : kEscapes)
        if (std::strncmp(s + at, escape.bytes, length - at) == 0)
            return true;
    return false;
}

bool IsEucByte(unsigned char c)
{
    return c >= 0xA1 && c <= 0xFE;
}

}  // namespace

size_t JisEscapeAt(const char* s, size_t length, size_t at, JisMode* mode)
{
    for (const auto& escape : kEscapes) {
        const size_t size = std::strlen(escape.bytes);
        if (length - at >= size && std::memcmp(s + at, escape.bytes, size) == 0) {
            *mode = escape.mode;
            return size;
        }
    }
    return 0;
}

void JisToShiftJis::Read(const char* bytes, size_t length, bool final, std::string* out)
{
    held_.append(bytes, length);
    const char* s = held_.data();
    const size_t size = held_.size();
    size_t at = 0;
    while (at < size) {
        const size_t escape = JisEscapeAt(s, size, at, &mode_);
        if (escape) {
            at += escape;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(s[at]);
        if (!final && ((c == 0x1B && CutEscape(s, size, at)) ||
                       (c >= 0x21 && at + 1 == size && (mode_ == JisKanji || mode_ == JisSupplement))))
            break;
        if (mode_ == JisAscii || c < 0x21) {
            out->push_back(static_cast<char>(c));
        } else if (mode_ == JisKatakana) {
            out->push_back(c <= 0x5F ? static_cast<char>(c + 0x80) : '?');
        } else if (at + 1 < size) {
            const unsigned char cell = static_cast<unsigned char>(s[++at]);
            if (mode_ == JisSupplement)
                out->push_back('?');
            else
                PutShiftJis(out, c, cell);
        } else {
            out->push_back('?');
        }
        ++at;
    }
    held_.erase(0, at);
}

std::string Iso2022JpToShiftJis(const std::string& in)
{
    std::string out;
    JisToShiftJis().Read(in.data(), in.size(), true, &out);
    return out;
}

std::string EucJpToShiftJis(const std::string& in)
{
    std::string out;
    for (size_t i = 0; i < in.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(in[i]);
        const unsigned char next = i + 1 < in.size() ? static_cast<unsigned char>(in[i + 1]) : 0;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c == 0x8E && next >= 0xA1 && next <= 0xDF) {
            out.push_back(static_cast<char>(next));
            ++i;
        } else if (c == 0x8F && IsEucByte(next) && i + 2 < in.size() &&
                   IsEucByte(static_cast<unsigned char>(in[i + 2]))) {
            out.push_back('?');
            i += 2;
        } else if (IsEucByte(c) && IsEucByte(next)) {
            PutShiftJis(&out, c - 0x80u, next - 0x80u);
            ++i;
        } else {
            out.push_back('?');
        }
    }
    return out;
}
