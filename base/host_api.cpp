#include "base/host_api.h"

HostApi g_hostApi;

const char* const kHostFunctionNames[kHostFunctionCount] = {
    "_QPARegistCallback@8",
    "_QPASetTimer@12",
    "_QPAKillTimer@4",
    "_QPAIsBusy@0",
    "_QPAExecQuillpost@4",
    "_QPAGetMailbox@0",
    "_QPAGetAccount@4",
    "_QPAGetFolderName@4",
    "_QPAImportFile@12",
    "_QPASaveMail@16",
    "_QPAMoveMail@8",
    "_QPAMarkMail@12",
    "_QPADeleteMail@4",
    "_QPAFolderGetCurrentFolder@4",
    "_QPAFolderGetCurrentEntry@4",
    "_QPAFolderGetSelectEntry@8",
    "_QPAFolderChangePassword@8",
    "_QPAFolderMailTo@8",
    "_QPAFolderReply@8",
    "_QPAFolderForward@8",
    "_QPAFolderOpenMail@12",
    "_QPASendGetText@8",
    "_QPASendGetHeader@4",
    "_QPASendSetText@8",
    "_QPASendSetHeader@8",
    "_QPASendGetEditor@4",
    "_QPAViewGetText@4",
    "_QPAViewGetHeader@4",
    "_QPAViewSetText@8",
    "_QPAViewGetPath@4",
    "_QPAViewGetEditor@4",
    "_QPAViewChangeMail@8",
    "_QPASjisToJis@12",
    "_QPAJisToSjis@12",
};

int BindHostApi()
{
    if (g_hostApi.hostModule)
        return 1;
    g_hostApi.hostModule = GetModuleHandleA(NULL);
    if (!g_hostApi.hostModule)
        return 0;
    for (int i = 0; i < kHostFunctionCount; ++i) {
        g_hostApi.slots[i] = GetProcAddress(g_hostApi.hostModule, kHostFunctionNames[i]);
        if (!g_hostApi.slots[i]) {
            // Slots filled so far keep their addresses: the callers check their own slot.
            g_hostApi.hostModule = NULL;
            return 0;
        }
    }
    return 1;
}

HostCommandId HostRegistCallback(HostCallback callback)
{
    typedef HostCommandId(WINAPI * RegistCallbackProc)(HostCallback, LPARAM);
    FARPROC slot = g_hostApi.slots[kHostRegistCallback];
    if (!slot)
        return 0;
    return FunctionFromProc<RegistCallbackProc>(slot)(callback, 0);
}

const char* HostViewGetPath(HWND view)
{
    typedef const char*(WINAPI * ViewGetPathProc)(HWND);
    FARPROC slot = g_hostApi.slots[kHostViewGetPath];
    if (!slot)
        return NULL;
    return FunctionFromProc<ViewGetPathProc>(slot)(view);
}
