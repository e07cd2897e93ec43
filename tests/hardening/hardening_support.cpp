#include "tests/hardening/hardening_support.h"

#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifdef HARDENING_LINKED
#include "plugin/entry_points.h"
#include "base/module.h"
#endif

namespace hardening {

namespace {

// ---- Guard ------------------------------------------------------------------------------

char g_caseName[256] = "(no case)";
volatile LONG g_caseDeadline;   // GetTickCount at which the case has overrun; 0 for none
volatile LONG g_caseActive;

void Report(const char* what)
{
    std::fprintf(stderr, "\n%s in case \"%s\"\n", what, g_caseName);
    std::fflush(stderr);
}

LONG WINAPI OnCrash(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    char what[96];
    std::snprintf(what, sizeof what, "crash: exception %08lx at %p",
                  static_cast<unsigned long>(record->ExceptionCode), record->ExceptionAddress);
    Report(what);
    TerminateProcess(GetCurrentProcess(), record->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

DWORD WINAPI Watchdog(LPVOID)
{
    for (;;) {
        Sleep(200);
        if (!g_caseActive)
            continue;
        LONG left = g_caseDeadline - static_cast<LONG>(GetTickCount());
        if (left < 0) {
            Report("hang: the case overran its time");
            TerminateProcess(GetCurrentProcess(), 0xDEAD);
        }
    }
}

// ---- Debug output -----------------------------------------------------------------------

volatile LONG g_debugLines;

LONG WINAPI CountDebugOutput(EXCEPTION_POINTERS* info)
{
    if (info->ExceptionRecord->ExceptionCode == DBG_PRINTEXCEPTION_C)
        InterlockedIncrement(&g_debugLines);
    return EXCEPTION_CONTINUE_SEARCH;
}

// ---- Foreign hook -----------------------------------------------------------------------

HWND g_probeWindow;
int g_probeSeen;
HHOOK g_foreignHook;

LRESULT CALLBACK ForeignHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION && lParam) {
        const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (sent->hwnd == g_probeWindow && sent->message >= WM_APP)
            ++g_probeSeen;
    }
    return CallNextHookEx(g_foreignHook, code, wParam, lParam);
}

// The identifier the host gave the callback registered at `index`, or 0.
UINT RegisteredCommand(size_t index)
{
    const std::vector<hostsim::Registration>& all = hostsim::Registrations();
    return all.size() > index ? all[index].commandId : 0;
}

BOOL CALLBACK CountChild(HWND, LPARAM count)
{
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND window, LPARAM count)
{
    ++*reinterpret_cast<int*>(count);
    EnumChildWindows(window, CountChild, count);
    return TRUE;
}

}  // namespace

// ---- Plug-in ------------------------------------------------------------------------------

namespace {
std::string g_pluginFolder;
}

void UseSettingsFile(const std::string& iniText)
{
    g_pluginFolder = testsupport::MakeTempFolder("velmora-settings-") + "\\";
    if (!CopyFileA((testsupport::ProgramDir() + "Velmora.dll").c_str(), (g_pluginFolder + "Velmora.dll").c_str(),
                   FALSE) ||
        !testsupport::WriteBytesToFile(g_pluginFolder + "Velmora.ini", iniText))
        ADD_FAILURE() << "no plug-in folder with a settings file in " << g_pluginFolder;
}

const hostsim::Plugin& Plugin()
{
    static hostsim::Plugin plugin;
    static bool ready = false;
    if (ready)
        return plugin;
    ready = true;
    hostsim::RegisterHostClasses();
#ifdef HARDENING_LINKED
    ZeroMemory(&plugin, sizeof plugin);
    plugin.module = GetModuleHandleA(NULL);
    g_hInstance = plugin.module;   // the resources are linked into this program, as into the DLL
    plugin.GetPlugName = QPCGetPlugName;
    plugin.VersionInfo = QPCVersionInfo;
    plugin.StartUp = QPCStartUp;
    plugin.FolderCreate = QPCFolderCreate;
    plugin.FolderClose = QPCFolderClose;
    plugin.ViewCreate = QPCViewCreate;
    plugin.ViewClose = QPCViewClose;
    plugin.ViewInitMenu = QPCViewInitMenu;
    plugin.ViewLoadMail = QPCViewLoadMail;
    plugin.CleanUp = QPCCleanUp;
#else
    const std::string folder = g_pluginFolder.empty() ? testsupport::ProgramDir() : g_pluginFolder;
    if (!hostsim::LoadPlugin((folder + "Velmora.dll").c_str(), &plugin)) {
        ADD_FAILURE() << "Velmora.dll could not be loaded with its ten entry points";
        return plugin;
    }
#endif
    plugin.StartUp(0);
    return plugin;
}

void InstallGuard()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    SetUnhandledExceptionFilter(OnCrash);
    HANDLE thread = CreateThread(NULL, 0, Watchdog, NULL, 0, NULL);
    if (thread)
        CloseHandle(thread);
}

DWORD TimeScale()
{
    char scale[8] = "";
    GetEnvironmentVariableA("VELMORA_TIMEOUT_SCALE", scale, sizeof scale);
    const DWORD factor = static_cast<DWORD>(std::strtoul(scale, NULL, 10));
    return factor > 1 && factor <= 100 ? factor : 1;
}

CaseScope::CaseScope(const std::string& name, DWORD budgetMs)
{
    budgetMs *= TimeScale();
    lstrcpynA(g_caseName, name.c_str(), sizeof g_caseName);
    g_caseDeadline = static_cast<LONG>(GetTickCount() + budgetMs);
    g_caseActive = 1;
}

CaseScope::~CaseScope()
{
    g_caseActive = 0;
    lstrcpynA(g_caseName, "(between cases)", sizeof g_caseName);
}

// ---- Mail files ---------------------------------------------------------------------------

std::string TempDir()
{
    static const std::string dir = testsupport::MakeTempFolder("velmora-hardening-") + "\\";
    return dir;
}

std::string WriteMailFile(const std::string& name, const std::string& bytes)
{
    std::string path = TempDir() + name;
    size_t written = 0;
    bool opened = testsupport::WriteBytesToFile(path, bytes, &written);
    EXPECT_TRUE(opened) << path;
    if (opened) {
        EXPECT_EQ(bytes.size(), written);
    }
    return path;
}

std::string WriteRepeatedFile(const std::string& name, const std::string& head,
                              const std::string& unit, size_t bytes, const std::string& tail)
{
    std::string path = TempDir() + name;
    FILE* file = std::fopen(path.c_str(), "wb");
    EXPECT_TRUE(file != NULL) << path;
    if (!file)
        return path;
    std::fwrite(head.data(), 1, head.size(), file);
    std::string chunk;
    while (chunk.size() < (1u << 20))
        chunk += unit;
    size_t written = head.size();
    while (written < bytes) {
        size_t n = bytes - written < chunk.size() ? bytes - written : chunk.size();
        // Whole units only, so that the file ends on a unit's end.
        n -= n % unit.size();
        if (n == 0)
            n = unit.size();
        std::fwrite(chunk.data(), 1, n, file);
        written += n;
    }
    std::fwrite(tail.data(), 1, tail.size(), file);
    std::fclose(file);
    return path;
}

std::string Utf8Header(const char* encoding)
{
    return std::string("From: sender@example.jp\r\nSubject: test\r\nMIME-Version: 1.0\r\n"
                       "Content-Type: text/plain; charset=UTF-8\r\n"
                       "Content-Transfer-Encoding: ") +
           encoding + "\r\n\r\n";
}

// ---- Views ----------------------------------------------------------------------------------

hostsim::ViewWindow CreateAnnouncedView()
{
    const hostsim::Plugin& plugin = Plugin();
    hostsim::ViewWindow view = hostsim::CreateViewWindow(NULL, 0, 0, 640, 480);
    if (plugin.ViewCreate && view.frame)
        plugin.ViewCreate(view.frame);
    hostsim::PumpMessages();
    return view;
}

void DestroyView(const hostsim::ViewWindow& view)
{
    if (view.frame)
        DestroyWindow(view.frame);
    hostsim::SetViewPath(view.frame, NULL);
    hostsim::PumpMessages();
}

DWORD LoadFile(const hostsim::ViewWindow& view, const std::string& path)
{
    DWORD result = hostsim::LoadMailIntoView(Plugin(), view, path.c_str());
    hostsim::PumpMessages();
    return result;
}

DWORD LoadHeader(const hostsim::ViewWindow& view, const std::string& header, const char* path)
{
    hostsim::SetViewPath(view.frame, path);
    DWORD result = Plugin().ViewLoadMail(view.frame, header.c_str(), 0);
    hostsim::PumpMessages();
    return result;
}

bool ToggleOffered(HWND toolbar)
{
    TBBUTTON button = ToggleButton(toolbar);
    return button.idCommand != 0 && !(button.fsState & TBSTATE_HIDDEN);
}

bool ToggleChecked(HWND toolbar)
{
    return (ToggleButton(toolbar).fsState & TBSTATE_CHECKED) != 0;
}

void PressToggle(const hostsim::ViewWindow& view)
{
    hostsim::ClickButton(view.toolbar, ToggleButton(view.toolbar).idCommand);
    hostsim::PumpMessages();
}

std::wstring PaneText(HWND pane)
{
    return testsupport::LfLineEnds(hostsim::RichEditText(pane));
}

double Seconds()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

UINT RestoreCommand()
{
    return RegisteredCommand(0);
}

UINT AlignCommand()
{
    return RegisteredCommand(1);
}

UINT ToggleCommand()
{
    return RegisteredCommand(2);
}

// ---- Resources -------------------------------------------------------------------------------

int ThreadWindowCount()
{
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), CountTopLevel, reinterpret_cast<LPARAM>(&count));
    return count;
}

Resources Measure()
{
    Resources r;
    ZeroMemory(&r, sizeof r);
    r.crtHeapBytes = CrtHeapBytes();

    HANDLE heaps[256];
    DWORD count = GetProcessHeaps(256, heaps);
    for (DWORD i = 0; i < count && i < 256; ++i) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry;
        ZeroMemory(&entry, sizeof entry);
        entry.lpData = NULL;
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                r.processHeapBytes += entry.cbData;
        HeapUnlock(heaps[i]);
    }

    PROCESS_MEMORY_COUNTERS counters;
    ZeroMemory(&counters, sizeof counters);
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        r.workingSet = counters.WorkingSetSize;

    r.userObjects = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    r.gdiObjects = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);

    // A GDI handle's low word indexes the handle table, and a handle without its upper
    // word names whatever object lives at that index.
    for (UINT_PTR index = 1; index < 0x10000; ++index)
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(index)) != 0)
            ++r.gdiHandles;
    // Wine answers GetGuiResources with 0. Besides windows, counted below, the USER objects
    // the plug-in makes are menus; Wine numbers USER handles 0x20, 0x22, ... in their low word.
    for (UINT_PTR index = 0x20; index < 0xFFF0; index += 2)
        if (IsMenu(reinterpret_cast<HMENU>(index)))
            ++r.menus;

    r.threadWindows = ThreadWindowCount();
    return r;
}

std::string Describe(const Resources& r)
{
    char text[256];
    std::snprintf(text, sizeof text,
                  "C heap %u B, all heaps %u B, working set %u KiB, USER %lu, GDI %lu, "
                  "GDI handles %d, menus %d, thread windows %d",
                  static_cast<unsigned>(r.crtHeapBytes), static_cast<unsigned>(r.processHeapBytes),
                  static_cast<unsigned>(r.workingSet / 1024), static_cast<unsigned long>(r.userObjects),
                  static_cast<unsigned long>(r.gdiObjects), r.gdiHandles, r.menus, r.threadWindows);
    return text;
}

// ---- Observers ---------------------------------------------------------------------------------

ForeignHook::ForeignHook() : hook_(NULL), probe_(NULL)
{
    probe_ = CreateWindowExA(0, "STATIC", "probe", WS_POPUP, 0, 0, 10, 10, NULL, NULL,
                             GetModuleHandleA(NULL), NULL);
    hook_ = SetWindowsHookExA(WH_CALLWNDPROC, ForeignHookProc, NULL, GetCurrentThreadId());
    g_foreignHook = hook_;
    g_probeWindow = probe_;
}

ForeignHook::~ForeignHook()
{
    if (hook_)
        UnhookWindowsHookEx(hook_);
    g_foreignHook = NULL;
    if (probe_)
        DestroyWindow(probe_);
    g_probeWindow = NULL;
}

int ForeignHook::Probe(int count)
{
    g_probeSeen = 0;
    for (int i = 0; i < count; ++i)
        SendMessageA(probe_, WM_APP + 1 + static_cast<UINT>(i), 0, 0);
    return g_probeSeen;
}

void StartDebugOutputCount()
{
    static bool added = false;
    if (!added)
        added = AddVectoredExceptionHandler(1, CountDebugOutput) != NULL;
}

int DebugOutputLines()
{
    return static_cast<int>(g_debugLines);
}

bool ThreadHookTracesTimers()
{
    StartDebugOutputCount();
    HWND window = CreateWindowExA(0, "STATIC", "timer", WS_POPUP, 0, 0, 10, 10, NULL, NULL,
                                  GetModuleHandleA(NULL), NULL);
    int before = DebugOutputLines();
    SendMessageA(window, WM_TIMER, 0x77, 0);
    int after = DebugOutputLines();
    DestroyWindow(window);
    return after > before;
}

}  // namespace hardening
