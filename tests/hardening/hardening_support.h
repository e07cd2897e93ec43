// What the hardening tests share: the plug-in under test (Velmora.dll, or the same code
// linked in), a guard that turns a crash or a hang into a named failure, mail files, the
// process's resources, and observers of the thread's hooks from outside the plug-in.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "hostsim/host_sim.h"
#include "tests/support/test_support.h"

namespace hardening {

// The plug-in, loaded (or bound to the linked code) and started once for the program.
const hostsim::Plugin& Plugin();
// Before the first Plugin(): the DLL is loaded from a folder of its own, with this
// settings file beside it.
void UseSettingsFile(const std::string& iniText);

// ---- Crash and hang guard -------------------------------------------------------------

// A crash ends the program at once with its exception code and the name of the case that
// was running; a case that overruns its time does the same with exit code 0xDEAD.
void InstallGuard();
// How many times slower than the machine itself the programs run (VELMORA_TIMEOUT_SCALE:
// 10 under software emulation); 1 when unset.
DWORD TimeScale();
// Names the running case and gives it a time budget, until the scope ends.
class CaseScope {
public:
    CaseScope(const std::string& name, DWORD budgetMs);
    ~CaseScope();
    CaseScope(const CaseScope&) = delete;
    CaseScope& operator=(const CaseScope&) = delete;
};

// ---- Mail files -----------------------------------------------------------------------

std::string TempDir();
std::string WriteMailFile(const std::string& name, const std::string& bytes);
// Writes `head` and then `unit` repeated until the file holds at least `bytes` bytes.
std::string WriteRepeatedFile(const std::string& name, const std::string& head,
                              const std::string& unit, size_t bytes, const std::string& tail = "");
std::string Utf8Header(const char* encoding);

// ---- Views and their panes -------------------------------------------------------------

// A view window of the host, not shown (a shown top-level window costs Wine seconds),
// and announced with QPCViewCreate.
hostsim::ViewWindow CreateAnnouncedView();
// Destroys the view and has the host forget its path.
void DestroyView(const hostsim::ViewWindow& view);
// Loads a mail file as the host does; the result of QPCViewLoadMail.
DWORD LoadFile(const hostsim::ViewWindow& view, const std::string& path);
// Hands a header to QPCViewLoadMail with `path` as the view's mail file, as a host would
// whose file has changed under it.
DWORD LoadHeader(const hostsim::ViewWindow& view, const std::string& header, const char* path);

// The plug-in's toggle on the view's toolbar: idCommand 0 when there is none.
using hostsim::ToggleButton;
bool ToggleOffered(HWND toolbar);   // on the toolbar and not hidden
bool ToggleChecked(HWND toolbar);
using hostsim::ButtonCount;
// Presses the toggle with the mouse and pumps the queue.
void PressToggle(const hostsim::ViewWindow& view);
// The child of the host view that is not the host's pane: the Unicode pane, or null.
using hostsim::UnicodePane;
using testsupport::Visible;
// The pane's text in UTF-16, CR line ends turned into LF; its length in UTF-16 units.
std::wstring PaneText(HWND pane);
using hostsim::RichEditLength;
using testsupport::Utf8ToWide;
// Seconds on the performance counter, from an arbitrary origin.
double Seconds();

// The identifiers the host gave the plug-in's callbacks: start-up registers the restore
// and the alignment callbacks in that order, the first toggle button the toggle's.
UINT RestoreCommand();
UINT AlignCommand();
UINT ToggleCommand();

// ---- Resources --------------------------------------------------------------------------

struct Resources {
    size_t crtHeapBytes;       // busy bytes of the C runtime's heap
    size_t processHeapBytes;   // busy bytes of every heap of the process
    size_t workingSet;         // bytes
    DWORD userObjects;         // GetGuiResources; Wine answers 0
    DWORD gdiObjects;
    int gdiHandles;            // live GDI handles, counted by probing the handle table
    int menus;                 // live menus, counted by probing the USER handle table
    int threadWindows;         // windows of this thread, children included
};
Resources Measure();
using testsupport::CrtHeapBytes;
int ThreadWindowCount();
std::string Describe(const Resources& resources);

// ---- Observers --------------------------------------------------------------------------

// A WH_CALLWNDPROC hook of the test's own, installed before the plug-in's: it counts the
// messages from WM_APP on that reach its probe window. A hook of the plug-in left installed
// without its registry entry would not pass them on.
class ForeignHook {
public:
    ForeignHook();
    ~ForeignHook();
    ForeignHook(const ForeignHook&) = delete;
    ForeignHook& operator=(const ForeignHook&) = delete;
    // Sends `count` messages to the probe window; how many the hook saw.
    int Probe(int count);
    bool installed() const { return hook_ != NULL; }

private:
    HHOOK hook_;
    HWND probe_;
};

// Counts the debugger-output lines the process writes (the plug-in's trace channel is on
// the debugger output): a vectored handler sees each one as it is raised.
void StartDebugOutputCount();
int DebugOutputLines();
// Whether a plug-in hook still sees this thread's sent messages: its procedure traces
// every WM_TIMER it sees.
bool ThreadHookTracesTimers();

}  // namespace hardening
