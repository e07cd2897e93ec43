// The sandbox: a stand-in Quillpost to run Velmora.dll in. It loads the DLL from beside
// itself, opens a folder window listing the sample mails and a mail view, and loads the
// chosen mail into the view as the host does. With --script it plays a fixed session by
// itself and writes screenshots and the texts it saw into a folder.
//
//   sandbox.exe [--samples <folder>] [--script <output folder>]
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "hostsim/host_sim.h"
#include "sandbox/screenshot.h"
#include "tests/support/test_support.h"

using testsupport::ProgramDir;

namespace {

const UINT kCommandVersion = 0x9F10;
const UINT kCommandExit = 0x9F11;
const int kPaneQuotedCopy = 32788;   // the pane's context-menu entries, as a user picks them
const int kPaneSelectAll = 32772;
const int kPaneReply = 32779;

hostsim::Plugin g_plugin;
hostsim::FolderWindow g_folder;
hostsim::ViewWindow g_view;
std::string g_samples;
std::vector<std::string> g_mails;
WNDPROC g_folderProc;

void ListMails()
{
    g_mails.clear();
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((g_samples + "*.eml").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            g_mails.push_back(found.cFileName);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    std::sort(g_mails.begin(), g_mails.end());
    SendMessageA(g_folder.list, LB_RESETCONTENT, 0, 0);
    for (size_t i = 0; i < g_mails.size(); ++i)
        SendMessageA(g_folder.list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(g_mails[i].c_str()));
}

void OpenMail(size_t index)
{
    if (index >= g_mails.size())
        return;
    std::string path = g_samples + g_mails[index];
    hostsim::LoadMailIntoView(g_plugin, g_view, path.c_str());
    std::string title = "Quillpost - " + g_mails[index];
    SetWindowTextA(g_view.frame, title.c_str());
}

void OnCommand(HWND frame, WPARAM wParam, LPARAM lParam)
{
    if (frame == g_folder.frame && reinterpret_cast<HWND>(lParam) == g_folder.list &&
        HIWORD(wParam) == LBN_SELCHANGE) {
        LRESULT index = SendMessageA(g_folder.list, LB_GETCURSEL, 0, 0);
        if (index >= 0)
            OpenMail(static_cast<size_t>(index));
    } else if (LOWORD(wParam) == kCommandVersion) {
        g_plugin.VersionInfo(frame);
    } else if (LOWORD(wParam) == kCommandExit) {
        DestroyWindow(g_folder.frame);
    }
}

LRESULT CALLBACK FolderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY)
        PostQuitMessage(0);
    return CallWindowProcA(g_folderProc, window, message, wParam, lParam);
}

void AddFolderMenu()
{
    HMENU file = CreatePopupMenu();
    AppendMenuA(file, MF_STRING, hostsim::kCommandOpenFile, "&Open file window...");
    AppendMenuA(file, MF_STRING, kCommandVersion, "&About Velmora...");
    AppendMenuA(file, MF_SEPARATOR, 0, NULL);
    AppendMenuA(file, MF_STRING, kCommandExit, "E&xit");
    HMENU bar = CreateMenu();
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), "&File");
    SetMenu(g_folder.frame, bar);
}

// ---- The scripted session ---------------------------------------------------------------

std::string g_out;
std::vector<std::string> g_report;
int g_failures;

void Settle()
{
    for (int i = 0; i < 6; ++i) {
        hostsim::PumpMessages();
        UpdateWindow(g_view.frame);
        Sleep(60);
    }
}

void Report(const std::string& key, const std::string& value)
{
    g_report.push_back(key + "=" + value);
}

void Check(bool ok, const char* what)
{
    Report(std::string("check.") + what, ok ? "ok" : "FAILED");
    if (!ok)
        ++g_failures;
}

std::string ToUtf8(const std::wstring& text)
{
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), NULL, 0, NULL, NULL);
    std::string out(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], bytes, NULL, NULL);
    return out;
}

bool WriteText(const std::string& name, const std::string& bytes)
{
    FILE* file = std::fopen((g_out + name).c_str(), "wb");
    if (!file)
        return false;
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    return std::fclose(file) == 0;
}

TBBUTTON Toggle()
{
    return hostsim::ToggleButton(g_view.toolbar);
}

std::wstring ClipboardText()
{
    std::wstring text;
    if (!OpenClipboard(NULL))
        return text;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const wchar_t* locked = data ? static_cast<const wchar_t*>(GlobalLock(data)) : NULL;
    if (locked) {
        text = locked;
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

size_t MailIndex(const char* name)
{
    for (size_t i = 0; i < g_mails.size(); ++i)
        if (g_mails[i] == name)
            return i;
    return g_mails.size();
}

void Select(const char* name)
{
    size_t index = MailIndex(name);
    SendMessageA(g_folder.list, LB_SETCURSEL, index, 0);
    OpenMail(index);
    Settle();
}

int RunScript()
{
    if (g_out.empty() || (g_out.back() != '\\' && g_out.back() != '/'))
        g_out += '\\';
    CreateDirectoryA(g_out.c_str(), NULL);
    Report("plugin", g_plugin.GetPlugName ? g_plugin.GetPlugName() : "");

    Select("01-utf8-8bit.eml");
    Check(Toggle().idCommand != 0 && !(Toggle().fsState & TBSTATE_HIDDEN), "toggle_offered_for_utf8");
    Check(SaveWindowPng(g_view.frame, (g_out + "view-before-toggle.png").c_str()), "screenshot_before");

    hostsim::ClickButton(g_view.toolbar, Toggle().idCommand);
    Settle();
    HWND pane = hostsim::UnicodePane(g_view);
    Check(pane && IsWindowVisible(pane) && !IsWindowVisible(g_view.hostPane), "unicode_pane_shown");
    Check(SaveWindowPng(g_view.frame, (g_out + "view-after-toggle.png").c_str()), "screenshot_after");
    if (pane) {
        WriteText("pane.txt", ToUtf8(hostsim::RichEditText(pane)));
        RECT host, over;
        GetWindowRect(g_view.hostPane, &host);
        GetWindowRect(pane, &over);
        Check(over.left == host.left - 2 && over.top == host.top - 2 &&
                  over.right == host.right + 2 && over.bottom == host.bottom + 2,
              "pane_laid_over_host_pane");
        // What a user does through the pane's context menu.
        SendMessageA(pane, WM_COMMAND, kPaneSelectAll, 0);
        SendMessageA(pane, WM_COMMAND, kPaneQuotedCopy, 0);
        WriteText("clipboard.txt", ToUtf8(ClipboardText()));
        hostsim::ClearHostCommandLog();
        SendMessageA(pane, WM_COMMAND, kPaneReply, 0);
        Settle();
        const std::vector<std::pair<HWND, UINT> >& log = hostsim::HostCommandLog();
        Check(log.size() == 1 && log[0].first == g_view.frame && log[0].second == hostsim::kCommandReply,
              "reply_forwarded_to_view");
    }

    SendMessageA(g_folder.frame, WM_COMMAND, hostsim::kCommandOpenFile, 0);
    Settle();
    HWND dialog = FindWindowA(NULL, hostsim::kOpenFileTitle);
    Check(dialog != NULL, "open_file_window_opened");
    if (dialog) {
        HWND edit = FindWindowExA(dialog, NULL, "Edit", NULL);
        SetWindowTextA(edit, "C:\\mail\\in\tbox\\report\r\n.txt");
        Settle();
        char text[256];
        GetWindowTextA(edit, text, sizeof text);
        Report("open_file_edit_text", text);
        Check(std::strcmp(text, "C:\\mail\\inbox\\report.txt") == 0, "open_file_text_cleaned");
        Check(SaveWindowPng(dialog, (g_out + "open-file-window.png").c_str()), "screenshot_open_file");
        DestroyWindow(dialog);
    }

    Select("05-iso-2022-jp.eml");
    Check((Toggle().fsState & TBSTATE_HIDDEN) != 0, "toggle_hidden_for_iso_2022_jp");
    Select("06-shift-jis.eml");
    Check((Toggle().fsState & TBSTATE_HIDDEN) != 0, "toggle_hidden_for_shift_jis");
    Select("04-multipart-alternative.eml");
    Check((Toggle().fsState & TBSTATE_HIDDEN) == 0, "toggle_offered_for_alternative");

    std::string report;
    for (size_t i = 0; i < g_report.size(); ++i)
        report += g_report[i] + "\n";
    WriteText("report.txt", report);
    DestroyWindow(g_view.frame);
    DestroyWindow(g_folder.frame);
    hostsim::PumpMessages();
    return g_failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    bool scripted = false;
    g_samples = ProgramDir() + "samples\\";
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--samples" && i + 1 < argc) {
            g_samples = argv[++i];
            if (g_samples.back() != '\\' && g_samples.back() != '/')
                g_samples += '\\';
        } else if (arg == "--script" && i + 1 < argc) {
            scripted = true;
            g_out = argv[++i];
        } else {
            std::fprintf(stderr, "usage: sandbox [--samples <folder>] [--script <output folder>]\n");
            return 2;
        }
    }

    hostsim::RegisterHostClasses();
    if (!hostsim::LoadPlugin((ProgramDir() + "Velmora.dll").c_str(), &g_plugin)) {
        std::fprintf(stderr, "sandbox: Velmora.dll could not be loaded from %s\n", ProgramDir().c_str());
        return 1;
    }
    g_plugin.StartUp(0);
    hostsim::SetCommandHandler(OnCommand);

    g_folder = hostsim::CreateFolderWindow(NULL, 10, 10, 300, 600);
    std::string folderTitle = std::string("Quillpost - folder (") + g_plugin.GetPlugName() + ")";
    SetWindowTextA(g_folder.frame, folderTitle.c_str());
    AddFolderMenu();
    g_folderProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(g_folder.frame, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FolderProc)));
    g_view = hostsim::CreateViewWindow(NULL, 320, 10, 760, 600);
    g_plugin.FolderCreate(g_folder.frame);
    g_plugin.ViewCreate(g_view.frame);
    ShowWindow(g_folder.frame, SW_SHOWNORMAL);
    ShowWindow(g_view.frame, SW_SHOWNORMAL);
    ListMails();

    if (scripted)
        return RunScript();

    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    DestroyWindow(g_view.frame);
    return 0;
}
