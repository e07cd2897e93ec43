// What a reader does in the Unicode pane besides copying: follow its links and find text.
#pragma once
#include <windows.h>
#include <richedit.h>

// Hands an address to the system's handler; true when it was taken. The tests put their own.
typedef bool (*LinkOpener)(const wchar_t* address);
extern LinkOpener g_linkOpener;

// A link notification from the pane: the left button down and up on the same link, with
// nothing selected on the way, opens its address when it is a well-formed http, https or
// mailto address.
void FollowLinkEvent(HWND pane, const ENLINK& link);
// The left button has come up in the pane: a press the control reported on a link is over.
void ForgetPressedLink();

// Ctrl+F opens the find box, F3 and Shift+F3 find the next and previous match of the last
// text searched for. True when the key was one of them: the pane takes no other action.
// The box is modal, and the pane may be gone when this returns.
bool HandleFindKey(HWND pane, WPARAM key);
