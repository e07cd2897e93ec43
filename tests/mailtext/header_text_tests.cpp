// Header fields for the pane: one row per decoding rule, then the block's lines.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "mailview/mailtext/headers/header_text.h"
#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace {

// The code pages the rows use, through the system's own converter; any other is lacking.
int Convert(void*, unsigned codePage, const char* bytes, size_t length, PaneUnit* out, size_t room)
{
    const char* name = codePage == 932 ? "CP932" : codePage == 1252 ? "CP1252" : codePage == 28592 ? "ISO-8859-2"
                     : codePage == 1250 ? "CP1250" : codePage == 20866 ? "KOI8-R" : NULL;
    if (!name)
        return -1;
#ifdef _WIN32
    return MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(length), out, static_cast<int>(room));
#else
    iconv_t cd = iconv_open("UTF-16LE", name);
    char *in = const_cast<char*>(bytes), *to = reinterpret_cast<char*>(out);
    size_t inLeft = length, outLeft = room * 2;
    const bool done = iconv(cd, &in, &inLeft, &to, &outLeft) != static_cast<size_t>(-1);
    iconv_close(cd);
    return done ? static_cast<int>(room - outLeft / 2) : -1;
#endif
}
const HeaderConverter kConverter = {Convert, NULL};

// Decoded into a heap block of exactly room units: a unit written past it fails under ASan.
std::u16string Decoded(const std::string& value, size_t room)
{
    const std::unique_ptr<PaneUnit[]> out(new PaneUnit[room]);
    const size_t n = DecodeHeaderField(value.data(), value.size(), out.get(), room, kConverter);
    return std::u16string(out.get(), out.get() + n);
}

}  // namespace

TEST(HeaderText, DecodingRows)
{
    const std::string longJapanese = [] { std::string s; for (int i = 0; i < 2000; ++i) s += "\xE3\x81\x82"; return s; }();
    const std::string cut(kHeaderFieldBytes - 2, ' ');   // blanks before a character that the 16 KB may cut
    const struct {
        const char* what;
        std::string value;
        std::u16string shown;
        size_t room = 0;   // 0: a room of the block's size, and one of the text's own
    } rows[] = {
#include "tests/mailtext/header_rows.inc"
        {"unfolded, a tab a space", " a\r\n b\n\tc ", u"a b c"},
        {"B, UTF-8, no padding", "=?UTF-8?B?8J+YgCBQYXJ0eQ?=", u"\U0001F600 Party"},
        {"Q and its underscore", "=?utf-8?q?caf=C3=A9_au_lait?=", u"caf\u00E9 au lait"},
        {"blanks between adjacent words dropped", "=?utf-8?q?a?= \t=?UTF-8?B?Yg==?= c =?utf-8?q?d?=", u"ab c d"},
        {"words split by a fold inside", "=?utf-8?B?Y2Fm\r\n w6k=?= =?utf-8?q?a\r\n\tb?=", u"caf\u00E9ab"},
        {"a character split across a fold", "=?UTF-8?B?4g==?=\r\n =?UTF-8?B?mJU=?=", u"\u2615"},
        {"a charset of the table", "=?iso-8859-2*pl?Q?=A3=F3d=BC?=", u"\u0141\u00F3d\u017A"},
        {"raw 8-bit bytes inside a word", "=?iso-8859-1?q?Fr\xF6sche?=", u"Fr\u00F6sche"},
        {"ISO-2022-JP, a second-level row", "=?ISO-2022-JP?B?GyRCRnxLXGAhGyhC?=", u"\u65E5\u672C\u71F9"},
        {"Shift_JIS", "=?Shift_JIS?B?k/qWe4zq?=", u"\u65E5\u672C\u8A9E"},
        {"EUC-JP", "=?euc-jp?B?xvzL3Ljs?=", u"\u65E5\u672C\u8A9E"},
        {"raw UTF-8", "Caf\xC3\xA9 \xEC\x95\x88", u"Caf\u00E9 \uC548"},
        {"raw bytes as the host shows them", "\x93\xFA\x96\x7B", u"\u65E5\u672C"},
        {"raw ISO-2022-JP", "\x1B$BF|K\\\x1B(B!", u"\u65E5\u672C!"},
        {"malformed words as written", "=?utf-8?B?4g=x?= =?x-unknown?q?a?= =?utf-8?q?abc", u"=?utf-8?B?4g=x?= =?x-unknown?q?a?= =?utf-8?q?abc"},
        {"a charset the system lacks", "=?gb18030?B?ldA=?= x", u"=?gb18030?B?ldA=?= x"},
        {"an address list as written", "\"Doe, J\" <j@x>,\r\n =?utf-8?q?Ji=C5=99=C3=AD?= (c) <j2@x>", u"\"Doe, J\" <j@x>, Ji\u0159\u00ED (c) <j2@x>"},
        {"control characters", "=?utf-8?q?a=0D=0Ab=01?=", u"a  b\uFFFD"},
        {"a 2,000-character Subject", longJapanese, std::u16string(kHeaderFieldUnits, u'\u3042')},
        {"cut before a pair that does not fit", std::string(298, 'x') + "\xF0\x9F\x98\x80", std::u16string(298, u'x')},
        {"a pair that fits at the bound", std::string(297, 'x') + "\xF0\x9F\x98\x80", std::u16string(297, u'x') + u"\U0001F600"},
        {"no blank kept before a character that does not fit", std::string(298, 'x') + " y", std::u16string(298, u'x')},
        {"cut at the room, blanks before it dropped", "=?utf-8?q?ab_c?= d", u"ab", 3},
        {"a pair cut at the room", "a\xF0\x9F\x98\x80", u"a", 2},
        {"16 KB: a character that fits", cut + "\xC3\xA9", u"\u00E9"},
        {"16 KB: two bytes cut after one", cut + " \xC3\xA9", u""},
        {"16 KB: three bytes cut after two", cut + "\xE2\x82\xAC", u""},
        {"16 KB: four bytes cut after three", cut.substr(1) + "\xF0\x9F\x98\x80", u""},
        {"16 KB: four bytes that fit", cut.substr(2) + "\xF0\x9F\x98\x80", u"\U0001F600"},
        {"16 KB: a word cut", cut.substr(2) + "=?utf-8?q?a?=", u"=?ut"},
        {"rule: a word the system lacks keeps its blanks", "=?utf-8?Q?Re:?= =?gb18030?B?ldA=?=", u"Re: =?gb18030?B?ldA=?="},
        {"rule: so between words", "=?utf-8?q?a?= =?gb18030?B?ldA=?=\t=?utf-8?q?b?=", u"a =?gb18030?B?ldA=?= b"},
        {"rule: joined words the system lacks, as written", "=?gb18030?B?ldA=?= =?GB18030?q?=D0?=", u"=?gb18030?B?ldA=?= =?GB18030?q?=D0?="},
        {"rule: a word of an unknown charset keeps its blanks", "=?utf-8?q?a?= =?x-unknown?q?b?= =?utf-8?q?c?=", u"a =?x-unknown?q?b?= c"},
        {"rule: words joined by the charset named: utf-8, utf8", "=?utf-8?B?4oI=?= =?utf8?B?rA==?=", u"\u20AC"},
        {"rule: words joined by the charset named: shift_jis, sjis", "=?shift_jis?B?kw==?= =?sjis?B?+g==?=", u"\u65E5"},
        {"rule: words joined by the charset named: euc-jp, x-euc-jp", "=?euc-jp?B?xg==?= =?x-euc-jp?B?/A==?=", u"\u65E5"},
        {"rule: words of two charsets not joined", "=?utf-8?B?4oI=?= =?iso-8859-2?q?=AC?=", u"\uFFFD\uFFFD\u0179"},
        {"rule: decoded blanks at a value's ends dropped", "=?utf-8?Q?_a_?=", u"a"},
        {"rule: decoded tabs and line ends at the ends too", "=?utf-8?q?=09a=0D=0A?= =?utf-8?q?__?=", u"a"},
        {"rule: only decoded blanks", "=?utf-8?q?___?=", u""},
        {"rule: controls as U+FFFD", "=?utf-8?q?a=C2=85b=7F=00=1Fc?= =?iso-8859-2?q?=80=9F?= d\xC2\x9F", u"a\uFFFDb\uFFFD\uFFFD\uFFFDc\uFFFD\uFFFD d\uFFFD"},
        {"rule: a byte that is not UTF-8 is one U+FFFD", "=?utf-8?q?=C0=80|=ED=A0=80|=F4=90=80=80|=E2=82A|=80|=E0=9F=BF|=C3=C3|=F0=9F=98?=", u"\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD\uFFFD|\uFFFD\uFFFDA|\uFFFD|\uFFFD\uFFFD\uFFFD|\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD"},
        {"rule: JIS X 0212 as '?', word and raw", "=?iso-2022-jp?B?GyQoRCIvGyhCeA==?= \x1B$(D\"/\x1B(B!", u"?x ?!"},
        {"rule: a blank or a fold in a kanji run stays a blank", "\x1B$BF|\r\n K\\\x1B(B", u"\u65E5 \u672C"},
        {"rule: raw text with 8-bit bytes is not read as ISO-2022-JP", "\xC3\xA9 \x1B(I1\x1B(B", u"\u00E9 \uFFFD(I1\uFFFD(B"},
        {"rule: a kanji byte left at a word's end as '?'", "=?iso-2022-jp?B?GyRCRnxL?=", u"\u65E5?"},
        {"rule: a half-width byte past 0x5F as '?'", "=?iso-2022-jp?B?GyhJYDEbKEI=?=", u"?\uFF71"},
        {"rule: EUC-JP's three bytes, a lone 0x8E, 0x8F or lead as '?'", "=?euc-jp?q?=8F=A2=AF=8EA=8FAB=80=A4?=", u"??A?AB??"},
        {"rule: bad base64 as written", "=?utf-8?B?YWJjZ?= =?utf-8?B?YQ=?= =?utf-8?B?YQ===?= =?utf-8?B?Y=Q=?= =?utf-8?B?YW*j?=", u"=?utf-8?B?YWJjZ?= =?utf-8?B?YQ=?= =?utf-8?B?YQ===?= =?utf-8?B?Y=Q=?= =?utf-8?B?YW*j?="},
        {"rule: a '?' or a blank inside a word, as written", "=?utf-8?q?a?b?= =?utf-8?q?a b?= =?utf-8?q?a\x7F?= =?utf-8?q?c?=", u"=?utf-8?q?a?b?= =?utf-8?q?a b?= =?utf-8?q?a\uFFFD?= c"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.shown, Decoded(row.value, row.room ? row.room : size_t(kHeaderBlockUnits))) << row.what;
        if (!row.room) {
            EXPECT_EQ(row.shown, Decoded(row.value, row.shown.size())) << row.what << ", in its own room";
        }
    }
}

TEST(HeaderText, BlockTakesFiveFieldsInOrder)
{
    const struct {
        const char* header;
        std::u16string block;
        size_t room;
    } rows[] = {
        {"Date: d\r\nSubject: s\r\nCc: c\r\nX-To: no\r\nTO : t\r\n u\r\nFrom: f\r\nFrom: g\r\n\r\nCc: body", u"From: f\nTo: t u\nCc: c\nSubject: s\nDate: d\n\n", 4096},
        {"Received: x\n\tFrom: y\nX: z\n", u"", 4096},
        {"From: a\nSubject: bcdef\n", u"From: a\nSubject: bc\n\n", 21},
        {"From: a\nSubject: b\n", u"From: a\n\n", 9},
        {"From: a\nTo: b\n", u"", 7},
        {"Subject: s\n\nFrom: body\n", u"Subject: s\n\n", 4096},
        {"Subject: a\n\tb\nTo: c\n", u"To: c\nSubject: a b\n\n", 4096},
        {"From: a\nTo: =?utf-8?q?_b_?=\n", u"From: a\nTo: b\n\n", 15},
    };
    for (const auto& row : rows) {
        std::vector<PaneUnit> out(row.room);
        const size_t n = HeaderBlockText(row.header, &out[0], row.room, kConverter);
        EXPECT_TRUE(row.block == std::u16string(out.begin(), out.begin() + static_cast<long>(n))) << row.header;
    }
}
