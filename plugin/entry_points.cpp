#include "plugin/entry_points.h"

#include <memory>
#include <new>

#include "dialogfix/button_align.h"
#include "dialogfix/open_file_dialog.h"
#include "mailview/mail_view_controller.h"
#include "mailview/mail_view_win_hook.h"
#include "mailview/unicode_pane.h"
#include "base/host_api.h"
#include "base/module.h"
#include "plugin/settings.h"
#include "resources/resource_ids.h"
#include "trace/boundary_guard.h"
#include "trace/debug_trace.h"
#include "winhook/thread_hook.h"

namespace {

const char kPluginName[] = "Velmora Version 0.10";

// From the first window taken over, the module stays loaded until the process ends: the
// host's windows and hooks run through its code, and giving them back at unloading would
// mean work under the loader lock that also cuts out any subclass installed after ours.
void PinModule()
{
    static bool pinned;
    if (pinned)
        return;
    HMODULE module = NULL;
    pinned = GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                reinterpret_cast<LPCSTR>(&PinModule), &module) != 0;
}

void AttachController(HWND window, bool isView)
{
    PinModule();
    // Once subclassed, the record is its window's, released after its WM_DESTROY; a window
    // that cannot be taken over (or is taken over already) keeps no record.
    std::unique_ptr<MailViewWinHook> controller(new (std::nothrow) MailViewWinHook(window));
    if (controller) {
        controller->isView = isView ? 1 : 0;
        controller->releaseProc = ReleaseMailViewWinHook;
        if (controller->Subclass())
            controller.release();
    }
    // The registry holds the entry once it is installed; the record's WM_DESTROY frees it.
    std::unique_ptr<ThreadHookEntry> entry(new (std::nothrow) ThreadHookEntry);
    if (entry) {
        entry->hook = 0;
        entry->threadId = GetCurrentThreadId();
        if (entry->Install(CallWndHookProc))
            entry.release();
    }
}

}  // namespace

extern "C" {

const char* WINAPI QPCGetPlugName()
{
    return kPluginName;
}

INT_PTR WINAPI QPCVersionInfo(HWND parent)
{
    return Guarded("QPCVersionInfo",
                   [&] { return DialogBoxParamA(g_hInstance, MAKEINTRESOURCEA(IDD_VERSION), parent, VersionDialogProc, 0); },
                   [] { return INT_PTR(0); });
}

int WINAPI QPCStartUp(DWORD)
{
    return Guarded("QPCStartUp",
                   [] {
                       BindHostApi();
                       DebugTraceConfigure(kTraceDebugger);
                       ApplySettingsFile();
                       // Both are 0 when the host lacks its registration function: nothing
                       // is called then.
                       HostCommandId restore = HostRegistCallback(RestoreEditText);
                       HostCommandId align = HostRegistCallback(AlignSaveAndOpen);
                       g_restoreCommandId = restore;
                       g_alignCommandId = align;
                       return 1;
                   },
                   [] { return 0; });
}

void WINAPI QPCFolderCreate(HWND window)
{
    Guarded("QPCFolderCreate", [&] { AttachController(window, false); }, [] {});
}

void WINAPI QPCViewCreate(HWND window)
{
    Guarded("QPCViewCreate", [&] { AttachController(window, true); }, [] {});
}

DWORD WINAPI QPCViewLoadMail(HWND view, const char* headerText, DWORD)
{
    return Guarded("QPCViewLoadMail", [&] { return LoadMail(view, headerText); }, [] { return DWORD(0); });
}

// These do nothing, and so have nothing to guard; neither has QPCGetPlugName.
void WINAPI QPCFolderClose(DWORD) {}
void WINAPI QPCViewClose(DWORD) {}
void WINAPI QPCViewInitMenu(DWORD, DWORD, DWORD) {}
void WINAPI QPCCleanUp() {}

}  // extern "C"

INT_PTR CALLBACK VersionDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    return Guarded("VersionDialogProc",
                   [&]() -> INT_PTR {
                       if (message == WM_INITDIALOG)
                           return TRUE;
                       if (message == WM_COMMAND) {
                           if (LOWORD(wParam) == IDOK)
                               EndDialog(dialog, IDOK);
                           else if (LOWORD(wParam) == IDCANCEL)
                               EndDialog(dialog, IDCANCEL);
                       }
                       return FALSE;
                   },
                   [] { return INT_PTR(FALSE); });
}
