#include "tests/plugin/plugin_harness.h"

#include <vector>

namespace e2e {

namespace {
std::string g_pluginFolder;
}

void UseSettingsFile(const std::string& iniText)
{
    g_pluginFolder = testsupport::MakeTempFolder("velmora-settings-") + "\\";
    // The folder is named by the process id, which Wine gives again to a later program of
    // the session: the trace log an earlier program left there is not this one's.
    DeleteFileA((g_pluginFolder + "trace.log").c_str());
    if (!CopyFileA((testsupport::ProgramDir() + "Velmora.dll").c_str(), (g_pluginFolder + "Velmora.dll").c_str(),
                   FALSE) ||
        !testsupport::WriteBytesToFile(g_pluginFolder + "Velmora.ini", iniText))
        ADD_FAILURE() << "no plug-in folder with a settings file in " << g_pluginFolder;
}

std::string PluginFolder()
{
    return g_pluginFolder.empty() ? testsupport::ProgramDir() : g_pluginFolder;
}

const hostsim::Plugin& Plugin()
{
    static hostsim::Plugin plugin;
    static bool loaded = false;
    if (!loaded) {
        loaded = true;
        hostsim::RegisterHostClasses();
        if (!hostsim::LoadPlugin((PluginFolder() + "Velmora.dll").c_str(), &plugin))
            ADD_FAILURE() << "Velmora.dll could not be loaded with its ten entry points";
        else
            plugin.StartUp(0);
    }
    return plugin;
}

std::string TempDir()
{
    static const std::string dir = testsupport::MakeTempFolder("velmora-e2e-") + "\\";
    return dir;
}

std::string WriteMailFile(const std::string& name, const std::string& bytes)
{
    std::string path = TempDir() + name;
    testsupport::WriteBytesToFile(path, bytes);
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
    hostsim::ClickButton(toolbar, commandId);
    hostsim::PumpMessages();
}

std::wstring WindowTextW(HWND window)
{
    int length = GetWindowTextLengthW(window);
    std::vector<wchar_t> text(static_cast<size_t>(length) + 1, L'\0');
    GetWindowTextW(window, &text[0], length + 1);
    return std::wstring(&text[0]);
}

std::wstring PaneTextLf(HWND pane)
{
    return testsupport::LfLineEnds(hostsim::RichEditText(pane));
}

RECT RectIn(HWND window, HWND parent)
{
    RECT rect;
    GetWindowRect(window, &rect);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

namespace {

BOOL CALLBACK CountPane(HWND window, LPARAM count)
{
    char name[32];
    if (GetClassNameA(window, name, sizeof name) &&
        (lstrcmpiA(name, "RICHEDIT50W") == 0 || lstrcmpiA(name, "RichEdit20W") == 0))
        ++*reinterpret_cast<int*>(count);
    return TRUE;
}

// Children of every depth are enumerated too.
BOOL CALLBACK CountPaneOrChild(HWND window, LPARAM count)
{
    CountPane(window, count);
    EnumChildWindows(window, CountPane, count);
    return TRUE;
}

}  // namespace

int PaneWindowCount()
{
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), CountPaneOrChild, reinterpret_cast<LPARAM>(&count));
    return count;
}

}  // namespace e2e
