// Copies from the pane to the real clipboard, through the pane's own commands.
#include <gtest/gtest.h>
#include <windows.h>
#include <richedit.h>

#include <cstdlib>
#include <new>
#include <string>

#include "mailview/unicode_pane.h"
#include "resources/resource_ids.h"
#include "tests/pane/pane_fixture.h"

using panetest::PaneTest;
using panetest::PutClipboardText;
using panetest::ReadClipboardText;

// While set, every allocation of this program fails as it would with no memory left.
static bool g_failAllocations = false;

void* operator new(std::size_t size)
{
    void* memory = g_failAllocations ? NULL : std::malloc(size ? size : 1);
    if (!memory)
        throw std::bad_alloc();
    return memory;
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}

namespace {

void Command(HWND pane, WORD id)
{
    SendMessageA(pane, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

void Select(HWND pane, LONG from, LONG to)
{
    CHARRANGE range = {from, to};
    SendMessageA(pane, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
}

// The clipboard's text, which must be NUL-terminated in a block of exactly its size.
std::wstring Clipboard()
{
    std::wstring text;
    SIZE_T bytes = 0;
    if (!ReadClipboardText(&text, &bytes))
        return L"<no CF_UNICODETEXT>";
    if (bytes != (text.size() + 1) * sizeof(wchar_t))
        return L"<block of another size>";
    return text;
}

}  // namespace

TEST_F(PaneTest, CopyTakesTheSelectionOrElseTheWholeText)
{
    StreamInText(L"Hello wide world", pane_);
    Select(pane_, 6, 10);
    Command(pane_, IDM_PANE_COPY);
    EXPECT_EQ(L"wide", Clipboard());

    Select(pane_, 3, 3);
    Command(pane_, IDM_PANE_COPY);
    EXPECT_EQ(L"Hello wide world", Clipboard());

    CopyToClipboard(pane_, NULL);
    EXPECT_EQ(L"Hello wide world", Clipboard());
}

TEST_F(PaneTest, QuotedCopyPrefixesEveryLineThatHasText)
{
    StreamInText(L"ab\r\ncd", pane_);
    Command(pane_, IDM_PANE_QUOTED_COPY);
    EXPECT_EQ(L"> ab\r\n> cd", Clipboard());

    StreamInText(L"ab\r\ncd\r\n", pane_);
    Command(pane_, IDM_PANE_QUOTED_COPY);
    EXPECT_EQ(L"> ab\r\n> cd\r\n", Clipboard());
    // Select all takes the control's final paragraph mark too: no line of its own.
    Command(pane_, IDM_PANE_SELECT_ALL);
    Command(pane_, IDM_PANE_QUOTED_COPY);
    EXPECT_EQ(L"> ab\r\n> cd\r\n\r\n", Clipboard());

    // Only the selection, its first line prefixed although it starts inside a line (the
    // control counts a line break as one character).
    StreamInText(L"one\r\ntwo\r\nthree", pane_);
    Select(pane_, 1, 6);
    Command(pane_, IDM_PANE_QUOTED_COPY);
    EXPECT_EQ(L"> ne\r\n> tw", Clipboard());
}

TEST_F(PaneTest, CharactersBeyondTheCodePageComeBackUnchanged)
{
    const std::wstring text = L"caf\u00e9 \U0001F600\r\n\u6f22\u5b57";
    StreamInText(text.c_str(), pane_);
    Command(pane_, IDM_PANE_COPY);
    EXPECT_EQ(text, Clipboard());
    Command(pane_, IDM_PANE_QUOTED_COPY);
    EXPECT_EQ(L"> caf\u00e9 \U0001F600\r\n> \u6f22\u5b57", Clipboard());
}

TEST_F(PaneTest, NothingToCopyLeavesTheClipboardAsItWas)
{
    ASSERT_TRUE(PutClipboardText(L"earlier"));
    DWORD sequence = GetClipboardSequenceNumber();
    StreamInText(L"", pane_);
    Command(pane_, IDM_PANE_COPY);
    Command(pane_, IDM_PANE_QUOTED_COPY);
    EXPECT_EQ(sequence, GetClipboardSequenceNumber());
    EXPECT_EQ(L"earlier", Clipboard());
}

TEST_F(PaneTest, NoMemoryForTheCopyLeavesTheClipboardAsItWas)
{
    StreamInText(L"some text", pane_);
    ASSERT_TRUE(PutClipboardText(L"earlier"));
    DWORD sequence = GetClipboardSequenceNumber();
    g_failAllocations = true;
    Command(pane_, IDM_PANE_COPY);   // an escaping bad_alloc would end the program here
    g_failAllocations = false;
    EXPECT_EQ(sequence, GetClipboardSequenceNumber());
    EXPECT_EQ(L"earlier", Clipboard());
    // With memory back, the same command copies.
    Command(pane_, IDM_PANE_COPY);
    EXPECT_EQ(L"some text", Clipboard());
}

TEST(StreamOutCallback, StopsTheStreamWhenMemoryRunsOut)
{
    StreamOutCookie cookie;
    cookie.atLineStart = 1;
    cookie.prefix = L"> ";
    cookie.failed = 0;
    wchar_t chunk[] = L"ab\ncd";
    LONG done = -1;
    EXPECT_EQ(0u, StreamOutCallback(reinterpret_cast<DWORD_PTR>(&cookie),
                                    reinterpret_cast<LPBYTE>(chunk), 10, &done));
    EXPECT_EQ(10, done);
    EXPECT_EQ(std::wstring(L"> ab\n> cd"), std::wstring(cookie.text.begin(), cookie.text.end()));

    std::vector<wchar_t> big(4096, L'x');
    g_failAllocations = true;
    DWORD result = StreamOutCallback(reinterpret_cast<DWORD_PTR>(&cookie),
                                     reinterpret_cast<LPBYTE>(big.data()), 8192, &done);
    g_failAllocations = false;
    EXPECT_NE(0u, result);
    EXPECT_EQ(0, done);
    EXPECT_TRUE(cookie.text.empty());
    // A stopped stream stays stopped.
    EXPECT_NE(0u, StreamOutCallback(reinterpret_cast<DWORD_PTR>(&cookie),
                                    reinterpret_cast<LPBYTE>(chunk), 10, &done));
    EXPECT_TRUE(cookie.text.empty());
}
