#include "dialogfix/open_file_dialog.h"

#include <cstring>

#include "dialogfix/button_align.h"
#include "trace/boundary_guard.h"
#include "trace/debug_trace.h"
#include "winhook/thread_hook.h"
#include "winhook/win_hook.h"

HostCommandId g_restoreCommandId;
HWND g_openFileDialog;
char g_savedEditText[257];
bool g_textWasCleaned;
HWND g_restoreEdit;

namespace {

const int kNameBufferSize = 256;
const int kNameLimit = 255;
const int kSavedTextBytes = 256;

bool IsRegistered(HWND window)
{
    return window && FindWinHook(window);
}

// The registered parent of the window, or else its grandparent.
HWND HostWindowOf(HWND window)
{
    HWND parent = GetParent(window);
    if (!parent)
        return NULL;
    if (IsRegistered(parent))
        return parent;
    return GetParent(parent);
}

// Set while RestoreEditText writes into the field: its own write is not the user's.
bool g_restoring;

bool IsEditOf(HWND window, HWND dialog)
{
    if (!window || GetParent(window) != dialog)
        return false;
    char className[kNameBufferSize];
    className[0] = '\0';
    GetClassNameA(window, className, kNameLimit);
    className[kNameBufferSize - 1] = '\0';
    return std::strcmp(className, "Edit") == 0;
}

void PostRestore(HWND host, HWND edit)
{
    g_restoreEdit = edit;
    PostMessageA(host, WM_COMMAND, g_restoreCommandId, 0);
}

void OnCreate(HWND window)
{
    HWND parent = GetParent(window);
    if (!parent || (!IsRegistered(parent) && !IsRegistered(GetParent(parent))))
        return;
    if (!IsOpenFileWindow(window))
        return;
    g_openFileDialog = window;
    g_savedEditText[0] = '\0';
    RequestButtonAlignment(window);
}

void OnSetText(HWND window, const char* text)
{
    if (g_restoring || !g_openFileDialog || !IsEditOf(window, g_openFileDialog))
        return;

    // A null text pointer is taken as an empty text.
    if (text && text[0] != '\0') {
        if (g_savedEditText[0] != '\0')
            return;
        g_textWasCleaned = StripControlChars(g_savedEditText, text, kSavedTextBytes);
        g_savedEditText[kSavedTextBytes] = '\0';
        if (!g_textWasCleaned)
            return;
        HWND host = HostWindowOf(g_openFileDialog);
        if (host)
            PostRestore(host, window);
        return;
    }

    HWND host = HostWindowOf(g_openFileDialog);
    if (!host)
        return;
    g_openFileDialog = NULL;
    if (g_savedEditText[0] == '\0')
        return;
    g_textWasCleaned = false;
    PostRestore(host, window);
}

void OnClose(HWND window)
{
    if (g_openFileDialog && IsRegistered(GetParent(window)))
        g_openFileDialog = NULL;
}

void Observe(const CWPSTRUCT& sent)
{
    switch (sent.message) {
    case WM_CREATE:
        OnCreate(sent.hwnd);
        break;
    case WM_SETTEXT:
        OnSetText(sent.hwnd, reinterpret_cast<const char*>(sent.lParam));
        break;
    case WM_CLOSE:
        OnClose(sent.hwnd);
        break;
    case WM_TIMER:
        DebugTracePrint("TIMER(%x,%x,%x)", reinterpret_cast<UINT_PTR>(sent.hwnd),
                        static_cast<UINT>(sent.wParam), static_cast<UINT>(sent.lParam));
        break;
    }
}

}  // namespace

bool StripControlChars(char* destination, const char* source, int maxBytes)
{
    bool dropped = false;
    int out = 0;
    for (int i = 0; i < maxBytes && source[i] != '\0'; ++i) {
        if (static_cast<unsigned char>(source[i]) < 0x20)
            dropped = true;
        else
            destination[out++] = source[i];
    }
    destination[out] = '\0';
    return dropped;
}

LRESULT CALLBACK CallWndHookProc(int nCode, WPARAM wParam, LPARAM lParam)
{
    HHOOK hook = FindThreadHook(GetCurrentThreadId());
    if (!hook)
        return 0;
    if (nCode != HC_ACTION)
        return CallNextHookEx(hook, nCode, wParam, lParam);
    if (lParam)
        Guarded("CallWndHookProc", [&] { Observe(*reinterpret_cast<const CWPSTRUCT*>(lParam)); }, [] {});
    return CallNextHookEx(hook, HC_ACTION, wParam, lParam);
}

namespace {

void RestoreSavedText()
{
    // An empty saved text is something to put back when cleaning left it empty: a name
    // made only of control characters.
    if (g_savedEditText[0] == '\0' && !g_textWasCleaned)
        return;
    // Only into the field as it was watched: not one that has gone, or moved out of its
    // open-file window, nor a window that has been given its handle since.
    HWND dialog = GetParent(g_restoreEdit);
    if (IsEditOf(g_restoreEdit, dialog) && IsOpenFileWindow(dialog)) {
        g_restoring = true;
        SendMessageA(g_restoreEdit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(g_savedEditText));
        g_restoring = false;
        SendMessageA(g_restoreEdit, EM_SETSEL, 0, -1);
    }
    if (!g_textWasCleaned)
        g_savedEditText[0] = '\0';
    g_textWasCleaned = false;
}

}  // namespace

BOOL WINAPI RestoreEditText(HWND, LPARAM)
{
    return Guarded("RestoreEditText", [] { RestoreSavedText(); return FALSE; }, [] { return FALSE; });
}
