// The Unicode pane's text as its character positions count it.
#pragma once
#include <windows.h>

#include <string>

// The pane's whole text in UTF-16: a CR ends each paragraph, a character beyond the BMP
// counts two units. False when the control gives no text of the length it says it has.
bool ReadPaneText(HWND pane, std::wstring* text);
