// A body of 100 MB, read and decoded in full and converted, and what the pane is given of
// it and of other long or broken texts: no crash, memory in proportion and all released.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "hostsim/host_sim.h"
#include "mailview/mail_file.h"
#include "base/host_api.h"
#include "tests/hardening/hardening_support.h"

using namespace hardening;

namespace {

const size_t kHundredMegabytes = 100u << 20;
const char kLine[] = "0123456789 \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E the quick brown fox\r\n";

class HugeBody : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        InstallGuard();
        ASSERT_EQ(1, BindHostApi());
    }
    void SetUp() override
    {
        view_ = hostsim::CreateViewWindow(NULL, 0, 0, 300, 200);
        heap_ = CrtHeapBytes();
    }
    void TearDown() override
    {
        hostsim::SetViewPath(view_.frame, NULL);
        DestroyWindow(view_.frame);
        if (!path_.empty())
            DeleteFileA(path_.c_str());
        EXPECT_LE(CrtHeapBytes(), heap_ + 256) << "memory left behind";
    }
    void Extract(const std::string& path, const char* boundary, MailBodyBuffer* body)
    {
        path_ = path;
        hostsim::SetViewPath(view_.frame, path.c_str());
        double start = Seconds();
        ExtractMailBody(view_.frame, boundary, body);
        std::printf("%s: extracted %u bytes in %.2f s\n",
                    ::testing::UnitTest::GetInstance()->current_test_info()->name(),
                    static_cast<unsigned>(body->size()), Seconds() - start);
    }
    hostsim::ViewWindow view_;
    size_t heap_;
    std::string path_;
};

}  // namespace

TEST_F(HugeBody, EightBitBodyIsReadWholeAndConvertedWhole)
{
    CaseScope scope("8bit 100 MB", 120000);
    std::string line(kLine);
    std::string path = WriteRepeatedFile("huge8.eml", Utf8Header("8bit"), line, kHundredMegabytes);
    size_t bodyBytes = kHundredMegabytes - Utf8Header("8bit").size();
    bodyBytes -= bodyBytes % line.size();
    if (bodyBytes + Utf8Header("8bit").size() < kHundredMegabytes)
        bodyBytes += line.size();
    {
        MailBodyBuffer body;
        Extract(path, NULL, &body);
        // CR LF read as LF: one byte less a line; then the NUL.
        size_t lines = bodyBytes / line.size();
        ASSERT_EQ(bodyBytes - lines + 1, body.size());
        EXPECT_EQ(0, body.back());
        double start = Seconds();
        std::wstring wide;
        ASSERT_TRUE(Utf8ToUtf16(reinterpret_cast<const char*>(&body[0]), &wide));
        EXPECT_EQ(lines * (line.size() - 1 - 6), wide.size());   // three 3-byte characters a line
        std::printf("converted in %.2f s\n", Seconds() - start);

        std::wstring text;
        ASSERT_TRUE(BodyToPaneText(body, kPaneTextUnits, kPaneLineUnits, &text));
        EXPECT_EQ(std::wstring(kPaneCutMarker), text.substr(text.size() - std::wcslen(kPaneCutMarker)));
        EXPECT_EQ(kPaneTextUnits, text.size() - std::wcslen(kPaneCutMarker));   // lines short: no breaks
        EXPECT_EQ(Utf8ToWide(std::string(kLine, sizeof kLine - 3)), text.substr(0, text.find(L'\n')));
    }
}

TEST_F(HugeBody, Base64BodyIsDecodedWhole)
{
    CaseScope scope("base64 100 MB", 120000);
    // Three lines "0123456789 日本語 the quick brown fox\r\n" as base64, in lines of 76.
    std::string encoded = "MDEyMzQ1Njc4OSDml6XmnKzoqp4gdGhlIHF1aWNrIGJyb3duIGZveA0KMDEyMzQ1Njc4OSDml6Xm\r\n"
                          "nKzoqp4gdGhlIHF1aWNrIGJyb3duIGZveA0KMDEyMzQ1Njc4OSDml6XmnKzoqp4gdGhlIHF1aWNr\r\n"
                          "IGJyb3duIGZveA0K\r\n";
    std::string path = WriteRepeatedFile("huge64.eml", Utf8Header("base64"), encoded, kHundredMegabytes);
    size_t units = (kHundredMegabytes - Utf8Header("base64").size()) / encoded.size();
    if (units * encoded.size() + Utf8Header("base64").size() < kHundredMegabytes)
        ++units;
    MailBodyBuffer body;
    Extract(path, NULL, &body);
    // Each unit decodes to three lines of 42 bytes, CR LF kept; the NUL follows.
    ASSERT_EQ(units * 3 * 42 + 1, body.size());
    EXPECT_EQ(std::string(kLine), std::string(reinterpret_cast<const char*>(&body[0]), 42));
}

TEST_F(HugeBody, QuotedPrintableBodyIsDecodedWhole)
{
    CaseScope scope("quoted-printable 100 MB", 120000);
    std::string unit = "=E6=97=A5=E6=9C=AC=E8=AA=9E soft=\r\nbreak\r\n";
    std::string path = WriteRepeatedFile("hugeqp.eml", Utf8Header("quoted-printable"), unit, kHundredMegabytes);
    size_t units = (kHundredMegabytes - Utf8Header("quoted-printable").size()) / unit.size();
    if (units * unit.size() + Utf8Header("quoted-printable").size() < kHundredMegabytes)
        ++units;
    MailBodyBuffer body;
    Extract(path, NULL, &body);
    // "日本語 softbreak\n": 9 + 10 + 1 bytes a unit.
    ASSERT_EQ(units * 20 + 1, body.size());
    EXPECT_EQ("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E softbreak\n",
              std::string(reinterpret_cast<const char*>(&body[0]), 20));
}

// A press reads no more of a body than the pane shows; the pane gets the same text as from
// the whole body, but for base64 the decoder rejects only beyond that: shown decoded.
TEST_F(HugeBody, ALimitedReadGivesThePaneWhatTheWholeBodyGives)
{
    CaseScope scope("limited reads", 120000);
    const std::string quad = "MDEyMzQ1Njc4OSDml6XmnKzoqp4gdGhlIHF1aWNrIGJyb3duIGZveA0K";   // kLine in base64
    std::string spread;   // one character a line
    for (char c : quad)
        spread += std::string(1, c) + "\r\n";
    const struct {
        const char* what;
        const char* encoding;
        std::string unit, tail;
        bool asWhole;
    } rows[] = {
        {"8bit", "8bit", kLine, "", true},
        {"quoted-printable", "quoted-printable", "=E6=97=A5=E6=9C=AC=E8=AA=9E soft=\r\nbreak\r\n", "", true},
        {"base64 in lines of 76", "base64", quad + quad.substr(0, 20) + "\r\n", "", true},
        {"base64 a character a line", "base64", spread, "", true},
        {"base64 rejected at once", "base64", "!" + quad + "\r\n", "", true},
        {"base64 rejected only at the end", "base64", quad + "\r\n", "!\r\n", false},
    };
    for (const auto& row : rows) {
        path_ = WriteRepeatedFile("limited.eml", Utf8Header(row.encoding), row.unit, 3u << 20, row.tail);
        hostsim::SetViewPath(view_.frame, path_.c_str());
        MailBodyBuffer whole, part;
        ExtractMailBody(view_.frame, NULL, &whole);
        ExtractMailBody(view_.frame, NULL, &part, kPaneBodyBytes);
        EXPECT_LT(part.size(), 3 * kPaneBodyBytes) << row.what;
        std::wstring fromWhole, fromPart;
        BodyToPaneText(whole, kPaneTextUnits, kPaneLineUnits, &fromWhole);
        BodyToPaneText(part, kPaneTextUnits, kPaneLineUnits, &fromPart);
        EXPECT_EQ(row.asWhole, fromWhole == fromPart) << row.what;
        if (!row.asWhole) {   // the whole is shown raw, the part decoded
            EXPECT_EQ(Utf8ToWide(std::string(kLine, sizeof kLine - 2)), fromPart.substr(0, fromPart.find(L'\n')));
        }
    }
}

TEST_F(HugeBody, ThePaneGetsABoundedPrefixInBoundedLinesOfAnyText)
{
    CaseScope scope("pane text", 60000);
    struct Row {
        const char* what;
        std::string utf8;
        size_t maxUnits, maxLine;
        std::wstring expected;   // the marker stands for kPaneCutMarker
        size_t htmlBytes = 0;    // an HTML part read up to so many bytes; 0: a plain body
        UINT codePage = CP_UTF8;
    } rows[] = {
        {"short text as it is", "ab\r\ncd", 10, 4, L"ab\r\ncd"},
        {"a long line broken after its last blank near the end", "aaaaaaaaaaaaaa bcd", 100, 16,
         L"aaaaaaaaaaaaaa \r\nbcd"},
        {"a long line without blanks broken at the limit", "abcdefgh", 100, 3, L"abc\r\ndef\r\ngh"},
        {"a blank early in the line is not taken", "a bcdefghijklmnopq", 100, 16,
         L"a bcdefghijklmno\r\npq"},
        {"cut at the limit with the marker", "abcdefgh", 5, 0, L"abcde*"},
        {"a character beyond the BMP is not split by the cut", "ab\xF0\x9F\x98\x80", 3, 0, L"ab*"},
        {"a character beyond the BMP is not split by a break", "a\xF0\x9F\x98\x80z", 100, 2,
         L"a\xD83D\xDE00\r\nz"},
        {"a break never doubles a line end", "abcd\r\nefgh", 100, 4, L"abcd\r\nefgh"},
        {"text ends at its first NUL", std::string("ab\0cd", 5), 100, 0, L"ab"},
        {"bytes that are no UTF-8 count too", "\xFF\xFF\xFF\xFF\xFF\xFF", 4, 0, L"\xFFFD\xFFFD\xFFFD\xFFFD*"},
        // An HTML part: a cut read and a cut text both end with the marker; a table charset
        // reaches the converter as UTF-8.
        {"HTML whole", "<p>a&amp;b</p>", 100, 0, L"a&b", 100},
        {"HTML read cut, never inside a character", "<p>ab\xC3\xA9</p>", 100, 0, L"ab*", 6},
        {"HTML read cut after a whole character", "<p>ab\xC3\xA9</p>", 100, 0, L"ab\xE9*", 7},
        {"HTML read cut before any text: the marker alone", "<p>abc", 100, 0, std::wstring(kPaneCutMarker + 4), 2},
        {"HTML text cut", "<p>abcdef</p>", 3, 0, L"abc*", 100},
        {"HTML in windows-1252", "<b>\x80\x93</b>", 100, 0, L"\x20AC\x201C", 100, 1252},
        {"HTML in big5, cut after a whole character", "<b>\xA4\xA4\xA4\xE5</b>", 100, 0, L"\x4E2D\x6587*", 7, 950},
        {"HTML in Shift_JIS, cut after a whole character", "<b>\xB1\x93\xFA\x96\x7B</b>", 100, 0, L"\xFF71\x65E5*", 7, 932},
        {"HTML in EUC-JP, cut after a whole character", "<b>\x8E\xB1\xC6\xFC\xCB\xDC</b>", 100, 0, L"\xFF71\x65E5*", 8, 20932},
        {"ISO-2022-JP, its shifts", "a\x1B$BF|K\\oi\x1B(Jb\x1B(I1\x1B(Bc", 100, 0, L"a\x65E5\x672C\x6FF6" L"b\xFF71" L"c", 0,
         kIso2022JpCodePage},
        {"HTML in ISO-2022-JP, cut inside a double byte", "<b>\x1B$BF|K\\\x1B(B</b>", 100, 0, L"\x65E5*", 9,
         kIso2022JpCodePage},
        {"HTML in ISO-2022-JP, cut inside an escape", "<b>x\x1B$BF|", 100, 0, L"x*", 6, kIso2022JpCodePage},
    };
    for (const Row& row : rows) {
        MailBodyBuffer body(row.utf8.begin(), row.utf8.end());
        body.push_back(0);
        std::wstring text;
        ASSERT_TRUE(row.htmlBytes
                        ? HtmlBodyToPaneText(body, row.htmlBytes, row.maxUnits, row.maxLine, &text, row.codePage)
                        : BodyToPaneText(body, row.maxUnits, row.maxLine, &text, row.codePage))
            << row.what;
        std::wstring expected = row.expected;
        if (!expected.empty() && expected[expected.size() - 1] == L'*')
            expected = expected.substr(0, expected.size() - 1) + kPaneCutMarker;
        EXPECT_EQ(expected, text) << row.what;
    }
    std::wstring text = L"earlier";
    MailBodyBuffer empty;
    EXPECT_FALSE(BodyToPaneText(empty, 10, 4, &text));
    EXPECT_EQ(L"", text);
    MailBodyBuffer onlyNul(1, 0);
    EXPECT_FALSE(BodyToPaneText(onlyNul, 10, 4, &text));
    const std::string markup = "<p><img src=a.png></p>";
    text = L"earlier";
    EXPECT_FALSE(HtmlBodyToPaneText(MailBodyBuffer(markup.begin(), markup.end()), 100, 100, 0, &text));
    EXPECT_EQ(L"", text);
    // UTF-7 read in pieces gives the text of the whole: one shift sequence through every
    // piece, its first piece ending between the two halves of an emoji; or at the end of a
    // group of the sequence, which a '-' ends in the next piece.
    const struct {
        size_t lead;
        const char* unit;
        int count;
        const char* tail;
    } utf7Rows[] = {{16, "AGEAYtg93gAAYQBi2D3eAABhAGLYPd4A", 4096, ""}, {7, "Ti1OLU4t", 8191, "-+-z"}};
    for (const auto& row : utf7Rows) {
        std::string utf7 = std::string(row.lead, 'x') + "+";
        for (int i = 0; i < row.count; ++i)
            utf7 += row.unit;
        utf7 += row.tail;
        std::wstring whole(utf7.size(), L'\0');
        whole.resize(MultiByteToWideChar(65000, 0, utf7.data(), static_cast<int>(utf7.size()), &whole[0],
                                         static_cast<int>(whole.size())));
        utf7.push_back(0);
        EXPECT_TRUE(HtmlBodyToPaneText(MailBodyBuffer(utf7.begin(), utf7.end()), kPaneHtmlBytes, whole.size(), 0,
                                       &text, 65000));
        EXPECT_EQ(whole, text) << row.unit;
    }
}

// An HTML part is read from the file a piece at a time, in the memory of a piece: its text
// is shown after megabytes of inline image data or style, in any transfer encoding; a read
// that stops at its bound ends with the marker, alone when no text came before it.
TEST_F(HugeBody, AnHtmlPartIsReadInPiecesUpToItsText)
{
    CaseScope scope("HTML in pieces", 120000);
    const std::string image = "<img src=\"data:image/png;base64,";
    const struct {
        const char* what;
        const char* encoding;
        std::string head, unit, tail;
        size_t maxBytes;
        std::wstring expected;
    } rows[] = {
        {"5 MB of an inline image", "8bit", image, std::string(76, 'Q') + "\r\n", "\">caf&eacute;<p>x", kPaneHtmlBytes,
         L"caf\xE9\n\nx"},
        {"5 MB of style, quoted-printable", "quoted-printable", "<style>", "p{font:x}=\r\n", "</style>caf=C3=A9",
         kPaneHtmlBytes, L"caf\xE9"},
        {"5 MB of an alt text, base64", "base64", "PGltZyBhbHQ9IkFB", std::string("QUFB") + "QUFB" + "\r\n",
         "Ij5jYWbDqQ==", kPaneHtmlBytes, L"caf\xE9"},
        {"the text ends at its first NUL", "8bit", image, std::string(76, 'Q') + "\r\n",
         std::string("\">caf&eacute;\0", 14) + std::string(70000, ' ') + "<p>x", kPaneHtmlBytes, L"caf\xE9"},
        {"the bound reached inside the image", "8bit", image, std::string(76, 'Q') + "\r\n", "\">caf\xC3\xA9", 0,
         std::wstring(kPaneCutMarker + 4)},
        {"text at the bound, then the image", "8bit", "caf\xC3\xA9" + image, std::string(76, 'Q') + "\r\n", "\">x", 0,
         L"caf\xE9" + std::wstring(kPaneCutMarker)},
    };
    for (const auto& row : rows) {
        // 0: the press's bound, within a file longer than it.
        const size_t bytes = row.maxBytes ? 5u << 20 : kPaneHtmlBytes + (1u << 20);
        path_ = WriteRepeatedFile("html.eml", Utf8Header(row.encoding) + row.head, row.unit, bytes, row.tail);
        hostsim::SetViewPath(view_.frame, path_.c_str());
        std::wstring text = L"earlier";
        const double start = Seconds();
        EXPECT_TRUE(HtmlPartToPaneText(view_.frame, NULL, 0, row.maxBytes ? row.maxBytes : kPaneHtmlBytes,
                                       kPaneTextUnits, kPaneLineUnits, &text))
            << row.what;
        std::printf("%s: %.2f s\n", row.what, Seconds() - start);
        EXPECT_EQ(row.expected, text) << row.what;
    }
    // A character across two pieces stays whole: 中 all through, then the marker. In big5,
    // and in UTF-7 as one shift sequence longer than the read's bound, which leaves no more
    // than a few bytes from one piece to the next.
    const struct {
        std::string head, unit;
        size_t bytes;
        UINT codePage;
    } wholes[] = {{"<p>", "\xA4\xA4", 1u << 20, 950}, {"<p>+", "Ti1OLU4t", kPaneHtmlBytes + (1u << 20), 65000}};
    for (const auto& row : wholes) {
        path_ = WriteRepeatedFile("html.eml", Utf8Header("8bit") + row.head, row.unit, row.bytes);
        hostsim::SetViewPath(view_.frame, path_.c_str());
        std::wstring han;
        EXPECT_TRUE(HtmlPartToPaneText(view_.frame, NULL, 0, kPaneHtmlBytes, kPaneTextUnits, kPaneLineUnits, &han,
                                       row.codePage));
        const size_t marker = han.find(L'\x3010');
        EXPECT_EQ(kPaneTextUnits, marker - 4) << row.codePage;
        EXPECT_EQ(std::wstring::npos, han.substr(0, marker).find_first_not_of(L"\x4E2D\n\r")) << row.codePage;
    }
    hostsim::SetViewPath(view_.frame, "no-such-file.eml");
    std::wstring text = L"earlier";
    EXPECT_FALSE(HtmlPartToPaneText(view_.frame, NULL, 0, kPaneHtmlBytes, kPaneTextUnits, kPaneLineUnits, &text));
    EXPECT_EQ(L"", text);
}
