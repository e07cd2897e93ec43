#include "tests/support/trace_log.h"

#include <windows.h>

#include "tests/support/test_support.h"
#include "trace/debug_trace.h"

namespace testsupport {

namespace {

std::string g_logPath;
size_t g_logRead;

// What the file holds beyond its first `*offset` bytes; `*offset` moves to its end. Opened
// with read and write sharing, as the channel holds the file open for writing.
std::string ReadAddedBytes(const std::string& path, size_t* offset)
{
    std::string text;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    std::string all;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, NULL) && got > 0)
        all.append(buffer, got);
    CloseHandle(file);
    if (all.size() > *offset)
        text = all.substr(*offset);
    *offset = all.size();
    return text;
}

}  // namespace

void StartTraceLog(const std::string& prefix)
{
    g_logPath = TempPath(prefix, ".log");
    DebugTraceConfigure(kTraceLogFile, g_logPath.c_str());
}

void StopTraceLog()
{
    DebugTraceConfigure(kTraceOff);
    DeleteFileA(g_logPath.c_str());
}

std::string NewTraceText()
{
    return ReadAddedBytes(g_logPath, &g_logRead);
}

}  // namespace testsupport
