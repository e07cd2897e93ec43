// The host's windows, built as the host builds them.
#include "hostsim/host_sim.h"

#include <commctrl.h>
#include <richedit.h>

#include <cstdio>

namespace hostsim {

const char kOpenFileTitle[] = "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x8A\x4A\x82\xAD";
const char kSaveAndOpenCaption[] =
    "\x95\xDB\x91\xB6\x82\xB5\x82\xC4\x8A\x4A\x82\xAD\x28\x26\x4F\x29";

namespace {

const char kFrameClass[] = "QuillpostFrame";
const char kHostViewClass[] = "AfxFrameOrView42s";
const char kOpenFileClass[] = "QuillpostOpenFile";
const char kFileNameLabel[] = "\x83\x74\x83\x40\x83\x43\x83\x8B\x96\xBC\x28\x26\x4E\x29\x3A";

std::vector<std::pair<HWND, UINT> > g_hostCommands;
CommandHandler g_commandHandler;

bool IsHostMenuCommand(UINT id)
{
    return id == kCommandReply || id == kCommandForward || id == kCommandTrash ||
           id == kCommandAddressBook || id == kCommandMarking || id == kCommandSorting;
}

const char* HostCommandName(UINT id)
{
    switch (id) {
    case kCommandReply: return "reply";
    case kCommandForward: return "forward";
    case kCommandTrash: return "move to trash";
    case kCommandAddressBook: return "add sender to address book";
    case kCommandMarking: return "marking";
    case kCommandSorting: return "sort into folders";
    case kCommandOpenFile: return "open file";
    default: return "command";
    }
}

HWND FindChild(HWND parent, const char* className)
{
    return FindWindowExA(parent, NULL, className, NULL);
}

void LayoutFrame(HWND frame)
{
    RECT client;
    GetClientRect(frame, &client);
    int top = client.top;
    int bottom = client.bottom;
    HWND toolbar = FindChild(frame, TOOLBARCLASSNAMEA);
    if (toolbar && IsWindowVisible(toolbar)) {
        SendMessageA(toolbar, TB_AUTOSIZE, 0, 0);
        RECT r;
        GetWindowRect(toolbar, &r);
        top += r.bottom - r.top;
    }
    HWND status = FindChild(frame, STATUSCLASSNAMEA);
    if (status && IsWindowVisible(status)) {
        SendMessageA(status, WM_SIZE, 0, 0);
        RECT r;
        GetWindowRect(status, &r);
        bottom -= r.bottom - r.top;
    }
    HWND content = FindChild(frame, kHostViewClass);
    if (!content)
        content = FindChild(frame, "ListBox");
    if (content)
        MoveWindow(content, 0, top, client.right, bottom > top ? bottom - top : 0, TRUE);
}

void ShowStatus(HWND frame, const char* text)
{
    HWND status = FindChild(frame, STATUSCLASSNAMEA);
    if (status)
        SendMessageA(status, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text));
}

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE:
        LayoutFrame(window);
        return 0;
    case WM_COMMAND: {
        if (DispatchCommand(window, wParam))
            return 0;
        UINT id = LOWORD(wParam);
        if (IsHostMenuCommand(id) || id == kCommandOpenFile) {
            g_hostCommands.push_back(std::make_pair(window, id));
            char text[96];
            std::snprintf(text, sizeof text, "Host command %u (%s)", id, HostCommandName(id));
            ShowStatus(window, text);
            if (id == kCommandOpenFile)
                CreateOpenFileWindow(window, false);
            return 0;
        }
        if (id == kCommandViewToolbar || id == kCommandViewStatusBar) {
            HWND bar = FindChild(window, id == kCommandViewToolbar ? TOOLBARCLASSNAMEA
                                                                    : STATUSCLASSNAMEA);
            if (bar)
                ShowWindow(bar, IsWindowVisible(bar) ? SW_HIDE : SW_SHOW);
            LayoutFrame(window);
            return 0;
        }
        if (g_commandHandler) {
            g_commandHandler(window, wParam, lParam);
            return 0;
        }
        break;
    }
    case WM_NOTIFY: {
        NMHDR* header = reinterpret_cast<NMHDR*>(lParam);
        if (header && header->code == TTN_GETDISPINFOA) {
            NMTTDISPINFOA* info = reinterpret_cast<NMTTDISPINFOA*>(lParam);
            UINT id = static_cast<UINT>(header->idFrom);
            if (id == kCommandOpenFile || IsHostMenuCommand(id)) {
                info->hinst = NULL;
                lstrcpynA(info->szText, HostCommandName(id), sizeof info->szText);
                info->lpszText = info->szText;
            }
            return 0;
        }
        break;
    }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK HostViewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SIZE) {
        // The host's pane fills the view; any other child is not the host's to place.
        HWND pane = FindChild(window, "RichEdit20A");
        if (pane)
            MoveWindow(pane, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK OpenFileProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

void RegisterClassOnce(const char* name, WNDPROC proc, UINT style, int brush)
{
    WNDCLASSEXA existing;
    existing.cbSize = sizeof existing;
    if (GetClassInfoExA(GetModuleHandleA(NULL), name, &existing))
        return;
    WNDCLASSEXA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.style = style;
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.hCursor = LoadCursor(NULL, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(brush + 1));
    wc.lpszClassName = name;
    RegisterClassExA(&wc);
}

HWND CreateFrame(HWND owner, const char* title, int x, int y, int width, int height)
{
    return CreateWindowExA(0, kFrameClass, title, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, x, y,
                           width, height, owner, NULL, GetModuleHandleA(NULL), NULL);
}

// The host's own button images: 23 x 16 each, the size its toolbar is made for, one
// character per button ("開" open, "返" reply, "削" delete), drawn once.
HBITMAP HostButtonImages()
{
    static HBITMAP images;
    if (images)
        return images;
    const int width = 23, height = 16, count = 3;
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    images = CreateCompatibleBitmap(screen, width * count, height);
    ReleaseDC(NULL, screen);
    if (!memory || !images)
        return images;
    HGDIOBJ oldBitmap = SelectObject(memory, images);
    RECT all = {0, 0, width * count, height};
    FillRect(memory, &all, GetSysColorBrush(COLOR_BTNFACE));
    HFONT font = CreateFontA(-13, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, 0, 0, 0, 0,
                             "MS UI Gothic");
    HGDIOBJ oldFont = SelectObject(memory, font);
    SetBkMode(memory, TRANSPARENT);
    const char* glyphs[count] = {"\x8A\x4A", "\x95\xD4", "\x8D\xED"};
    const COLORREF colours[count] = {RGB(0, 96, 160), RGB(0, 128, 0), RGB(160, 0, 0)};
    for (int i = 0; i < count; ++i) {
        RECT cell = {i * width, 0, (i + 1) * width, height};
        SetTextColor(memory, colours[i]);
        DrawTextA(memory, glyphs[i], -1, &cell, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
    SelectObject(memory, oldFont);
    DeleteObject(font);
    SelectObject(memory, oldBitmap);
    DeleteDC(memory);
    return images;
}

HWND CreateHostToolbar(HWND frame)
{
    HWND toolbar = CreateWindowExA(0, TOOLBARCLASSNAMEA, NULL,
                                   WS_CHILD | WS_VISIBLE | TBSTYLE_TOOLTIPS | TBSTYLE_FLAT | CCS_TOP,
                                   0, 0, 0, 0, frame, NULL, GetModuleHandleA(NULL), NULL);
    if (!toolbar)
        return NULL;
    SendMessageA(toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageA(toolbar, TB_SETBITMAPSIZE, 0, MAKELPARAM(23, 16));
    TBADDBITMAP bitmap;
    bitmap.hInst = NULL;
    bitmap.nID = reinterpret_cast<UINT_PTR>(HostButtonImages());
    LRESULT first = SendMessageA(toolbar, TB_ADDBITMAP, 3, reinterpret_cast<LPARAM>(&bitmap));
    TBBUTTON buttons[3];
    ZeroMemory(buttons, sizeof buttons);
    const int commands[3] = {kCommandOpenFile, kCommandReply, kCommandTrash};
    for (int i = 0; i < 3; ++i) {
        buttons[i].iBitmap = static_cast<int>(first) + i;
        buttons[i].idCommand = commands[i];
        buttons[i].fsState = TBSTATE_ENABLED;
        buttons[i].fsStyle = TBSTYLE_BUTTON;
    }
    SendMessageA(toolbar, TB_ADDBUTTONS, 3, reinterpret_cast<LPARAM>(buttons));
    SendMessageA(toolbar, TB_AUTOSIZE, 0, 0);
    return toolbar;
}

}  // namespace

const std::vector<std::pair<HWND, UINT> >& HostCommandLog()
{
    return g_hostCommands;
}

void ClearHostCommandLog()
{
    g_hostCommands.clear();
}

void SetCommandHandler(CommandHandler handler)
{
    g_commandHandler = handler;
}

void RegisterHostClasses()
{
    INITCOMMONCONTROLSEX controls;
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_BAR_CLASSES | ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);
    LoadLibraryA("RICHED20.DLL");
    RegisterClassOnce(kFrameClass, FrameProc, CS_HREDRAW | CS_VREDRAW, COLOR_BTNFACE);
    RegisterClassOnce(kHostViewClass, HostViewProc, 0, COLOR_WINDOW);
    RegisterClassOnce(kOpenFileClass, OpenFileProc, 0, COLOR_BTNFACE);
}

ViewWindow FindViewParts(HWND frame)
{
    ViewWindow view;
    view.frame = frame;
    view.toolbar = FindChild(frame, TOOLBARCLASSNAMEA);
    view.statusBar = FindChild(frame, STATUSCLASSNAMEA);
    view.hostView = FindChild(frame, kHostViewClass);
    view.hostPane = view.hostView ? FindChild(view.hostView, "RichEdit20A") : NULL;
    return view;
}

ViewWindow CreateViewWindow(HWND owner, int x, int y, int width, int height)
{
    RegisterHostClasses();
    HWND frame = CreateFrame(owner, "Quillpost - mail", x, y, width, height);
    if (frame) {
        CreateHostToolbar(frame);
        CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, frame, NULL,
                        GetModuleHandleA(NULL), NULL);
        HWND hostView = CreateWindowExA(WS_EX_CLIENTEDGE, kHostViewClass, "",
                                        WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 0, 0, frame,
                                        NULL, GetModuleHandleA(NULL), NULL);
        HWND pane = CreateWindowExA(0, "RichEdit20A", "",
                                    WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE |
                                        ES_AUTOVSCROLL | ES_READONLY,
                                    0, 0, 0, 0, hostView, NULL, GetModuleHandleA(NULL), NULL);
        if (pane) {
            CHARFORMAT2A format;
            ZeroMemory(&format, sizeof format);
            format.cbSize = sizeof format;
            format.dwMask = CFM_FACE | CFM_SIZE | CFM_CHARSET;
            format.yHeight = 200;  // 10 points
            format.bCharSet = SHIFTJIS_CHARSET;
            lstrcpynA(format.szFaceName, "MS UI Gothic", LF_FACESIZE);
            SendMessageA(pane, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&format));
        }
        LayoutFrame(frame);
        RECT client;
        GetClientRect(hostView, &client);
        SendMessageA(hostView, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
    }
    return FindViewParts(frame);
}

FolderWindow CreateFolderWindow(HWND owner, int x, int y, int width, int height)
{
    RegisterHostClasses();
    FolderWindow folder;
    folder.frame = CreateFrame(owner, "Quillpost - folder", x, y, width, height);
    folder.list = NULL;
    if (folder.frame) {
        folder.list = CreateWindowExA(WS_EX_CLIENTEDGE, "ListBox", "",
                                      WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOTIFY, 0, 0, 0, 0,
                                      folder.frame, NULL, GetModuleHandleA(NULL), NULL);
        LayoutFrame(folder.frame);
    }
    return folder;
}

OpenFileWindow CreateOpenFileWindow(HWND parent, bool child, RECT labelRect, RECT buttonRect,
                                    const char* title)
{
    RegisterHostClasses();
    OpenFileWindow result;
    ZeroMemory(&result, sizeof result);
    DWORD style = child ? WS_CHILD | WS_VISIBLE | WS_CAPTION
                        : WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU;
    result.window = CreateWindowExA(0, kOpenFileClass, title, style, 40, 40, 420, 200, parent,
                                    NULL, GetModuleHandleA(NULL), NULL);
    if (!result.window)
        return result;
    HINSTANCE instance = GetModuleHandleA(NULL);
    result.edit = CreateWindowExA(WS_EX_CLIENTEDGE, "Edit", "", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL,
                                  10, 10, 380, 22, result.window, NULL, instance, NULL);
    result.innerDialog = CreateWindowExA(WS_EX_CONTROLPARENT, "#32770", "", WS_CHILD | WS_VISIBLE,
                                         10, 50, 380, 60, result.window, NULL, instance, NULL);
    if (result.innerDialog) {
        result.label = CreateWindowExA(0, "Static", kFileNameLabel, WS_CHILD | WS_VISIBLE,
                                       labelRect.left, labelRect.top,
                                       labelRect.right - labelRect.left,
                                       labelRect.bottom - labelRect.top, result.innerDialog, NULL,
                                       instance, NULL);
        result.button = CreateWindowExA(0, "Button", kSaveAndOpenCaption,
                                        WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, buttonRect.left,
                                        buttonRect.top, buttonRect.right - buttonRect.left,
                                        buttonRect.bottom - buttonRect.top, result.innerDialog,
                                        NULL, instance, NULL);
    }
    return result;
}

OpenFileWindow CreateOpenFileWindow(HWND parent, bool child)
{
    RECT label = {10, 10, 110, 23};    // 13 high
    RECT button = {120, 2, 250, 25};   // 23 high, 3 pixels above the label's centre line
    return CreateOpenFileWindow(parent, child, label, button, kOpenFileTitle);
}

void PumpMessages()
{
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

}  // namespace hostsim
