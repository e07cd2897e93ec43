// The plug-in module's instance handle: set at process attach, and the source of every
// resource of the plug-in.
#pragma once
#include <windows.h>

extern HINSTANCE g_hInstance;
