// The dialog repairs on real windows of the stand-in host. The test program plays the
// host: start-up registers the two callbacks with it, a folder window and a view window
// are announced, and the host's "ファイルを開く" windows are created under them. Posted
// commands are taken from the queue and dispatched, so that the host calls the callbacks
// after the message that the hook observed.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "hostsim/host_sim.h"
#include "tests/support/trace_log.h"

namespace dialogtest {

// The major version that this program's Wine settings report.
#ifndef VELMORA_EXPECTED_MAJOR
#error "VELMORA_EXPECTED_MAJOR must be defined"
#endif
const DWORD kExpectedMajor = VELMORA_EXPECTED_MAJOR;
inline bool AlignsButtons()
{
    return kExpectedMajor >= 10;
}

struct Posted {
    HWND window;
    WPARAM wParam;
    LPARAM lParam;
};

// Dispatches every message in the thread's queue, and returns the WM_COMMAND messages
// among them, in order.
std::vector<Posted> Pump();
// Those of `posted` that carry `commandId`.
std::vector<Posted> WithCommand(const std::vector<Posted>& posted, WPARAM commandId);

std::string WindowText(HWND window);
// The selection of an edit control, as EM_GETSEL reports it.
std::pair<DWORD, DWORD> Selection(HWND edit);
// The text that the trace channel wrote since the last call.
using testsupport::NewTraceText;
// A window's rectangle relative to the window rectangle of `reference`.
RECT RectWithin(HWND window, HWND reference);

// Clears the process-wide state of the repairs, as a newly loaded library has it.
void ResetRepairState();

// A place for an open-file window of an announced window: under `parent`, as its child or
// owned by it, and the announced window that the place belongs to.
struct WatchedPlace {
    const char* what;
    HWND parent;
    bool child;
    HWND host;
};

class DialogFixTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Owned by the folder window, a child of it, a grandchild of the view window.
    std::vector<WatchedPlace> WatchedPlaces() const;

    hostsim::FolderWindow folder_;     // announced with QPCFolderCreate
    hostsim::ViewWindow view_;         // announced with QPCViewCreate
    hostsim::FolderWindow stranger_;   // a host window that was never announced
};

}  // namespace dialogtest
