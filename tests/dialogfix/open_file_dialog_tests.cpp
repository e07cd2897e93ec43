// The open-file window's text cleanup, watched through the thread's message hook.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "dialogfix/button_align.h"
#include "dialogfix/open_file_dialog.h"
#include "tests/dialogfix/dialog_fixture.h"
#include "tests/support/test_support.h"
#include "winhook/thread_hook.h"
#include "winhook/win_hook.h"

namespace dialogtest {
namespace {

void SetText(HWND window, const char* text)
{
    SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

// The selection of all of an edit control's text, counted in its characters.
std::pair<DWORD, DWORD> WholeText(HWND edit)
{
    return std::make_pair(0ul, static_cast<DWORD>(GetWindowTextLengthW(edit)));
}

// "C:\Mail\表<TAB>示<CR><LF>1.txt" in code page 932; 表 has a trail byte of 0x5C.
const char kDirtyPath[] = "C:\\Mail\\\x95\x5c\t\x8e\xa6\r\n1.txt";
const char kCleanPath[] = "C:\\Mail\\\x95\x5c\x8e\xa6" "1.txt";

typedef DialogFixTest OpenFileDialogTest;

// ---- Which windows are watched ----------------------------------------------------------

TEST_F(OpenFileDialogTest, OpenFileWindowsOfAnnouncedWindowsAreWatched)
{
    for (const WatchedPlace& c : WatchedPlaces()) {
        std::strcpy(g_savedEditText, "left from an earlier window");
        hostsim::OpenFileWindow dialog = hostsim::CreateOpenFileWindow(c.parent, c.child);
        ASSERT_TRUE(dialog.window != NULL) << c.what;
        EXPECT_EQ(dialog.window, g_openFileDialog) << c.what;
        EXPECT_STREQ("", g_savedEditText) << c.what;
        // The alignment is asked for from version 10 on, of the host window.
        std::vector<Posted> posted = Pump();
        EXPECT_TRUE(WithCommand(posted, g_restoreCommandId).empty()) << c.what;
        std::vector<Posted> align = WithCommand(posted, g_alignCommandId);
        if (AlignsButtons()) {
            ASSERT_EQ(1u, align.size()) << c.what;
            EXPECT_EQ(c.host, align[0].window) << c.what;
            EXPECT_EQ(0, align[0].lParam) << c.what;
            EXPECT_EQ(dialog.window, g_alignDialog) << c.what;
        } else {
            EXPECT_TRUE(align.empty()) << c.what;
            EXPECT_EQ(NULL, g_alignDialog) << c.what;
        }
        DestroyWindow(dialog.window);
        ResetRepairState();
    }
}

TEST_F(OpenFileDialogTest, OtherWindowsAreNotWatchedAndTheirTextsChangeNothing)
{
    RECT label = {10, 10, 110, 23}, button = {120, 2, 250, 25};
    struct Case {
        const char* what;
        HWND parent;
        bool child;
        const char* title;
    };
    const std::string spaced = std::string(hostsim::kOpenFileTitle) + " ";
    const Case cases[] = {
        {"another title", folder_.frame, false, "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x95\xDB\x91\xB6"},
        {"the title and a space", folder_.frame, true, spaced.c_str()},
        {"the title's first half", folder_.frame, true, "\x83\x74\x83\x40\x83\x43\x83\x8B"},
        {"owned by a window never announced", stranger_.frame, false, hostsim::kOpenFileTitle},
        {"child of a window never announced", stranger_.list, true, hostsim::kOpenFileTitle},
        {"great-grandchild of a view window", view_.hostPane, true, hostsim::kOpenFileTitle},
        {"without parent", NULL, false, hostsim::kOpenFileTitle},
    };
    for (const Case& c : cases) {
        hostsim::OpenFileWindow dialog =
            hostsim::CreateOpenFileWindow(c.parent, c.child, label, button, c.title);
        ASSERT_TRUE(dialog.window != NULL) << c.what;
        EXPECT_EQ(NULL, g_openFileDialog) << c.what;
        SetText(dialog.edit, "a\tb");
        EXPECT_STREQ("", g_savedEditText) << c.what;
        SetText(dialog.edit, "");
        EXPECT_TRUE(Pump().empty()) << c.what;
        EXPECT_EQ(NULL, g_alignDialog) << c.what;
        DestroyWindow(dialog.window);
    }
}

// ---- Texts with control characters --------------------------------------------------------

TEST_F(OpenFileDialogTest, TextWithControlCharactersIsPutBackCleanAndSelected)
{
    hostsim::OpenFileWindow dialog = hostsim::CreateOpenFileWindow(folder_.frame, false);
    Pump();

    SetText(dialog.edit, kDirtyPath);
    EXPECT_STREQ(kCleanPath, g_savedEditText);
    EXPECT_TRUE(g_textWasCleaned);
    EXPECT_EQ(dialog.edit, g_restoreEdit);

    std::vector<Posted> restore = WithCommand(Pump(), g_restoreCommandId);
    ASSERT_EQ(1u, restore.size());
    EXPECT_EQ(folder_.frame, restore[0].window);
    EXPECT_EQ(0, restore[0].lParam);
    EXPECT_EQ(kCleanPath, WindowText(dialog.edit));
    EXPECT_EQ(WholeText(dialog.edit), Selection(dialog.edit));
    // The clean text stays saved, the window stays watched, and the restore's own text
    // posted nothing.
    EXPECT_STREQ(kCleanPath, g_savedEditText);
    EXPECT_FALSE(g_textWasCleaned);
    EXPECT_EQ(dialog.window, g_openFileDialog);
    EXPECT_TRUE(Pump().empty());

    // Emptied: the text is put back once more, and then nothing is saved.
    SetText(dialog.edit, "");
    EXPECT_EQ(NULL, g_openFileDialog);
    restore = WithCommand(Pump(), g_restoreCommandId);
    ASSERT_EQ(1u, restore.size());
    EXPECT_EQ(folder_.frame, restore[0].window);
    EXPECT_EQ(kCleanPath, WindowText(dialog.edit));
    EXPECT_EQ(WholeText(dialog.edit), Selection(dialog.edit));
    EXPECT_STREQ("", g_savedEditText);

    // The watch is over.
    SetText(dialog.edit, "");
    SetText(dialog.edit, "x\ty");
    EXPECT_TRUE(Pump().empty());
    EXPECT_EQ("x\ty", WindowText(dialog.edit));
    EXPECT_STREQ("", g_savedEditText);
    DestroyWindow(dialog.window);
}

TEST_F(OpenFileDialogTest, EachKindOfControlCharacterIsDropped)
{
    struct Case {
        const char* text;
        const char* clean;
    };
    const Case cases[] = {
        {"\tlead", "lead"},       {"trail\n", "trail"},     {"a\rb", "ab"},
        {"\x01\x1f x\x7f", " x\x7f"}, {"\x81\x40\x1b\x82\xA0", "\x81\x40\x82\xA0"},
        {"\t\r\n", ""},   // nothing left: the field is emptied, and stays watched
    };
    for (const Case& c : cases) {
        hostsim::OpenFileWindow dialog = hostsim::CreateOpenFileWindow(view_.hostView, true);
        Pump();
        SetText(dialog.edit, c.text);
        ASSERT_EQ(1u, WithCommand(Pump(), g_restoreCommandId).size()) << c.clean;
        EXPECT_EQ(c.clean, WindowText(dialog.edit));
        EXPECT_STREQ(c.clean, g_savedEditText);
        EXPECT_EQ(dialog.window, g_openFileDialog);
        DestroyWindow(dialog.window);
    }
}

TEST_F(OpenFileDialogTest, CleanTextIsSavedAndPutBackOnceWhenTheFieldIsEmptied)
{
    // Emptied by an empty text, and by a null text pointer, which counts as empty.
    for (int nullText = 0; nullText < 2; ++nullText) {
        hostsim::OpenFileWindow dialog = hostsim::CreateOpenFileWindow(folder_.frame, true);
        Pump();
        SetText(dialog.edit, "C:\\mail\\inbox.txt");
        EXPECT_STREQ("C:\\mail\\inbox.txt", g_savedEditText);
        EXPECT_FALSE(g_textWasCleaned);
        EXPECT_TRUE(Pump().empty());

        SetText(dialog.edit, nullText ? NULL : "");
        EXPECT_EQ(NULL, g_openFileDialog);
        EXPECT_EQ(dialog.edit, g_restoreEdit);
        std::vector<Posted> restore = WithCommand(Pump(), g_restoreCommandId);
        ASSERT_EQ(1u, restore.size()) << nullText;
        EXPECT_EQ(folder_.frame, restore[0].window);
        EXPECT_EQ("C:\\mail\\inbox.txt", WindowText(dialog.edit));
        EXPECT_EQ(WholeText(dialog.edit), Selection(dialog.edit));
        EXPECT_EQ(std::make_pair(0ul, 17ul), Selection(dialog.edit));
        EXPECT_STREQ("", g_savedEditText);
        DestroyWindow(dialog.window);
    }
}

TEST_F(OpenFileDialogTest, EmptiedFieldWithNothingSavedEndsTheWatchQuietly)
{
    hostsim::OpenFileWindow dialog = hostsim::CreateOpenFileWindow(folder_.frame, false);
    Pump();
    SendMessageA(dialog.edit, WM_SETTEXT, 0, 0);
    EXPECT_EQ(NULL, g_openFileDialog);
    EXPECT_TRUE(Pump().empty());
    SetText(dialog.edit, "a\tb");
    EXPECT_STREQ("", g_savedEditText);
    DestroyWindow(dialog.window);
}

TEST_F(OpenFileDialogTest, OnlyEditControlsThatAreChildrenOfTheWatchedWindowCount)
{
    hostsim::OpenFileWindow dialog = hostsim::CreateOpenFileWindow(folder_.frame, false);
    Pump();
    HINSTANCE instance = GetModuleHandleA(NULL);
    testsupport::RegisterWindowClass("Edits", DefWindowProcA);
    HWND editGrandchild = CreateWindowExA(0, "Edit", "", WS_CHILD, 0, 0, 50, 20, dialog.innerDialog,
                                          NULL, instance, NULL);
    HWND almostEdit = CreateWindowExA(0, "Edits", "", WS_CHILD, 0, 0, 50, 20, dialog.window, NULL,
                                      instance, NULL);
    HWND hostEdit = CreateWindowExA(0, "Edit", "", WS_CHILD, 0, 0, 50, 20, folder_.frame, NULL,
                                    instance, NULL);
    ASSERT_TRUE(editGrandchild && almostEdit && hostEdit);
    const HWND targets[] = {dialog.innerDialog, dialog.label,  dialog.button, editGrandchild,
                            almostEdit,         dialog.window, hostEdit};
    for (HWND target : targets) {
        SetText(target, "a\tb");
        EXPECT_STREQ("", g_savedEditText) << WindowText(target);
        SetText(target, "");
        EXPECT_EQ(dialog.window, g_openFileDialog);
        EXPECT_TRUE(Pump().empty());
    }
    // The real field is still watched.
    SetText(dialog.edit, "a\tb");
    EXPECT_STREQ("ab", g_savedEditText);
    EXPECT_EQ(1u, WithCommand(Pump(), g_restoreCommandId).size());
    DestroyWindow(hostEdit);
    DestroyWindow(dialog.window);
}

// ---- Long texts and later texts ---------------------------------------------------------

TEST_F(OpenFileDialogTest, OnlyTheFirst256BytesAreExaminedAndSaved)
{
    struct Case {
        size_t length;
        std::vector<size_t> controls;   // positions of tab characters
        size_t savedLength;
        bool posted;
    };
    const Case cases[] = {
        {300, {10, 280}, 255, true},   // the tab beyond 256 bytes is not even seen
        {300, {280}, 256, false},
        {256, {255}, 255, true},       // the 256th byte is the last examined
        {257, {256}, 256, false},
    };
    for (const Case& c : cases) {
        std::string text;
        for (size_t i = 0; i < c.length; ++i)
            text += static_cast<char>('a' + i % 26);
        for (size_t position : c.controls)
            text[position] = '\t';
        std::string expected;
        for (size_t i = 0; i < 256 && i < text.size(); ++i)
            if (text[i] != '\t')
                expected += text[i];
        ASSERT_EQ(c.savedLength, expected.size());

        hostsim::OpenFileWindow dialog = hostsim::CreateOpenFileWindow(folder_.frame, false);
        Pump();
        SetText(dialog.edit, text.c_str());
        EXPECT_EQ(expected, std::string(g_savedEditText)) << c.length;
        EXPECT_EQ('\0', g_savedEditText[256]);
        std::vector<Posted> restore = WithCommand(Pump(), g_restoreCommandId);
        EXPECT_EQ(c.posted ? 1u : 0u, restore.size()) << c.length;
        if (!c.posted) {
            EXPECT_EQ(text, WindowText(dialog.edit));
            SetText(dialog.edit, "");
            EXPECT_EQ(1u, WithCommand(Pump(), g_restoreCommandId).size());
        }
        // What comes back is the saved part only.
        EXPECT_EQ(expected, WindowText(dialog.edit)) << c.length;
        DestroyWindow(dialog.window);
    }
}

TEST_F(OpenFileDialogTest, LaterTextsAreNotExaminedWhileOneIsSaved)
{
    hostsim::OpenFileWindow dialog = hostsim::CreateOpenFileWindow(folder_.frame, false);
    Pump();
    SetText(dialog.edit, "first\tone");
    EXPECT_EQ(1u, WithCommand(Pump(), g_restoreCommandId).size());
    EXPECT_EQ("firstone", WindowText(dialog.edit));

    SetText(dialog.edit, "second\r\none");
    EXPECT_STREQ("firstone", g_savedEditText);
    EXPECT_FALSE(g_textWasCleaned);
    EXPECT_TRUE(Pump().empty());

    // Likewise after a text that had nothing to clean.
    hostsim::OpenFileWindow next = hostsim::CreateOpenFileWindow(folder_.frame, false);
    Pump();
    SetText(next.edit, "plain");
    SetText(next.edit, "not\tplain");
    EXPECT_STREQ("plain", g_savedEditText);
    EXPECT_TRUE(Pump().empty());
    DestroyWindow(next.window);
    DestroyWindow(dialog.window);
}

// ---- The end of a watch -----------------------------------------------------------------

TEST_F(OpenFileDialogTest, CloseOfAChildOfAnAnnouncedWindowEndsTheWatch)
{
    HINSTANCE instance = GetModuleHandleA(NULL);
    hostsim::OpenFileWindow dialog = hostsim::CreateOpenFileWindow(view_.hostView, true);
    Pump();
    SetText(dialog.edit, "a\tb");
    Pump();
    ASSERT_STREQ("ab", g_savedEditText);

    // The watched window itself, a grandchild: its parent is not announced, and the
    // parent's parent does not count.
    SendMessageA(dialog.window, WM_CLOSE, 0, 0);
    ASSERT_FALSE(IsWindow(dialog.window));
    EXPECT_EQ(dialog.window, g_openFileDialog);
    ResetRepairState();

    hostsim::OpenFileWindow second = hostsim::CreateOpenFileWindow(folder_.frame, false);
    Pump();
    SetText(second.edit, "c\td");
    Pump();
    HWND grandchild = CreateWindowExA(0, "Static", "", WS_CHILD, 0, 0, 5, 5, view_.hostView, NULL,
                                      instance, NULL);
    SendMessageA(grandchild, WM_CLOSE, 0, 0);
    EXPECT_EQ(second.window, g_openFileDialog);

    // Any child of an announced window: the watch ends, and the text stays saved.
    HWND child = CreateWindowExA(0, "Static", "", WS_CHILD, 0, 0, 5, 5, folder_.frame, NULL,
                                 instance, NULL);
    SendMessageA(child, WM_CLOSE, 0, 0);
    EXPECT_EQ(NULL, g_openFileDialog);
    EXPECT_STREQ("cd", g_savedEditText);
    SetText(second.edit, "");
    EXPECT_TRUE(Pump().empty());
    EXPECT_STREQ("cd", g_savedEditText);

    // Until the next open-file window.
    hostsim::OpenFileWindow third = hostsim::CreateOpenFileWindow(folder_.frame, true);
    EXPECT_EQ(third.window, g_openFileDialog);
    EXPECT_STREQ("", g_savedEditText);
    Pump();
    DestroyWindow(third.window);
    DestroyWindow(second.window);
}

TEST_F(OpenFileDialogTest, WatchedWindowWithoutHostPostsNothingAndStaysWatched)
{
    hostsim::OpenFileWindow dialog = hostsim::CreateOpenFileWindow(folder_.frame, false);
    Pump();
    // The host window leaves the registry while its open-file window is watched.
    CLSWinHook* record = FindWinHook(folder_.frame);
    ASSERT_TRUE(record != NULL);
    record->Unsubclass();

    SetText(dialog.edit, "a\tb");
    EXPECT_STREQ("ab", g_savedEditText);
    EXPECT_TRUE(Pump().empty());
    SetText(dialog.edit, "");
    EXPECT_EQ(dialog.window, g_openFileDialog);
    EXPECT_TRUE(Pump().empty());
    EXPECT_EQ("", WindowText(dialog.edit));

    ASSERT_EQ(1, record->Subclass());
    DestroyWindow(dialog.window);
}

TEST_F(OpenFileDialogTest, RestoreIntoAFieldThatIsGoneKeepsOrEmptiesTheTextAsBefore)
{
    hostsim::OpenFileWindow dialog = hostsim::CreateOpenFileWindow(folder_.frame, false);
    Pump();
    SetText(dialog.edit, "a\tb");
    DestroyWindow(dialog.edit);
    EXPECT_EQ(1u, WithCommand(Pump(), g_restoreCommandId).size());
    EXPECT_STREQ("ab", g_savedEditText);   // it was cleaned: kept
    EXPECT_FALSE(g_textWasCleaned);
    DestroyWindow(dialog.window);

    hostsim::OpenFileWindow next = hostsim::CreateOpenFileWindow(folder_.frame, false);
    Pump();
    SetText(next.edit, "plain");
    SetText(next.edit, "");
    DestroyWindow(next.edit);
    EXPECT_EQ(1u, WithCommand(Pump(), g_restoreCommandId).size());
    EXPECT_STREQ("", g_savedEditText);     // it was not: emptied
    DestroyWindow(next.window);

    // A field moved out of its window before the command gets nothing.
    hostsim::OpenFileWindow moved = hostsim::CreateOpenFileWindow(folder_.frame, false);
    Pump();
    SetText(moved.edit, "c\td");
    SetParent(moved.edit, stranger_.frame);
    EXPECT_EQ(1u, WithCommand(Pump(), g_restoreCommandId).size());
    EXPECT_EQ("c\td", WindowText(moved.edit));
    DestroyWindow(moved.edit);
    DestroyWindow(moved.window);
}

// ---- Timer messages ---------------------------------------------------------------------

VOID CALLBACK NoTimerProc(HWND, UINT, UINT_PTR, DWORD) {}

std::string TimerLine(HWND window, WPARAM id, LPARAM proc)
{
    char line[64];
    wsprintfA(line, "TIMER(%x,%x,%x)\r\n", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(window)),
              static_cast<unsigned>(id), static_cast<unsigned>(proc));
    return line;
}

TEST_F(OpenFileDialogTest, TimerMessagesSentToWindowsOfTheThreadAreTraced)
{
    LPARAM proc = reinterpret_cast<LPARAM>(NoTimerProc);
    SendMessageA(folder_.frame, WM_TIMER, 0x2a, proc);
    EXPECT_EQ(TimerLine(folder_.frame, 0x2a, proc), NewTraceText());
    SendMessageA(stranger_.frame, WM_TIMER, 1, 0);
    SendMessageA(stranger_.list, WM_TIMER, 0xfffe, 0);
    EXPECT_EQ(TimerLine(stranger_.frame, 1, 0) + TimerLine(stranger_.list, 0xfffe, 0), NewTraceText());

    hostsim::OpenFileWindow dialog = hostsim::CreateOpenFileWindow(folder_.frame, false);
    Pump();
    SendMessageA(dialog.edit, WM_TIMER, 7, 0);
    EXPECT_EQ(TimerLine(dialog.edit, 7, 0), NewTraceText());
    EXPECT_EQ(dialog.window, g_openFileDialog);
    DestroyWindow(dialog.window);
}

// ---- The hook chain ---------------------------------------------------------------------

// A hook installed before the plug-in's (so called after it) records what reaches it;
// one installed after it (so called first) calls the plug-in's with a chosen code.
HHOOK g_earlier, g_later;
int g_laterCode;
LRESULT g_resultInLater;
struct Reached {
    int code;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Reached> g_reachedEarlier;
HWND g_chainWatched;

LRESULT CALLBACK EarlierHook(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (sent && sent->hwnd == g_chainWatched) {
        Reached reached = {code, wParam, lParam};
        g_reachedEarlier.push_back(reached);
        return 0x5A5A;
    }
    return CallNextHookEx(g_earlier, code, wParam, lParam);
}

LRESULT CALLBACK LaterHook(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (sent && sent->hwnd == g_chainWatched) {
        g_reachedEarlier.clear();
        g_resultInLater = CallNextHookEx(g_later, g_laterCode, wParam, lParam);
        Reached reached = {code, wParam, lParam};
        g_reachedEarlier.insert(g_reachedEarlier.begin(), reached);
        return 0;
    }
    return CallNextHookEx(g_later, code, wParam, lParam);
}

TEST_F(OpenFileDialogTest, HookPassesEveryCallOnWhileItsThreadHasAnEntry)
{
    DWORD thread = GetCurrentThreadId();
    // The plug-in's hook again, now between two foreign ones.
    ThreadHookEntry* entry = FindThreadHookEntry(thread);
    ASSERT_TRUE(entry != NULL);
    entry->Remove();
    delete entry;
    g_earlier = SetWindowsHookExA(WH_CALLWNDPROC, EarlierHook, NULL, thread);
    entry = new ThreadHookEntry;
    entry->hook = 0;
    entry->threadId = thread;
    ASSERT_EQ(1, entry->Install(CallWndHookProc));
    g_later = SetWindowsHookExA(WH_CALLWNDPROC, LaterHook, NULL, thread);
    ASSERT_TRUE(g_earlier && g_later);
    g_chainWatched = stranger_.frame;

    // Any code: passed on unchanged, the next hook's result returned. A code other than
    // 0 is not looked at: its timer message is not traced.
    for (int code : {0, 5, -1}) {
        g_laterCode = code;
        g_resultInLater = 0;
        SendMessageA(stranger_.frame, WM_TIMER, 3, 0);
        ASSERT_EQ(2u, g_reachedEarlier.size()) << code;
        EXPECT_EQ(code, g_reachedEarlier[1].code);
        EXPECT_EQ(g_reachedEarlier[0].wParam, g_reachedEarlier[1].wParam);
        EXPECT_EQ(g_reachedEarlier[0].lParam, g_reachedEarlier[1].lParam);
        EXPECT_EQ(0x5A5A, g_resultInLater) << code;
        EXPECT_EQ(code == 0 ? TimerLine(stranger_.frame, 3, 0) : std::string(), NewTraceText()) << code;
    }

    // The same procedure on a thread without entry: 0, and nothing passed on.
    entry->Remove();
    delete entry;
    UnhookWindowsHookEx(g_later);
    HHOOK orphan = SetWindowsHookExA(WH_CALLWNDPROC, CallWndHookProc, NULL, thread);
    g_later = SetWindowsHookExA(WH_CALLWNDPROC, LaterHook, NULL, thread);
    ASSERT_TRUE(orphan && g_later);
    g_laterCode = 0;
    g_resultInLater = 1;
    SendMessageA(stranger_.frame, WM_TIMER, 4, 0);
    EXPECT_EQ(1u, g_reachedEarlier.size());
    EXPECT_EQ(0, g_resultInLater);
    EXPECT_EQ("", NewTraceText());

    UnhookWindowsHookEx(g_later);
    UnhookWindowsHookEx(orphan);
    UnhookWindowsHookEx(g_earlier);
    g_chainWatched = NULL;
}

}  // namespace
}  // namespace dialogtest
