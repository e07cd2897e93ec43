// The sandbox: a stand-in Quillpost to run Velmora.dll in. It copies the DLL from beside
// itself into sandbox-plugins\ and loads it from there, so that the Velmora.ini it writes
// there never lies beside the DLL the test programs load. It opens a folder window listing
// the sample mails and a mail view, and loads the chosen mail into the view as the host
// does; its Settings menu switches the DLL's opt-in readings and its opening by itself. With --script it plays a
// fixed session by itself and writes screenshots and the texts it saw into a folder.
//
//   sandbox.exe [--samples <folder>] [--script <output folder>] [--settings on|off]
//   sandbox.exe --opened <folder> <address>   (the scripted session's https handler)
//
// --settings (off by default) writes Velmora.ini with every reading 1 or every reading 0
// before the DLL starts (Auto and Headers are left at 0). The scripted session starts with them off.
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>

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
const UINT kCommandNested = 0x9F12;
const UINT kCommandCharsets = 0x9F13;
const UINT kCommandHtml = 0x9F14;
const UINT kCommandAuto = 0x9F15;
const UINT kCommandHeaders = 0x9F16;
const int kPaneQuotedCopy = 32788;   // the pane's context-menu entries, as a user picks them
const int kPaneSelectAll = 32772;
const int kPaneReply = 32779;

hostsim::Plugin g_plugin;
hostsim::FolderWindow g_folder;
hostsim::ViewWindow g_view;
std::string g_samples;
std::vector<std::string> g_mails;
size_t g_shown = static_cast<size_t>(-1);  // the mail in the view
WNDPROC g_folderProc;
std::string g_pluginDir;  // sandbox-plugins\, with the DLL's copy and its Velmora.ini
HMENU g_settingsMenu;

struct Settings {
    bool nested;
    bool charsets;
    bool html;
    bool autoShow;
    bool headers;
};
Settings g_settings;

// Copies <ProgramDir>\Velmora.dll into sandbox-plugins\ and loads the copy.
bool LoadPluginCopy()
{
    g_pluginDir = ProgramDir() + "sandbox-plugins\\";
    CreateDirectoryA(g_pluginDir.c_str(), NULL);
    std::string copy = g_pluginDir + "Velmora.dll";
    // Another sandbox that runs holds the copy loaded: then that copy is loaded here too.
    if (!CopyFileA((ProgramDir() + "Velmora.dll").c_str(), copy.c_str(), FALSE))
        std::fprintf(stderr, "sandbox: Velmora.dll not copied (error %lu), loading the copy in %s\n",
                     GetLastError(), g_pluginDir.c_str());
    return hostsim::LoadPlugin(copy.c_str(), &g_plugin);
}

std::string SettingsFile()
{
    return g_pluginDir + "Velmora.ini";
}

// Only [Unicode] is written: a [Trace] section a person added stays.
bool WriteSettings()
{
    std::string ini = SettingsFile();
    return WritePrivateProfileStringA("Unicode", "Nested", g_settings.nested ? "1" : "0", ini.c_str()) &&
           WritePrivateProfileStringA("Unicode", "Charsets", g_settings.charsets ? "1" : "0", ini.c_str()) &&
           WritePrivateProfileStringA("Unicode", "Html", g_settings.html ? "1" : "0", ini.c_str()) &&
           WritePrivateProfileStringA("Unicode", "Auto", g_settings.autoShow ? "1" : "0", ini.c_str()) &&
           WritePrivateProfileStringA("Unicode", "Headers", g_settings.headers ? "1" : "0", ini.c_str());
}

void ShowSettingsInMenu()
{
    CheckMenuItem(g_settingsMenu, kCommandNested, MF_BYCOMMAND | (g_settings.nested ? MF_CHECKED : MF_UNCHECKED));
    CheckMenuItem(g_settingsMenu, kCommandCharsets,
                  MF_BYCOMMAND | (g_settings.charsets ? MF_CHECKED : MF_UNCHECKED));
    CheckMenuItem(g_settingsMenu, kCommandHtml, MF_BYCOMMAND | (g_settings.html ? MF_CHECKED : MF_UNCHECKED));
    CheckMenuItem(g_settingsMenu, kCommandAuto, MF_BYCOMMAND | (g_settings.autoShow ? MF_CHECKED : MF_UNCHECKED));
    CheckMenuItem(g_settingsMenu, kCommandHeaders,
                  MF_BYCOMMAND | (g_settings.headers ? MF_CHECKED : MF_UNCHECKED));
}

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
    g_shown = index;
    std::string title = "Quillpost - " + g_mails[index];
    SetWindowTextA(g_view.frame, title.c_str());
}

// What the Settings menu does: the file written, the DLL started again to read it, and the
// mail shown loaded again under the new settings.
void ApplySettings(const Settings& settings)
{
    g_settings = settings;
    if (!WriteSettings())
        std::fprintf(stderr, "sandbox: %s could not be written (error %lu)\n", SettingsFile().c_str(),
                     GetLastError());
    g_plugin.StartUp(0);
    ShowSettingsInMenu();
    OpenMail(g_shown);
}

void HandleCommand(HWND frame, WPARAM wParam, LPARAM lParam)
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
    } else if (LOWORD(wParam) == kCommandNested || LOWORD(wParam) == kCommandCharsets ||
               LOWORD(wParam) == kCommandHtml || LOWORD(wParam) == kCommandAuto ||
               LOWORD(wParam) == kCommandHeaders) {
        Settings settings = g_settings;
        bool& flipped = LOWORD(wParam) == kCommandNested     ? settings.nested
                        : LOWORD(wParam) == kCommandCharsets ? settings.charsets
                        : LOWORD(wParam) == kCommandHtml     ? settings.html
                        : LOWORD(wParam) == kCommandAuto     ? settings.autoShow
                                                             : settings.headers;
        flipped = !flipped;
        ApplySettings(settings);
    }
}

// Called from the host's window procedure: nothing may be thrown past it.
void OnCommand(HWND frame, WPARAM wParam, LPARAM lParam)
{
    try {
        HandleCommand(frame, wParam, lParam);
    } catch (...) {
        std::fprintf(stderr, "sandbox: command %u failed\n", static_cast<unsigned>(LOWORD(wParam)));
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
    g_settingsMenu = CreatePopupMenu();
    AppendMenuA(g_settingsMenu, MF_STRING, kCommandNested, "&Nested multiparts (Nested=1)");
    AppendMenuA(g_settingsMenu, MF_STRING, kCommandCharsets, "Other &charsets (Charsets=1)");
    AppendMenuA(g_settingsMenu, MF_STRING, kCommandHtml, "&HTML-only mails as text (Html=1)");
    AppendMenuA(g_settingsMenu, MF_STRING, kCommandAuto, "Unicode view opens by &itself (Auto=1)");
    AppendMenuA(g_settingsMenu, MF_STRING, kCommandHeaders, "Header &fields in the Unicode view (Headers=1)");
    ShowSettingsInMenu();
    HMENU bar = CreateMenu();
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), "&File");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(g_settingsMenu), "&Settings");
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

bool ToggleHidden()
{
    return (Toggle().fsState & TBSTATE_HIDDEN) != 0;
}

// Every switch flipped as a user picks them from the Settings menu; true when the menu's
// check marks and the file then say `on` for each.
bool PickSettings(bool on)
{
    const struct {
        UINT command;
        const char* key;
    } switches[] = {{kCommandNested, "Nested"}, {kCommandCharsets, "Charsets"}, {kCommandHtml, "Html"}};
    for (const auto& item : switches)
        SendMessageA(g_folder.frame, WM_COMMAND, item.command, 0);
    Settle();
    UINT want = on ? MF_CHECKED : 0u;
    std::string ini = SettingsFile();
    bool said = true;
    for (const auto& item : switches)
        said = said && (GetMenuState(g_settingsMenu, item.command, MF_BYCOMMAND) & MF_CHECKED) == want &&
               GetPrivateProfileIntA("Unicode", item.key, -1, ini.c_str()) == (on ? 1 : 0);
    return said;
}

// The mails that only the opt-in readings offer, and the names of their checks and files.
// 08 comes before 07: 07's text is 01's, which the pane holds from the first press, so a
// press that left the pane's text as it was would pass unseen.
// The UTF-8 HTML mail is offered with the settings off too: the last mail loses its toggle.
struct OptInMail {
    const char* file;
    const char* check;
    const char* output;
    bool html;   // UTF-8, so offered with the settings off too, its source shown
};
const OptInMail kOptInMails[] = {
    {"10-html-only.eml", "html", "html", true},
    {"08-iso-8859-2.eml", "charset", "charset", false},
    {"07-multipart-mixed-attachment.eml", "nested", "nested", false},
    {"09-euc-kr.eml", "euc_kr", "euc-kr", false},
};

// ---- A link and the find box, as a reader uses them ---------------------------------------

const char kHttpsCommandKey[] = "Software\\Classes\\https\\shell\\open\\command";
const char kWineHttpsHandler[] = "\"C:\\windows\\system32\\winebrowser.exe\" \"%1\"";
const int kFindText = 1001;   // the find box's text field

// The command that https addresses go to. Wine reads it from HKLM only (HKCU\Software\Classes
// is not looked at), so the scripted session sets it there for its time and puts it back.
std::string HttpsHandler()
{
    char command[1024] = {0};
    LONG size = sizeof command - 1;
    if (RegQueryValueA(HKEY_LOCAL_MACHINE, kHttpsCommandKey, command, &size) != ERROR_SUCCESS)
        return std::string();
    // A session that ended early left its own behind: Wine's is the one to put back.
    return std::strstr(command, "--opened") ? kWineHttpsHandler : command;
}

bool SetHttpsHandler(const std::string& command)
{
    return RegSetValueA(HKEY_LOCAL_MACHINE, kHttpsCommandKey, REG_SZ, command.c_str(),
                        static_cast<DWORD>(command.size())) == ERROR_SUCCESS;
}

std::string ReadText(const std::string& name)
{
    return testsupport::ReadBytesFromFile(g_out + name);
}

// A click in the middle of the address, through the thread's queue as a mouse's; true when
// the handler this session set wrote that address down.
bool LinkOpensThroughTheHandler(HWND pane, const std::wstring& address)
{
    const size_t at = hostsim::RichEditText(pane).find(address);
    if (at == std::wstring::npos)
        return false;
    POINTL point = {0, 0};
    SendMessageW(pane, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&point), static_cast<LPARAM>(at + address.size() / 2));
    const LPARAM where = MAKELPARAM(point.x + 2, point.y + 4);
    DeleteFileA((g_out + "link-opened.txt").c_str());
    PostMessageW(pane, WM_LBUTTONDOWN, MK_LBUTTON, where);
    PostMessageW(pane, WM_LBUTTONUP, 0, where);
    // Wine starts the handler as a process of its own: some seconds, more in a virtual machine.
    for (int i = 0; i < 150 && ReadText("link-opened.txt") != ToUtf8(address); ++i)
        Settle();
    return ReadText("link-opened.txt") == ToUtf8(address);
}

// The find box, worked from a timer while its own loop runs: the text typed, Enter, the
// picture taken with the match selected, Esc.
const wchar_t* g_findTyped;
int g_findTicks;
bool g_findShot;

void CALLBACK WorkFindBox(HWND, UINT, UINT_PTR, DWORD)
{
    HWND box = FindWindowW(L"#32770", L"\u691C\u7D22");
    HWND edit = box ? GetDlgItem(box, kFindText) : NULL;
    if (!edit)
        return;
    if (g_findTicks++ == 0) {
        BYTE keys[256] = {0};
        SetKeyboardState(keys);
        SetWindowTextW(edit, g_findTyped);
        PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 0);
    } else if (g_findTicks == 3) {
        g_findShot = SaveWindowPng(g_view.frame, (g_out + "view-find.png").c_str());
        PostMessageW(edit, WM_KEYDOWN, VK_ESCAPE, 0);
    } else if (g_findTicks > 20) {
        EndDialog(box, IDCANCEL);
    }
}

// Ctrl+F through the thread's queue, as the host's loop hands keys on; true when the box
// selected `found` in the pane.
bool FindBoxSelects(HWND pane, const wchar_t* typed, const std::wstring& found)
{
    g_findTyped = typed;
    g_findTicks = 0;
    g_findShot = false;
    BYTE keys[256] = {0};
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    PostMessageW(pane, WM_KEYDOWN, 'F', 0);
    UINT_PTR timer = SetTimer(NULL, 0, 300, WorkFindBox);
    Settle();
    KillTimer(NULL, timer);
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
    CHARRANGE selection = {0, 0};
    SendMessageW(pane, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    const std::wstring text = hostsim::RichEditText(pane);
    return g_findShot && selection.cpMin >= 0 && selection.cpMax - selection.cpMin == static_cast<LONG>(found.size()) &&
           text.compare(static_cast<size_t>(selection.cpMin), found.size(), found) == 0;
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
        // Found without case: łódź typed, Łódź selected.
        Check(FindBoxSelects(pane, L"\u0142\u00F3d\u017A", L"\u0141\u00F3d\u017A"), "find_box_selects_the_match");
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

    for (const OptInMail& mail : kOptInMails) {
        Select(mail.file);
        if (!mail.html)
            Check(ToggleHidden(), ("toggle_hidden_for_" + std::string(mail.check) + "_with_settings_off").c_str());
    }
    Check(PickSettings(true), "settings_on");
    // Until the session ends, https addresses come back to this program (--opened).
    const std::string systemHandler = HttpsHandler();
    std::string folder = g_out.substr(0, g_out.size() - 1);
    SetHttpsHandler("\"" + ProgramDir() + "sandbox.exe\" --opened \"" + folder + "\" \"%1\"");
    // Auto=1: the next mail opens on the Unicode pane with no press.
    SendMessageA(g_folder.frame, WM_COMMAND, kCommandAuto, 0);
    Select("03-utf8-base64.eml");
    pane = hostsim::UnicodePane(g_view);
    bool autoShown = pane && IsWindowVisible(pane) && !IsWindowVisible(g_view.hostPane) &&
                     (Toggle().fsState & TBSTATE_CHECKED) && hostsim::RichEditText(pane).compare(0, 7, L"Velmora") == 0;
    Check(autoShown, "unicode_pane_shown_by_itself");
    Check(SaveWindowPng(g_view.frame, (g_out + "view-auto.png").c_str()), "screenshot_auto");
    if (autoShown)
        WriteText("pane-auto.txt", ToUtf8(hostsim::RichEditText(pane)));
    SendMessageA(g_folder.frame, WM_COMMAND, kCommandAuto, 0);
    Settle();
    // Headers=1: the pane begins with the header fields, the emoji Subject and Hangul From
    // decoded; the quoted copy still quotes the body only.
    SendMessageA(g_folder.frame, WM_COMMAND, kCommandHeaders, 0);
    Select("11-headers.eml");
    hostsim::ClickButton(g_view.toolbar, Toggle().idCommand);
    Settle();
    pane = hostsim::UnicodePane(g_view);
    const std::wstring headers = pane && IsWindowVisible(pane) ? hostsim::RichEditText(pane) : L"";
    Check(headers.compare(0, 8, L"From: \xAE40\xBBFC") == 0 &&
              headers.find(L"Subject: \xD83C\xDF89 Velmora") != std::wstring::npos,
          "header_fields_shown");
    Check(SaveWindowPng(g_view.frame, (g_out + "view-headers.png").c_str()), "screenshot_headers");
    WriteText("pane-headers.txt", ToUtf8(headers));
    if (pane) {
        SendMessageA(pane, WM_COMMAND, kPaneSelectAll, 0);
        SendMessageA(pane, WM_COMMAND, kPaneQuotedCopy, 0);
        Check(ClipboardText().compare(0, 3, L"> \x4ECA") == 0, "quoted_copy_of_the_body_only");
    }
    SendMessageA(g_folder.frame, WM_COMMAND, kCommandHeaders, 0);
    Settle();
    for (const OptInMail& mail : kOptInMails) {
        std::string check = mail.check, output = mail.output;
        Select(mail.file);
        Check(!ToggleHidden(), ("toggle_offered_for_" + check).c_str());
        hostsim::ClickButton(g_view.toolbar, Toggle().idCommand);
        Settle();
        pane = hostsim::UnicodePane(g_view);
        bool shown = pane && IsWindowVisible(pane) && !IsWindowVisible(g_view.hostPane);
        Check(shown, ("unicode_pane_shown_for_" + check).c_str());
        Check(SaveWindowPng(g_view.frame, (g_out + "view-" + output + ".png").c_str()),
              ("screenshot_" + check).c_str());
        // A hidden pane holds an earlier mail's text.
        if (shown)
            WriteText("pane-" + output + ".txt", ToUtf8(hostsim::RichEditText(pane)));
        // Text only: no tag and no character reference left.
        if (mail.html) {
            std::wstring text = shown ? hostsim::RichEditText(pane) : L"";
            Check(!text.empty() && text.find(L"</") == std::wstring::npos && text.find(L'&') == std::wstring::npos,
                  (check + "_shown_as_text").c_str());
            Check(shown && LinkOpensThroughTheHandler(pane, L"https://shop.example.jp/orders/1234"),
                  "link_opened_through_the_system_handler");
        }
    }
    if (!systemHandler.empty())
        SetHttpsHandler(systemHandler);
    // Off again, for the next run and to see the mail shown lose its toggle at once.
    Check(PickSettings(false), "settings_off_again");
    Check(ToggleHidden(), "toggle_hidden_after_settings_off");

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
    if (argc == 4 && std::strcmp(argv[1], "--opened") == 0) {
        // The scripted session's https handler: the address a click handed over, written down.
        FILE* file = std::fopen((std::string(argv[2]) + "\\link-opened.txt").c_str(), "wb");
        if (!file)
            return 1;
        const bool written = std::fputs(argv[3], file) >= 0;
        return std::fclose(file) == 0 && written ? 0 : 1;
    }
    bool scripted = false;
    bool settingsOn = false;
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
        } else if (arg == "--settings" && i + 1 < argc &&
                   (std::strcmp(argv[i + 1], "on") == 0 || std::strcmp(argv[i + 1], "off") == 0)) {
            settingsOn = std::strcmp(argv[++i], "on") == 0;
        } else {
            std::fprintf(stderr,
                         "usage: sandbox [--samples <folder>] [--script <output folder>] [--settings on|off]\n");
            return 2;
        }
    }
    if (scripted && settingsOn) {
        std::fprintf(stderr, "sandbox: the scripted session starts with the settings off\n");
        return 2;
    }

    hostsim::RegisterHostClasses();
    if (!LoadPluginCopy()) {
        std::fprintf(stderr, "sandbox: Velmora.dll could not be loaded from %s\n", g_pluginDir.c_str());
        return 1;
    }
    // Written before the DLL starts, so that its first reading finds the state asked for.
    g_settings.nested = g_settings.charsets = g_settings.html = settingsOn;
    g_settings.autoShow = false;
    g_settings.headers = false;
    if (!WriteSettings())
        std::fprintf(stderr, "sandbox: %s could not be written\n", SettingsFile().c_str());
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
    // Links clicked by a person go to the system's handler, never to one a session left.
    const std::string handler = HttpsHandler();
    if (!handler.empty())
        SetHttpsHandler(handler);

    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    DestroyWindow(g_view.frame);
    return 0;
}
