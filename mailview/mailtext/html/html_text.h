// HTML parts as text for the Unicode pane: the markup read as a browser reads it (HTML5's
// tokenizer and its stack of open elements, simplified where only the text matters), the
// text laid out in lines as the pane shows it. Portable: the input is UTF-8 (the Windows
// side converts a part in another charset through its code page first), the output UTF-16.
#pragma once
#include <cstddef>
#include <memory>

#include "mailview/mailtext/html/html_bounds.h"
#include "mailview/mailtext/common/pane_unit.h"

enum HtmlTextResult {
    HtmlTextBadArguments = -1,
    HtmlTextNone = 0,    // no text at all (markup only, or empty)
    HtmlTextWhole = 1,   // all of the text
    HtmlTextCut = 2,     // the text filled the room and was cut there
};

const size_t kHtmlMetaScanBytes = 1024;

// Converts `length` bytes of HTML (UTF-8, transfer decoding done) into at most `capacity`
// units of text at out, line ends included, with *written set to the units written. Lines
// end with '\n' only; a line longer than maxLineUnits is broken as the pane breaks the
// lines of a plain body (below 2: never). A HtmlTextResult.
int HtmlToPaneText(const char* html, size_t length, PaneUnit* out, size_t capacity, size_t maxLineUnits,
                   size_t* written);

// The same conversion for a part given in pieces, so that a part of any length is read in
// bounded memory. Feed returns the bytes it took: unless final, it may leave fewer than
// kHtmlCarryBytes at the piece's end (a reference, a UTF-8 sequence, the start of markup),
// which go again at the head of the next piece. Once Full, nothing more is shown.
enum { kHtmlCarryBytes = 64 };
class HtmlTextConverter {
public:
    HtmlTextConverter();
    ~HtmlTextConverter();
    HtmlTextConverter(const HtmlTextConverter&) = delete;
    HtmlTextConverter& operator=(const HtmlTextConverter&) = delete;
    // Starts a text into out (capacity units, lines as HtmlToPaneText breaks them); false
    // on bad arguments or without memory for the state.
    bool Begin(PaneUnit* out, size_t capacity, size_t maxLineUnits);
    size_t Feed(const char* html, size_t length, bool final);
    bool Full() const;
    // Ends the text: a HtmlTextResult, *written as HtmlToPaneText sets it.
    int Finish(size_t* written);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The charset that a <meta charset> or <meta http-equiv="Content-Type" content="...">
// within the first kHtmlMetaScanBytes bytes names, found as HTML5's prescan finds it;
// lower case, into charset (size bytes with its NUL). 1 when found; 0 when not, or when the
// name does not fit (left out rather than cut); -1 on bad arguments. A UTF-16 name reads
// as utf-8, as HTML5 says: the bytes scanned were ASCII.
int FindHtmlMetaCharset(const char* html, size_t length, char* charset, size_t size);
