#include <windows.h>

#include "plugin/entry_points.h"
#include "plugin/plugin_state.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_hInstance = instance;
    } else if (reason == DLL_PROCESS_DETACH && reserved == NULL) {
        // Unloaded by FreeLibrary, not by the end of the process: no window or hook of the
        // host may keep running into code that is about to go.
        DetachFromHost();
    }
    return TRUE;
}
