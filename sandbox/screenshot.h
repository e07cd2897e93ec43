// Screenshots of the sandbox's windows, written as PNG files.
#pragma once
#include <windows.h>

// Captures the window's client area from the screen and writes it as a PNG file.
bool SaveWindowPng(HWND window, const char* path);
