// A mail's header fields as the pane shows them: From, To, Cc, Subject and Date unfolded,
// RFC 2047 encoded-words decoded, raw 8-bit text read as UTF-8 or as the host reads it.
// Portable: charsets other than UTF-8 go through a converter that the caller supplies (the
// Windows side fills it with MultiByteToWideChar); the output is UTF-16.
#pragma once
#include <cstddef>

#include "mailview/mailtext/common/pane_unit.h"
#include "mailview/mailtext/mime/mail_text.h"

// Converts length bytes in the Windows code page into at most room units at out; the units
// written, or -1 when the code page can't be had or the text does not fit.
typedef int (*CodePageConverter)(void* context, unsigned codePage, const char* bytes, size_t length, PaneUnit* out,
                                 size_t room);
struct HeaderConverter {
    CodePageConverter convert;   // null: only UTF-8 and ASCII are read
    void* context;
};

// Bounds: a field's decoded value keeps the header reader's 299 units (cut before a whole
// character that does not fit); a field's first 16 KB are read; the block of five lines and
// its empty line is at most kHeaderBlockUnits units.
enum {
    kHeaderFieldUnits = kFieldCount,
    kHeaderFieldBytes = 16384,
    kHeaderBlockUnits = 4096,
};
// Raw 8-bit text that is not UTF-8 is read as the host reads it: Shift_JIS.
const unsigned kHostCodePage = 932;

// Decodes a field's value (what follows its colon, folds included; length bytes, no NUL
// needed) into at most room and kHeaderFieldUnits units at out; the units written. No line ends and no other
// control characters come out: tabs and line breaks are spaces, other controls U+FFFD; blanks at
// the value's ends, decoded ones too, are dropped.
size_t DecodeHeaderField(const char* value, size_t length, PaneUnit* out, size_t room,
                         const HeaderConverter& converter);

// The block the pane begins with: a line "Name: value" for each of From, To, Cc, Subject
// and Date that the header text (NUL-terminated, to its first empty line) has, in that
// order, its first such field taken, lines ended by '\n', then an empty line; nothing when
// it has none. At most room units (the block is cut at a line's end when room is short);
// the units written.
size_t HeaderBlockText(const char* headerText, PaneUnit* out, size_t room, const HeaderConverter& converter);
