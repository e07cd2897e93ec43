// HTML to the pane's text. One pass over the bytes, which may come in pieces: markup is
// tokenized as HTML5 does (comments, raw text elements, attribute quoting, character
// references), and the text goes through a sink that collapses blanks, keeps at most one
// empty line between blocks, and holds the pane's bounds. No tree is built: the few open
// elements that change the text (pre, template, lists, a link, a select, hidden content)
// are counted or kept in fixed arrays.
#include "mailview/mailtext/html_text.h"

#include <cstring>
#include <new>

#include "mailview/mailtext/ascii.h"
#include "mailview/mailtext/html_entities.h"
#include "mailview/mailtext/mail_text.h"

namespace {

typedef unsigned long CodePoint;
const CodePoint kReplacement = 0xFFFD;

// ---- UTF-8 ----------------------------------------------------------------------------

// One code point from at most avail bytes; *used gets the bytes taken. An ill-formed
// sequence gives U+FFFD for its maximal valid prefix, as browsers decode.
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

// Appends the code point's UTF-8 to buffer (room for size bytes); false when it does not fit.
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

bool IsHtmlSpace(CodePoint c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

bool IsAsciiDigit(int c)
{
    return c >= '0' && c <= '9';
}

bool IsAsciiAlnum(int c)
{
    return IsAsciiLetter(c) || IsAsciiDigit(c);
}

// ---- Character references ---------------------------------------------------------------

const size_t kReferenceDigits = 32;

// What numeric references to 0x80-0x9F stand for: windows-1252, as HTML5 says.
const unsigned short kWindows1252[32] = {
    0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};

// The table's entry for the name of length bytes; -1 when there is none.
int FindEntity(const unsigned char* name, size_t length)
{
    int low = 0, high = kHtmlEntityCount - 1;
    while (low <= high) {
        const int mid = low + (high - low) / 2;
        const char* entry = kHtmlEntityNames + kHtmlEntityOffsets[mid];
        const size_t entryLength = static_cast<size_t>(kHtmlEntityOffsets[mid + 1] - kHtmlEntityOffsets[mid]);
        const size_t common = entryLength < length ? entryLength : length;
        int order = std::memcmp(name, entry, common);
        if (order == 0)
            order = length < entryLength ? -1 : (length > entryLength ? 1 : 0);
        if (order == 0)
            return mid;
        if (order < 0)
            high = mid - 1;
        else
            low = mid + 1;
    }
    return -1;
}

// A character reference at p (just past its '&', avail bytes on): the bytes it takes and
// its one or two code points in cps, or 0 when the '&' is only itself. In an attribute a
// legacy name without ';' that '=' or a letter or digit follows is no reference.
size_t ReadCharacterReference(const unsigned char* p, size_t avail, bool inAttribute, CodePoint cps[2], int* count)
{
    *count = 1;
    if (avail > 0 && p[0] == '#') {
        size_t at = 1;
        const bool hex = at < avail && (p[at] == 'x' || p[at] == 'X');
        if (hex)
            ++at;
        const size_t digitsAt = at;
        CodePoint value = 0;
        // Only the first digits are read, so that a reference is decided within the bytes a
        // piece leaves for the next (no real reference has more; its value is out of range).
        for (; at < avail && at - digitsAt < kReferenceDigits; ++at) {
            int digit = hex ? HexDigitValue(p[at]) : (IsAsciiDigit(p[at]) ? p[at] - '0' : -1);
            if (digit < 0)
                break;
            value = value * (hex ? 16 : 10) + static_cast<CodePoint>(digit);
            if (value > 0x10FFFF)
                value = 0x110000;   // stays out of range, never overflows
        }
        if (at == digitsAt)
            return 0;   // "&#" or "&#x" without digits: as written
        if (at < avail && p[at] == ';')
            ++at;
        if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            value = kReplacement;
        else if (value >= 0x80 && value <= 0x9F)
            value = kWindows1252[value - 0x80];
        cps[0] = value;
        return at;
    }
    size_t run = 0;
    while (run < avail && run <= static_cast<size_t>(kHtmlEntityLongestName) && IsAsciiAlnum(p[run]))
        ++run;
    if (run == 0)
        return 0;
    int entry = -1;
    size_t taken = 0;
    if (run < avail && p[run] == ';') {
        entry = FindEntity(p, run);
        taken = run + 1;
    }
    if (entry < 0) {
        // The longest legacy name that begins the run.
        size_t k = run < static_cast<size_t>(kHtmlEntityLongestLegacyName) ? run : kHtmlEntityLongestLegacyName;
        for (; k >= 2 && entry < 0; --k) {
            const int found = FindEntity(p, k);
            if (found >= 0 && (kHtmlEntityValues[found] >> 21 & 1)) {
                entry = found;
                taken = k;
            }
        }
        if (entry < 0)
            return 0;   // an unknown name stays as written
        if (inAttribute && taken < avail && (p[taken] == '=' || IsAsciiAlnum(p[taken])))
            return 0;
    }
    const unsigned long value = kHtmlEntityValues[entry];
    cps[0] = value & 0x1FFFF;
    const unsigned long second = value >> 17 & 0xF;
    if (second) {
        cps[1] = kHtmlEntitySecond[second];
        *count = 2;
    }
    return taken;
}

// ---- The element table ------------------------------------------------------------------

enum Kind {
    kInline,
    kBlock,       // ends lines
    kWide,        // ends lines with an empty line between
    kParagraph,
    kList,
    kItem,
    kTerm,        // dt, dd: lines, and they close an open p
    kRow,
    kCell,
    kBreak,
    kPre,
    kLink,
    kImage,
    kHtml,
    kHead,
    kBody,
    kTemplate,
    kHeadItem,    // void elements of the head, and noscript: they leave the head open
    kHidden,      // raw text whose contents are never shown
    kTextarea,    // escapable raw text, shown as written
    kXmp,         // raw text, shown as written
    kPlaintext,   // everything after it is text
    kSelect,      // shows one option's text
    kOption,
    kOptgroup,
};

struct Element {
    const char* name;
    Kind kind;
};

// Sorted by name. noscript's contents are shown: a mail reader runs no script, so it
// shows what a browser without scripts shows (the sender's fall-back for such readers).
const Element kElements[] = {
    {"a", kLink},          {"address", kBlock},   {"article", kBlock},   {"aside", kBlock},
    {"base", kHeadItem},   {"basefont", kHeadItem}, {"bgsound", kHeadItem}, {"blockquote", kWide},
    {"body", kBody},       {"br", kBreak},        {"caption", kBlock},   {"center", kBlock},
    {"dd", kTerm},         {"details", kBlock},   {"dialog", kBlock},    {"dir", kList},
    {"div", kBlock},       {"dl", kWide},         {"dt", kTerm},         {"fieldset", kBlock},
    {"figcaption", kBlock}, {"figure", kWide},    {"footer", kBlock},    {"form", kBlock},
    {"h1", kWide},         {"h2", kWide},         {"h3", kWide},         {"h4", kWide},
    {"h5", kWide},         {"h6", kWide},         {"head", kHead},       {"header", kBlock},
    {"hgroup", kBlock},    {"hr", kWide},         {"html", kHtml},       {"iframe", kHidden},
    {"img", kImage},       {"legend", kBlock},    {"li", kItem},         {"link", kHeadItem},
    {"listing", kPre},     {"main", kBlock},      {"menu", kList},       {"meta", kHeadItem},
    {"nav", kBlock},       {"noembed", kHidden},  {"noframes", kHidden}, {"noscript", kHeadItem},
    {"ol", kList},         {"optgroup", kOptgroup}, {"option", kOption}, {"p", kParagraph},     {"plaintext", kPlaintext}, {"pre", kPre},
    {"script", kHidden},   {"search", kBlock},    {"section", kBlock},   {"select", kSelect},   {"style", kHidden},
    {"summary", kBlock},   {"table", kBlock},     {"td", kCell},         {"template", kTemplate},
    {"textarea", kTextarea}, {"th", kCell},       {"title", kHidden},    {"tr", kRow},
    {"ul", kList},         {"xmp", kXmp},
};

Kind ElementKind(const char* name)
{
    int low = 0, high = static_cast<int>(sizeof kElements / sizeof kElements[0]) - 1;
    while (low <= high) {
        const int mid = low + (high - low) / 2;
        const int order = std::strcmp(name, kElements[mid].name);
        if (order == 0)
            return kElements[mid].kind;
        if (order < 0)
            high = mid - 1;
        else
            low = mid + 1;
    }
    return kInline;
}

// ---- Tags -------------------------------------------------------------------------------

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
    char name[kHtmlTagNameBytes + 1];   // lower case; "" when longer than its bound
    size_t nameLength;
    bool unknownName;   // too long, or with a NUL that no element's name has
    Value href;
    Value alt;
    ShortValue start;
    ShortValue type;
    bool hidden;
    bool selected;
};

// Where the value being read goes, when it is kept.
struct Slot {
    int* state;
    size_t* length;
    char* bytes;
    size_t size;
};

template <size_t N>
void Bind(Slot* slot, ValueOf<N>* value)
{
    value->state = kPresent;
    value->length = 0;
    slot->state = &value->state;
    slot->length = &value->length;
    slot->bytes = value->bytes;
    slot->size = N;
}

bool IsTagEnd(unsigned char c)
{
    return IsHtmlSpace(c) || c == '/' || c == '>';
}

// ---- The text sink ----------------------------------------------------------------------

struct ListLevel {
    bool ordered;
    char style;   // '1', 'a', 'A', 'i' or 'I', as the type attribute says
    long next;
};

enum { kOptionUnits = 256 };   // an option's text shown for its select
const long kListNumberBound = 999999999L;

struct Converter {
    // Output and its bounds.
    PaneUnit* out;
    size_t capacity;
    size_t maxLine;
    size_t used;
    size_t column;       // units in the current line
    size_t afterBlank;   // just past the line's last blank; 0: none
    bool cut;
    // What the next text is preceded by.
    size_t pendingBreaks;
    size_t pendingTabs;
    bool pendingSpace;
    PaneUnit marker[2 * kHtmlListIndentLevels + 32];
    size_t markerLength;
    // Open elements that change the text.
    bool inHead;
    bool bodyStarted;
    bool paragraphOpen;
    bool skipNewline;   // a line feed right after <pre> belongs to the tag
    int preDepth;
    int templateDepth;
    int listDepth;
    ListLevel lists[kHtmlListLevels];
    int linkState;      // 0: none; 1: open, no text yet; 2: its text begins at linkStart
    size_t linkStart;
    Value link;
    // An element with the hidden attribute: its name, kind, and open elements of that name.
    int hiddenDepth;
    int hiddenKind;
    char hiddenName[kHtmlTagNameBytes + 1];
    // An open select: the text of the option it shows, kept until it ends.
    bool inSelect;
    bool capturing;
    bool hadOption;
    bool optionSpace;
    size_t optionLength;
    CodePoint option[kOptionUnits];
    // The tokenizer, kept from one piece of the part to the next.
    bool begun;          // the byte order mark looked at
    int mode;
    int tagState;
    Tag tag;
    char attribute[16];
    size_t attributeLength;
    bool longAttribute;
    unsigned char quote;
    bool keeping;
    Slot kept;
    int rawKind;
    bool commentStart;
};

// Characters a browser draws nothing for.
bool IsControl(CodePoint c)
{
    return (c < 0x20 && c != '\t' && c != '\n') || (c >= 0x7F && c <= 0x9F);
}

bool IsBlankUnit(CodePoint c)
{
    return c == ' ' || c == '\t' || c == 0x3000;
}

// Writes one code point, breaking a line that would grow past maxLine as BodyToPaneText
// does: after the line's last blank when that lies in its last eighth, else right there.
void Put(Converter* s, CodePoint cp)
{
    if (s->cut)
        return;
    const size_t units = cp > 0xFFFF ? 2 : 1;
    if (cp == '\n') {
        if (s->used + 1 > s->capacity) {
            s->cut = true;
            return;
        }
        s->out[s->used++] = '\n';
        s->column = 0;
        s->afterBlank = 0;
        return;
    }
    const bool breakLine = s->maxLine >= 2 && s->column > 0 && s->column + units > s->maxLine;
    if (s->used + units + (breakLine ? 1 : 0) > s->capacity) {
        s->cut = true;
        return;
    }
    if (breakLine) {
        size_t at = s->used;
        if (s->afterBlank && s->used - s->afterBlank < s->maxLine / 8)
            at = s->afterBlank;
        std::memmove(s->out + at + 1, s->out + at, (s->used - at) * sizeof(PaneUnit));
        s->out[at] = '\n';
        ++s->used;
        s->column = s->used - (at + 1);
        s->afterBlank = 0;
        if (s->linkState == 2 && at <= s->linkStart)
            ++s->linkStart;
    }
    if (units == 2) {
        s->out[s->used++] = static_cast<PaneUnit>(0xD800 + ((cp - 0x10000) >> 10));
        s->out[s->used++] = static_cast<PaneUnit>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
        s->out[s->used++] = static_cast<PaneUnit>(cp);
    }
    s->column += units;
    if (IsBlankUnit(cp))
        s->afterBlank = s->used;
}

// Writes what the next text is preceded by: the line ends, a cell's tabs or a blank, and
// a list item's marker. Nothing precedes the first text.
void Flush(Converter* s)
{
    if (s->used == 0) {
        s->pendingBreaks = 0;
    } else if (s->pendingBreaks) {
        for (size_t i = 0; i < s->pendingBreaks && !s->cut; ++i)
            Put(s, '\n');
    } else if (s->pendingTabs && s->column > 0) {
        for (size_t i = 0; i < s->pendingTabs && !s->cut; ++i)
            Put(s, '\t');
    } else if (s->pendingSpace) {
        Put(s, ' ');
    }
    s->pendingBreaks = 0;
    s->pendingTabs = 0;
    s->pendingSpace = false;
    for (size_t i = 0; i < s->markerLength; ++i)
        Put(s, s->marker[i]);
    s->markerLength = 0;
    if (s->linkState == 1) {
        s->linkState = 2;
        s->linkStart = s->used;
    }
}

bool Preformatted(const Converter* s)
{
    return s->preDepth > 0;
}

// One code point of text. Blanks collapse outside pre; control characters are not shown.
void Emit(Converter* s, CodePoint cp, bool preformatted)
{
    if (s->cut || s->templateDepth > 0 || s->hiddenDepth > 0)
        return;
    if (s->inSelect) {
        // An option's text as a browser labels it: blanks collapsed, none at its ends.
        if (!s->capturing || IsControl(cp))
            return;
        if (IsHtmlSpace(cp)) {
            s->optionSpace = s->optionLength > 0;
            return;
        }
        if (s->optionSpace && s->optionLength < kOptionUnits)
            s->option[s->optionLength++] = ' ';
        s->optionSpace = false;
        if (s->optionLength < kOptionUnits)
            s->option[s->optionLength++] = cp;
        return;
    }
    if (IsHtmlSpace(cp)) {
        if (s->inHead)
            return;
        if (preformatted) {
            if (cp == '\n' || cp == '\r') {
                ++s->pendingBreaks;
                s->pendingTabs = 0;
                s->pendingSpace = false;
            } else {
                Flush(s);
                Put(s, cp == '\t' ? '\t' : ' ');
            }
        } else if (s->column > 0 && s->pendingBreaks == 0 && s->pendingTabs == 0 && s->markerLength == 0) {
            s->pendingSpace = true;
        }
        return;
    }
    if (IsControl(cp))
        return;
    s->inHead = false;
    s->bodyStarted = true;
    Flush(s);
    Put(s, cp);
}

// Asks for line ends before the next text: blocks raise the count, never add to it.
void RequestBreaks(Converter* s, size_t count)
{
    if (s->pendingBreaks < count)
        s->pendingBreaks = count;
    s->pendingSpace = false;
    s->pendingTabs = 0;
}

// A <br> adds a line end: two in a row leave an empty line, as in a browser; but, as
// between blocks, never more than one empty line in a row (pre's own lines excepted).
void LineBreak(Converter* s)
{
    if (s->used > 0 && s->pendingBreaks < 2)
        ++s->pendingBreaks;
    s->pendingSpace = false;
    s->pendingTabs = 0;
}

// ---- Links ------------------------------------------------------------------------------

// True when the units are the UTF-8 text (ill-formed bytes read as U+FFFD).
bool UnitsEqualUtf8(const PaneUnit* units, size_t count, const char* text, size_t length)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    for (size_t at = 0; at < length;) {
        size_t used;
        const CodePoint cp = DecodeUtf8(p + at, length - at, &used);
        at += used;
        if (cp > 0xFFFF) {
            if (i + 2 > count || units[i] != static_cast<PaneUnit>(0xD800 + ((cp - 0x10000) >> 10)) ||
                units[i + 1] != static_cast<PaneUnit>(0xDC00 + ((cp - 0x10000) & 0x3FF)))
                return false;
            i += 2;
        } else {
            if (i >= count || units[i] != static_cast<PaneUnit>(cp))
                return false;
            ++i;
        }
    }
    return i == count;
}

size_t PrefixLength(const char* text, size_t length, const char* prefix)
{
    const size_t n = std::strlen(prefix);
    if (length < n)
        return 0;
    for (size_t i = 0; i < n; ++i)
        if (!MatchesNoCase(static_cast<unsigned char>(text[i]), static_cast<unsigned char>(prefix[i])))
            return 0;
    return n;
}

// The link's text says its address when it is the address, or the address without its
// scheme, either with or without a final '/'.
bool TextSaysAddress(const PaneUnit* units, size_t count, const Value& address)
{
    const char* text = address.bytes;
    size_t skips[2] = {0, PrefixLength(text, address.length, "mailto:")};
    if (!skips[1])
        skips[1] = PrefixLength(text, address.length, "http://");
    if (!skips[1])
        skips[1] = PrefixLength(text, address.length, "https://");
    for (size_t skip : skips) {
        size_t length = address.length - skip;
        if (UnitsEqualUtf8(units, count, text + skip, length))
            return true;
        if (length > 1 && text[skip + length - 1] == '/' && UnitsEqualUtf8(units, count, text + skip, length - 1))
            return true;
    }
    return false;
}

// Keeps an http, https or mailto address, with what URL parsing removes taken out:
// surrounding blanks and controls, tabs and line ends anywhere.
void OpenLink(Converter* s, const Value& href)
{
    s->linkState = 0;
    if (href.state != kPresent)
        return;
    size_t begin = 0, end = href.length;
    while (begin < end && static_cast<unsigned char>(href.bytes[begin]) <= ' ')
        ++begin;
    while (end > begin && static_cast<unsigned char>(href.bytes[end - 1]) <= ' ')
        --end;
    s->link.length = 0;
    for (size_t i = begin; i < end; ++i)
        if (href.bytes[i] != '\t' && href.bytes[i] != '\n' && href.bytes[i] != '\r')
            s->link.bytes[s->link.length++] = href.bytes[i];
    const char* a = s->link.bytes;
    const size_t n = s->link.length;
    if (PrefixLength(a, n, "http:") || PrefixLength(a, n, "https:") || PrefixLength(a, n, "mailto:"))
        s->linkState = 1;
}

// After a link's text: " <address>" when the text does not say the address. A link
// without text (an image without alt) shows nothing.
void CloseLink(Converter* s)
{
    const int state = s->linkState;
    s->linkState = 0;
    if (state != 2 || s->cut || TextSaysAddress(s->out + s->linkStart, s->used - s->linkStart, s->link))
        return;
    Put(s, ' ');
    Put(s, '<');
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s->link.bytes);
    for (size_t at = 0; at < s->link.length;) {
        size_t used;
        const CodePoint cp = DecodeUtf8(p + at, s->link.length - at, &used);
        at += used;
        if (!IsControl(cp))
            Put(s, cp);
    }
    Put(s, '>');
}

// ---- Elements ---------------------------------------------------------------------------

// A list item's number as its list's type writes it, into text (room for 16 units);
// the count of units. Letters and roman numerals for 1 and up (roman up to 3999), as
// browsers count; other numbers in digits.
size_t FormatNumber(long number, char style, PaneUnit* text)
{
    char digits[16];
    size_t n = 0;
    if ((style == 'a' || style == 'A') && number >= 1) {
        for (unsigned long rest = static_cast<unsigned long>(number); rest > 0 && n < 15; rest = (rest - 1) / 26)
            digits[n++] = static_cast<char>(style + (rest - 1) % 26);
    } else if ((style == 'i' || style == 'I') && number >= 1 && number <= 3999) {
        static const char* const kRoman[4][10] = {
            {"", "i", "ii", "iii", "iv", "v", "vi", "vii", "viii", "ix"},
            {"", "x", "xx", "xxx", "xl", "l", "lx", "lxx", "lxxx", "xc"},
            {"", "c", "cc", "ccc", "cd", "d", "dc", "dcc", "dccc", "cm"},
            {"", "m", "mm", "mmm", "", "", "", "", "", ""}};
        size_t length = 0;
        for (int place = 3, scale = 1000; place >= 0; --place, scale /= 10)
            for (const char* r = kRoman[place][number / scale % 10]; *r; ++r)
                text[length++] = static_cast<PaneUnit>(style == 'I' ? *r - 'a' + 'A' : *r);
        return length;
    } else {
        unsigned long rest = static_cast<unsigned long>(number < 0 ? -number : number);
        do {
            digits[n++] = static_cast<char>('0' + rest % 10);
            rest /= 10;
        } while (rest && n < 15);
        if (number < 0)
            digits[n++] = '-';
    }
    for (size_t i = 0; i < n; ++i)
        text[i] = static_cast<PaneUnit>(digits[n - 1 - i]);
    return n;
}

void SetMarker(Converter* s)
{
    s->markerLength = 0;
    const int level = s->listDepth < kHtmlListIndentLevels ? s->listDepth : kHtmlListIndentLevels;
    for (int i = 1; i < level; ++i) {
        s->marker[s->markerLength++] = ' ';
        s->marker[s->markerLength++] = ' ';
    }
    ListLevel* list = NULL;
    if (s->listDepth > 0)
        list = &s->lists[(s->listDepth < kHtmlListLevels ? s->listDepth : kHtmlListLevels) - 1];
    if (list && list->ordered) {
        s->markerLength += FormatNumber(list->next, list->style, s->marker + s->markerLength);
        if (list->next < kListNumberBound)
            ++list->next;
        s->marker[s->markerLength++] = '.';
    } else {
        s->marker[s->markerLength++] = 0x2022;   // a bullet
    }
    s->marker[s->markerLength++] = ' ';
}

// A list's first number: its start attribute read as HTML reads an integer (blanks, a
// sign, digits), else 1.
long ListStart(const ShortValue& start)
{
    if (start.state != kPresent)
        return 1;
    size_t at = 0;
    while (at < start.length && IsHtmlSpace(static_cast<unsigned char>(start.bytes[at])))
        ++at;
    const bool negative = at < start.length && start.bytes[at] == '-';
    if (at < start.length && (start.bytes[at] == '-' || start.bytes[at] == '+'))
        ++at;
    if (at >= start.length || !IsAsciiDigit(start.bytes[at]))
        return 1;
    long value = 0;
    for (; at < start.length && IsAsciiDigit(start.bytes[at]); ++at)
        if (value < kListNumberBound)
            value = value * 10 + (start.bytes[at] - '0');
    if (value > kListNumberBound)
        value = kListNumberBound;
    return negative ? -value : value;
}

void CloseParagraph(Converter* s)
{
    if (s->paragraphOpen)
        RequestBreaks(s, 2);
    s->paragraphOpen = false;
}

// A select shows the text of its last selected option, else of its first.
void CloseSelect(Converter* s)
{
    s->inSelect = false;
    for (size_t i = 0; i < s->optionLength; ++i)
        Emit(s, s->option[i], false);
    s->optionLength = 0;
}

// Whether the element's start keeps the head open (HTML5's "in head" elements).
bool BelongsInHead(Kind kind)
{
    return kind == kHead || kind == kHeadItem || kind == kHidden || kind == kTemplate || kind == kHtml;
}

void StartTag(Converter* s, Kind kind, const Tag& tag)
{
    if (kind == kTemplate) {
        if (s->templateDepth < kHtmlNestingDepth)
            ++s->templateDepth;
        return;
    }
    if (s->templateDepth > 0 || s->cut)
        return;
    if (s->inHead && !BelongsInHead(kind))
        s->inHead = false;
    if (kind == kHead) {
        if (!s->bodyStarted)
            s->inHead = true;
        return;
    }
    if (s->inHead)
        return;
    if (kind != kHtml && kind != kHeadItem && kind != kHidden)
        s->bodyStarted = true;
    if (s->inSelect) {
        // Inside a select only its options count; another select or a textarea ends it.
        if (kind == kOption || kind == kOptgroup) {
            if (kind == kOption && tag.selected)
                s->optionLength = 0;   // the last selected option is shown
            s->capturing = kind == kOption && (tag.selected || !s->hadOption);
            s->hadOption = s->hadOption || kind == kOption;
            s->optionSpace = false;
            return;
        }
        if (kind != kSelect && kind != kTextarea)
            return;
        CloseSelect(s);
        if (kind == kSelect)
            return;
    }
    switch (kind) {
    case kBlock:
    case kTerm:
        CloseParagraph(s);
        RequestBreaks(s, 1);
        break;
    case kWide:
    case kXmp:
    case kPlaintext:
        CloseParagraph(s);
        RequestBreaks(s, 2);
        break;
    case kParagraph:
        CloseParagraph(s);
        RequestBreaks(s, 2);
        s->paragraphOpen = true;
        break;
    case kPre:
        CloseParagraph(s);
        RequestBreaks(s, 2);
        if (s->preDepth < kHtmlNestingDepth)
            ++s->preDepth;
        s->skipNewline = true;
        break;
    case kList:
        CloseParagraph(s);
        RequestBreaks(s, s->listDepth > 0 ? 1 : 2);
        if (s->listDepth < kHtmlListLevels) {
            ListLevel& list = s->lists[s->listDepth];
            list.ordered = std::strcmp(tag.name, "ol") == 0;
            list.next = ListStart(tag.start);
            list.style = tag.type.state == kPresent && tag.type.length == 1 &&
                                 std::strchr("aAiI", tag.type.bytes[0])
                             ? tag.type.bytes[0]
                             : '1';
        }
        if (s->listDepth < kHtmlNestingDepth)
            ++s->listDepth;
        s->markerLength = 0;
        break;
    case kItem:
        CloseParagraph(s);
        RequestBreaks(s, 1);
        SetMarker(s);
        break;
    case kRow:
        RequestBreaks(s, 1);
        break;
    case kCell:
        if (s->column > 0 && s->pendingBreaks == 0) {
            ++s->pendingTabs;
            s->pendingSpace = false;
        }
        break;
    case kBreak:
        LineBreak(s);
        break;
    case kTextarea:
        s->skipNewline = true;
        break;
    case kSelect:
        s->inSelect = true;
        s->capturing = false;
        s->hadOption = false;
        s->optionLength = 0;
        break;
    case kLink:
        CloseLink(s);
        OpenLink(s, tag.href);
        break;
    case kImage:
        if (tag.alt.state == kPresent) {
            size_t begin = 0, end = tag.alt.length;
            while (begin < end && IsHtmlSpace(static_cast<unsigned char>(tag.alt.bytes[begin])))
                ++begin;
            while (end > begin && IsHtmlSpace(static_cast<unsigned char>(tag.alt.bytes[end - 1])))
                --end;
            if (begin == end)
                break;
            Emit(s, '[', false);
            const unsigned char* p = reinterpret_cast<const unsigned char*>(tag.alt.bytes);
            for (size_t at = begin; at < end;) {
                size_t used;
                const CodePoint cp = DecodeUtf8(p + at, end - at, &used);
                at += used;
                Emit(s, cp, false);
            }
            Emit(s, ']', false);
        }
        break;
    default:
        break;
    }
}

void EndTag(Converter* s, Kind kind)
{
    if (kind == kTemplate) {
        if (s->templateDepth > 0)
            --s->templateDepth;
        return;
    }
    if (s->templateDepth > 0 || s->cut)
        return;
    if (s->inHead) {
        // In the head only these end tags count; </br> is a <br> in the body.
        if (kind != kHead && kind != kBody && kind != kHtml && kind != kBreak)
            return;
        s->inHead = false;
    }
    if (kind == kHead || kind == kBody || kind == kHtml) {
        s->bodyStarted = true;
        return;
    }
    if (s->inSelect) {
        if (kind == kOption || kind == kOptgroup)
            s->capturing = false;
        else if (kind == kSelect)
            CloseSelect(s);
        return;
    }
    switch (kind) {
    case kBlock:
    case kTerm:
    case kRow:
        RequestBreaks(s, 1);
        break;
    case kWide:
    case kXmp:
    case kParagraph:
        if (kind == kParagraph)
            s->paragraphOpen = false;
        RequestBreaks(s, 2);
        break;
    case kPre:
        if (s->preDepth > 0)
            --s->preDepth;
        RequestBreaks(s, 2);
        break;
    case kList:
        if (s->listDepth > 0)
            --s->listDepth;
        RequestBreaks(s, s->listDepth > 0 ? 1 : 2);
        s->markerLength = 0;
        break;
    case kItem:
        RequestBreaks(s, 1);
        s->markerLength = 0;
        break;
    case kBreak:
        LineBreak(s);
        break;
    case kLink:
        CloseLink(s);
        break;
    default:
        break;
    }
}

// ---- Hidden content ---------------------------------------------------------------------

bool IsVoidElement(const char* name)
{
    static const char* const kVoid[] = {"area", "base", "basefont", "bgsound", "br", "col", "embed", "hr", "img",
                                        "input", "keygen", "link", "meta", "param", "source", "track", "wbr"};
    for (const char* entry : kVoid)
        if (std::strcmp(name, entry) == 0)
            return true;
    return false;
}

// For an element whose end tag may be left out, whether a start tag of this kind ends it.
bool StartEnds(int open, Kind kind)
{
    switch (open) {
    case kParagraph:
        return kind == kBlock || kind == kWide || kind == kParagraph || kind == kList || kind == kPre ||
               kind == kTerm || kind == kXmp || kind == kPlaintext;
    case kItem:
        return kind == kItem;
    case kTerm:
        return kind == kTerm;
    case kRow:
        return kind == kRow;
    case kCell:
        return kind == kCell || kind == kRow;
    case kOption:
        return kind == kOption || kind == kOptgroup;
    default:
        return false;
    }
}

// For an element whose end tag may be left out, whether an end tag of this kind ends it.
bool EndEnds(int open, Kind kind)
{
    switch (open) {
    case kParagraph:
        return kind == kBlock || kind == kWide || kind == kItem || kind == kTerm || kind == kCell;
    case kItem:
        return kind == kList;
    case kTerm:
        return kind == kWide;
    case kRow:
    case kCell:
        return kind == kRow || kind == kBlock;
    case kOption:
        return kind == kSelect || kind == kOptgroup;
    default:
        return false;
    }
}

// The content of an element with the hidden attribute is not shown: up to its end tag
// (elements of its name counted), or, where its end tag may be left out, up to what ends
// it. True when the tag is hidden itself or lies inside such content.
bool InHidden(Converter* s, Kind kind, const Tag& tag)
{
    if (s->hiddenDepth == 0) {
        if (tag.end || !tag.hidden || s->templateDepth > 0)
            return false;
        if (IsVoidElement(tag.name))
            return true;
        s->hiddenDepth = 1;
        s->hiddenKind = kind;
        std::strcpy(s->hiddenName, tag.name);
        return true;
    }
    const bool same = std::strcmp(tag.name, s->hiddenName) == 0;
    const bool optionalEnd = StartEnds(s->hiddenKind, static_cast<Kind>(s->hiddenKind));
    if (tag.end) {
        if (same) {
            --s->hiddenDepth;
            return true;
        }
        if (optionalEnd && EndEnds(s->hiddenKind, kind)) {
            s->hiddenDepth = 0;
            return false;
        }
        return true;
    }
    if (optionalEnd && StartEnds(s->hiddenKind, kind)) {
        s->hiddenDepth = 0;
        return false;
    }
    if (same && !IsVoidElement(tag.name))
        ++s->hiddenDepth;
    return true;
}

// ---- The tokenizer ----------------------------------------------------------------------
// The part may come in pieces. A step that needs bytes beyond a piece's end to decide (a
// reference, a UTF-8 sequence, a line end, the start of markup or of an end tag) stops
// before them unless the piece is the last; they come again at the head of the next piece.
// None needs kHtmlCarryBytes; a tag, a comment or raw text of any length is read through
// in a mode of its own, kept between pieces.

enum Mode { kInData, kInTag, kInComment, kInBogusComment, kInRawText, kInPlaintext };
enum TagState { kTagName, kBeforeAttribute, kAttributeName, kAfterAttributeName, kBeforeValue, kAttributeValue };

// The bytes after a '&' that decide a reference: the longest name and its ';'.
const size_t kReferenceBytes = 40;

// Text from at to end, with character references when decode is set. complete: no byte
// after end can change what the last ones mean. Returns where it stopped: end, or the
// reference, line end or UTF-8 sequence that the next piece may complete.
size_t EmitText(Converter* s, const unsigned char* p, size_t at, size_t end, bool decode, bool preformatted,
                bool complete)
{
    while (at < end && !s->cut) {
        const unsigned char c = p[at];
        CodePoint cp;
        if (c == '\r') {
            if (at + 1 >= end && !complete)
                return at;
            ++at;
            if (at < end && p[at] == '\n')
                continue;   // CR LF is one line end
            cp = '\n';
        } else if (c == '&' && decode) {
            if (end - at - 1 < kReferenceBytes && !complete)
                return at;
            CodePoint cps[2];
            int count;
            const size_t taken = ReadCharacterReference(p + at + 1, end - at - 1, false, cps, &count);
            if (taken) {
                s->skipNewline = false;
                for (int i = 0; i < count; ++i)
                    Emit(s, cps[i], preformatted);
                at += 1 + taken;
                continue;
            }
            cp = '&';
            ++at;
        } else {
            if (c >= 0xC0 && end - at < 4 && !complete)
                return at;
            size_t used;
            cp = DecodeUtf8(p + at, end - at, &used);
            at += used;
        }
        if (s->skipNewline) {
            s->skipNewline = false;
            if (cp == '\n')
                continue;
        }
        Emit(s, cp, preformatted);
    }
    return at;
}

void BeginTag(Converter* s, bool end)
{
    Tag& tag = s->tag;
    tag.end = end;
    tag.nameLength = 0;
    tag.unknownName = false;
    tag.href.state = kAbsent;
    tag.alt.state = kAbsent;
    tag.start.state = kAbsent;
    tag.type.state = kAbsent;
    tag.hidden = false;
    tag.selected = false;
    s->mode = kInTag;
    s->tagState = kTagName;
}

// After a '<': markup, or a '<' that is text. p[at] is the '<'.
size_t DataStep(Converter* s, const unsigned char* p, size_t at, size_t end, bool final)
{
    const void* markup = std::memchr(p + at, '<', end - at);
    const size_t next = markup ? static_cast<size_t>(static_cast<const unsigned char*>(markup) - p) : end;
    const size_t stop = EmitText(s, p, at, next, true, Preformatted(s), final || next < end);
    if (stop < next || next >= end || s->cut)
        return stop;
    at = next;
    if (end - at < 4 && !final)
        return at;
    const unsigned char c1 = at + 1 < end ? p[at + 1] : 0;
    const unsigned char c2 = at + 2 < end ? p[at + 2] : 0;
    if (c1 == '!') {
        s->skipNewline = false;
        if (c2 == '-' && at + 3 < end && p[at + 3] == '-') {
            s->mode = kInComment;
            s->commentStart = true;
            return at + 4;
        }
        s->mode = kInBogusComment;   // a doctype, CDATA
        return at + 2;
    }
    if (c1 == '?' || (c1 == '/' && at + 2 < end && !IsAsciiLetter(c2))) {
        s->mode = kInBogusComment;
        return at + 2;
    }
    if (!IsAsciiLetter(c1) && !(c1 == '/' && IsAsciiLetter(c2))) {
        EmitText(s, p, at, at + 1, false, Preformatted(s), true);   // a '<' that starts nothing
        return at + 1;
    }
    BeginTag(s, c1 == '/');
    return at + (c1 == '/' ? 2 : 1);
}

// A comment after its "<!--": "<!-->" and "<!--->" end at once, else "-->" or "--!>"
// ends it; unclosed, it runs to the end.
size_t CommentStep(Converter* s, const unsigned char* p, size_t at, size_t end, bool final)
{
    if (s->commentStart) {
        if (end - at < 2 && !final)
            return at;
        s->commentStart = false;
        if (p[at] == '>' || (at + 1 < end && p[at] == '-' && p[at + 1] == '>')) {
            s->mode = kInData;
            return at + (p[at] == '>' ? 1 : 2);
        }
    }
    for (; at + 2 < end; ++at) {
        if (p[at] != '-' || p[at + 1] != '-')
            continue;
        if (p[at + 2] == '>') {
            s->mode = kInData;
            return at + 3;
        }
        if (at + 3 < end) {
            if (p[at + 2] == '!' && p[at + 3] == '>') {
                s->mode = kInData;
                return at + 4;
            }
        } else if (!final) {
            return at;
        }
    }
    return final ? end : at;
}

// Up to a bogus comment's '>' (a doctype, "<?...>", "</ ...>").
size_t BogusCommentStep(Converter* s, const unsigned char* p, size_t at, size_t end)
{
    const void* found = std::memchr(p + at, '>', end - at);
    if (!found)
        return end;
    s->mode = kInData;
    return static_cast<size_t>(static_cast<const unsigned char*>(found) - p) + 1;
}

void AddAttributeByte(Converter* s, unsigned char c)
{
    if (s->attributeLength < sizeof s->attribute - 1)
        s->attribute[s->attributeLength++] = static_cast<char>(ToLowerAscii(c));
    else
        s->longAttribute = true;
}

// The attribute whose name was read: a boolean one noted, a value kept only for those
// read, and only the first of duplicates.
void EndAttributeName(Converter* s)
{
    Tag& tag = s->tag;
    s->attribute[s->attributeLength] = '\0';
    s->keeping = false;
    if (s->longAttribute || tag.end)
        return;
    const char* name = s->attribute;
    tag.hidden = tag.hidden || std::strcmp(name, "hidden") == 0;
    tag.selected = tag.selected || std::strcmp(name, "selected") == 0;
}

void KeepValue(Converter* s)
{
    Tag& tag = s->tag;
    s->keeping = false;
    if (s->longAttribute || tag.end)
        return;
    const char* name = s->attribute;
    if (std::strcmp(name, "href") == 0 && tag.href.state == kAbsent)
        Bind(&s->kept, &tag.href);
    else if (std::strcmp(name, "alt") == 0 && tag.alt.state == kAbsent)
        Bind(&s->kept, &tag.alt);
    else if (std::strcmp(name, "start") == 0 && tag.start.state == kAbsent)
        Bind(&s->kept, &tag.start);
    else if (std::strcmp(name, "type") == 0 && tag.type.state == kAbsent)
        Bind(&s->kept, &tag.type);
    else
        return;
    s->keeping = true;
}

bool AppendByte(const Slot& slot, unsigned char c)
{
    if (*slot.length >= slot.size)
        return false;
    slot.bytes[(*slot.length)++] = static_cast<char>(c);
    return true;
}

// An attribute value up to its closing quote (passed), or its blank or '>' (not).
size_t ValueStep(Converter* s, const unsigned char* p, size_t at, size_t end, bool final)
{
    while (at < end) {
        const unsigned char c = p[at];
        if (s->quote ? c == s->quote : (IsHtmlSpace(c) || c == '>')) {
            s->tagState = kBeforeAttribute;
            return s->quote ? at + 1 : at;
        }
        if (!s->keeping || *s->kept.state != kPresent) {
            if (s->quote) {   // a data address runs to megabytes
                const void* found = std::memchr(p + at, s->quote, end - at);
                at = found ? static_cast<size_t>(static_cast<const unsigned char*>(found) - p) : end;
            } else {
                ++at;
            }
            continue;
        }
        bool fits = true;
        if (c == '&') {
            if (end - at - 1 < kReferenceBytes && !final)
                return at;
            CodePoint cps[2];
            int count = 1;
            const size_t taken = ReadCharacterReference(p + at + 1, end - at - 1, true, cps, &count);
            if (taken) {
                for (int i = 0; i < count && fits; ++i)
                    fits = AppendUtf8(cps[i], s->kept.bytes, s->kept.size, s->kept.length);
                at += 1 + taken;
            } else {
                fits = AppendByte(s->kept, c);
                ++at;
            }
        } else if (c == 0) {
            fits = AppendUtf8(kReplacement, s->kept.bytes, s->kept.size, s->kept.length);
            ++at;
        } else {
            fits = AppendByte(s->kept, c);
            ++at;
        }
        if (!fits)
            *s->kept.state = kTooLong;
    }
    return at;
}

size_t CompleteTag(Converter* s, size_t at);

// A tag from its name's first byte to just past its '>'. When the data ends inside the
// tag, HTML5 drops the tag and everything after it.
size_t TagStep(Converter* s, const unsigned char* p, size_t at, size_t end, bool final)
{
    Tag& tag = s->tag;
    while (at < end) {
        const unsigned char c = p[at];
        switch (s->tagState) {
        case kTagName:
            if (IsTagEnd(c)) {
                tag.name[tag.unknownName ? 0 : tag.nameLength] = '\0';
                s->tagState = kBeforeAttribute;
                break;
            }
            if (tag.nameLength < kHtmlTagNameBytes && c != 0)
                tag.name[tag.nameLength++] = static_cast<char>(ToLowerAscii(c));
            else
                tag.unknownName = true;
            ++at;
            break;
        case kBeforeAttribute:
            if (c == '>')
                return CompleteTag(s, at + 1);
            if (IsHtmlSpace(c) || c == '/') {
                ++at;
                break;
            }
            // An attribute's name: its first byte may be '=', as HTML5 reads it.
            s->attributeLength = 0;
            s->longAttribute = false;
            AddAttributeByte(s, c);
            ++at;
            s->tagState = kAttributeName;
            break;
        case kAttributeName:
            if (IsTagEnd(c) || c == '=') {
                EndAttributeName(s);
                s->tagState = kAfterAttributeName;
            } else {
                AddAttributeByte(s, c);
                ++at;
            }
            break;
        case kAfterAttributeName:
            if (IsHtmlSpace(c)) {
                ++at;
            } else if (c == '=') {
                ++at;
                s->tagState = kBeforeValue;
            } else {
                s->tagState = kBeforeAttribute;
            }
            break;
        case kBeforeValue:
            if (IsHtmlSpace(c)) {
                ++at;
                break;
            }
            if (c == '>') {
                s->tagState = kBeforeAttribute;
                break;
            }
            s->quote = c == '"' || c == '\'' ? c : 0;
            if (s->quote)
                ++at;
            KeepValue(s);
            s->tagState = kAttributeValue;
            break;
        case kAttributeValue: {
            const size_t stop = ValueStep(s, p, at, end, final);
            if (stop == at && s->tagState == kAttributeValue)
                return at;   // a reference the next piece completes
            at = stop;
            break;
        }
        }
    }
    if (final)
        s->mode = kInData;
    return at;
}

// Raw text (script, style, textarea, xmp...): no markup inside, up to "</name" followed by
// a blank, '/' or '>'.
size_t RawTextStep(Converter* s, const unsigned char* p, size_t at, size_t end, bool final)
{
    const char* name = s->tag.name;
    const size_t n = std::strlen(name);
    size_t stop = end;
    bool closed = false;
    for (size_t from = at;;) {
        const void* found = std::memchr(p + from, '<', end - from);
        if (!found)
            break;
        const size_t q = static_cast<size_t>(static_cast<const unsigned char*>(found) - p);
        if (q + 2 + n >= end) {
            if (!final)
                stop = q;   // the next piece tells
            break;
        }
        size_t i = 0;
        if (p[q + 1] == '/')
            while (i < n && ToLowerAscii(p[q + 2 + i]) == name[i])
                ++i;
        if (p[q + 1] == '/' && i == n && IsTagEnd(p[q + 2 + n])) {
            stop = q;
            closed = true;
            break;
        }
        from = q + 1;
    }
    size_t reached = stop;
    if (s->rawKind != kHidden)
        reached = EmitText(s, p, at, stop, s->rawKind == kTextarea, true, final || stop < end);
    if (reached == stop && closed)
        s->mode = kInData;
    return reached;
}

size_t CompleteTag(Converter* s, size_t at)
{
    s->mode = kInData;
    s->skipNewline = false;
    const Tag& tag = s->tag;
    const Kind kind = ElementKind(tag.name);
    const bool hidden = InHidden(s, kind, tag);
    if (tag.end) {
        if (!hidden)
            EndTag(s, kind);
        return at;
    }
    if (!hidden)
        StartTag(s, kind, tag);
    if (kind == kHidden || kind == kTextarea || kind == kXmp) {
        s->mode = kInRawText;
        s->rawKind = kind;
    } else if (kind == kPlaintext) {
        s->mode = kInPlaintext;
    }
    return at;
}

// Converts what it can of a piece; returns the bytes taken. Unless final, fewer than
// kHtmlCarryBytes are left, to be given again at the head of the next piece.
size_t Feed(Converter* s, const unsigned char* p, size_t end, bool final)
{
    size_t at = 0;
    if (!s->begun) {
        if (end < 3 && !final)
            return 0;
        s->begun = true;
        if (end >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF)
            at = 3;   // a byte order mark is no text
    }
    while (at < end && !s->cut) {
        const int mode = s->mode;
        size_t next = at;
        switch (mode) {
        case kInData:
            next = DataStep(s, p, at, end, final);
            break;
        case kInTag:
            next = TagStep(s, p, at, end, final);
            break;
        case kInComment:
            next = CommentStep(s, p, at, end, final);
            break;
        case kInBogusComment:
            next = BogusCommentStep(s, p, at, end);
            break;
        case kInRawText:
            next = RawTextStep(s, p, at, end, final);
            break;
        default:
            next = EmitText(s, p, at, end, false, true, final);
            break;
        }
        if (next == at && s->mode == mode)
            break;   // the rest needs the next piece
        at = next;
    }
    return s->cut ? end : at;
}

void Start(Converter* s, PaneUnit* out, size_t capacity, size_t maxLineUnits)
{
    std::memset(s, 0, sizeof *s);
    s->out = out;
    s->capacity = capacity;
    s->maxLine = maxLineUnits;
}

int Finish(Converter* s, size_t* written)
{
    if (s->inSelect)
        CloseSelect(s);
    CloseLink(s);
    *written = s->used;
    if (s->cut)
        return HtmlTextCut;
    return s->used ? HtmlTextWhole : HtmlTextNone;
}

}  // namespace

struct HtmlTextConverter::State : Converter {
};

HtmlTextConverter::HtmlTextConverter() {}

HtmlTextConverter::~HtmlTextConverter() {}

bool HtmlTextConverter::Begin(PaneUnit* out, size_t capacity, size_t maxLineUnits)
{
    if (!out || capacity == 0)
        return false;
    if (!state_)
        state_.reset(new (std::nothrow) State);
    if (!state_)
        return false;
    Start(state_.get(), out, capacity, maxLineUnits);
    return true;
}

size_t HtmlTextConverter::Feed(const char* html, size_t length, bool final)
{
    if (!state_ || (!html && length))
        return length;
    return ::Feed(state_.get(), reinterpret_cast<const unsigned char*>(html), length, final);
}

bool HtmlTextConverter::Full() const
{
    return state_ && state_->cut;
}

int HtmlTextConverter::Finish(size_t* written)
{
    if (written)
        *written = 0;
    if (!state_ || !written)
        return HtmlTextBadArguments;
    return ::Finish(state_.get(), written);
}

int HtmlToPaneText(const char* html, size_t length, PaneUnit* out, size_t capacity, size_t maxLineUnits,
                   size_t* written)
{
    if (written)
        *written = 0;
    if ((!html && length) || !out || capacity == 0 || !written)
        return HtmlTextBadArguments;
    // Some 9 KB of state: small enough for any thread's stack.
    Converter state;
    Start(&state, out, capacity, maxLineUnits);
    Feed(&state, reinterpret_cast<const unsigned char*>(html), length, true);
    return Finish(&state, written);
}
