// Creation of the pane and the look that it takes over from the host pane.
#include <gtest/gtest.h>
#include <windows.h>
#include <richedit.h>

#include <cstring>
#include <string>

#include "mailview/unicode_pane.h"
#include "base/module.h"
#include "tests/pane/pane_fixture.h"

using panetest::ControlledView;
using panetest::CreateControlledView;

namespace {

std::wstring ClassOf(HWND window)
{
    // Class names are compared without regard to case; the control registers "RichEdit50W".
    wchar_t name[64] = {0};
    GetClassNameW(window, name, 64);
    CharUpperW(name);
    return name;
}

// The control answers its background colour only when it is given another one.
COLORREF BackgroundOf(HWND richEdit)
{
    COLORREF colour = static_cast<COLORREF>(SendMessageA(richEdit, EM_SETBKGNDCOLOR, 0, RGB(1, 2, 3)));
    SendMessageA(richEdit, EM_SETBKGNDCOLOR, 0, colour);
    return colour;
}

CHARFORMAT2A CharFormatOf(HWND richEdit, WPARAM scope)
{
    CHARFORMAT2A format;
    std::memset(&format, 0, sizeof format);
    format.cbSize = sizeof format;
    SendMessageA(richEdit, EM_GETCHARFORMAT, scope, reinterpret_cast<LPARAM>(&format));
    return format;
}

PARAFORMAT2 ParaFormatOf(HWND richEdit)
{
    PARAFORMAT2 format;
    std::memset(&format, 0, sizeof format);
    format.cbSize = sizeof format;
    SendMessageA(richEdit, EM_GETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&format));
    return format;
}

const COLORREF kHostBackground = RGB(255, 240, 200);
const COLORREF kHostTextColour = RGB(160, 0, 40);

// The host pane shows "plain BOLD plain", italic and coloured throughout, with the caret
// inside the bold word, a centred paragraph with wide indents and a coloured background.
void DressHostPane(HWND hostPane)
{
    SetWindowTextA(hostPane, "plain BOLD plain");
    CHARFORMAT2A all;
    std::memset(&all, 0, sizeof all);
    all.cbSize = sizeof all;
    all.dwMask = CFM_ITALIC | CFM_COLOR | CFM_SIZE | CFM_FACE;
    all.dwEffects = CFE_ITALIC;
    all.crTextColor = kHostTextColour;
    all.yHeight = 240;
    lstrcpynA(all.szFaceName, "Courier New", LF_FACESIZE);
    SendMessageA(hostPane, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&all));
    SendMessageA(hostPane, EM_SETSEL, 6, 10);
    CHARFORMAT2A bold;
    std::memset(&bold, 0, sizeof bold);
    bold.cbSize = sizeof bold;
    bold.dwMask = CFM_BOLD;
    bold.dwEffects = CFE_BOLD;
    SendMessageA(hostPane, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&bold));
    SendMessageA(hostPane, EM_SETSEL, 8, 8);

    PARAFORMAT2 paragraph;
    std::memset(&paragraph, 0, sizeof paragraph);
    paragraph.cbSize = sizeof paragraph;
    paragraph.dwMask = PFM_STARTINDENT | PFM_RIGHTINDENT | PFM_ALIGNMENT;
    paragraph.dxStartIndent = 400;
    paragraph.dxRightIndent = 300;
    paragraph.wAlignment = PFA_CENTER;
    SendMessageA(hostPane, EM_SETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&paragraph));
    SendMessageA(hostPane, EM_SETBKGNDCOLOR, 0, kHostBackground);
}

void ExpectHostLookWithoutBold(const CHARFORMAT2A& format, const char* what)
{
    EXPECT_TRUE(format.dwMask & CFM_BOLD) << what;
    EXPECT_FALSE(format.dwEffects & CFE_BOLD) << what;
    EXPECT_TRUE((format.dwMask & CFM_ITALIC) && (format.dwEffects & CFE_ITALIC)) << what;
    EXPECT_EQ(kHostTextColour, format.crTextColor) << what;
    EXPECT_EQ(240, format.yHeight) << what;
    EXPECT_STREQ("Courier New", format.szFaceName) << what;
}

}  // namespace

TEST(PaneCreation, ClassFollowsTheRichEditLibraryThatLoaded)
{
    // As at process start: nothing loaded, version 3.
    g_richEditLibrary = NULL;
    g_richEditVersion = 3;
    ControlledView first = CreateControlledView();
    ControlledView second = CreateControlledView();
    ASSERT_TRUE(first.controller && second.controller);
    CreateUnicodePane(first.controller);
    CreateUnicodePane(second.controller);
    ASSERT_TRUE(first.controller->unicodePane && second.controller->unicodePane);
    EXPECT_EQ(L"RICHEDIT50W", ClassOf(first.controller->unicodePane));
    EXPECT_EQ(L"RICHEDIT50W", ClassOf(second.controller->unicodePane));
    EXPECT_EQ(GetModuleHandleA("Msftedit.dll"), g_richEditLibrary);
    EXPECT_EQ(5u, g_richEditVersion);
    DestroyWindow(first.view.frame);
    DestroyWindow(second.view.frame);

    // A process where only the older library came in: it is held, and selects its class.
    HMODULE msftedit = g_richEditLibrary;
    g_richEditLibrary = LoadLibraryA("RICHED20.DLL");
    g_richEditVersion = 3;
    ControlledView older = CreateControlledView();
    ASSERT_TRUE(older.controller);
    CreateUnicodePane(older.controller);
    ASSERT_TRUE(older.controller->unicodePane);
    EXPECT_EQ(L"RICHEDIT20W", ClassOf(older.controller->unicodePane));
    DestroyWindow(older.view.frame);
    g_richEditLibrary = msftedit;
    g_richEditVersion = 5;
}

TEST(PaneCreation, IsAReadOnlyChildOfTheHostViewThatDetectsUrls)
{
    ControlledView view = CreateControlledView();
    ASSERT_TRUE(view.controller);
    CreateUnicodePane(view.controller);
    HWND pane = view.controller->unicodePane;
    ASSERT_TRUE(pane);
    EXPECT_EQ(view.view.hostView, GetParent(pane));
    EXPECT_EQ(1, GetDlgCtrlID(pane));
    EXPECT_EQ(g_hInstance, reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(pane, GWLP_HINSTANCE)));
    LONG style = GetWindowLongA(pane, GWL_STYLE);
    const LONG wanted = WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_AUTOVSCROLL | ES_MULTILINE;
    EXPECT_EQ(wanted, style & wanted);
    EXPECT_FALSE(style & WS_HSCROLL);
    EXPECT_TRUE(style & ES_READONLY);
    EXPECT_TRUE(GetWindowLongA(pane, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
    EXPECT_NE(0, SendMessageA(pane, EM_GETAUTOURLDETECT, 0, 0));
    EXPECT_TRUE(SendMessageA(pane, EM_GETEVENTMASK, 0, 0) & ENM_LINK);
    RECT rect;
    GetWindowRect(pane, &rect);
    EXPECT_EQ(0, rect.right - rect.left);
    EXPECT_EQ(0, rect.bottom - rect.top);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(UnicodePaneWndProc), GetWindowLongPtrA(pane, GWLP_WNDPROC));
    EXPECT_TRUE(view.controller->paneWndProc != NULL);
    DestroyWindow(view.view.frame);
}

TEST(PaneFormats, HostLookWithoutBoldIndentedAndOnTheHostBackground)
{
    ControlledView view = CreateControlledView();
    ASSERT_TRUE(view.controller);
    HWND host = view.view.hostPane;
    DressHostPane(host);
    CHARFORMAT2A atCaret = CharFormatOf(host, SCF_SELECTION);
    ASSERT_TRUE(atCaret.dwEffects & CFE_BOLD) << "the host's caret is in the bold word";
    ASSERT_EQ(kHostBackground, BackgroundOf(host));

    CreateUnicodePane(view.controller);
    HWND pane = view.controller->unicodePane;
    ASSERT_TRUE(pane);
    ExpectHostLookWithoutBold(CharFormatOf(pane, SCF_SELECTION), "pane after set-up");
    PARAFORMAT2 paragraph = ParaFormatOf(pane);
    EXPECT_EQ(100, paragraph.dxStartIndent);
    EXPECT_EQ(100, paragraph.dxRightIndent);
    EXPECT_EQ(PFA_CENTER, paragraph.wAlignment);
    EXPECT_EQ(kHostBackground, BackgroundOf(pane));

    // The host pane keeps its own look.
    EXPECT_EQ(kHostBackground, BackgroundOf(host));
    EXPECT_TRUE(CharFormatOf(host, SCF_SELECTION).dwEffects & CFE_BOLD);
    PARAFORMAT2 hostParagraph = ParaFormatOf(host);
    EXPECT_EQ(400, hostParagraph.dxStartIndent);
    EXPECT_EQ(300, hostParagraph.dxRightIndent);
    DestroyWindow(view.view.frame);
}

TEST(PaneFormats, DefaultFormatFromTheHostReachesStreamedText)
{
    ControlledView view = CreateControlledView();
    ASSERT_TRUE(view.controller);
    CreateUnicodePane(view.controller);
    HWND pane = view.controller->unicodePane;
    ASSERT_TRUE(pane);
    // The host's look changes after the pane was made (another mail, another font).
    DressHostPane(view.view.hostPane);

    CopyTextFormats(view.view.hostPane, pane, FALSE);
    ExpectHostLookWithoutBold(CharFormatOf(pane, SCF_DEFAULT), "default format");
    StreamInText(L"first line\r\nsecond line", pane);
    SendMessageA(pane, EM_SETSEL, 0, -1);
    ExpectHostLookWithoutBold(CharFormatOf(pane, SCF_SELECTION), "streamed text");
    PARAFORMAT2 paragraph = ParaFormatOf(pane);
    EXPECT_TRUE(paragraph.dwMask & PFM_STARTINDENT) << "the same indent on every paragraph";
    EXPECT_FALSE(SendMessageA(pane, EM_CANUNDO, 0, 0)) << "a read-only pane keeps no undo";
    EXPECT_EQ(100, paragraph.dxStartIndent);
    EXPECT_EQ(100, paragraph.dxRightIndent);
    DestroyWindow(view.view.frame);
}

TEST(PaneFormats, AFailingSourceLeavesTheTargetAsItWas)
{
    ControlledView view = CreateControlledView();
    ASSERT_TRUE(view.controller);
    CreateUnicodePane(view.controller);
    HWND pane = view.controller->unicodePane;
    ASSERT_TRUE(pane);
    CHARFORMAT2A before = CharFormatOf(pane, SCF_DEFAULT);
    PARAFORMAT2 paraBefore = ParaFormatOf(pane);
    // A window that is no rich edit answers EM_GETCHARFORMAT with 0.
    CopyTextFormats(view.view.hostView, pane, FALSE);
    CHARFORMAT2A after = CharFormatOf(pane, SCF_DEFAULT);
    EXPECT_EQ(0, std::memcmp(&before, &after, sizeof before));
    PARAFORMAT2 paraAfter = ParaFormatOf(pane);
    EXPECT_EQ(0, std::memcmp(&paraBefore, &paraAfter, sizeof paraBefore));
    DestroyWindow(view.view.frame);
}
