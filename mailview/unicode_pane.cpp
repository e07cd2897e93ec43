// The Unicode pane: a rich-edit control of the plug-in's own over the host's ANSI pane.
#include "mailview/unicode_pane.h"

#include <windowsx.h>

#include <cstring>
#include <cwchar>

#include "mailview/mail_view_win_hook.h"
#include "mailview/pane_fonts.h"
#include "mailview/pane_reading.h"
#include "mailview/pane_text.h"
#include "base/module.h"
#include "base/scoped.h"
#include "resources/resource_ids.h"
#include "trace/boundary_guard.h"
#include "winhook/win_hook.h"

HMODULE g_richEditLibrary = NULL;
DWORD g_richEditVersion = 3;

static_assert(sizeof(CHARFORMAT2A) == 84, "the ANSI character format of rich edit 2.0");
static_assert(sizeof(PARAFORMAT2) == 188, "the paragraph format of rich edit 2.0");
static_assert(sizeof(wchar_t) == 2, "UTF-16 code units");

namespace {

const DWORD kPaneStyle = WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_AUTOVSCROLL | ES_MULTILINE;
const DWORD kParaMaskGet = PFM_ALL | PFM_BORDER;
// PFM_ALL without PFM_OFFSETINDENT: with it the control adds dxStartIndent to the start
// indent that PFM_STARTINDENT has just set, and the pane would be indented twice.
const DWORD kParaMaskSet = PFM_ALL & ~static_cast<DWORD>(PFM_OFFSETINDENT);
const LONG kPaneIndent = 100;   // twips, left and right
// A mail may be far longer than the control's default limit of 32767 characters.
const LPARAM kPaneTextLimit = 0x7FFFFFFE;
const wchar_t kQuotePrefix[] = L"> ";

// The pane's own procedure, kept on the window itself: the pane's last messages arrive
// after its controller has left the registry and may have been freed.
const char kPreviousProcProperty[] = "Velmora.PanePreviousProc";

struct ForwardedCommand {
    WORD paneCommand;
    WORD hostCommand;
};

// The host handles these as its own menu commands when they reach the view window.
const ForwardedCommand kForwardedCommands[] = {
    {IDM_PANE_REPLY, 32775},   {IDM_PANE_FORWARD, 32776}, {IDM_PANE_MARKING, 32801},
    {IDM_PANE_SORTING, 32802}, {IDM_PANE_TRASH, 32782},   {IDM_PANE_ADDRESS_BOOK, 32799},
};

const wchar_t* ChooseRichEditClass()
{
    if (!g_richEditLibrary) {
        g_richEditLibrary = LoadLibraryA("Msftedit.dll");
        if (g_richEditLibrary) {
            g_richEditVersion = 5;
            return MSFTEDIT_CLASS;
        }
        // Kept whatever it is: while it is 0, the next pane tries both libraries again.
        g_richEditLibrary = LoadLibraryA("RICHED20.DLL");
    }
    return g_richEditVersion == 3 ? L"RichEdit20W" : MSFTEDIT_CLASS;
}

// EM_STREAMIN or EM_STREAMOUT with a cookie and its callback; dwError is not looked at.
LRESULT SendStream(HWND pane, UINT message, WPARAM format, void* cookie, EDITSTREAMCALLBACK callback)
{
    EDITSTREAM stream;
    std::memset(&stream, 0, sizeof stream);
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(cookie);
    stream.dwError = 0;
    stream.pfnCallback = callback;
    return SendMessageA(pane, message, format, reinterpret_cast<LPARAM>(&stream));
}

WNDPROC StoredPreviousProc(HWND pane)
{
    return reinterpret_cast<WNDPROC>(GetPropA(pane, kPreviousProcProperty));
}

// A selection that takes the control's final paragraph mark (select all does) streams it
// out as one more line break; the quoted copy ends where the selected text ends, without
// a prefix for that mark alone.
void DropFinalMarkPrefix(HWND pane, const CHARRANGE& range, const wchar_t* prefix, std::vector<wchar_t>* text)
{
    GETTEXTLENGTHEX question = {GTL_DEFAULT, 1200};
    LRESULT length = SendMessageA(pane, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&question), 0);
    if (length < 0 || range.cpMax <= length)
        return;
    // The text ends with the prefix and a line break, the prefix at a line's start.
    const size_t prefixLength = std::wcslen(prefix);
    const size_t size = text->size();
    if (size < prefixLength + 2 || (*text)[size - 2] != L'\r' || (*text)[size - 1] != L'\n')
        return;
    const size_t at = size - 2 - prefixLength;
    if (std::wmemcmp(text->data() + at, prefix, prefixLength) == 0 && (at == 0 || (*text)[at - 1] == L'\n'))
        text->erase(text->begin() + at, text->begin() + at + prefixLength);
}

void ShowContextMenu(HWND pane, LPARAM lParam)
{
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(pane, GWLP_HINSTANCE));
    ScopedMenu menu(LoadMenuA(instance, MAKEINTRESOURCEA(IDM_PANE_MENU)));
    HMENU popup = menu.IsValid() ? GetSubMenu(menu.Get(), 0) : NULL;
    if (!popup)
        return;
    // Signed: under mouse capture a click left of or above the pane is negative.
    POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ClientToScreen(pane, &point);
    // The chosen entry comes back to the pane as a WM_COMMAND of its own.
    TrackPopupMenu(popup, 0, point.x, point.y, 0, pane, NULL);
}

void RunPaneCommand(const MailViewWinHook* controller, HWND pane, WORD command)
{
    switch (command) {
    case IDM_PANE_COPY:
        CopyToClipboard(pane, NULL);
        return;
    case IDM_PANE_QUOTED_COPY:
        CopyToClipboard(pane, kQuotePrefix, controller->paneBodyStart);
        return;
    case IDM_PANE_SELECT_ALL:
        SelectAllText(pane);
        return;
    default:
        break;
    }
    for (size_t i = 0; i < sizeof kForwardedCommands / sizeof kForwardedCommands[0]; ++i) {
        if (kForwardedCommands[i].paneCommand == command) {
            PostMessageA(controller->hwnd, WM_COMMAND,
                         MAKEWPARAM(kForwardedCommands[i].hostCommand, 0), 0);
            return;
        }
    }
}

// The pane's parent, the host's view, is where rich edit sends its link notifications: it
// gets a procedure of ours in front of its own, kept on the window as the pane's is.
const char kViewPreviousProcProperty[] = "Velmora.ViewPreviousProc";

LRESULT CALLBACK PaneParentWndProc(HWND view, UINT message, WPARAM wParam, LPARAM lParam)
{
    WNDPROC previous = reinterpret_cast<WNDPROC>(GetPropA(view, kViewPreviousProcProperty));
    if (message == WM_NOTIFY && lParam) {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        // The host's own pane may send them too: only a pane of ours is followed.
        if (header->code == EN_LINK && FindControllerByPane(header->hwndFrom))
            Guarded("PaneParentWndProc",
                    [&] { FollowLinkEvent(header->hwndFrom, *reinterpret_cast<const ENLINK*>(lParam)); }, [] {});
    } else if (message == WM_NCDESTROY) {
        RemovePropA(view, kViewPreviousProcProperty);
    }
    return previous ? CallWindowProcA(previous, view, message, wParam, lParam)
                    : DefWindowProcA(view, message, wParam, lParam);
}

// Once per view, whatever number of panes it has over its life.
void WatchPaneParent(HWND view)
{
    if (!view || GetPropA(view, kViewPreviousProcProperty))
        return;
    LONG_PTR previous = GetWindowLongPtrA(view, GWLP_WNDPROC);
    if (previous && reinterpret_cast<WNDPROC>(previous) != PaneParentWndProc &&
        SetPropA(view, kViewPreviousProcProperty, reinterpret_cast<HANDLE>(previous)))
        SetWindowLongPtrA(view, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PaneParentWndProc));
}

}  // namespace

void CreateUnicodePane(MailViewWinHook* controller)
{
    if (!controller)
        return;
    const wchar_t* className = ChooseRichEditClass();
    HWND pane = CreateWindowExW(WS_EX_CLIENTEDGE, className, L"", kPaneStyle, 0, 0, 0, 0,
                                controller->hostView, reinterpret_cast<HMENU>(1), g_hInstance, NULL);
    controller->unicodePane = pane;
    if (!pane)
        return;
    SetUpPaneFromHost(pane, controller->hostPane);
    WatchPaneParent(controller->hostView);
    WNDPROC previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(pane, GWLP_WNDPROC));
    controller->paneWndProc = previous;
    if (!previous)
        return;
    SetPropA(pane, kPreviousProcProperty, reinterpret_cast<HANDLE>(previous));
    // Installed through the ANSI function: previous is always called through CallWindowProcA.
    SetWindowLongPtrA(pane, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(UnicodePaneWndProc));
}

int SetUpPaneFromHost(HWND pane, HWND hostPane)
{
    CopyTextFormats(hostPane, pane, TRUE);
    SendMessageA(pane, EM_EXLIMITTEXT, 0, kPaneTextLimit);
    // Read-only: there is nothing to undo, and each stream-in empties the record. Not 0:
    // Wine's rich edit then loses every line break it deletes (the record would own it).
    SendMessageA(pane, EM_SETUNDOLIMIT, 1, 0);
    SendMessageA(pane, EM_AUTOURLDETECT, 1, 0);
    // A click on a link the control detected is told to its parent.
    SendMessageA(pane, EM_SETEVENTMASK, 0, SendMessageA(pane, EM_GETEVENTMASK, 0, 0) | ENM_LINK);
    SendMessageA(pane, EM_SETREADONLY, 1, 0);
    // The host pane answers its colour only by being given another: it gets its own back.
    LRESULT colour = SendMessageA(hostPane, EM_SETBKGNDCOLOR, 0, RGB(255, 255, 255));
    SendMessageA(hostPane, EM_SETBKGNDCOLOR, 0, colour);
    SendMessageA(pane, EM_SETBKGNDCOLOR, 0, colour);
    return 1;
}

void CopyTextFormats(HWND source, HWND target, BOOL applyToSelection)
{
    // The ANSI record serves both controls: rich edit tells the forms apart by cbSize.
    CHARFORMAT2A character;
    std::memset(&character, 0, sizeof character);
    character.cbSize = sizeof character;
    if (!SendMessageA(source, EM_GETCHARFORMAT, SCF_SELECTION,
                      reinterpret_cast<LPARAM>(&character)))
        return;
    // The host shows the caret's format; the whole mail must not come out bold.
    character.dwMask |= CFM_BOLD;
    character.dwEffects &= ~static_cast<DWORD>(CFE_BOLD);
    WPARAM scope = applyToSelection ? (SCF_SELECTION | SCF_WORD) : SCF_DEFAULT;
    if (!SendMessageA(target, EM_SETCHARFORMAT, scope, reinterpret_cast<LPARAM>(&character)))
        return;

    PARAFORMAT2 paragraph;
    std::memset(&paragraph, 0, sizeof paragraph);
    paragraph.cbSize = sizeof paragraph;
    paragraph.dwMask = kParaMaskGet;
    if (!SendMessageA(source, EM_GETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&paragraph)))
        return;
    paragraph.dxStartIndent = kPaneIndent;
    paragraph.dxRightIndent = kPaneIndent;
    paragraph.dwMask = kParaMaskSet;
    if (SendMessageA(target, EM_SETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&paragraph)))
        SendMessageA(target, EM_AUTOURLDETECT, 1, 0);
}

LRESULT StreamInText(const wchar_t* text, HWND pane)
{
    if (!text)
        text = L"";
    // A full stream-in puts the control's default paragraph format on the new text, and
    // formatting it afterwards is a pass over every paragraph. The pane is emptied instead,
    // its formats are put on the caret of the one empty paragraph, and the text goes in
    // at the caret: each paragraph it adds takes the format of the one it splits.
    PARAFORMAT2 paragraph;
    std::memset(&paragraph, 0, sizeof paragraph);
    paragraph.cbSize = sizeof paragraph;
    paragraph.dwMask = kParaMaskSet;
    bool keepParagraph =
        SendMessageA(pane, EM_GETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&paragraph)) != 0;
    CHARFORMAT2A character;
    std::memset(&character, 0, sizeof character);
    character.cbSize = sizeof character;
    bool keepCharacter =
        SendMessageA(pane, EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&character)) != 0;

    StreamInCookie nothing = {L"", 0, 0};
    SendStream(pane, EM_STREAMIN, SF_TEXT | SF_UNICODE, &nothing, StreamInCallback);
    if (keepParagraph) {
        paragraph.dwMask = kParaMaskSet;
        SendMessageA(pane, EM_SETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&paragraph));
    }
    // Text streamed in at the caret takes the caret's format, not the default one.
    if (keepCharacter)
        SendMessageA(pane, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&character));
    StreamInCookie cookie;
    cookie.position = text;
    cookie.remaining = static_cast<DWORD>(std::wcslen(text));
    cookie.halfSent = 0;
    LRESULT result =
        SendStream(pane, EM_STREAMIN, SFF_SELECTION | SF_TEXT | SF_UNICODE, &cookie, StreamInCallback);
    ApplyFallbackFaces(pane);
    CHARRANGE start = {0, 0};
    SendMessageA(pane, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&start));
    SendMessageA(pane, EM_EMPTYUNDOBUFFER, 0, 0);
    return result;
}

namespace {

DWORD ServeStreamIn(DWORD_PTR cookieValue, LPBYTE buffer, LONG bytes, LONG* done)
{
    if (done)
        *done = 0;
    StreamInCookie* cookie = reinterpret_cast<StreamInCookie*>(cookieValue);
    if (!cookie || !buffer || !done || bytes <= 0 || cookie->remaining == 0)
        return 0;
    // Byte-wise, so that an odd request (even one byte) is served and does not read as
    // the end of the stream; a code unit may then be split between two calls.
    unsigned long long left =
        static_cast<unsigned long long>(cookie->remaining) * 2 - cookie->halfSent;
    DWORD count = left < static_cast<unsigned long long>(bytes) ? static_cast<DWORD>(left)
                                                                  : static_cast<DWORD>(bytes);
    // A CR LF pair split between two reads comes out as two line breaks: the CR waits
    // for the next call when the chunk holds more than it.
    DWORD end = cookie->halfSent + count;
    if (count > 2 && end % 2 == 0 && end / 2 < cookie->remaining &&
        cookie->position[end / 2 - 1] == L'\r' && cookie->position[end / 2] == L'\n')
        count -= 2;
    std::memcpy(buffer, reinterpret_cast<const BYTE*>(cookie->position) + cookie->halfSent, count);
    DWORD sent = cookie->halfSent + count;
    cookie->position += sent / 2;
    cookie->remaining -= sent / 2;
    cookie->halfSent = static_cast<unsigned char>(sent % 2);
    *done = static_cast<LONG>(count);
    return 0;
}

DWORD TakeStreamOut(StreamOutCookie* cookie, LPBYTE buffer, LONG bytes, LONG* done)
{
    LONG units = buffer && bytes > 0 ? bytes / 2 : 0;
    for (LONG i = 0; i < units; ++i) {
        wchar_t c;
        std::memcpy(&c, buffer + 2 * i, sizeof c);
        if (cookie->atLineStart) {
            if (cookie->prefix)
                for (const wchar_t* p = cookie->prefix; *p; ++p)
                    cookie->text.push_back(*p);
            cookie->atLineStart = 0;
        }
        if (c == L'\n')
            cookie->atLineStart = 1;
        cookie->text.push_back(c);
    }
    if (done)
        *done = bytes;
    return 0;
}

}  // namespace

DWORD CALLBACK StreamInCallback(DWORD_PTR cookieValue, LPBYTE buffer, LONG bytes, LONG* done)
{
    return Guarded("StreamInCallback", [&] { return ServeStreamIn(cookieValue, buffer, bytes, done); },
                   [] { return DWORD(1); });
}

DWORD CALLBACK StreamOutCallback(DWORD_PTR cookieValue, LPBYTE buffer, LONG bytes, LONG* done)
{
    if (done)
        *done = 0;
    StreamOutCookie* cookie = reinterpret_cast<StreamOutCookie*>(cookieValue);
    if (!cookie || cookie->failed)
        return 1;
    // Out of memory, say: a part of the text must not reach the clipboard as the whole.
    return Guarded("StreamOutCallback", [&] { return TakeStreamOut(cookie, buffer, bytes, done); },
                   [&] {
                       cookie->failed = 1;
                       std::vector<wchar_t>().swap(cookie->text);
                       return DWORD(1);
                   });
}

LRESULT CALLBACK UnicodePaneWndProc(HWND pane, UINT message, WPARAM wParam, LPARAM lParam)
{
    MailViewWinHook* controller = FindControllerByPane(pane);
    WNDPROC previous = controller ? controller->paneWndProc : NULL;
    if (!previous)
        previous = StoredPreviousProc(pane);
    if (!previous)
        return DefWindowProcA(pane, message, wParam, lParam);

    if (message == WM_NCDESTROY) {
        RemovePropA(pane, kPreviousProcProperty);
        // A controller that outlives its pane makes a new one at the next toggle.
        if (controller) {
            controller->unicodePane = NULL;
            controller->paneWndProc = NULL;
        }
    } else if (controller && message == WM_RBUTTONDOWN) {
        // The menu's loop may destroy the view and free the controller: nothing of it is
        // used afterwards, and a pane that has gone gets nothing more.
        Guarded("UnicodePaneWndProc", [&] { ShowContextMenu(pane, lParam); }, [] {});
        if (!IsWindow(pane))
            return 0;
    } else if (controller && message == WM_COMMAND) {
        Guarded("UnicodePaneWndProc", [&] { RunPaneCommand(controller, pane, LOWORD(wParam)); }, [] {});
    } else if (controller && message == WM_KEYDOWN) {
        // The find box's loop may destroy the view, as the menu's may.
        if (Guarded("UnicodePaneWndProc", [&] { return HandleFindKey(pane, wParam); }, [] { return false; }))
            return 0;
    } else if (message == WM_LBUTTONUP) {
        // A press the control reported on a link ends with the button, on a link or not.
        LRESULT result = CallWindowProcA(previous, pane, message, wParam, lParam);
        ForgetPressedLink();
        return result;
    }
    return CallWindowProcA(previous, pane, message, wParam, lParam);
}

MailViewWinHook* FindControllerByPane(HWND pane)
{
    // Folder controllers have no pane: a null window is nobody's pane.
    if (!pane)
        return NULL;
    for (size_t i = 0; i < g_winHookRegistry.size(); ++i) {
        MailViewWinHook* controller = dynamic_cast<MailViewWinHook*>(g_winHookRegistry[i]);
        if (controller && controller->unicodePane == pane)
            return controller;
    }
    return NULL;
}

namespace {

// The text from a position on (of the selection, or without one to the end), into the
// cookie as the stream-out gives it. It is read, never selected: a selection made for the
// copy would scroll the view, and rich edit puts a selection back only forwards. False
// when nothing lies there.
bool ReadTextFrom(HWND pane, const CHARRANGE& range, LONG from, StreamOutCookie* cookie)
{
    std::wstring text;
    if (!ReadPaneText(pane, &text))
        return false;
    const LONG length = static_cast<LONG>(text.size());
    const bool selected = range.cpMin != range.cpMax;
    const LONG begin = selected && range.cpMin > from ? range.cpMin : from;
    // A selection may take the control's final paragraph mark, which the text leaves out.
    LONG end = length;
    if (selected && range.cpMax >= 0 && range.cpMax <= length)
        end = range.cpMax;
    else if (selected)
        end = length + 1;
    if (end <= begin)
        return false;
    // A paragraph mark is one CR in the text, a CR LF in the stream-out.
    std::vector<wchar_t> units;
    for (LONG at = begin; at < end; ++at) {
        const wchar_t c = at < length ? text[static_cast<size_t>(at)] : L'\r';   // past it: the final mark
        units.push_back(c);
        if (c == L'\r')
            units.push_back(L'\n');
    }
    TakeStreamOut(cookie, reinterpret_cast<LPBYTE>(&units[0]), static_cast<LONG>(units.size() * sizeof(wchar_t)), NULL);
    return true;
}

}  // namespace

void CopyToClipboard(HWND pane, const wchar_t* prefix, LONG from)
{
    CHARRANGE range;
    range.cpMin = 0;
    range.cpMax = 0;
    SendMessageA(pane, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
    StreamOutCookie cookie;
    cookie.atLineStart = 1;
    cookie.prefix = prefix;
    cookie.failed = 0;
    if (from > 0) {
        if (!ReadTextFrom(pane, range, from, &cookie))
            return;
    } else {
        WPARAM format = range.cpMin != range.cpMax ? (SFF_SELECTION | SF_UNICODE | SF_TEXT) : (SF_UNICODE | SF_TEXT);
        SendStream(pane, EM_STREAMOUT, format, &cookie, StreamOutCallback);
    }
    if (cookie.failed || cookie.text.empty())
        return;
    if (prefix && range.cpMin != range.cpMax)
        DropFinalMarkPrefix(pane, range, prefix, &cookie.text);
    // The zeroed block ends with the terminator.
    SIZE_T size = cookie.text.size() * sizeof(wchar_t);
    ScopedGlobalMemory block(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size + sizeof(wchar_t)));
    {
        ScopedGlobalLock memory(block.Get());
        if (!memory.Get())
            return;
        std::memcpy(memory.Get(), cookie.text.data(), size);
    }
    ScopedClipboard clipboard(pane);
    if (!clipboard.IsOpen())
        return;
    EmptyClipboard();
    // The clipboard owns the block only once it has taken it.
    if (SetClipboardData(CF_UNICODETEXT, block.Get()))
        block.Release();
}

void SelectAllText(HWND pane)
{
    CHARRANGE range;
    range.cpMin = 0;
    range.cpMax = -1;
    SendMessageA(pane, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
}
