// Converting 1 MB of HTML to the pane's text: a newsletter's mix of a style sheet, layout
// tables, links, images with alt text, lists, references and Japanese text. Then the worst
// cases of a press's read bound: 64 MB of markup without text, in the pieces a press reads. Portable
// (the standard clock), so that it also builds natively:
//   clang++ -std=c++17 -O2 -I. bench/html_text_bench.cpp mailview/mailtext/*/*.cpp
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "mailview/mailtext/html/html_text.h"

namespace {

const size_t kHtmlBytes = 1 << 20;
const size_t kPaneUnits = 262144;   // the pane's bounds
const size_t kPaneLine = 4096;
const int kRepeats = 20;
const size_t kBoundBytes = 64u << 20;   // a press's read bound
const size_t kPieceBytes = 64u << 10;

std::string NewsletterHtml()
{
    std::string html = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>News</title><style>";
    for (int i = 0; html.size() < 20000; ++i)
        html += ".c" + std::to_string(i) + " { margin: 0; padding: 8px; font-family: sans-serif; }\n";
    html += "</style></head><body>\n";
    // Inline styles, as mail programs write them: most of a newsletter's bytes are markup.
    const std::string style = " style=\"font-family:Arial,Helvetica,sans-serif;font-size:14px;line-height:20px;"
                              "color:#333333;padding:8px 12px;text-align:left\"";
    for (int i = 0; html.size() < kHtmlBytes; ++i) {
        const std::string n = std::to_string(i);
        html += "<table width=\"100%\" cellpadding=\"0\" cellspacing=\"0\"><tr><td class=\"c1\"" + style + ">"
                "<a href=\"https://news.example/track?id=" + n + "&amp;u=abcdef\">Read article " + n +
                "</a></td><td><img src=\"https://news.example/i" + n + ".png\" alt=\"Photo " + n +
                "\" width=\"100\"></td></tr></table>\n<p" + style + ">"
                "\xE3\x83\xA1\xE3\x83\xBC\xE3\x83\xAB\xE6\x9C\xAC\xE6\x96\x87\xE3\x81\xAE\xE8\xA9\xA6\xE9\xA8\x93 "
                "The quick brown fox&nbsp;jumps &amp; over the lazy dog &mdash; caf&eacute; &#x1F600;</p>\n"
                "<ul" + style + "><li>one</li><li>two</li></ul><!-- item " + n + " -->\n";
    }
    html.resize(kHtmlBytes);
    return html + "</body></html>";
}

}  // namespace

int main()
{
    const std::string html = NewsletterHtml();
    std::vector<PaneUnit> out(kPaneUnits);
    std::vector<double> ms;
    size_t written = 0;
    int result = 0;
    for (int i = 0; i < kRepeats; ++i) {
        const auto start = std::chrono::steady_clock::now();
        result = HtmlToPaneText(html.data(), html.size(), &out[0], out.size(), kPaneLine, &written);
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("HtmlToPaneText, %lu bytes of HTML (a newsletter's mix) -> %lu units of text%s:\n",
                static_cast<unsigned long>(html.size()), static_cast<unsigned long>(written),
                result == HtmlTextCut ? " (cut at the pane's room)" : "");
    std::printf("  best %.2f ms, median %.2f ms, worst %.2f ms of %d; %.0f MB/s at the best\n", ms.front(),
                ms[ms.size() / 2], ms.back(), kRepeats, html.size() / 1e6 / (ms.front() / 1000));
    const std::string tags = "<span style=\"color:#333;font-family:Arial\"></span>\n";
    const std::string image = std::string(76, 'Q') + "\r\n";
    for (const std::string* unit : {&tags, &image}) {
        std::string markup = unit == &image ? "<img src=\"data:image/png;base64," : "";
        while (markup.size() < kBoundBytes)
            markup += *unit;
        HtmlTextConverter converter;
        converter.Begin(&out[0], out.size(), kPaneLine);
        const auto start = std::chrono::steady_clock::now();
        for (size_t at = 0; at < markup.size();) {
            const size_t piece = std::min(kPieceBytes, markup.size() - at);
            at += converter.Feed(markup.data() + at, piece, at + piece == markup.size());
        }
        converter.Finish(&written);
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%lu MB of %s in pieces of %lu KB: %.2f s, %.0f MB/s\n", static_cast<unsigned long>(kBoundBytes >> 20),
                    unit == &image ? "an inline image's data" : "empty tags with styles",
                    static_cast<unsigned long>(kPieceBytes >> 10), s, markup.size() / 1e6 / s);
    }
    return result == HtmlTextWhole || result == HtmlTextCut ? 0 : 1;
}
