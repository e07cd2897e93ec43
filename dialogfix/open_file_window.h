// The host's "ファイルを開く" window as both repairs recognise it.
#pragma once
#include <windows.h>

// The title of the watched window, in code page 932: "ファイルを開く".
extern const char kOpenFileTitle[];

// Whether the window exists and is titled as the open-file window: a remembered handle
// that Windows has given to another window since, or a window that has gone, must not be
// acted on.
bool IsOpenFileWindow(HWND window);
