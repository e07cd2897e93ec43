// What a user does with the host's windows, and what the host reads back from them.
#include "hostsim/host_sim.h"

#include <richedit.h>

namespace hostsim {

int ButtonCount(HWND toolbar)
{
    return static_cast<int>(SendMessageA(toolbar, TB_BUTTONCOUNT, 0, 0));
}

TBBUTTON ButtonAt(HWND toolbar, int index)
{
    TBBUTTON button;
    ZeroMemory(&button, sizeof button);
    SendMessageA(toolbar, TB_GETBUTTON, index, reinterpret_cast<LPARAM>(&button));
    return button;
}

TBBUTTON ToggleButton(HWND toolbar)
{
    TBBUTTON found;
    ZeroMemory(&found, sizeof found);
    int count = ButtonCount(toolbar);
    for (int i = 0; i < count; ++i) {
        TBBUTTON button = ButtonAt(toolbar, i);
        if (button.fsStyle & TBSTYLE_CHECK)
            found = button;
    }
    return found;
}

void ClickButton(HWND toolbar, int commandId)
{
    int index = static_cast<int>(SendMessageA(toolbar, TB_COMMANDTOINDEX, commandId, 0));
    RECT rect;
    ZeroMemory(&rect, sizeof rect);
    SendMessageA(toolbar, TB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&rect));
    LPARAM point = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    SendMessageA(toolbar, WM_MOUSEMOVE, 0, point);
    SendMessageA(toolbar, WM_LBUTTONDOWN, MK_LBUTTON, point);
    SendMessageA(toolbar, WM_LBUTTONUP, 0, point);
}

std::string EnterText(HWND edit, const char* text)
{
    SetWindowTextA(edit, text);
    PumpMessages();
    char held[1024] = {0};
    GetWindowTextA(edit, held, sizeof held);
    return held;
}

HWND UnicodePane(const ViewWindow& view)
{
    for (HWND child = GetWindow(view.hostView, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (child != view.hostPane)
            return child;
    return NULL;
}

LRESULT RichEditLength(HWND richEdit)
{
    GETTEXTLENGTHEX length;
    length.flags = GTL_DEFAULT | GTL_NUMCHARS;
    length.codepage = 1200;
    return SendMessageA(richEdit, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0);
}

std::wstring RichEditText(HWND richEdit)
{
    // Asked in UTF-16 explicitly: a control subclassed through the ANSI functions would
    // answer WM_GETTEXT from outside through the ANSI code page (932).
    LRESULT units = RichEditLength(richEdit);
    if (units < 0)
        return std::wstring();
    std::vector<wchar_t> text(static_cast<size_t>(units) + 1, L'\0');
    GETTEXTEX get;
    ZeroMemory(&get, sizeof get);
    get.cb = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    get.flags = GT_DEFAULT;
    get.codepage = 1200;
    SendMessageA(richEdit, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get), reinterpret_cast<LPARAM>(&text[0]));
    return std::wstring(&text[0]);
}

}  // namespace hostsim
