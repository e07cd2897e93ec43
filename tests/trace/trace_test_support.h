// Helpers of the trace tests: catching "DEBUG" message boxes, counting calls through the
// program's import table, files, and child runs of the test program itself.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace tracetest {

struct CaughtBox {
    std::string caption;
    std::string text;
    int buttons;    // push buttons of the box
    bool owned;     // whether the box has an owner window
};

// Closes every dialog box of this thread as soon as it shows, and records its caption and
// text. Install before the code that may show boxes; boxes are counted from Install on.
void InstallBoxCatcher();
void RemoveBoxCatcher();
std::vector<CaughtBox> TakeCaughtBoxes();
// Expects the channel's "DEBUG" box with that text: one button, no owner.
void ExpectBox(const CaughtBox& box, const std::string& text);

// Points the program's import of dll!function at replacement; returns the function that
// was imported (for forwarding), or null when the program does not import it.
void* ReplaceImport(const char* dll, const char* function, void* replacement);

// The whole file as bytes; empty when it cannot be read. Opened with full sharing, so that
// files held open by the channel can be read.
std::string ReadFileBytes(const char* path);
void WriteFileBytes(const char* path, const std::string& bytes);
// Waits up to timeoutMs for the file to reach size bytes; returns what it holds then.
std::string WaitForFileBytes(const char* path, size_t size, DWORD timeoutMs);

// Runs this program again with the given arguments and waits for it (at most timeoutMs,
// then it is ended). Returns its exit code, or -1 when it could not run or was ended.
int RunSelf(const std::string& arguments, DWORD timeoutMs);

// Runs this program again under this process's debugger. Collects what it writes to the
// debugger output, and every exception but the initial breakpoint.
struct DebuggedRun {
    int exitCode;                          // -1 when it did not end by itself
    std::vector<std::string> debugStrings;
    std::vector<DWORD> exceptions;
};
DebuggedRun RunSelfUnderDebugger(const std::string& arguments, DWORD timeoutMs);

// A private working folder under the temporary folder, made current for the program's run.
std::string EnterScratchFolder(const char* name);

}  // namespace tracetest
