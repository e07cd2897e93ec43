// The HTML reader's text sink: the pane's text from the code points and requests of the
// stack of open elements. It collapses blanks, keeps at most one empty line between
// blocks, writes list markers, a link's address and a select's option, breaks long lines
// and stops at the room it was given (the cut).
#pragma once
#include <cstddef>

#include "mailview/mailtext/html/html_tokens.h"

namespace html {

struct ListLevel {
    bool ordered;
    char style;   // '1', 'a', 'A', 'i' or 'I', as the type attribute says
    long next;
};

enum { kOptionUnits = 256 };   // an option's text shown for its select

struct TextSink {
    // Output and its bounds.
    PaneUnit* out;
    size_t capacity;
    size_t maxLine;
    size_t used;
    size_t column;       // units in the current line
    size_t afterBlank;   // just past the line's last blank; 0: none
    bool cut;
    // What the next text is preceded by.
    bool pendingSpace;
    size_t pendingBreaks;
    size_t pendingTabs;
    PaneUnit marker[2 * kHtmlListIndentLevels + 32];
    size_t markerLength;
    // The numbering of the first list levels, by level.
    ListLevel lists[kHtmlListLevels];
    // The open link: 0: none; 1: open, no text yet; 2: its text begins at linkStart.
    int linkState;
    size_t linkStart;
    Value link;
    // The text of the option an open select shows, kept until the select ends.
    bool hadOption;
    bool optionSpace;
    size_t optionLength;
    CodePoint option[kOptionUnits];
};

void StartTextSink(TextSink* s, PaneUnit* out, size_t capacity, size_t maxLineUnits);

// A blank of the text (a space, tab or line end): collapsed outside pre.
void WriteBlank(TextSink* s, CodePoint cp, bool preformatted);
// A character that is shown, after what precedes it.
void WriteCharacter(TextSink* s, CodePoint cp);

// Asks for line ends before the next text: blocks raise the count, never add to it.
void RequestBreaks(TextSink* s, size_t count);
// A <br>: adds a line end, but leaves at most one empty line.
void LineBreak(TextSink* s);
// A table cell: a tab before its text when the row already has text.
void StartCell(TextSink* s);

// A list at `level` (the lists around it) begins: its numbering from the tag's start and
// type, kept for the first levels.
void StartList(TextSink* s, size_t level, bool ordered, const ShortValue& start, const ShortValue& type);
// A list item's marker, indented for the lists around it, shown before its text.
void SetItemMarker(TextSink* s, size_t level);
void ClearItemMarker(TextSink* s);

// A link's text follows: its address is kept when it is http, https or mailto.
void OpenLink(TextSink* s, const Value& href);
// After a link's text: " <address>" when the text does not say the address.
void CloseLink(TextSink* s);
// The last link opened goes on in more text, which shows its address again.
void ReopenLink(TextSink* s);

// A select opens: no option seen yet.
void StartSelect(TextSink* s);
// An option opens: whether its text is the one the select shows (a selected one replaces
// what an earlier one gave).
bool StartOption(TextSink* s, bool selected);
void StartOptionGroup(TextSink* s);
// Text of the option shown, its blanks collapsed and none kept at its ends.
void KeepOptionText(TextSink* s, CodePoint cp);
// The select ends: the option's text is shown.
void ShowSelect(TextSink* s);

}  // namespace html
