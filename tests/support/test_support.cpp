#include "tests/support/test_support.h"

#include <malloc.h>

#include <cstdio>
#include <vector>

namespace testsupport {

std::string ProgramDir()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string dir(path, length);
    return dir.substr(0, dir.find_last_of("\\/") + 1);
}

std::string TempPath(const std::string& prefix, const std::string& suffix)
{
    char base[MAX_PATH + 1] = {0};
    GetTempPathA(MAX_PATH, base);
    char id[16];
    std::snprintf(id, sizeof id, "%lu", static_cast<unsigned long>(GetCurrentProcessId()));
    return std::string(base) + prefix + id + suffix;
}

std::string MakeTempFolder(const std::string& prefix)
{
    std::string folder = TempPath(prefix);
    CreateDirectoryA(folder.c_str(), NULL);
    return folder;
}

bool WriteBytesToFile(const std::string& path, const std::string& bytes, size_t* written)
{
    if (written)
        *written = 0;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    size_t count = std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    if (written)
        *written = count;
    return true;
}

std::string ReadBytesFromFile(const std::string& path)
{
    std::string bytes;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return bytes;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.append(chunk, n);
    std::fclose(file);
    return bytes;
}

std::wstring Utf8ToWide(const std::string& utf8)
{
    int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), NULL, 0);
    std::wstring wide(static_cast<size_t>(units > 0 ? units : 0), L'\0');
    if (units > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], units);
    return wide;
}

std::wstring LfLineEnds(const std::wstring& text)
{
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r') {
            out += L'\n';
            if (i + 1 < text.size() && text[i + 1] == L'\n')
                ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool RegisterWindowClass(const char* className, WNDPROC procedure)
{
    WNDCLASSEXA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = procedure;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = className;
    return RegisterClassExA(&wc) != 0;
}

bool Visible(HWND window)
{
    return window && (GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

size_t CrtHeapBytes()
{
    size_t used = 0;
    _HEAPINFO info;
    info._pentry = NULL;
    while (_heapwalk(&info) == _HEAPOK)
        if (info._useflag == _USEDENTRY)
            used += info._size;
    return used;
}

}  // namespace testsupport
