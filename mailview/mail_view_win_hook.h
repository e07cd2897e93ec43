// The plug-in's record of one host folder or mail-view window, and the mail view
// controller that works on it.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "base/scoped.h"
#include "winhook/win_hook.h"

class MailViewWinHook final : public CLSWinHook {
public:
    explicit MailViewWinHook(HWND window);

    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) override;

    unsigned char isView;   // 1 for a mail view; folder windows only get the WM_DESTROY work
    unsigned char isUtf8;   // 1 while the mail last loaded is offered (the toggle is meant visible):
                            // UTF-8, or with the opt-in readings a charset of the table
    unsigned char nestedPart;   // 1: a press shows the first text/plain part the walk finds
    unsigned char htmlPart;     // 1: the part a press shows is HTML, shown as its text
    UINT codePage;          // what a press converts the text from; CP_UTF8 but for the opt-in charsets
    unsigned char buttonAdded;   // 1 once the separator and the toggle are on the toolbar
    unsigned char paneFocused;   // 1: a load hid the Unicode pane while it had the keyboard focus
    ULONG loadNumber;       // the number of the view's last load, told apart from earlier ones
    ScopedCString boundary;  // the multipart boundary of the loaded mail, or none
    TBBUTTON button;        // the toggle button, handed to the toolbar as it stands
    HWND toolbar;           // the view's "ToolbarWindow32", once found
    HWND unicodePane;       // the plug-in's Unicode rich-edit pane, once created
    HWND hostPane;          // the host's "RichEdit20A" pane, once found
    HWND hostView;          // the host's "AfxFrameOrView42s" window, once found
    WNDPROC paneWndProc;    // the Unicode pane's procedure before it was subclassed
    std::wstring paneText;  // the text last streamed into the Unicode pane
    std::wstring headerBlock;   // with the Headers switch: the last load's header lines, or empty
    LONG paneBodyStart;     // where the body begins in the pane, after the header lines
};

// Frees a record once its window's WM_DESTROY has passed (set as its releaseProc).
void ReleaseMailViewWinHook(CLSWinHook* object);

// A message of the plug-in's own to its views, and what handles it: set by the controller,
// so that the record never calls up into it. The host never sees that message.
typedef void (*ViewMessageHandler)(MailViewWinHook* view, WPARAM wParam);
void SetViewMessageHandler(UINT message, ViewMessageHandler handler);

void ShowPanes(HWND hostPane, HWND unicodePane, bool showUnicode);
void LayoutPane(HWND hostPane, HWND unicodePane);
