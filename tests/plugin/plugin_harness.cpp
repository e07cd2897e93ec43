#include "tests/plugin/plugin_harness.h"

#include <richedit.h>

#include <cstdio>
#include <vector>

namespace e2e {

namespace {

std::string ProgramDir()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string dir(path, length);
    return dir.substr(0, dir.find_last_of("\\/") + 1);
}

}  // namespace

const hostsim::Plugin& Plugin()
{
    static hostsim::Plugin plugin;
    static bool loaded = false;
    if (!loaded) {
        loaded = true;
        hostsim::RegisterHostClasses();
        if (!hostsim::LoadPlugin((ProgramDir() + "Velmora.dll").c_str(), &plugin))
            ADD_FAILURE() << "Velmora.dll could not be loaded with its ten entry points";
        else
            plugin.StartUp(0);
    }
    return plugin;
}

std::string TempDir()
{
    static std::string dir;
    if (dir.empty()) {
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        char name[64];
        std::snprintf(name, sizeof name, "velmora-e2e-%lu\\", GetCurrentProcessId());
        dir = std::string(base) + name;
        CreateDirectoryA(dir.c_str(), NULL);
    }
    return dir;
}

std::string WriteMailFile(const std::string& name, const std::string& bytes)
{
    std::string path = TempDir() + name;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    return path;
}

hostsim::ViewWindow CreateAnnouncedView(int x, int y, int width, int height)
{
    const hostsim::Plugin& plugin = Plugin();
    hostsim::ViewWindow view = hostsim::CreateViewWindow(NULL, x, y, width, height);
    ShowWindow(view.frame, SW_SHOWNORMAL);
    if (plugin.ViewCreate)
        plugin.ViewCreate(view.frame);
    hostsim::PumpMessages();
    return view;
}

int ButtonCount(HWND toolbar)
{
    return static_cast<int>(SendMessageA(toolbar, TB_BUTTONCOUNT, 0, 0));
}

TBBUTTON ButtonAt(HWND toolbar, int index)
{
    TBBUTTON button;
    ZeroMemory(&button, sizeof button);
    SendMessageA(toolbar, TB_GETBUTTON, index, reinterpret_cast<LPARAM>(&button));
    return button;
}

TBBUTTON ToggleButton(HWND toolbar)
{
    TBBUTTON found;
    ZeroMemory(&found, sizeof found);
    for (int i = 0; i < ButtonCount(toolbar); ++i) {
        TBBUTTON button = ButtonAt(toolbar, i);
        if (button.fsStyle & TBSTYLE_CHECK)
            found = button;
    }
    return found;
}

int CountSeparators(HWND toolbar)
{
    int count = 0;
    for (int i = 0; i < ButtonCount(toolbar); ++i)
        if (ButtonAt(toolbar, i).fsStyle & TBSTYLE_SEP)
            ++count;
    return count;
}

void ClickButton(HWND toolbar, int commandId)
{
    int index = static_cast<int>(SendMessageA(toolbar, TB_COMMANDTOINDEX, commandId, 0));
    RECT rect;
    ZeroMemory(&rect, sizeof rect);
    SendMessageA(toolbar, TB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&rect));
    LPARAM point = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    SendMessageA(toolbar, WM_MOUSEMOVE, 0, point);
    SendMessageA(toolbar, WM_LBUTTONDOWN, MK_LBUTTON, point);
    SendMessageA(toolbar, WM_LBUTTONUP, 0, point);
    hostsim::PumpMessages();
}

HWND UnicodePane(const hostsim::ViewWindow& view)
{
    for (HWND child = GetWindow(view.hostView, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (child != view.hostPane)
            return child;
    return NULL;
}

std::wstring WindowTextW(HWND window)
{
    int length = GetWindowTextLengthW(window);
    std::vector<wchar_t> text(static_cast<size_t>(length) + 1, L'\0');
    GetWindowTextW(window, &text[0], length + 1);
    return std::wstring(&text[0]);
}

std::wstring PaneText(HWND pane)
{
    // Asked in UTF-16 explicitly: the pane is subclassed through the ANSI functions, so
    // WM_GETTEXT from outside would come back through code page 932.
    GETTEXTLENGTHEX length;
    length.flags = GTL_DEFAULT | GTL_NUMCHARS;
    length.codepage = 1200;
    LRESULT units = SendMessageA(pane, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0);
    if (units < 0)
        return std::wstring();
    std::vector<wchar_t> text(static_cast<size_t>(units) + 1, L'\0');
    GETTEXTEX get;
    ZeroMemory(&get, sizeof get);
    get.cb = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    get.flags = GT_DEFAULT;
    get.codepage = 1200;
    SendMessageA(pane, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get), reinterpret_cast<LPARAM>(&text[0]));
    return std::wstring(&text[0]);
}

std::wstring PaneTextLf(HWND pane)
{
    std::wstring text = PaneText(pane);
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

bool Visible(HWND window)
{
    return (GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

RECT RectIn(HWND window, HWND parent)
{
    RECT rect;
    GetWindowRect(window, &rect);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::wstring Utf8ToWide(const std::string& text)
{
    int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), NULL, 0);
    std::wstring wide(static_cast<size_t>(units), L'\0');
    if (units > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], units);
    return wide;
}

}  // namespace e2e
