// Header fields for the pane. Encoded-words are read leniently, as mail readers do: one
// may stand inside a word of text, and adjacent words of one charset are joined before
// they are converted, since senders split a character between two of them.
#include "mailview/mailtext/header_text.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "mailview/mailtext/ascii.h"

namespace {

struct Output {
    PaneUnit* out;
    size_t room;
    size_t used;
    bool full;   // a character did not fit: nothing more is written
};

void PutCodePoint(Output* o, unsigned c)
{
    if (o->full)
        return;
    if (c == '\t' || c == '\r' || c == '\n')
        c = ' ';
    else if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
        c = 0xFFFD;
    const size_t need = c > 0xFFFF ? 2 : 1;
    if (o->room - o->used < need) {
        o->full = true;
        return;
    }
    if (need == 2) {
        o->out[o->used++] = static_cast<PaneUnit>(0xD800 + ((c - 0x10000) >> 10));
        o->out[o->used++] = static_cast<PaneUnit>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
        o->out[o->used++] = static_cast<PaneUnit>(c);
    }
}

// The length of the UTF-8 sequence at s (of n bytes) and its code point; 0 when it is not
// one (overlong forms, surrogates and code points past U+10FFFF included).
size_t Utf8Sequence(const unsigned char* s, size_t n, unsigned* c)
{
    const unsigned b = s[0];
    size_t length = b < 0x80 ? 1 : b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    if (length == 0 || length > n)
        return 0;
    unsigned value = length == 1 ? b : b & (0xFF >> (length + 1));
    for (size_t i = 1; i < length; ++i) {
        if ((s[i] & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (s[i] & 0x3F);
    }
    static const unsigned kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kLeast[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *c = value;
    return length;
}

bool IsUtf8(const std::string& bytes)
{
    const unsigned char* s = reinterpret_cast<const unsigned char*>(bytes.data());
    unsigned c;
    for (size_t at = 0; at < bytes.size();) {
        const size_t length = Utf8Sequence(s + at, bytes.size() - at, &c);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

// A byte that is not UTF-8 stands for one U+FFFD.
void PutUtf8(Output* o, const std::string& bytes)
{
    const unsigned char* s = reinterpret_cast<const unsigned char*>(bytes.data());
    for (size_t at = 0; at < bytes.size() && !o->full;) {
        unsigned c = 0xFFFD;
        const size_t length = Utf8Sequence(s + at, bytes.size() - at, &c);
        PutCodePoint(o, c);
        at += length ? length : 1;
    }
}

// Converted units, surrogate pairs taken whole.
void PutUnits(Output* o, const PaneUnit* units, size_t count)
{
    for (size_t i = 0; i < count && !o->full; ++i) {
        unsigned c = static_cast<unsigned>(units[i]) & 0xFFFF;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && (units[i + 1] & 0xFC00) == 0xDC00)
            c = 0x10000 + ((c - 0xD800) << 10) + ((static_cast<unsigned>(units[++i]) & 0xFFFF) - 0xDC00);
        PutCodePoint(o, c);
    }
}

bool PutConverted(Output* o, unsigned codePage, const std::string& bytes, const HeaderConverter& converter)
{
    if (!converter.convert)
        return false;
    if (bytes.empty())
        return true;
    // No code page of ours gives more units than bytes.
    std::vector<PaneUnit> units(bytes.size() + 1);
    const int count = converter.convert(converter.context, codePage, bytes.data(), bytes.size(), &units[0],
                                        units.size());
    if (count < 0 || static_cast<size_t>(count) > units.size())
        return false;
    PutUnits(o, &units[0], static_cast<size_t>(count));
    return true;
}

// A JIS X 0208 row and cell (0x21 to 0x7E each) as Shift_JIS bytes.
void PutShiftJis(std::string* out, unsigned row, unsigned cell)
{
    if (row < 0x21 || row > 0x7E || cell < 0x21 || cell > 0x7E) {
        out->push_back('?');
        return;
    }
    unsigned lead = (row - 0x21) / 2 + 0x81;
    if (lead >= 0xA0)
        lead += 0x40;
    unsigned trail = (row & 1) ? cell - 0x21 + 0x40 : cell - 0x21 + 0x9F;
    if ((row & 1) && trail >= 0x7F)
        ++trail;
    out->push_back(static_cast<char>(lead));
    out->push_back(static_cast<char>(trail));
}

// ISO-2022-JP (JIS X 0208 and half-width katakana shifts) as Shift_JIS, for code page 932.
std::string Iso2022JpToShiftJis(const std::string& in)
{
    enum { Ascii, Kanji, Katakana } mode = Ascii;
    std::string out;
    for (size_t i = 0; i < in.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(in[i]);
        if (c == 0x1B && i + 2 < in.size()) {
            const char a = in[i + 1], b = in[i + 2];
            if (a == '$' && (b == 'B' || b == '@')) {
                mode = Kanji;
                i += 2;
                continue;
            }
            if (a == '(' && (b == 'B' || b == 'J' || b == 'I')) {
                mode = b == 'I' ? Katakana : Ascii;
                i += 2;
                continue;
            }
        }
        if (c == '\r' || c == '\n' || mode == Ascii || c < 0x21) {
            out.push_back(static_cast<char>(c));
        } else if (mode == Katakana) {
            out.push_back(c <= 0x5F ? static_cast<char>(c + 0x80) : '?');
        } else if (i + 1 < in.size()) {
            PutShiftJis(&out, c, static_cast<unsigned char>(in[++i]));
        } else {
            out.push_back('?');
        }
    }
    return out;
}

// EUC-JP as Shift_JIS; JIS X 0212 (three bytes), which code page 932 lacks, as '?'.
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
        } else if (c == 0x8F && i + 2 < in.size()) {
            out.push_back('?');
            i += 2;
        } else if (c >= 0xA1 && c <= 0xFE && next >= 0xA1 && next <= 0xFE) {
            PutShiftJis(&out, c - 0x80u, next - 0x80u);
            ++i;
        } else {
            out.push_back('?');
        }
    }
    return out;
}

enum CharsetKind { UnknownCharset, Utf8Charset, JisCharset, EucJpCharset, CodePageCharset };

struct Charset {
    CharsetKind kind;
    unsigned codePage;
};

Charset ReadCharsetName(const std::string& name)
{
    const char* n = name.c_str();
    if (CompareNameNoCase(n, "utf-8") == 0 || CompareNameNoCase(n, "utf8") == 0 ||
        CompareNameNoCase(n, "us-ascii") == 0 || CompareNameNoCase(n, "ascii") == 0)
        return Charset{Utf8Charset, 0};
    if (CompareNameNoCase(n, "iso-2022-jp") == 0)
        return Charset{JisCharset, kHostCodePage};
    if (CompareNameNoCase(n, "euc-jp") == 0 || CompareNameNoCase(n, "x-euc-jp") == 0)
        return Charset{EucJpCharset, kHostCodePage};
    static const char* const kShiftJis[] = {"shift_jis", "shift-jis", "sjis", "x-sjis", "windows-31j", "cp932"};
    for (const char* alias : kShiftJis)
        if (CompareNameNoCase(n, alias) == 0)
            return Charset{CodePageCharset, kHostCodePage};
    const unsigned codePage = CharsetCodePage(n);
    return Charset{codePage ? CodePageCharset : UnknownCharset, codePage};
}

// Text in a charset; false when it can't be converted (nothing is written then).
bool PutInCharset(Output* o, Charset charset, const std::string& bytes, const HeaderConverter& converter)
{
    switch (charset.kind) {
    case Utf8Charset:
        PutUtf8(o, bytes);
        return true;
    case JisCharset:
        return PutConverted(o, charset.codePage, Iso2022JpToShiftJis(bytes), converter);
    case EucJpCharset:
        return PutConverted(o, charset.codePage, EucJpToShiftJis(bytes), converter);
    case CodePageCharset:
        return PutConverted(o, charset.codePage, bytes, converter);
    default:
        return false;
    }
}

// Raw text: ASCII, JIS escapes, UTF-8, else what the host shows; a byte nothing converts
// is U+FFFD.
void PutRaw(Output* o, const std::string& bytes, const HeaderConverter& converter)
{
    bool ascii = true;
    for (char c : bytes)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii && bytes.find("\x1B$") != std::string::npos &&
        PutInCharset(o, Charset{JisCharset, kHostCodePage}, bytes, converter))
        return;
    if (ascii || IsUtf8(bytes) || !PutConverted(o, kHostCodePage, bytes, converter))
        PutUtf8(o, bytes);
}

int Base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    return c == '+' ? 62 : c == '/' ? 63 : -1;
}

// Base64 with or without its padding; false for any other character, padding inside the
// text, or a length that leaves one character over.
bool DecodeB(const char* text, size_t length, std::string* bytes)
{
    size_t end = length;
    while (end > 0 && text[end - 1] == '=' && length - end < 2)
        --end;
    if (end % 4 == 1 || (length != end && length % 4 != 0))
        return false;
    unsigned bits = 0;
    int held = 0;
    for (size_t i = 0; i < end; ++i) {
        const int value = Base64Value(text[i]);
        if (value < 0)
            return false;
        bits = (bits << 6) | static_cast<unsigned>(value);
        held += 6;
        if (held >= 8) {
            held -= 8;
            bytes->push_back(static_cast<char>((bits >> held) & 0xFF));
        }
    }
    return true;
}

// Q: '_' is a space, =XX a byte; an '=' without two hexadecimal digits stays as written.
void DecodeQ(const char* text, size_t length, std::string* bytes)
{
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == '_') {
            bytes->push_back(' ');
        } else if (text[i] == '=' && i + 2 < length && HexDigitValue(static_cast<unsigned char>(text[i + 1])) >= 0 &&
                   HexDigitValue(static_cast<unsigned char>(text[i + 2])) >= 0) {
            bytes->push_back(static_cast<char>(HexDigitValue(static_cast<unsigned char>(text[i + 1])) * 16 +
                                               HexDigitValue(static_cast<unsigned char>(text[i + 2]))));
            i += 2;
        } else {
            bytes->push_back(text[i]);
        }
    }
}

struct Segment {
    size_t begin, end;   // the span of the unfolded value it was read from
    bool word;
    std::string bytes;   // a word's decoded bytes, or raw text
    std::string charset; // a word's charset name, its language left out
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// A field's value unfolded; folded marks the blanks that followed a line break.
struct Unfolded {
    std::string s;
    std::vector<bool> folded;
};

// An encoded-word at s[at]: "=?charset?B|Q?text?=", its text without blanks but those of a
// fold, which are left out (a folder that breaks a word gives them); the word is decoded
// into segment. False when there is none there, or it does not decode.
bool ReadEncodedWord(const Unfolded& value, size_t at, Segment* segment)
{
    const std::string& s = value.s;
    if (s.compare(at, 2, "=?") != 0)
        return false;
    size_t p = at + 2;
    const size_t nameStart = p;
    while (p < s.size() && s[p] != '?' && static_cast<unsigned char>(s[p]) > 0x20 && static_cast<unsigned char>(s[p]) < 0x7F)
        ++p;
    if (p == nameStart || p + 2 >= s.size() || s[p] != '?' || s[p + 2] != '?')
        return false;
    const char encoding = static_cast<char>(ToUpperAscii(static_cast<unsigned char>(s[p + 1])));
    if (encoding != 'B' && encoding != 'Q')
        return false;
    std::string charset = s.substr(nameStart, p - nameStart);
    const size_t star = charset.find('*');   // RFC 2231's language
    if (star != std::string::npos)
        charset.erase(star);
    // Raw 8-bit bytes in the text are taken as the charset's own: some senders leave them.
    std::string text;
    for (p += 3; p < s.size() && s[p] != '?'; ++p) {
        if (value.folded[p])
            continue;
        if (static_cast<unsigned char>(s[p]) <= 0x20 || s[p] == 0x7F)
            return false;
        text.push_back(s[p]);
    }
    if (p + 1 >= s.size() || s[p] != '?' || s[p + 1] != '=')
        return false;
    segment->bytes.clear();
    if (encoding == 'B' && !DecodeB(text.data(), text.size(), &segment->bytes))
        return false;
    if (encoding == 'Q')
        DecodeQ(text.data(), text.size(), &segment->bytes);
    if (ReadCharsetName(charset).kind == UnknownCharset)
        return false;
    segment->begin = at;
    segment->end = p + 2;
    segment->word = true;
    segment->charset.swap(charset);
    return true;
}

// The value's segments: raw text and encoded-words, the blanks between two words left out
// and adjacent words of one charset joined.
std::vector<Segment> ReadSegments(const Unfolded& value)
{
    const std::string& s = value.s;
    std::vector<Segment> segments;
    Segment word;
    size_t textStart = 0;
    for (size_t at = 0; at < s.size();) {
        if (s[at] != '=' || !ReadEncodedWord(value, at, &word)) {
            ++at;
            continue;
        }
        Segment* last = segments.empty() ? NULL : &segments.back();
        bool blanksOnly = true;
        for (size_t i = textStart; i < at; ++i)
            blanksOnly = blanksOnly && IsBlank(s[i]);
        if (textStart < at && !(blanksOnly && last && last->word))
            segments.push_back(Segment{textStart, at, false, s.substr(textStart, at - textStart), std::string()});
        last = segments.empty() ? NULL : &segments.back();
        if (last && last->word && last->end <= textStart && CompareNameNoCase(last->charset.c_str(), word.charset.c_str()) == 0) {
            last->bytes += word.bytes;
            last->end = word.end;
        } else {
            segments.push_back(word);
        }
        at = textStart = word.end;
    }
    if (textStart < s.size())
        segments.push_back(Segment{textStart, s.size(), false, s.substr(textStart), std::string()});
    return segments;
}

// The value unfolded, blanks around it trimmed, its first kHeaderFieldBytes bytes only
// (a UTF-8 character cut there left out whole).
Unfolded Unfold(const char* value, size_t length)
{
    Unfolded u;
    std::string& s = u.s;
    bool fold = false;
    for (size_t i = 0; i < length && s.size() < kHeaderFieldBytes; ++i) {
        fold = value[i] == '\r' || value[i] == '\n' || (fold && IsBlank(value[i]));
        if (value[i] != '\r' && value[i] != '\n') {
            s.push_back(value[i]);
            u.folded.push_back(fold);
        }
    }
    if (s.size() == kHeaderFieldBytes) {
        size_t back = s.size();
        while (back > 0 && s.size() - back < 3 && (static_cast<unsigned char>(s[back - 1]) & 0xC0) == 0x80)
            --back;
        if (back > 0 && static_cast<unsigned char>(s[back - 1]) >= 0xC0) {
            unsigned c;
            const unsigned char* tail = reinterpret_cast<const unsigned char*>(s.data()) + back - 1;
            if (Utf8Sequence(tail, s.size() - back + 1, &c) == 0)
                s.resize(back - 1);
        }
    }
    size_t begin = 0, end = s.size();
    while (begin < end && IsBlank(s[begin]))
        ++begin;
    while (end > begin && IsBlank(s[end - 1]))
        --end;
    s = s.substr(begin, end - begin);
    u.folded = std::vector<bool>(u.folded.begin() + static_cast<long>(begin), u.folded.begin() + static_cast<long>(end));
    return u;
}

// The value of the header's first field of that name, up to its last line's end; false
// when the header (to its first empty line) has none.
bool FindField(const char* header, const char* name, const char** value, size_t* length)
{
    const size_t nameLength = std::strlen(name);
    for (const char* line = header; *line && *line != '\n' && !(line[0] == '\r' && line[1] == '\n');) {
        const char* p = line;
        if (ComparePrefixNoCase(line, name) == 0) {
            p += nameLength;
            while (IsBlank(*p))
                ++p;
            if (*p == ':') {
                *value = ++p;
                while (*p && !(*p == '\n' && !IsBlank(p[1])))
                    ++p;
                *length = static_cast<size_t>(p - *value);
                return true;
            }
        }
        while (*p && *p != '\n')
            ++p;
        line = *p ? p + 1 : p;
    }
    return false;
}

}  // namespace

size_t DecodeHeaderField(const char* value, size_t length, PaneUnit* out, size_t room,
                         const HeaderConverter& converter)
{
    if (!value || !out)
        return 0;
    const size_t bound = kHeaderFieldUnits;
    Output o = {out, room < bound ? room : bound, 0, false};
    try {
        const Unfolded unfolded = Unfold(value, length);
        const std::string& s = unfolded.s;
        const std::vector<Segment> segments = ReadSegments(unfolded);
        for (const Segment& segment : segments) {
            if (o.full)
                break;
            // A word that can't be converted (the system lacks its code page) stays as written.
            if (!segment.word || !PutInCharset(&o, ReadCharsetName(segment.charset), segment.bytes, converter))
                PutRaw(&o, s.substr(segment.begin, segment.end - segment.begin), converter);
        }
    } catch (const std::bad_alloc&) {
        // What was written stands.
    }
    return o.used;
}

size_t HeaderBlockText(const char* headerText, PaneUnit* out, size_t room, const HeaderConverter& converter)
{
    if (!headerText || !out)
        return 0;
    static const char* const kNames[] = {"From", "To", "Cc", "Subject", "Date"};
    size_t used = 0;
    for (const char* name : kNames) {
        const char* value;
        size_t length;
        if (!FindField(headerText, name, &value, &length))
            continue;
        const size_t label = std::strlen(name) + 2;
        // The line's end and the block's empty line must fit as well.
        if (room - used < label + 2)
            break;
        for (size_t i = 0; i < label; ++i)
            out[used + i] = static_cast<PaneUnit>(i + 2 < label ? name[i] : i + 2 == label ? ':' : ' ');
        used += label;
        used += DecodeHeaderField(value, length, out + used, room - used - 2, converter);
        out[used++] = '\n';
    }
    if (used > 0)
        out[used++] = '\n';
    return used;
}
