#include "mailview/mail_view_win_hook.h"

#include <cstring>
#include <memory>

#include "base/module.h"
#include "resources/resource_ids.h"
#include "winhook/thread_hook.h"

namespace {

// MFC's frame commands that change the view's layout (toolbar and status bar shown or hidden).
const WORD kCommandViewToolbar = 0xE800;
const WORD kCommandViewStatusBar = 0xE802;

UINT g_viewMessage;
ViewMessageHandler g_viewMessageHandler;

// Whether a window other than this one, taken over on the thread, still exists.
bool OtherWindowOnThread(HWND window, DWORD thread)
{
    for (size_t i = 0; i < g_winHookRegistry.size(); ++i) {
        HWND other = g_winHookRegistry[i]->hwnd;
        if (other != window && IsWindow(other) && GetWindowThreadProcessId(other, NULL) == thread)
            return true;
    }
    return false;
}

}  // namespace

MailViewWinHook::MailViewWinHook(HWND window)
    : CLSWinHook(window),
      isView(0),
      isUtf8(0),
      nestedPart(0),
      htmlPart(0),
      codePage(CP_UTF8),
      buttonAdded(0),
      paneFocused(0),
      loadNumber(0),
      toolbar(NULL),
      unicodePane(NULL),
      hostPane(NULL),
      hostView(NULL),
      paneWndProc(NULL),
      paneBodyStart(0)
{
    std::memset(&button, 0, sizeof button);
    button.fsState = TBSTATE_ENABLED | TBSTATE_HIDDEN;
    button.fsStyle = TBSTYLE_CHECK;
}

void ReleaseMailViewWinHook(CLSWinHook* object)
{
    delete static_cast<MailViewWinHook*>(object);
}

void SetViewMessageHandler(UINT message, ViewMessageHandler handler)
{
    g_viewMessage = message;
    g_viewMessageHandler = handler;
}

LRESULT MailViewWinHook::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled)
{
    *handled = FALSE;
    switch (message) {
    case WM_DESTROY: {
        // The thread's hook serves every window announced on the thread: it goes with the
        // last of them, so that a closed view does not end the repairs for its folder.
        DWORD thread = GetCurrentThreadId();
        if (!OtherWindowOnThread(hwnd, thread)) {
            std::unique_ptr<ThreadHookEntry> entry(FindThreadHookEntry(thread));
            if (entry)
                entry->Remove();
        }
        boundary.Reset();
        return 0;
    }
    case WM_SIZE:
        if (!isView)
            return 0;
        break;
    case WM_COMMAND:
        if (!isView || (LOWORD(wParam) != kCommandViewToolbar && LOWORD(wParam) != kCommandViewStatusBar))
            return 0;
        break;
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        // Only the request for our own button is answered here; the host's own tools keep
        // their tooltips, so their requests reach the host untouched.
        if (isView && isUtf8 && header && header->code == TTN_GETDISPINFOA &&
            button.idCommand != 0 && header->idFrom == static_cast<UINT_PTR>(button.idCommand)) {
            NMTTDISPINFOA* info = reinterpret_cast<NMTTDISPINFOA*>(lParam);
            info->hinst = g_hInstance;
            info->lpszText = MAKEINTRESOURCEA(IDS_UNICODE_TOGGLE);
        }
        return 0;
    }
    default:
        if (message == g_viewMessage && message != 0 && g_viewMessageHandler) {
            *handled = TRUE;
            g_viewMessageHandler(this, wParam);
        }
        return 0;
    }
    // The host lays the view out first; the Unicode pane then follows the host pane.
    LRESULT result = CallWindowProcA(prevWndProc, hwnd, message, wParam, lParam);
    LayoutPane(hostPane, unicodePane);
    *handled = TRUE;
    return result;
}

void ShowPanes(HWND hostPane, HWND unicodePane, bool showUnicode)
{
    if (showUnicode) {
        ShowWindow(hostPane, SW_HIDE);
        if (unicodePane)
            ShowWindow(unicodePane, SW_SHOW);
    } else {
        ShowWindow(hostPane, SW_SHOW);
        if (unicodePane)
            ShowWindow(unicodePane, SW_HIDE);
    }
}

void LayoutPane(HWND hostPane, HWND unicodePane)
{
    if (!unicodePane)
        return;
    RECT host;
    if (!GetWindowRect(hostPane, &host))
        return;
    // The pane's client edge lies outside the host view's client area, so that its text
    // area covers exactly the host pane.
    MoveWindow(unicodePane, -2, -2, host.right - host.left + 4, host.bottom - host.top + 4, TRUE);
}
