#include "mailview/mail_view_controller.h"

#include <cstring>
#include <string>

#include "mailview/mail_file.h"
#include "mailview/mail_header.h"
#include "mailview/mailtext/common/ascii.h"
#include "mailview/mailtext/html/html_text.h"
#include "mailview/mailtext/mime/mail_text.h"
#include "mailview/unicode_pane.h"
#include "base/module.h"
#include "resources/resource_ids.h"
#include "trace/boundary_guard.h"

HostCommandId g_toggleCommandId;
TBADDBITMAP g_toolbarBitmap;
MailViewOptions g_mailViewOptions;

#ifdef _WIN64
static_assert(sizeof(TBBUTTON) == 32, "the toolbar's button record on 64-bit Windows");
#else
static_assert(sizeof(TBBUTTON) == 20, "the toolbar's button record on 32-bit Windows");
#endif

namespace {

// Loads of every view, counted: a view's last load has a number no other load had, so a
// message posted for an earlier load, or for a destroyed view whose handle came back, is
// told apart.
ULONG g_loadCount;

// The message a load posts to its view when the Unicode view opens by itself: its wParam
// is the number of that load. 0 until the first such load registers it.
UINT g_autoShowMessage;
void AutoShowArrived(MailViewWinHook* controller, WPARAM loadNumber);

ULONG NextLoadNumber()
{
    if (++g_loadCount == 0)
        ++g_loadCount;
    return g_loadCount;
}

MailViewWinHook* FindController(HWND view)
{
    return dynamic_cast<MailViewWinHook*>(FindWinHook(view));
}

// Gives the toolbar the button's state as the record holds it.
LRESULT WriteButtonState(const MailViewWinHook* controller)
{
    // Without an identifier of its own the button would stand for the host's separator.
    if (!controller->toolbar || controller->button.idCommand == 0)
        return 0;
    return SendMessageA(controller->toolbar, TB_SETSTATE, static_cast<WPARAM>(controller->button.idCommand),
                        MAKELONG(controller->button.fsState, 0));
}

// Reads the button's state back: the toolbar toggles it on a click.
void ReadButtonState(MailViewWinHook* controller)
{
    if (!controller->toolbar || controller->button.idCommand == 0)
        return;
    LRESULT state = SendMessageA(controller->toolbar, TB_GETSTATE,
                                 static_cast<WPARAM>(controller->button.idCommand), 0);
    if (state >= 0)
        controller->button.fsState = static_cast<BYTE>(state & 0xFF);
}

// While set, a load's readings take a part as the host shows it: its header lines alone
// offer the mail.
bool g_hostReading;
struct HostReading {
    HostReading() { g_hostReading = true; }
    ~HostReading() { g_hostReading = false; }
};

// A part's charset as a press converts it: UTF-8, or with the opt-in charsets one of the
// table that this system has; 0 when the part is left to the host. Read as the host reads
// it, every charset has a code page.
UINT PartCodePage(const char* charset)
{
    if (CompareNameNoCase(charset, "utf-8") == 0)
        return CP_UTF8;
    const UINT codePage = g_mailViewOptions.charsets ? UsableCodePage(charset) : 0;
    return codePage || !g_hostReading ? codePage : HostReadingCodePage(charset);
}

// Reads the part a press shows, as the controller's record says, up to limit bytes of it.
void ExtractShownPart(MailViewWinHook* controller, MailBodyBuffer* body, size_t limit)
{
    if (controller->nestedPart)
        ExtractNestedTextPart(controller->hwnd, controller->boundary.Get(), body, limit, controller->htmlPart);
    else
        ExtractMailBody(controller->hwnd, controller->boundary.Get(), body, limit);
}

// The same at a load, from the head of the file the load read.
void ExtractLoadedPart(MailViewWinHook* controller, MailFileHead& file, MailBodyBuffer* body, size_t limit)
{
    if (controller->nestedPart)
        ExtractNestedTextPart(file, controller->boundary.Get(), body, limit, controller->htmlPart);
    else
        ExtractMailBody(file, controller->boundary.Get(), body, limit);
}

// What the UTF-8 scans take for the whole part: kUtf8ScanBytes of it, or as much as the
// head holds of a file longer than the head (0: any length is a prefix).
size_t ScanLimit(MailFileHead& file)
{
    return file.Cut() ? 0 : kUtf8ScanBytes;
}

// The code page of the text part a press shows (the record already says which): its
// charset's, and with the opt-in charsets UTF-8 where its label (none, us-ascii, one of the
// table's) can't decode the body and UTF-8 can. The body's first MB decides, as far as the
// head holds it. head, when given, holds that much of the part already.
UINT TextCodePage(MailViewWinHook* controller, MailFileHead& file, const char* charset,
                  const MailBodyBuffer* head = NULL)
{
    const UINT codePage = PartCodePage(charset);
    if (codePage == CP_UTF8 || !g_mailViewOptions.charsets || Utf8FallbackOf(charset) == NoUtf8Fallback)
        return codePage;
    MailBodyBuffer read;
    if (!head) {
        ExtractLoadedPart(controller, file, &read, kUtf8ScanBytes);
        head = &read;
    }
    return BodyReadsAsUtf8(charset, *head, ScanLimit(file)) ? CP_UTF8 : codePage;
}

bool IsHtmlType(const char* mediaType)
{
    return std::strcmp(mediaType, "text/html") == 0;
}

// A part without a type is plain text; only such a part may be found to be UTF-8 without
// naming a charset.
bool IsPlainType(const char* mediaType)
{
    return !mediaType[0] || std::strcmp(mediaType, "text/plain") == 0;
}

// The code page of the HTML part a press shows (the record already says which): its
// declared charset, or without one a meta element's in its first bytes; 0 when neither
// names one a press converts, and the mail stays with the host. A part that names none, or
// us-ascii, is read as UTF-8 when its bytes are valid UTF-8: its markup is the point.
UINT HtmlCodePage(MailViewWinHook* controller, MailFileHead& file, const char* declared)
{
    controller->htmlPart = 1;
    const bool ascii = CompareNameNoCase(declared, "us-ascii") == 0;
    if (declared[0] && !ascii && (!g_mailViewOptions.charsets || Utf8FallbackOf(declared) == NoUtf8Fallback))
        return PartCodePage(declared);
    MailBodyBuffer head;
    ExtractLoadedPart(controller, file, &head, kUtf8ScanBytes);
    char meta[kCharsetNameSize];
    const char* charset = declared;
    if (!declared[0] && head.size() >= 2 &&
        FindHtmlMetaCharset(reinterpret_cast<const char*>(&head[0]), head.size() - 1, meta, sizeof meta) == 1)
        charset = meta;
    if (!charset[0] || CompareNameNoCase(charset, "us-ascii") == 0) {
        const size_t length = head.empty() ? 0 : std::strlen(reinterpret_cast<const char*>(&head[0]));
        return length > 0 && ScanUtf8(&head[0], length, length >= ScanLimit(file), NULL) ? CP_UTF8
                                                                                       : PartCodePage(charset);
    }
    return TextCodePage(controller, file, charset, &head);
}

// Keeps the boundary a press walks the file from; false without memory for it.
bool KeepBoundary(MailViewWinHook* controller, const char* boundary)
{
    controller->boundary.Reset(CopyOfBytes(boundary, std::strlen(boundary)));
    return controller->boundary.IsValid();
}

// A multipart other than multipart/alternative, walked to its first text/plain part (with
// the HTML switch, to its first text/html part when it has none).
UINT NestedCodePage(MailViewWinHook* controller, MailFileHead& file, const ContentType& type)
{
    TextPart part;
    if (!type.boundary[0] || !FindNestedTextPart(file, type.boundary, &part, g_mailViewOptions.html))
        return 0;
    // The press walks the file again from the message's boundary; without memory for it
    // the mail stays with the host.
    if (!KeepBoundary(controller, type.boundary))
        return 0;
    controller->nestedPart = 1;
    return part.html ? HtmlCodePage(controller, file, part.charset) : TextCodePage(controller, file, part.charset);
}

// A multipart/alternative mail with its boundary: the classifier's rule (a part declares
// UTF-8, the first part shown), and with the opt-in readings the first part's charset as
// declared, its field folded with a space or a tab. A first part in HTML, with the HTML
// switch, is shown as its text.
UINT AlternativeCodePage(MailViewWinHook* controller, MailFileHead& file)
{
    ContentType first;
    const bool typed = FirstPartType(file, controller->boundary.Get(), &first);
    UINT codePage = 0;
    if (typed && g_mailViewOptions.html && IsHtmlType(first.mediaType))
        codePage = HtmlCodePage(controller, file, first.charset);
    else if (!typed || IsPlainType(first.mediaType))
        codePage = TextCodePage(controller, file, first.charset);
    else
        codePage = PartCodePage(first.charset);
    // The classifier's rule still offers what it offered: the first part read as UTF-8.
    if (!codePage && MultipartHasUtf8Part(file, controller->boundary.Get()))
        codePage = CP_UTF8;
    return codePage;
}

// What the mail offers with the opt-in readings on: its Content-Type read as MIME does, a
// continuation line beginning with a space or a tab. The class is the classifier's. The
// file, when a reading needs it, is read once, its head only.
UINT OptInCodePage(MailViewWinHook* controller, MailFileHead& file, const char* headerText, int kind)
{
    ContentType type;
    ReadHeaderContentType(headerText, &type);   // without a copy: empty, the class decides
    const bool multipart = IsMultipartType(type) != 0;
    // The host shows a multipart's first text part, and so does a press read as it reads.
    if (multipart && (g_mailViewOptions.nested || g_hostReading) &&
        std::strcmp(type.mediaType, "multipart/alternative") != 0) {
        // Whatever the classifier's substring search found ("type=multipart/alternative",
        // a charset parameter), the parts are what a press shows.
        return NestedCodePage(controller, file, type);
    }
    if (g_mailViewOptions.html && IsHtmlType(type.mediaType)) {
        // A single part: its body follows the message header, whatever boundary the
        // classifier's substring search took.
        controller->boundary.Reset();
        return HtmlCodePage(controller, file, type.charset);
    }
    if (kind == Utf8)
        return CP_UTF8;
    if (kind == MultipartAlternative) {
        // A boundary folded onto a line that begins with a space is lost to the classifier.
        if (!controller->boundary.IsValid() &&
            (!g_mailViewOptions.nested || !type.boundary[0] || !KeepBoundary(controller, type.boundary)))
            return 0;
        return AlternativeCodePage(controller, file);
    }
    if (multipart)
        return 0;
    return IsPlainType(type.mediaType) ? TextCodePage(controller, file, type.charset) : PartCodePage(type.charset);
}

DWORD LoadMailInto(MailViewWinHook* controller, const char* headerText)
{
    if (!controller->hostView) {
        controller->hostView = FindWindowExA(controller->hwnd, NULL, "AfxFrameOrView42s", NULL);
        if (!controller->hostView)
            return 0;
    }
    if (!controller->hostPane) {
        controller->hostPane = FindWindowExA(controller->hostView, NULL, "RichEdit20A", NULL);
        if (!controller->hostPane)
            return 0;
    }
    // The header text lives only for the load: its lines for the pane are kept now.
    controller->headerBlock.clear();
    if (g_mailViewOptions.headers)
        HeaderBlockForPane(headerText, &controller->headerBlock);
    // The reader frees the slot's old boundary and may store a new one.
    char* slot = controller->boundary.Release();
    int kind = ClassifyMailHeader(headerText ? headerText : "", &slot);
    controller->boundary.Reset(slot);
    UINT codePage = 0;
    controller->nestedPart = 0;
    controller->htmlPart = 0;
    MailFileHead file(controller->hwnd);
    if (g_mailViewOptions.nested || g_mailViewOptions.charsets || g_mailViewOptions.html) {
        codePage = OptInCodePage(controller, file, headerText, kind);
    } else if (kind == Utf8) {
        codePage = CP_UTF8;
    } else if (kind == MultipartAlternative && controller->boundary.IsValid()) {
        codePage = MultipartHasUtf8Part(controller->hwnd, controller->boundary.Get()) ? CP_UTF8 : 0;
    }
    // Header lines the host can't show offer the mail whatever its body, read then as the
    // host reads it.
    if (!codePage && HostLacksHeaderText(controller->headerBlock)) {
        controller->nestedPart = 0;
        controller->htmlPart = 0;
        HostReading reading;
        codePage = OptInCodePage(controller, file, headerText, kind);
    }
    bool utf8 = codePage != 0;
    controller->codePage = utf8 ? codePage : CP_UTF8;
    // A toggle that could not be added is tried again at the next UTF-8 mail.
    if (utf8 && !controller->buttonAdded)
        AddToggleButton(controller);
    controller->isUtf8 = utf8 ? 1 : 0;
    LRESULT result = SyncButtonState(controller, utf8);
    controller->loadNumber = NextLoadNumber();
    // Not pressed here: the host is still loading the mail. The message comes once it has
    // done, and only the last of a quick run of loads finds its number still current.
    if (utf8 && g_mailViewOptions.autoShow && controller->buttonAdded && controller->button.idCommand != 0) {
        if (!g_autoShowMessage) {
            g_autoShowMessage = RegisterWindowMessageA("Velmora.AutoShow");
            SetViewMessageHandler(g_autoShowMessage, AutoShowArrived);
        }
        if (g_autoShowMessage)
            PostMessageA(controller->hwnd, g_autoShowMessage, static_cast<WPARAM>(controller->loadNumber), 0);
    }
    return static_cast<DWORD>(result);
}

// Above this many code units the pane is made anew for another text rather than emptied:
// Wine's rich edit empties a text in a time that grows with its square (150-290 ms for
// 77,000 units here), where a new pane costs some 20 ms and the old one goes in one step.
const size_t kPaneTextEmptiedInPlace = 16384;

// A new pane is laid out over the host's before its first text goes in: at 0 x 0 text
// streamed into it would be wrapped a character per line first, which costs rich edit
// many times the stream-in itself. It is hidden for that: a visible window costs Wine
// some 15-30 ms more to move, and ShowPanes shows it afterwards.
void MakePane(MailViewWinHook* controller)
{
    CreateUnicodePane(controller);
    controller->paneText.clear();
    if (controller->unicodePane)
        ShowWindow(controller->unicodePane, SW_HIDE);
    LayoutPane(controller->hostPane, controller->unicodePane);
}

// Without a pane of our own the host's stays shown, and the button says so.
void ReleaseButton(MailViewWinHook* controller)
{
    controller->button.fsState &= static_cast<BYTE>(~TBSTATE_CHECKED);
    WriteButtonState(controller);
}

void ToggleView(MailViewWinHook* controller)
{
    if (!controller->unicodePane)
        MakePane(controller);
    ReadButtonState(controller);
    bool on = (controller->button.fsState & TBSTATE_CHECKED) != 0;
    if (on && !controller->unicodePane) {
        ReleaseButton(controller);
        on = false;
    }
    if (on) {
        std::wstring text;
        bool read;
        if (controller->htmlPart) {
            // Read a piece at a time: its text may begin megabytes in, after inline images.
            read = HtmlPartToPaneText(controller->hwnd, controller->boundary.Get(), controller->nestedPart,
                                      kPaneHtmlBytes, kPaneTextUnits, kPaneLineUnits, &text, controller->codePage);
        } else {
            // Only as much of the body as the pane can show is read, however large the mail.
            MailBodyBuffer body;
            ExtractShownPart(controller, &body, kPaneBodyBytes);
            read = !body.empty();
            if (body.size() > 1)
                BodyToPaneText(body, kPaneTextUnits, kPaneLineUnits, &text, controller->codePage);
        }
        // A quoted copy leaves the header lines out: a reply quotes the text.
        text.insert(0, controller->headerBlock);
        controller->paneBodyStart = static_cast<LONG>(controller->headerBlock.size());
        // The file is read at every press, but the text the pane holds already is not given
        // again: rich edit takes far longer to replace a long text than to take a new one.
        if (text != controller->paneText) {
            if (controller->paneText.size() > kPaneTextEmptiedInPlace) {
                // The pane's WM_NCDESTROY takes it out of the record.
                DestroyWindow(controller->unicodePane);
                MakePane(controller);
            }
            if (controller->unicodePane) {
                if (read)
                    CopyTextFormats(controller->hostPane, controller->unicodePane, FALSE);
                // Without readable text the pane is emptied: it must never show an earlier mail.
                StreamInText(text.c_str(), controller->unicodePane);
                controller->paneText.swap(text);
            } else {
                ReleaseButton(controller);
                on = false;
            }
        }
        LayoutPane(controller->hostPane, controller->unicodePane);
    }
    ShowPanes(controller->hostPane, controller->unicodePane, on);
}

// Presses the toggle for the load numbered, if it is still the view's last and offered.
void AutoShowArrived(MailViewWinHook* controller, WPARAM loadNumber)
{
    if (!controller->isView || !controller->isUtf8 || loadNumber != controller->loadNumber)
        return;
    // Pressed by the user in the meantime: the pane is shown already.
    ReadButtonState(controller);
    if (controller->button.fsState & TBSTATE_CHECKED) {
        controller->paneFocused = 0;
        return;
    }
    controller->button.fsState |= TBSTATE_CHECKED;
    WriteButtonState(controller);
    ToggleView(controller);
    // A keyboard reader goes on in the pane shown now, made anew or not: hiding or
    // destroying the one that had the focus left it with the view, or with no window.
    HWND focus = GetFocus();
    if (controller->paneFocused && controller->unicodePane && IsWindowVisible(controller->unicodePane) &&
        (focus == controller->hostView || focus == controller->hostPane ||
         (!focus && GetActiveWindow() == GetAncestor(controller->hwnd, GA_ROOT))))
        SetFocus(controller->unicodePane);
    controller->paneFocused = 0;
}

}  // namespace

DWORD LoadMail(HWND view, const char* headerText)
{
    MailViewWinHook* controller = FindController(view);
    if (!controller)
        return 0;
    if (!controller->isView)
        return 1;
    WinHookUse use(controller);
    return LoadMailInto(controller, headerText);
}

BOOL WINAPI ToggleUnicodeView(HWND view, LPARAM)
{
    return Guarded("ToggleUnicodeView",
                   [&] {
                       MailViewWinHook* controller = FindController(view);
                       if (controller && controller->isView && controller->isUtf8) {
                           WinHookUse use(controller);
                           // The user's press wins over a message still on its way.
                           controller->loadNumber = NextLoadNumber();
                           controller->paneFocused = 0;
                           ToggleView(controller);
                       }
                       return FALSE;
                   },
                   [] { return FALSE; });
}

void AddToggleButton(MailViewWinHook* controller)
{
    if (!controller->toolbar) {
        controller->toolbar = FindWindowExA(controller->hwnd, NULL, TOOLBARCLASSNAMEA, NULL);
        if (!controller->toolbar)
            return;
    }
    if (!g_toolbarBitmap.nID) {
        g_toolbarBitmap.hInst = NULL;
        g_toolbarBitmap.nID = reinterpret_cast<UINT_PTR>(
            LoadImageA(g_hInstance, MAKEINTRESOURCEA(IDB_UNICODE_TOGGLE), IMAGE_BITMAP, 0, 0,
                       LR_LOADMAP3DCOLORS));
    }
    if (controller->buttonAdded)
        return;
    // The first image of a toolbar without images is number 0: only -1 is a failure.
    LRESULT image =
        SendMessageA(controller->toolbar, TB_ADDBITMAP, 1, reinterpret_cast<LPARAM>(&g_toolbarBitmap));
    if (image < 0)
        return;
    controller->button.iBitmap = static_cast<int>(image);

    TBBUTTON separator;
    ZeroMemory(&separator, sizeof separator);
    separator.fsState = TBSTATE_ENABLED;
    separator.fsStyle = TBSTYLE_SEP;
    SendMessageA(controller->toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageA(controller->toolbar, TB_ADDBUTTONSA, 1, reinterpret_cast<LPARAM>(&separator));

    if (g_toggleCommandId == 0)
        g_toggleCommandId = HostRegistCallback(ToggleUnicodeView);
    controller->button.idCommand = static_cast<int>(g_toggleCommandId);
    SendMessageA(controller->toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageA(controller->toolbar, TB_ADDBUTTONSA, 1, reinterpret_cast<LPARAM>(&controller->button));
    controller->buttonAdded = 1;
}

LRESULT SyncButtonState(MailViewWinHook* controller, bool utf8)
{
    ReadButtonState(controller);
    if (utf8)
        controller->button.fsState &= static_cast<BYTE>(~TBSTATE_HIDDEN);
    else
        controller->button.fsState |= TBSTATE_HIDDEN;
    controller->button.fsState &= static_cast<BYTE>(~TBSTATE_CHECKED);
    // Kept through a quick run of loads for the press of the last; a mail left to the host
    // ends the reading in the pane.
    if (!utf8)
        controller->paneFocused = 0;
    else if (controller->unicodePane && GetFocus() == controller->unicodePane)
        controller->paneFocused = 1;
    ShowPanes(controller->hostPane, controller->unicodePane, false);
    return WriteButtonState(controller);
}
