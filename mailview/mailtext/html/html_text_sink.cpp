// The text sink: the pane's lines, with the pane's bounds.
#include "mailview/mailtext/html/html_text_sink.h"

#include <cstring>

#include "mailview/mailtext/common/ascii.h"

namespace html {

namespace {

const long kListNumberBound = 999999999L;

bool IsBlankUnit(CodePoint c)
{
    return c == ' ' || c == '\t' || c == 0x3000;
}

// Writes one code point, breaking a line that would grow past maxLine as BodyToPaneText
// does: after the line's last blank when that lies in its last eighth, else right there.
void Put(TextSink* s, CodePoint cp)
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
void Flush(TextSink* s)
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

}  // namespace

void StartTextSink(TextSink* s, PaneUnit* out, size_t capacity, size_t maxLineUnits)
{
    std::memset(s, 0, sizeof *s);
    s->out = out;
    s->capacity = capacity;
    s->maxLine = maxLineUnits;
}

void WriteBlank(TextSink* s, CodePoint cp, bool preformatted)
{
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
}

void WriteCharacter(TextSink* s, CodePoint cp)
{
    Flush(s);
    Put(s, cp);
}

void RequestBreaks(TextSink* s, size_t count)
{
    if (s->pendingBreaks < count)
        s->pendingBreaks = count;
    s->pendingSpace = false;
    s->pendingTabs = 0;
}

// Two <br> in a row leave an empty line, as in a browser; but, as between blocks, never
// more than one empty line in a row (pre's own lines excepted).
void LineBreak(TextSink* s)
{
    if (s->used > 0 && s->pendingBreaks < 2)
        ++s->pendingBreaks;
    s->pendingSpace = false;
    s->pendingTabs = 0;
}

void StartCell(TextSink* s)
{
    if (s->column > 0 && s->pendingBreaks == 0) {
        ++s->pendingTabs;
        s->pendingSpace = false;
    }
}

void StartList(TextSink* s, size_t level, bool ordered, const ShortValue& start, const ShortValue& type)
{
    RequestBreaks(s, level > 0 ? 1 : 2);
    if (level < kHtmlListLevels) {
        ListLevel& list = s->lists[level];
        list.ordered = ordered;
        list.next = ListStart(start);
        list.style = type.state == kPresent && type.length == 1 && std::strchr("aAiI", type.bytes[0]) ? type.bytes[0]
                                                                                                     : '1';
    }
    s->markerLength = 0;
}

void SetItemMarker(TextSink* s, size_t level)
{
    s->markerLength = 0;
    const size_t indent = level < kHtmlListIndentLevels ? level : static_cast<size_t>(kHtmlListIndentLevels);
    for (size_t i = 1; i < indent; ++i) {
        s->marker[s->markerLength++] = ' ';
        s->marker[s->markerLength++] = ' ';
    }
    ListLevel* list = NULL;
    if (level > 0)
        list = &s->lists[(level < kHtmlListLevels ? level : static_cast<size_t>(kHtmlListLevels)) - 1];
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

void ClearItemMarker(TextSink* s)
{
    s->markerLength = 0;
}

// Keeps the address with what URL parsing removes taken out: surrounding blanks and
// controls, tabs and line ends anywhere.
void OpenLink(TextSink* s, const Value& href)
{
    s->linkState = 0;
    s->link.length = 0;
    if (href.state != kPresent)
        return;
    size_t begin = 0, end = href.length;
    while (begin < end && static_cast<unsigned char>(href.bytes[begin]) <= ' ')
        ++begin;
    while (end > begin && static_cast<unsigned char>(href.bytes[end - 1]) <= ' ')
        --end;
    for (size_t i = begin; i < end; ++i)
        if (href.bytes[i] != '\t' && href.bytes[i] != '\n' && href.bytes[i] != '\r')
            s->link.bytes[s->link.length++] = href.bytes[i];
    ReopenLink(s);
}

void ReopenLink(TextSink* s)
{
    const char* a = s->link.bytes;
    const size_t n = s->link.length;
    s->linkState = PrefixLength(a, n, "http:") || PrefixLength(a, n, "https:") || PrefixLength(a, n, "mailto:") ? 1 : 0;
}

// A link without text (an image without alt) shows nothing.
void CloseLink(TextSink* s)
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

void StartSelect(TextSink* s)
{
    s->hadOption = false;
    s->optionLength = 0;
}

bool StartOption(TextSink* s, bool selected)
{
    if (selected)
        s->optionLength = 0;   // the last selected option is shown
    const bool shown = selected || !s->hadOption;
    s->hadOption = true;
    s->optionSpace = false;
    return shown;
}

void StartOptionGroup(TextSink* s)
{
    s->optionSpace = false;
}

// As a browser labels an option: blanks collapsed, none at its ends.
void KeepOptionText(TextSink* s, CodePoint cp)
{
    if (IsControl(cp))
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
}

void ShowSelect(TextSink* s)
{
    for (size_t i = 0; i < s->optionLength; ++i) {
        if (IsHtmlSpace(s->option[i]))
            WriteBlank(s, s->option[i], false);
        else
            WriteCharacter(s, s->option[i]);
    }
    s->optionLength = 0;
}

}  // namespace html
