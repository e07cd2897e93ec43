// Re-centring of the "保存して開く(&O)" button against its label on Windows 10 and later.
#pragma once
#include <windows.h>

#include "base/host_api.h"

// The caption of the button, in code page 932: "保存して開く(&O)".
extern const char kSaveAndOpenCaption[];

extern HostCommandId g_alignCommandId;   // AlignSaveAndOpen's identifier, set at start-up
extern HWND g_alignDialog;   // the window whose button the next AlignSaveAndOpen moves

// 1 and the major version when RtlGetVersion could be asked; 0 otherwise.
int GetOsVersionInfo(DWORD* majorVersion);

// Called by the hook for a newly watched window: on version 10 and later, has the host
// call AlignSaveAndOpen once the window's creation is over.
void RequestButtonAlignment(HWND window);

// Host callback: moves the button so that its centre is level with the label's.
BOOL WINAPI AlignSaveAndOpen(HWND unused, LPARAM unusedToo);
