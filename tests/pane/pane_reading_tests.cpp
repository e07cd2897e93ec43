// Links clicked with the mouse and text found with the keys, as a reader does it.
#include <gtest/gtest.h>
#include <windows.h>
#include <richedit.h>

#include <string>
#include <vector>

#include "mailview/pane_reading.h"
#include "mailview/unicode_pane.h"
#include "resources/resource_ids.h"
#include "tests/pane/pane_fixture.h"

using panetest::PaneTest;

namespace {

std::vector<std::wstring> g_opened;

LPARAM PointOf(HWND pane, LONG at)
{
    POINTL point = {0, 0};
    SendMessageW(pane, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&point), at);
    return MAKELPARAM(point.x + 2, point.y + 4);
}

void PressKeys(BYTE control, BYTE shift)
{
    BYTE keys[256] = {0};
    keys[VK_CONTROL] = control;
    keys[VK_SHIFT] = shift;
    SetKeyboardState(keys);
}

// The find box as a user works it, from a timer while its own loop runs: the text typed,
// Enter, then what it says read and Esc.
struct FindStep {
    const wchar_t* typed;   // null: F3 (Shift+F3 with back), the box closed
    bool matchCase, back;
    LONG from, to;          // the selection afterwards
    UINT note;              // what the box says; 0 nothing
};
const FindStep* g_step;
int g_ticks;
std::wstring g_note;

void CALLBACK WorkFindBox(HWND, UINT, UINT_PTR, DWORD)
{
    HWND box = FindWindowW(L"#32770", L"\u691C\u7D22");
    if (!box)
        return;
    HWND edit = GetDlgItem(box, IDC_FIND_TEXT);
    if (g_ticks++ == 0) {
        PressKeys(0, 0);
        SetWindowTextW(edit, g_step->typed);
        CheckDlgButton(box, IDC_FIND_CASE, g_step->matchCase ? BST_CHECKED : BST_UNCHECKED);
        PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 0);
        return;
    }
    wchar_t note[128] = {0};
    GetDlgItemTextW(box, IDC_FIND_NOTE, note, 128);
    g_note = note;
    PostMessageW(edit, WM_KEYDOWN, VK_ESCAPE, 0);
    if (g_ticks > 20)
        EndDialog(box, IDCANCEL);
}

}  // namespace

TEST_F(PaneTest, AClickOnAWellFormedWebOrMailLinkOpensItsWholeAddressAndNothingElseDoes)
{
    const struct {
        std::wstring link;   // marked a link between "see " and " now"
        LONG downAt, upAt;   // where the button goes down and up; -1 the link's middle; -2 elsewhere
        bool opens;
    } rows[] = {   // no two presses in a row at one point: they would make a double click
        {L"https://example.com/a?b=c", -1, -1, true},
        {L"https://example.com/" + std::wstring(300, L'a'), -1, -1, true},
        {L"MAILTO:Reader@Example.com", -1, -1, true},
        {L"file:///C:/windows/win.ini", -1, -1, false},
        {L"javascript:alert(1)", -1, -1, false},
        {L"https://example.com/a b", -1, -1, false},
        {L"https://example.com/drag", 1, -1, false},
        {L"https://example.com/drag", 6, -1, false},
        {L"https://example.com/drag", -1, 1, false},
        {L"https://example.com/drag", -2, -1, false},
    };
    const LinkOpener system = g_linkOpener;
    g_linkOpener = [](const wchar_t* address) { return g_opened.push_back(address), true; };
    for (const auto& row : rows) {
        const LONG length = static_cast<LONG>(row.link.size()), middle = 4 + length / 2;
        StreamInText((L"see " + row.link + L" now").c_str(), pane_);
        // Marked by hand too: other rich edits detect schemes this one does not.
        CHARFORMATW link = {sizeof(CHARFORMATW), CFM_LINK, CFE_LINK, 0, 0, 0, 0, 0, {0}};
        SendMessageW(pane_, EM_SETSEL, 4, 4 + length);
        SendMessageW(pane_, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&link));
        SendMessageW(pane_, EM_SETSEL, 0, 0);
        g_opened.clear();
        const LPARAM up = PointOf(pane_, row.upAt < 0 ? middle : row.upAt);
        if (row.downAt != -2)
            SendMessageW(pane_, WM_LBUTTONDOWN, MK_LBUTTON, PointOf(pane_, row.downAt < 0 ? middle : row.downAt));
        SendMessageW(pane_, WM_MOUSEMOVE, MK_LBUTTON, up);
        SendMessageW(pane_, WM_LBUTTONUP, 0, up);
        EXPECT_EQ(row.opens ? 1u : 0u, g_opened.size()) << row.link.substr(0, 30);
        EXPECT_TRUE(!row.opens || (g_opened.size() == 1 && g_opened[0] == row.link)) << row.link.substr(0, 30);
    }
    g_linkOpener = system;
}

TEST_F(PaneTest, FindSelectsTheNextOrPreviousMatchInViewGoingRoundOnceInEveryScript)
{
    // 𠮷 at 6, ALPHA at 10, sixty empty lines from 15, then alpha at 76, Σίσυφος at 82, Привет at 90.
    StreamInText((L"alpha \U00020BB7x ALPHA\r" + std::wstring(60, L'\r') +
                  L"alpha \u03A3\u03AF\u03C3\u03C5\u03C6\u03BF\u03C2 \u041F\u0440\u0438\u0432\u0435\u0442").c_str(),
                 pane_);
    const FindStep steps[] = {
        {L"alpha", false, false, 0, 5, 0},
        {NULL, false, false, 10, 15, 0},
        {NULL, false, false, 76, 81, 0},
        {L"alpha", false, false, 0, 5, IDS_FIND_WRAPPED},
        {NULL, false, true, 76, 81, 0},
        {L"ALPHA", true, false, 10, 15, IDS_FIND_WRAPPED},
        {L"\U00020BB7x", false, false, 6, 9, IDS_FIND_WRAPPED},
        {L"\u03A3\u038A\u03A3\u03A5\u03A6\u039F\u03A3", false, false, 82, 89, 0},
        {L"\u043F\u0420\u0418\u0412\u0415\u0422", false, false, 90, 96, 0},
        {L"zzz", false, false, 90, 96, IDS_FIND_NOT_FOUND},
        {NULL, false, true, 90, 96, 0},
    };
    UINT_PTR timer = SetTimer(NULL, 0, 30, WorkFindBox);
    for (const FindStep& step : steps) {
        g_step = &step;
        g_ticks = 0;
        g_note = L"?";
        PressKeys(step.typed ? 0x80 : 0, step.back ? 0x80 : 0);
        SendMessageW(pane_, WM_KEYDOWN, step.typed ? 'F' : VK_F3, 0);
        PressKeys(0, 0);
        wchar_t note[128] = {0};
        if (step.note)
            LoadStringW(GetModuleHandleW(NULL), step.note, note, 128);
        EXPECT_TRUE(!step.typed || g_note == note) << step.from;
        CHARRANGE selection = {-1, -1};
        SendMessageW(pane_, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
        EXPECT_EQ(step.from, selection.cpMin);
        EXPECT_EQ(step.to, selection.cpMax);
        RECT client;
        GetClientRect(pane_, &client);
        EXPECT_LT(HIWORD(PointOf(pane_, step.from)), client.bottom) << step.from << " out of view";
    }
    KillTimer(NULL, timer);
}
