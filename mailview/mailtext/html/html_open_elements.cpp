// The stack of open elements. HTML's tree-construction rules ("in body", and of the other
// modes what the text depends on: the head, tables, selects, templates), with these
// simplifications: no tree, so nothing is moved (text in a table outside its cells is shown
// where it stands, and an end tag that would move a block out of a formatting element
// only takes that element out of the stack); only the formatting elements that change the
// text are kept active; the document is read as a standards-mode one. "Generate implied
// end tags" needs no step of its own: an element ends with all that is open inside it.
#include "mailview/mailtext/html/html_open_elements.h"

#include <cstring>

namespace html {

namespace {

enum Traits {
    kSpecial = 1 << 0,            // HTML's "special" category
    kFormatting = 1 << 1,         // ended by the adoption agency
    kVoid = 1 << 2,               // never open
    kClosesParagraph = 1 << 3,    // its start tag closes a p in button scope
    kEndsInScope = 1 << 4,        // its end tag ends it when it is in scope, else nothing
    kScopeBoundary = 1 << 5,      // bounds every scope but the table's
    kListItemBoundary = 1 << 6,   // bounds list item scope too
    kButtonBoundary = 1 << 7,     // bounds button scope too
    kTableBoundary = 1 << 8,      // bounds table scope
    kHeading = 1 << 9,
    kTableCell = 1 << 10,
    kTableSection = 1 << 11,      // tbody, thead, tfoot
    kMarker = 1 << 12,            // formatting elements opened inside it stay inside it
    kReconstructs = 1 << 13,      // its start tag opens again formatting elements closed early
};

enum Scope {
    kDefaultScope = kScopeBoundary,
    kListItemScope = kScopeBoundary | kListItemBoundary,
    kButtonScope = kScopeBoundary | kButtonBoundary,
    kTableScope = kTableBoundary,
};

struct Element {
    const char* name;
    Kind kind;
    unsigned traits;
};

constexpr unsigned kBlockStart = kSpecial | kClosesParagraph | kEndsInScope;
constexpr unsigned kInlineVoid = kSpecial | kVoid | kReconstructs;
constexpr unsigned kSpecialVoid = kSpecial | kVoid;
constexpr unsigned kFormat = kFormatting | kReconstructs;
constexpr unsigned kMarkerBoundary = kSpecial | kScopeBoundary | kMarker;

// In ElementId's order. noscript's contents are shown: a mail reader runs no script, so it
// shows what a browser without scripts shows (the sender's fall-back for such readers).
constexpr Element kElements[] = {
    {"a", kLink, kFormat},
    {"address", kBlock, kBlockStart},
    {"applet", kInline, kMarkerBoundary | kEndsInScope | kReconstructs},
    {"area", kInline, kInlineVoid},
    {"article", kBlock, kBlockStart},
    {"aside", kBlock, kBlockStart},
    {"b", kInline, kFormat},
    {"base", kHeadItem, kSpecialVoid},
    {"basefont", kHeadItem, kSpecialVoid},
    {"bgsound", kHeadItem, kSpecialVoid},
    {"big", kInline, kFormat},
    {"blockquote", kWide, kBlockStart},
    {"body", kBody, kSpecial},
    {"br", kBreak, kInlineVoid},
    {"button", kInline, kSpecial | kEndsInScope | kButtonBoundary | kReconstructs},
    {"caption", kBlock, kMarkerBoundary},
    {"center", kBlock, kBlockStart},
    {"code", kInline, kFormat},
    {"col", kInline, kSpecialVoid},
    {"colgroup", kInline, kSpecial},
    {"dd", kTerm, kSpecial | kEndsInScope},
    {"details", kBlock, kBlockStart},
    {"dialog", kBlock, kClosesParagraph | kEndsInScope},
    {"dir", kList, kBlockStart},
    {"div", kBlock, kBlockStart},
    {"dl", kWide, kBlockStart},
    {"dt", kTerm, kSpecial | kEndsInScope},
    {"em", kInline, kFormat},
    {"embed", kInline, kInlineVoid},
    {"fieldset", kBlock, kBlockStart},
    {"figcaption", kBlock, kBlockStart},
    {"figure", kWide, kBlockStart},
    {"font", kInline, kFormat},
    {"footer", kBlock, kBlockStart},
    {"form", kBlock, kBlockStart},
    {"frame", kInline, kSpecialVoid},
    {"frameset", kInline, kSpecial},
    {"h1", kWide, kSpecial | kClosesParagraph | kHeading},
    {"h2", kWide, kSpecial | kClosesParagraph | kHeading},
    {"h3", kWide, kSpecial | kClosesParagraph | kHeading},
    {"h4", kWide, kSpecial | kClosesParagraph | kHeading},
    {"h5", kWide, kSpecial | kClosesParagraph | kHeading},
    {"h6", kWide, kSpecial | kClosesParagraph | kHeading},
    {"head", kHead, kSpecial},
    {"header", kBlock, kBlockStart},
    {"hgroup", kBlock, kBlockStart},
    {"hr", kWide, kSpecialVoid | kClosesParagraph},
    {"html", kHtml, kSpecial | kScopeBoundary | kTableBoundary},
    {"i", kInline, kFormat},
    {"iframe", kHidden, kSpecial},
    {"img", kImage, kInlineVoid},
    {"input", kInline, kInlineVoid},
    {"keygen", kInline, kInlineVoid},
    {"legend", kBlock, kReconstructs},
    {"li", kItem, kSpecial | kClosesParagraph},
    {"link", kHeadItem, kSpecialVoid},
    {"listing", kPre, kBlockStart},
    {"main", kBlock, kBlockStart},
    {"marquee", kInline, kMarkerBoundary | kEndsInScope | kReconstructs},
    {"menu", kList, kBlockStart},
    {"meta", kHeadItem, kSpecialVoid},
    {"nav", kBlock, kBlockStart},
    {"nobr", kInline, kFormat},
    {"noembed", kHidden, kSpecial},
    {"noframes", kHidden, kSpecial},
    {"noscript", kHeadItem, kSpecial},
    {"object", kInline, kMarkerBoundary | kEndsInScope | kReconstructs},
    {"ol", kList, kBlockStart | kListItemBoundary},
    {"optgroup", kOptgroup, kReconstructs},
    {"option", kOption, kReconstructs},
    {"p", kParagraph, kSpecial | kClosesParagraph},
    {"param", kInline, kSpecialVoid},
    {"plaintext", kPlaintext, kSpecial | kClosesParagraph},
    {"pre", kPre, kBlockStart},
    {"s", kInline, kFormat},
    {"script", kHidden, kSpecial},
    {"search", kBlock, kBlockStart},
    {"section", kBlock, kBlockStart},
    {"select", kSelect, kSpecial | kReconstructs},
    {"small", kInline, kFormat},
    {"source", kInline, kSpecialVoid},
    {"strike", kInline, kFormat},
    {"strong", kInline, kFormat},
    {"style", kHidden, kSpecial},
    {"summary", kBlock, kBlockStart},
    {"table", kBlock, kSpecial | kClosesParagraph | kScopeBoundary | kTableBoundary},
    {"tbody", kInline, kSpecial | kTableSection},
    {"td", kCell, kMarkerBoundary | kTableCell},
    {"template", kTemplate, kMarkerBoundary | kTableBoundary},
    {"textarea", kTextarea, kSpecial},
    {"tfoot", kInline, kSpecial | kTableSection},
    {"th", kCell, kMarkerBoundary | kTableCell},
    {"thead", kInline, kSpecial | kTableSection},
    {"title", kHidden, kSpecial},
    {"tr", kRow, kSpecial},
    {"track", kInline, kSpecialVoid},
    {"tt", kInline, kFormat},
    {"u", kInline, kFormat},
    {"ul", kList, kBlockStart | kListItemBoundary},
    {"wbr", kInline, kInlineVoid},
    {"xmp", kXmp, kBlockStart | kReconstructs},
};
static_assert(sizeof kElements / sizeof kElements[0] == kOtherElement, "one entry for each ElementId");

constexpr bool NamesInOrder()
{
    for (int i = 1; i < kOtherElement; ++i) {
        const char* a = kElements[i - 1].name;
        const char* b = kElements[i].name;
        while (*a && *a == *b)
            ++a, ++b;
        if (static_cast<unsigned char>(*a) >= static_cast<unsigned char>(*b))
            return false;
    }
    return true;
}
static_assert(NamesInOrder(), "the table is searched by name");

// Where the names of each first letter begin in the table, so that a tag's name is looked
// up among a few.
struct LetterStarts {
    unsigned char at[27];
};

constexpr LetterStarts FirstOfLetter()
{
    LetterStarts starts = {};
    int element = 0;
    for (int letter = 0; letter < 27; ++letter) {
        while (element < kOtherElement && kElements[element].name[0] - 'a' < letter)
            ++element;
        starts.at[letter] = static_cast<unsigned char>(element);
    }
    return starts;
}
constexpr LetterStarts kFirstOfLetter = FirstOfLetter();

unsigned TraitsOf(int element)
{
    return element < kOtherElement ? kElements[element].traits : 0;
}

void UpdateCurrent(OpenElements* t)
{
    t->current = static_cast<uint8_t>((t->depth ? t->stack[t->depth - 1].flags : 0) | t->rootFlags);
}

// The current node's element; with none open, a value that is no element.
int Top(const OpenElements* t)
{
    return t->depth ? t->stack[t->depth - 1].element : kOtherElement + 1;
}

bool Shown(unsigned flags)
{
    return !(flags & kNotShown);
}

// ---- What starts and ends do to the text ------------------------------------------------

void AddAlt(OpenElements* t, const Value& alt)
{
    size_t begin = 0, end = alt.length;
    while (begin < end && IsHtmlSpace(static_cast<unsigned char>(alt.bytes[begin])))
        ++begin;
    while (end > begin && IsHtmlSpace(static_cast<unsigned char>(alt.bytes[end - 1])))
        --end;
    if (begin == end)
        return;
    AddText(t, '[', false);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(alt.bytes);
    for (size_t at = begin; at < end;) {
        size_t used;
        const CodePoint cp = DecodeUtf8(p + at, end - at, &used);
        at += used;
        AddText(t, cp, false);
    }
    AddText(t, ']', false);
}

// The start of an element whose text is shown; e is its entry, made but maybe not on the
// stack.
void StartEffects(OpenElements* t, OpenElement* e, const Tag& tag)
{
    TextSink* s = t->sink;
    const size_t around = e->lists - (KindOf(e->element) == kList ? 1 : 0);
    switch (KindOf(e->element)) {
    case kBlock:
    case kTerm:
    case kRow:
        RequestBreaks(s, 1);
        break;
    case kWide:
    case kXmp:
    case kPlaintext:
    case kParagraph:
    case kPre:
        RequestBreaks(s, 2);
        break;
    case kList:
        StartList(s, around, e->element == kElOl, tag.start, tag.type);
        break;
    case kItem:
        RequestBreaks(s, 1);
        SetItemMarker(s, around);
        break;
    case kCell:
        StartCell(s);
        break;
    case kBreak:
        LineBreak(s);
        break;
    case kSelect:
        StartSelect(s);
        break;
    case kOption:
        if ((e->flags & kInSelect) && StartOption(s, tag.selected))
            e->own |= kShownOption, e->flags |= kShownOption;
        break;
    case kOptgroup:
        if (e->flags & kInSelect)
            StartOptionGroup(s);
        break;
    case kLink:
        e->own |= kOpenLink;
        t->linkSerial = e->digest;
        OpenLink(s, tag.value);
        break;
    case kImage:
        if (tag.value.state == kPresent)
            AddAlt(t, tag.value);
        break;
    default:
        break;
    }
}

// The end of an element, however it ended.
void EndEffects(OpenElements* t, const OpenElement& e)
{
    TextSink* s = t->sink;
    if (e.own & kOpenLink)
        CloseLink(s);
    if (!Shown(e.flags | t->rootFlags))
        return;
    switch (KindOf(e.element)) {
    case kBlock:
    case kTerm:
    case kRow:
        RequestBreaks(s, 1);
        break;
    case kWide:
    case kXmp:
    case kParagraph:
    case kPre:
        RequestBreaks(s, 2);
        break;
    case kList:
        RequestBreaks(s, e.lists > 1 ? 1 : 2);
        ClearItemMarker(s);
        break;
    case kItem:
        RequestBreaks(s, 1);
        ClearItemMarker(s);
        break;
    case kSelect:
        ShowSelect(s);
        break;
    default:
        break;
    }
}

// ---- Active formatting elements ---------------------------------------------------------

long FindActive(const OpenElements* t, uint32_t serial)
{
    for (size_t i = t->activeCount; i-- > 0;)
        if (t->active[i].serial == serial)
            return static_cast<long>(i);
    return -1;
}

void DropActive(OpenElements* t, size_t index)
{
    for (size_t i = index; i + 1 < t->activeCount; ++i)
        t->active[i] = t->active[i + 1];
    --t->activeCount;
}

void AddActive(OpenElements* t, uint32_t serial, int element, unsigned own)
{
    if (t->activeCount == kActiveFormatting)
        DropActive(t, 0);   // the oldest is forgotten
    ActiveFormatting& f = t->active[t->activeCount++];
    f.serial = serial;
    f.element = static_cast<uint8_t>(element);
    f.own = static_cast<uint8_t>(own);
}

bool IsOpen(const OpenElements* t, uint32_t serial)
{
    for (size_t i = t->depth; i-- > 0;)
        if (t->stack[i].digest == serial && (TraitsOf(t->stack[i].element) & kFormatting))
            return true;
    return false;
}

// An element has ended: a formatting element that is still active is to open again; a
// marker takes with it what was opened inside it.
void NoteEnd(OpenElements* t, const OpenElement& e)
{
    const unsigned traits = TraitsOf(e.element);
    if ((traits & kFormatting) && FindActive(t, e.digest) >= 0)
        t->reopen = true;
    if ((traits & kMarker) && t->activeCount) {
        while (t->activeCount && t->active[t->activeCount - 1].serial != 0)
            --t->activeCount;
        if (t->activeCount)
            --t->activeCount;   // the marker itself
    }
}

// ---- The stack --------------------------------------------------------------------------

void Pop(OpenElements* t)
{
    const OpenElement e = t->stack[--t->depth];
    UpdateCurrent(t);
    NoteEnd(t, e);
    EndEffects(t, e);
}

void PopTo(OpenElements* t, size_t index)
{
    while (t->depth > index)
        Pop(t);
}

// Takes out an entry below the top (a formatting element that a block inside it outlives):
// the entries above it no longer have what it gave them.
void Remove(OpenElements* t, size_t index)
{
    const OpenElement e = t->stack[index];
    for (size_t i = index; i + 1 < t->depth; ++i) {
        t->stack[i] = t->stack[i + 1];
        t->stack[i].flags = static_cast<uint8_t>((i ? t->stack[i - 1].flags : 0) | t->stack[i].own);
    }
    --t->depth;
    UpdateCurrent(t);
    NoteEnd(t, e);
    EndEffects(t, e);
}

// Puts an entry on the stack, with what it inherits from the one below.
OpenElement* Push(OpenElements* t, int element, uint32_t digest, unsigned own)
{
    const OpenElement* below = t->depth ? &t->stack[t->depth - 1] : NULL;
    OpenElement& e = t->stack[t->depth++];
    e.digest = digest;
    e.element = static_cast<uint8_t>(element);
    e.own = static_cast<uint8_t>(own);
    e.flags = static_cast<uint8_t>((below ? below->flags : 0) | own);
    const unsigned lists = (below ? below->lists : 0) + (KindOf(element) == kList ? 1 : 0);
    e.lists = static_cast<uint8_t>(lists < 255 ? lists : 255);
    UpdateCurrent(t);
    return &e;
}

// Opens the tag's element. Past the stack's room it holds nothing and ends at once, as
// browsers flatten a tree past their depth limit; its end tag is then one of `beyond`.
void Insert(OpenElements* t, const Tag& tag)
{
    const int element = tag.element;
    const unsigned traits = TraitsOf(element);
    unsigned own = tag.hidden ? kHiddenText : 0;
    if (element == kElTemplate)
        own |= kTemplateText;
    else if (element == kElPre || element == kElListing)
        own |= kPreformatted;
    else if (element == kElSelect)
        own |= kInSelect;
    if (t->depth == kHtmlOpenElements) {
        ++t->beyond;
        const Kind kind = KindOf(element);
        OpenElement e = {0, static_cast<uint8_t>(element), 0, static_cast<uint8_t>(t->current | own),
                         t->stack[t->depth - 1].lists};
        if (Shown(e.flags) && kind != kLink && kind != kSelect && kind != kOption) {
            StartEffects(t, &e, tag);
            EndEffects(t, e);
        }
        return;
    }
    uint32_t digest = element == kOtherElement ? tag.digest : 0;
    if (traits & kFormatting) {
        if (++t->serials == 0)
            ++t->serials;   // 0 is a marker's
        digest = t->serials;
    }
    if ((traits & kMarker) && t->activeCount)
        AddActive(t, 0, element, 0);
    OpenElement* e = Push(t, element, digest, own);
    if (Shown(t->current))
        StartEffects(t, e, tag);
    UpdateCurrent(t);
    if ((traits & kFormatting) && (e->own & (kHiddenText | kOpenLink)))
        AddActive(t, e->digest, element, e->own);
}

// Opens again the active formatting elements closed early (after the last marker), in
// their order.
void Reopen(OpenElements* t)
{
    t->reopen = false;
    size_t first = t->activeCount;
    while (first > 0 && t->active[first - 1].serial != 0 && !IsOpen(t, t->active[first - 1].serial))
        --first;
    for (size_t i = first; i < t->activeCount && t->depth < kHtmlOpenElements; ++i) {
        const ActiveFormatting& f = t->active[i];
        OpenElement* e = Push(t, f.element, f.serial, f.own & ~kOpenLink);
        if ((f.own & kOpenLink) && f.serial == t->linkSerial && Shown(t->current)) {
            e->own |= kOpenLink;
            ReopenLink(t->sink);
        }
    }
}

// ---- Scopes -----------------------------------------------------------------------------

// The nearest open element with one of the traits, or the element (traits 0), when it lies
// within the scope: its index, or -1.
long FindInScope(const OpenElements* t, int element, unsigned traits, unsigned scope)
{
    for (size_t i = t->depth; i-- > 0;) {
        const int at = t->stack[i].element;
        if (traits ? (TraitsOf(at) & traits) != 0 : at == element)
            return static_cast<long>(i);
        if (TraitsOf(at) & scope)
            return -1;
    }
    return -1;
}

// Ends the nearest such element in the scope, and what is open inside it; false when
// there is none.
bool EndInScope(OpenElements* t, int element, unsigned traits, unsigned scope)
{
    const long at = FindInScope(t, element, traits, scope);
    if (at < 0)
        return false;
    PopTo(t, static_cast<size_t>(at));
    return true;
}

void CloseParagraph(OpenElements* t)
{
    EndInScope(t, kElP, 0, kButtonScope);
}

// An li, dd or dt ends the open one of its kind, unless a special element (but address,
// div and p) lies between.
void EndOpenItem(OpenElements* t, int first, int second)
{
    for (size_t i = t->depth; i-- > 0;) {
        const int at = t->stack[i].element;
        if (at == first || at == second) {
            PopTo(t, i);
            return;
        }
        if ((TraitsOf(at) & kSpecial) && at != kElAddress && at != kElDiv && at != kElP)
            return;
    }
}

// The adoption agency, for what the text depends on: the formatting element ends; when a
// special element was opened inside it, that element stays open and is taken out of it.
// One closed early is no longer opened again.
void EndFormatting(OpenElements* t, int element)
{
    const long at = FindInScope(t, element, 0, kDefaultScope);
    if (at < 0) {
        for (size_t i = t->activeCount; i-- > 0 && t->active[i].serial != 0;) {
            if (t->active[i].element == element && !IsOpen(t, t->active[i].serial)) {
                DropActive(t, i);
                break;
            }
        }
        return;
    }
    const long active = FindActive(t, t->stack[at].digest);
    if (active >= 0)
        DropActive(t, static_cast<size_t>(active));
    for (size_t i = static_cast<size_t>(at) + 1; i < t->depth; ++i) {
        if (TraitsOf(t->stack[i].element) & kSpecial) {
            Remove(t, static_cast<size_t>(at));
            return;
        }
    }
    PopTo(t, static_cast<size_t>(at));
}

// HTML's rule for other end tags: the nearest element of that name ends, unless a special
// element lies between.
void EndOther(OpenElements* t, const Tag& tag)
{
    for (size_t i = t->depth; i-- > 0;) {
        const OpenElement& e = t->stack[i];
        if (e.element == tag.element && (tag.element != kOtherElement || e.digest == tag.digest)) {
            PopTo(t, i);
            return;
        }
        if (TraitsOf(e.element) & kSpecial)
            return;
    }
}

bool InTable(const OpenElements* t)
{
    return FindInScope(t, kElTable, 0, kTableScope) >= 0;
}

// A table (not one inside a cell) ends at the start of another table.
bool TableOpenOutsideCell(const OpenElements* t)
{
    for (size_t i = t->depth; i-- > 0;) {
        const int at = t->stack[i].element;
        if (at == kElTable || at == kElTr || (TraitsOf(at) & kTableSection))
            return true;
        if ((TraitsOf(at) & kTableCell) || at == kElCaption || at == kElTemplate)
            return false;
    }
    return false;
}

// ---- Selects ----------------------------------------------------------------------------

bool InSelectMode(const OpenElements* t)
{
    const int top = Top(t);
    return t->depth && (t->stack[t->depth - 1].flags & kInSelect) &&
           (top == kElSelect || top == kElOption || top == kElOptgroup);
}

// Ends the select when it is in select scope (only options and groups inside it).
void EndSelect(OpenElements* t)
{
    for (size_t i = t->depth; i-- > 0;) {
        const int at = t->stack[i].element;
        if (at == kElSelect) {
            PopTo(t, i);
            return;
        }
        if (at != kElOption && at != kElOptgroup)
            return;
    }
}

// A start tag in a select: only options and groups open; a select, input, keygen or
// textarea ends it. True when the tag is to be read as outside the select.
bool OpenInSelect(OpenElements* t, const Tag& tag)
{
    switch (tag.element) {
    case kElOption:
    case kElOptgroup:
        if (Top(t) == kElOption)
            Pop(t);
        if (tag.element == kElOptgroup && Top(t) == kElOptgroup)
            Pop(t);
        Insert(t, tag);
        return false;
    case kElSelect:
        EndSelect(t);
        return false;
    case kElInput:
    case kElKeygen:
    case kElTextarea:
        EndSelect(t);
        return true;
    case kElScript:
    case kElTemplate:
        Insert(t, tag);
        return false;
    default:
        return false;
    }
}

void CloseInSelect(OpenElements* t, int element)
{
    if (element == kElOptgroup && Top(t) == kElOption && t->depth >= 2 &&
        t->stack[t->depth - 2].element == kElOptgroup)
        Pop(t);
    if ((element == kElOption || element == kElOptgroup) && Top(t) == element)
        Pop(t);
    else if (element == kElSelect)
        EndSelect(t);
}

// Whether the element's start keeps the head open (HTML's "in head" elements).
bool BelongsInHead(Kind kind)
{
    return kind == kHead || kind == kHeadItem || kind == kHidden || kind == kTemplate || kind == kHtml;
}

// What a start tag ends before its element opens, by HTML's "in body" rules; false when
// the tag is left out (a table's part outside a table).
bool EndBeforeStart(OpenElements* t, const Tag& tag)
{
    const int element = tag.element;
    const unsigned traits = TraitsOf(element);
    if ((traits & (kTableCell | kTableSection)) || element == kElTr || element == kElCaption) {
        if (!InTable(t))
            return false;
        if (element != kElCaption)
            EndInScope(t, 0, kTableCell, kTableScope);
        if (element == kElTr || (traits & kTableSection))
            EndInScope(t, kElTr, 0, kTableScope);
        if (traits & kTableSection)
            EndInScope(t, 0, kTableSection, kTableScope);
        return true;
    }
    switch (element) {
    case kElLi:
        EndOpenItem(t, kElLi, kElLi);
        break;
    case kElDd:
    case kElDt:
        EndOpenItem(t, kElDd, kElDt);
        break;
    case kElTable:
        if (TableOpenOutsideCell(t))
            EndInScope(t, kElTable, 0, kTableScope);
        break;
    case kElButton:
        EndInScope(t, kElButton, 0, kDefaultScope);
        break;
    case kElA:
        // An open a ends, and one closed early is not opened again; one beyond a cell or
        // the like only loses its address.
        EndFormatting(t, kElA);
        for (size_t i = t->activeCount; i-- > 0 && t->active[i].serial != 0;)
            if (t->active[i].element == kElA)
                DropActive(t, i);
        for (size_t i = 0; i < t->depth; ++i) {
            if (t->stack[i].own & kOpenLink) {
                t->stack[i].own &= ~kOpenLink;
                CloseLink(t->sink);
            }
        }
        break;
    case kElOption:
    case kElOptgroup:
        if (Top(t) == kElOption)
            Pop(t);
        break;
    default:
        break;
    }
    if (traits & kClosesParagraph)
        CloseParagraph(t);
    if ((traits & kHeading) && (TraitsOf(Top(t)) & kHeading))
        Pop(t);
    return true;
}

}  // namespace

int FindElement(const char* name)
{
    const unsigned char first = static_cast<unsigned char>(name[0]);
    if (first < 'a' || first > 'z')
        return kOtherElement;
    int low = kFirstOfLetter.at[first - 'a'], high = kFirstOfLetter.at[first - 'a' + 1] - 1;
    while (low <= high) {
        const int mid = low + (high - low) / 2;
        const unsigned char* a = reinterpret_cast<const unsigned char*>(name) + 1;
        const unsigned char* b = reinterpret_cast<const unsigned char*>(kElements[mid].name) + 1;
        while (*a && *a == *b)
            ++a, ++b;
        const int order = *a - *b;
        if (order == 0)
            return mid;
        if (order < 0)
            high = mid - 1;
        else
            low = mid + 1;
    }
    return kOtherElement;
}

Kind KindOf(int element)
{
    return element < kOtherElement ? kElements[element].kind : kInline;
}

uint32_t NameDigest(const char* name, size_t length)
{
    uint32_t digest = 2166136261u;   // FNV-1a
    for (size_t i = 0; i < length; ++i)
        digest = (digest ^ static_cast<unsigned char>(name[i])) * 16777619u;
    return digest;
}

void StartOpenElements(OpenElements* t, TextSink* sink)
{
    std::memset(t, 0, sizeof *t);
    t->sink = sink;
}

void AddText(OpenElements* t, CodePoint cp, bool preformatted)
{
    if (t->reopen && !(t->current & kInSelect) && !t->inHead)
        Reopen(t);
    const unsigned flags = t->current;
    if (flags & (kNotShown | kInSelect)) {
        if ((flags & (kNotShown | kShownOption)) == kShownOption)
            KeepOptionText(t->sink, cp);
        return;
    }
    if (IsHtmlSpace(cp)) {
        if (!t->inHead)
            WriteBlank(t->sink, cp, preformatted);
        return;
    }
    if (IsControl(cp))
        return;
    t->inHead = false;
    t->bodyStarted = true;
    WriteCharacter(t->sink, cp);
}

bool OpenTag(OpenElements* t, const Tag& tag)
{
    const int element = tag.element;
    const Kind kind = KindOf(element);
    const unsigned traits = TraitsOf(element);
    const bool shown = Shown(t->current);
    if (shown) {
        if (t->inHead && !BelongsInHead(kind))
            t->inHead = false;
        if (kind == kHead && !t->bodyStarted)
            t->inHead = true;
        if (t->inHead && kind != kTemplate)
            return false;   // the head's elements hold no text
        if (kind != kHtml && kind != kHeadItem && kind != kHidden && kind != kTemplate)
            t->bodyStarted = true;
    }
    if (kind == kHtml || kind == kBody || kind == kHead) {
        if (shown && tag.hidden && kind != kHead) {
            t->rootFlags |= kHiddenText;
            UpdateCurrent(t);
        }
        return false;
    }
    if (!t->beyond) {
        if (InSelectMode(t) && !OpenInSelect(t, tag))
            return false;
        if (!EndBeforeStart(t, tag))
            return false;
        if (t->reopen && (element == kOtherElement || (traits & kReconstructs)))
            Reopen(t);
    }
    if (traits & kVoid) {
        if (Shown(t->current) && !tag.hidden) {
            OpenElement e = {0, static_cast<uint8_t>(element), 0, static_cast<uint8_t>(t->current), 0};
            StartEffects(t, &e, tag);
        }
        return false;
    }
    Insert(t, tag);
    return (kind == kPre || kind == kTextarea) && Shown(t->current);
}

void CloseTag(OpenElements* t, const Tag& tag)
{
    const int element = tag.element;
    const Kind kind = KindOf(element);
    if (element == kElBr) {
        if (Shown(t->current) && !InSelectMode(t)) {
            t->inHead = false;
            LineBreak(t->sink);   // </br> is a <br>
        }
        return;
    }
    if (t->beyond) {
        --t->beyond;
        return;
    }
    if (element == kElTemplate) {
        for (size_t i = t->depth; i-- > 0;) {
            if (t->stack[i].element == kElTemplate) {
                PopTo(t, i);
                break;
            }
        }
        return;
    }
    if (Shown(t->current)) {
        // In the head only these end tags count.
        if (t->inHead && kind != kHead && kind != kBody && kind != kHtml)
            return;
        t->inHead = false;
        if (kind == kHead || kind == kBody || kind == kHtml) {
            t->bodyStarted = true;
            return;
        }
    } else if (kind == kHead || kind == kBody || kind == kHtml) {
        return;
    }
    if (InSelectMode(t)) {
        CloseInSelect(t, element);
        return;
    }
    const unsigned traits = TraitsOf(element);
    if (element == kElP) {
        if (!EndInScope(t, kElP, 0, kButtonScope) && Shown(t->current))
            RequestBreaks(t->sink, 2);   // a p opened and ended at once
    } else if (element == kElLi) {
        EndInScope(t, kElLi, 0, kListItemScope);
    } else if (traits & kEndsInScope) {
        EndInScope(t, element, 0, kDefaultScope);
    } else if (traits & kHeading) {
        EndInScope(t, 0, kHeading, kDefaultScope);
    } else if (element == kElTable || element == kElTr || element == kElCaption || (traits & (kTableCell | kTableSection))) {
        EndInScope(t, element, 0, kTableScope);
    } else if (traits & kFormatting) {
        EndFormatting(t, element);
    } else {
        EndOther(t, tag);
    }
}

void CloseAll(OpenElements* t)
{
    t->beyond = 0;
    PopTo(t, 0);
}

}  // namespace html
