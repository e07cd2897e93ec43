// The serial output, on a pseudo-terminal that scripts/run-with-serial-pty maps to a COM
// port; what reaches its other end is collected in a file. Also a port that cannot be
// opened, played by a named pipe (a pipe is no serial port).
#include <gtest/gtest.h>
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/trace/trace_test_support.h"
#include "trace/debug_trace.h"

using tracetest::CaughtBox;
using tracetest::ExpectBox;
using tracetest::TakeCaughtBoxes;

namespace {

const DWORD kArrivalTimeoutMs = 3000;

struct PtyPort {
    const char* name;      // "COMn"
    const char* capture;   // Windows path of the file with the bytes received
};

PtyPort PortFromEnvironment()
{
    PtyPort port = {getenv("VELMORA_SERIAL_PORT"), getenv("VELMORA_SERIAL_CAPTURE")};
    return port;
}

#define ASSERT_PTY_PORT(port)                                                             \
    ASSERT_TRUE((port).name != NULL && (port).capture != NULL)                            \
        << "VELMORA_SERIAL_PORT and VELMORA_SERIAL_CAPTURE are unset: run the program "   \
           "through scripts/run-with-serial-pty"

DCB ReadState(HANDLE port)
{
    DCB dcb;
    memset(&dcb, 0, sizeof(dcb));
    dcb.DCBlength = sizeof(dcb);
    EXPECT_TRUE(GetCommState(port, &dcb)) << GetLastError();
    return dcb;
}

// Puts settings on the port that the channel has to change, or has to leave alone. Only
// members that survive a pseudo-terminal: Linux forces 8 data bits without parity on it,
// and Wine derives the modem-line and error members from lines that it lacks.
DCB PrepareUnlikeTheChannel(const char* name)
{
    DCB dcb;
    memset(&dcb, 0, sizeof(dcb));
    HANDLE port = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_NE(INVALID_HANDLE_VALUE, port) << GetLastError();
    if (port == INVALID_HANDLE_VALUE)
        return dcb;
    dcb = ReadState(port);
    dcb.BaudRate = 4800;
    dcb.StopBits = TWOSTOPBITS;
    dcb.fOutxCtsFlow = 0;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = 1;
    dcb.fInX = 1;
    dcb.XonChar = 0x01;
    dcb.XoffChar = 0x02;
    dcb.EofChar = 0x03;
    EXPECT_TRUE(SetCommState(port, &dcb)) << GetLastError();
    dcb = ReadState(port);
    CloseHandle(port);
    return dcb;
}

class TraceSerial : public testing::Test {
protected:
    void SetUp() override
    {
        DebugTraceConfigure(kTraceOff);
        tracetest::InstallBoxCatcher();
    }
    void TearDown() override
    {
        DebugTraceConfigure(kTraceOff);
        tracetest::RemoveBoxCatcher();
    }
};

}  // namespace

TEST_F(TraceSerial, LinesReachThePortWithItsSettings)
{
    PtyPort port = PortFromEnvironment();
    ASSERT_PTY_PORT(port);
    DCB before = PrepareUnlikeTheChannel(port.name);
    ASSERT_EQ(4800u, before.BaudRate);
    ASSERT_EQ(TWOSTOPBITS, before.StopBits);
    ASSERT_EQ(0u, before.fOutxCtsFlow);
    ASSERT_EQ(1u, before.fOutX);
    ASSERT_EQ(1u, before.fInX);
    ASSERT_EQ(0x01, before.XonChar);
    ASSERT_EQ(0x02, before.XoffChar);
    ASSERT_EQ(0x03, before.EofChar);
    size_t offset = tracetest::ReadFileBytes(port.capture).size();

    DebugTraceConfigure(kTraceSerial, port.name, 4);
    DebugTracePrint("serial %d", 1);
    DebugTracePrint("two\nlines");
    ASSERT_EQ(0, g_debugTrace.openState);
    std::string expected = "serial 1\r\ntwo\nlines\r\n";
    std::string got = tracetest::WaitForFileBytes(port.capture, offset + expected.size(), kArrivalTimeoutMs);
    EXPECT_EQ(expected, got.substr(offset));

    DCB dcb = ReadState(g_debugTrace.handle.Get());
    EXPECT_EQ(19200u, dcb.BaudRate);
    EXPECT_EQ(ONESTOPBIT, dcb.StopBits);
    EXPECT_EQ(1u, dcb.fOutxCtsFlow);
    EXPECT_EQ(0u, dcb.fOutX);
    EXPECT_EQ(0u, dcb.fInX);
    // Kept as the port had them.
    EXPECT_EQ(before.XonChar, dcb.XonChar);
    EXPECT_EQ(before.XoffChar, dcb.XoffChar);
    EXPECT_EQ(before.EofChar, dcb.EofChar);

    COMMTIMEOUTS timeouts;
    memset(&timeouts, 0, sizeof(timeouts));
    ASSERT_TRUE(GetCommTimeouts(g_debugTrace.handle.Get(), &timeouts));
    EXPECT_EQ(MAXDWORD, timeouts.ReadIntervalTimeout);
    EXPECT_EQ(0u, timeouts.ReadTotalTimeoutMultiplier);
    EXPECT_EQ(0u, timeouts.ReadTotalTimeoutConstant);
    EXPECT_EQ(0u, timeouts.WriteTotalTimeoutMultiplier);
    EXPECT_EQ(2000u, timeouts.WriteTotalTimeoutConstant);

    DWORD mask = 0;
    ASSERT_TRUE(GetCommMask(g_debugTrace.handle.Get(), &mask));
    EXPECT_EQ(static_cast<DWORD>(EV_RXCHAR), mask);
    EXPECT_TRUE(TakeCaughtBoxes().empty());
}

TEST_F(TraceSerial, ChangedRateReopensThePort)
{
    PtyPort port = PortFromEnvironment();
    ASSERT_PTY_PORT(port);
    size_t offset = tracetest::ReadFileBytes(port.capture).size();

    DebugTraceConfigure(kTraceSerial, port.name, 5);
    DebugTracePrint("fast");
    EXPECT_EQ(38400u, ReadState(g_debugTrace.handle.Get()).BaudRate);
    // Opening the port again purges what it has not sent yet: the line must be out first.
    tracetest::WaitForFileBytes(port.capture, offset + 6, kArrivalTimeoutMs);
    DebugTraceConfigure(kTraceSerial, port.name, 1);
    DebugTracePrint("slow");
    ASSERT_EQ(0, g_debugTrace.openState);
    EXPECT_EQ(2400u, ReadState(g_debugTrace.handle.Get()).BaudRate);

    std::string expected = "fast\r\nslow\r\n";
    std::string got = tracetest::WaitForFileBytes(port.capture, offset + expected.size(), kArrivalTimeoutMs);
    EXPECT_EQ(expected, got.substr(offset));
    EXPECT_TRUE(TakeCaughtBoxes().empty());
}

TEST_F(TraceSerial, PortThatCannotBeOpenedShowsEveryLineAndEveryLineRetries)
{
    const char kPipe[] = "\\\\.\\pipe\\vs";   // fits the 11 characters of a port name
    DebugTraceConfigure(kTraceSerial, kPipe, 3);
    TakeCaughtBoxes();

    DebugTracePrint("line %d", 1);   // nothing by that name yet

    HANDLE server = CreateNamedPipeA(kPipe, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED |
                                                FILE_FLAG_FIRST_PIPE_INSTANCE,
                                     PIPE_TYPE_BYTE, 1, 512, 512, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, server) << GetLastError();
    HANDLE connected = CreateEventA(NULL, TRUE, FALSE, NULL);
    ASSERT_TRUE(connected != NULL);
    for (int line = 2; line <= 3; ++line) {
        OVERLAPPED overlapped;
        memset(&overlapped, 0, sizeof(overlapped));
        ResetEvent(connected);
        overlapped.hEvent = connected;
        ASSERT_FALSE(ConnectNamedPipe(server, &overlapped));
        ASSERT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());

        DebugTracePrint("line %d", line);

        // The line tried to open the port: it reached the pipe ...
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(connected, 0)) << "line " << line;
        DWORD ignored = 0;
        GetOverlappedResult(server, &overlapped, &ignored, FALSE);
        // ... and, the pipe being no port, closed it again.
        DWORD available = 0;
        EXPECT_FALSE(PeekNamedPipe(server, NULL, 0, NULL, &available, NULL)) << "line " << line;
        EXPECT_EQ(static_cast<DWORD>(ERROR_BROKEN_PIPE), GetLastError()) << "line " << line;
        DisconnectNamedPipe(server);
    }
    CloseHandle(connected);
    CloseHandle(server);

    DebugTracePrint("line %d", 4);
    EXPECT_EQ(-1, g_debugTrace.openState);
    EXPECT_FALSE(g_debugTrace.handle.IsValid());
    std::vector<CaughtBox> boxes = TakeCaughtBoxes();
    ASSERT_EQ(4u, boxes.size());
    for (int i = 0; i < 4; ++i)
        ExpectBox(boxes[i], "line " + std::to_string(i + 1));
}
