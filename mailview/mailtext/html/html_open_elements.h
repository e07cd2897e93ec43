// The HTML reader's stack of open elements: HTML's tree-construction rules for what the
// text depends on, with no tree built. Each open element is an entry that carries what
// its text is (hidden, a template's, preformatted, a select's, a shown option, a link)
// and the lists around it; elements end as HTML ends them (implied end tags, scopes),
// and their ends and starts become the text sink's line breaks, markers and links.
#pragma once
#include <cstddef>
#include <cstdint>

#include "mailview/mailtext/html/html_text_sink.h"
#include "mailview/mailtext/html/html_tokens.h"

namespace html {

// What an element does to the text.
enum Kind {
    kInline,
    kBlock,       // ends lines
    kWide,        // ends lines with an empty line between
    kParagraph,
    kList,
    kItem,
    kTerm,        // dt, dd
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

// The elements HTML's rules name, in the order of their names; kOtherElement for the rest.
enum ElementId {
    kElA, kElAddress, kElApplet, kElArea, kElArticle, kElAside, kElB, kElBase, kElBasefont, kElBgsound,
    kElBig, kElBlockquote, kElBody, kElBr, kElButton, kElCaption, kElCenter, kElCode, kElCol, kElColgroup,
    kElDd, kElDetails, kElDialog, kElDir, kElDiv, kElDl, kElDt, kElEm, kElEmbed, kElFieldset,
    kElFigcaption, kElFigure, kElFont, kElFooter, kElForm, kElFrame, kElFrameset, kElH1, kElH2, kElH3,
    kElH4, kElH5, kElH6, kElHead, kElHeader, kElHgroup, kElHr, kElHtml, kElI, kElIframe,
    kElImg, kElInput, kElKeygen, kElLegend, kElLi, kElLink, kElListing, kElMain, kElMarquee, kElMenu,
    kElMeta, kElNav, kElNobr, kElNoembed, kElNoframes, kElNoscript, kElObject, kElOl, kElOptgroup, kElOption,
    kElP, kElParam, kElPlaintext, kElPre, kElS, kElScript, kElSearch, kElSection, kElSelect, kElSmall,
    kElSource, kElStrike, kElStrong, kElStyle, kElSummary, kElTable, kElTbody, kElTd, kElTemplate, kElTextarea,
    kElTfoot, kElTh, kElThead, kElTitle, kElTr, kElTrack, kElTt, kElU, kElUl, kElWbr,
    kElXmp, kOtherElement
};

// The element of a tag's name (lower case, NUL-terminated).
int FindElement(const char* name);
Kind KindOf(int element);
// A digest of a name, which tells apart elements outside the table.
uint32_t NameDigest(const char* name, size_t length);

// What an open element's text is; an entry has its own and those of the entries below.
enum ElementFlags {
    kHiddenText = 1,       // the hidden attribute
    kTemplateText = 2,     // a template's contents
    kPreformatted = 4,
    kInSelect = 8,
    kShownOption = 16,     // the option whose text the select shows
    kOpenLink = 32,        // the a whose address the sink keeps
    kNotShown = kHiddenText | kTemplateText,
};

struct OpenElement {
    uint32_t digest;   // of the name, for kOtherElement; a formatting element's serial
    uint8_t element;
    uint8_t own;       // ElementFlags of the element itself
    uint8_t flags;     // own, and those of the elements around it
    uint8_t lists;     // list elements around it and itself (at most 255 counted)
};

// A formatting element (b, i, a...) that a block closed early is opened again for the text
// after it, as HTML's list of active formatting elements says. Only those that change the
// text are kept (the hidden attribute, a link), the last few of them; a marker (a cell, a
// template...) keeps those opened inside it there.
enum { kActiveFormatting = 4 };
struct ActiveFormatting {
    uint32_t serial;   // its entry's digest; 0: a marker
    uint8_t element;
    uint8_t own;
};

struct OpenElements {
    TextSink* sink;
    OpenElement stack[kHtmlOpenElements];
    size_t depth;
    size_t beyond;        // elements opened past the stack's room, closed at once, not yet ended
    ActiveFormatting active[kActiveFormatting];
    uint32_t serials;     // the last serial given to a formatting element
    uint32_t linkSerial;  // of the a whose address the sink keeps
    uint8_t activeCount;
    uint8_t rootFlags;    // an html or body element's hidden attribute hides everything
    uint8_t current;      // the flags the next text has
    bool reopen;          // an active formatting element was closed early
    bool inHead;
    bool bodyStarted;
};

void StartOpenElements(OpenElements* t, TextSink* sink);
// A start tag; true when a line feed right after it belongs to the tag (pre, textarea).
bool OpenTag(OpenElements* t, const Tag& tag);
void CloseTag(OpenElements* t, const Tag& tag);
// A code point of text, as the open elements show it.
void AddText(OpenElements* t, CodePoint cp, bool preformatted);
// The end of the data: every open element ends.
void CloseAll(OpenElements* t);

inline bool Preformatted(const OpenElements* t)
{
    return (t->current & kPreformatted) != 0;
}

}  // namespace html
