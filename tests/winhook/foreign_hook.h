// Included by a test program: a WH_CALLWNDPROC hook of the test's own on the calling thread.
// Installed before the plug-in's hook, it is called after that one, and so shows whether the
// plug-in's hook passes messages on: it records in g_foreignSeen every message from the first
// one it was installed with on that is sent to g_foreignWatched.
#pragma once
#include <windows.h>

#include <vector>

namespace foreignhook {

inline HHOOK g_foreignHook;
inline HWND g_foreignWatched;
inline UINT g_foreignFirst;
inline std::vector<UINT> g_foreignSeen;

inline LRESULT CALLBACK ForeignHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION && lParam) {
        const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (sent->hwnd == g_foreignWatched && sent->message >= g_foreignFirst)
            g_foreignSeen.push_back(sent->message);
    }
    return CallNextHookEx(g_foreignHook, code, wParam, lParam);
}

// Installs the hook, to record the messages from `firstMessage` on; the hook, or null.
inline HHOOK InstallForeignHook(UINT firstMessage)
{
    g_foreignFirst = firstMessage;
    g_foreignHook = SetWindowsHookExA(WH_CALLWNDPROC, ForeignHook, NULL, GetCurrentThreadId());
    return g_foreignHook;
}

inline void RemoveForeignHook()
{
    if (g_foreignHook)
        UnhookWindowsHookEx(g_foreignHook);
    g_foreignHook = NULL;
}

}  // namespace foreignhook
