// Subclassing of host windows through one shared window procedure, and the registry
// that leads from a window handle to its handler object.
#pragma once
#include <windows.h>
#include <vector>

class CLSWinHook {
public:
    explicit CLSWinHook(HWND window);
    ~CLSWinHook() {}

    // Sees each message of the window before its previous procedure. Setting *handled
    // makes the result the window's answer; otherwise the previous procedure answers.
    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled);

    // 1 when the window is now subclassed and registered; 0 when it is not (no window
    // procedure, or the window has a registered object already: the first one keeps it).
    int Subclass();
    void Unsubclass();

    WNDPROC prevWndProc;   // the window's procedure before Subclass; 0 while not subclassed
    HWND const hwnd;

    // Lifetime. A registered object is owned by its window: once the window's WM_DESTROY
    // has passed and no call of the plug-in is using the object, releaseProc (when set)
    // frees it. useCount counts the calls in progress; released is set at WM_DESTROY.
    void (*releaseProc)(CLSWinHook* object);
    int useCount;
    bool released;
};

// Ascending by hwnd as an unsigned number; non-owning.
// Never destroyed: a host that exits with windows still open sends them their last
// messages after the library's static objects are gone.
extern std::vector<CLSWinHook*>& g_winHookRegistry;

CLSWinHook* FindWinHook(HWND window);
LRESULT CALLBACK SubclassWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Keeps a registered object alive for a scope whose calls may let its window be destroyed
// (a nested WM_DESTROY): the object is released when the last use ends.
class WinHookUse {
public:
    explicit WinHookUse(CLSWinHook* object);
    ~WinHookUse();
    WinHookUse(const WinHookUse&) = delete;
    WinHookUse& operator=(const WinHookUse&) = delete;

private:
    CLSWinHook* object_;
};
