// Header fields for the pane. Encoded-words are read leniently, as mail readers do: one
// may stand inside a word of text, and adjacent words of one charset are joined before
// they are converted, since senders split a character between two of them.
#include "mailview/mailtext/headers/header_text.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "mailview/mailtext/common/ascii.h"
#include "mailview/mailtext/mime/jis_text.h"

namespace {

struct Output {
    PaneUnit* out;
    size_t room;
    size_t used;
    size_t blanks;   // held back until a character follows them: a value's ends have none
    bool full;       // a character did not fit: nothing more is written
};

void PutCodePoint(Output* o, unsigned c)
{
    if (o->full)
        return;
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
        o->blanks += o->used > 0 ? 1 : 0;
        return;
    }
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
        c = 0xFFFD;
    const size_t need = c > 0xFFFF ? 2 : 1;
    if (o->room - o->used < o->blanks + need) {
        o->full = true;
        return;
    }
    for (; o->blanks > 0; --o->blanks)
        o->out[o->used++] = ' ';
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

typedef std::basic_string<PaneUnit> Units;

void AppendCodePoint(Units* units, unsigned c)
{
    if (c > 0xFFFF) {
        units->push_back(static_cast<PaneUnit>(0xD800 + ((c - 0x10000) >> 10)));
        units->push_back(static_cast<PaneUnit>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
        units->push_back(static_cast<PaneUnit>(c));
    }
}

// A byte that is not UTF-8 stands for one U+FFFD.
void AppendUtf8(const std::string& bytes, Units* units)
{
    const unsigned char* s = reinterpret_cast<const unsigned char*>(bytes.data());
    for (size_t at = 0; at < bytes.size();) {
        unsigned c = 0xFFFD;
        const size_t length = Utf8Sequence(s + at, bytes.size() - at, &c);
        AppendCodePoint(units, c);
        at += length ? length : 1;
    }
}

// Units as the pane shows them, surrogate pairs taken whole.
void PutUnits(Output* o, const Units& units)
{
    const size_t count = units.size();
    for (size_t i = 0; i < count && !o->full; ++i) {
        unsigned c = static_cast<unsigned>(units[i]) & 0xFFFF;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && (units[i + 1] & 0xFC00) == 0xDC00)
            c = 0x10000 + ((c - 0xD800) << 10) + ((static_cast<unsigned>(units[++i]) & 0xFFFF) - 0xDC00);
        PutCodePoint(o, c);
    }
}

// False when the converter can't (nothing is appended then).
bool AppendConverted(unsigned codePage, const std::string& bytes, const HeaderConverter& converter, Units* units)
{
    if (!converter.convert)
        return false;
    if (bytes.empty())
        return true;
    // No code page of ours gives more units than bytes.
    const size_t start = units->size(), room = bytes.size() + 1;
    units->resize(start + room);
    const int count =
        converter.convert(converter.context, codePage, bytes.data(), bytes.size(), &(*units)[start], room);
    const bool done = count >= 0 && static_cast<size_t>(count) <= room;
    units->resize(done ? start + static_cast<size_t>(count) : start);
    return done;
}

enum CharsetKind { UnknownCharset, Utf8Charset, JisCharset, EucJpCharset, CodePageCharset };

struct Charset {
    CharsetKind kind;
    unsigned codePage;
};

// Two names of one charset (utf-8 and utf8, latin1 and iso-8859-1) read alike.
bool SameCharset(Charset a, Charset b)
{
    return a.kind == b.kind && a.codePage == b.codePage;
}

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

// Text in a charset; false when it can't be converted (nothing is appended then).
bool AppendInCharset(Charset charset, const std::string& bytes, const HeaderConverter& converter, Units* units)
{
    switch (charset.kind) {
    case Utf8Charset:
        AppendUtf8(bytes, units);
        return true;
    case JisCharset:
        return AppendConverted(charset.codePage, Iso2022JpToShiftJis(bytes), converter, units);
    case EucJpCharset:
        return AppendConverted(charset.codePage, EucJpToShiftJis(bytes), converter, units);
    case CodePageCharset:
        return AppendConverted(charset.codePage, bytes, converter, units);
    default:
        return false;
    }
}

// Raw text: ASCII, ISO-2022-JP when it has an escape of its own, UTF-8, else what the host
// shows; a byte nothing converts is U+FFFD.
void AppendRaw(const std::string& bytes, const HeaderConverter& converter, Units* units)
{
    bool ascii = true, jis = false;
    JisMode mode;
    for (size_t i = 0; i < bytes.size(); ++i) {
        ascii = ascii && static_cast<unsigned char>(bytes[i]) < 0x80;
        jis = jis || (bytes[i] == 0x1B && JisEscapeAt(bytes.data(), bytes.size(), i, &mode) != 0);
    }
    if (ascii && jis && AppendInCharset(Charset{JisCharset, kHostCodePage}, bytes, converter, units))
        return;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(bytes.data());
    if (ascii || ScanUtf8(s, bytes.size(), 0, NULL) == 1 || !AppendConverted(kHostCodePage, bytes, converter, units))
        AppendUtf8(bytes, units);
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
    bool word;           // an encoded-word (words joined); raw text, or a word left as written
    std::string bytes;   // a word's decoded bytes
    Charset charset;     // a word's
    Units units;         // as shown
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
    std::string name = s.substr(nameStart, p - nameStart);
    const size_t star = name.find('*');   // RFC 2231's language
    if (star != std::string::npos)
        name.erase(star);
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
    segment->charset = ReadCharsetName(name);
    if (segment->charset.kind == UnknownCharset)
        return false;
    segment->begin = at;
    segment->end = p + 2;
    segment->word = true;
    return true;
}

bool BlanksOnly(const std::string& s, size_t begin, size_t end)
{
    while (begin < end && IsBlank(s[begin]))
        ++begin;
    return begin == end;
}

// The value's segments: raw text and encoded-words, adjacent words of one charset (blanks
// between them only) joined.
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
        if (last && last->word && BlanksOnly(s, textStart, at) && SameCharset(last->charset, word.charset)) {
            last->bytes += word.bytes;
            last->end = word.end;
        } else {
            if (textStart < at)
                segments.push_back(Segment{textStart, at, false, std::string(), Charset(), Units()});
            segments.push_back(word);
        }
        at = textStart = word.end;
    }
    if (textStart < s.size())
        segments.push_back(Segment{textStart, s.size(), false, std::string(), Charset(), Units()});
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
    Output o = {out, room < bound ? room : bound, 0, 0, false};
    try {
        const Unfolded unfolded = Unfold(value, length);
        const std::string& s = unfolded.s;
        std::vector<Segment> segments = ReadSegments(unfolded);
        for (Segment& segment : segments) {
            // A word that can't be converted (the system lacks its code page) stays as
            // written, as a word of an unknown charset does, and keeps the blanks beside it.
            segment.word = segment.word && AppendInCharset(segment.charset, segment.bytes, converter, &segment.units);
            if (!segment.word)
                AppendRaw(s.substr(segment.begin, segment.end - segment.begin), converter, &segment.units);
        }
        for (size_t i = 0; i < segments.size() && !o.full; ++i) {
            const bool betweenWords = i > 0 && i + 1 < segments.size() && segments[i - 1].word && segments[i + 1].word;
            if (!(betweenWords && BlanksOnly(s, segments[i].begin, segments[i].end)))
                PutUnits(&o, segments[i].units);
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
