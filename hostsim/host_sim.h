// A stand-in for the Quillpost host, shared by the tests and the sandbox. It exports the
// host functions under their decorated names (see host_exports.cpp and the .def files made
// by CMake), builds folder, mail-view and open-file windows the way the host builds them,
// loads mail files into views, and calls the plug-in's registered callbacks when their
// commands arrive. It knows the plug-in only through its exported entry points.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <utility>
#include <vector>

namespace hostsim {

typedef BOOL(WINAPI* PluginCallback)(HWND window, LPARAM unused);

// Texts of the host's windows, in code page 932.
extern const char kOpenFileTitle[];      // "ファイルを開く"
extern const char kSaveAndOpenCaption[]; // "保存して開く(&O)"

// ---- Host functions -------------------------------------------------------------------

// The host's own list of its exported functions, in the order the plug-in binds them.
extern const char* const kExportNames[34];
// How often the plug-in called an exported function, by its decorated name.
int CallCount(const char* decoratedName);
void ResetCallCounts();

struct Registration {
    PluginCallback callback;
    LPARAM data;
    UINT commandId;
};
// Every QPARegistCallback so far, in order. Identifiers are distinct and non-zero.
const std::vector<Registration>& Registrations();
// Makes QPARegistCallback answer 0 for the next `count` calls (a host that refuses).
void RefuseNextRegistrations(int count);

// What the host does with WM_COMMAND: a registered command calls its callback with the
// window that received it. True when wParam was a plug-in command.
bool DispatchCommand(HWND window, WPARAM wParam);

// The path QPAViewGetPath answers for a view; null forgets it.
void SetViewPath(HWND view, const char* path);

// ---- Windows --------------------------------------------------------------------------

void RegisterHostClasses();

// Host commands that reached a host window (reply 32775, forward 32776, marking 32801,
// sorting 32802, trash 32782, address book 32799, and the host's own toolbar buttons).
const std::vector<std::pair<HWND, UINT> >& HostCommandLog();
void ClearHostCommandLog();

enum {
    kCommandOpenFile = 0x9F01,  // the host's toolbar button that opens "ファイルを開く"
    kCommandReply = 32775,
    kCommandForward = 32776,
    kCommandTrash = 32782,
    kCommandAddressBook = 32799,
    kCommandMarking = 32801,
    kCommandSorting = 32802,
    kCommandViewToolbar = 0xE800,
    kCommandViewStatusBar = 0xE802,
};

// The host's mail view: a frame holding a toolbar, a status bar and an "AfxFrameOrView42s"
// window whose whole client area is the host's "RichEdit20A" pane.
struct ViewWindow {
    HWND frame;
    HWND toolbar;
    HWND statusBar;
    HWND hostView;
    HWND hostPane;
};
ViewWindow CreateViewWindow(HWND owner, int x, int y, int width, int height);
ViewWindow FindViewParts(HWND frame);

// The host's folder window: a frame with a list box of mails.
struct FolderWindow {
    HWND frame;
    HWND list;
};
FolderWindow CreateFolderWindow(HWND owner, int x, int y, int width, int height);

// The host's "ファイルを開く" window, owned by (popup) or a child of `parent`.
struct OpenFileWindow {
    HWND window;
    HWND edit;
    HWND innerDialog;
    HWND button;
    HWND label;
};
// `child`: WS_CHILD of parent instead of a popup owned by it. Geometry of the inner
// dialog's label and button, relative to the inner dialog, as the host lays them out.
OpenFileWindow CreateOpenFileWindow(HWND parent, bool child, RECT labelRect, RECT buttonRect,
                                    const char* title = kOpenFileTitle);
OpenFileWindow CreateOpenFileWindow(HWND parent, bool child);

// The rest of the host, outside the stand-in: called with every WM_COMMAND that the host's
// frames do not handle themselves (list selections, menu commands of the sandbox).
typedef void (*CommandHandler)(HWND frame, WPARAM wParam, LPARAM lParam);
void SetCommandHandler(CommandHandler handler);

// Handles every message in the thread's queue, then returns.
void PumpMessages();

// ---- What a user does with the host's windows, and what the host reads back -------------

int ButtonCount(HWND toolbar);
// The toolbar button at an index (its idCommand, fsState, fsStyle, iBitmap).
TBBUTTON ButtonAt(HWND toolbar, int index);
// The last button of the toolbar with the check style: the host's own buttons are plain, so
// it is the plug-in's toggle. idCommand 0 when there is none.
TBBUTTON ToggleButton(HWND toolbar);
// Presses a toolbar button with the mouse, as a user does: onto its centre, down and up.
// The messages that this posts wait in the queue for the caller to pump.
void ClickButton(HWND toolbar, int commandId);
// What a paste into an edit control does: the text set with WM_SETTEXT, then the thread's
// queue pumped. Returns what the control holds afterwards (its first 1023 bytes).
std::string EnterText(HWND edit, const char* text);
// The first child of the host view that is not the host's pane: the plug-in's Unicode pane
// once it has made one; null before.
HWND UnicodePane(const ViewWindow& view);
// A rich-edit control's length and text in UTF-16, whatever the control's window procedure;
// the text ends its lines with CR, as the control holds them.
LRESULT RichEditLength(HWND richEdit);
std::wstring RichEditText(HWND richEdit);

// ---- Mails ----------------------------------------------------------------------------

// Splits a stored mail file: the header lines joined with LF (as the host passes them to
// QPCViewLoadMail), and the body as the host shows it in its ANSI pane: transfer encoding
// undone, charset converted to code page 932, characters outside it lost as '?'.
bool ReadMailForView(const char* path, std::string* header, std::string* ansiBody);

// ---- The plug-in ----------------------------------------------------------------------

struct Plugin {
    HMODULE module;
    const char*(WINAPI* GetPlugName)();
    INT_PTR(WINAPI* VersionInfo)(HWND parent);
    int(WINAPI* StartUp)(DWORD unused);
    void(WINAPI* FolderCreate)(HWND window);
    void(WINAPI* FolderClose)(DWORD unused);
    void(WINAPI* ViewCreate)(HWND window);
    void(WINAPI* ViewClose)(DWORD unused);
    void(WINAPI* ViewInitMenu)(DWORD, DWORD, DWORD);
    DWORD(WINAPI* ViewLoadMail)(HWND view, const char* header, DWORD unused);
    void(WINAPI* CleanUp)();
};
// Loads the DLL and looks up its ten entry points by their plain names.
bool LoadPlugin(const char* path, Plugin* plugin);

// Loads a mail file into a view as the host does: the pane's text, the path for
// QPAViewGetPath, then QPCViewLoadMail with the header. Returns its result, or 0.
DWORD LoadMailIntoView(const Plugin& plugin, const ViewWindow& view, const char* path);

}  // namespace hostsim
