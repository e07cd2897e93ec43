// The controller record of each announced window, created through the entry points the
// host calls: its first values, its registration, its release, and the thread hook that
// the destruction of any announced window takes down.
#include <gtest/gtest.h>
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "hostsim/host_sim.h"
#include "mailview/mail_view_win_hook.h"
#include "plugin/entry_points.h"
#include "tests/support/test_support.h"
#include "tests/winhook/exit_on_crash.h"
#include "tests/winhook/foreign_hook.h"
#include "winhook/thread_hook.h"
#include "winhook/win_hook.h"

namespace {

const char kClassName[] = "VelmoraRecordTest";

struct Event {
    char who;   // 'P' the window's own procedure, 'R' a release, 'E' the end of a call
    HWND window;
    UINT message;
};
std::vector<Event> g_events;
bool g_recording = true;

void Record(char who, HWND window, UINT message)
{
    if (!g_recording)
        return;
    Event event = {who, window, message};
    g_events.push_back(event);
}

bool g_destroyInside;

// The window's own procedure. WM_APP + n answers 1000 + n. While g_destroyInside is set,
// WM_SIZE, WM_COMMAND and WM_APP + 9 destroy the window from inside, as a host may do.
LRESULT CALLBACK HostLikeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE:
    case WM_COMMAND:
    case WM_APP + 9:
        if (!g_destroyInside)
            break;
        g_destroyInside = false;
        Record('P', window, message);
        DestroyWindow(window);
        Record('E', window, message);
        return message == WM_COMMAND ? 78 : 77;
    case WM_DESTROY:
    case WM_NCDESTROY:
        Record('P', window, message);
        return 0;
    }
    if (message >= WM_APP && message < WM_APP + 0x100) {
        Record('P', window, message);
        return 1000 + (message - WM_APP);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateTestWindow(HWND parent)
{
    static bool registered = false;
    if (!registered)
        registered = testsupport::RegisterWindowClass(kClassName, HostLikeProc);
    return CreateWindowExA(0, kClassName, "", parent ? WS_CHILD : WS_OVERLAPPED, 0, 0, 40, 40,
                           parent, NULL, GetModuleHandleA(NULL), NULL);
}

MailViewWinHook* RecordOf(HWND window)
{
    return static_cast<MailViewWinHook*>(FindWinHook(window));
}

// Bytes in use in the C runtime's heap, which holds every record and hook entry.
using testsupport::CrtHeapBytes;

// The process's private bytes (its commit charge; Wine reports it as the pagefile usage).
SIZE_T PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS_EX counters;
    ZeroMemory(&counters, sizeof counters);
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(),
                              reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters))
        return 0;
    return counters.PrivateUsage > counters.PagefileUsage ? counters.PrivateUsage
                                                          : counters.PagefileUsage;
}

// A foreign WH_CALLWNDPROC hook of the thread, installed before the plug-in's.
using namespace foreignhook;

class RecordTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(g_winHookRegistry.empty());
        ASSERT_TRUE(g_threadHookRegistry.empty());
        g_events.clear();
        g_recording = true;
        parent_ = CreateTestWindow(NULL);
        ASSERT_TRUE(parent_ != NULL);
    }
    void TearDown() override
    {
        RemoveForeignHook();
        DestroyWindow(parent_);
        EXPECT_TRUE(g_winHookRegistry.empty());
        EXPECT_TRUE(g_threadHookRegistry.empty());
        // Whatever a failed case left: the thread's hook must not outlive it.
        g_destroyInside = false;
        ThreadHookEntry* entry = FindThreadHookEntry(GetCurrentThreadId());
        if (entry) {
            entry->Remove();
            delete entry;
        }
    }
    HWND NewChild()
    {
        HWND window = CreateTestWindow(parent_);
        EXPECT_TRUE(window != NULL);
        return window;
    }
    HWND parent_;
};

// ---- The record -------------------------------------------------------------------------

TEST_F(RecordTest, NewRecordHoldsItsFirstValues)
{
    HWND window = reinterpret_cast<HWND>(static_cast<UINT_PTR>(0x4242));
    MailViewWinHook record(window);
    EXPECT_EQ(window, record.hwnd);
    EXPECT_EQ(NULL, record.prevWndProc);
    EXPECT_EQ(0, record.isView);
    EXPECT_EQ(0, record.isUtf8);
    EXPECT_FALSE(record.boundary.IsValid());
    EXPECT_EQ(0, record.button.iBitmap);
    EXPECT_EQ(0, record.button.idCommand);
    EXPECT_EQ(0x0C, record.button.fsState);
    EXPECT_EQ(0x02, record.button.fsStyle);
    EXPECT_EQ(0, record.button.bReserved[0]);
    EXPECT_EQ(0, record.button.bReserved[1]);
    EXPECT_EQ(0u, record.button.dwData);
    EXPECT_EQ(0, record.button.iString);
    EXPECT_EQ(NULL, record.toolbar);
    EXPECT_EQ(NULL, record.unicodePane);
    EXPECT_EQ(NULL, record.hostPane);
    EXPECT_EQ(NULL, record.hostView);
    EXPECT_EQ(NULL, record.releaseProc);
    EXPECT_EQ(0, record.useCount);
    EXPECT_FALSE(record.released);
    // Construction neither subclasses nor registers.
    EXPECT_TRUE(g_winHookRegistry.empty());
    EXPECT_EQ(NULL, FindWinHook(window));
}

TEST_F(RecordTest, AnnouncedViewsAndFoldersAreTakenOverWithTheirKind)
{
    hostsim::ViewWindow view = hostsim::CreateViewWindow(NULL, 0, 0, 400, 300);
    hostsim::FolderWindow folder = hostsim::CreateFolderWindow(NULL, 0, 0, 400, 300);
    ASSERT_TRUE(view.frame && folder.frame);
    LONG_PTR viewProc = GetWindowLongPtrA(view.frame, GWLP_WNDPROC);
    LONG_PTR folderProc = GetWindowLongPtrA(folder.frame, GWLP_WNDPROC);

    QPCViewCreate(view.frame);
    QPCFolderCreate(folder.frame);

    MailViewWinHook* viewRecord = RecordOf(view.frame);
    MailViewWinHook* folderRecord = RecordOf(folder.frame);
    ASSERT_TRUE(viewRecord != NULL);
    ASSERT_TRUE(folderRecord != NULL);
    EXPECT_EQ(2u, g_winHookRegistry.size());
    EXPECT_EQ(1, viewRecord->isView);
    EXPECT_EQ(0, folderRecord->isView);
    EXPECT_EQ(viewProc, reinterpret_cast<LONG_PTR>(viewRecord->prevWndProc));
    EXPECT_EQ(folderProc, reinterpret_cast<LONG_PTR>(folderRecord->prevWndProc));
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(SubclassWndProc), GetWindowLongPtrA(view.frame, GWLP_WNDPROC));
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(SubclassWndProc), GetWindowLongPtrA(folder.frame, GWLP_WNDPROC));
    // The rest as constructed.
    for (MailViewWinHook* record : {viewRecord, folderRecord}) {
        EXPECT_EQ(0, record->isUtf8);
        EXPECT_FALSE(record->boundary.IsValid());
        EXPECT_EQ(0x0C, record->button.fsState);
        EXPECT_EQ(NULL, record->toolbar);
        EXPECT_EQ(NULL, record->hostView);
        EXPECT_EQ(NULL, record->hostPane);
        EXPECT_EQ(NULL, record->unicodePane);
    }
    // One hook for the announcing thread.
    ASSERT_EQ(1u, g_threadHookRegistry.size());
    EXPECT_EQ(GetCurrentThreadId(), g_threadHookRegistry[0]->threadId);
    EXPECT_TRUE(g_threadHookRegistry[0]->hook != NULL);

    EXPECT_TRUE(DestroyWindow(view.frame));
    EXPECT_TRUE(DestroyWindow(folder.frame));
}

TEST_F(RecordTest, WindowThatCannotBeTakenOverKeepsNoRecord)
{
    HWND gone = NewChild();
    ASSERT_TRUE(DestroyWindow(gone));

    // The thread is hooked all the same.
    QPCFolderCreate(gone);
    EXPECT_EQ(NULL, FindWinHook(gone));
    EXPECT_TRUE(g_winHookRegistry.empty());
    EXPECT_TRUE(FindThreadHookEntry(GetCurrentThreadId()) != NULL);

    // Once the thread is hooked, a further failed announcement leaves nothing behind.
    size_t before = CrtHeapBytes();
    QPCViewCreate(gone);
    QPCFolderCreate(NULL);
    EXPECT_EQ(before, CrtHeapBytes());
    EXPECT_TRUE(g_winHookRegistry.empty());
    ASSERT_EQ(1u, g_threadHookRegistry.size());
    // No window of the thread will be destroyed through the plug-in: take the hook down
    // as that destruction would.
    ThreadHookEntry* entry = g_threadHookRegistry[0];
    entry->Remove();
    delete entry;
}

TEST_F(RecordTest, WindowAnnouncedTwiceKeepsItsFirstRecord)
{
    HWND window = NewChild();
    QPCViewCreate(window);
    MailViewWinHook* first = RecordOf(window);
    ASSERT_TRUE(first != NULL);
    size_t before = CrtHeapBytes();
    QPCFolderCreate(window);
    EXPECT_EQ(before, CrtHeapBytes());   // the second record and hook entry were freed
    EXPECT_EQ(first, RecordOf(window));
    EXPECT_EQ(1, first->isView);
    EXPECT_EQ(1u, g_winHookRegistry.size());
    EXPECT_EQ(1u, g_threadHookRegistry.size());

    g_events.clear();
    EXPECT_EQ(1001, SendMessageA(window, WM_APP + 1, 0, 0));
    ASSERT_EQ(1u, g_events.size());
    // WM_DESTROY by hand: the window gets its own procedure back, not the shared one.
    EXPECT_EQ(0, SendMessageA(window, WM_DESTROY, 0, 0));
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(HostLikeProc), GetWindowLongPtrA(window, GWLP_WNDPROC));
    EXPECT_EQ(NULL, FindWinHook(window));
    EXPECT_TRUE(g_threadHookRegistry.empty());
    EXPECT_TRUE(DestroyWindow(window));
}

// ---- The thread's hook ------------------------------------------------------------------

TEST_F(RecordTest, DestroyOfTheLastAnnouncedWindowTakesTheThreadsHookDown)
{
    DWORD thread = GetCurrentThreadId();
    ASSERT_TRUE(InstallForeignHook(WM_APP) != NULL);
    HWND folder = NewChild(), view = NewChild(), later = NewChild();
    g_foreignSeen.reserve(16);
    g_recording = false;
    size_t before = CrtHeapBytes();
    QPCFolderCreate(folder);
    QPCViewCreate(view);
    ASSERT_EQ(1u, g_threadHookRegistry.size());
    ASSERT_TRUE(FindThreadHook(thread) != NULL);

    // The view is still open: the thread keeps its hook, which keeps no message from others.
    EXPECT_TRUE(DestroyWindow(folder));
    EXPECT_TRUE(FindThreadHook(thread) != NULL);
    ASSERT_TRUE(RecordOf(view) != NULL);
    g_foreignWatched = view;
    g_foreignSeen.clear();
    EXPECT_EQ(1002, SendMessageA(view, WM_APP + 2, 0, 0));
    EXPECT_EQ(1003, SendMessageA(view, WM_APP + 3, 0, 0));
    EXPECT_EQ(std::vector<UINT>({WM_APP + 2, WM_APP + 3}), g_foreignSeen);

    // The hook goes with the last window; a later announcement hooks the thread again.
    EXPECT_TRUE(DestroyWindow(view));
    EXPECT_EQ(NULL, FindThreadHook(thread));
    EXPECT_EQ(NULL, FindThreadHookEntry(thread));
    EXPECT_TRUE(g_threadHookRegistry.empty());
    QPCFolderCreate(later);
    ASSERT_EQ(1u, g_threadHookRegistry.size());
    EXPECT_TRUE(DestroyWindow(later));
    EXPECT_TRUE(g_threadHookRegistry.empty());
    EXPECT_TRUE(g_winHookRegistry.empty());
    EXPECT_EQ(before, CrtHeapBytes());
}

// ---- Release ----------------------------------------------------------------------------

// Fills a released record with a pattern instead of freeing it: a later write into it
// shows, a later virtual call crashes.
std::vector<MailViewWinHook*> g_graveyard;
const unsigned char kPoison = 0x5A;

void PoisoningRelease(CLSWinHook* object)
{
    MailViewWinHook* record = static_cast<MailViewWinHook*>(object);
    Record('R', record->hwnd, 0);
    EXPECT_FALSE(record->boundary.IsValid());   // freed by its WM_DESTROY
    EXPECT_EQ(0, record->useCount);
    std::memset(static_cast<void*>(record), kPoison, sizeof *record);
    g_graveyard.push_back(record);
}

class RecordReleaseTest : public RecordTest {
protected:
    void TearDown() override
    {
        for (size_t i = 0; i < g_graveyard.size(); ++i) {
            const unsigned char* bytes = reinterpret_cast<const unsigned char*>(g_graveyard[i]);
            bool intact = true;
            for (size_t k = 0; k < sizeof(MailViewWinHook); ++k)
                intact = intact && bytes[k] == kPoison;
            EXPECT_TRUE(intact) << "record " << i << " written to after its release";
            ::operator delete(static_cast<void*>(g_graveyard[i]));
        }
        g_graveyard.clear();
        RecordTest::TearDown();
    }
    // Announces the window and has its record released into the graveyard.
    MailViewWinHook* Announce(HWND window, bool view)
    {
        if (view)
            QPCViewCreate(window);
        else
            QPCFolderCreate(window);
        MailViewWinHook* record = RecordOf(window);
        EXPECT_TRUE(record != NULL);
        if (record) {
            EXPECT_EQ(&ReleaseMailViewWinHook, record->releaseProc);
            record->releaseProc = PoisoningRelease;
            record->boundary.Reset(static_cast<char*>(std::malloc(32)));
            std::strcpy(record->boundary.Get(), "----=_Part_0");
        }
        return record;
    }
};

struct Expected {
    char who;
    UINT message;
};

void ExpectEvents(HWND window, const std::vector<Expected>& expected, const char* what)
{
    std::vector<Event> seen;
    for (size_t i = 0; i < g_events.size(); ++i)
        if (g_events[i].window == window)
            seen.push_back(g_events[i]);
    ASSERT_EQ(expected.size(), seen.size()) << what;
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(expected[i].who, seen[i].who) << what << ", event " << i;
        EXPECT_EQ(expected[i].message, seen[i].message) << what << ", event " << i;
    }
}

TEST_F(RecordReleaseTest, RecordIsReleasedOnceItsDestroyHasPassed)
{
    HWND window = NewChild();
    ASSERT_TRUE(Announce(window, false) != NULL);
    g_events.clear();
    EXPECT_TRUE(DestroyWindow(window));
    ExpectEvents(window, {{'P', WM_DESTROY}, {'R', 0}, {'P', WM_NCDESTROY}}, "plain destruction");
    EXPECT_EQ(1u, g_graveyard.size());
}

TEST_F(RecordReleaseTest, HostDestroyingTheWindowInsideAMessageDoesNotFreeTheRecordInUse)
{
    // WM_SIZE and the frame's layout command go to the host first, then the view's record
    // lays its pane out; a folder's record passes WM_APP + 9 on.
    struct Case {
        bool view;
        UINT message;
        WPARAM wParam;
        LRESULT result;
    };
    const Case cases[] = {
        {true, WM_SIZE, 0, 77}, {true, WM_COMMAND, 0xE800, 78}, {false, WM_APP + 9, 0, 77}};
    for (const Case& c : cases) {
        HWND window = NewChild();
        ASSERT_TRUE(Announce(window, c.view) != NULL);
        g_events.clear();
        g_destroyInside = true;
        EXPECT_EQ(c.result, SendMessageA(window, c.message, c.wParam, 0));
        EXPECT_FALSE(IsWindow(window));
        ExpectEvents(window,
                     {{'P', c.message}, {'P', WM_DESTROY}, {'P', WM_NCDESTROY}, {'E', c.message},
                      {'R', 0}},
                     "destroyed from inside");
    }
    EXPECT_EQ(3u, g_graveyard.size());
    EXPECT_TRUE(g_threadHookRegistry.empty());
}

// Thousands of windows announced and destroyed: afterwards nothing of them is held, and
// the process's memory is where it was.
TEST_F(RecordTest, ThousandsOfAnnouncedWindowsLeaveNothingBehind)
{
    const int kWarmUp = 300;
    const int kWindows = 4000;
    size_t largest = 0;
    size_t heapBefore = 0;
    SIZE_T privateBefore = 0;
    g_recording = false;
    for (int i = 0; i < kWarmUp + kWindows; ++i) {
        if (i == kWarmUp) {
            heapBefore = CrtHeapBytes();
            privateBefore = PrivateBytes();
        }
        HWND window = CreateTestWindow(parent_);
        ASSERT_TRUE(window != NULL);
        if (i % 2)
            QPCViewCreate(window);
        else
            QPCFolderCreate(window);
        if (i % 3 == 0)
            QPCFolderCreate(window);   // announced twice now and then
        ASSERT_TRUE(FindWinHook(window) != NULL);
        EXPECT_EQ(1000 + 4, SendMessageA(window, WM_APP + 4, 0, 0));
        largest = std::max(largest, g_winHookRegistry.size());
        ASSERT_TRUE(DestroyWindow(window));
    }
    EXPECT_TRUE(g_winHookRegistry.empty());
    EXPECT_TRUE(g_threadHookRegistry.empty());
    EXPECT_EQ(1u, largest);

    // A record alone takes more than 64 bytes: 4000 of them would show in both measures.
    size_t heapAfter = CrtHeapBytes();
    SIZE_T privateAfter = PrivateBytes();
    EXPECT_LE(heapAfter, heapBefore + 1024) << "C runtime heap grew from " << heapBefore;
    ASSERT_NE(0u, privateBefore);
    EXPECT_LE(privateAfter, privateBefore + 128 * 1024) << "private bytes grew from " << privateBefore;
}

}  // namespace
