#include <windows.h>

#include "base/module.h"

// Only the module handle: once a window is taken over, the module is pinned and never
// unloaded before the process ends (see the entry points).
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        g_hInstance = instance;
    return TRUE;
}
