// Header fields for the pane: one row per decoding rule, then the block's lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mailview/mailtext/header_text.h"
#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace {

// The code pages the rows use, through the system's own converter; any other is lacking.
int Convert(void*, unsigned codePage, const char* bytes, size_t length, PaneUnit* out, size_t room)
{
    const char* name = codePage == 932 ? "CP932" : codePage == 28591 ? "ISO-8859-1" : codePage == 28592 ? "ISO-8859-2" : NULL;
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

std::u16string Decoded(const std::string& value, size_t room = kHeaderBlockUnits)
{
    std::vector<PaneUnit> out(room + 1, 0);
    const size_t n = DecodeHeaderField(value.data(), value.size(), &out[0], room, kConverter);
    return std::u16string(out.begin(), out.begin() + static_cast<long>(n));
}

}  // namespace

TEST(HeaderText, DecodingRows)
{
    const std::string longJapanese = [] { std::string s; for (int i = 0; i < 2000; ++i) s += "\xE3\x81\x82"; return s; }();
    const struct {
        const char* what;
        std::string value;
        std::u16string shown;
    } rows[] = {
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
    };
    for (const auto& row : rows)
        EXPECT_TRUE(row.shown == Decoded(row.value)) << row.what;
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
    };
    for (const auto& row : rows) {
        std::vector<PaneUnit> out(row.room);
        const size_t n = HeaderBlockText(row.header, &out[0], row.room, kConverter);
        EXPECT_TRUE(row.block == std::u16string(out.begin(), out.begin() + static_cast<long>(n))) << row.header;
    }
}
