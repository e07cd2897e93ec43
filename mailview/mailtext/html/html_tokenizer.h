// The HTML reader's tokenizer: bytes to code points of text and tags, as HTML5's tokenizer
// reads them (comments, raw text elements, attribute quoting, character references), and
// handed to the stack of open elements. Resumable: the part may come in pieces.
#pragma once
#include <cstddef>

#include "mailview/mailtext/html/html_open_elements.h"
#include "mailview/mailtext/html/html_tokens.h"

namespace html {

// Where the value being read goes, when it is kept.
struct Slot {
    int* state;
    size_t* length;
    char* bytes;
    size_t size;
};

struct Tokenizer {
    OpenElements* elements;
    const TextSink* sink;   // read for the cut: once cut, nothing more is read
    int mode;
    int tagState;
    Tag tag;
    char attribute[16];
    size_t attributeLength;
    Slot kept;
    int rawKind;
    unsigned char quote;
    bool longAttribute;
    bool keeping;
    bool begun;         // the byte order mark looked at
    bool commentStart;
    bool skipNewline;   // a line feed right after <pre> or <textarea> belongs to the tag
};

void StartTokenizer(Tokenizer* s, OpenElements* elements, const TextSink* sink);
// Reads what it can of a piece; returns the bytes taken. Unless final, fewer than
// kHtmlCarryBytes are left, to be given again at the head of the next piece.
size_t Tokenize(Tokenizer* s, const unsigned char* p, size_t end, bool final);

}  // namespace html
