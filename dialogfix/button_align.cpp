#include "dialogfix/button_align.h"

#include "dialogfix/open_file_window.h"
#include "trace/boundary_guard.h"
#include "winhook/win_hook.h"

const char kSaveAndOpenCaption[] = "\x95\xDB\x91\xB6\x82\xB5\x82\xC4\x8A\x4A\x82\xAD\x28\x26\x4F\x29";

HostCommandId g_alignCommandId;
HWND g_alignDialog;

namespace {

typedef LONG(WINAPI* RtlGetVersionProc)(OSVERSIONINFOEXW*);
static_assert(sizeof(OSVERSIONINFOEXW) == 284, "the version record RtlGetVersion fills");

}  // namespace

int GetOsVersionInfo(DWORD* majorVersion)
{
    // Looked up at run time: GetVersionEx is capped at 6.2 for programs without a manifest.
    HMODULE ntdll = LoadLibraryA("ntdll.dll");
    if (!ntdll)
        return 0;
    FARPROC proc = GetProcAddress(ntdll, "RtlGetVersion");
    if (!proc) {
        FreeLibrary(ntdll);
        return 0;
    }
    OSVERSIONINFOEXW info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    reinterpret_cast<RtlGetVersionProc>(reinterpret_cast<void (*)()>(proc))(&info);
    FreeLibrary(ntdll);
    *majorVersion = info.dwMajorVersion;
    return 1;
}

void RequestButtonAlignment(HWND window)
{
    DWORD major = 0;
    if (!GetOsVersionInfo(&major) || major < 10)
        return;
    HWND host = GetParent(window);
    if (!host)
        return;
    if (!FindWinHook(host)) {
        host = GetParent(host);
        if (!host)
            return;
    }
    g_alignDialog = window;
    PostMessageA(host, WM_COMMAND, g_alignCommandId, 0);
}

namespace {

void AlignButton()
{
    // Before any request there is no window to align; never search the top-level windows.
    // Nor act on a window that has gone, or on another that has been given its handle.
    if (!g_alignDialog || !IsOpenFileWindow(g_alignDialog))
        return;
    HWND inner = FindWindowExA(g_alignDialog, NULL, "#32770", NULL);
    if (!inner)
        return;
    HWND button = FindWindowExA(inner, NULL, NULL, kSaveAndOpenCaption);
    HWND label = FindWindowExA(inner, NULL, "Static", NULL);
    if (!button || !label)
        return;
    RECT buttonRect, labelRect;
    if (!GetWindowRect(button, &buttonRect) || !GetWindowRect(label, &labelRect))
        return;
    // SetWindowPos places a child in its parent's client area: measured from there, the
    // button keeps its horizontal place even when the inner dialog has a frame.
    POINT origin = {0, 0};
    if (!ClientToScreen(inner, &origin))
        return;
    int x = buttonRect.left - origin.x;
    int buttonHeight = buttonRect.bottom - buttonRect.top;
    int y = (labelRect.top - origin.y) + ((labelRect.bottom - labelRect.top) - buttonHeight) / 2;
    SetWindowPos(button, NULL, x, y, buttonRect.right - buttonRect.left, buttonHeight,
                 SWP_NOZORDER | SWP_NOSIZE);
}

}  // namespace

BOOL WINAPI AlignSaveAndOpen(HWND, LPARAM)
{
    return Guarded("AlignSaveAndOpen", [] { AlignButton(); return FALSE; }, [] { return FALSE; });
}
