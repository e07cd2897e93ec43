// The host's functions, exported under their decorated standard-call names.
#include "hostsim/host_sim.h"

#include <cstring>
#include <map>

namespace hostsim {

const char* const kExportNames[34] = {
    "_QPARegistCallback@8", "_QPASetTimer@12", "_QPAKillTimer@4", "_QPAIsBusy@0",
    "_QPAExecQuillpost@4", "_QPAGetMailbox@0", "_QPAGetAccount@4", "_QPAGetFolderName@4",
    "_QPAImportFile@12", "_QPASaveMail@16", "_QPAMoveMail@8", "_QPAMarkMail@12",
    "_QPADeleteMail@4", "_QPAFolderGetCurrentFolder@4", "_QPAFolderGetCurrentEntry@4",
    "_QPAFolderGetSelectEntry@8", "_QPAFolderChangePassword@8", "_QPAFolderMailTo@8",
    "_QPAFolderReply@8", "_QPAFolderForward@8", "_QPAFolderOpenMail@12", "_QPASendGetText@8",
    "_QPASendGetHeader@4", "_QPASendSetText@8", "_QPASendSetHeader@8", "_QPASendGetEditor@4",
    "_QPAViewGetText@4", "_QPAViewGetHeader@4", "_QPAViewSetText@8", "_QPAViewGetPath@4",
    "_QPAViewGetEditor@4", "_QPAViewChangeMail@8", "_QPASjisToJis@12", "_QPAJisToSjis@12",
};

namespace {

int g_callCounts[34];
std::vector<Registration> g_registrations;
int g_refusals;
std::map<HWND, std::string> g_viewPaths;

const UINT kFirstCommandId = 0x9000;

void Count(int index)
{
    ++g_callCounts[index];
}

}  // namespace

int CallCount(const char* decoratedName)
{
    for (int i = 0; i < 34; ++i)
        if (std::strcmp(kExportNames[i], decoratedName) == 0)
            return g_callCounts[i];
    return -1;
}

void ResetCallCounts()
{
    std::memset(g_callCounts, 0, sizeof g_callCounts);
}

const std::vector<Registration>& Registrations()
{
    return g_registrations;
}

void RefuseNextRegistrations(int count)
{
    g_refusals = count;
}

bool DispatchCommand(HWND window, WPARAM wParam)
{
    for (size_t i = 0; i < g_registrations.size(); ++i) {
        if (g_registrations[i].commandId != 0 && g_registrations[i].commandId == wParam) {
            g_registrations[i].callback(window, g_registrations[i].data);
            return true;
        }
    }
    return false;
}

void SetViewPath(HWND view, const char* path)
{
    if (path)
        g_viewPaths[view] = path;
    else
        g_viewPaths.erase(view);
}

}  // namespace hostsim

using namespace hostsim;

extern "C" {

UINT WINAPI QPARegistCallback(PluginCallback callback, LPARAM data)
{
    Count(0);
    if (g_refusals > 0) {
        --g_refusals;
        return 0;
    }
    Registration registration;
    registration.callback = callback;
    registration.data = data;
    registration.commandId = kFirstCommandId + static_cast<UINT>(g_registrations.size());
    g_registrations.push_back(registration);
    return registration.commandId;
}

// The functions below are bound by the plug-in but never called; the stand-in only
// counts calls so that tests can prove it.
UINT WINAPI QPASetTimer(DWORD, DWORD, DWORD) { Count(1); return 0; }
BOOL WINAPI QPAKillTimer(DWORD) { Count(2); return FALSE; }
BOOL WINAPI QPAIsBusy() { Count(3); return FALSE; }
BOOL WINAPI QPAExecQuillpost(DWORD) { Count(4); return FALSE; }
DWORD WINAPI QPAGetMailbox() { Count(5); return 0; }
DWORD WINAPI QPAGetAccount(DWORD) { Count(6); return 0; }
DWORD WINAPI QPAGetFolderName(DWORD) { Count(7); return 0; }
BOOL WINAPI QPAImportFile(DWORD, DWORD, DWORD) { Count(8); return FALSE; }
BOOL WINAPI QPASaveMail(DWORD, DWORD, DWORD, DWORD) { Count(9); return FALSE; }
BOOL WINAPI QPAMoveMail(DWORD, DWORD) { Count(10); return FALSE; }
BOOL WINAPI QPAMarkMail(DWORD, DWORD, DWORD) { Count(11); return FALSE; }
BOOL WINAPI QPADeleteMail(DWORD) { Count(12); return FALSE; }
DWORD WINAPI QPAFolderGetCurrentFolder(DWORD) { Count(13); return 0; }
DWORD WINAPI QPAFolderGetCurrentEntry(DWORD) { Count(14); return 0; }
DWORD WINAPI QPAFolderGetSelectEntry(DWORD, DWORD) { Count(15); return 0; }
BOOL WINAPI QPAFolderChangePassword(DWORD, DWORD) { Count(16); return FALSE; }
BOOL WINAPI QPAFolderMailTo(DWORD, DWORD) { Count(17); return FALSE; }
BOOL WINAPI QPAFolderReply(DWORD, DWORD) { Count(18); return FALSE; }
BOOL WINAPI QPAFolderForward(DWORD, DWORD) { Count(19); return FALSE; }
BOOL WINAPI QPAFolderOpenMail(DWORD, DWORD, DWORD) { Count(20); return FALSE; }
DWORD WINAPI QPASendGetText(DWORD, DWORD) { Count(21); return 0; }
DWORD WINAPI QPASendGetHeader(DWORD) { Count(22); return 0; }
BOOL WINAPI QPASendSetText(DWORD, DWORD) { Count(23); return FALSE; }
BOOL WINAPI QPASendSetHeader(DWORD, DWORD) { Count(24); return FALSE; }
HWND WINAPI QPASendGetEditor(DWORD) { Count(25); return NULL; }
DWORD WINAPI QPAViewGetText(DWORD) { Count(26); return 0; }
DWORD WINAPI QPAViewGetHeader(DWORD) { Count(27); return 0; }
BOOL WINAPI QPAViewSetText(DWORD, DWORD) { Count(28); return FALSE; }

const char* WINAPI QPAViewGetPath(HWND view)
{
    Count(29);
    std::map<HWND, std::string>::const_iterator found = g_viewPaths.find(view);
    return found == g_viewPaths.end() ? NULL : found->second.c_str();
}

HWND WINAPI QPAViewGetEditor(DWORD) { Count(30); return NULL; }
BOOL WINAPI QPAViewChangeMail(DWORD, DWORD) { Count(31); return FALSE; }
DWORD WINAPI QPASjisToJis(DWORD, DWORD, DWORD) { Count(32); return 0; }
DWORD WINAPI QPAJisToSjis(DWORD, DWORD, DWORD) { Count(33); return 0; }

}  // extern "C"
