#include "winhook/win_hook.h"

#include <algorithm>

#include "trace/boundary_guard.h"

std::vector<CLSWinHook*>& g_winHookRegistry = *new std::vector<CLSWinHook*>;

namespace {

DWORD HandleKey(HWND window)
{
    return static_cast<DWORD>(reinterpret_cast<UINT_PTR>(window));
}

bool KeyLess(const CLSWinHook* object, DWORD key)
{
    return HandleKey(object->hwnd) < key;
}

bool ObjectLess(const CLSWinHook* a, const CLSWinHook* b)
{
    return HandleKey(a->hwnd) < HandleKey(b->hwnd);
}

}  // namespace

CLSWinHook::CLSWinHook(HWND window)
    : prevWndProc(0), hwnd(window), releaseProc(0), useCount(0), released(false)
{
}

LRESULT CLSWinHook::HandleMessage(UINT, WPARAM, LPARAM, BOOL* handled)
{
    *handled = FALSE;
    return 0;
}

int CLSWinHook::Subclass()
{
    // A second object for the same window would record SubclassWndProc as the previous
    // procedure and make every message loop forever: the first object keeps the window.
    if (prevWndProc || FindWinHook(hwnd))
        return 0;
    WNDPROC current = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hwnd, GWLP_WNDPROC));
    if (!current || current == SubclassWndProc)
        return 0;
    try {
        g_winHookRegistry.insert(
            std::upper_bound(g_winHookRegistry.begin(), g_winHookRegistry.end(), this, ObjectLess),
            this);
    } catch (...) {
        return 0;
    }
    prevWndProc = current;
    SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SubclassWndProc));
    return 1;
}

void CLSWinHook::Unsubclass()
{
    if (!prevWndProc)
        return;
    SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(prevWndProc));
    HWND window = hwnd;
    g_winHookRegistry.erase(
        std::remove_if(g_winHookRegistry.begin(), g_winHookRegistry.end(),
                       [window](const CLSWinHook* object) { return object->hwnd == window; }),
        g_winHookRegistry.end());
    prevWndProc = 0;
}

CLSWinHook* FindWinHook(HWND window)
{
    DWORD key = HandleKey(window);
    std::vector<CLSWinHook*>::const_iterator found =
        std::lower_bound(g_winHookRegistry.begin(), g_winHookRegistry.end(), key, KeyLess);
    if (found == g_winHookRegistry.end() || HandleKey((*found)->hwnd) != key)
        return NULL;
    return *found;
}

WinHookUse::WinHookUse(CLSWinHook* object) : object_(object)
{
    ++object_->useCount;
}

WinHookUse::~WinHookUse()
{
    if (--object_->useCount > 0 || !object_->released || !object_->releaseProc)
        return;
    void (*release)(CLSWinHook*) = object_->releaseProc;
    object_->releaseProc = 0;
    release(object_);
}

namespace {

LRESULT CallPrevious(WNDPROC previous, HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return previous ? CallWindowProcA(previous, window, message, wParam, lParam)
                    : DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

LRESULT CALLBACK SubclassWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CLSWinHook* object = FindWinHook(window);
    if (!object)
        return DefWindowProcA(window, message, wParam, lParam);

    WinHookUse use(object);
    WNDPROC previous = object->prevWndProc;
    // A handler that fails leaves the message to the previous procedure.
    BOOL handled = FALSE;
    LRESULT result = Guarded("SubclassWndProc",
                             [&] { return object->HandleMessage(message, wParam, lParam, &handled); },
                             [&] {
                                 handled = FALSE;
                                 return LRESULT(0);
                             });
    if (message == WM_DESTROY) {
        // The handler sees it first; the previous procedure always gets it, after the
        // window has its procedure back and has left the registry.
        previous = object->prevWndProc;
        object->Unsubclass();
        object->released = true;
        handled = FALSE;
    }
    return handled ? result : CallPrevious(previous, window, message, wParam, lParam);
}
