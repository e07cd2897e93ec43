// The re-centring of the "保存して開く(&O)" button. This program runs twice: once with the
// system version that the Wine prefix reports (6), once with version 10 set for it alone.
#include <windows.h>

#include <vector>

#include "dialogfix/button_align.h"
#include "dialogfix/open_file_dialog.h"
#include "tests/dialogfix/dialog_fixture.h"

namespace dialogtest {
namespace {

typedef DialogFixTest ButtonAlignTest;

bool SameRect(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

::testing::AssertionResult RectIs(const RECT& actual, int left, int top, int right, int bottom)
{
    RECT expected = {left, top, right, bottom};
    if (SameRect(actual, expected))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "rect is {" << actual.left << "," << actual.top << ","
                                         << actual.right << "," << actual.bottom << "}, expected {"
                                         << left << "," << top << "," << right << "," << bottom << "}";
}

TEST_F(ButtonAlignTest, SystemVersionIsTheOneSetForThisProgram)
{
    DWORD major = 0;
    ASSERT_EQ(1, GetOsVersionInfo(&major));
    EXPECT_EQ(kExpectedMajor, major);
}

// The stand-in host puts a 23 pixel button 3 pixels above the centre line of a 13 pixel
// label whose top is 10 pixels below the inner dialog's: centred, the button's top is 5.
TEST_F(ButtonAlignTest, WatchedWindowsButtonIsCentredFromVersion10On)
{
    for (const WatchedPlace& c : WatchedPlaces()) {
        hostsim::OpenFileWindow dialog = hostsim::CreateOpenFileWindow(c.parent, c.child);
        ASSERT_TRUE(dialog.button != NULL) << c.what;
        EXPECT_TRUE(RectIs(RectWithin(dialog.button, dialog.innerDialog), 120, 2, 250, 25)) << c.what;
        std::vector<Posted> align = WithCommand(Pump(), g_alignCommandId);
        if (AlignsButtons()) {
            ASSERT_EQ(1u, align.size()) << c.what;
            EXPECT_EQ(c.host, align[0].window);
            EXPECT_EQ(0, align[0].lParam);
            EXPECT_EQ(dialog.window, g_alignDialog);
            EXPECT_TRUE(RectIs(RectWithin(dialog.button, dialog.innerDialog), 120, 5, 250, 28)) << c.what;
        } else {
            EXPECT_TRUE(align.empty()) << c.what;
            EXPECT_EQ(NULL, g_alignDialog);
            EXPECT_TRUE(RectIs(RectWithin(dialog.button, dialog.innerDialog), 120, 2, 250, 25)) << c.what;
        }
        // The label is never moved.
        EXPECT_TRUE(RectIs(RectWithin(dialog.label, dialog.innerDialog), 10, 10, 110, 23)) << c.what;
        DestroyWindow(dialog.window);
        ResetRepairState();
    }
}

TEST_F(ButtonAlignTest, RequestForAWindowWithoutHostPostsNothing)
{
    HWND earlier = stranger_.frame;
    const HWND parents[] = {NULL, stranger_.frame};   // no parent; a parent without parent
    for (HWND parent : parents) {
        hostsim::OpenFileWindow dialog = hostsim::CreateOpenFileWindow(parent, false);
        g_alignDialog = earlier;
        RequestButtonAlignment(dialog.window);
        EXPECT_TRUE(Pump().empty());
        EXPECT_EQ(earlier, g_alignDialog);
        DestroyWindow(dialog.window);
    }
}

// The callback called directly for a window that the stand-in host built with the given
// geometry; every case starts with the button somewhere else.
TEST_F(ButtonAlignTest, ButtonCentreIsBroughtLevelWithTheLabelCentre)
{
    struct Case {
        RECT label;
        RECT button;
        int top;
    };
    const Case cases[] = {
        {{10, 100, 110, 113}, {200, 0, 320, 23}, 95},     // 13 high label, 23 high button
        {{10, 100, 110, 113}, {200, 300, 320, 324}, 95},  // 24 high: -11 halves to -5
        {{10, 100, 110, 114}, {200, 40, 320, 63}, 96},    // -9 halves to -4
        {{10, 100, 110, 123}, {200, 7, 320, 30}, 100},    // as high as the button
        {{10, 100, 110, 140}, {200, 7, 320, 30}, 108},    // taller than the button
        {{10, 100, 110, 141}, {200, 7, 320, 30}, 109},
    };
    for (const Case& c : cases) {
        hostsim::OpenFileWindow dialog = hostsim::CreateOpenFileWindow(stranger_.frame, false, c.label,
                                                                       c.button, hostsim::kOpenFileTitle);
        ASSERT_TRUE(dialog.button != NULL);
        g_alignDialog = dialog.window;
        EXPECT_FALSE(AlignSaveAndOpen(NULL, 0));
        int width = c.button.right - c.button.left, height = c.button.bottom - c.button.top;
        RECT placed = RectWithin(dialog.button, dialog.innerDialog);
        EXPECT_TRUE(RectIs(placed, c.button.left, c.top, c.button.left + width, c.top + height));
        if (c.label.bottom - c.label.top >= height) {
            EXPECT_GE(placed.top, c.label.top);
            EXPECT_LE(placed.bottom, c.label.bottom);
        }
        DestroyWindow(dialog.window);
    }
}

// An inner dialog with a frame: its children are placed in its client area, and there the
// button keeps its horizontal place.
TEST_F(ButtonAlignTest, ButtonKeepsItsHorizontalPlaceInAFramedInnerDialog)
{
    RECT label = {10, 100, 110, 113}, button = {200, 0, 320, 23};
    hostsim::OpenFileWindow dialog =
        hostsim::CreateOpenFileWindow(stranger_.frame, false, label, button, hostsim::kOpenFileTitle);
    SetWindowLongA(dialog.innerDialog, GWL_STYLE, GetWindowLongA(dialog.innerDialog, GWL_STYLE) | WS_DLGFRAME);
    SetWindowPos(dialog.innerDialog, NULL, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    RECT frame = RectWithin(dialog.label, dialog.innerDialog);
    ASSERT_GT(frame.left, 10);   // the frame lies between window and client area

    g_alignDialog = dialog.window;
    AlignSaveAndOpen(NULL, 0);
    RECT placed;
    GetWindowRect(dialog.button, &placed);
    MapWindowPoints(NULL, dialog.innerDialog, reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_TRUE(RectIs(placed, 200, 95, 320, 118));
    DestroyWindow(dialog.window);
}

TEST_F(ButtonAlignTest, NothingMovesWithoutTheButtonTheLabelOrTheWindow)
{
    RECT label = {10, 100, 110, 113}, button = {200, 0, 320, 23};
    enum Lack { kOtherCaption, kOtherAccelerator, kNoLabel, kNoInnerDialog, kOtherWindow, kWindowGone };
    for (int lack = kOtherCaption; lack <= kWindowGone; ++lack) {
        hostsim::OpenFileWindow dialog =
            hostsim::CreateOpenFileWindow(stranger_.frame, false, label, button, hostsim::kOpenFileTitle);
        switch (lack) {
        case kOtherCaption:   // "保存して開く", without "(&O)"
            SetWindowTextA(dialog.button, "\x95\xDB\x91\xB6\x82\xB5\x82\xC4\x8A\x4A\x82\xAD");
            break;
        case kOtherAccelerator:   // "保存して開く(&S)"
            SetWindowTextA(dialog.button, "\x95\xDB\x91\xB6\x82\xB5\x82\xC4\x8A\x4A\x82\xAD(&S)");
            break;
        case kNoLabel:
            DestroyWindow(dialog.label);
            break;
        case kOtherWindow:   // another window, given the remembered handle
            SetWindowTextA(dialog.window, "other");
            break;
        case kNoInnerDialog:
        case kWindowGone:
            break;
        }
        RECT before = RectWithin(dialog.button, dialog.innerDialog);
        RECT screenBefore;
        GetWindowRect(dialog.button, &screenBefore);
        if (lack == kNoInnerDialog) {
            // The button and label now sit right in the window, with no inner dialog.
            SetParent(dialog.button, dialog.window);
            SetParent(dialog.label, dialog.window);
            DestroyWindow(dialog.innerDialog);
            GetWindowRect(dialog.button, &screenBefore);
        }
        HWND window = dialog.window;
        if (lack == kWindowGone)
            DestroyWindow(window);
        g_alignDialog = window;
        EXPECT_FALSE(AlignSaveAndOpen(NULL, 0)) << lack;
        if (lack == kNoInnerDialog) {
            RECT after;
            GetWindowRect(dialog.button, &after);
            EXPECT_TRUE(SameRect(screenBefore, after)) << lack;
        } else if (lack != kWindowGone) {
            EXPECT_TRUE(SameRect(before, RectWithin(dialog.button, dialog.innerDialog))) << lack;
        }
        DestroyWindow(window);
    }
}

// Before any request there is no window to align: the top-level windows are not searched,
// though one of them holds all that an alignment needs.
TEST_F(ButtonAlignTest, CallbackBeforeAnyRequestMovesNothing)
{
    HINSTANCE instance = GetModuleHandleA(NULL);
    HWND topDialog = CreateWindowExA(0, "#32770", "", WS_POPUP, 0, 0, 300, 200, NULL, NULL, instance, NULL);
    ASSERT_TRUE(topDialog != NULL);
    HWND label = CreateWindowExA(0, "Static", "label", WS_CHILD, 10, 100, 100, 13, topDialog, NULL,
                                 instance, NULL);
    HWND button = CreateWindowExA(0, "Button", hostsim::kSaveAndOpenCaption, WS_CHILD, 200, 0, 120, 23,
                                  topDialog, NULL, instance, NULL);
    ASSERT_TRUE(label && button);
    if (FindWindowExA(NULL, NULL, "#32770", NULL) != topDialog)
        GTEST_SKIP() << "another top-level dialog comes first";
    RECT before = RectWithin(button, topDialog);

    g_alignDialog = NULL;
    EXPECT_FALSE(AlignSaveAndOpen(NULL, 0));
    EXPECT_TRUE(SameRect(before, RectWithin(button, topDialog)));
    EXPECT_TRUE(RectIs(before, 200, 0, 320, 23));
    DestroyWindow(topDialog);
}

// Moves of the button, as the messages sent to it show them.
HWND g_movedButton;
int g_buttonMoves;
HHOOK g_moveHook;

LRESULT CALLBACK MoveCounter(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && sent && sent->hwnd == g_movedButton && sent->message == WM_MOVE)
        ++g_buttonMoves;
    return CallNextHookEx(g_moveHook, code, wParam, lParam);
}

TEST_F(ButtonAlignTest, SecondAlignmentOfTheSameWindowMovesNothing)
{
    hostsim::OpenFileWindow dialog = hostsim::CreateOpenFileWindow(stranger_.frame, false);
    g_movedButton = dialog.button;
    g_moveHook = SetWindowsHookExA(WH_CALLWNDPROC, MoveCounter, NULL, GetCurrentThreadId());
    ASSERT_TRUE(g_moveHook != NULL);

    g_alignDialog = dialog.window;
    g_buttonMoves = 0;
    AlignSaveAndOpen(NULL, 0);
    EXPECT_EQ(1, g_buttonMoves);
    RECT first = RectWithin(dialog.button, dialog.innerDialog);
    EXPECT_TRUE(RectIs(first, 120, 5, 250, 28));

    g_buttonMoves = 0;
    AlignSaveAndOpen(NULL, 0);
    EXPECT_EQ(0, g_buttonMoves);
    EXPECT_TRUE(SameRect(first, RectWithin(dialog.button, dialog.innerDialog)));

    UnhookWindowsHookEx(g_moveHook);
    g_moveHook = NULL;
    DestroyWindow(dialog.window);
}

}  // namespace
}  // namespace dialogtest
