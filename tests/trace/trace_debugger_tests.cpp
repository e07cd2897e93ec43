// The debugger output, read by this program debugging a second run of itself.
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <string>
#include <vector>

#include "tests/trace/trace_test_support.h"
#include "trace/debug_trace.h"

namespace {

// A string argument that cannot be read: formatting it would fault, and the debugger sees it.
const char* const kUnreadable = reinterpret_cast<const char*>(1);

int DebuggerChild()
{
    DebugTracePrint("%s", kUnreadable);   // off until configured
    DebugTraceWrite("written while off\r\n");

    DebugTraceConfigure(kTraceDebugger);
    // The message hook's call for a timer message of window 1a2b, timer 1, no procedure.
    DebugTracePrint("TIMER(%x,%x,%x)", reinterpret_cast<HWND>(0x1a2b), static_cast<WPARAM>(1),
                    static_cast<LPARAM>(0));

    DebugTraceConfigure(7);
    DebugTracePrint("%s", kUnreadable);

    DebugTraceConfigure(kTraceDebugger);
    std::string text(1500, 'd');
    DebugTracePrint("%s", text.c_str());

    DebugTraceConfigure(-1);
    DebugTracePrint("%s", kUnreadable);
    DebugTraceWrite("written while off\r\n");
    return 0;
}

}  // namespace

TEST(TraceDebugger, LinesReachTheDebuggerOutputAndNothingWhileOff)
{
    tracetest::DebuggedRun run = tracetest::RunSelfUnderDebugger("--debugger-child", 20000);
    EXPECT_EQ(0, run.exitCode);
    EXPECT_TRUE(run.exceptions.empty()) << "first exception code " << std::hex
                                        << (run.exceptions.empty() ? 0 : run.exceptions[0]);
    std::vector<std::string> expected = {"TIMER(1a2b,1,0)\r\n", std::string(1000, 'd') + "\r\n"};
    EXPECT_EQ(expected, run.debugStrings);
}

int main(int argc, char** argv)
{
    if (argc == 2 && strcmp(argv[1], "--debugger-child") == 0)
        return DebuggerChild();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
