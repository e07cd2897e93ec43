// The tokenizer. The part may come in pieces. A step that needs bytes beyond a piece's end
// to decide (a reference, a UTF-8 sequence, a line end, the start of markup or of an end
// tag) stops before them unless the piece is the last; they come again at the head of the
// next piece. None needs kHtmlCarryBytes; a tag, a comment or raw text of any length is
// read through in a mode of its own, kept between pieces.
#include "mailview/mailtext/html/html_tokenizer.h"

#include <cstring>

#include "mailview/mailtext/common/ascii.h"
#include "mailview/mailtext/html/html_entities.h"

namespace html {

namespace {

const size_t kReferenceDigits = 32;

bool IsAsciiAlnum(int c)
{
    return IsAsciiLetter(c) || IsAsciiDigit(c);
}

bool IsTagEnd(unsigned char c)
{
    return IsHtmlSpace(c) || c == '/' || c == '>';
}

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

enum Mode { kInData, kInTag, kInComment, kInBogusComment, kInRawText, kInPlaintext };
enum TagState { kTagName, kBeforeAttribute, kAttributeName, kAfterAttributeName, kBeforeValue, kAttributeValue };

// The bytes after a '&' that decide a reference: the longest name and its ';'.
const size_t kReferenceBytes = 40;

// Text from at to end, with character references when decode is set. complete: no byte
// after end can change what the last ones mean. Returns where it stopped: end, or the
// reference, line end or UTF-8 sequence that the next piece may complete.
size_t EmitText(Tokenizer* s, const unsigned char* p, size_t at, size_t end, bool decode, bool preformatted,
                bool complete)
{
    while (at < end && !s->sink->cut) {
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
                    AddText(s->elements, cps[i], preformatted);
                at += 1 + taken;
                continue;
            }
            cp = '&';
            ++at;
        } else {
            if (c < 0x80) {
                cp = c;
                ++at;
            } else {
                if (c >= 0xC0 && end - at < 4 && !complete)
                    return at;
                size_t used;
                cp = DecodeUtf8(p + at, end - at, &used);
                at += used;
            }
        }
        if (s->skipNewline) {
            s->skipNewline = false;
            if (cp == '\n')
                continue;
        }
        AddText(s->elements, cp, preformatted);
    }
    return at;
}

void BeginTag(Tokenizer* s, bool end)
{
    Tag& tag = s->tag;
    tag.end = end;
    tag.nameLength = 0;
    tag.unknownName = false;
    tag.element = kOtherElement;
    tag.digest = 0;
    tag.value.state = kAbsent;
    tag.start.state = kAbsent;
    tag.type.state = kAbsent;
    tag.hidden = false;
    tag.selected = false;
    s->mode = kInTag;
    s->tagState = kTagName;
}

// After a '<': markup, or a '<' that is text. p[at] is the '<'.
size_t DataStep(Tokenizer* s, const unsigned char* p, size_t at, size_t end, bool final)
{
    const void* markup = std::memchr(p + at, '<', end - at);
    const size_t next = markup ? static_cast<size_t>(static_cast<const unsigned char*>(markup) - p) : end;
    const size_t stop = EmitText(s, p, at, next, true, Preformatted(s->elements), final || next < end);
    if (stop < next || next >= end || s->sink->cut)
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
        EmitText(s, p, at, at + 1, false, Preformatted(s->elements), true);   // a '<' that starts nothing
        return at + 1;
    }
    BeginTag(s, c1 == '/');
    return at + (c1 == '/' ? 2 : 1);
}

// A comment after its "<!--": "<!-->" and "<!--->" end at once, else "-->" or "--!>"
// ends it; unclosed, it runs to the end.
size_t CommentStep(Tokenizer* s, const unsigned char* p, size_t at, size_t end, bool final)
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
size_t BogusCommentStep(Tokenizer* s, const unsigned char* p, size_t at, size_t end)
{
    const void* found = std::memchr(p + at, '>', end - at);
    if (!found)
        return end;
    s->mode = kInData;
    return static_cast<size_t>(static_cast<const unsigned char*>(found) - p) + 1;
}

void AddAttributeByte(Tokenizer* s, unsigned char c)
{
    if (s->attributeLength < sizeof s->attribute - 1)
        s->attribute[s->attributeLength++] = static_cast<char>(ToLowerAscii(c));
    else
        s->longAttribute = true;
}

// Whether the attribute just read is the name (of length bytes, without its NUL).
bool AttributeIs(const Tokenizer* s, const char* name, size_t length)
{
    return s->attributeLength == length && std::memcmp(s->attribute, name, length) == 0;
}

// The attribute whose name was read: a boolean one noted, a value kept only for those
// read, and only the first of duplicates.
void EndAttributeName(Tokenizer* s)
{
    Tag& tag = s->tag;
    s->keeping = false;
    if (s->longAttribute || tag.end)
        return;
    tag.hidden = tag.hidden || AttributeIs(s, "hidden", 6);
    tag.selected = tag.selected || AttributeIs(s, "selected", 8);
}

void KeepValue(Tokenizer* s)
{
    Tag& tag = s->tag;
    s->keeping = false;
    if (s->longAttribute || tag.end)
        return;
    const bool list = KindOf(tag.element) == kList;
    if (tag.value.state == kAbsent && ((tag.element == kElA && AttributeIs(s, "href", 4)) ||
                                       (tag.element == kElImg && AttributeIs(s, "alt", 3))))
        Bind(&s->kept, &tag.value);
    else if (list && AttributeIs(s, "start", 5) && tag.start.state == kAbsent)
        Bind(&s->kept, &tag.start);
    else if (list && AttributeIs(s, "type", 4) && tag.type.state == kAbsent)
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
size_t ValueStep(Tokenizer* s, const unsigned char* p, size_t at, size_t end, bool final)
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

size_t CompleteTag(Tokenizer* s, size_t at);

// A tag from its name's first byte to just past its '>'. When the data ends inside the
// tag, HTML5 drops the tag and everything after it.
size_t TagStep(Tokenizer* s, const unsigned char* p, size_t at, size_t end, bool final)
{
    Tag& tag = s->tag;
    while (at < end) {
        const unsigned char c = p[at];
        switch (s->tagState) {
        case kTagName:
            if (IsTagEnd(c)) {
                if (tag.unknownName)
                    tag.nameLength = 0;
                tag.name[tag.nameLength] = '\0';
                tag.element = FindElement(tag.name);
                if (tag.element == kOtherElement)
                    tag.digest = NameDigest(tag.name, tag.nameLength);
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
size_t RawTextStep(Tokenizer* s, const unsigned char* p, size_t at, size_t end, bool final)
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

size_t CompleteTag(Tokenizer* s, size_t at)
{
    s->mode = kInData;
    s->skipNewline = false;
    const Tag& tag = s->tag;
    if (tag.end) {
        CloseTag(s->elements, tag);
        return at;
    }
    s->skipNewline = OpenTag(s->elements, tag);
    const Kind kind = KindOf(tag.element);
    if (kind == kHidden || kind == kTextarea || kind == kXmp) {
        s->mode = kInRawText;
        s->rawKind = kind;
    } else if (kind == kPlaintext) {
        s->mode = kInPlaintext;
    }
    return at;
}

}  // namespace

void StartTokenizer(Tokenizer* s, OpenElements* elements, const TextSink* sink)
{
    std::memset(s, 0, sizeof *s);
    s->elements = elements;
    s->sink = sink;
}

size_t Tokenize(Tokenizer* s, const unsigned char* p, size_t end, bool final)
{
    size_t at = 0;
    if (!s->begun) {
        if (end < 3 && !final)
            return 0;
        s->begun = true;
        if (end >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF)
            at = 3;   // a byte order mark is no text
    }
    while (at < end && !s->sink->cut) {
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
    return s->sink->cut ? end : at;
}

}  // namespace html
