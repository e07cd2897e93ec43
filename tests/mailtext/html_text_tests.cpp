// HTML parts as text: one row per rule, and the meta charset prescan.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "mailview/mailtext/html/html_text.h"

namespace {

// The units as UTF-8; a lone surrogate shows as "<bad>", which no expected text holds.
std::string ToUtf8(const PaneUnit* units, size_t count)
{
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        unsigned long c = static_cast<unsigned long>(units[i]) & 0xFFFF;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && (units[i + 1] & 0xFC00) == 0xDC00)
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] & 0x3FF);
        else if (c >= 0xD800 && c <= 0xDFFF) {
            out += "<bad>";
            continue;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The html converted whole, and fed in pieces of `piece` bytes (0: whole) with what each
// feed leaves given again at the head of the next: every piece in a heap block of exactly
// its size, so that a read past its end is an overrun the sanitizer sees.
int Convert(const std::string& html, size_t piece, PaneUnit* out, size_t capacity, size_t line, size_t* written)
{
    if (piece == 0) {
        std::unique_ptr<char[]> whole(new char[html.size()]);
        html.copy(whole.get(), html.size());
        return HtmlToPaneText(whole.get(), html.size(), out, capacity, line, written);
    }
    HtmlTextConverter converter;
    if (!converter.Begin(out, capacity, line))
        return -2;
    std::string held;
    for (size_t at = 0; at < html.size() || !held.empty();) {
        held += html.substr(at, piece);
        at += piece;
        const bool final = at >= html.size();
        std::unique_ptr<char[]> block(new char[held.size()]);
        held.copy(block.get(), held.size());
        const size_t taken = converter.Feed(block.get(), held.size(), final);
        if (taken > held.size() || (!final && held.size() - taken >= kHtmlCarryBytes) || (final && taken != held.size()))
            return -3;
        held.erase(0, taken);
    }
    return converter.Finish(written);
}

}  // namespace

TEST(HtmlText, Rows)
{
    const std::string longAddress = "<a href='http://x.example/" + std::string(3000, 'a') + "'>t</a>";
    const std::string longName = "<" + std::string(40, 'p') + ">z";
    std::string deepLists;
    for (int i = 0; i < 20; ++i)
        deepLists += "<ul>";
    std::string deepSpans, endSpans;   // past the open elements' bound an element holds nothing
    for (int i = 0; i < 300; ++i)
        deepSpans += "<span>", endSpans += i < 260 ? "</span>" : "";
    const struct {
        std::string html;
        const char* text;
        int result;           // HtmlTextResult
        size_t capacity;      // 0: the pane's
        size_t line;          // 0: the pane's
    } rows[] = {
        {"<b>bold</b> and <i>it</i>alic", "bold and italic", 1, 0, 0},
        {"<html><head><title>T</title><style>p{}</style><meta charset=utf-8></head><body>x</body></html>", "x", 1, 0, 0},
        {"a<script>if (a<b) x='</p>';</script >b<!-- c <p> -->d<!-->e<template><p>t</template>f", "abdef", 1, 0, 0},
        {"<noscript>no <b>js</b></noscript>", "no js", 1, 0, 0},
        {"  a \n\t b  <span> c </span>", "a b c", 1, 0, 0},
        {"x<pre>\n a  b\r\n\n\tc</pre>y", "x\n\n a  b\n\n\tc\n\ny", 1, 0, 0},
        {"<div>a</div><div>b</div><p>c</p><p></p><p>d</p><h1>e</h1>f", "a\nb\n\nc\n\nd\n\ne\n\nf", 1, 0, 0},
        {"a<br>b<br><br><br>c<div>d<br></div>e</p><br><p>f", "a\nb\n\nc\nd\ne\n\nf", 1, 0, 0},
        {"<section>a</section><blockquote>b</blockquote>c<hr>d<dl><dt>e<dd>f</dl>", "a\n\nb\n\nc\n\nd\n\ne\nf", 1, 0, 0},
        {"<ul><li>a<li>b<ol><li>c<li>d</ol></ul>", "\xE2\x80\xA2 a\n\xE2\x80\xA2 b\n  1. c\n  2. d", 1, 0, 0},
        {"<table><tr><th>A<th>B</tr><tr><td>1<td></td><td>3</table>", "A\tB\n1\t\t3", 1, 0, 0},
        {"<a href=' http://x.example/a\n'>site</a>, <a href=mailto:b@x.example>b@x.example</a>",
         "site <http://x.example/a>, b@x.example", 1, 0, 0},
        {"<a href='https://x.example/'>x.example</a> <a href='javascript:f()'>f</a><a href=ftp://x>g</a>",
         "x.example fg", 1, 0, 0},
        {"<a href='http://x.example/'><img src=a.png></a>", "", 0, 0, 0},
        {"<img src=x alt=' Logo \n big '><img src=y><img alt=''>", "[Logo big]", 1, 0, 0},
        {"&amp;&lt;&gt;&quot;&nbsp;&CounterClockwiseContourIntegral;&NotEqualTilde;&fjlig;",
         "&<>\"\xC2\xA0\xE2\x88\xB3\xE2\x89\x82\xCC\xB8\x66j", 1, 0, 0},
        {"&#65;&#x42;&#X43;&#0;&#x110000;&#xD800;&#128;&#150;&#99999999999;&#x1F600",
         "ABC\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xE2\x82\xAC\xE2\x80\x93\xEF\xBF\xBD\xF0\x9F\x98\x80", 1, 0, 0},
        {"&notit; &ampx &copy2 &bogus; &Amp; & &# &#x; &", "\xC2\xACit; &x \xC2\xA9" "2 &bogus; &Amp; & &# &#x; &", 1, 0, 0},
        {"<img alt='&copy=&copyx&copy &lt;'><a href='http://x/?a=1&copy=2&amp;b'>q</a>",
         "[&copy=&copyx\xC2\xA9 <]q <http://x/?a=1&copy=2&b>", 1, 0, 0},
        {"<p>a<div>b</p>c<b><i>x</b>y</i><ul><li>z", "a\n\nb\n\ncxy\n\n\xE2\x80\xA2 z", 1, 0, 0},
        {"a<script>b<p>c", "a", 1, 0, 0},
        {"a<img alt='b", "a", 1, 0, 0},
        {longAddress + longName, "tz", 1, 0, 0},
        {deepLists + "<li>x", "              \xE2\x80\xA2 x", 1, 0, 0},
        {"<!DOCTYPE html><html><head></head><body><br><p></p><!-- x --></body></html>", "", 0, 0, 0},
        {"a\xFF" "b\xED\xA0\x80" "c \xF0\x9F\x98\x80 caf\xC3\xA9 \xE2\x80\x94", "a\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
         "c \xF0\x9F\x98\x80 caf\xC3\xA9 \xE2\x80\x94", 1, 0, 0},
        {"<p>abcdefghij</p>", "abcdefgh", 2, 8, 0},
        {"ab\xF0\x9F\x98\x80", "ab", 2, 3, 0},
        {"aaaaaaaaaaaaaa bb cc", "aaaaaaaaaaaaaa \nbb cc", 1, 0, 16},
        {"aaaaaaaaaaaaaaaaaaaa", "aaaaaaaaaaaaaaaa\naaaa", 1, 0, 16},
        // Lists numbered from their start, in their type; hidden content; a select's option.
        {"<ol start=' 5'><li>a<li>b</ol><ol type=a start=27><li>c</ol><ol type=I start=+1994><li>d</ol>"
         "<ol type=i start=-2><li>e</ol><ol start=x type=q><li>f</ol>",
         "5. a\n6. b\n\naa. c\n\nMCMXCIV. d\n\n-2. e\n\n1. f", 1, 0, 0},
        {"a<div hidden>b<div>c</div>d</div>e<p hidden>f<p>g<img hidden alt=h><span hidden=hidden>i</span>j"
         "<ul><li hidden>k<li>l</ul><textarea hidden>m</textarea>n<ul><li hidden>o</ul>p",
         "ae\n\ngj\n\n\xE2\x80\xA2 l\n\nn\n\np", 1, 0, 0},
        {"Size: <select><option>S<option selected> M\n x </option>y<b>z</b><option>L</select>. "
         "<select><option>one<option>two</select><select><option>open",
         "Size: M x. oneopen", 1, 0, 0},
        // Ill-formed UTF-8: a U+FFFD for each maximal subpart, as HTML decodes.
        {"\xC0\xAF|\xE3\x81" "b|\xF0\x9F\x98|\xF4\x90\x80\x80",
         "\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD" "b|\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD",
         1, 0, 0},
        {"&#x9F;|&lt b|&hellip x|&middot x|a&zwnj;b|&#" + std::string(30, '0') + "65;|&#" + std::string(32, '0') + "65;",
         "\xC5\xB8|< b|&hellip x|\xC2\xB7 x|a\xE2\x80\x8C" "b|A|\xEF\xBF\xBD" "65;", 1, 0, 0},
        // Links: the first href counts, a nested link ends the open one, mailto: kept.
        {"<a href=http://a.example/ href=http://b.example/>x</a> <a href=http://a.example/>y<a "
         "href='MAILTO:c@x.example'>c@x.example</a>z</a> <a href=mailto:d@x.example>mail</a>",
         "x <http://a.example/> y <http://a.example/>c@x.examplez mail <mailto:d@x.example>", 1, 0, 0},
        {"aaaaaaaaaa <a href=http://x.example/>link</a>", "aaaaaaaaaa link \n<http://x.exampl\ne/>", 1, 0, 16},
        {"aaaaaaaaaaaaaaa <a href=http://x.example/>x.example</a>", "aaaaaaaaaaaaaaa \nx.example", 1, 0, 16},
        {"x<textarea>\n a<b>&amp;</textarea ><xmp>c<i>&amp;</xmp>d", "x a<b>&\n\nc<i>&amp;\n\nd", 1, 0, 0},
        {"a<!--->b<!-->c<!---->d<!-- --!>e", "abcde", 1, 0, 0},
        {"\xEF\xBB\xBF", "", 0, 0, 0},
        {"\xEF\xBB\xBF\xEF\xBB\xBF" "a", "\xEF\xBB\xBF" "a", 1, 0, 0},
        // The data's last bytes: a raw text end tag without '>', a text that fills the room.
        {"a<style>x</style", "a", 1, 0, 0},
        {"a<title>x</titl", "a", 1, 0, 0},
        {"<p>abc</p>", "abc", 1, 3, 0},
        {"ab&amp", "ab&", 1, 3, 0},
        {"ab\xF0\x9F\x98\x80", "ab\xF0\x9F\x98\x80", 1, 4, 0},
        // A tag, a comment or raw text longer than any piece is read through.
        {"<img src='data:image/png;base64," + std::string(5000, 'Q') + "' alt=pic>t<!--" + std::string(300, '-') +
             "->u<script>" + std::string(300, '<') + "</script>v",
         "[pic]tuv", 1, 0, 0},
        // Elements end as HTML ends them: implied end tags, within their scopes; hidden ones too.
        {"<ul><li hidden>a<ul><li>b</li></ul></li><li>c</li></ul>", "\xE2\x80\xA2 c", 1, 0, 0},
        {"<table><tr><td hidden>a<table><tr><td>b</td></tr></table></td><td>c</td></tr></table>", "c", 1, 0, 0},
        {"<p hidden>a<p hidden>b</p>c", "c", 1, 0, 0},
        {"<ul><li hidden>a<li hidden>b<li>c</ul>", "\xE2\x80\xA2 c", 1, 0, 0},
        {"<table><tr><td hidden>a<td hidden>b<td>c</table>", "c", 1, 0, 0},
        {"<dl><dt hidden>a<dt hidden>b<dd hidden>c<dd>d</dl>", "d", 1, 0, 0},
        {"<select><option hidden>a<option hidden>b<option>c</select>", "c", 1, 0, 0},
        {"<table><tr hidden><td>a<tr hidden><td>b<tr><td>c</table>", "c", 1, 0, 0},
        {"<ul><li hidden>a<ol><li hidden>b</ol><li>c</ul>", "\xE2\x80\xA2 c", 1, 0, 0},
        {"<p>a<button>b<div>c</div></button>d", "ab\nc\nd", 1, 0, 0},
        {"<li>a<ul>b</li>c", "\xE2\x80\xA2 a\n\nbc", 1, 0, 0},
        {"<table><tr><td>a</tr><td>b</table><ul><li hidden>c<div><li>d</div></ul>", "a\nb\n\n\xE2\x80\xA2 d", 1, 0, 0},
        {"<div><p>a</div>b<td>c</li>d</div>e<span hidden>x<div>y</span>z</div>w</span>v", "a\n\nbcdev", 1, 0, 0},
        // A link or hidden formatting element a block closed early opens again after it.
        {"<p><a href=http://x/>Click</p><p>here</a></p>", "Click <http://x/>\n\nhere <http://x/>", 1, 0, 0},
        {"<div><b hidden>x</div>y</b>z<p><b hidden>x<div>y</b>z</div>", "z\n\nz", 1, 0, 0},
        {deepSpans + "<b hidden>x</b>y", "xy", 1, 0, 0},
        {"<span hidden>" + deepSpans + endSpans + "x", "", 0, 0, 0},
    };
    for (const auto& row : rows) {
        const size_t capacity = row.capacity ? row.capacity : 262144;
        for (size_t piece : {0, 1, 2, 5, 64}) {
            std::unique_ptr<PaneUnit[]> out(new PaneUnit[capacity]);
            size_t written = 99;
            EXPECT_EQ(row.result, Convert(row.html, piece, out.get(), capacity, row.line ? row.line : 4096, &written))
                << row.html << " in pieces of " << piece;
            ASSERT_LE(written, capacity);
            EXPECT_EQ(row.text, ToUtf8(out.get(), written)) << row.html << " in pieces of " << piece;
        }
    }
    size_t written = 1;
    PaneUnit unit;
    EXPECT_EQ(-1, HtmlToPaneText("a", 1, &unit, 0, 0, &written));
    EXPECT_EQ(0u, written);
}

TEST(HtmlText, MetaCharset)
{
    const std::string far = std::string(1020, ' ') + "<meta charset=big5>";
    const struct {
        std::string html;
        const char* charset;
    } rows[] = {
        {"<html><head><META CharSet=\" ISO-8859-2 \">", "iso-8859-2"},
        {"<meta http-equiv=Content-Type content='text/html; charset=\"EUC-KR\"'>", "euc-kr"},
        {"<meta content='text/html;charset=koi8-r' http-equiv='content-type'>", "koi8-r"},
        {"<meta content='text/html; charset=koi8-r'>", ""},
        {"<!-- <meta charset=gbk> --><p title='<meta charset=gbk>'><meta charset=utf-16le>", "utf-8"},
        {"<meta charset=" + std::string(40, 'x') + "><meta charset=big5>", "big5"},
        {far, ""},
        {"<meta charset=big5", ""},
        {"<meta/charset=big5>", "big5"},
        {"<meta http-equiv=content-type content=\"text/html; charset=big5;x\">", "big5"},
        {"<meta charset=\"utf-16\">", "utf-8"},
        {"<!--><meta charset=big5>-->", "big5"},
    };
    for (const auto& row : rows) {
        char charset[40] = "?";
        EXPECT_EQ(row.charset[0] ? 1 : 0, FindHtmlMetaCharset(row.html.data(), row.html.size(), charset, sizeof charset))
            << row.html;
        EXPECT_STREQ(row.charset, charset) << row.html;
    }
}
