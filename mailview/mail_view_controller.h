// The mail view controller: the toggle button of a view and the switch between the
// host's pane and the Unicode pane.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include "mailview/mail_view_win_hook.h"
#include "base/host_api.h"

extern HostCommandId g_toggleCommandId;   // ToggleUnicodeView's identifier; 0 until registered
extern TBADDBITMAP g_toolbarBitmap;       // the toggle's image, loaded on first need

// The opt-in readings, set at start-up from the settings file; all 0 without one.
struct MailViewOptions {
    int nested;     // other multiparts are walked to their first text/plain part
    int charsets;   // the charsets of the table are converted through their code pages
    int html;       // a text/html part to show is shown as its text
    int autoShow;   // a load that offers the toggle ends pressed, the Unicode pane shown
    int headers;    // the pane begins with the mail's From, To, Cc, Subject and Date
};
extern MailViewOptions g_mailViewOptions;

// QPCViewLoadMail's work: classifies the header and brings the toggle into line.
DWORD LoadMail(HWND view, const char* headerText);
// Host callback for the toggle button's command.
BOOL WINAPI ToggleUnicodeView(HWND view, LPARAM unused);

void AddToggleButton(MailViewWinHook* controller);
LRESULT SyncButtonState(MailViewWinHook* controller, bool utf8);
