// HtmlToPaneText, HtmlTextConverter in pieces, and FindHtmlMetaCharset on arbitrary bytes. A first byte with its low bit
// set asks for small bounds (room 1 to 256 units from the second byte, lines of up to
// first byte / 2 units), so that cuts and line breaks are met often; else the pane's line
// bound, and room for 16 units a byte (the pane's 262,144 would cost the fuzzer most of
// its time in filling and checking units that no input this short reaches).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "mailview/mailtext/html/html_text.h"

namespace {

const PaneUnit kUntouched = static_cast<PaneUnit>(0xFFFE);

std::string CheckText(const std::vector<PaneUnit>& out, size_t written, int result, size_t maxLine)
{
    if (result != HtmlTextNone && result != HtmlTextWhole && result != HtmlTextCut)
        return "result " + std::to_string(result);
    if (written > out.size())
        return "written past the room";
    if ((result == HtmlTextNone && written != 0) || (result == HtmlTextWhole && written == 0))
        return "text with a result that says none, or none with one that says whole";
    for (size_t i = written; i < out.size(); ++i)
        if (out[i] != kUntouched)
            return "unit " + std::to_string(i) + " beyond the text was written";
    size_t column = 0;
    for (size_t i = 0; i < written; ++i) {
        const unsigned c = static_cast<unsigned>(out[i]) & 0xFFFF;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= written || (out[i + 1] & 0xFC00) != 0xDC00)
                return "a high surrogate alone at " + std::to_string(i);
            ++i;
            column += 2;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return "a low surrogate alone at " + std::to_string(i);
        } else if (c == '\n') {
            column = 0;
            continue;
        } else if ((c < 0x20 && c != '\t') || (c >= 0x7F && c <= 0x9F)) {
            return "control character " + std::to_string(c) + " at " + std::to_string(i);
        } else {
            ++column;
        }
        if (maxLine >= 2 && column > maxLine)
            return "a line longer than " + std::to_string(maxLine) + " units ends at " + std::to_string(i);
    }
    if (result == HtmlTextWhole && (out[0] == '\n' || out[written - 1] == '\n'))
        return "the text begins or ends with a line end";
    return "";
}

std::string CheckCharset(const char* html, size_t length)
{
    char charset[40];
    const int found = FindHtmlMetaCharset(html, length, charset, sizeof charset);
    if (found != 0 && found != 1)
        return "meta charset result " + std::to_string(found);
    const std::string name(charset, strnlen(charset, sizeof charset));
    if (name.size() >= sizeof charset || (found == 1) == name.empty())
        return "meta charset \"" + name + "\" with result " + std::to_string(found);
    for (char c : name)
        if (c >= 'A' && c <= 'Z')
            return "meta charset not in lower case: " + name;
    if (found && (name.front() == ' ' || name.back() == ' '))
        return "meta charset with blanks: \"" + name + "\"";
    return "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    size_t capacity = 4096 + 16 * size, maxLine = 4096, skip = size > 0 ? 1 : 0;
    if (size >= 2 && (data[0] & 1)) {
        capacity = 1 + data[1];
        maxLine = data[0] >> 1;
        skip = 2;
    }
    const char* html = reinterpret_cast<const char*>(data + skip);
    std::vector<PaneUnit> out(capacity, kUntouched);
    size_t written = 0;
    const int result = HtmlToPaneText(html, size - skip, &out[0], capacity, maxLine, &written);
    FuzzReport(CheckText(out, written, result, maxLine));
    // The same text from the converter fed in pieces, each taken from where the last stopped.
    std::vector<PaneUnit> pieces(capacity, kUntouched);
    HtmlTextConverter converter;
    const size_t piece = 1 + size % 7, length = size - skip;
    if (converter.Begin(&pieces[0], capacity, maxLine)) {
        for (size_t at = 0, fed = 0; at < length;) {
            fed = std::min(length, std::max(fed, at) + piece);
            at += converter.Feed(html + at, fed - at, fed == length);
        }
        size_t piecesWritten = 0;
        if (converter.Finish(&piecesWritten) != result || piecesWritten != written || pieces != out)
            FuzzReport("the text fed in pieces of " + std::to_string(piece) + " differs");
    }
    FuzzReport(CheckCharset(html, size - skip));
    return 0;
}
