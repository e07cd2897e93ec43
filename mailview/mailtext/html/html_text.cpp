// HTML to the pane's text, in three parts that hand on to each other: the tokenizer (bytes
// to text and tags, in pieces), the stack of open elements (HTML's tree-construction rules,
// no tree built), and the text sink (the pane's lines and bounds). One pass over the bytes,
// in memory fixed at the start.
#include "mailview/mailtext/html/html_text.h"

#include <new>

#include "mailview/mailtext/html/html_open_elements.h"
#include "mailview/mailtext/html/html_text_sink.h"
#include "mailview/mailtext/html/html_tokenizer.h"

namespace {

struct Converter {
    html::TextSink sink;
    html::OpenElements elements;
    html::Tokenizer tokenizer;
};

void Start(Converter* s, PaneUnit* out, size_t capacity, size_t maxLineUnits)
{
    html::StartTextSink(&s->sink, out, capacity, maxLineUnits);
    html::StartOpenElements(&s->elements, &s->sink);
    html::StartTokenizer(&s->tokenizer, &s->elements, &s->sink);
}

size_t Feed(Converter* s, const unsigned char* p, size_t length, bool final)
{
    return html::Tokenize(&s->tokenizer, p, length, final);
}

int Finish(Converter* s, size_t* written)
{
    html::CloseAll(&s->elements);
    *written = s->sink.used;
    if (s->sink.cut)
        return HtmlTextCut;
    return s->sink.used ? HtmlTextWhole : HtmlTextNone;
}

}  // namespace

struct HtmlTextConverter::State : Converter {
};

HtmlTextConverter::HtmlTextConverter() {}

HtmlTextConverter::~HtmlTextConverter() {}

bool HtmlTextConverter::Begin(PaneUnit* out, size_t capacity, size_t maxLineUnits)
{
    if (!out || capacity == 0)
        return false;
    if (!state_)
        state_.reset(new (std::nothrow) State);
    if (!state_)
        return false;
    Start(state_.get(), out, capacity, maxLineUnits);
    return true;
}

size_t HtmlTextConverter::Feed(const char* html, size_t length, bool final)
{
    if (!state_ || (!html && length))
        return length;
    return ::Feed(state_.get(), reinterpret_cast<const unsigned char*>(html), length, final);
}

bool HtmlTextConverter::Full() const
{
    return state_ && state_->sink.cut;
}

int HtmlTextConverter::Finish(size_t* written)
{
    if (written)
        *written = 0;
    if (!state_ || !written)
        return HtmlTextBadArguments;
    return ::Finish(state_.get(), written);
}

int HtmlToPaneText(const char* html, size_t length, PaneUnit* out, size_t capacity, size_t maxLineUnits,
                   size_t* written)
{
    if (written)
        *written = 0;
    if ((!html && length) || !out || capacity == 0 || !written)
        return HtmlTextBadArguments;
    // Some 7.5 KB of state: small enough for any thread's stack.
    Converter state;
    Start(&state, out, capacity, maxLineUnits);
    Feed(&state, reinterpret_cast<const unsigned char*>(html), length, true);
    return Finish(&state, written);
}
