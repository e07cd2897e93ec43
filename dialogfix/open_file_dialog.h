// Repairs of the host's "ファイルを開く" window, watched through the per-thread message hook:
// a text with control characters set into its edit field is saved cleaned and put back,
// and put back once more when the field is emptied.
#pragma once
#include <windows.h>

#include "base/host_api.h"
#include "dialogfix/open_file_window.h"

extern HostCommandId g_restoreCommandId;   // RestoreEditText's identifier, set at start-up
extern HWND g_openFileDialog;       // the watched window; 0 when none is watched
extern char g_savedEditText[257];   // up to 256 text bytes and a NUL; empty: nothing saved
extern bool g_textWasCleaned;       // the saved text lost control characters
extern HWND g_restoreEdit;          // the edit control RestoreEditText writes into

// The WH_CALLWNDPROC procedure installed on every hooked thread.
LRESULT CALLBACK CallWndHookProc(int nCode, WPARAM wParam, LPARAM lParam);

// Host callback: writes the saved text into g_restoreEdit and selects it.
BOOL WINAPI RestoreEditText(HWND unused, LPARAM unusedToo);

// Copies at most maxBytes bytes of source, without bytes below 0x20, and terminates the
// copy (destination needs maxBytes + 1 bytes). True when something was dropped.
bool StripControlChars(char* destination, const char* source, int maxBytes);
