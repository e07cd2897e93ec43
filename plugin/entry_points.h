// The ten entry points the host calls, exported under their plain names by velmora.def.
#pragma once
#include <windows.h>

extern "C" {
const char* WINAPI QPCGetPlugName();
INT_PTR WINAPI QPCVersionInfo(HWND parent);
int WINAPI QPCStartUp(DWORD unused);
void WINAPI QPCFolderCreate(HWND window);
void WINAPI QPCFolderClose(DWORD unused);
void WINAPI QPCViewCreate(HWND window);
void WINAPI QPCViewClose(DWORD unused);
void WINAPI QPCViewInitMenu(DWORD unused, DWORD unusedToo, DWORD unusedThree);
DWORD WINAPI QPCViewLoadMail(HWND view, const char* headerText, DWORD unused);
void WINAPI QPCCleanUp();
}

// The version dialog's procedure.
INT_PTR CALLBACK VersionDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
