// The debug trace channel.
#include "trace/debug_trace.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <utility>

#include "trace/boundary_guard.h"

namespace {

const char kDefaultPortName[] = "COM1";
const DWORD kDefaultBaudRate = 9600;
// A dotted address needs no resolver, and always means this machine over IPv4.
const char kDefaultHostName[] = "127.0.0.1";
const char kDefaultLogFileName[] = "debugw.log";
const char kCaption[] = "DEBUG";
const DWORD kSerialQueueSize = 8192;
const DWORD kSerialWriteTimeoutMs = 2000;

static_assert(sizeof(DCB) == 28, "the port settings record is 28 bytes");
static_assert(kTraceLineMaxText + 3 <= kTraceLineSize, "room for CR LF and the terminator");

// Copies name into a field of size bytes, cut to fit. A double-byte character is kept
// whole or left out, so that a cut name never ends in half a character.
void CopyName(char* field, size_t size, const char* name)
{
    size_t length = 0;
    while (name[length] != '\0') {
        size_t step = 1;
        if (IsDBCSLeadByte(static_cast<BYTE>(name[length])) && name[length + 1] != '\0')
            step = 2;
        if (length + step > size - 1)
            break;
        length += step;
    }
    memmove(field, name, length);   // name may be the field itself
    field[length] = '\0';
}

DWORD BaudRateFromCode(int code)
{
    switch (code) {
    case 1: return 2400;
    case 2: return 4800;
    case 4: return 19200;
    case 5: return 38400;
    default: return kDefaultBaudRate;
    }
}

void ShowBox(const char* text)
{
    MessageBoxA(NULL, text, kCaption, MB_OK);
}

// Releases whatever an opening acquired; the output is then not open.
void CloseOutput()
{
    g_debugTrace.handle.Reset();
    g_debugTrace.socket.Reset();
    g_debugTrace.sockets.Reset();
    g_debugTrace.openState = -1;
}

// The settings that name an output.
struct OutputSettings {
    int kind;
    char portName[kTracePortNameSize];
    DWORD baudRate;
    WORD datagramPort;
    char hostName[kTraceHostNameSize];
    char logFileName[kTraceLogNameSize];
    char logFolder[MAX_PATH];
};

OutputSettings CurrentSettings()
{
    OutputSettings settings;
    settings.kind = g_debugTrace.kind;
    memcpy(settings.portName, g_debugTrace.portName, sizeof settings.portName);
    settings.baudRate = g_debugTrace.baudRate;
    settings.datagramPort = g_debugTrace.datagramPort;
    memcpy(settings.hostName, g_debugTrace.hostName, sizeof settings.hostName);
    memcpy(settings.logFileName, g_debugTrace.logFileName, sizeof settings.logFileName);
    memcpy(settings.logFolder, g_debugTrace.logFolder, sizeof settings.logFolder);
    return settings;
}

// 1 when the output opened with before's settings is not the one that now's settings name.
int OutputChanged(const OutputSettings& before, const OutputSettings& now)
{
    if (before.kind != now.kind)
        return 1;
    switch (now.kind) {
    case kTraceSerial:
        return strcmp(before.portName, now.portName) != 0 || before.baudRate != now.baudRate;
    case kTraceUdp:
        return before.datagramPort != now.datagramPort || strcmp(before.hostName, now.hostName) != 0;
    case kTraceLogFile:
        return strcmp(before.logFileName, now.logFileName) != 0 || strcmp(before.logFolder, now.logFolder) != 0;
    default:
        return 0;
    }
}

// Steps after the port was opened; 0 when the port is ready.
int SetUpSerialPort(HANDLE port, DWORD baudRate)
{
    if (!SetCommMask(port, EV_RXCHAR))
        return 1;
    if (!SetupComm(port, kSerialQueueSize, kSerialQueueSize))
        return 1;
    PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);

    COMMTIMEOUTS timeouts;
    memset(&timeouts, 0, sizeof(timeouts));
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = kSerialWriteTimeoutMs;
    if (!SetCommTimeouts(port, &timeouts))
        return 1;

    DCB dcb;
    memset(&dcb, 0, sizeof(dcb));
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(port, &dcb))
        return 1;
    // Members not named here keep what the port reported.
    dcb.DCBlength = sizeof(dcb);
    dcb.BaudRate = baudRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 1;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    if (!SetCommState(port, &dcb))
        return 1;

    EscapeCommFunction(port, SETDTR);
    EscapeCommFunction(port, SETRTS);
    return 0;
}

int OpenSerial()
{
    ScopedFile port(CreateFileA(g_debugTrace.portName, GENERIC_READ | GENERIC_WRITE, 0, NULL,
                                OPEN_EXISTING, 0, NULL));
    if (!port.IsValid() || SetUpSerialPort(port.Get(), g_debugTrace.baudRate) != 0)
        return 1;
    g_debugTrace.handle = std::move(port);
    return 0;
}

int OpenUdp()
{
    if (!g_debugTrace.sockets.Start())
        return 1;

    sockaddr_in& destination = g_debugTrace.destination;
    memset(&destination, 0, sizeof(destination));
    destination.sin_addr.s_addr = inet_addr(g_debugTrace.hostName);
    if (destination.sin_addr.s_addr == INADDR_NONE) {
        const hostent* entry = gethostbyname(g_debugTrace.hostName);
        if (entry == NULL || entry->h_addrtype != AF_INET || entry->h_length != 4 ||
            entry->h_addr_list == NULL || entry->h_addr_list[0] == NULL) {
            CloseOutput();
            return 1;
        }
        memcpy(&destination.sin_addr, entry->h_addr_list[0], 4);
    }
    destination.sin_family = AF_INET;
    destination.sin_port = htons(g_debugTrace.datagramPort);

    g_debugTrace.socket.Reset(socket(AF_INET, SOCK_DGRAM, 0));
    if (!g_debugTrace.socket.IsValid()) {
        CloseOutput();
        return 1;
    }
    sockaddr_in local;
    memset(&local, 0, sizeof(local));
    local.sin_family = AF_INET;
    local.sin_port = htons(0);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(g_debugTrace.socket.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)) ==
        SOCKET_ERROR) {
        CloseOutput();
        return 1;
    }
    return 0;
}

bool IsRelativePath(const char* name)
{
    const bool drive = ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')) && name[1] == ':';
    return !drive && name[0] != '\\' && name[0] != '/';
}

// The log file's path: its name, or the name in the log folder.
bool LogFilePath(char* path, size_t size)
{
    const char* folder = IsRelativePath(g_debugTrace.logFileName) ? g_debugTrace.logFolder : "";
    int length = snprintf(path, size, "%s%s", folder, g_debugTrace.logFileName);
    return length >= 0 && static_cast<size_t>(length) < size;
}

int OpenLogFile()
{
    char path[MAX_PATH + kTraceLogNameSize];
    if (!LogFilePath(path, sizeof path)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 1;
    }
    g_debugTrace.handle.Reset(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, 0, NULL));
    return g_debugTrace.handle.IsValid() ? 0 : 1;
}

// The output's name as a box names it.
void OutputName(char* target, size_t size)
{
    switch (g_debugTrace.kind) {
    case kTraceSerial: CopyName(target, size, g_debugTrace.portName); break;
    case kTraceUdp: CopyName(target, size, g_debugTrace.hostName); break;
    case kTraceLogFile:
        if (!LogFilePath(target, size))
            CopyName(target, size, g_debugTrace.logFileName);
        break;
    default: target[0] = '\0'; break;
    }
}

// Switches to the debugger output, then shows the one box that says why.
void SwitchToDebugger(const char* text)
{
    // Switched before the box: its modal loop runs the timer that sends further lines.
    g_debugTrace.kind = kTraceDebugger;
    DebugTraceOpen();
    ShowBox(text);
}

// After a failed opening, or a failed write, with the fall-back set: one box says what
// failed, and from then on the lines go to the debugger output.
void FallBackToDebugger(DWORD error, bool writing)
{
    char target[MAX_PATH + kTraceLogNameSize];
    OutputName(target, sizeof target);
    char text[sizeof target + 160];
    snprintf(text, sizeof text, "The trace output %s could not be %s (error %lu).\r\n"
                                "Trace lines go to the debugger output instead.",
             target, writing ? "written" : "opened", static_cast<unsigned long>(error));
    SwitchToDebugger(text);
}

}  // namespace

bool ScopedWinsock::Start()
{
    if (started_)
        return true;
    WSADATA data;
    memset(&data, 0, sizeof(data));
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0)
        return false;
    started_ = true;
    if (data.wVersion != MAKEWORD(1, 1)) {
        Reset();
        return false;
    }
    return true;
}

void ScopedWinsock::Reset()
{
    if (started_)
        WSACleanup();
    started_ = false;
}

DebugTraceState& g_debugTrace = *new DebugTraceState{
    kTraceOff,              // kind
    -1,                     // openState
    ScopedFile(),           // handle
    ScopedSocket(),         // socket
    {},                     // sockets
    {},                     // destination
    "COM1",                 // portName
    kDefaultBaudRate,       // baudRate
    3000,                   // datagramPort
    "127.0.0.1",            // hostName
    "debugw.log",           // logFileName
    "",                     // logFolder
    0,                      // fallBack
    "",                     // rejected
};

void TraceContainedException(const char* where) noexcept
{
    DebugTracePrint("EXCEPTION %s", where ? where : "");
}

void DebugTraceConfigure(int kind, ...) noexcept
{
    const OutputSettings before = CurrentSettings();
    if (kind < kTraceOff || kind > kTraceDebugger)
        kind = kTraceOff;
    g_debugTrace.kind = kind;

    va_list args;
    va_start(args, kind);
    switch (kind) {
    case kTraceSerial: {
        const char* port = va_arg(args, const char*);
        int baudCode = va_arg(args, int);
        CopyName(g_debugTrace.portName, sizeof(g_debugTrace.portName), port ? port : kDefaultPortName);
        g_debugTrace.baudRate = BaudRateFromCode(baudCode);
        break;
    }
    case kTraceUdp: {
        unsigned port = va_arg(args, unsigned);
        const char* host = va_arg(args, const char*);
        g_debugTrace.datagramPort = static_cast<WORD>(port & 0xFFFFu);
        CopyName(g_debugTrace.hostName, sizeof(g_debugTrace.hostName), host ? host : kDefaultHostName);
        break;
    }
    case kTraceLogFile: {
        const char* logFile = va_arg(args, const char*);
        CopyName(g_debugTrace.logFileName, sizeof(g_debugTrace.logFileName),
                 logFile ? logFile : kDefaultLogFileName);
        break;
    }
    default:
        break;
    }
    va_end(args);

    // An open output stays open only while it is still the one configured.
    if (g_debugTrace.openState == 0 && OutputChanged(before, CurrentSettings()))
        CloseOutput();
}

void DebugTraceSetLogFolder(const char* folder) noexcept
{
    const OutputSettings before = CurrentSettings();
    if (!folder || strlen(folder) >= sizeof g_debugTrace.logFolder)
        folder = "";
    memmove(g_debugTrace.logFolder, folder, strlen(folder) + 1);
    if (g_debugTrace.openState == 0 && OutputChanged(before, CurrentSettings()))
        CloseOutput();
}

void DebugTraceSetFallBack(int fallBack) noexcept
{
    g_debugTrace.fallBack = fallBack ? 1 : 0;
}

void DebugTraceRejectSetting(const char* text) noexcept
{
    if (!text) {
        g_debugTrace.rejected[0] = '\0';
        return;
    }
    CopyName(g_debugTrace.rejected, sizeof g_debugTrace.rejected, text);
    g_debugTrace.kind = kTraceDebugger;
}

int DebugTraceOpen() noexcept
{
    CloseOutput();
    int result = 1;
    switch (g_debugTrace.kind) {
    case kTraceSerial: result = OpenSerial(); break;
    case kTraceUdp: result = OpenUdp(); break;
    case kTraceLogFile: result = OpenLogFile(); break;
    case kTraceDebugger: result = 0; break;
    default: result = 1; break;   // off: there is no output to open
    }
    if (result == 0)
        g_debugTrace.openState = 0;
    return result;
}

void DebugTracePrint(const char* format, ...) noexcept
{
    if (g_debugTrace.kind == kTraceOff || format == NULL)
        return;
    if (g_debugTrace.rejected[0]) {
        // A setting that was refused: its one box, the lines to the debugger output.
        char text[kTraceRejectedSize];
        memcpy(text, g_debugTrace.rejected, sizeof text);
        g_debugTrace.rejected[0] = '\0';
        SwitchToDebugger(text);
    }
    if (g_debugTrace.openState < 0 && DebugTraceOpen() != 0 && g_debugTrace.fallBack)
        FallBackToDebugger(GetLastError(), false);
    // Otherwise a failure leaves the state at -1: the next line tries again.

    char line[kTraceLineSize];
    line[0] = '\0';
    va_list args;
    va_start(args, format);
    if (vsnprintf(line, kTraceLineMaxText + 1, format, args) < 0)
        line[0] = '\0';   // a conversion failed: what the buffer holds is not the line
    va_end(args);
    line[kTraceLineMaxText] = '\0';

    if (g_debugTrace.openState != 0) {
        ShowBox(line);
        return;
    }
    size_t length = strlen(line);
    memcpy(line + length, "\r\n", 3);
    DebugTraceWrite(line);
}

namespace {

// With the fall-back set, a failed write is a failed opening: a box per line would lock the
// client (a datagram to a broadcast host opens fine and then fails every time). True when the line
// went to the debugger output instead.
bool WriteFellBack(DWORD error, const char* line)
{
    if (!g_debugTrace.fallBack)
        return false;
    FallBackToDebugger(error, true);
    OutputDebugStringA(line);
    return true;
}

}  // namespace

void DebugTraceWrite(const char* line) noexcept
{
    if (line == NULL)
        return;
    // "Werror=" and two numbers of at most 11 characters each fit with room to spare.
    char text[64];
    switch (g_debugTrace.kind) {
    case kTraceSerial:
    case kTraceLogFile: {
        DWORD written = 0;
        if (!WriteFile(g_debugTrace.handle.Get(), line, static_cast<DWORD>(strlen(line)), &written, NULL)) {
            DWORD error = GetLastError();
            if (WriteFellBack(error, line))
                break;
            wsprintfA(text, "Werror=%d,%d", static_cast<int>(error), static_cast<int>(written));
            ShowBox(text);
        }
        break;
    }
    case kTraceUdp: {
        int length = static_cast<int>(strlen(line));
        int sent = sendto(g_debugTrace.socket.Get(), line, length, 0,
                          reinterpret_cast<const sockaddr*>(&g_debugTrace.destination),
                          sizeof(g_debugTrace.destination));
        if (sent != length) {
            if (WriteFellBack(static_cast<DWORD>(WSAGetLastError()), line))
                break;
            wsprintfA(text, "Werror=%d", WSAGetLastError());
            ShowBox(text);
        }
        break;
    }
    case kTraceDebugger:
        OutputDebugStringA(line);
        break;
    default:
        break;   // off: nothing is written
    }
}
