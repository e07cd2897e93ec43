// The subclass registry on real windows: a window procedure that records what it receives
// stands for the host's procedure, a recording handler for the plug-in's object, and the
// recorded sequences are compared with what each case expects.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/support/trace_log.h"
#include "tests/winhook/exit_on_crash.h"
#include "winhook/win_hook.h"

namespace {

const char kClassName[] = "VelmoraRegistryTest";

enum Who { kHandler = 'H', kPrevious = 'P', kReleased = 'R', kNote = 'N' };

struct Event {
    char who;
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

std::vector<Event> g_events;
bool g_recording = true;

void Record(char who, HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    if (!g_recording)
        return;
    Event event = {who, window, message, wParam, lParam};
    g_events.push_back(event);
}

// What the previous procedure saw while it handled WM_DESTROY.
LONG_PTR g_procAtPreviousDestroy;
CLSWinHook* g_objectAtPreviousDestroy;

// The window's own procedure: answers WM_APP + n with 1000 + n and WM_DESTROY with 0x1234.
LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Record(kPrevious, window, message, wParam, lParam);
    if (message >= WM_APP && message < WM_APP + 0x100)
        return 1000 + (message - WM_APP);
    if (message == WM_DESTROY) {
        g_procAtPreviousDestroy = GetWindowLongPtrA(window, GWLP_WNDPROC);
        g_objectAtPreviousDestroy = FindWinHook(window);
        return 0x1234;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// A handler that records every message and does what the case asks of it.
class RecordingWinHook : public CLSWinHook {
public:
    explicit RecordingWinHook(HWND window) : CLSWinHook(window), canary(kCanary) {}

    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) override
    {
        Record(kHandler, hwnd, message, wParam, lParam);
        *handled = FALSE;
        if (react)
            return react(this, message, wParam, lParam, handled);
        return 0;
    }

    static constexpr unsigned kCanary = 0xC0FFEE42u;
    std::function<LRESULT(RecordingWinHook*, UINT, WPARAM, LPARAM, BOOL*)> react;
    unsigned canary;
};

HWND CreateTestWindow(HWND parent = NULL)
{
    static bool registered = false;
    if (!registered)
        registered = testsupport::RegisterWindowClass(kClassName, RecordingProc);
    DWORD style = parent ? WS_CHILD : WS_OVERLAPPED;
    return CreateWindowExA(0, kClassName, "test", style, 0, 0, 50, 50, parent, NULL,
                           GetModuleHandleA(NULL), NULL);
}

DWORD Key(HWND window)
{
    return static_cast<DWORD>(reinterpret_cast<UINT_PTR>(window));
}

HWND FakeHandle(DWORD value)
{
    return reinterpret_cast<HWND>(static_cast<UINT_PTR>(value));
}

std::vector<DWORD> RegistryKeys()
{
    std::vector<DWORD> keys;
    for (size_t i = 0; i < g_winHookRegistry.size(); ++i)
        keys.push_back(Key(g_winHookRegistry[i]->hwnd));
    return keys;
}

struct Expected {
    char who;
    HWND window;
    UINT message;
};

// The recorded events restricted to the given messages, compared with a table.
void ExpectSequence(const std::vector<Expected>& expected, const std::vector<UINT>& messages,
                    const char* what)
{
    std::vector<Event> seen;
    for (size_t i = 0; i < g_events.size(); ++i) {
        const Event& e = g_events[i];
        if (e.who == kReleased || e.who == kNote ||
            std::find(messages.begin(), messages.end(), e.message) != messages.end())
            seen.push_back(e);
    }
    size_t n = std::max(seen.size(), expected.size());
    for (size_t i = 0; i < n; ++i) {
        if (i >= seen.size()) {
            ADD_FAILURE() << what << ": missing event " << i << ": " << expected[i].who << " 0x"
                          << std::hex << expected[i].message;
            continue;
        }
        if (i >= expected.size()) {
            ADD_FAILURE() << what << ": unexpected event " << i << ": " << seen[i].who << " 0x"
                          << std::hex << seen[i].message;
            continue;
        }
        EXPECT_EQ(expected[i].who, seen[i].who) << what << ", event " << i;
        EXPECT_EQ(expected[i].window, seen[i].window) << what << ", event " << i;
        EXPECT_EQ(expected[i].message, seen[i].message) << what << ", event " << i;
    }
}

// Each case starts with an empty registry and leaves one.
class WinHookTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(g_winHookRegistry.empty());
        g_events.clear();
        g_recording = true;
    }
    void TearDown() override
    {
        // A case that stopped early may leave objects of its own frame listed: they must
        // not see the destruction.
        EXPECT_TRUE(g_winHookRegistry.empty());
        g_winHookRegistry.clear();
        for (size_t i = 0; i < windows_.size(); ++i) {
            if (!IsWindow(windows_[i]))
                continue;
            if (GetWindowLongPtrA(windows_[i], GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(SubclassWndProc))
                SetWindowLongPtrA(windows_[i], GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingProc));
            DestroyWindow(windows_[i]);
        }
    }
    HWND NewWindow(HWND parent = NULL)
    {
        HWND window = CreateTestWindow(parent);
        EXPECT_TRUE(window != NULL);
        windows_.push_back(window);
        return window;
    }
    std::vector<HWND> windows_;
};

// ---- Order and lookup -----------------------------------------------------------------

TEST_F(WinHookTest, SubclassedWindowsAreListedInAscendingHandleOrder)
{
    HWND parent = NewWindow();
    std::vector<HWND> handles;
    for (int i = 0; i < 3; ++i)
        handles.push_back(NewWindow(parent));
    std::sort(handles.begin(), handles.end(), [](HWND a, HWND b) { return Key(a) < Key(b); });

    // Subclassed highest first, then lowest, then the middle one.
    RecordingWinHook high(handles[2]), low(handles[0]), middle(handles[1]);
    ASSERT_EQ(1, high.Subclass());
    ASSERT_EQ(1, low.Subclass());
    ASSERT_EQ(1, middle.Subclass());

    std::vector<DWORD> expected;
    expected.push_back(Key(handles[0]));
    expected.push_back(Key(handles[1]));
    expected.push_back(Key(handles[2]));
    EXPECT_EQ(expected, RegistryKeys());
    ASSERT_EQ(3u, g_winHookRegistry.size());
    EXPECT_EQ(&low, g_winHookRegistry[0]);
    EXPECT_EQ(&middle, g_winHookRegistry[1]);
    EXPECT_EQ(&high, g_winHookRegistry[2]);

    EXPECT_EQ(&low, FindWinHook(handles[0]));
    EXPECT_EQ(&middle, FindWinHook(handles[1]));
    EXPECT_EQ(&high, FindWinHook(handles[2]));
    EXPECT_EQ(NULL, FindWinHook(parent));
    EXPECT_EQ(NULL, FindWinHook(NULL));
    EXPECT_EQ(NULL, FindWinHook(FakeHandle(Key(handles[1]) + 1)));
    EXPECT_EQ(NULL, FindWinHook(FakeHandle(Key(handles[2]) + 1)));
    EXPECT_EQ(NULL, FindWinHook(FakeHandle(Key(handles[0]) - 1)));

    // Leaving keeps the others in their order.
    middle.Unsubclass();
    expected.erase(expected.begin() + 1);
    EXPECT_EQ(expected, RegistryKeys());
    EXPECT_EQ(NULL, FindWinHook(handles[1]));
    EXPECT_EQ(&high, FindWinHook(handles[2]));
    low.Unsubclass();
    high.Unsubclass();
}

// Handles of real windows cannot be chosen; objects for made-up handles, entered by hand
// in the order that Subclass keeps, test the lookup over the whole range of keys.
TEST_F(WinHookTest, LookupComparesHandlesAsUnsignedNumbers)
{
    CLSWinHook a(FakeHandle(0x100)), b(FakeHandle(0x200)), c(FakeHandle(0x300));
    CLSWinHook top(FakeHandle(0x80000100)), last(FakeHandle(0xFFFFFF00));
    g_winHookRegistry.push_back(&a);
    g_winHookRegistry.push_back(&b);
    g_winHookRegistry.push_back(&c);
    g_winHookRegistry.push_back(&top);
    g_winHookRegistry.push_back(&last);

    EXPECT_EQ(&a, FindWinHook(FakeHandle(0x100)));
    EXPECT_EQ(&b, FindWinHook(FakeHandle(0x200)));
    EXPECT_EQ(&c, FindWinHook(FakeHandle(0x300)));
    EXPECT_EQ(&top, FindWinHook(FakeHandle(0x80000100)));
    EXPECT_EQ(&last, FindWinHook(FakeHandle(0xFFFFFF00)));
    EXPECT_EQ(NULL, FindWinHook(FakeHandle(0x250)));
    EXPECT_EQ(NULL, FindWinHook(FakeHandle(0x400)));
    EXPECT_EQ(NULL, FindWinHook(FakeHandle(0x50)));
    EXPECT_EQ(NULL, FindWinHook(FakeHandle(0x80000000)));
    EXPECT_EQ(NULL, FindWinHook(FakeHandle(0xFFFFFFFF)));
    g_winHookRegistry.clear();
}

TEST_F(WinHookTest, SubclassSortsAmongHandlesWithAndWithoutTheTopBit)
{
    CLSWinHook low(FakeHandle(0x10)), top(FakeHandle(0x80000010)), topper(FakeHandle(0xF0000000));
    g_winHookRegistry.push_back(&low);
    g_winHookRegistry.push_back(&top);
    g_winHookRegistry.push_back(&topper);

    HWND parent = NewWindow();
    HWND first = NewWindow(parent), second = NewWindow(parent);
    if (Key(first) < Key(second))
        std::swap(first, second);
    RecordingWinHook one(first), two(second);
    ASSERT_EQ(1, one.Subclass());
    ASSERT_EQ(1, two.Subclass());

    // A real handle lies between 0x10 and the handles with the top bit set.
    std::vector<DWORD> expected;
    expected.push_back(0x10);
    expected.push_back(Key(second));
    expected.push_back(Key(first));
    expected.push_back(0x80000010);
    expected.push_back(0xF0000000);
    EXPECT_EQ(expected, RegistryKeys());
    EXPECT_EQ(&one, FindWinHook(first));
    EXPECT_EQ(&two, FindWinHook(second));
    EXPECT_EQ(&top, FindWinHook(FakeHandle(0x80000010)));

    one.Unsubclass();
    expected.erase(expected.begin() + 2);
    EXPECT_EQ(expected, RegistryKeys());
    two.Unsubclass();
    expected.erase(expected.begin() + 1);
    EXPECT_EQ(expected, RegistryKeys());
    g_winHookRegistry.clear();
}

// ---- Messages -------------------------------------------------------------------------

// The same operations on a subclassed window and on its untouched twin: the previous
// procedure sees the same messages, and every call has the same result.
TEST_F(WinHookTest, BaseObjectPassesEveryMessageOnWithThePreviousResults)
{
    HWND parent = NewWindow();
    HWND plain = NewWindow(parent);
    HWND hooked = NewWindow(parent);
    CLSWinHook object(hooked);
    ASSERT_EQ(1, object.Subclass());
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(SubclassWndProc), GetWindowLongPtrA(hooked, GWLP_WNDPROC));
    EXPECT_EQ(reinterpret_cast<WNDPROC>(RecordingProc), object.prevWndProc);

    std::vector<std::vector<LRESULT> > results(2);
    std::vector<std::vector<Event> > seen(2);
    HWND windows[2] = {plain, hooked};
    for (int k = 0; k < 2; ++k) {
        g_events.clear();
        HWND w = windows[k];
        std::vector<LRESULT>& r = results[k];
        r.push_back(SendMessageA(w, WM_APP + 1, 11, 12));
        r.push_back(SendMessageA(w, WM_APP + 2, 0, 0));
        r.push_back(SetWindowTextA(w, "changed"));
        char text[32] = {0};
        r.push_back(GetWindowTextA(w, text, sizeof text));
        EXPECT_STREQ("changed", text);
        r.push_back(MoveWindow(w, 5, 6, 70, 80, TRUE));
        r.push_back(ShowWindow(w, SW_SHOW));
        r.push_back(ShowWindow(w, SW_HIDE));
        r.push_back(SendMessageA(w, WM_GETTEXTLENGTH, 0, 0));
        r.push_back(SendMessageA(w, WM_USER + 7, 0, 0));
        seen[k] = g_events;
    }
    EXPECT_EQ(results[0], results[1]);
    EXPECT_EQ(1001, results[1][0]);
    EXPECT_EQ(1002, results[1][1]);
    EXPECT_EQ(7, results[1][7]);

    // The previous procedure's view, window handles aside.
    ASSERT_EQ(seen[0].size(), seen[1].size());
    for (size_t i = 0; i < seen[0].size(); ++i) {
        EXPECT_EQ(seen[0][i].message, seen[1][i].message) << i;
        EXPECT_EQ(seen[0][i].wParam, seen[1][i].wParam) << i;
    }

    RECT a, b;
    GetWindowRect(plain, &a);
    GetWindowRect(hooked, &b);
    EXPECT_TRUE(EqualRect(&a, &b));

    // Destruction as well: the same messages, and the window has its procedure back.
    for (int k = 0; k < 2; ++k) {
        g_events.clear();
        EXPECT_TRUE(DestroyWindow(windows[k]));
        seen[k] = g_events;
    }
    ASSERT_EQ(seen[0].size(), seen[1].size());
    for (size_t i = 0; i < seen[0].size(); ++i)
        EXPECT_EQ(seen[0][i].message, seen[1][i].message) << i;
    EXPECT_EQ(NULL, FindWinHook(hooked));
    EXPECT_EQ(NULL, object.prevWndProc);
}

TEST_F(WinHookTest, HandlerSeesEachMessageFirstAndHandledKeepsItFromThePreviousProcedure)
{
    HWND window = NewWindow(NewWindow());
    RecordingWinHook object(window);
    object.react = [](RecordingWinHook*, UINT message, WPARAM, LPARAM, BOOL* handled) -> LRESULT {
        if (message == WM_APP + 5) {
            *handled = TRUE;
            return 4242;
        }
        if (message == WM_APP + 6)
            return 999;   // not handled: its result does not count
        return 0;
    };
    ASSERT_EQ(1, object.Subclass());
    g_events.clear();

    EXPECT_EQ(1004, SendMessageA(window, WM_APP + 4, 0, 0));
    EXPECT_EQ(4242, SendMessageA(window, WM_APP + 5, 0, 0));
    EXPECT_EQ(1006, SendMessageA(window, WM_APP + 6, 0, 0));
    EXPECT_TRUE(SetWindowTextA(window, "seen"));

    ExpectSequence({{kHandler, window, WM_APP + 4},
                    {kPrevious, window, WM_APP + 4},
                    {kHandler, window, WM_APP + 5},
                    {kHandler, window, WM_APP + 6},
                    {kPrevious, window, WM_APP + 6},
                    {kHandler, window, WM_SETTEXT},
                    {kPrevious, window, WM_SETTEXT}},
                   {WM_APP + 4, WM_APP + 5, WM_APP + 6, WM_SETTEXT}, "handled and passed on");
    // Parameters arrive unchanged at both.
    g_events.clear();
    SendMessageA(window, WM_APP + 4, 0xABCD, 0x12345678);
    ASSERT_EQ(2u, g_events.size());
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(0xABCDu, g_events[i].wParam);
        EXPECT_EQ(0x12345678, g_events[i].lParam);
    }
    object.Unsubclass();
}

TEST_F(WinHookTest, HandlerThatThrowsLetsThePreviousProcedureAnswer)
{
    HWND window = NewWindow(NewWindow());
    RecordingWinHook object(window);
    object.react = [](RecordingWinHook*, UINT message, WPARAM, LPARAM, BOOL* handled) -> LRESULT {
        if (message == WM_APP + 30 || message == WM_DESTROY) {
            *handled = TRUE;
            throw std::runtime_error("handler failed");
        }
        return 0;
    };
    ASSERT_EQ(1, object.Subclass());
    testsupport::StartTraceLog("velmora_winhook_");
    EXPECT_EQ(1030, SendMessageA(window, WM_APP + 30, 0, 0));
    // A failing WM_DESTROY handler still gives the window back.
    EXPECT_EQ(0x1234, SendMessageA(window, WM_DESTROY, 0, 0));
    EXPECT_EQ(NULL, FindWinHook(window));
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(RecordingProc), GetWindowLongPtrA(window, GWLP_WNDPROC));
    // Each failure is said on the trace, with where it was contained.
    EXPECT_EQ("EXCEPTION SubclassWndProc\r\nEXCEPTION SubclassWndProc\r\n", testsupport::NewTraceText());
    testsupport::StopTraceLog();
}

// WM_DESTROY sent by hand: the window lives on, so what follows the release can be seen.
TEST_F(WinHookTest, DestroyReachesThePreviousProcedureAfterTheWindowIsGivenBack)
{
    HWND window = NewWindow(NewWindow());
    RecordingWinHook object(window);
    LONG_PTR procInHandler = 0;
    CLSWinHook* objectInHandler = NULL;
    object.react = [&](RecordingWinHook* self, UINT message, WPARAM, LPARAM, BOOL* handled) -> LRESULT {
        if (message == WM_DESTROY) {
            procInHandler = GetWindowLongPtrA(self->hwnd, GWLP_WNDPROC);
            objectInHandler = FindWinHook(self->hwnd);
            *handled = TRUE;   // ignored for WM_DESTROY
            return 55;
        }
        return 0;
    };
    ASSERT_EQ(1, object.Subclass());
    g_events.clear();
    g_procAtPreviousDestroy = 0;
    g_objectAtPreviousDestroy = &object;

    EXPECT_EQ(0x1234, SendMessageA(window, WM_DESTROY, 7, 8));
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(SubclassWndProc), procInHandler);
    EXPECT_EQ(&object, objectInHandler);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(RecordingProc), g_procAtPreviousDestroy);
    EXPECT_EQ(NULL, g_objectAtPreviousDestroy);

    EXPECT_EQ(NULL, FindWinHook(window));
    EXPECT_EQ(NULL, object.prevWndProc);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(RecordingProc), GetWindowLongPtrA(window, GWLP_WNDPROC));
    EXPECT_TRUE(object.released);

    // Later messages reach the window's own procedure only.
    EXPECT_EQ(1003, SendMessageA(window, WM_APP + 3, 0, 0));
    ExpectSequence({{kHandler, window, WM_DESTROY},
                    {kPrevious, window, WM_DESTROY},
                    {kPrevious, window, WM_APP + 3}},
                   {WM_DESTROY, WM_APP + 3}, "destroy by hand");
    ASSERT_GE(g_events.size(), 2u);
    EXPECT_EQ(7u, g_events[1].wParam);
    EXPECT_EQ(8, g_events[1].lParam);
}

TEST_F(WinHookTest, DestructionEndsEachWindowsPassageAtItsDestroy)
{
    HWND top = NewWindow();
    HWND parent = NewWindow(top);
    HWND child = NewWindow(parent);
    RecordingWinHook parentObject(parent), childObject(child);
    ASSERT_EQ(1, parentObject.Subclass());
    ASSERT_EQ(1, childObject.Subclass());
    g_events.clear();

    EXPECT_TRUE(DestroyWindow(parent));
    // The parent's WM_DESTROY comes first, then the child's; WM_NCDESTROY reaches only
    // the windows' own procedures, the child's before the parent's.
    ExpectSequence({{kHandler, parent, WM_DESTROY},
                    {kPrevious, parent, WM_DESTROY},
                    {kHandler, child, WM_DESTROY},
                    {kPrevious, child, WM_DESTROY},
                    {kPrevious, child, WM_NCDESTROY},
                    {kPrevious, parent, WM_NCDESTROY}},
                   {WM_DESTROY, WM_NCDESTROY}, "destroying a parent and its child");
    // After its WM_DESTROY the handler sees nothing at all.
    bool afterDestroy = false;
    for (size_t i = 0; i < g_events.size(); ++i) {
        if (g_events[i].who == kHandler && afterDestroy && g_events[i].window == child)
            ADD_FAILURE() << "child handler saw 0x" << std::hex << g_events[i].message;
        if (g_events[i].message == WM_DESTROY && g_events[i].window == child)
            afterDestroy = true;
    }
    EXPECT_TRUE(afterDestroy);
    EXPECT_TRUE(g_winHookRegistry.empty());
}

TEST_F(WinHookTest, HandlersMaySendToTheirOwnAndToOtherWindows)
{
    HWND parent = NewWindow();
    HWND a = NewWindow(parent), b = NewWindow(parent);
    RecordingWinHook objectA(a), objectB(b);
    LRESULT nestedSelf = 0, nestedOther = 0;
    objectA.react = [&](RecordingWinHook* self, UINT message, WPARAM, LPARAM, BOOL*) -> LRESULT {
        if (message == WM_APP + 10) {
            nestedSelf = SendMessageA(self->hwnd, WM_APP + 11, 0, 0);
            nestedOther = SendMessageA(b, WM_APP + 12, 0, 0);
        }
        return 0;
    };
    objectB.react = [&](RecordingWinHook*, UINT message, WPARAM, LPARAM, BOOL* handled) -> LRESULT {
        if (message == WM_APP + 12) {
            // Back to the first window, two levels deep.
            *handled = TRUE;
            return SendMessageA(a, WM_APP + 13, 0, 0) + 1;
        }
        return 0;
    };
    ASSERT_EQ(1, objectA.Subclass());
    ASSERT_EQ(1, objectB.Subclass());
    g_events.clear();

    EXPECT_EQ(1010, SendMessageA(a, WM_APP + 10, 0, 0));
    EXPECT_EQ(1011, nestedSelf);
    EXPECT_EQ(1014, nestedOther);
    ExpectSequence({{kHandler, a, WM_APP + 10},
                    {kHandler, a, WM_APP + 11},
                    {kPrevious, a, WM_APP + 11},
                    {kHandler, b, WM_APP + 12},
                    {kHandler, a, WM_APP + 13},
                    {kPrevious, a, WM_APP + 13},
                    {kPrevious, a, WM_APP + 10}},
                   {WM_APP + 10, WM_APP + 11, WM_APP + 12, WM_APP + 13}, "nested sends");
    objectA.Unsubclass();
    objectB.Unsubclass();
}

TEST_F(WinHookTest, MessageForAWindowWithoutObjectGoesToTheDefaultProcedure)
{
    HWND window = NewWindow(NewWindow());
    g_events.clear();
    EXPECT_EQ(0, SubclassWndProc(window, WM_APP + 1, 0, 0));
    EXPECT_EQ(TRUE, SubclassWndProc(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("by default")));
    char text[32] = {0};
    GetWindowTextA(window, text, sizeof text);
    EXPECT_STREQ("by default", text);
    // Reading the text back went to the window's own procedure; the two calls did not.
    for (size_t i = 0; i < g_events.size(); ++i) {
        EXPECT_NE(static_cast<UINT>(WM_APP + 1), g_events[i].message);
        EXPECT_NE(static_cast<UINT>(WM_SETTEXT), g_events[i].message);
    }
}

// ---- Subclass and Unsubclass ----------------------------------------------------------

TEST_F(WinHookTest, WindowWithoutProcedureIsNotTakenOver)
{
    HWND gone = CreateTestWindow(NULL);
    ASSERT_TRUE(DestroyWindow(gone));
    HWND parent = NewWindow();
    HWND live = NewWindow(parent);
    RecordingWinHook other(live);
    ASSERT_EQ(1, other.Subclass());

    RecordingWinHook object(gone), none(NULL);
    EXPECT_EQ(0, object.Subclass());
    EXPECT_EQ(0, none.Subclass());
    EXPECT_EQ(NULL, object.prevWndProc);
    EXPECT_EQ(NULL, none.prevWndProc);
    EXPECT_EQ(NULL, FindWinHook(gone));
    ASSERT_EQ(1u, g_winHookRegistry.size());
    EXPECT_EQ(&other, g_winHookRegistry[0]);
    other.Unsubclass();
}

TEST_F(WinHookTest, UnsubclassOfAnObjectNotSubclassedChangesNothing)
{
    HWND parent = NewWindow();
    HWND window = NewWindow(parent), other = NewWindow(parent);
    RecordingWinHook registered(other), idle(window);
    ASSERT_EQ(1, registered.Subclass());

    idle.Unsubclass();
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(RecordingProc), GetWindowLongPtrA(window, GWLP_WNDPROC));
    EXPECT_EQ(NULL, idle.prevWndProc);
    ASSERT_EQ(1u, g_winHookRegistry.size());
    EXPECT_EQ(&registered, g_winHookRegistry[0]);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(SubclassWndProc), GetWindowLongPtrA(other, GWLP_WNDPROC));

    // Twice over on a released object as well.
    registered.Unsubclass();
    registered.Unsubclass();
    EXPECT_TRUE(g_winHookRegistry.empty());
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(RecordingProc), GetWindowLongPtrA(other, GWLP_WNDPROC));
}

TEST_F(WinHookTest, WindowAnnouncedTwiceKeepsItsFirstObject)
{
    HWND window = NewWindow(NewWindow());
    RecordingWinHook first(window), second(window);
    ASSERT_EQ(1, first.Subclass());
    EXPECT_EQ(0, second.Subclass());
    EXPECT_EQ(0, first.Subclass());   // nor twice by the same object
    EXPECT_EQ(NULL, second.prevWndProc);
    EXPECT_EQ(reinterpret_cast<WNDPROC>(RecordingProc), first.prevWndProc);
    ASSERT_EQ(1u, g_winHookRegistry.size());
    EXPECT_EQ(&first, FindWinHook(window));

    // A message passes the first handler once, then the window's own procedure.
    g_events.clear();
    EXPECT_EQ(1001, SendMessageA(window, WM_APP + 1, 0, 0));
    ExpectSequence({{kHandler, window, WM_APP + 1}, {kPrevious, window, WM_APP + 1}},
                   {WM_APP + 1}, "announced twice");

    // The refused object's Unsubclass does not take the window from the first.
    second.Unsubclass();
    EXPECT_EQ(&first, FindWinHook(window));

    g_events.clear();
    EXPECT_EQ(0x1234, SendMessageA(window, WM_DESTROY, 0, 0));
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(RecordingProc), GetWindowLongPtrA(window, GWLP_WNDPROC));
    EXPECT_EQ(NULL, FindWinHook(window));
    EXPECT_EQ(1002, SendMessageA(window, WM_APP + 2, 0, 0));
    ExpectSequence({{kHandler, window, WM_DESTROY},
                    {kPrevious, window, WM_DESTROY},
                    {kPrevious, window, WM_APP + 2}},
                   {WM_DESTROY, WM_APP + 2}, "after the first object's release");
}

// ---- Lifetime -------------------------------------------------------------------------

// A release that does not free: it records the moment and fills the object with a
// pattern, so that any later write into it shows, and any later virtual call crashes.
std::vector<RecordingWinHook*> g_graveyard;
const unsigned char kPoison = 0xA5;

void PoisoningRelease(CLSWinHook* object)
{
    RecordingWinHook* record = static_cast<RecordingWinHook*>(object);
    EXPECT_EQ(RecordingWinHook::kCanary, record->canary);
    EXPECT_EQ(0, record->useCount);
    EXPECT_TRUE(record->released);
    EXPECT_EQ(NULL, FindWinHook(record->hwnd));
    Record(kReleased, record->hwnd, 0);
    record->react = nullptr;
    std::memset(static_cast<void*>(record), kPoison, sizeof *record);
    g_graveyard.push_back(record);
}

bool StillPoisoned(const RecordingWinHook* record)
{
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(record);
    for (size_t i = 0; i < sizeof *record; ++i)
        if (bytes[i] != kPoison)
            return false;
    return true;
}

class WinHookLifetimeTest : public WinHookTest {
protected:
    void TearDown() override
    {
        for (size_t i = 0; i < g_graveyard.size(); ++i) {
            EXPECT_TRUE(StillPoisoned(g_graveyard[i])) << "written to after its release";
            ::operator delete(static_cast<void*>(g_graveyard[i]));
        }
        g_graveyard.clear();
        WinHookTest::TearDown();
    }
    RecordingWinHook* NewRecord(HWND window)
    {
        RecordingWinHook* record = new RecordingWinHook(window);
        record->releaseProc = PoisoningRelease;
        return record;
    }
};

TEST_F(WinHookLifetimeTest, RecordIsReleasedWhenItsDestroyHasPassed)
{
    HWND window = NewWindow(NewWindow());
    RecordingWinHook* record = NewRecord(window);
    ASSERT_EQ(1, record->Subclass());
    g_events.clear();
    EXPECT_TRUE(DestroyWindow(window));
    ExpectSequence({{kHandler, window, WM_DESTROY},
                    {kPrevious, window, WM_DESTROY},
                    {kReleased, window, 0},
                    {kPrevious, window, WM_NCDESTROY}},
                   {WM_DESTROY, WM_NCDESTROY}, "release at WM_DESTROY");
    EXPECT_EQ(1u, g_graveyard.size());
}

TEST_F(WinHookLifetimeTest, NestedDestroyFromAHandlerReleasesOnlyWhenTheOuterCallEnds)
{
    HWND parent = NewWindow();
    HWND window = NewWindow(parent);
    HWND sibling = NewWindow(parent);
    RecordingWinHook* record = NewRecord(window);
    RecordingWinHook* siblingRecord = NewRecord(sibling);
    record->react = [sibling](RecordingWinHook* self, UINT message, WPARAM, LPARAM, BOOL* handled) -> LRESULT {
        if (message == WM_APP + 20) {
            // The window and its sibling go while this handler still works on its record.
            DestroyWindow(self->hwnd);
            DestroyWindow(sibling);
            Record(self->canary == RecordingWinHook::kCanary ? static_cast<char>(kNote) : '?', self->hwnd, WM_APP + 20);
            EXPECT_EQ(NULL, FindWinHook(self->hwnd));
            *handled = FALSE;
            return 0;
        }
        return 0;
    };
    ASSERT_EQ(1, record->Subclass());
    ASSERT_EQ(1, siblingRecord->Subclass());
    g_events.clear();

    EXPECT_EQ(1020, SendMessageA(window, WM_APP + 20, 0, 0));
    EXPECT_FALSE(IsWindow(window));
    // The sibling, not in use, goes at once; the record in use only when its call ends,
    // after its window's own procedure has answered.
    ExpectSequence({{kHandler, window, WM_APP + 20},
                    {kHandler, window, WM_DESTROY},
                    {kPrevious, window, WM_DESTROY},
                    {kPrevious, window, WM_NCDESTROY},
                    {kHandler, sibling, WM_DESTROY},
                    {kPrevious, sibling, WM_DESTROY},
                    {kReleased, sibling, 0},
                    {kPrevious, sibling, WM_NCDESTROY},
                    {kNote, window, WM_APP + 20},
                    {kPrevious, window, WM_APP + 20},
                    {kReleased, window, 0}},
                   {WM_APP + 20, WM_DESTROY, WM_NCDESTROY}, "nested destroy");
    EXPECT_EQ(2u, g_graveyard.size());
}

TEST_F(WinHookLifetimeTest, UserOutsideTheWindowProcedureKeepsTheRecordAlive)
{
    HWND window = NewWindow(NewWindow());
    RecordingWinHook* record = NewRecord(window);
    ASSERT_EQ(1, record->Subclass());
    g_events.clear();
    {
        WinHookUse use(record);
        EXPECT_TRUE(DestroyWindow(window));
        EXPECT_TRUE(g_graveyard.empty());
        EXPECT_EQ(RecordingWinHook::kCanary, record->canary);
        EXPECT_TRUE(record->released);
    }
    ASSERT_EQ(1u, g_graveyard.size());
    EXPECT_EQ(record, g_graveyard[0]);
}

TEST_F(WinHookLifetimeTest, ManyWindowsComeAndGoAndLeaveNoRecord)
{
    HWND parent = NewWindow();
    g_recording = false;
    const int kWindows = 1500;
    for (int i = 0; i < kWindows; ++i) {
        HWND window = CreateTestWindow(parent);
        ASSERT_TRUE(window != NULL);
        RecordingWinHook* record = NewRecord(window);
        ASSERT_EQ(1, record->Subclass());
        if (i % 2)
            SendMessageA(window, WM_APP + 1, 0, 0);
        ASSERT_TRUE(DestroyWindow(window));
    }
    g_recording = true;
    EXPECT_EQ(static_cast<size_t>(kWindows), g_graveyard.size());
    EXPECT_TRUE(g_winHookRegistry.empty());
}

}  // namespace
