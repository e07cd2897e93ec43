// The pane's context menu, its commands, and the pane's life after its controller.
#include <gtest/gtest.h>
#include <windows.h>
#include <richedit.h>

#include <string>

#include "hostsim/host_sim.h"
#include "mailview/unicode_pane.h"
#include "resources/resource_ids.h"
#include "tests/pane/pane_fixture.h"
#include "winhook/win_hook.h"

using panetest::ControlledView;
using panetest::CountRecorded;
using panetest::CreateControlledView;
using panetest::CreateRecordedPane;
using panetest::FindRecorded;
using panetest::PaneTest;

namespace {

struct MenuEntry {
    UINT id;              // 0 for a separator
    const wchar_t* caption;
};

const MenuEntry kPaneMenu[] = {
    {32771, L"コピー(&C)"},
    {32788, L"引用符付きコピー(&Q)"},
    {32772, L"全て選択(&L)"},
    {0, NULL},
    {32779, L"返事を出す(&R)"},
    {32780, L"転送する(&F)"},
    {0, NULL},
    {32781, L"マーキング(&K)"},
    {32783, L"振り分け(&B)"},
    {0, NULL},
    {32784, L"ゴミ箱へ移動(&T)"},
    {0, NULL},
    {32785, L"Fromをアドレス帳に追加(&A)"},
};
const int kPaneMenuEntries = sizeof kPaneMenu / sizeof kPaneMenu[0];

// What the timer saw of the pop-up menu while TrackPopupMenu ran.
struct MenuProbe {
    int ticks;
    bool seen;
    int items;
    UINT firstId;
    RECT rect;
    bool gaveUp;
};
MenuProbe g_probe;

void CALLBACK ProbeMenu(HWND, UINT, UINT_PTR timer, DWORD)
{
    ++g_probe.ticks;
    HWND menuWindow = FindWindowA("#32768", NULL);
    if (!g_probe.seen && menuWindow && IsWindowVisible(menuWindow)) {
        g_probe.seen = true;
        HMENU menu = reinterpret_cast<HMENU>(SendMessageA(menuWindow, MN_GETHMENU, 0, 0));
        g_probe.items = GetMenuItemCount(menu);
        g_probe.firstId = GetMenuItemID(menu, 0);
        GetWindowRect(menuWindow, &g_probe.rect);
        // Choose "返事を出す(&R)" by its mnemonic, as the user would.
        PostMessageW(menuWindow, WM_CHAR, L'r', 1);
    }
    if (g_probe.ticks >= 100) {
        // Never left open: the loop ends even if the key was not taken.
        g_probe.gaveUp = true;
        EndMenu();
        KillTimer(NULL, timer);
    }
}

}  // namespace

TEST(PaneMenuResource, NineCommandsAndFourSeparatorsInJapanese)
{
    HMODULE self = GetModuleHandleA(NULL);
    EXPECT_TRUE(FindResourceExA(self, RT_MENU, MAKEINTRESOURCEA(IDM_PANE_MENU),
                                MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)) != NULL);
    HMENU menu = LoadMenuA(self, MAKEINTRESOURCEA(IDM_PANE_MENU));
    ASSERT_TRUE(menu != NULL);
    EXPECT_EQ(1, GetMenuItemCount(menu));
    wchar_t title[16] = {L'?', 0};
    GetMenuStringW(menu, 0, title, 16, MF_BYPOSITION);
    EXPECT_STREQ(L"", title) << "the pop-up has no caption";
    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_TRUE(popup != NULL);
    ASSERT_EQ(kPaneMenuEntries, GetMenuItemCount(popup));
    int separators = 0;
    for (int i = 0; i < kPaneMenuEntries; ++i) {
        wchar_t caption[64] = {0};
        MENUITEMINFOW info;
        ZeroMemory(&info, sizeof info);
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING | MIIM_SUBMENU;
        info.dwTypeData = caption;
        info.cch = 64;
        ASSERT_TRUE(GetMenuItemInfoW(popup, i, TRUE, &info)) << "entry " << i + 1;
        EXPECT_TRUE(info.hSubMenu == NULL) << "entry " << i + 1;
        if (!kPaneMenu[i].caption) {
            EXPECT_TRUE(info.fType & MFT_SEPARATOR) << "entry " << i + 1;
            ++separators;
            continue;
        }
        EXPECT_FALSE(info.fType & MFT_SEPARATOR) << "entry " << i + 1;
        EXPECT_EQ(kPaneMenu[i].id, info.wID) << "entry " << i + 1;
        EXPECT_STREQ(kPaneMenu[i].caption, caption) << "entry " << i + 1;
    }
    EXPECT_EQ(4, separators);
    DestroyMenu(menu);
}

TEST_F(PaneTest, RightClickShowsTheMenuAndItsChoiceReachesTheHost)
{
    g_probe = MenuProbe();
    UINT_PTR timer = SetTimer(NULL, 0, 20, ProbeMenu);
    ASSERT_NE(0u, timer);
    SendMessageA(pane_, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(20, 30));
    KillTimer(NULL, timer);

    ASSERT_TRUE(g_probe.seen) << "no menu appeared";
    EXPECT_FALSE(g_probe.gaveUp) << "the menu did not take its mnemonic";
    EXPECT_EQ(kPaneMenuEntries, g_probe.items);
    EXPECT_EQ(static_cast<UINT>(IDM_PANE_COPY), g_probe.firstId);
    POINT click = {20, 30};
    ClientToScreen(pane_, &click);
    EXPECT_EQ(click.x, g_probe.rect.left);
    EXPECT_EQ(click.y, g_probe.rect.top);

    // The click went on to the control once the menu had closed; the choice follows.
    int clickAt = FindRecorded(pane_, WM_RBUTTONDOWN, MK_RBUTTON);
    EXPECT_GE(clickAt, 0);
    hostsim::PumpMessages();
    int commandAt = FindRecorded(pane_, WM_COMMAND, IDM_PANE_REPLY);
    EXPECT_GT(commandAt, clickAt);
    ASSERT_EQ(1u, hostsim::HostCommandLog().size());
    EXPECT_EQ(view_.view.frame, hostsim::HostCommandLog()[0].first);
    EXPECT_EQ(static_cast<UINT>(hostsim::kCommandReply), hostsim::HostCommandLog()[0].second);
}

TEST_F(PaneTest, SixCommandsArePostedToTheViewWindowAndAllPassOn)
{
    const WORD forwarded[6][2] = {{32779, 32775}, {32780, 32776}, {32781, 32801},
                                  {32783, 32802}, {32784, 32782}, {32785, 32799}};
    for (int i = 0; i < 6; ++i) {
        hostsim::ClearHostCommandLog();
        SendMessageA(pane_, WM_COMMAND, MAKEWPARAM(forwarded[i][0], 0), 0);
        EXPECT_TRUE(hostsim::HostCommandLog().empty()) << "posted, not sent";
        hostsim::PumpMessages();
        ASSERT_EQ(1u, hostsim::HostCommandLog().size()) << forwarded[i][0];
        EXPECT_EQ(view_.view.frame, hostsim::HostCommandLog()[0].first) << forwarded[i][0];
        EXPECT_EQ(forwarded[i][1], hostsim::HostCommandLog()[0].second) << forwarded[i][0];
        EXPECT_EQ(1, CountRecorded(pane_, WM_COMMAND, forwarded[i][0])) << forwarded[i][0];
    }
    // Commands of its own and strangers post nothing, and pass on all the same.
    hostsim::ClearHostCommandLog();
    const WORD others[] = {IDM_PANE_COPY, IDM_PANE_QUOTED_COPY, IDM_PANE_SELECT_ALL, 32775, 40000};
    for (size_t i = 0; i < sizeof others / sizeof others[0]; ++i) {
        SendMessageA(pane_, WM_COMMAND, MAKEWPARAM(others[i], 0), 0);
        EXPECT_EQ(1, CountRecorded(pane_, WM_COMMAND, others[i])) << others[i];
    }
    hostsim::PumpMessages();
    EXPECT_TRUE(hostsim::HostCommandLog().empty());
}

TEST_F(PaneTest, SelectAllSelectsEveryCharacter)
{
    StreamInText(L"first\r\nsecond \U0001F600", pane_);
    CHARRANGE range = {0, 0};
    SendMessageA(pane_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    GETTEXTLENGTHEX length = {GTL_NUMCHARS | GTL_PRECISE, 1200};
    LRESULT characters = SendMessageW(pane_, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0);
    ASSERT_GT(characters, 0);

    // The selection may take in the control's final paragraph mark as well.
    SendMessageA(pane_, WM_COMMAND, MAKEWPARAM(IDM_PANE_SELECT_ALL, 0), 0);
    SendMessageA(pane_, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(0, range.cpMin);
    EXPECT_GE(range.cpMax, characters);
    SendMessageA(pane_, WM_COMMAND, MAKEWPARAM(IDM_PANE_COPY, 0), 0);
    std::wstring copied;
    ASSERT_TRUE(panetest::ReadClipboardText(&copied, NULL));
    // Whole text, with the selected final paragraph mark as a line break at most.
    const std::wstring whole = L"first\r\nsecond \U0001F600";
    EXPECT_TRUE(copied == whole || copied == whole + L"\r\n") << "copied: " << copied.size();

    range.cpMin = range.cpMax = 2;
    SendMessageA(pane_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    SelectAllText(pane_);
    SendMessageA(pane_, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(0, range.cpMin);
    EXPECT_GE(range.cpMax, characters);
}

TEST_F(PaneTest, ThePaneIsFoundByItsHandleOnly)
{
    hostsim::FolderWindow folder = hostsim::CreateFolderWindow(NULL, 0, 0, 300, 200);
    MailViewWinHook* folderController = new MailViewWinHook(folder.frame);
    folderController->releaseProc = ReleaseMailViewWinHook;
    ASSERT_TRUE(folderController->Subclass());

    EXPECT_EQ(view_.controller, FindControllerByPane(pane_));
    EXPECT_TRUE(FindControllerByPane(view_.view.hostPane) == NULL);
    EXPECT_TRUE(FindControllerByPane(NULL) == NULL) << "a folder's missing pane matched";
    DestroyWindow(folder.frame);
}

TEST_F(PaneTest, LastMessagesReachTheControlAfterTheControllerHasGone)
{
    HWND frame = view_.view.frame;
    DestroyWindow(frame);
    EXPECT_TRUE(FindWinHook(frame) == NULL);
    EXPECT_EQ(1, CountRecorded(pane_, WM_DESTROY, 0, true));
    EXPECT_EQ(1, CountRecorded(pane_, WM_NCDESTROY, 0, true));
    EXPECT_FALSE(IsWindow(pane_));
}

TEST_F(PaneTest, APaneDestroyedOnItsOwnIsForgottenByItsController)
{
    DestroyWindow(pane_);
    EXPECT_EQ(1, CountRecorded(pane_, WM_NCDESTROY, 0, true));
    EXPECT_TRUE(view_.controller->unicodePane == NULL);
    // The next toggle makes a new one.
    HWND again = CreateRecordedPane(view_.controller);
    ASSERT_TRUE(again != NULL);
    EXPECT_EQ(view_.controller, FindControllerByPane(again));
}
