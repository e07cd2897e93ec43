// Text streamed into the pane.
#include <gtest/gtest.h>
#include <windows.h>
#include <richedit.h>
#include <usp10.h>

#include <cstring>
#include <string>
#include <vector>

#include "mailview/pane_fonts.h"
#include "mailview/unicode_pane.h"
#include "tests/pane/pane_fixture.h"

using panetest::PaneTest;
using panetest::PaneText;

namespace {

// 100,000 code units: ASCII, Latin-1, kana, kanji and surrogate pairs, with CR LF lines.
std::wstring LongText()
{
    const wchar_t pieces[][8] = {L"abc", L"\u00e9t\u00e9", L"\u304b\u306a", L"\u6f22\u5b57",
                                 L"\U0001F600", L"0123456", L"\r\n", L"xyz"};
    std::wstring text;
    unsigned seed = 12345;
    while (text.size() < 100000) {
        seed = seed * 1103515245u + 12345u;
        text += pieces[(seed >> 16) % 8];
    }
    // Cut on a whole piece: never half a surrogate pair or a lone CR.
    while (text.size() > 100000)
        text.erase(text.size() - 1);
    while (!text.empty() && (text.back() == L'\r' || (text.back() >= 0xD800 && text.back() < 0xDC00)))
        text.back() = L'q';
    return text;
}

struct ChunkLog {
    StreamInCookie* cookie;
    std::vector<LONG> asked;
    std::vector<LONG> given;
    std::vector<DWORD> results;
};

// The control's requests, passed to StreamInCallback as they come.
DWORD CALLBACK WatchedStreamIn(DWORD_PTR cookie, LPBYTE buffer, LONG bytes, LONG* done)
{
    ChunkLog* log = reinterpret_cast<ChunkLog*>(cookie);
    DWORD result = StreamInCallback(reinterpret_cast<DWORD_PTR>(log->cookie), buffer, bytes, done);
    log->asked.push_back(bytes);
    log->given.push_back(*done);
    log->results.push_back(result);
    return result;
}

// Busy bytes of every heap of the process.
size_t HeapBytesInUse()
{
    HANDLE heaps[64];
    const DWORD count = GetProcessHeaps(64, heaps);
    size_t busy = 0;
    for (DWORD i = 0; i < count && i < 64; ++i) {
        PROCESS_HEAP_ENTRY entry;
        ZeroMemory(&entry, sizeof entry);
        while (HeapWalk(heaps[i], &entry))
            busy += (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ? entry.cbData : 0;
    }
    return busy;
}

// The face and charset of the pane's units [at, at + units).
CHARFORMAT2W FormatAt(HWND pane, LONG at, LONG units)
{
    CHARRANGE range = {at, at + units};
    SendMessageW(pane, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    CHARFORMAT2W format;
    std::memset(&format, 0, sizeof format);
    format.cbSize = sizeof format;
    SendMessageW(pane, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    return format;
}

// Whether uniscribe, which rich edit draws with, finds glyphs for the text in the face
// and charset the pane gives it, as the control would select them.
bool Drawn(const CHARFORMAT2W& format, const std::wstring& text)
{
    LOGFONTW request;
    std::memset(&request, 0, sizeof request);
    request.lfHeight = -16;
    request.lfCharSet = format.bCharSet;
    lstrcpynW(request.lfFaceName, format.szFaceName, LF_FACESIZE);
    HDC dc = CreateCompatibleDC(NULL);
    HFONT font = CreateFontIndirectW(&request);
    HGDIOBJ old = SelectObject(dc, font);
    SCRIPT_CACHE cache = NULL;
    SCRIPT_ITEM items[4];
    int count = 0;
    SCRIPT_FONTPROPERTIES properties = {sizeof properties, 0, 0, 0, 0, 0};
    WORD glyphs[8], clusters[8];
    SCRIPT_VISATTR attributes[8];
    int glyphCount = 0;
    bool drawn = ScriptItemize(text.c_str(), static_cast<int>(text.size()), 3, NULL, NULL, items, &count) == S_OK &&
                 ScriptGetFontProperties(dc, &cache, &properties) == S_OK &&
                 ScriptShape(dc, &cache, text.c_str(), static_cast<int>(text.size()), 8, &items[0].a, glyphs,
                             clusters, attributes, &glyphCount) == S_OK && glyphCount > 0;
    for (int i = 0; i < glyphCount; ++i)
        drawn = drawn && glyphs[i] != properties.wgDefault;
    ScriptFreeCache(&cache);
    SelectObject(dc, old);
    DeleteObject(font);
    DeleteDC(dc);
    return drawn;
}

}  // namespace

// Wine's rich edit draws a run with its one font: what that font lacks is given a face
// that has it, and nothing else changes. The set-up installs a face for each script here.
TEST_F(PaneTest, RunsThePaneFaceLacksAreGivenAFaceThatDrawsThem)
{
    const std::vector<std::wstring> symbolsOnly = {L"Symbola"};
    const struct {
        const wchar_t* text;
        const std::vector<std::wstring>* faces;   // null: the installed ones
        bool otherFace;
    } rows[] = {
        {L"Latin \u0159\u0142, \u65e5\u672c\u8a9e\u306e\u30e1\u30fc\u30eb", NULL, false},
        {L"\ud55c\uad6d\uc5b4 \ud14d\uc2a4\ud2b8, \u3042", NULL, true},
        {L"party \U0001F389\U0001F600!", NULL, true},
        {L"\U00020BB7\u91ce\u5bb6", NULL, true},
        {L"mix \u3042\ud55c\U0001F600\U00020BB7 end\r\n\ud55c", NULL, true},
        {L"\ud55c\uad6d\uc5b4 only", &symbolsOnly, false},   // no face given covers Hangul
    };
    CHARFORMAT2W own;
    std::memset(&own, 0, sizeof own);
    own.cbSize = sizeof own;
    SendMessageW(pane_, EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&own));
    for (const auto& row : rows) {
        SETTEXTEX plain = {ST_DEFAULT, 1200};
        SendMessageW(pane_, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&plain), reinterpret_cast<LPARAM>(row.text));
        const std::wstring text = PaneText(pane_, false);
        CHARRANGE selection = {1, 3}, after = {0, 0};
        SendMessageW(pane_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&selection));
        EXPECT_EQ(row.otherFace, ApplyFallbackFaces(pane_, row.faces) > 0) << text.c_str();
        SendMessageW(pane_, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&after));
        EXPECT_TRUE(after.cpMin == 1 && after.cpMax == 3) << text.c_str();
        EXPECT_FALSE(SendMessageW(pane_, EM_CANUNDO, 0, 0)) << text.c_str();
        EXPECT_TRUE(PaneText(pane_, false) == text);
        for (LONG at = 0; at < static_cast<LONG>(text.size()); ++at) {
            const LONG units = text[at] >= 0xD800 && text[at] < 0xDC00 ? 2 : 1;
            const CHARFORMAT2W format = FormatAt(pane_, at, units);
            if (!row.otherFace) {
                EXPECT_STREQ(own.szFaceName, format.szFaceName) << text.c_str() << " at " << at;
            } else if (text[at] != L'\r') {
                EXPECT_TRUE(Drawn(format, text.substr(at, units))) << text.c_str() << " at " << at << ": " << format.szFaceName;
            }
            at += units - 1;
        }
    }
}

// Wine's rich edit without an undo record keeps every line break it deletes: a pane whose
// text is replaced in place, mail after mail, would grow by each one.
TEST_F(PaneTest, ATextReplacedInPlaceLeavesNothingBehind)
{
    std::wstring lines;
    for (int i = 0; i < 200; ++i)
        lines += L"a line of the mail\r\n";
    StreamInText(lines.c_str(), pane_);
    StreamInText(L"x", pane_);
    const size_t before = HeapBytesInUse();
    for (int i = 0; i < 50; ++i) {
        StreamInText(lines.c_str(), pane_);
        StreamInText(L"x", pane_);
    }
    EXPECT_LT(HeapBytesInUse(), before + 65536);
    EXPECT_FALSE(SendMessageA(pane_, EM_CANUNDO, 0, 0));
}

TEST_F(PaneTest, LongTextFillsThePaneExactlyAndAShortOneReplacesIt)
{
    const std::wstring text = LongText();
    ASSERT_EQ(100000u, text.size());
    StreamInText(text.c_str(), pane_);
    EXPECT_TRUE(PaneText(pane_, true) == text) << "the pane holds other text than was streamed";

    StreamInText(L"short", pane_);
    EXPECT_EQ(L"short", PaneText(pane_, true));
    StreamInText(L"", pane_);
    EXPECT_EQ(L"", PaneText(pane_, true));
}

TEST_F(PaneTest, StreamInHandsOutWhatTheControlAsksForUntilTheEnd)
{
    const std::wstring text = LongText();
    StreamInCookie cookie = {text.c_str(), static_cast<DWORD>(text.size()), 0};
    ChunkLog log = {&cookie, {}, {}, {}};
    EDITSTREAM stream;
    std::memset(&stream, 0, sizeof stream);
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(&log);
    stream.pfnCallback = WatchedStreamIn;
    SendMessageA(pane_, EM_STREAMIN, SF_TEXT | SF_UNICODE, reinterpret_cast<LPARAM>(&stream));

    ASSERT_GE(log.asked.size(), 2u);
    LONG total = 0;
    int pairsKeptTogether = 0;
    for (size_t i = 0; i < log.asked.size(); ++i) {
        EXPECT_EQ(0u, log.results[i]);
        LONG left = static_cast<LONG>(text.size() * 2) - total;
        LONG full = left < log.asked[i] ? left : log.asked[i];
        total += log.given[i];
        // Short by one code unit only to keep a CR LF pair within one read.
        if (log.given[i] != full) {
            ++pairsKeptTogether;
            EXPECT_EQ(full - 2, log.given[i]) << "call " << i;
            ASSERT_LT(static_cast<size_t>(total / 2 + 1), text.size());
            EXPECT_EQ(L'\r', text[total / 2]) << "call " << i;
            EXPECT_EQ(L'\n', text[total / 2 + 1]) << "call " << i;
        }
    }
    EXPECT_EQ(0, log.given.back()) << "the stream ends with an empty answer";
    EXPECT_EQ(static_cast<LONG>(text.size() * 2), total);
    EXPECT_GT(pairsKeptTogether, 0) << "the text has no CR LF at a chunk's end: choose another";
    EXPECT_EQ(0u, cookie.remaining);
    EXPECT_TRUE(PaneText(pane_, true) == text);
}

TEST(StreamInCallback, OddRequestsSplitCodeUnitsButLoseNothing)
{
    const std::wstring text = L"\u00e9a\U0001F600\u6f22z";
    const std::string source(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    StreamInCookie cookie = {text.c_str(), static_cast<DWORD>(text.size()), 0};
    const LONG requests[] = {1, 3, 1, 4095, 2, 5};
    std::string received;
    for (size_t call = 0; call < 64; ++call) {
        BYTE buffer[4096];
        std::memset(buffer, 0xCC, sizeof buffer);
        LONG asked = requests[call % (sizeof requests / sizeof requests[0])];
        LONG done = -1;
        EXPECT_EQ(0u, StreamInCallback(reinterpret_cast<DWORD_PTR>(&cookie), buffer, asked, &done));
        ASSERT_GE(done, 0);
        ASSERT_LE(done, asked);
        if (done == 0)
            break;
        if (received.size() + done < source.size()) {
            EXPECT_EQ(asked, done) << "call " << call << " answered short before the end";
        }
        received.append(reinterpret_cast<const char*>(buffer), done);
        EXPECT_EQ(0xCC, buffer[done]) << "written beyond the count it reported";
    }
    EXPECT_EQ(source, received);
    EXPECT_EQ(0u, cookie.remaining);

    // Once at the end, every further request is answered with nothing.
    BYTE buffer[8];
    LONG done = -1;
    EXPECT_EQ(0u, StreamInCallback(reinterpret_cast<DWORD_PTR>(&cookie), buffer, 8, &done));
    EXPECT_EQ(0, done);
}

TEST_F(PaneTest, CharactersBeyondTheCodePageSurviveStreamIn)
{
    const std::wstring text = L"caf\u00e9 \U0001F600 \u6f22\u5b57 \u0416";
    StreamInText(text.c_str(), pane_);
    EXPECT_EQ(text, PaneText(pane_, false));
    EXPECT_TRUE(Drawn(FormatAt(pane_, 5, 2), text.substr(5, 2))) << "the stream-in gives the emoji no face";
}
