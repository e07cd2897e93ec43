// Velmora.dll loaded into the stand-in host, as the host loads it, and what the tests need
// to drive it from the outside: mail files, toolbar clicks, the panes' state.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "hostsim/host_sim.h"
#include "tests/support/test_support.h"

namespace e2e {

// The plug-in, loaded and started once for the test program.
const hostsim::Plugin& Plugin();
// Before the first Plugin(): the plug-in is loaded from a folder of its own, with this
// settings file beside it.
void UseSettingsFile(const std::string& iniText);
// The folder the plug-in is loaded from, with its final '\\'.
std::string PluginFolder();

// A fresh folder for the mail files of one test program.
std::string TempDir();
// Writes bytes to a file of the temp folder and returns its path.
std::string WriteMailFile(const std::string& name, const std::string& bytes);

// A view window of the host, announced to the plug-in with QPCViewCreate.
hostsim::ViewWindow CreateAnnouncedView(int x = 0, int y = 0, int width = 640, int height = 480);

using hostsim::ButtonAt;
using hostsim::ButtonCount;
// The plug-in's toggle: the last button with the check style; idCommand 0 when none.
using hostsim::ToggleButton;
int CountSeparators(HWND toolbar);
// Presses a toolbar button with the mouse, as a user would; pumps the queue afterwards.
void ClickButton(HWND toolbar, int commandId);

// The Unicode pane of a view: the child of the host view that is not the host's pane.
using hostsim::UnicodePane;
std::wstring WindowTextW(HWND window);
// The text of a rich-edit control in UTF-16, its CR line ends turned into LF.
std::wstring PaneTextLf(HWND pane);
using testsupport::Visible;
// A window's rectangle in the client coordinates of another window.
RECT RectIn(HWND window, HWND parent);
// The thread's windows, children included, of the class of a Unicode pane.
int PaneWindowCount();

using testsupport::Utf8ToWide;

}  // namespace e2e
