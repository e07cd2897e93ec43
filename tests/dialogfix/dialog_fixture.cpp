#include "tests/dialogfix/dialog_fixture.h"

#include "dialogfix/button_align.h"
#include "dialogfix/open_file_dialog.h"
#include "plugin/entry_points.h"
#include "tests/support/trace_log.h"
#include "tests/winhook/exit_on_crash.h"
#include "winhook/thread_hook.h"
#include "winhook/win_hook.h"

namespace dialogtest {

namespace {

// Start-up as the host performs it, then the trace channel moved to a log file that the
// tests can read back.
class HostEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        hostsim::RegisterHostClasses();
        ASSERT_EQ(1, QPCStartUp(0));
        // The identifiers are the host's own, for the two callbacks in their order.
        const std::vector<hostsim::Registration>& registered = hostsim::Registrations();
        ASSERT_EQ(2u, registered.size());
        EXPECT_EQ(&RestoreEditText, registered[0].callback);
        EXPECT_EQ(g_restoreCommandId, registered[0].commandId);
        EXPECT_EQ(&AlignSaveAndOpen, registered[1].callback);
        EXPECT_EQ(g_alignCommandId, registered[1].commandId);
        testsupport::StartTraceLog("velmora_dialogfix_");
    }
    void TearDown() override { testsupport::StopTraceLog(); }
};

const ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new HostEnvironment);

}  // namespace

std::vector<Posted> Pump()
{
    std::vector<Posted> commands;
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        if (message.message == WM_COMMAND) {
            Posted posted = {message.hwnd, message.wParam, message.lParam};
            commands.push_back(posted);
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return commands;
}

std::vector<Posted> WithCommand(const std::vector<Posted>& posted, WPARAM commandId)
{
    std::vector<Posted> found;
    for (size_t i = 0; i < posted.size(); ++i)
        if (posted[i].wParam == commandId)
            found.push_back(posted[i]);
    return found;
}

std::string WindowText(HWND window)
{
    char text[1024] = {0};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::pair<DWORD, DWORD> Selection(HWND edit)
{
    DWORD start = 0, end = 0;
    SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return std::make_pair(start, end);
}

RECT RectWithin(HWND window, HWND reference)
{
    RECT outer = {0, 0, 0, 0}, inner = {0, 0, 0, 0};
    GetWindowRect(reference, &outer);
    GetWindowRect(window, &inner);
    OffsetRect(&inner, -outer.left, -outer.top);
    return inner;
}

void ResetRepairState()
{
    g_openFileDialog = NULL;
    g_savedEditText[0] = '\0';
    g_textWasCleaned = false;
    g_restoreEdit = NULL;
    g_alignDialog = NULL;
}

void DialogFixTest::SetUp()
{
    ASSERT_NE(0u, g_restoreCommandId);
    ASSERT_NE(0u, g_alignCommandId);
    ASSERT_TRUE(g_winHookRegistry.empty());
    folder_ = hostsim::CreateFolderWindow(NULL, 0, 0, 500, 400);
    view_ = hostsim::CreateViewWindow(NULL, 20, 20, 500, 400);
    stranger_ = hostsim::CreateFolderWindow(NULL, 40, 40, 500, 400);
    ASSERT_TRUE(folder_.frame && view_.frame && view_.hostView && stranger_.frame);
    QPCFolderCreate(folder_.frame);
    QPCViewCreate(view_.frame);
    ASSERT_TRUE(FindWinHook(folder_.frame) != NULL);
    ASSERT_TRUE(FindWinHook(view_.frame) != NULL);
    ASSERT_TRUE(FindThreadHook(GetCurrentThreadId()) != NULL);
    Pump();
    ResetRepairState();
    NewTraceText();
}

std::vector<WatchedPlace> DialogFixTest::WatchedPlaces() const
{
    const WatchedPlace places[] = {
        {"owned by a folder window", folder_.frame, false, folder_.frame},
        {"child of a folder window", folder_.frame, true, folder_.frame},
        {"grandchild of a view window", view_.hostView, true, view_.frame},
    };
    return std::vector<WatchedPlace>(places, places + sizeof places / sizeof places[0]);
}

void DialogFixTest::TearDown()
{
    DestroyWindow(stranger_.frame);
    DestroyWindow(view_.frame);
    DestroyWindow(folder_.frame);
    Pump();
    EXPECT_TRUE(g_winHookRegistry.empty());
    EXPECT_TRUE(g_threadHookRegistry.empty());
    ResetRepairState();
}

}  // namespace dialogtest
