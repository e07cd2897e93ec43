// The HTML reader's bounds, shared by its parts and its callers. A tag of any length is
// read through (an inline image's data address alone runs to hundreds of KB), but only its
// name's first bytes and the values of href and alt are kept: a longer name matches no
// element, a longer value is left out rather than cut.
#pragma once

enum {
    kHtmlTagNameBytes = 32,
    kHtmlAttributeValueBytes = 2048,
    kHtmlOpenElements = 256,   // elements kept open; one opened past them holds nothing
    kHtmlListLevels = 16,      // list levels whose kind and numbering are kept
    kHtmlListIndentLevels = 8, // deeper items are indented as this level's
};
