// The pane's text unit, shared by every reader that writes text for the pane.
#pragma once
#include <cwchar>

// A UTF-16 code unit: wchar_t where it is 16 bits wide (Windows), so that the pane's wide
// strings take the text as it is; char16_t elsewhere.
#if WCHAR_MAX == 0xFFFF
typedef wchar_t PaneUnit;
#else
typedef char16_t PaneUnit;
#endif
