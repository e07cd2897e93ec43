// A host view with its controller registered, and a Unicode pane whose rich-edit
// procedure is watched: every message that the pane passes on is recorded.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <richedit.h>

#include <string>
#include <vector>

#include "hostsim/host_sim.h"
#include "mailview/mail_view_win_hook.h"

namespace panetest {

struct Recorded {
    HWND window;
    UINT message;
    WPARAM wParam;
};

// Messages that reached the rich-edit procedure of a recorded pane, in order.
std::vector<Recorded>& RecordedMessages();
// The recorder's own procedure, as a pane that has its previous procedure back shows it.
WNDPROC RecorderProcAddress();
// How often `message` (with `wParam`, unless any) reached the rich-edit procedure of `pane`.
int CountRecorded(HWND pane, UINT message, WPARAM wParam, bool anyWParam = false);
// Index of the first such record at or after `from`, or -1.
int FindRecorded(HWND pane, UINT message, WPARAM wParam, size_t from = 0);

// The host view's window, with a registered view controller that owns itself (it is freed
// once the view's WM_DESTROY has passed, as in the plug-in).
struct ControlledView {
    hostsim::ViewWindow view;
    MailViewWinHook* controller;
};
ControlledView CreateControlledView(int x = 0, int y = 0, int width = 640, int height = 480);

// CreateUnicodePane for the controller, with a recorder put between the pane and its
// rich-edit procedure while the window is being created; the pane is laid over the host pane.
HWND CreateRecordedPane(MailViewWinHook* controller);

std::wstring PaneText(HWND pane, bool crlf);
std::wstring StreamOutWhole(HWND pane);

// The clipboard's CF_UNICODETEXT (true when there is one), with the block's size in bytes.
bool ReadClipboardText(std::wstring* text, SIZE_T* blockBytes);
bool PutClipboardText(const wchar_t* text);

class PaneTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    ControlledView view_;
    HWND pane_;
};

}  // namespace panetest
