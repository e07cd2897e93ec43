// The log file output: emptied by the first line of a run, CR LF line ends, printf rules,
// the 1000-character cut, failures shown in "DEBUG" boxes, and no memory allocated.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/trace/trace_test_support.h"
#include "trace/debug_trace.h"

using tracetest::CaughtBox;
using tracetest::ExpectBox;
using tracetest::ReadFileBytes;
using tracetest::TakeCaughtBoxes;

namespace {

const DWORD kChildTimeoutMs = 20000;

// A fresh start: whatever an earlier test opened is closed, and no box is pending.
void StartLog(const char* name)
{
    DebugTraceConfigure(kTraceOff);
    DebugTraceConfigure(kTraceLogFile, name);
    TakeCaughtBoxes();
}

bool FileExists(const char* path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// The child run of EachProcessRunEmptiesTheFile.
int LogRun(const char* file, const char* tag)
{
    DebugTraceConfigure(kTraceLogFile, file);
    DebugTracePrint("run %s line %d", tag, 1);
    DebugTracePrint("run %s line %d", tag, 2);
    return g_debugTrace.openState == 0 ? 0 : 3;
}

// Allocation counters, on only around the calls under test. Volatile: the compiler takes
// malloc and free for functions that touch no variable of the program.
volatile bool g_counting = false;
volatile int g_allocations = 0;
void* (*g_realMalloc)(size_t) = NULL;
void* (*g_realCalloc)(size_t, size_t) = NULL;
void* (*g_realRealloc)(void*, size_t) = NULL;
LPVOID(WINAPI* g_realHeapAlloc)(HANDLE, DWORD, SIZE_T) = NULL;

void* CountingMalloc(size_t size)
{
    if (g_counting)
        g_allocations = g_allocations + 1;
    return g_realMalloc(size);
}

void* CountingCalloc(size_t count, size_t size)
{
    if (g_counting)
        g_allocations = g_allocations + 1;
    return g_realCalloc(count, size);
}

void* CountingRealloc(void* block, size_t size)
{
    if (g_counting)
        g_allocations = g_allocations + 1;
    return g_realRealloc(block, size);
}

LPVOID WINAPI CountingHeapAlloc(HANDLE heap, DWORD flags, SIZE_T size)
{
    if (g_counting)
        g_allocations = g_allocations + 1;
    return g_realHeapAlloc(heap, flags, size);
}

}  // namespace

TEST(TraceLogFile, FirstLineEmptiesTheFileAndEveryLineEndsInCrLf)
{
    tracetest::WriteFileBytes("first.log", "an earlier run's lines\r\nmore of them\r\n");
    StartLog("first.log");
    EXPECT_EQ("an earlier run's lines\r\nmore of them\r\n", ReadFileBytes("first.log"))
        << "configuring opens nothing";

    DebugTracePrint("first %d", 1);
    EXPECT_EQ("first 1\r\n", ReadFileBytes("first.log"));
    DebugTracePrint("a\nb");   // the line's own bytes are written as they are
    DebugTracePrint("");
    DebugTracePrint("TIMER(%x,%x,%x)", 0x1a2bu, 1u, 0u);
    EXPECT_EQ("first 1\r\na\nb\r\n\r\nTIMER(1a2b,1,0)\r\n", ReadFileBytes("first.log"));
    EXPECT_TRUE(TakeCaughtBoxes().empty());
}

TEST(TraceLogFile, EachProcessRunEmptiesTheFile)
{
    DeleteFileA("runs.log");
    ASSERT_EQ(0, tracetest::RunSelf("--log-run runs.log A", kChildTimeoutMs));
    EXPECT_EQ("run A line 1\r\nrun A line 2\r\n", ReadFileBytes("runs.log"));
    ASSERT_EQ(0, tracetest::RunSelf("--log-run runs.log B", kChildTimeoutMs));
    EXPECT_EQ("run B line 1\r\nrun B line 2\r\n", ReadFileBytes("runs.log"));
}

TEST(TraceLogFile, LinesFollowPrintfRules)
{
    StartLog("printf.log");
    // Floating point, 64-bit integers and field widths: none of them wsprintfA's.
    DebugTracePrint("%.2f|%5s|%-3d|%c|%05x|%lld|%%|%s", 3.14159, "ab", 7, 'z', 0x1a2b,
                    1234567890123LL, "\x95\x5c");
    EXPECT_EQ("3.14|   ab|7  |z|01a2b|1234567890123|%|\x95\x5c\r\n", ReadFileBytes("printf.log"));
}

TEST(TraceLogFile, LongTextKeepsItsFirst1000Characters)
{
    StartLog("long.log");
    std::string x1500(1500, 'x');
    DebugTracePrint("%s", x1500.c_str());
    std::string expected = std::string(1000, 'x') + "\r\n";
    EXPECT_EQ(expected, ReadFileBytes("long.log"));

    // The cut falls inside a converted number; a text of exactly 1000 is kept whole.
    std::string y998(998, 'y');
    DebugTracePrint("%s%d", y998.c_str(), 12345);
    expected += y998 + "12\r\n";
    std::string z1000(1000, 'z');
    DebugTracePrint(z1000.c_str());
    expected += z1000 + "\r\n";
    EXPECT_EQ(expected, ReadFileBytes("long.log"));
    EXPECT_TRUE(TakeCaughtBoxes().empty());
}

TEST(TraceLogFile, PrintingAllocatesNoMemory)
{
    g_realMalloc = reinterpret_cast<void* (*)(size_t)>(
        tracetest::ReplaceImport("msvcrt.dll", "malloc", reinterpret_cast<void*>(CountingMalloc)));
    ASSERT_TRUE(g_realMalloc != NULL) << "malloc is imported from msvcrt.dll";
    g_realCalloc = reinterpret_cast<void* (*)(size_t, size_t)>(
        tracetest::ReplaceImport("msvcrt.dll", "calloc", reinterpret_cast<void*>(CountingCalloc)));
    g_realRealloc = reinterpret_cast<void* (*)(void*, size_t)>(
        tracetest::ReplaceImport("msvcrt.dll", "realloc", reinterpret_cast<void*>(CountingRealloc)));
    g_realHeapAlloc = reinterpret_cast<LPVOID(WINAPI*)(HANDLE, DWORD, SIZE_T)>(
        tracetest::ReplaceImport("kernel32.dll", "HeapAlloc", reinterpret_cast<void*>(CountingHeapAlloc)));

    // The counters count: the C runtime's own allocation goes through them.
    g_counting = true;
    void* volatile block = malloc(16);
    free(block);
    g_counting = false;
    ASSERT_EQ(1, g_allocations);
    g_allocations = 0;

    StartLog("alloc.log");
    std::string text(1500, 't');
    g_counting = true;
    DebugTracePrint("opening %d", 1);
    DebugTracePrint("%s|%d|%x|%.3f|%lld|%ls", "text", -5, 0xbeefu, 2.5, -9000000000LL, L"wide");
    DebugTracePrint("%s", text.c_str());
    g_counting = false;
    EXPECT_EQ(0, g_allocations);

    tracetest::ReplaceImport("msvcrt.dll", "malloc", reinterpret_cast<void*>(g_realMalloc));
    if (g_realCalloc)
        tracetest::ReplaceImport("msvcrt.dll", "calloc", reinterpret_cast<void*>(g_realCalloc));
    if (g_realRealloc)
        tracetest::ReplaceImport("msvcrt.dll", "realloc", reinterpret_cast<void*>(g_realRealloc));
    if (g_realHeapAlloc)
        tracetest::ReplaceImport("kernel32.dll", "HeapAlloc", reinterpret_cast<void*>(g_realHeapAlloc));

    EXPECT_EQ("opening 1\r\ntext|-5|beef|2.500|-9000000000|wide\r\n" + std::string(1000, 't') + "\r\n",
              ReadFileBytes("alloc.log"));
}

TEST(TraceLogFile, NamesAsConfiguredOrCutOrDefault)
{
    DeleteFileA("debugw.log");
    StartLog(NULL);
    DebugTracePrint("to the default file");
    EXPECT_EQ("to the default file\r\n", ReadFileBytes("debugw.log"));

    std::string kept(79, 'n');
    std::string given = kept + ".ignored";
    StartLog(given.c_str());
    DebugTracePrint("to the cut name");
    EXPECT_EQ("to the cut name\r\n", ReadFileBytes(kept.c_str()));
    EXPECT_FALSE(FileExists(given.c_str()));
    DebugTraceConfigure(kTraceOff);
    DeleteFileA(kept.c_str());
}

TEST(TraceLogFile, ReconfiguringAnOpenFileKeepsItOrSwitches)
{
    StartLog("a.log");
    DebugTracePrint("one");
    DebugTraceConfigure(kTraceLogFile, "a.log");   // unchanged: stays open, not emptied
    DebugTracePrint("two");
    EXPECT_EQ("one\r\ntwo\r\n", ReadFileBytes("a.log"));

    DebugTraceConfigure(kTraceLogFile, "b.log");
    DebugTracePrint("three");
    EXPECT_EQ("three\r\n", ReadFileBytes("b.log"));
    EXPECT_EQ("one\r\ntwo\r\n", ReadFileBytes("a.log"));
    // The first file was closed: nothing holds it against deletion any more.
    EXPECT_TRUE(DeleteFileA("a.log")) << GetLastError();
    EXPECT_FALSE(DeleteFileA("b.log")) << "the open log file is held";
    DebugTraceConfigure(kTraceOff);
    EXPECT_TRUE(DeleteFileA("b.log")) << GetLastError();
}

TEST(TraceLogFile, UnopenableFileShowsEveryLineAndEveryLineRetries)
{
    RemoveDirectoryA("later");
    StartLog("later\\t.log");
    DebugTracePrint("first %s", "try");
    DebugTracePrint("second try");
    EXPECT_EQ(-1, g_debugTrace.openState);
    std::vector<CaughtBox> boxes = TakeCaughtBoxes();
    ASSERT_EQ(2u, boxes.size());
    ExpectBox(boxes[0], "first try");
    ExpectBox(boxes[1], "second try");

    ASSERT_TRUE(CreateDirectoryA("later", NULL));
    DebugTracePrint("third try");
    EXPECT_EQ(0, g_debugTrace.openState);
    EXPECT_EQ("third try\r\n", ReadFileBytes("later\\t.log"));
    EXPECT_TRUE(TakeCaughtBoxes().empty());
    DebugTraceConfigure(kTraceOff);
}

// While set, the debugger output and the message boxes of the channel are taken here;
// otherwise they go on to the real functions (an import replaced can't be put back).
bool g_intercepting = false;
void(WINAPI* g_realOutputDebugString)(LPCSTR) = NULL;
int(WINAPI* g_realMessageBox)(HWND, LPCSTR, LPCSTR, UINT) = NULL;
std::vector<std::string> g_debuggerLines;
std::vector<std::string> g_boxTexts;

void WINAPI RecordDebuggerLine(LPCSTR line)
{
    if (!g_intercepting)
        return g_realOutputDebugString(line);
    g_debuggerLines.push_back(line ? line : "");
}

// A box during which a line comes, as the open-file window's timer sends them while a
// box's modal loop runs.
int WINAPI BoxDuringWhichALineComes(HWND owner, LPCSTR text, LPCSTR caption, UINT style)
{
    if (!g_intercepting)
        return g_realMessageBox(owner, text, caption, style);
    g_boxTexts.push_back(text ? text : "");
    if (g_boxTexts.size() < 3)   // a channel that boxes again would go on without end
        DebugTracePrint("during the box");
    return IDOK;
}

// What the plug-in's settings file adds: a folder for relative names, and one box for a
// failed opening, after which the lines go to the debugger output.
TEST(TraceLogFile, SettingsFileFolderAndFallBack)
{
    ASSERT_TRUE(CreateDirectoryA("beside", NULL) || GetLastError() == ERROR_ALREADY_EXISTS);
    DebugTraceSetLogFolder("beside\\");
    StartLog("rel.log");
    DebugTracePrint("in the folder");
    EXPECT_EQ("in the folder\r\n", ReadFileBytes("beside\\rel.log"));
    StartLog("..\\up.log");   // a relative path goes from the folder too
    DebugTracePrint("one up");
    EXPECT_EQ("one up\r\n", ReadFileBytes("up.log"));
    DeleteFileA("up.log");

    g_realOutputDebugString = reinterpret_cast<void(WINAPI*)(LPCSTR)>(tracetest::ReplaceImport(
        "kernel32.dll", "OutputDebugStringA", reinterpret_cast<void*>(RecordDebuggerLine)));
    g_realMessageBox = reinterpret_cast<int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT)>(tracetest::ReplaceImport(
        "user32.dll", "MessageBoxA", reinterpret_cast<void*>(BoxDuringWhichALineComes)));
    ASSERT_TRUE(g_realOutputDebugString && g_realMessageBox);
    DebugTraceSetFallBack(1);
    StartLog("missing\\t.log");
    g_intercepting = true;
    DebugTracePrint("line %d", 1);
    DebugTracePrint("line %d", 2);
    g_intercepting = false;
    EXPECT_EQ(std::vector<std::string>({"The trace output beside\\missing\\t.log could not be opened (error 3).\r\n"
                                        "Trace lines go to the debugger output instead."}),
              g_boxTexts);
    EXPECT_EQ(std::vector<std::string>({"during the box\r\n", "line 1\r\n", "line 2\r\n"}), g_debuggerLines);
    EXPECT_EQ(kTraceDebugger, g_debugTrace.kind);
    DebugTraceSetFallBack(0);
    DebugTraceSetLogFolder(NULL);
    DebugTraceConfigure(kTraceOff);
}

TEST(TraceLogFile, FailedWriteShowsTheErrorAndKeepsTheOutput)
{
    // A pipe stands in for the file: when its server end goes, writes fail.
    char name[80];
    snprintf(name, sizeof(name), "\\\\.\\pipe\\velmora-trace-log-%lu", GetCurrentProcessId());
    HANDLE server = CreateNamedPipeA(name, PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096,
                                     4096, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, server);
    StartLog(name);
    DebugTracePrint("through the pipe %d", 5);
    char got[64];
    DWORD gotCount = 0;
    ASSERT_TRUE(ReadFile(server, got, sizeof(got), &gotCount, NULL));
    EXPECT_EQ("through the pipe 5\r\n", std::string(got, gotCount));

    // What a write to a pipe without its server reports here.
    std::string oracleName = std::string(name) + "-oracle";
    HANDLE oracleServer = CreateNamedPipeA(oracleName.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE, 1,
                                           4096, 4096, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, oracleServer);
    HANDLE oracleClient = CreateFileA(oracleName.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, oracleClient);
    CloseHandle(oracleServer);
    DWORD oracleWritten = 99;
    ASSERT_FALSE(WriteFile(oracleClient, "x\r\n", 3, &oracleWritten, NULL));
    char expected[64];
    snprintf(expected, sizeof(expected), "Werror=%lu,%lu", GetLastError(), oracleWritten);
    CloseHandle(oracleClient);

    CloseHandle(server);
    TakeCaughtBoxes();
    DebugTracePrint("lost line");
    DebugTracePrint("also lost");   // still open: a second write error, not a new opening
    std::vector<CaughtBox> boxes = TakeCaughtBoxes();
    ASSERT_EQ(2u, boxes.size());
    ExpectBox(boxes[0], expected);
    ExpectBox(boxes[1], expected);
    EXPECT_EQ(0, g_debugTrace.openState);
    DebugTraceConfigure(kTraceOff);
}

int main(int argc, char** argv)
{
    if (argc == 4 && strcmp(argv[1], "--log-run") == 0)
        return LogRun(argv[2], argv[3]);
    testing::InitGoogleTest(&argc, argv);
    if (tracetest::EnterScratchFolder("velmora-trace-log").empty())
        return 2;
    tracetest::InstallBoxCatcher();
    int result = RUN_ALL_TESTS();
    tracetest::RemoveBoxCatcher();
    return result;
}
