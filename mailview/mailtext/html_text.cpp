// HTML to the pane's text. One pass over the bytes: markup is tokenized as HTML5 does
// (comments, raw text elements, attribute quoting, character references), and the text
// goes through a sink that collapses blanks, keeps at most one empty line between blocks,
// and holds the pane's bounds. No tree is built: the few open elements that change the
// text (pre, template, lists, a link) are counted or kept in fixed arrays.
#include "mailview/mailtext/html_text.h"

#include <cstring>

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
        for (; at < avail; ++at) {
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
    {"ol", kList},         {"p", kParagraph},     {"plaintext", kPlaintext}, {"pre", kPre},
    {"script", kHidden},   {"search", kBlock},    {"section", kBlock},   {"style", kHidden},
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

struct Value {
    int state;
    size_t length;
    char bytes[kHtmlAttributeValueBytes];
};

struct Tag {
    bool end;
    char name[kHtmlTagNameBytes + 1];   // lower case; "" when longer than its bound
    Value href;
    Value alt;
};

bool IsTagEnd(unsigned char c)
{
    return IsHtmlSpace(c) || c == '/' || c == '>';
}

// Reads an attribute value from p[at] (quote or first byte) into value when it is kept;
// returns where the value ends (after a closing quote), or end.
size_t ReadValue(const unsigned char* p, size_t at, size_t end, Value* value)
{
    unsigned char quote = 0;
    if (p[at] == '"' || p[at] == '\'')
        quote = p[at++];
    if (value) {
        value->state = kPresent;
        value->length = 0;
    }
    while (at < end) {
        const unsigned char c = p[at];
        if (quote ? c == quote : (IsHtmlSpace(c) || c == '>'))
            return quote ? at + 1 : at;
        if (!value || value->state != kPresent) {
            ++at;
            continue;
        }
        CodePoint cps[2];
        int count = 1;
        size_t taken = 0;
        if (c == '&')
            taken = ReadCharacterReference(p + at + 1, end - at - 1, true, cps, &count);
        bool fits = true;
        if (taken) {
            for (int i = 0; i < count && fits; ++i)
                fits = AppendUtf8(cps[i], value->bytes, sizeof value->bytes, &value->length);
            at += 1 + taken;
        } else if (c == 0) {
            fits = AppendUtf8(kReplacement, value->bytes, sizeof value->bytes, &value->length);
            ++at;
        } else {
            fits = value->length < sizeof value->bytes;
            if (fits)
                value->bytes[value->length++] = static_cast<char>(c);
            ++at;
        }
        if (!fits)
            value->state = kTooLong;
    }
    return end;
}

// Reads a tag from p[at], the first byte of its name, to just past its '>'. False when the
// data ends inside the tag: HTML5 then drops the tag and everything after it.
bool ReadTag(const unsigned char* p, size_t* position, size_t end, Tag* tag)
{
    size_t at = *position;
    size_t nameLength = 0;
    bool unknown = false;   // too long, or with a NUL that no element's name has
    for (; at < end && !IsTagEnd(p[at]); ++at) {
        if (nameLength < kHtmlTagNameBytes && p[at] != 0)
            tag->name[nameLength++] = static_cast<char>(ToLowerAscii(p[at]));
        else
            unknown = true;
    }
    tag->name[unknown ? 0 : nameLength] = '\0';
    tag->href.state = kAbsent;
    tag->alt.state = kAbsent;
    while (at < end) {
        const unsigned char c = p[at];
        if (c == '>') {
            *position = at + 1;
            return true;
        }
        if (IsHtmlSpace(c) || c == '/') {
            ++at;
            continue;
        }
        // An attribute name: its first byte may be '=', as HTML5 reads it.
        char name[8];
        size_t length = 0;
        bool longName = false;
        do {
            if (length < sizeof name - 1)
                name[length++] = static_cast<char>(ToLowerAscii(p[at]));
            else
                longName = true;
            ++at;
        } while (at < end && !IsTagEnd(p[at]) && p[at] != '=');
        name[length] = '\0';
        while (at < end && IsHtmlSpace(p[at]))
            ++at;
        if (at >= end || p[at] != '=')
            continue;
        ++at;
        while (at < end && IsHtmlSpace(p[at]))
            ++at;
        if (at >= end || p[at] == '>')
            continue;
        Value* kept = NULL;
        if (!tag->end && !longName) {
            // The first of duplicate attributes counts.
            if (std::strcmp(name, "href") == 0 && tag->href.state == kAbsent)
                kept = &tag->href;
            else if (std::strcmp(name, "alt") == 0 && tag->alt.state == kAbsent)
                kept = &tag->alt;
        }
        at = ReadValue(p, at, end, kept);
    }
    return false;
}

// ---- The text sink ----------------------------------------------------------------------

struct ListLevel {
    bool ordered;
    unsigned long next;
};

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
    PaneUnit marker[2 * kHtmlListIndentLevels + 16];
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
    if (s->cut || s->templateDepth > 0)
        return;
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
        char digits[12];
        int n = 0;
        unsigned long number = list->next;
        if (list->next < 999999999UL)
            ++list->next;
        do {
            digits[n++] = static_cast<char>('0' + number % 10);
            number /= 10;
        } while (number && n < 11);
        while (n > 0)
            s->marker[s->markerLength++] = static_cast<PaneUnit>(digits[--n]);
        s->marker[s->markerLength++] = '.';
    } else {
        s->marker[s->markerLength++] = 0x2022;   // a bullet
    }
    s->marker[s->markerLength++] = ' ';
}

void CloseParagraph(Converter* s)
{
    if (s->paragraphOpen)
        RequestBreaks(s, 2);
    s->paragraphOpen = false;
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
            s->lists[s->listDepth].ordered = std::strcmp(tag.name, "ol") == 0;
            s->lists[s->listDepth].next = 1;
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

// ---- The tokenizer ----------------------------------------------------------------------

// Where the data after a raw text element's start tag ends: at its "</name" followed by a
// blank, '/' or '>', or at the end of the data.
size_t FindRawTextEnd(const unsigned char* p, size_t at, size_t end, const char* name)
{
    const size_t n = std::strlen(name);
    for (; at + 2 + n <= end; ++at) {
        if (p[at] != '<' || p[at + 1] != '/')
            continue;
        size_t i = 0;
        while (i < n && ToLowerAscii(p[at + 2 + i]) == name[i])
            ++i;
        if (i == n && at + 2 + n < end && IsTagEnd(p[at + 2 + n]))
            return at;
    }
    return end;
}

// Just past the first '>' from at, or end.
size_t SkipPast(const unsigned char* p, size_t at, size_t end, unsigned char c)
{
    const void* found = std::memchr(p + at, c, end - at);
    return found ? static_cast<size_t>(static_cast<const unsigned char*>(found) - p) + 1 : end;
}

// Just past a comment that begins at p[at] = "<!--": "<!-->" and "<!--->" end at once,
// else "-->" or "--!>" ends it; unclosed, it runs to the end.
size_t SkipComment(const unsigned char* p, size_t at, size_t end)
{
    at += 4;
    if (at < end && p[at] == '>')
        return at + 1;
    if (at + 1 < end && p[at] == '-' && p[at + 1] == '>')
        return at + 2;
    for (; at + 2 < end; ++at) {
        if (p[at] != '-' || p[at + 1] != '-')
            continue;
        if (p[at + 2] == '>')
            return at + 3;
        if (at + 3 < end && p[at + 2] == '!' && p[at + 3] == '>')
            return at + 4;
    }
    return end;
}

// Text from at to end, with character references when decode is set.
void EmitText(Converter* s, const unsigned char* p, size_t at, size_t end, bool decode, bool preformatted)
{
    while (at < end && !s->cut) {
        const unsigned char c = p[at];
        CodePoint cp;
        if (c == '\r') {
            ++at;
            if (at < end && p[at] == '\n')
                continue;   // CR LF is one line end
            cp = '\n';
        } else if (c == '&' && decode) {
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
}

}  // namespace

int HtmlToPaneText(const char* html, size_t length, PaneUnit* out, size_t capacity, size_t maxLineUnits,
                   size_t* written)
{
    if (written)
        *written = 0;
    if ((!html && length) || !out || capacity == 0 || !written)
        return HtmlTextBadArguments;
    // About 4 KB of state, and a tag of as much: small enough for any thread's stack.
    Converter state;
    Converter* s = &state;
    std::memset(s, 0, sizeof *s);
    s->out = out;
    s->capacity = capacity;
    s->maxLine = maxLineUnits;
    Tag tag;

    const unsigned char* p = reinterpret_cast<const unsigned char*>(html);
    size_t at = 0;
    const size_t end = length;
    if (end >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF)
        at = 3;   // a byte order mark is no text
    while (at < end && !s->cut) {
        // Text up to the next markup or reference.
        const void* markup = std::memchr(p + at, '<', end - at);
        const size_t next = markup ? static_cast<size_t>(static_cast<const unsigned char*>(markup) - p) : end;
        EmitText(s, p, at, next, true, Preformatted(s));
        at = next;
        if (at >= end || s->cut)
            break;
        // p[at] is '<'.
        const unsigned char c1 = at + 1 < end ? p[at + 1] : 0;
        const unsigned char c2 = at + 2 < end ? p[at + 2] : 0;
        if (c1 == '!') {
            s->skipNewline = false;
            if (c2 == '-' && at + 3 < end && p[at + 3] == '-')
                at = SkipComment(p, at, end);
            else
                at = SkipPast(p, at + 2, end, '>');   // a doctype, CDATA: a bogus comment
            continue;
        }
        if (c1 == '?' || (c1 == '/' && at + 2 < end && !IsAsciiLetter(c2))) {
            at = c2 == '>' && c1 == '/' ? at + 3 : SkipPast(p, at + 2, end, '>');
            continue;
        }
        if (!IsAsciiLetter(c1) && !(c1 == '/' && IsAsciiLetter(c2))) {
            EmitText(s, p, at, at + 1, false, Preformatted(s));   // a '<' that starts nothing
            ++at;
            continue;
        }
        tag.end = c1 == '/';
        size_t position = at + (tag.end ? 2 : 1);
        if (!ReadTag(p, &position, end, &tag))
            break;
        at = position;
        s->skipNewline = false;
        const Kind kind = ElementKind(tag.name);
        if (tag.end) {
            EndTag(s, kind);
            continue;
        }
        StartTag(s, kind, tag);
        if (kind == kHidden || kind == kTextarea || kind == kXmp) {
            // Raw text: no markup inside, up to its own end tag.
            const size_t rawEnd = FindRawTextEnd(p, at, end, tag.name);
            if (kind != kHidden)
                EmitText(s, p, at, rawEnd, kind == kTextarea, true);
            at = rawEnd;
        } else if (kind == kPlaintext) {
            EmitText(s, p, at, end, false, true);
            at = end;
        }
    }
    CloseLink(s);
    *written = s->used;
    if (s->cut)
        return HtmlTextCut;
    return s->used ? HtmlTextWhole : HtmlTextNone;
}
