// The thread hook registry with real threads and real hooks. Whether a thread's hook runs
// shows in the trace channel: the hook procedure writes a line for every WM_TIMER sent to
// a window of its thread. A foreign WH_CALLWNDPROC hook, installed before the plug-in's
// and so called after it, shows whether messages are passed on.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "dialogfix/open_file_dialog.h"
#include "tests/support/test_support.h"
#include "tests/support/trace_log.h"
#include "tests/winhook/exit_on_crash.h"
#include "tests/winhook/foreign_hook.h"
#include "winhook/thread_hook.h"

namespace {

const char kProbeClass[] = "VelmoraThreadHookProbe";
const UINT kRunJob = WM_APP + 0x50;

LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kRunJob && lParam) {
        // A job for the window's thread, sent by the main thread.
        (*reinterpret_cast<std::function<void()>*>(lParam))();
        return 1;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateProbeWindow()
{
    static bool registered = false;
    if (!registered)
        registered = testsupport::RegisterWindowClass(kProbeClass, ProbeProc);
    return CreateWindowExA(0, kProbeClass, "probe", WS_POPUP, 0, 0, 10, 10, NULL, NULL,
                           GetModuleHandleA(NULL), NULL);
}

// ---- The trace log ----------------------------------------------------------------------

using testsupport::NewTraceText;

std::string TimerLine(HWND window, WPARAM id)
{
    char line[64];
    std::snprintf(line, sizeof line, "TIMER(%x,%x,0)\r\n",
                  static_cast<unsigned>(reinterpret_cast<UINT_PTR>(window)), static_cast<unsigned>(id));
    return line;
}

class TraceLogEnvironment : public ::testing::Environment {
public:
    void SetUp() override { testsupport::StartTraceLog("velmora_thread_hook_"); }
    void TearDown() override { testsupport::StopTraceLog(); }
};

const ::testing::Environment* const g_traceLog =
    ::testing::AddGlobalTestEnvironment(new TraceLogEnvironment);

// ---- The foreign hook: every message sent to the watched window ---------------------------

using namespace foreignhook;

// ---- Threads with message queues --------------------------------------------------------

// A thread that owns a probe window and runs, on request, jobs on its own thread.
class Worker {
public:
    Worker() : ready_(CreateEventA(NULL, TRUE, FALSE, NULL)), window_(NULL), id_(0)
    {
        thread_ = CreateThread(NULL, 0, Main, this, 0, &id_);
        WaitForSingleObject(ready_, 5000);
    }
    ~Worker()
    {
        if (window_)
            PostMessageA(window_, WM_CLOSE, 0, 0);
        PostThreadMessageA(id_, WM_QUIT, 0, 0);
        WaitForSingleObject(thread_, 5000);
        CloseHandle(thread_);
        CloseHandle(ready_);
    }
    DWORD id() const { return id_; }
    HWND window() const { return window_; }
    // Runs the job on the worker's thread and waits for it, for five seconds at most.
    bool Run(std::function<void()> job)
    {
        DWORD_PTR result = 0;
        return SendMessageTimeoutA(window_, kRunJob, 0, reinterpret_cast<LPARAM>(&job), SMTO_NORMAL,
                                   5000, &result) != 0 &&
               result == 1;
    }
    // Sends a WM_TIMER to the worker's window, as the system does not (timers are posted).
    bool SendTimer(WPARAM id)
    {
        DWORD_PTR result = 0;
        return SendMessageTimeoutA(window_, WM_TIMER, id, 0, SMTO_NORMAL, 5000, &result) != 0;
    }

private:
    static DWORD WINAPI Main(LPVOID self)
    {
        Worker* worker = static_cast<Worker*>(self);
        worker->window_ = CreateProbeWindow();
        SetEvent(worker->ready_);
        MSG message;
        while (GetMessageA(&message, NULL, 0, 0) > 0) {
            if (message.message == WM_CLOSE && message.hwnd == worker->window_) {
                DestroyWindow(worker->window_);
                continue;
            }
            DispatchMessageA(&message);
        }
        return 0;
    }
    HANDLE ready_;
    HANDLE thread_;
    HWND window_;
    DWORD id_;
};

DWORD WINAPI EndAtOnce(LPVOID)
{
    return 0;
}

std::vector<DWORD> RegistryThreadIds()
{
    std::vector<DWORD> ids;
    for (size_t i = 0; i < g_threadHookRegistry.size(); ++i)
        ids.push_back(g_threadHookRegistry[i]->threadId);
    return ids;
}

class ThreadHookTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(g_threadHookRegistry.empty());
        probe_ = CreateProbeWindow();
        ASSERT_TRUE(probe_ != NULL);
        NewTraceText();
        g_foreignSeen.clear();
        g_foreignWatched = probe_;
    }
    void TearDown() override
    {
        RemoveForeignHook();
        DestroyWindow(probe_);
        EXPECT_TRUE(g_threadHookRegistry.empty());
        g_threadHookRegistry.clear();
    }
    void InstallForeignHook()
    {
        ASSERT_TRUE(foreignhook::InstallForeignHook(0) != NULL);
    }
    HWND probe_;
};

// ---- Install and Remove on the calling thread -------------------------------------------

TEST_F(ThreadHookTest, InstalledHookSeesTheThreadsMessagesUntilRemoved)
{
    InstallForeignHook();
    DWORD thread = GetCurrentThreadId();
    ThreadHookEntry entry = {0, thread};
    EXPECT_EQ(1, entry.Install(CallWndHookProc));
    HHOOK hook = entry.hook;
    ASSERT_TRUE(hook != NULL);
    EXPECT_EQ(thread, entry.threadId);
    ASSERT_EQ(1u, g_threadHookRegistry.size());
    EXPECT_EQ(&entry, g_threadHookRegistry[0]);
    EXPECT_EQ(hook, FindThreadHook(thread));
    EXPECT_EQ(&entry, FindThreadHookEntry(thread));

    SendMessageA(probe_, WM_TIMER, 0x1a, 0);
    SendMessageA(probe_, WM_APP + 1, 0, 0);
    EXPECT_EQ(TimerLine(probe_, 0x1a), NewTraceText());
    EXPECT_EQ(std::vector<UINT>({WM_TIMER, WM_APP + 1}), g_foreignSeen);

    entry.Remove();
    EXPECT_EQ(NULL, entry.hook);
    EXPECT_EQ(0u, entry.threadId);
    EXPECT_TRUE(g_threadHookRegistry.empty());
    EXPECT_EQ(NULL, FindThreadHook(thread));
    EXPECT_EQ(NULL, FindThreadHookEntry(thread));
    // The hook is down: nothing traced, every message reaches the foreign hook.
    g_foreignSeen.clear();
    SendMessageA(probe_, WM_TIMER, 0x1b, 0);
    SendMessageA(probe_, WM_APP + 2, 0, 0);
    EXPECT_EQ("", NewTraceText());
    EXPECT_EQ(std::vector<UINT>({WM_TIMER, WM_APP + 2}), g_foreignSeen);
    EXPECT_FALSE(UnhookWindowsHookEx(hook));
}

TEST_F(ThreadHookTest, ThreadCarriesOneHookAndItsRemovalLeavesNoneBehind)
{
    InstallForeignHook();
    DWORD thread = GetCurrentThreadId();
    ThreadHookEntry first = {0, thread}, second = {0, thread};
    ASSERT_EQ(1, first.Install(CallWndHookProc));
    HHOOK hook = first.hook;
    EXPECT_EQ(0, second.Install(CallWndHookProc));
    EXPECT_EQ(NULL, second.hook);
    EXPECT_EQ(0, first.Install(CallWndHookProc));   // installing again changes nothing either
    EXPECT_EQ(hook, first.hook);
    ASSERT_EQ(1u, g_threadHookRegistry.size());
    EXPECT_EQ(&first, g_threadHookRegistry[0]);

    // One hook, so one line per timer message.
    SendMessageA(probe_, WM_TIMER, 3, 0);
    EXPECT_EQ(TimerLine(probe_, 3), NewTraceText());

    first.Remove();
    g_foreignSeen.clear();
    SendMessageA(probe_, WM_TIMER, 4, 0);
    SendMessageA(probe_, WM_APP + 3, 0, 0);
    SendMessageA(probe_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("x"));
    EXPECT_EQ("", NewTraceText());
    EXPECT_EQ(std::vector<UINT>({WM_TIMER, WM_APP + 3, WM_SETTEXT}), g_foreignSeen);

    // A later entry for the thread is installed again.
    ThreadHookEntry third = {0, thread};
    ASSERT_EQ(1, third.Install(CallWndHookProc));
    SendMessageA(probe_, WM_TIMER, 5, 0);
    EXPECT_EQ(TimerLine(probe_, 5), NewTraceText());
    third.Remove();
}

TEST_F(ThreadHookTest, FailedInstallationLeavesTheRegistryAsItWas)
{
    DWORD thread = GetCurrentThreadId();
    ThreadHookEntry live = {0, thread};
    ASSERT_EQ(1, live.Install(CallWndHookProc));

    // The identifier of a thread that has ended.
    DWORD ended = 0;
    HANDLE handle = CreateThread(NULL, 0, EndAtOnce, NULL, 0, &ended);
    ASSERT_TRUE(handle != NULL);
    WaitForSingleObject(handle, 5000);
    CloseHandle(handle);

    const DWORD bad[] = {ended, 0, 0xFFFFFFFCu};
    for (size_t i = 0; i < sizeof bad / sizeof bad[0]; ++i) {
        ThreadHookEntry entry = {0, bad[i]};
        EXPECT_EQ(0, entry.Install(CallWndHookProc)) << bad[i];
        EXPECT_EQ(NULL, entry.hook) << bad[i];
        ASSERT_EQ(1u, g_threadHookRegistry.size()) << bad[i];
        EXPECT_EQ(&live, g_threadHookRegistry[0]);
        EXPECT_EQ(NULL, FindThreadHook(bad[i])) << bad[i];
        EXPECT_EQ(NULL, FindThreadHookEntry(bad[i])) << bad[i];
    }
    EXPECT_EQ(live.hook, FindThreadHook(thread));
    live.Remove();
}

TEST_F(ThreadHookTest, RemoveOnAnEntryWithoutHookChangesNothing)
{
    InstallForeignHook();
    DWORD thread = GetCurrentThreadId();
    ThreadHookEntry live = {0, thread};
    ASSERT_EQ(1, live.Install(CallWndHookProc));
    HHOOK hook = live.hook;

    ThreadHookEntry idle = {0, thread}, blank = {0, 0};
    idle.Remove();
    blank.Remove();
    EXPECT_EQ(thread, idle.threadId);
    EXPECT_EQ(NULL, idle.hook);
    ASSERT_EQ(1u, g_threadHookRegistry.size());
    EXPECT_EQ(&live, g_threadHookRegistry[0]);
    EXPECT_EQ(hook, live.hook);
    EXPECT_EQ(thread, live.threadId);
    // The thread's hook still runs, and passes messages on.
    SendMessageA(probe_, WM_TIMER, 9, 0);
    EXPECT_EQ(TimerLine(probe_, 9), NewTraceText());
    EXPECT_EQ(std::vector<UINT>({WM_TIMER}), g_foreignSeen);
    live.Remove();
}

// ---- Several threads --------------------------------------------------------------------

TEST_F(ThreadHookTest, EntriesOfThreeThreadsAreListedByThreadId)
{
    Worker workers[3];
    std::vector<Worker*> byId;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(workers[i].window() != NULL);
        byId.push_back(&workers[i]);
    }
    std::sort(byId.begin(), byId.end(), [](Worker* a, Worker* b) { return a->id() < b->id(); });

    // Installed from the highest thread identifier, then the lowest, then the middle one,
    // each on its own thread.
    ThreadHookEntry entries[3] = {{0, 0}, {0, 0}, {0, 0}};
    const int order[3] = {2, 0, 1};
    for (int k = 0; k < 3; ++k) {
        int i = order[k];
        int installed = -1;
        ASSERT_TRUE(byId[i]->Run([&entries, &installed, i]() {
            entries[i].hook = 0;
            entries[i].threadId = GetCurrentThreadId();
            installed = entries[i].Install(CallWndHookProc);
        }));
        EXPECT_EQ(1, installed);
        EXPECT_EQ(byId[i]->id(), entries[i].threadId);
    }
    EXPECT_EQ(std::vector<DWORD>({byId[0]->id(), byId[1]->id(), byId[2]->id()}), RegistryThreadIds());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(&entries[i], g_threadHookRegistry[i]);
        EXPECT_EQ(entries[i].hook, FindThreadHook(byId[i]->id()));
        EXPECT_EQ(&entries[i], FindThreadHookEntry(byId[i]->id()));
    }
    EXPECT_EQ(NULL, FindThreadHook(byId[1]->id() + 1));
    EXPECT_EQ(NULL, FindThreadHook(byId[2]->id() + 1));
    EXPECT_EQ(NULL, FindThreadHook(byId[0]->id() - 1));
    EXPECT_EQ(NULL, FindThreadHook(GetCurrentThreadId()));
    EXPECT_EQ(NULL, FindThreadHookEntry(byId[1]->id() + 1));

    // Each hook runs on its own thread.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(byId[i]->SendTimer(0x30 + i));
        EXPECT_EQ(TimerLine(byId[i]->window(), 0x30 + i), NewTraceText()) << i;
    }
    SendMessageA(probe_, WM_TIMER, 1, 0);
    EXPECT_EQ("", NewTraceText());   // the main thread has no hook

    // The middle thread's removal leaves the others listed and hooked.
    ASSERT_TRUE(byId[1]->Run([&entries]() { entries[1].Remove(); }));
    EXPECT_EQ(std::vector<DWORD>({byId[0]->id(), byId[2]->id()}), RegistryThreadIds());
    EXPECT_EQ(NULL, FindThreadHook(byId[1]->id()));
    EXPECT_EQ(entries[2].hook, FindThreadHook(byId[2]->id()));
    ASSERT_TRUE(byId[1]->SendTimer(0x41));
    EXPECT_EQ("", NewTraceText());
    ASSERT_TRUE(byId[2]->SendTimer(0x42));
    EXPECT_EQ(TimerLine(byId[2]->window(), 0x42), NewTraceText());

    ASSERT_TRUE(byId[0]->Run([&entries]() { entries[0].Remove(); }));
    ASSERT_TRUE(byId[2]->Run([&entries]() { entries[2].Remove(); }));
    EXPECT_TRUE(g_threadHookRegistry.empty());
}

// ---- Lookup and removal over identifiers entered by hand ----------------------------------

// Hooks of the main thread that count their calls, standing for the hooks of made-up
// threads, so that Remove's unhooking can be seen.
int g_callsA, g_callsB;
LRESULT CALLBACK CountingHookA(int code, WPARAM wParam, LPARAM lParam)
{
    ++g_callsA;
    return CallNextHookEx(NULL, code, wParam, lParam);
}
LRESULT CALLBACK CountingHookB(int code, WPARAM wParam, LPARAM lParam)
{
    ++g_callsB;
    return CallNextHookEx(NULL, code, wParam, lParam);
}

TEST_F(ThreadHookTest, LookupComparesThreadIdsAsUnsignedNumbers)
{
    HHOOK hookA = SetWindowsHookExA(WH_CALLWNDPROC, CountingHookA, NULL, GetCurrentThreadId());
    HHOOK hookB = SetWindowsHookExA(WH_CALLWNDPROC, CountingHookB, NULL, GetCurrentThreadId());
    ASSERT_TRUE(hookA != NULL);
    ASSERT_TRUE(hookB != NULL);
    HHOOK fake = reinterpret_cast<HHOOK>(static_cast<UINT_PTR>(0x4321));
    ThreadHookEntry e10 = {fake, 10}, e20 = {hookA, 20}, e20b = {hookB, 20}, e30 = {fake, 30};
    ThreadHookEntry top = {fake, 0x80000010u}, last = {fake, 0xFFFFFFF0u};
    ThreadHookEntry* listed[] = {&e10, &e20, &e20b, &e30, &top, &last};
    for (size_t i = 0; i < sizeof listed / sizeof listed[0]; ++i)
        g_threadHookRegistry.push_back(listed[i]);

    EXPECT_EQ(&e10, FindThreadHookEntry(10));
    EXPECT_EQ(hookA, FindThreadHook(20));   // the first of two entries for thread 20
    EXPECT_EQ(&e20, FindThreadHookEntry(20));
    EXPECT_EQ(&e30, FindThreadHookEntry(30));
    EXPECT_EQ(&top, FindThreadHookEntry(0x80000010u));
    EXPECT_EQ(&last, FindThreadHookEntry(0xFFFFFFF0u));
    const DWORD misses[] = {0, 5, 25, 40, 0x80000000u, 0xFFFFFFFFu};
    for (size_t i = 0; i < sizeof misses / sizeof misses[0]; ++i) {
        EXPECT_EQ(NULL, FindThreadHook(misses[i])) << misses[i];
        EXPECT_EQ(NULL, FindThreadHookEntry(misses[i])) << misses[i];
    }

    // Removing one entry of thread 20 erases both, unhooks only its own hook and keeps
    // the order of the rest.
    e20.Remove();
    EXPECT_EQ(std::vector<DWORD>({10, 30, 0x80000010u, 0xFFFFFFF0u}), RegistryThreadIds());
    EXPECT_EQ(NULL, FindThreadHook(20));
    EXPECT_EQ(NULL, e20.hook);
    EXPECT_EQ(0u, e20.threadId);
    EXPECT_EQ(hookB, e20b.hook);
    EXPECT_EQ(20u, e20b.threadId);
    g_callsA = g_callsB = 0;
    SendMessageA(probe_, WM_APP + 7, 0, 0);
    EXPECT_EQ(0, g_callsA);
    EXPECT_EQ(1, g_callsB);
    EXPECT_FALSE(UnhookWindowsHookEx(hookA));
    EXPECT_TRUE(UnhookWindowsHookEx(hookB));
    g_threadHookRegistry.clear();
}

}  // namespace
