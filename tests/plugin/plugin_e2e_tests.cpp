// Velmora.dll in the stand-in host, driven only through its exported entry points and the
// host's own windows and commands.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>

#include <cstring>
#include <string>
#include <vector>

#include "hostsim/host_sim.h"
#include "tests/plugin/plugin_harness.h"

using e2e::ButtonCount;
using e2e::ClickButton;
using e2e::PaneTextLf;
using e2e::ToggleButton;
using e2e::UnicodePane;
using e2e::Visible;

namespace {

const char kUtf8Header[] =
    "From: sender@example.jp\r\n"
    "To: reader@example.jp\r\n"
    "Subject: test\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: text/plain; charset=UTF-8\r\n";

// "日本語のメール", "Café ☕ 😀" (U+1F600 beyond the BMP), "かなカナ".
const char kUtf8Body[] =
    "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE3\x83\xA1\xE3\x83\xBC\xE3\x83\xAB\r\n"
    "Caf\xC3\xA9 \xE2\x98\x95 \xF0\x9F\x98\x80\r\n"
    "\xE3\x81\x8B\xE3\x81\xAA\xE3\x82\xAB\xE3\x83\x8A\r\n";

std::string Utf8Mail8bit()
{
    return std::string(kUtf8Header) + "Content-Transfer-Encoding: 8bit\r\n\r\n" + kUtf8Body;
}

// The same text as quoted-printable, with a soft line break.
std::string Utf8MailQuotedPrintable()
{
    return std::string(kUtf8Header) +
           "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
           "=E6=97=A5=E6=9C=AC=E8=AA=9E=E3=81=AE=E3=83=A1=\r\n"
           "=E3=83=BC=E3=83=AB\r\n"
           "Caf=C3=A9 =E2=98=95 =F0=9F=98=80\r\n"
           "=E3=81=8B=E3=81=AA=E3=82=AB=E3=83=8A\r\n";
}

std::string Iso2022JpMail()
{
    return "From: sender@example.jp\r\nSubject: jis\r\nMIME-Version: 1.0\r\n"
           "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
           "Content-Transfer-Encoding: 7bit\r\n\r\n"
           "\x1B$BF|K\\8l\x1B(B\r\n";
}

std::string ShiftJisMail()
{
    return "From: sender@example.jp\r\nSubject: sjis\r\n"
           "Content-Type: text/plain; charset=Shift_JIS\r\n\r\n"
           "\x93\xFA\x96\x7B\x8C\xEA\r\n";
}

// UTF-8 declared only in the second part; the first part is what the pane shows.
std::string AlternativeMail()
{
    return "From: sender@example.jp\r\nSubject: alt\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/alternative; boundary=\"b1\"\r\n\r\n"
           "preamble\r\n"
           "--b1\r\n"
           "Content-Type: text/plain\r\n\r\n"
           "first part \xE2\x9C\x93\r\n"
           "--b1\r\n"
           "Content-Type: text/html; charset=utf-8\r\n\r\n"
           "<p>second</p>\r\n"
           "--b1--\r\n";
}

std::wstring ExpectedBody()
{
    std::string lf;
    for (const char* p = kUtf8Body; *p; ++p)
        if (*p != '\r')
            lf += *p;
    return e2e::Utf8ToWide(lf);
}

bool Checked(HWND toolbar)
{
    return (ToggleButton(toolbar).fsState & TBSTATE_CHECKED) != 0;
}

bool Hidden(HWND toolbar)
{
    return (ToggleButton(toolbar).fsState & TBSTATE_HIDDEN) != 0;
}

class ViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        view_ = e2e::CreateAnnouncedView();
        ASSERT_TRUE(view_.frame && view_.toolbar && view_.hostView && view_.hostPane);
        hostButtons_ = ButtonCount(view_.toolbar);
        utf8_ = e2e::WriteMailFile("utf8.eml", Utf8Mail8bit());
        qp_ = e2e::WriteMailFile("qp.eml", Utf8MailQuotedPrintable());
        jis_ = e2e::WriteMailFile("jis.eml", Iso2022JpMail());
        sjis_ = e2e::WriteMailFile("sjis.eml", ShiftJisMail());
        alternative_ = e2e::WriteMailFile("alternative.eml", AlternativeMail());
    }

    void TearDown() override
    {
        DestroyWindow(view_.frame);
        hostsim::PumpMessages();
    }

    DWORD Load(const std::string& path)
    {
        DWORD result = hostsim::LoadMailIntoView(e2e::Plugin(), view_, path.c_str());
        hostsim::PumpMessages();
        return result;
    }

    void Press()
    {
        ClickButton(view_.toolbar, ToggleButton(view_.toolbar).idCommand);
    }

    hostsim::ViewWindow view_;
    int hostButtons_;
    std::string utf8_, qp_, jis_, sjis_, alternative_;
};

}  // namespace

TEST(PluginModule, NamesItselfWithTheSamePointerBeforeAndAfterStartUp)
{
    hostsim::Plugin plugin;
    std::string dll = testsupport::ProgramDir() + "Velmora.dll";
    ASSERT_TRUE(hostsim::LoadPlugin(dll.c_str(), &plugin));
    const char* before = plugin.GetPlugName();
    EXPECT_STREQ("Velmora Version 0.10", before);
    e2e::Plugin();  // starts the plug-in
    EXPECT_EQ(before, plugin.GetPlugName());
    FreeLibrary(plugin.module);  // drops only this extra reference
}

TEST(PluginModule, StartUpRegistersItsTwoCallbacksWithDistinctIdentifiers)
{
    e2e::Plugin();
    const std::vector<hostsim::Registration>& registered = hostsim::Registrations();
    ASSERT_GE(registered.size(), 2u);
    EXPECT_NE(registered[0].commandId, registered[1].commandId);
    EXPECT_EQ(0, registered[0].data);
    EXPECT_EQ(0, registered[1].data);
    // Start-up binds the host's functions but calls none of them besides registration.
    EXPECT_EQ(0, hostsim::CallCount("_QPAViewGetPath@4"));
    EXPECT_EQ(0, hostsim::CallCount("_QPASetTimer@12"));
}

TEST_F(ViewTest, FirstUtf8MailAddsASeparatorAndAVisibleUncheckedToggle)
{
    EXPECT_NE(0u, Load(utf8_));
    ASSERT_EQ(hostButtons_ + 2, ButtonCount(view_.toolbar));
    TBBUTTON separator = e2e::ButtonAt(view_.toolbar, hostButtons_);
    TBBUTTON toggle = e2e::ButtonAt(view_.toolbar, hostButtons_ + 1);
    EXPECT_TRUE(separator.fsStyle & TBSTYLE_SEP);
    EXPECT_TRUE(toggle.fsStyle & TBSTYLE_CHECK);
    EXPECT_NE(0, toggle.idCommand);
    EXPECT_EQ(TBSTATE_ENABLED, toggle.fsState & (TBSTATE_ENABLED | TBSTATE_HIDDEN | TBSTATE_CHECKED));
    EXPECT_TRUE(Visible(view_.hostPane));
    EXPECT_EQ(NULL, UnicodePane(view_));  // made at the first press only
}

TEST_F(ViewTest, MailsThatAreNotUtf8LeaveTheToolbarAloneUntilAUtf8MailComes)
{
    Load(jis_);
    Load(sjis_);
    EXPECT_EQ(hostButtons_, ButtonCount(view_.toolbar));
    Load(qp_);
    EXPECT_EQ(hostButtons_ + 2, ButtonCount(view_.toolbar));
    EXPECT_FALSE(Hidden(view_.toolbar));
    EXPECT_FALSE(Checked(view_.toolbar));
}

TEST_F(ViewTest, PressingShowsTheDecodedMailInAUnicodePaneOverTheHostPane)
{
    Load(qp_);
    Press();
    EXPECT_TRUE(Checked(view_.toolbar));
    HWND pane = UnicodePane(view_);
    ASSERT_TRUE(pane);
    char className[64];
    GetClassNameA(pane, className, sizeof className);
    EXPECT_EQ(0, lstrcmpiA("RICHEDIT50W", className)) << className;  // class names ignore case
    EXPECT_FALSE(Visible(view_.hostPane));
    EXPECT_TRUE(Visible(pane));
    EXPECT_EQ(ExpectedBody(), PaneTextLf(pane).substr(0, ExpectedBody().size()));

    RECT host = e2e::RectIn(view_.hostPane, view_.hostView);
    RECT over = e2e::RectIn(pane, view_.hostView);
    EXPECT_EQ(-2, over.left);
    EXPECT_EQ(-2, over.top);
    EXPECT_EQ(host.right - host.left + 4, over.right - over.left);
    EXPECT_EQ(host.bottom - host.top + 4, over.bottom - over.top);
}

TEST_F(ViewTest, PressingAgainShowsTheHostPaneAndKeepsThePaneText)
{
    Load(utf8_);
    Press();
    HWND pane = UnicodePane(view_);
    ASSERT_TRUE(pane);
    std::wstring shown = PaneTextLf(pane);
    Press();
    EXPECT_FALSE(Checked(view_.toolbar));
    EXPECT_TRUE(Visible(view_.hostPane));
    EXPECT_FALSE(Visible(pane));
    EXPECT_EQ(shown, PaneTextLf(pane));
}

TEST_F(ViewTest, AMailThatIsNotUtf8AfterAPressHidesTheToggleAndTheUnicodePane)
{
    Load(utf8_);
    Press();
    Load(jis_);
    EXPECT_TRUE(Hidden(view_.toolbar));
    EXPECT_FALSE(Checked(view_.toolbar));
    EXPECT_EQ(hostButtons_ + 2, ButtonCount(view_.toolbar));  // hidden, not removed
    EXPECT_TRUE(Visible(view_.hostPane));
    EXPECT_FALSE(Visible(UnicodePane(view_)));
}

TEST_F(ViewTest, LoadingAUtf8MailWhileThePaneIsShownUnchecksTheToggle)
{
    Load(utf8_);
    Press();
    Load(qp_);
    EXPECT_FALSE(Checked(view_.toolbar));
    EXPECT_FALSE(Hidden(view_.toolbar));
    EXPECT_TRUE(Visible(view_.hostPane));
    EXPECT_FALSE(Visible(UnicodePane(view_)));
}

TEST_F(ViewTest, ManyLoadsKeepOneSeparatorAndOneTogglePerView)
{
    int hostSeparators = e2e::CountSeparators(view_.toolbar);
    const std::string* order[] = {&utf8_, &jis_, &qp_, &qp_, &sjis_, &utf8_, &alternative_, &jis_};
    for (int round = 0; round < 5; ++round)
        for (size_t i = 0; i < sizeof order / sizeof order[0]; ++i)
            Load(*order[i]);
    EXPECT_EQ(hostButtons_ + 2, ButtonCount(view_.toolbar));
    EXPECT_EQ(hostSeparators + 1, e2e::CountSeparators(view_.toolbar));
    int toggles = 0;
    for (int i = 0; i < ButtonCount(view_.toolbar); ++i)
        toggles += (e2e::ButtonAt(view_.toolbar, i).fsStyle & TBSTYLE_CHECK) ? 1 : 0;
    EXPECT_EQ(1, toggles);
}

namespace {

bool g_refuseImages;
WNDPROC g_toolbarProc;

LRESULT CALLBACK RefusingToolbarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == TB_ADDBITMAP && g_refuseImages)
        return -1;
    return CallWindowProcA(g_toolbarProc, window, message, wParam, lParam);
}

LRESULT CALLBACK RefuseRichEdit(int code, WPARAM wParam, LPARAM lParam)
{
    char name[32] = "";
    if (code == HCBT_CREATEWND && GetClassNameA(reinterpret_cast<HWND>(wParam), name, sizeof name) &&
        _strnicmp(name, "RichEdit", 8) == 0)
        return 1;
    return CallNextHookEx(NULL, code, wParam, lParam);
}

}  // namespace

// A toolbar without images numbers the toggle's image 0; one that refuses the image
// (-1) gets no button until a later UTF-8 mail, when it takes it.
TEST_F(ViewTest, AToolbarWithoutImagesOrRefusingThemGetsOneToggle)
{
    DestroyWindow(view_.toolbar);
    view_.toolbar = CreateWindowExA(0, TOOLBARCLASSNAMEA, NULL, WS_CHILD | WS_VISIBLE | CCS_TOP, 0, 0, 0, 0,
                                    view_.frame, NULL, GetModuleHandleA(NULL), NULL);
    g_toolbarProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(view_.toolbar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RefusingToolbarProc)));
    g_refuseImages = true;
    Load(utf8_);
    EXPECT_EQ(0, ButtonCount(view_.toolbar));
    g_refuseImages = false;
    const std::string* order[] = {&qp_, &jis_, &utf8_, &sjis_, &qp_};
    for (const std::string* mail : order)
        Load(*mail);
    ASSERT_EQ(2, ButtonCount(view_.toolbar));
    EXPECT_EQ(1, e2e::CountSeparators(view_.toolbar));
    EXPECT_EQ(0, ToggleButton(view_.toolbar).iBitmap);
}

TEST_F(ViewTest, APaneThatCannotBeCreatedLeavesTheHostPaneShownAndTheToggleUp)
{
    Load(utf8_);
    HHOOK refuse = SetWindowsHookExA(WH_CBT, RefuseRichEdit, NULL, GetCurrentThreadId());
    Press();
    UnhookWindowsHookEx(refuse);
    EXPECT_EQ(NULL, UnicodePane(view_));
    EXPECT_TRUE(Visible(view_.hostPane));
    EXPECT_FALSE(Checked(view_.toolbar));
    // The next press makes the pane.
    Press();
    EXPECT_TRUE(Checked(view_.toolbar));
    EXPECT_TRUE(Visible(UnicodePane(view_)));
}

TEST_F(ViewTest, TwoViewsShareOneIdentifierAndToggleIndependently)
{
    hostsim::ViewWindow other = e2e::CreateAnnouncedView(660, 0, 640, 480);
    size_t registrations = hostsim::Registrations().size();
    Load(utf8_);
    hostsim::LoadMailIntoView(e2e::Plugin(), other, qp_.c_str());
    int first = ToggleButton(view_.toolbar).idCommand;
    int second = ToggleButton(other.toolbar).idCommand;
    EXPECT_NE(0, first);
    EXPECT_EQ(first, second);
    EXPECT_LE(hostsim::Registrations().size(), registrations);  // registered once per process

    ClickButton(other.toolbar, second);
    EXPECT_TRUE(Checked(other.toolbar));
    EXPECT_FALSE(Checked(view_.toolbar));
    EXPECT_TRUE(Visible(view_.hostPane));
    EXPECT_FALSE(Visible(other.hostPane));
    ASSERT_TRUE(UnicodePane(other));
    EXPECT_EQ(NULL, UnicodePane(view_));
    DestroyWindow(other.frame);
}

TEST_F(ViewTest, MultipartAlternativeWithUtf8InItsSecondPartShowsItsFirstPart)
{
    Load(alternative_);
    EXPECT_FALSE(Hidden(view_.toolbar));
    Press();
    EXPECT_EQ(std::wstring(L"first part \x2713\n"), PaneTextLf(UnicodePane(view_)).substr(0, 13));
}

TEST_F(ViewTest, MultipartAlternativeWithoutABoundaryIsNotUtf8AndTheFileIsNotRead)
{
    std::string path = e2e::WriteMailFile(
        "noboundary.eml",
        "Subject: x\r\nContent-Type: multipart/alternative\r\n\r\n--b1\r\n"
        "Content-Type: text/plain; charset=utf-8\r\n\r\nbody\r\n");
    int reads = hostsim::CallCount("_QPAViewGetPath@4");
    Load(path);
    EXPECT_EQ(reads, hostsim::CallCount("_QPAViewGetPath@4"));
    EXPECT_EQ(hostButtons_, ButtonCount(view_.toolbar));
}

TEST_F(ViewTest, ThePaneFollowsTheViewsSizeAndItsLayoutCommands)
{
    Load(utf8_);
    Press();
    HWND pane = UnicodePane(view_);
    ASSERT_TRUE(pane);
    struct Step {
        const char* what;
        void (*act)(const hostsim::ViewWindow&);
    };
    const Step steps[] = {
        {"resize", [](const hostsim::ViewWindow& v) { MoveWindow(v.frame, 0, 0, 500, 360, TRUE); }},
        {"toolbar off", [](const hostsim::ViewWindow& v) { SendMessageA(v.frame, WM_COMMAND, 0xE800, 0); }},
        {"status bar off", [](const hostsim::ViewWindow& v) { SendMessageA(v.frame, WM_COMMAND, 0xE802, 0); }},
        {"toolbar on", [](const hostsim::ViewWindow& v) { SendMessageA(v.frame, WM_COMMAND, 0xE800, 0); }},
    };
    RECT previous = e2e::RectIn(view_.hostPane, view_.hostView);
    for (size_t i = 0; i < sizeof steps / sizeof steps[0]; ++i) {
        steps[i].act(view_);
        RECT host = e2e::RectIn(view_.hostPane, view_.hostView);
        RECT over = e2e::RectIn(pane, view_.hostView);
        EXPECT_NE(0, std::memcmp(&previous, &host, sizeof host)) << steps[i].what << " changed nothing";
        EXPECT_EQ(-2, over.left) << steps[i].what;
        EXPECT_EQ(-2, over.top) << steps[i].what;
        EXPECT_EQ(host.right - host.left + 4, over.right - over.left) << steps[i].what;
        EXPECT_EQ(host.bottom - host.top + 4, over.bottom - over.top) << steps[i].what;
        previous = host;
    }
}

TEST_F(ViewTest, TheToggleTooltipComesFromThePluginAndTheHostKeepsItsOwn)
{
    Load(utf8_);
    NMTTDISPINFOA info;
    ZeroMemory(&info, sizeof info);
    info.hdr.hwndFrom = view_.toolbar;
    info.hdr.idFrom = static_cast<UINT_PTR>(ToggleButton(view_.toolbar).idCommand);
    info.hdr.code = TTN_GETDISPINFOA;
    SendMessageA(view_.frame, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(e2e::Plugin().module, info.hinst);
    ASSERT_EQ(MAKEINTRESOURCEA(108), info.lpszText);
    char text[64];
    LoadStringA(info.hinst, 108, text, sizeof text);
    EXPECT_STREQ("UNICODE\x95\x5C\x8E\xA6", text);  // "UNICODE表示" in code page 932

    NMTTDISPINFOA host;
    ZeroMemory(&host, sizeof host);
    host.hdr.hwndFrom = view_.toolbar;
    host.hdr.idFrom = hostsim::kCommandReply;
    host.hdr.code = TTN_GETDISPINFOA;
    host.hinst = reinterpret_cast<HINSTANCE>(0x1234);
    SendMessageA(view_.frame, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&host));
    EXPECT_EQ(NULL, host.hinst);  // the host answered, not the plug-in
    EXPECT_STREQ("reply", host.lpszText);
}

TEST_F(ViewTest, EveryPressReadsTheMailFileAgain)
{
    Load(utf8_);
    int reads = hostsim::CallCount("_QPAViewGetPath@4");
    Press();
    EXPECT_EQ(ExpectedBody(), PaneTextLf(UnicodePane(view_)).substr(0, ExpectedBody().size()));
    e2e::WriteMailFile("utf8.eml", std::string(kUtf8Header) + "\r\nchanged \xC3\xA9\r\n");
    Press();
    Press();
    EXPECT_EQ(std::wstring(L"changed \x00E9\n"), PaneTextLf(UnicodePane(view_)).substr(0, 10));
    EXPECT_EQ(reads + 2, hostsim::CallCount("_QPAViewGetPath@4"));
}

TEST_F(ViewTest, TheNextMailAfterALongOneIsShownWithEveryPropertyOfThePane)
{
    // Longer than the pane is emptied in place: the next mail's text goes into a new pane.
    std::string lines;
    while (lines.size() < 40000)
        lines += "caf\xC3\xA9 http://example.invalid/\r\n";
    Load(e2e::WriteMailFile("long.eml", std::string(kUtf8Header) + "\r\n" + lines));
    Press();
    HWND old = UnicodePane(view_);
    Load(utf8_);
    Press();
    HWND pane = UnicodePane(view_);
    ASSERT_TRUE(pane);
    EXPECT_NE(old, pane);
    EXPECT_FALSE(IsWindow(old));
    EXPECT_EQ(1, e2e::PaneWindowCount()) << "an old pane is left";
    EXPECT_TRUE(Visible(pane));
    EXPECT_EQ(ExpectedBody(), PaneTextLf(pane).substr(0, ExpectedBody().size()));
    EXPECT_TRUE(GetWindowLongA(pane, GWL_STYLE) & ES_READONLY);
    EXPECT_NE(0, SendMessageA(pane, EM_GETAUTOURLDETECT, 0, 0));
    EXPECT_TRUE(SendMessageA(pane, EM_GETEVENTMASK, 0, 0) & ENM_LINK) << "a link click told to its parent";
    RECT host = e2e::RectIn(view_.hostPane, view_.hostView);
    RECT over = e2e::RectIn(pane, view_.hostView);
    EXPECT_EQ(-2, over.left);
    EXPECT_EQ(host.bottom - host.top + 4, over.bottom - over.top);
    SendMessageA(pane, WM_COMMAND, 32772, 0);  // the context menu's "select all"
    PARAFORMAT2 paragraph;
    ZeroMemory(&paragraph, sizeof paragraph);
    paragraph.cbSize = sizeof paragraph;
    SendMessageA(pane, EM_GETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&paragraph));
    EXPECT_TRUE((paragraph.dwMask & PFM_STARTINDENT) && paragraph.dxStartIndent == 100) << "on every paragraph";
}

TEST_F(ViewTest, AMailFileThatCannotBeReadLeavesThePaneEmptyNotWithAnEarlierMail)
{
    Load(utf8_);
    Press();
    Press();
    std::string gone = e2e::WriteMailFile("gone.eml", Utf8Mail8bit());
    Load(gone);
    DeleteFileA(gone.c_str());
    Press();
    EXPECT_TRUE(Checked(view_.toolbar));
    EXPECT_EQ(std::wstring(), PaneTextLf(UnicodePane(view_)).substr(0, 1));
}

TEST_F(ViewTest, ANullHeaderIsAnEmptyHeader)
{
    Load(utf8_);
    EXPECT_NE(0u, e2e::Plugin().ViewLoadMail(view_.frame, NULL, 0));
    EXPECT_TRUE(Hidden(view_.toolbar));
}

TEST(PluginWindows, AFolderWindowIgnoresLoadsAndUnannouncedWindowsGetNothing)
{
    const hostsim::Plugin& plugin = e2e::Plugin();
    hostsim::ViewWindow folderLike = hostsim::CreateViewWindow(NULL, 0, 0, 400, 300);
    plugin.FolderCreate(folderLike.frame);
    int buttons = ButtonCount(folderLike.toolbar);
    std::string path = e2e::WriteMailFile("folder.eml", Utf8Mail8bit());
    hostsim::SetViewPath(folderLike.frame, path.c_str());
    std::string header(kUtf8Header);
    EXPECT_NE(0u, plugin.ViewLoadMail(folderLike.frame, header.c_str(), 0));
    EXPECT_EQ(buttons, ButtonCount(folderLike.toolbar));

    hostsim::ViewWindow stranger = hostsim::CreateViewWindow(NULL, 0, 0, 400, 300);
    EXPECT_EQ(0u, plugin.ViewLoadMail(stranger.frame, header.c_str(), 0));
    EXPECT_EQ(buttons, ButtonCount(stranger.toolbar));
    DestroyWindow(folderLike.frame);
    DestroyWindow(stranger.frame);
}

namespace {

HWND g_watchedFrame;
LONG_PTR g_procAtNcDestroy;
HHOOK g_observer;

LRESULT CALLBACK ObserveNcDestroy(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && sent->hwnd == g_watchedFrame && sent->message == WM_NCDESTROY)
        g_procAtNcDestroy = GetWindowLongPtrA(sent->hwnd, GWLP_WNDPROC);
    return CallNextHookEx(g_observer, code, wParam, lParam);
}

// Whether the open-file repair runs on this thread: a tab set into the field is cleaned.
bool RepairRuns(HWND host)
{
    hostsim::OpenFileWindow dialog = hostsim::CreateOpenFileWindow(host, false);
    std::string text = hostsim::EnterText(dialog.edit, "C:\\mail\tbox.txt");
    DestroyWindow(dialog.window);
    return text == "C:\\mailbox.txt";
}

}  // namespace

TEST(PluginWindows, ADestroyedViewGivesBackItsProcedureAndLeavesTheHookToItsFolder)
{
    const hostsim::Plugin& plugin = e2e::Plugin();
    hostsim::FolderWindow folder = hostsim::CreateFolderWindow(NULL, 0, 0, 300, 200);
    plugin.FolderCreate(folder.frame);
    EXPECT_TRUE(RepairRuns(folder.frame));

    hostsim::ViewWindow view = hostsim::CreateViewWindow(NULL, 0, 0, 400, 300);
    LONG_PTR hostProc = GetClassLongPtrA(view.frame, GCLP_WNDPROC);
    plugin.ViewCreate(view.frame);
    EXPECT_NE(hostProc, GetWindowLongPtrA(view.frame, GWLP_WNDPROC));

    g_watchedFrame = view.frame;
    g_observer = SetWindowsHookExA(WH_CALLWNDPROC, ObserveNcDestroy, NULL, GetCurrentThreadId());
    DestroyWindow(view.frame);
    UnhookWindowsHookEx(g_observer);
    EXPECT_EQ(hostProc, g_procAtNcDestroy);
    // The folder window is still open: the thread keeps its hook, and the repairs go on.
    EXPECT_TRUE(RepairRuns(folder.frame));
    DestroyWindow(folder.frame);
}

// Once it has taken a window over, the plug-in stays loaded however often it is released:
// the window's messages still run through it.
TEST(PluginWindows, TheModuleStaysLoadedOnceAWindowRunsThroughIt)
{
    const hostsim::Plugin& plugin = e2e::Plugin();
    hostsim::FolderWindow folder = hostsim::CreateFolderWindow(NULL, 0, 0, 300, 200);
    plugin.FolderCreate(folder.frame);
    for (int i = 0; i < 8; ++i)
        FreeLibrary(plugin.module);
    EXPECT_EQ(plugin.module, GetModuleHandleA("Velmora.dll"));
    EXPECT_TRUE(RepairRuns(folder.frame));
    DestroyWindow(folder.frame);
}
