#include "plugin/settings.h"

#include <windows.h>

#include <cstdio>
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

// The key's value: a ';' after a blank begins a comment, which the profile functions keep
// in the value, and blanks around the value go.
void ReadValue(const char* key, char* value, DWORD size, const char* file)
{
    GetPrivateProfileStringA("Trace", key, "", value, size, file);
    char* end = value + std::strlen(value);
    for (char* p = value; *p; ++p) {
        if (*p == ';' && p > value && (p[-1] == ' ' || p[-1] == '\t')) {
            end = p;
            break;
        }
    }
    while (end > value && (end[-1] == ' ' || end[-1] == '\t'))
        --end;
    *end = '\0';
}

// A name for a field of size bytes, or null when the file gives none (the trace then takes
// its default). A name too long for the field is refused: cut, it would name another file
// or port.
bool ReadName(const char* key, size_t size, char* value, const char** name, const char* file)
{
    ReadValue(key, value, MAX_PATH, file);
    *name = value[0] ? value : NULL;
    if (std::strlen(value) < size)
        return true;
    char text[160];
    std::snprintf(text, sizeof text, "Velmora.ini: [Trace] %s is longer than %u characters.\r\n"
                  "Trace lines go to the debugger output instead.", key, static_cast<unsigned>(size - 1));
    DebugTraceRejectSetting(text);
    return false;
}

void ApplyTrace(const char* folder, const char* file)
{
    char output[16];
    ReadValue("Output", output, sizeof output, file);
    char name[MAX_PATH];
    const char* given = NULL;
    if (lstrcmpiA(output, "file") == 0) {
        if (!ReadName("LogFile", kTraceLogNameSize, name, &given, file))
            return;
        DebugTraceSetLogFolder(folder);
        DebugTraceConfigure(kTraceLogFile, given);
    } else if (lstrcmpiA(output, "serial") == 0) {
        if (!ReadName("SerialPort", kTracePortNameSize, name, &given, file))
            return;
        UINT speed = GetPrivateProfileIntA("Trace", "Speed", 9600, file);
        DebugTraceConfigure(kTraceSerial, given, BaudCode(speed));
    } else if (lstrcmpiA(output, "udp") == 0) {
        if (!ReadName("Host", kTraceHostNameSize, name, &given, file))
            return;
        // Its low 16 bits would be another port: 99999 is 34463.
        UINT port = GetPrivateProfileIntA("Trace", "Port", 3000, file);
        if (port < 1 || port > 65535) {
            char text[160];
            std::snprintf(text, sizeof text, "Velmora.ini: [Trace] Port=%u is not a port (1 to 65535).\r\n"
                          "Trace lines go to the debugger output instead.", port);
            DebugTraceRejectSetting(text);
            return;
        }
        DebugTraceConfigure(kTraceUdp, static_cast<unsigned>(port), given);
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
    g_mailViewOptions.html = 0;
    g_mailViewOptions.autoShow = 0;
    g_mailViewOptions.headers = 0;
    DebugTraceSetFallBack(0);
    DebugTraceRejectSetting(NULL);
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
    g_mailViewOptions.html = GetPrivateProfileIntA("Unicode", "Html", 0, file) != 0;
    g_mailViewOptions.autoShow = GetPrivateProfileIntA("Unicode", "Auto", 0, file) != 0;
    g_mailViewOptions.headers = GetPrivateProfileIntA("Unicode", "Headers", 0, file) != 0;
    ApplyTrace(folder, file);
}
