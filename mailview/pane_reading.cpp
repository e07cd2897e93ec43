// Links that open and a find box for the Unicode pane.
#include "mailview/pane_reading.h"
#include "mailview/pane_text.h"

#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "base/module.h"
#include "resources/resource_ids.h"
#include "trace/boundary_guard.h"

namespace {

const int kFindTextUnits = 1024;            // the longest text the find box takes
const int kNoteUnits = 128;                 // the find box's notes, as the resources hold them

bool OpenWithSystem(const wchar_t* address)
{
    SHELLEXECUTEINFOW open;
    std::memset(&open, 0, sizeof open);
    open.cbSize = sizeof open;
    // A failure shows no box of the shell's own: a user clicking on would get one each time.
    open.fMask = SEE_MASK_FLAG_NO_UI;
    open.lpVerb = L"open";
    open.lpFile = address;
    open.nShow = SW_SHOWNORMAL;
    return ShellExecuteExW(&open) != FALSE;
}

bool HasOpenableScheme(const std::wstring& address)
{
    static const wchar_t* const kSchemes[] = {L"http:", L"https:", L"mailto:"};
    for (const wchar_t* scheme : kSchemes) {
        const size_t length = std::wcslen(scheme);
        if (address.size() <= length)
            continue;
        size_t i = 0;
        // Schemes are ASCII and compared without case.
        while (i < length && (address[i] | (address[i] >= L'A' && address[i] <= L'Z' ? 0x20 : 0)) == scheme[i])
            ++i;
        if (i == length)
            return true;
    }
    return false;
}

// No control character, blank, invisible or direction mark, or lone surrogate: such an
// address is not the one the reader sees.
bool IsWellFormed(const std::wstring& address)
{
    std::vector<WORD> types(address.size(), 0);
    if (!GetStringTypeW(CT_CTYPE1, address.data(), static_cast<int>(address.size()), types.data()))
        return false;
    for (size_t i = 0; i < address.size(); ++i) {
        const wchar_t c = address[i];
        if ((types[i] & (C1_CNTRL | C1_SPACE | C1_BLANK)) || (c >= 0x200B && c <= 0x200F) ||
            (c >= 0x202A && c <= 0x202E) || (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF)
            return false;
        if (c >= 0xDC00 && c <= 0xDFFF)
            return false;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 == address.size() || address[i + 1] < 0xDC00 || address[i + 1] > 0xDFFF)
                return false;
            ++i;
        }
    }
    return true;
}

// The link the left button went down on, until it comes up. One mouse: one record.
struct PressedLink {
    HWND pane;
    CHARRANGE range;
};
PressedLink g_pressedLink;

// The last text searched for, kept for F3 after the box has closed, and for the next box.
struct FindRequest {
    std::wstring text;
    bool matchCase;
};
FindRequest g_lastFind;

enum FindResult { kFound, kFoundAfterWrapping, kNotFound };

// Every letter of a script with case in its upper case, one code unit for one, so that
// positions stay those of the pane.
bool FoldCase(std::wstring* text)
{
    if (text->empty())
        return true;
    std::wstring folded(text->size(), L'\0');
    const int length = static_cast<int>(text->size());
    // Linguistic casing gives the final sigma its capital too; a system without it folds the rest.
    const DWORD kinds[] = {LCMAP_UPPERCASE | LCMAP_LINGUISTIC_CASING, LCMAP_UPPERCASE};
    for (DWORD kind : kinds) {
        if (LCMapStringW(LOCALE_INVARIANT, kind, text->data(), length, &folded[0], length) == length) {
            text->swap(folded);
            return true;
        }
    }
    return false;
}

// Selects the next match after the selection (forward) or the last one before it, going
// round the text's end once, and scrolls it into view. No match leaves the selection.
FindResult FindInPane(HWND pane, const FindRequest& request, bool forward)
{
    std::wstring text;
    if (request.text.empty() || !ReadPaneText(pane, &text))
        return kNotFound;
    std::wstring pattern = request.text;
    // Without its folded form a text is compared as it is.
    if (!request.matchCase) {
        std::wstring foldedText = text, foldedPattern = pattern;
        if (FoldCase(&foldedText) && FoldCase(&foldedPattern)) {
            text.swap(foldedText);
            pattern.swap(foldedPattern);
        }
    }
    CHARRANGE selection = {0, 0};
    SendMessageA(pane, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    // A selection to the end (-1) ends with the text.
    const size_t start = selection.cpMin < 0 ? 0 : std::min(static_cast<size_t>(selection.cpMin), text.size());
    const size_t end = selection.cpMax < 0 ? text.size() : std::min(static_cast<size_t>(selection.cpMax), text.size());
    size_t at = forward ? text.find(pattern, end) : start > 0 ? text.rfind(pattern, start - 1) : std::wstring::npos;
    const bool wrapped = at == std::wstring::npos;
    if (wrapped)
        at = forward ? text.find(pattern) : text.rfind(pattern);
    if (at == std::wstring::npos)
        return kNotFound;
    CHARRANGE match = {static_cast<LONG>(at), static_cast<LONG>(at + pattern.size())};
    SendMessageA(pane, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&match));
    SendMessageA(pane, EM_SCROLLCARET, 0, 0);
    return wrapped ? kFoundAfterWrapping : kFound;
}

// Enter or "次を検索" in the box: the text typed and the case option are searched for from
// the pane's caret on, and the box says when it went round or found nothing.
void SearchFromBox(HWND box)
{
    HWND pane = reinterpret_cast<HWND>(GetWindowLongPtrW(box, DWLP_USER));
    wchar_t typed[kFindTextUnits + 1] = {0};
    GetDlgItemTextW(box, IDC_FIND_TEXT, typed, kFindTextUnits + 1);
    if (!typed[0])
        return;
    g_lastFind.text = typed;
    g_lastFind.matchCase = IsDlgButtonChecked(box, IDC_FIND_CASE) == BST_CHECKED;
    // The host may have closed the view, or a long mail made the pane anew, meanwhile.
    if (!IsWindow(pane)) {
        EndDialog(box, IDCANCEL);
        return;
    }
    const FindResult result = FindInPane(pane, g_lastFind, true);
    wchar_t note[kNoteUnits] = {0};
    if (result != kFound)
        LoadStringW(g_hInstance, result == kNotFound ? IDS_FIND_NOT_FOUND : IDS_FIND_WRAPPED, note, kNoteUnits);
    SetDlgItemTextW(box, IDC_FIND_NOTE, note);
}

// Top right over the pane: the matches it selects lie mostly to the left and below.
void PlaceBox(HWND box, HWND pane)
{
    RECT over, own;
    if (!GetWindowRect(pane, &over) || !GetWindowRect(box, &own))
        return;
    SetWindowPos(box, NULL, over.right - (own.right - own.left) - 24, over.top + 8, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK FindBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam)
{
    return Guarded("FindBoxProc",
                   [&]() -> INT_PTR {
                       if (message == WM_INITDIALOG) {
                           SetWindowLongPtrW(box, DWLP_USER, lParam);
                           SendDlgItemMessageW(box, IDC_FIND_TEXT, EM_LIMITTEXT, kFindTextUnits, 0);
                           SetDlgItemTextW(box, IDC_FIND_TEXT, g_lastFind.text.c_str());
                           CheckDlgButton(box, IDC_FIND_CASE, g_lastFind.matchCase ? BST_CHECKED : BST_UNCHECKED);
                           PlaceBox(box, reinterpret_cast<HWND>(lParam));
                           return TRUE;
                       }
                       if (message != WM_COMMAND)
                           return FALSE;
                       if (LOWORD(wParam) == IDOK)
                           SearchFromBox(box);
                       else if (LOWORD(wParam) == IDCANCEL)
                           EndDialog(box, IDCANCEL);
                       return TRUE;
                   },
                   [] { return INT_PTR(FALSE); });
}

// Modal, with a message loop of its own: its keys work whatever loop the host runs.
void OpenFindBox(HWND pane)
{
    // The match stays seen while the box has the keyboard.
    SendMessageA(pane, EM_SETOPTIONS, ECOOP_OR, ECO_NOHIDESEL);
    DialogBoxParamW(g_hInstance, MAKEINTRESOURCEW(IDD_FIND), GetAncestor(pane, GA_ROOT), FindBoxProc,
                    reinterpret_cast<LPARAM>(pane));
    if (IsWindow(pane))
        SendMessageA(pane, EM_SETOPTIONS, ECOOP_AND, static_cast<LPARAM>(~static_cast<DWORD>(ECO_NOHIDESEL)));
}

}  // namespace

LinkOpener g_linkOpener = OpenWithSystem;

void FollowLinkEvent(HWND pane, const ENLINK& link)
{
    if (link.msg == WM_LBUTTONDOWN) {
        g_pressedLink.pane = pane;
        g_pressedLink.range = link.chrg;
        return;
    }
    if (link.msg != WM_LBUTTONUP)
        return;
    const PressedLink pressed = g_pressedLink;
    ForgetPressedLink();
    CHARRANGE selection = {0, 0};
    SendMessageA(pane, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    // A drag that selected text, or that began elsewhere, is no click on the link.
    if (pressed.pane != pane || pressed.range.cpMin != link.chrg.cpMin || pressed.range.cpMax != link.chrg.cpMax ||
        selection.cpMin != selection.cpMax)
        return;
    std::wstring text;
    if (!ReadPaneText(pane, &text) || link.chrg.cpMin < 0 || link.chrg.cpMin >= link.chrg.cpMax ||
        static_cast<size_t>(link.chrg.cpMax) > text.size())
        return;
    const std::wstring address = text.substr(link.chrg.cpMin, link.chrg.cpMax - link.chrg.cpMin);
    if (HasOpenableScheme(address) && IsWellFormed(address) && g_linkOpener)
        g_linkOpener(address.c_str());
}

void ForgetPressedLink()
{
    g_pressedLink.pane = NULL;
    g_pressedLink.range.cpMin = g_pressedLink.range.cpMax = 0;
}

bool HandleFindKey(HWND pane, WPARAM key)
{
    const bool control = GetKeyState(VK_CONTROL) < 0;
    const bool shift = GetKeyState(VK_SHIFT) < 0;
    if (GetKeyState(VK_MENU) < 0 || !(key == 'F' ? control && !shift : key == VK_F3 && !control))
        return false;
    if (key == 'F' || g_lastFind.text.empty())
        OpenFindBox(pane);
    else if (FindInPane(pane, g_lastFind, !shift) == kNotFound)
        MessageBeep(MB_OK);
    return true;
}
