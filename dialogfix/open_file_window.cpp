#include "dialogfix/open_file_window.h"

#include <cstring>

const char kOpenFileTitle[] = "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x8A\x4A\x82\xAD";

bool IsOpenFileWindow(HWND window)
{
    if (!window || !IsWindow(window))
        return false;
    // Longer than the title: a longer one must not match by its first bytes.
    char title[256];
    title[0] = '\0';
    GetWindowTextA(window, title, sizeof title - 1);
    title[sizeof title - 1] = '\0';
    return std::strcmp(title, kOpenFileTitle) == 0;
}
