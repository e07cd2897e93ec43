// Settings of the trace channel: kinds, baud codes, datagram port, names and their fields.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "tests/trace/trace_test_support.h"
#include "trace/debug_trace.h"

namespace {

bool FileExists(const char* path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

TEST(TraceSettings, BaudCodesFollowTheTable)
{
    const struct {
        int code;
        DWORD rate;
    } cases[] = {{1, 2400}, {2, 4800}, {3, 9600}, {4, 19200}, {5, 38400},
                 {0, 9600}, {9, 9600}, {-1, 9600}, {6, 9600}};
    for (const auto& c : cases) {
        int otherCode = c.code == 5 ? 4 : 5;   // another rate first, so that each case sets it
        DebugTraceConfigure(kTraceSerial, "COM2", otherCode);
        DebugTraceConfigure(kTraceSerial, "COM2", c.code);
        EXPECT_EQ(c.rate, g_debugTrace.baudRate) << "code " << c.code;
    }
    EXPECT_EQ(kTraceSerial, g_debugTrace.kind);
    EXPECT_STREQ("COM2", g_debugTrace.portName);
}

TEST(TraceSettings, DatagramPortKeepsItsLow16Bits)
{
    DebugTraceConfigure(kTraceUdp, 70000u, "10.0.0.1");
    EXPECT_EQ(4464, g_debugTrace.datagramPort);
    EXPECT_STREQ("10.0.0.1", g_debugTrace.hostName);
    DebugTraceConfigure(kTraceUdp, 0x12345678u, "10.0.0.1");
    EXPECT_EQ(0x5678, g_debugTrace.datagramPort);
    DebugTraceConfigure(kTraceUdp, 65535u, "10.0.0.1");
    EXPECT_EQ(65535, g_debugTrace.datagramPort);
}

TEST(TraceSettings, KindsOutsideTheTableTurnTheChannelOff)
{
    DebugTraceConfigure(kTraceOff);
    EXPECT_EQ(kTraceOff, g_debugTrace.kind);
    DebugTraceConfigure(kTraceSerial, "COM3", 3);
    EXPECT_EQ(kTraceSerial, g_debugTrace.kind);
    DebugTraceConfigure(kTraceUdp, 3000u, "127.0.0.1");
    EXPECT_EQ(kTraceUdp, g_debugTrace.kind);
    DebugTraceConfigure(kTraceLogFile, "kinds.log");
    EXPECT_EQ(kTraceLogFile, g_debugTrace.kind);
    DebugTraceConfigure(kTraceDebugger);
    EXPECT_EQ(kTraceDebugger, g_debugTrace.kind);
    const int outside[] = {7, -1, 5, 0x7fffffff};
    for (int kind : outside) {
        DebugTraceConfigure(kTraceDebugger);
        DebugTraceConfigure(kind);
        EXPECT_EQ(kTraceOff, g_debugTrace.kind) << kind;
    }

    // Once off, a configured log file is neither opened nor written.
    DeleteFileA("off.log");
    DebugTraceConfigure(kTraceLogFile, "off.log");
    DebugTraceConfigure(7);
    DebugTracePrint("printed while off");
    DebugTraceWrite("written while off\r\n");
    DebugTraceConfigure(kTraceLogFile, "off.log");
    DebugTraceConfigure(-1);
    DebugTracePrint("printed while off");
    EXPECT_FALSE(FileExists("off.log"));
    EXPECT_EQ(-1, g_debugTrace.openState);
}

TEST(TraceSettings, OffChannelFormatsNothing)
{
    // %n stores the count of characters formatted so far: it shows whether formatting ran.
    int formatted = -1;
    DebugTraceConfigure(kTraceOff);
    DebugTracePrint("abc%n", &formatted);
    EXPECT_EQ(-1, formatted);

    DebugTraceConfigure(kTraceDebugger);   // no debugger attached: the line goes nowhere
    DebugTracePrint("abc%n", &formatted);
    EXPECT_EQ(3, formatted);
    DebugTraceConfigure(kTraceOff);
}

TEST(TraceSettings, LongNamesAreCutToTheirFields)
{
    DebugTraceConfigure(kTraceSerial, "\\\\.\\COM123", 2);   // 11 characters: kept whole
    EXPECT_STREQ("\\\\.\\COM123", g_debugTrace.portName);
    DebugTraceConfigure(kTraceSerial, "\\\\.\\COM1234567890", 2);
    EXPECT_STREQ("\\\\.\\COM1234", g_debugTrace.portName);
    EXPECT_EQ(4800u, g_debugTrace.baudRate);

    DebugTraceConfigure(kTraceLogFile, "keep.log");
    std::string host(79, 'h');
    DebugTraceConfigure(kTraceUdp, 1u, (host + "overflow-overflow-overflow").c_str());
    EXPECT_EQ(host, g_debugTrace.hostName);
    EXPECT_EQ(1, g_debugTrace.datagramPort);
    EXPECT_STREQ("keep.log", g_debugTrace.logFileName);   // the next field is untouched

    std::string log(79, 'l');
    DebugTraceConfigure(kTraceLogFile, (log + std::string(40, 'x')).c_str());
    EXPECT_EQ(log, g_debugTrace.logFileName);
    DebugTraceConfigure(kTraceLogFile, log.c_str());
    EXPECT_EQ(log, g_debugTrace.logFileName);
    DebugTraceConfigure(kTraceOff);
}

TEST(TraceSettings, CutNeverSplitsADoubleByteCharacter)
{
    ASSERT_EQ(932u, GetACP()) << "the tests run with the Japanese ANSI code page";
    const std::string hyou = "\x95\x5c";   // a double-byte character whose trail byte is '\'
    std::string name(78, 'a');
    DebugTraceConfigure(kTraceLogFile, (name + hyou).c_str());   // 80 bytes: no room for it
    EXPECT_EQ(name, g_debugTrace.logFileName);

    name.assign(77, 'a');
    DebugTraceConfigure(kTraceLogFile, (name + hyou + "z").c_str());   // 79 bytes with it
    EXPECT_EQ(name + hyou, g_debugTrace.logFileName);

    DebugTraceConfigure(kTraceSerial, ("COM" + std::string(7, '9') + hyou).c_str(), 3);
    EXPECT_EQ("COM" + std::string(7, '9'), g_debugTrace.portName);
    DebugTraceConfigure(kTraceOff);
}

TEST(TraceSettings, NullNamesGiveTheDefaults)
{
    DebugTraceConfigure(kTraceSerial, "COM8", 1);
    DebugTraceConfigure(kTraceSerial, static_cast<const char*>(NULL), 1);
    EXPECT_STREQ("COM1", g_debugTrace.portName);
    DebugTraceConfigure(kTraceUdp, 5u, "192.168.0.1");
    DebugTraceConfigure(kTraceUdp, 5u, static_cast<const char*>(NULL));
    EXPECT_STREQ("127.0.0.1", g_debugTrace.hostName);
    DebugTraceConfigure(kTraceLogFile, "other.log");
    DebugTraceConfigure(kTraceLogFile, static_cast<const char*>(NULL));
    EXPECT_STREQ("debugw.log", g_debugTrace.logFileName);
    DebugTraceConfigure(kTraceOff);
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (tracetest::EnterScratchFolder("velmora-trace-settings").empty())
        return 2;
    return RUN_ALL_TESTS();
}
