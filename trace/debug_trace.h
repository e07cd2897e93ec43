// The debug trace channel: short diagnostic lines to the debugger, a serial port,
// UDP datagrams or a log file. The output is opened when the first line is printed.
#pragma once
#include <windows.h>
#include <winsock.h>

#include "base/scoped.h"

enum TraceKind {
    kTraceOff = 0,
    kTraceSerial = 1,
    kTraceUdp = 2,
    kTraceLogFile = 3,
    kTraceDebugger = 4
};

enum {
    kTracePortNameSize = 12,   // at most 11 characters and the terminator
    kTraceHostNameSize = 80,
    kTraceLogNameSize = 80,
    kTraceLineSize = 1024,     // the line buffer
    kTraceLineMaxText = 1000,  // characters kept of a formatted line, before CR LF
    kTraceRejectedSize = 512
};

struct SocketTraits {
    typedef SOCKET Handle;
    static Handle Invalid() { return INVALID_SOCKET; }
    static void Close(Handle socket) { closesocket(socket); }
};
typedef ScopedHandle<SocketTraits> ScopedSocket;

// A Windows Sockets 1.1 start-up held until Reset or destruction.
class ScopedWinsock {
public:
    ScopedWinsock() : started_(false) {}
    ~ScopedWinsock() { Reset(); }
    ScopedWinsock(const ScopedWinsock&) = delete;
    ScopedWinsock& operator=(const ScopedWinsock&) = delete;
    // true when version 1.1 is started; a start-up of another version is undone at once.
    bool Start();
    void Reset();
    bool IsStarted() const { return started_; }

private:
    bool started_;
};

// Process-wide, used on the host's user-interface thread only. Never destroyed: nothing
// is closed from the library's exit, under the loader lock.
struct DebugTraceState {
    int kind;                    // TraceKind; kTraceOff until configured
    int openState;               // -1 while the output is not open, 0 once it is
    ScopedFile handle;           // serial port or log file
    ScopedSocket socket;         // datagram socket
    ScopedWinsock sockets;       // held while the datagram output is open
    sockaddr_in destination;     // where datagrams go; filled when the output opens
    char portName[kTracePortNameSize];
    DWORD baudRate;
    WORD datagramPort;
    char hostName[kTraceHostNameSize];
    char logFileName[kTraceLogNameSize];
    // Set from the plug-in's settings file only; empty and 0 otherwise.
    char logFolder[MAX_PATH];    // where a relative log file name is taken, with its final '\\'
    int fallBack;                // 1: a failed opening turns the channel to the debugger output
    char rejected[kTraceRejectedSize];   // a refused setting's box, shown at the next line
};

extern DebugTraceState& g_debugTrace;

// Sets the kind and its settings; opens nothing. Arguments after the kind:
//   kTraceSerial:  const char* port, int baudCode (1 2400, 2 4800, 4 19200, 5 38400, else 9600)
//   kTraceUdp:     unsigned port (low 16 bits), const char* host (name or dotted IPv4)
//   kTraceLogFile: const char* logFile
// Any other kind becomes kTraceOff. Names too long for their fields are cut; a null
// name gives the default. A change of the kind or of its settings after the output was
// opened closes it, and the next line opens the new one.
void DebugTraceConfigure(int kind, ...) noexcept;

// A relative log file name is taken in this folder (a path ending in '\\'); empty or null:
// from the current folder, as given. A folder too long for its field counts as empty. A
// change closes an open log file, and the next line opens the new one.
void DebugTraceSetLogFolder(const char* folder) noexcept;
// With 1, an output that fails to open, or a write to it that fails, says so in one
// "DEBUG" box and the channel goes on with the debugger output, instead of showing every
// line in a box of its own (a stream of timer lines would lock the client in boxes). 0,
// the start value, keeps every box.
void DebugTraceSetFallBack(int fallBack) noexcept;

// A setting that names no usable output: the channel goes to the debugger output, and
// the next line first shows the text in one "DEBUG" box. Null forgets a text not shown.
void DebugTraceRejectSetting(const char* text) noexcept;

// Formats one line with printf rules (at most 1000 characters) and writes it with CR LF.
// While the output cannot be opened, the line is shown in a "DEBUG" message box instead
// (but see DebugTraceSetFallBack).
void DebugTracePrint(const char* format, ...) noexcept;

// Opens the output of the current kind, first releasing whatever an earlier opening
// holds. 0 on success; non-zero on failure, with nothing left open.
int DebugTraceOpen() noexcept;

// Writes one finished line to the open output; a failed write shows "Werror=..." in a
// "DEBUG" message box.
void DebugTraceWrite(const char* line) noexcept;
