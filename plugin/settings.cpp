#include "plugin/settings.h"

#include <windows.h>

#include <cstring>

#include "base/module.h"
#include "mailview/mail_view_controller.h"
#include "trace/debug_trace.h"

namespace {

const char kSettingsFileName[] = "Velmora.ini";

// The DLL's folder with its final '\'; false when its path can't be had whole.
bool ModuleFolder(char* folder, DWORD size)
{
    DWORD length = GetModuleFileNameA(g_hInstance, folder, size);
    if (length == 0 || length >= size)
        return false;
    // Walked by characters: the second byte of a double-byte character may be 0x5C.
    char* end = NULL;
    for (char* p = folder; *p; p = CharNextA(p))
        if (*p == '\\' || *p == '/')
            end = p + 1;
    if (!end)
        return false;
    *end = '\0';
    return true;
}

// 1 to 5 as the trace's baud codes; any other speed is 9600.
int BaudCode(UINT speed)
{
    switch (speed) {
    case 2400: return 1;
    case 4800: return 2;
    case 19200: return 4;
    case 38400: return 5;
    default: return 3;
    }
}

// A value, or null when the file gives none (the trace then takes its default).
const char* ReadText(const char* key, char* value, DWORD size, const char* file)
{
    GetPrivateProfileStringA("Trace", key, "", value, size, file);
    return value[0] ? value : NULL;
}

void ApplyTrace(const char* folder, const char* file)
{
    char output[16];
    GetPrivateProfileStringA("Trace", "Output", "", output, sizeof output, file);
    char name[MAX_PATH];
    if (lstrcmpiA(output, "file") == 0) {
        DebugTraceSetLogFolder(folder);
        DebugTraceConfigure(kTraceLogFile, ReadText("LogFile", name, sizeof name, file));
    } else if (lstrcmpiA(output, "serial") == 0) {
        UINT speed = GetPrivateProfileIntA("Trace", "Speed", 9600, file);
        DebugTraceConfigure(kTraceSerial, ReadText("SerialPort", name, sizeof name, file), BaudCode(speed));
    } else if (lstrcmpiA(output, "udp") == 0) {
        UINT port = GetPrivateProfileIntA("Trace", "Port", 3000, file);
        DebugTraceConfigure(kTraceUdp, static_cast<unsigned>(port), ReadText("Host", name, sizeof name, file));
    } else {
        return;   // the debugger output that start-up set
    }
    DebugTraceSetFallBack(1);
}

}  // namespace

void ApplySettingsFile()
{
    g_mailViewOptions.nested = 0;
    g_mailViewOptions.charsets = 0;
    DebugTraceSetFallBack(0);
    DebugTraceSetLogFolder(NULL);
    char folder[MAX_PATH];
    char file[MAX_PATH];
    if (!ModuleFolder(folder, sizeof folder) || std::strlen(folder) + sizeof kSettingsFileName > sizeof file)
        return;
    std::memcpy(file, folder, std::strlen(folder) + 1);
    std::strcat(file, kSettingsFileName);
    // Without the file every value is its default.
    g_mailViewOptions.nested = GetPrivateProfileIntA("Unicode", "Nested", 0, file) != 0;
    g_mailViewOptions.charsets = GetPrivateProfileIntA("Unicode", "Charsets", 0, file) != 0;
    ApplyTrace(folder, file);
}
