#include "tests/pane/pane_fixture.h"

#include <cstring>
#include <utility>

#include "mailview/mail_view_controller.h"
#include "mailview/unicode_pane.h"
#include "base/module.h"
#include "winhook/win_hook.h"

namespace panetest {

namespace {

std::vector<Recorded> g_recorded;
std::vector<std::pair<HWND, WNDPROC> > g_originalProcs;
HWND g_expectedParent;

WNDPROC OriginalProc(HWND window)
{
    for (size_t i = 0; i < g_originalProcs.size(); ++i)
        if (g_originalProcs[i].first == window)
            return g_originalProcs[i].second;
    return NULL;
}

LRESULT CALLBACK RecorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    try {
        g_recorded.push_back(Recorded{window, message, wParam});
    } catch (...) {
        // A test that lets allocations fail: the message still goes on.
    }
    WNDPROC original = OriginalProc(window);
    LRESULT result = original ? CallWindowProcW(original, window, message, wParam, lParam)
                              : DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        for (size_t i = 0; i < g_originalProcs.size(); ++i) {
            if (g_originalProcs[i].first == window) {
                g_originalProcs.erase(g_originalProcs.begin() + i);
                break;
            }
        }
    }
    return result;
}

LRESULT CALLBACK CreationHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        HWND window = reinterpret_cast<HWND>(wParam);
        const CBT_CREATEWNDW* create = reinterpret_cast<const CBT_CREATEWNDW*>(lParam);
        wchar_t name[64] = {0};
        GetClassNameW(window, name, 64);
        if (create->lpcs->hwndParent == g_expectedParent &&
            (lstrcmpiW(name, L"RICHEDIT50W") == 0 || lstrcmpiW(name, L"RichEdit20W") == 0)) {
            WNDPROC original = reinterpret_cast<WNDPROC>(
                SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecorderProc)));
            g_originalProcs.push_back(std::make_pair(window, original));
        }
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

DWORD CALLBACK CollectStream(DWORD_PTR cookie, LPBYTE buffer, LONG bytes, LONG* done)
{
    std::wstring* text = reinterpret_cast<std::wstring*>(cookie);
    text->append(reinterpret_cast<const wchar_t*>(buffer), bytes / 2);
    *done = bytes;
    return 0;
}

}  // namespace

WNDPROC RecorderProcAddress()
{
    return RecorderProc;
}

std::vector<Recorded>& RecordedMessages()
{
    return g_recorded;
}

int CountRecorded(HWND pane, UINT message, WPARAM wParam, bool anyWParam)
{
    int count = 0;
    for (size_t i = 0; i < g_recorded.size(); ++i)
        if (g_recorded[i].window == pane && g_recorded[i].message == message &&
            (anyWParam || g_recorded[i].wParam == wParam))
            ++count;
    return count;
}

int FindRecorded(HWND pane, UINT message, WPARAM wParam, size_t from)
{
    for (size_t i = from; i < g_recorded.size(); ++i)
        if (g_recorded[i].window == pane && g_recorded[i].message == message &&
            g_recorded[i].wParam == wParam)
            return static_cast<int>(i);
    return -1;
}

ControlledView CreateControlledView(int x, int y, int width, int height)
{
    // The menu resource is the test program's own.
    g_hInstance = GetModuleHandleA(NULL);
    ControlledView result;
    result.view = hostsim::CreateViewWindow(NULL, x, y, width, height);
    result.controller = new MailViewWinHook(result.view.frame);
    result.controller->isView = 1;
    result.controller->hostView = result.view.hostView;
    result.controller->hostPane = result.view.hostPane;
    result.controller->releaseProc = ReleaseMailViewWinHook;
    if (!result.controller->Subclass()) {
        ReleaseMailViewWinHook(result.controller);
        result.controller = NULL;
    }
    return result;
}

HWND CreateRecordedPane(MailViewWinHook* controller)
{
    g_expectedParent = controller->hostView;
    HHOOK hook = SetWindowsHookExW(WH_CBT, CreationHook, NULL, GetCurrentThreadId());
    CreateUnicodePane(controller);
    if (hook)
        UnhookWindowsHookEx(hook);
    g_expectedParent = NULL;
    LayoutPane(controller->hostPane, controller->unicodePane);
    return controller->unicodePane;
}

std::wstring PaneText(HWND pane, bool crlf)
{
    GETTEXTLENGTHEX length;
    std::memset(&length, 0, sizeof length);
    length.flags = GTL_NUMCHARS | GTL_PRECISE | (crlf ? GTL_USECRLF : 0);
    length.codepage = 1200;
    LRESULT units = SendMessageW(pane, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0);
    if (units < 0)
        return std::wstring();
    std::vector<wchar_t> buffer(static_cast<size_t>(units) + 1, L'\0');
    GETTEXTEX request;
    std::memset(&request, 0, sizeof request);
    request.cb = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    request.flags = crlf ? GT_USECRLF : GT_DEFAULT;
    request.codepage = 1200;
    LRESULT copied = SendMessageW(pane, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&request),
                                  reinterpret_cast<LPARAM>(buffer.data()));
    return std::wstring(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

std::wstring StreamOutWhole(HWND pane)
{
    std::wstring text;
    EDITSTREAM stream;
    std::memset(&stream, 0, sizeof stream);
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(&text);
    stream.pfnCallback = CollectStream;
    SendMessageW(pane, EM_STREAMOUT, SF_TEXT | SF_UNICODE, reinterpret_cast<LPARAM>(&stream));
    return text;
}

bool ReadClipboardText(std::wstring* text, SIZE_T* blockBytes)
{
    text->clear();
    if (blockBytes)
        *blockBytes = 0;
    if (!OpenClipboard(NULL))
        return false;
    bool found = false;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    if (data) {
        SIZE_T size = GlobalSize(data);
        const wchar_t* memory = static_cast<const wchar_t*>(GlobalLock(data));
        if (memory) {
            // Everything up to the terminator, bounded by the block.
            size_t units = size / sizeof(wchar_t);
            size_t length = 0;
            while (length < units && memory[length])
                ++length;
            text->assign(memory, length);
            // A block without a terminator gets a length that cannot match.
            if (length == units)
                text->push_back(L'#');
            GlobalUnlock(data);
            found = true;
            if (blockBytes)
                *blockBytes = size;
        }
    }
    CloseClipboard();
    return found;
}

bool PutClipboardText(const wchar_t* text)
{
    size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!block)
        return false;
    void* memory = GlobalLock(block);
    std::memcpy(memory, text, bytes);
    GlobalUnlock(block);
    if (!OpenClipboard(NULL)) {
        GlobalFree(block);
        return false;
    }
    EmptyClipboard();
    bool set = SetClipboardData(CF_UNICODETEXT, block) != NULL;
    if (!set)
        GlobalFree(block);
    CloseClipboard();
    return set;
}

void PaneTest::SetUp()
{
    view_ = CreateControlledView();
    ASSERT_TRUE(view_.view.frame && view_.view.hostPane);
    ASSERT_TRUE(view_.controller != NULL);
    pane_ = CreateRecordedPane(view_.controller);
    ASSERT_TRUE(pane_ != NULL);
    ASSERT_TRUE(OriginalProc(pane_) != NULL) << "the recorder did not catch the pane's creation";
    hostsim::ClearHostCommandLog();
    g_recorded.clear();
}

void PaneTest::TearDown()
{
    if (view_.view.frame && IsWindow(view_.view.frame))
        DestroyWindow(view_.view.frame);
    hostsim::PumpMessages();
    g_recorded.clear();
}

}  // namespace panetest
