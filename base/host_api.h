// The host's functions, bound once at start-up from the host's executable module.
#pragma once
#include <windows.h>

// A command identifier handed out by the host for a registered callback. It is posted
// whole as the wParam of WM_COMMAND, or set as a toolbar button's command.
typedef UINT HostCommandId;

// A plug-in function that the host calls when a command of its own arrives:
// standard call, two 32-bit arguments, no result that the host relies on.
typedef BOOL(WINAPI* HostCallback)(HWND window, LPARAM unused);

enum {
    kHostRegistCallback = 0,   // "_QPARegistCallback@8"
    kHostViewGetPath = 29,     // "_QPAViewGetPath@4"
    kHostFunctionCount = 34
};

struct HostApi {
    HMODULE hostModule;                 // null while unbound: the only mark of binding
    FARPROC slots[kHostFunctionCount];  // in binding order, null until looked up
};

extern HostApi g_hostApi;
// The decorated names, in binding order.
extern const char* const kHostFunctionNames[kHostFunctionCount];

// 1 when the table is bound, 0 when not. Stops at the first missing function.
int BindHostApi();

// The two host functions the plug-in calls. Both return 0 (null) when their slot is
// empty, so that no call ever goes through a missing function.
HostCommandId HostRegistCallback(HostCallback callback);
const char* HostViewGetPath(HWND view);

// Function pointers travel as FARPROC; this is the one place that turns them back.
template <class Function>
Function FunctionFromProc(FARPROC proc)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(proc));
}
