// The toggle, from its command to the text in the pane, on large UTF-8 mails, against
// EM_STREAMIN alone of the same text into the same kind of control; where its time goes;
// how many headers a second the header classification gets through; and a day's session
// of loads and presses in one view, its time, memory and objects tenth by tenth.
//
// The plug-in is linked in (its entry points and libraries, not the DLL), so that the
// toggle's parts can be timed one by one on the same controller.
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>
#include <psapi.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "hostsim/host_sim.h"
#include "mailview/mail_file.h"
#include "mailview/mail_view_controller.h"
#include "mailview/mail_view_win_hook.h"
#include "mailview/mailtext/mime/mail_text.h"
#include "mailview/pane_fonts.h"
#include "mailview/unicode_pane.h"
#include "plugin/entry_points.h"
#include "base/module.h"
#include "tests/support/test_support.h"
#include "winhook/win_hook.h"

namespace {

const double kKb = 1000.0;
const int kMailKb[] = {100, 1000, 10000, 100000};
// The body's transfer encodings, each benchmarked at every size.
const char* const kEncodings[] = {"8bit", "quoted-printable", "base64"};
const char* g_encoding = kEncodings[0];
// Wine's rich edit takes time that grows with the square of the text to delete a text it
// holds (about 1.4 s for 320,000 characters here): replacing a 10 MB text would take
// many minutes. When the pane holds more than this, only first presses are measured.
const LRESULT kLargestReplacedUnits = 1000000;
const int kPaneWidth = 800, kPaneHeight = 600;

// One text line of mixed Japanese, ASCII, an emoji and an accented letter, CR LF ended.
std::string TextLine(int number)
{
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%06d ", number);
    return std::string(prefix) +
           "\xE3\x83\xA1\xE3\x83\xBC\xE3\x83\xAB\xE6\x9C\xAC\xE6\x96\x87\xE3\x81\xAE\xE8\xA9\xA6\xE9\xA8\x93 "
           "The quick brown fox jumps over the lazy dog \xF0\x9F\x98\x80 caf\xC3\xA9\r\n";
}

// Lines that need no face but the pane's (Japanese and Latin, with Czech and Polish
// letters), and lines of Latin, Japanese, Hangul and an emoji, which do.
std::string OwnFaceLine(int number)
{
    return TextLine(number).replace(TextLine(number).find("\xF0\x9F\x98\x80"), 4, "\xC5\x99\xC5\x82");
}

std::string MixedLine(int number)
{
    return TextLine(number).insert(7, "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4 \xEB\xA9\x94\xEC\x9D\xBC ");
}

std::string MailHeader()
{
    return std::string("From: bench@example.invalid\r\nTo: reader@example.invalid\r\nSubject: large mail\r\n"
                       "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n"
                       "Content-Transfer-Encoding: ") + g_encoding + "\r\n\r\n";
}

// The body in the mail's transfer encoding: quoted-printable escapes every byte above
// ASCII, base64 comes in lines of 76.
std::string Encoded(const std::string& body, const char* encoding = g_encoding)
{
    if (std::strcmp(encoding, "quoted-printable") == 0) {
        std::string qp;
        for (unsigned char c : body) {
            char escape[4];
            std::snprintf(escape, sizeof escape, "=%02X", c);
            qp += c >= 0x80 || c == '=' ? std::string(escape) : std::string(1, static_cast<char>(c));
        }
        return qp;
    }
    if (std::strcmp(encoding, "base64") == 0) {
        DWORD size = 0;
        const BYTE* bytes = reinterpret_cast<const BYTE*>(body.data());
        CryptBinaryToStringA(bytes, static_cast<DWORD>(body.size()), CRYPT_STRING_BASE64, NULL, &size);
        std::string text(size, '\0');
        CryptBinaryToStringA(bytes, static_cast<DWORD>(body.size()), CRYPT_STRING_BASE64, &text[0], &size);
        text.resize(size);
        return text;
    }
    return body;
}

// A single-part UTF-8 mail whose body is about `bytes` long; the body comes back too. Mails
// whose lines are numbered from different firsts differ from their first line on.
bool WriteMail(const std::string& path, size_t bytes, std::string* body, int firstLine = 0,
               std::string (*line)(int) = TextLine)
{
    body->clear();
    for (int number = firstLine; body->size() < bytes; ++number)
        *body += line(number);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    std::fputs(MailHeader().c_str(), file);
    const std::string encoded = Encoded(*body);
    std::fwrite(encoded.data(), 1, encoded.size(), file);
    std::fclose(file);
    return true;
}

// The characters that a rich-edit control holds for the text: each CR LF is one CR.
LRESULT ExpectedLength(const std::wstring& text)
{
    LRESULT length = 0;
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == L'\n' && i > 0 && text[i - 1] == L'\r'))
            ++length;
    return length;
}

// The pane's length and text in UTF-16; the text as the pane would take it back in (each
// paragraph ends with CR).
using hostsim::RichEditLength;
using hostsim::RichEditText;

double Ms(double seconds)
{
    return seconds * 1000.0;
}

bool g_wrongText = false;

void Wrong(const char* what)
{
    std::printf("    (unexpected: %s)\n", what);
    g_wrongText = true;
}

// Loads the mail into the view as the host does (its path for QPAViewGetPath, then
// QPCViewLoadMail with the header), but with only the start of the body in the host's own
// pane: the host's ANSI rich edit would take minutes to take in a 10 MB text, and the
// toggle reads the file, not that pane.
DWORD LoadMail(const hostsim::Plugin& plugin, const hostsim::ViewWindow& view, const std::string& path,
               const std::string& body)
{
    std::string header;
    for (char c : MailHeader())
        if (c != '\r')
            header += c;
    header.erase(header.size() - 1);   // the empty line that ends the header
    SetWindowTextA(view.hostPane, body.substr(0, 2000).c_str());
    hostsim::SetViewPath(view.frame, path.c_str());
    return plugin.ViewLoadMail(view.frame, header.c_str(), 0);
}

// ---- The press --------------------------------------------------------------------------

struct View {
    hostsim::ViewWindow windows;
    MailViewWinHook* controller;
};

// What a click on the button does: the toolbar flips the check, then sends its command
// to the view, where the host calls ToggleUnicodeView. Seconds until the command returns.
double Press(const View& view, bool on)
{
    HWND toolbar = view.windows.toolbar;
    UINT id = g_toggleCommandId;
    SendMessageA(toolbar, TB_CHECKBUTTON, id, MAKELONG(on ? TRUE : FALSE, 0));
    double start = bench::Now();
    SendMessageA(view.windows.frame, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(toolbar));
    double elapsed = bench::Now() - start;
    hostsim::PumpMessages();
    return elapsed;
}

// ---- EM_STREAMIN alone --------------------------------------------------------------------

struct Cookie {
    const wchar_t* position;
    size_t remaining;   // bytes
};

DWORD CALLBACK PlainStreamIn(DWORD_PTR value, LPBYTE buffer, LONG bytes, LONG* done)
{
    Cookie* cookie = reinterpret_cast<Cookie*>(value);
    size_t count = cookie->remaining < static_cast<size_t>(bytes) ? cookie->remaining : static_cast<size_t>(bytes);
    count &= ~static_cast<size_t>(1);
    // A CR LF pair split between two reads would come out as two line breaks.
    if (count > 2 && count < cookie->remaining && cookie->position[count / 2 - 1] == L'\r' &&
        cookie->position[count / 2] == L'\n')
        count -= 2;
    std::memcpy(buffer, cookie->position, count);
    cookie->position += count / 2;
    cookie->remaining -= count;
    *done = static_cast<LONG>(count);
    return 0;
}

double StreamAlone(HWND control, const std::wstring& text)
{
    Cookie cookie = {text.c_str(), text.size() * sizeof(wchar_t)};
    EDITSTREAM stream;
    std::memset(&stream, 0, sizeof stream);
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(&cookie);
    stream.dwError = 0;
    stream.pfnCallback = PlainStreamIn;
    double start = bench::Now();
    SendMessageA(control, EM_STREAMIN, SF_TEXT | SF_UNICODE, reinterpret_cast<LPARAM>(&stream));
    return bench::Now() - start;
}

// A control of the pane's class, style and size, but nothing else of the pane's: no
// formats, no subclassing. Hidden, as the pane is while the button is off.
HWND CreateBareControl(HWND parent)
{
    HWND control = CreateWindowExW(WS_EX_CLIENTEDGE, MSFTEDIT_CLASS, L"",
                                   WS_CHILD | WS_VSCROLL | ES_AUTOVSCROLL | ES_MULTILINE, -2, -2, kPaneWidth + 4,
                                   kPaneHeight + 4, parent, NULL, GetModuleHandleA(NULL), NULL);
    SendMessageA(control, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
    return control;
}

// ---- The toggle's parts -----------------------------------------------------------------

// The paragraph format that StreamInText puts back on the whole text, laid over a text
// that stream-in has just left in the control's default format. Seconds.
double TimeParagraphOverAll(HWND control, const std::wstring& text)
{
    StreamAlone(control, text);
    PARAFORMAT2 paragraph;
    std::memset(&paragraph, 0, sizeof paragraph);
    paragraph.cbSize = sizeof paragraph;
    paragraph.dwMask = PFM_ALL & ~static_cast<DWORD>(PFM_OFFSETINDENT);
    SendMessageA(control, EM_GETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&paragraph));
    paragraph.dxStartIndent = 100;
    paragraph.dxRightIndent = 100;
    paragraph.dwMask = PFM_ALL & ~static_cast<DWORD>(PFM_OFFSETINDENT);
    double start = bench::Now();
    CHARRANGE all = {0, -1};
    CHARRANGE home = {0, 0};
    SendMessageA(control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&all));
    SendMessageA(control, EM_SETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&paragraph));
    SendMessageA(control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&home));
    return bench::Now() - start;
}

// What replacing one mail's text by another's costs a bare control, step by step: emptying
// it (a stream of nothing: what a full stream-in does first), with the control's undo and
// with undo off (limit 0), the stream into the emptied control, the paragraph format over
// the new text; and destroying a control that holds the text, instead of emptying it.
struct ReplaceParts {
    std::vector<double> empty, emptyNoUndo, stream, paragraph, destroy;
};

void TimeReplaceParts(HWND parent, const std::wstring& old, const std::wstring& next, ReplaceParts* parts)
{
    const std::wstring nothing;
    for (int undo = 1; undo >= 0; --undo) {
        HWND control = CreateBareControl(parent);
        if (!undo)
            SendMessageA(control, EM_SETUNDOLIMIT, 0, 0);
        StreamAlone(control, old);
        (undo ? parts->empty : parts->emptyNoUndo).push_back(StreamAlone(control, nothing));
        if (undo) {
            parts->stream.push_back(StreamAlone(control, next));
            if (RichEditLength(control) != ExpectedLength(next))
                Wrong("the bare control after emptying and EM_STREAMIN");
        }
        DestroyWindow(control);
    }
    HWND control = CreateBareControl(parent);
    parts->paragraph.push_back(TimeParagraphOverAll(control, next));
    DestroyWindow(control);
    control = CreateBareControl(parent);
    StreamAlone(control, old);
    double start = bench::Now();
    DestroyWindow(control);
    parts->destroy.push_back(bench::Now() - start);
}

// The mail file's part of a press: reading and decoding the body, and its UTF-16 copy.
void TimeFileParts(const View& view, double* extract, double* convert)
{
    double t0 = bench::Now();
    MailBodyBuffer body;
    ExtractMailBody(view.controller->hwnd, view.controller->boundary.Get(), &body, kPaneBodyBytes);
    double t1 = bench::Now();
    std::wstring text;
    BodyToPaneText(body, kPaneTextUnits, kPaneLineUnits, &text);
    double t2 = bench::Now();
    *extract = t1 - t0;
    *convert = t2 - t1;
}

struct Parts {
    std::vector<double> formats, streamIn, layout, show;
};

// The pane's steps of a press, one by one, on the pane in the state that a press finds it
// in (holding the text, hidden).
void TimePaneParts(const View& view, const std::wstring& expected, Parts* parts)
{
    MailViewWinHook* c = view.controller;
    double t0 = bench::Now();
    CopyTextFormats(c->hostPane, c->unicodePane, FALSE);
    double t1 = bench::Now();
    StreamInText(expected.c_str(), c->unicodePane);
    double t2 = bench::Now();
    LayoutPane(c->hostPane, c->unicodePane);
    double t3 = bench::Now();
    ShowPanes(c->hostPane, c->unicodePane, true);
    double t4 = bench::Now();
    if (RichEditLength(c->unicodePane) != ExpectedLength(expected))
        Wrong("the pane after a later press's steps");
    ShowPanes(c->hostPane, c->unicodePane, false);
    hostsim::PumpMessages();
    parts->formats.push_back(t1 - t0);
    parts->streamIn.push_back(t2 - t1);
    parts->layout.push_back(t3 - t2);
    parts->show.push_back(t4 - t3);
}

// A first press's steps, one by one, on a view that has no pane yet.
void TimeFirstPressParts(const View& view, const std::wstring& expected, Parts* parts, std::vector<double>* create)
{
    MailViewWinHook* c = view.controller;
    double t0 = bench::Now();
    CreateUnicodePane(c);
    LayoutPane(c->hostPane, c->unicodePane);
    double t1 = bench::Now();
    CopyTextFormats(c->hostPane, c->unicodePane, FALSE);
    double t2 = bench::Now();
    StreamInText(expected.c_str(), c->unicodePane);
    double t3 = bench::Now();
    LayoutPane(c->hostPane, c->unicodePane);
    double t4 = bench::Now();
    ShowPanes(c->hostPane, c->unicodePane, true);
    double t5 = bench::Now();
    if (RichEditLength(c->unicodePane) != ExpectedLength(expected))
        Wrong("the pane after a first press's steps");
    ShowPanes(c->hostPane, c->unicodePane, false);
    create->push_back(t1 - t0);
    parts->formats.push_back(t2 - t1);
    parts->streamIn.push_back(t3 - t2);
    parts->layout.push_back(t4 - t3);
    parts->show.push_back(t5 - t4);
}

// EM_STREAMIN alone into a new pane, made and laid out as a first press makes it.
double TimeStreamIntoNewPane(const View& view, const std::wstring& expected)
{
    MailViewWinHook* c = view.controller;
    CreateUnicodePane(c);
    LayoutPane(c->hostPane, c->unicodePane);
    CopyTextFormats(c->hostPane, c->unicodePane, FALSE);
    return StreamAlone(c->unicodePane, expected);
}

// ---- 3. Toggle latency --------------------------------------------------------------------

// announce: the plug-in is told of the view (QPCViewCreate), as the host does.
View CreateView(const hostsim::Plugin& plugin, bool announce = true)
{
    View view;
    view.windows = hostsim::CreateViewWindow(NULL, 0, 0, 100, 100);
    // The frame sized so that the host pane, and so the Unicode pane, is kPaneWidth x kPaneHeight.
    RECT pane;
    GetWindowRect(view.windows.hostPane, &pane);
    RECT frame;
    GetWindowRect(view.windows.frame, &frame);
    MoveWindow(view.windows.frame, 0, 0, frame.right - frame.left + kPaneWidth - (pane.right - pane.left),
               frame.bottom - frame.top + kPaneHeight - (pane.bottom - pane.top), TRUE);
    ShowWindow(view.windows.frame, SW_SHOWNORMAL);
    if (announce)
        plugin.ViewCreate(view.windows.frame);
    hostsim::PumpMessages();
    view.controller = static_cast<MailViewWinHook*>(FindWinHook(view.windows.frame));
    return view;
}

void CloseView(const View& view)
{
    DestroyWindow(view.windows.frame);
    hostsim::PumpMessages();
}

int RepeatsFor(int kb)
{
    return kb >= 10000 ? 2 : kb >= 1000 ? 3 : 7;
}

void PrintAgainst(const char* name, const bench::Summary& press, const char* baseName, const bench::Summary& base)
{
    std::printf("    %-30s %9.1f ms [%.1f .. %.1f]   %-36s %9.1f ms [%.1f .. %.1f]   ratio %.2f (best/best %.2f)\n", name,
                Ms(press.median), Ms(press.best), Ms(press.worst), baseName, Ms(base.median), Ms(base.best),
                Ms(base.worst), press.median / base.median, press.best / base.best);
}

double Median(const std::vector<double>& samples)
{
    return bench::Summarize(samples).median;
}

bool BenchToggleOn(const hostsim::Plugin& plugin, const std::string& folder, int kb)
{
    std::string path = folder + "\\toggle-" + std::to_string(kb) + "kb.eml";
    std::string body;
    if (!WriteMail(path, static_cast<size_t>(kb * kKb), &body)) {
        std::printf("  can't write %s\n", path.c_str());
        return false;
    }
    const std::wstring wide = testsupport::Utf8ToWide(body);
    const int repeats = RepeatsFor(kb);

    // First presses, each on a new view: the press creates the pane and fills it. Each is
    // followed by EM_STREAMIN of the same text into a bare new control, so that the two are
    // taken in turn and see the same load of a shared machine.
    std::vector<double> first, load, fresh, paragraph, bareCreate;
    std::wstring shown;
    View view = {};
    for (int i = 0; i < repeats; ++i) {
        if (view.controller)
            CloseView(view);
        view = CreateView(plugin);
        double start = bench::Now();
        DWORD loaded = view.controller ? LoadMail(plugin, view.windows, path, body) : 0;
        load.push_back(bench::Now() - start);
        if (!loaded || !view.controller->isUtf8 || !g_toggleCommandId) {
            std::printf("  the mail was not taken as UTF-8, or the toggle has no command\n");
            return false;
        }
        first.push_back(Press(view, true));
        if (!view.controller->unicodePane || RichEditLength(view.controller->unicodePane) <= 0)
            Wrong("the pane after a first press");
        // The baseline streams what the press put into the pane: the mail's whole text, or
        // as much of it as the pane is given.
        if (i == 0)
            shown = RichEditText(view.controller->unicodePane);
        double made = bench::Now();
        HWND control = CreateBareControl(view.windows.hostView);
        bareCreate.push_back(bench::Now() - made);
        fresh.push_back(StreamAlone(control, shown));
        if (RichEditLength(control) != ExpectedLength(shown))
            Wrong("the bare control after EM_STREAMIN");
        DestroyWindow(control);
    }
    if (shown.size() == static_cast<size_t>(ExpectedLength(wide)) && shown.compare(0, 20, wide, 0, 20) != 0)
        Wrong("the pane's text");
    // A second window holds the bare controls. Two rich-edit controls that hold a 10 MB
    // text each come near the end of a 32-bit address space: a pane that is not pressed
    // again goes at once.
    const bool replaced = static_cast<LRESULT>(shown.size()) <= kLargestReplacedUnits;
    if (!replaced)
        CloseView(view);
    View scratch = CreateView(plugin);
    hostsim::SetViewPath(scratch.windows.frame, path.c_str());
    std::vector<double> extract, convert;
    for (int i = 0; i < repeats; ++i) {
        double e, c;
        TimeFileParts(scratch, &e, &c);
        extract.push_back(e);
        convert.push_back(c);
    }
    Parts firstParts;
    std::vector<double> create, intoPane;
    for (int i = 0; i < 2 * repeats; ++i) {
        View fresh = CreateView(plugin);
        if (fresh.controller && LoadMail(plugin, fresh.windows, path, body)) {
            if (i % 2)
                intoPane.push_back(TimeStreamIntoNewPane(fresh, shown));
            else
                TimeFirstPressParts(fresh, shown, &firstParts, &create);
        }
        CloseView(fresh);
    }
    std::printf("  %5d KB mail, %zu UTF-16 units; the pane is given %zu of them (loaded in %.0f ms)\n", kb,
                wide.size(), shown.size(), Ms(Median(load)));
    PrintAgainst("first press (new pane)", bench::Summarize(first), "EM_STREAMIN into a new control", bench::Summarize(fresh));
    std::printf("      of which: ExtractMailBody (as far as the pane needs) %.1f ms, BodyToPaneText %.1f ms",
                Ms(Median(extract)), Ms(Median(convert)));
    std::fflush(stdout);
    {
        HWND control = CreateBareControl(scratch.windows.hostView);
        paragraph.push_back(TimeParagraphOverAll(control, shown));
        DestroyWindow(control);
    }
    std::printf(", the paragraph format over the whole text about %.1f ms\n", Ms(Median(paragraph)));
    std::printf("      steps alone: CreateUnicodePane + LayoutPane %.1f ms, CopyTextFormats %.1f ms, StreamInText %.1f ms, "
                "LayoutPane %.1f ms, ShowPanes %.1f ms\n",
                Ms(Median(create)), Ms(Median(firstParts.formats)), Ms(Median(firstParts.streamIn)),
                Ms(Median(firstParts.layout)), Ms(Median(firstParts.show)));
    std::printf("      EM_STREAMIN alone into a new pane (the host's formats, URL detection, read-only, shown): %.1f ms;"
                " creating a bare control %.1f ms\n",
                Ms(Median(intoPane)), Ms(Median(bareCreate)));
    std::fflush(stdout);

    // (Not for the largest: Wine's rich edit would take many minutes over 100 MB.)
    if (static_cast<LRESULT>(shown.size()) < ExpectedLength(wide) && wide.size() < 20000000) {
        HWND control = CreateBareControl(scratch.windows.hostView);
        double whole = StreamAlone(control, wide);
        DestroyWindow(control);
        std::printf("      (for scale: EM_STREAMIN of the whole text into a new control %.1f ms)\n", Ms(whole));
    }

    if (replaced) {
        // Later presses: the pane holds the mail's text already, hidden, and gets it again.
        std::vector<double> later, off;
        off.push_back(Press(view, false));
        for (int i = 0; i < repeats; ++i) {
            later.push_back(Press(view, true));
            if (RichEditLength(view.controller->unicodePane) != static_cast<LRESULT>(shown.size()))
                Wrong("the pane after a later press");
            off.push_back(Press(view, false));
        }
        std::vector<double> replace;
        HWND control = CreateBareControl(scratch.windows.hostView);
        StreamAlone(control, shown);
        for (int i = 0; i < repeats; ++i)
            replace.push_back(StreamAlone(control, shown));
        DestroyWindow(control);
        Parts parts;
        for (int i = 0; i < repeats; ++i)
            TimePaneParts(view, shown, &parts);
        PrintAgainst("later press (replaces the text)", bench::Summarize(later), "EM_STREAMIN replacing the same text",
                     bench::Summarize(replace));
        std::printf("    %-30s %9.1f ms                     against EM_STREAMIN into a new control: ratio %.2f\n",
                    "", Ms(Median(later)), Median(later) / Median(fresh));
        std::printf("      of which: CopyTextFormats %.1f ms, StreamInText %.1f ms, LayoutPane %.1f ms, ShowPanes %.1f ms; "
                    "turning off %.1f ms\n",
                    Ms(Median(parts.formats)), Ms(Median(parts.streamIn)), Ms(Median(parts.layout)),
                    Ms(Median(parts.show)), Ms(Median(off)));
    } else {
        std::printf("    later presses not measured: they replace the text, which Wine's rich edit does in a time\n"
                    "    that grows with the square of its length\n");
    }
    std::fflush(stdout);
    if (replaced)
        CloseView(view);
    // No view is left over the reader's: with one over it, a stream into its pane took up
    // to three times as long here as one into a new view's.
    CloseView(scratch);

    // The next mail's press: a mail of the same size with other text, and the first one
    // again, loaded in turn into one view and each pressed, as a reader goes through mails.
    const std::string nextPath = folder + "\\toggle-" + std::to_string(kb) + "kb-next.eml";
    std::string nextBody;
    if (!WriteMail(nextPath, static_cast<size_t>(kb * kKb), &nextBody, 1000000)) {
        std::printf("  can't write %s\n", nextPath.c_str());
        return false;
    }
    // Each next mail's press is taken in turn with a first press of the same size on a new
    // view, so that the two see the same load of a shared machine.
    std::vector<double> next, firstAgain;
    std::wstring nextShown;
    {
        View reader = CreateView(plugin);
        LoadMail(plugin, reader.windows, path, body);
        Press(reader, true);
        Press(reader, false);
        for (int i = 0; i < repeats; ++i) {
            View newView = CreateView(plugin);
            LoadMail(plugin, newView.windows, path, body);
            firstAgain.push_back(Press(newView, true));
            CloseView(newView);
            const bool other = i % 2 == 0;
            LoadMail(plugin, reader.windows, other ? nextPath : path, other ? nextBody : body);
            next.push_back(Press(reader, true));
            HWND pane = reader.controller->unicodePane;
            if (i == 0)
                nextShown = RichEditText(pane);
            if (RichEditLength(pane) != ExpectedLength(other ? nextShown : shown) ||
                (i == 0 && nextShown.compare(0, 7, testsupport::Utf8ToWide(nextBody.substr(0, 7))) != 0))
                Wrong("the pane after the next mail's press");
            Press(reader, false);
        }
        CloseView(reader);
    }
    PrintAgainst("next mail's press (other text)", bench::Summarize(next), "first press, taken in turn with it",
                 bench::Summarize(firstAgain));
    // Above 1 MB the pane is given as much text as at 1 MB: a bare control's parts would
    // be the same, at some 10 s each time for emptying it.
    ReplaceParts replace;
    scratch = CreateView(plugin);
    for (int i = 0; i < repeats && kb <= 1000; ++i)
        TimeReplaceParts(scratch.windows.hostView, shown, nextShown, &replace);
    if (kb > 1000)
        std::printf("      (where a bare control's time would go: as at 1000 KB, the pane being given as much text)\n");
    else
        std::printf("      where a bare control's time would go: emptying it of the other mail (a stream of nothing) %.1f ms,\n"
                    "      with undo off %.1f ms; EM_STREAMIN into the emptied control %.1f ms; the paragraph format over\n"
                    "      the whole text %.1f ms; destroying a control that holds the other mail %.1f ms\n",
                    Ms(Median(replace.empty)), Ms(Median(replace.emptyNoUndo)), Ms(Median(replace.stream)),
                    Ms(Median(replace.paragraph)), Ms(Median(replace.destroy)));
    std::fflush(stdout);
    CloseView(scratch);
    DeleteFileA(path.c_str());
    DeleteFileA(nextPath.c_str());
    return true;
}

void BenchToggle(const hostsim::Plugin& plugin, const std::string& folder, const std::vector<int>& sizes,
                 const std::vector<std::string>& encodings)
{
    std::printf("\n3. Toggle latency: a press (TB_CHECKBUTTON, then the toolbar's WM_COMMAND to the view) until\n"
                "   ToggleUnicodeView returns, on single-part UTF-8 mails (8bit); Unicode pane %d x %d.\n"
                "   Against: EM_STREAMIN alone of the same UTF-16 text into a bare RICHEDIT50W of the pane's size.\n"
                "   Times in ms, median [best .. worst]; KB = 1000 bytes.\n",
                kPaneWidth, kPaneHeight);
    for (const char* encoding : kEncodings) {
        if (!encodings.empty() && std::find(encodings.begin(), encodings.end(), encoding) == encodings.end())
            continue;
        g_encoding = encoding;
        std::printf("  -- %s\n", encoding);
        for (int kb : sizes)
            if (!BenchToggleOn(plugin, folder, kb))
                return;
    }
}

// With Auto=1: from the return of QPCViewLoadMail, the host's message loop running, until
// the Unicode pane is shown; seconds, or a negative number when it was not shown in 60 s.
double LoadToShown(const hostsim::Plugin& plugin, const View& view, const std::string& path, const std::string& body)
{
    LoadMail(plugin, view.windows, path, body);
    double start = bench::Now();
    while (!(view.controller->unicodePane && IsWindowVisible(view.controller->unicodePane))) {
        if (bench::Now() - start > 60.0)
            return -1.0;
        MSG message;
        if (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return bench::Now() - start;
}

// Auto=1 against a press: two mails of each size taken in turn in one view, so that every
// load is of another mail than the one before, as a reader goes through a folder.
void BenchAutoShow(const hostsim::Plugin& plugin, const std::string& folder)
{
    std::printf("\n6. Auto=1: from the return of QPCViewLoadMail to the Unicode pane shown, the host's message\n"
                "   loop running, against the press of the next mail (8bit) in the same view without it.\n"
                "   Times in ms, median [best .. worst].\n");
    g_encoding = kEncodings[0];
    for (int kb : {10, 100, 1000}) {
        std::string paths[2], bodies[2];
        for (int m = 0; m < 2; ++m) {
            paths[m] = folder + "\\auto-" + std::to_string(kb) + "kb-" + std::to_string(m) + ".eml";
            if (!WriteMail(paths[m], static_cast<size_t>(kb * kKb), &bodies[m], m * 1000000)) {
                std::printf("  can't write %s\n", paths[m].c_str());
                return;
            }
        }
        View view = CreateView(plugin);
        std::vector<double> shown, pressed;
        for (int i = 0; i < 2 * RepeatsFor(kb) + 2; ++i) {
            const int m = i % 2;
            g_mailViewOptions.autoShow = m;
            if (m) {
                double took = LoadToShown(plugin, view, paths[m], bodies[m]);
                if (took < 0)
                    Wrong("the pane not shown by itself");
                else if (i >= 2)
                    shown.push_back(took);
            } else {
                LoadMail(plugin, view.windows, paths[m], bodies[m]);
                hostsim::PumpMessages();
                double took = Press(view, true);
                if (i >= 2)   // the first two make the pane and fill it for the first time
                    pressed.push_back(took);
            }
        }
        g_mailViewOptions.autoShow = 0;
        CloseView(view);
        if (shown.empty() || pressed.empty())
            return;
        char name[64];
        std::snprintf(name, sizeof name, "%5d KB load to shown", kb);
        PrintAgainst(name, bench::Summarize(shown), "next mail's press", bench::Summarize(pressed));
        for (const std::string& path : paths)
            DeleteFileA(path.c_str());
    }
}

// The process's peak working set so far, and its working set now, in MB.
double WorkingSetMb(bool peak)
{
    PROCESS_MEMORY_COUNTERS counters;
    ZeroMemory(&counters, sizeof counters);
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return (peak ? counters.PeakWorkingSetSize : counters.WorkingSetSize) / 1048576.0;
}

// Runs this program again with the arguments, and waits for it; its exit code, or -1.
long RunSelf(const std::string& arguments)
{
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, MAX_PATH);
    std::string line = std::string("\"") + self + "\" " + arguments;
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    if (!CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<long>(code);
}

// "peakbare": how far a bare RICHEDIT50W of the pane's size, given the text that a press
// gives the pane and shown, raises the peak working set over the working set before it;
// in KB, as the exit code of a process that has done nothing else.
int BarePeakKb(const hostsim::Plugin& plugin, const std::string& path)
{
    View view = CreateView(plugin);
    LoadMail(plugin, view.windows, path, std::string(TextLine(0)));
    std::wstring text;
    {
        MailBodyBuffer body;
        ExtractMailBody(view.controller->hwnd, view.controller->boundary.Get(), &body, kPaneBodyBytes);
        BodyToPaneText(body, kPaneTextUnits, kPaneLineUnits, &text);
    }
    double before = WorkingSetMb(false);
    HWND control = CreateBareControl(view.windows.hostView);
    StreamAlone(control, text);
    ShowWindow(control, SW_SHOW);
    hostsim::PumpMessages();
    double after = WorkingSetMb(true);
    if (RichEditLength(control) != ExpectedLength(text))
        return 0;
    return static_cast<int>((after - before) * 1024.0);
}

// 5. What a press alone raises the peak working set by, over the working set of a fresh
// view, in a process that has done nothing else (another run of this program writes the
// mail first); beside it, the same for a bare control given the same text ("peakbare").
void BenchPeak(const hostsim::Plugin& plugin, const std::string& folder, int kb)
{
    std::string path = folder + "\\peak.eml";
    if (RunSelf(std::string("write ") + g_encoding + " " + std::to_string(kb) + " \"" + path + "\"") != 0) {
        std::printf("  can't write %s\n", path.c_str());
        return;
    }
    View view = CreateView(plugin);
    LoadMail(plugin, view.windows, path, std::string(TextLine(0)));
    double before = WorkingSetMb(false);
    Press(view, true);
    double after = WorkingSetMb(true);
    CloseView(view);
    long bareKb = RunSelf("peakbare \"" + path + "\"");
    double bare = bareKb > 0 ? bareKb / 1024.0 : 0;
    std::printf("5. Peak working set, %s %d KB mail: a press +%.1f MB (%.1f MB before it); a bare RICHEDIT50W given "
                "the same text +%.1f MB; ratio %.2f\n",
                g_encoding, kb, after - before, before, bare, bare > 0 ? (after - before) / bare : 0.0);
    DeleteFileA(path.c_str());
}

// ---- 8. Other faces -------------------------------------------------------------------------

// First presses of 1000 KB mails (the pane is given 262,144 units) that need no face but the
// pane's, and that mix Latin, Japanese, Hangul and emoji; and the pass that gives runs the
// pane's face lacks another face, alone, on the same hidden pane.
void BenchFaces(const hostsim::Plugin& plugin, const std::string& folder)
{
    std::printf("\n8. Other faces: first presses of 1000 KB mails (8bit), and the pass over the pane that gives\n"
                "   what its face can't draw another face, alone on the same hidden pane (ApplyFallbackFaces).\n"
                "   Times in ms, median [best .. worst].\n");
    g_encoding = kEncodings[0];
    const struct {
        const char* name;
        std::string (*line)(int);
    } kinds[] = {{"no other face", OwnFaceLine}, {"Latin, Japanese, Hangul, emoji", MixedLine}};
    for (const auto& kind : kinds) {
        const std::string path = folder + "\\faces.eml";
        std::string body;
        if (!WriteMail(path, static_cast<size_t>(1000 * kKb), &body, 0, kind.line)) {
            std::printf("  can't write %s\n", path.c_str());
            return;
        }
        std::vector<double> press, pass;
        int ranges = 0;
        for (int i = 0; i < RepeatsFor(1000); ++i) {
            View view = CreateView(plugin);
            LoadMail(plugin, view.windows, path, body);
            press.push_back(Press(view, true));
            Press(view, false);
            double start = bench::Now();
            ranges = ApplyFallbackFaces(view.controller->unicodePane);
            pass.push_back(bench::Now() - start);
            CloseView(view);
        }
        const bench::Summary p = bench::Summarize(press), f = bench::Summarize(pass);
        std::printf("  %-32s press %.1f ms [%.1f .. %.1f], the pass %.1f ms [%.1f .. %.1f]: %.1f%% of the press,\n"
                    "  %-32s %d ranges given another face; the press against one without the pass: ratio %.3f\n",
                    kind.name, Ms(p.median), Ms(p.best), Ms(p.worst), Ms(f.median), Ms(f.best), Ms(f.worst),
                    100.0 * f.median / p.median, "", ranges, p.median / (p.median - f.median));
        std::fflush(stdout);
        DeleteFileA(path.c_str());
    }
}

// ---- 7. A press in a process of its own --------------------------------------------------

// "press <encoding> <KB>": first presses, each on a new view, taken in turn with the next
// mail's press in one reader view and with EM_STREAMIN of the same text into a new bare
// control, in a process that has done nothing else: what a press costs without what
// earlier sections left in the process.
void BenchPressAlone(const hostsim::Plugin& plugin, const std::string& folder, int kb)
{
    const std::string path = folder + "\\alone.eml", nextPath = folder + "\\alone-next.eml";
    std::string body, nextBody;
    if (!WriteMail(path, static_cast<size_t>(kb * kKb), &body) ||
        !WriteMail(nextPath, static_cast<size_t>(kb * kKb), &nextBody, 1000000)) {
        std::printf("  can't write %s\n", path.c_str());
        return;
    }
    View reader = CreateView(plugin);
    View scratch = CreateView(plugin);
    LoadMail(plugin, reader.windows, path, body);
    Press(reader, true);
    const int repeats = RepeatsFor(kb) < 3 ? 3 : RepeatsFor(kb);
    std::vector<double> first, next, bare, extract, convert;
    for (int i = 0; i < repeats; ++i) {
        View view = CreateView(plugin);
        LoadMail(plugin, view.windows, path, body);
        first.push_back(Press(view, true));
        const std::wstring shown = view.controller->paneText;
        CloseView(view);
        HWND control = CreateBareControl(scratch.windows.hostView);
        bare.push_back(StreamAlone(control, shown));
        if (RichEditLength(control) != ExpectedLength(shown))
            Wrong("the bare control after EM_STREAMIN");
        DestroyWindow(control);
        const bool other = i % 2 == 0;
        LoadMail(plugin, reader.windows, other ? nextPath : path, other ? nextBody : body);
        next.push_back(Press(reader, true));
        if (reader.controller->paneText.empty() ||
            RichEditLength(reader.controller->unicodePane) != ExpectedLength(reader.controller->paneText))
            Wrong("the pane after the next mail's press");
        double e, c;
        TimeFileParts(reader, &e, &c);
        extract.push_back(e);
        convert.push_back(c);
    }
    CloseView(reader);
    CloseView(scratch);
    const double f = Median(first), n = Median(next), b = Median(bare);
    std::printf("7. %-16s %6d KB alone: first press %7.1f ms, next mail's press %7.1f ms (next/first %.2f), "
                "bare stream %7.1f ms (first/bare %.2f); file %.1f ms, text %.1f ms\n",
                g_encoding, kb, Ms(f), Ms(n), n / f, Ms(b), f / b, Ms(Median(extract)), Ms(Median(convert)));
    std::fflush(stdout);
    DeleteFileA(path.c_str());
    DeleteFileA(nextPath.c_str());
}

// ---- 8. A day's session ------------------------------------------------------------------

// One view takes mail after mail, as a reader goes through folders all day, and the toggle
// is pressed on each; a bare control, in a process of its own, does the same work on the
// same texts. The mails: the four kinds below in the three encodings at five sizes, 20 in
// a cycle that every tenth of the session goes through whole.
enum SessionKind { kSinglePart, kAlternative, kHtmlOnly, kMixed, kSessionKinds };
const int kSessionKb[] = {10, 30, 100, 300, 1000};
const int kSessionMails = 20;
const int kSessionLoads = 1000;
const char* const kKindNames[] = {"single part", "alternative", "HTML only", "mixed"};

int SessionSizeOf(int mail)
{
    return kSessionKb[mail / kSessionKinds];
}

int SessionKindOf(int mail)
{
    return mail % kSessionKinds;
}

const char* SessionEncodingOf(int mail)
{
    return kEncodings[(mail / kSessionKinds + mail % kSessionKinds) % 3];
}

// The mail of the session's load number i: 7 is prime to 20, so that neighbours differ
// in size, kind and encoding.
int SessionMailAt(int load)
{
    return load * 7 % kSessionMails;
}

std::string SessionPath(const std::string& folder, int mail, const char* what)
{
    return folder + "\\session-" + std::to_string(mail) + what;
}

// The header lines of a session mail, CR LF ended, without the empty line.
std::string SessionHeader(int mail)
{
    std::string header = "From: bench@example.invalid\r\nTo: reader@example.invalid\r\nSubject: session mail " +
                         std::to_string(mail) + "\r\nMIME-Version: 1.0\r\n";
    const std::string encoding = SessionEncodingOf(mail);
    switch (SessionKindOf(mail)) {
    case kSinglePart:
        return header + "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: " + encoding + "\r\n";
    case kHtmlOnly:
        return header + "Content-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: " + encoding + "\r\n";
    case kAlternative:
        return header + "Content-Type: multipart/alternative; boundary=\"=_alt\"\r\n";
    default:
        return header + "Content-Type: multipart/mixed; boundary=\"=_mix\"\r\n";
    }
}

// Lines of text as a mail client writes them in HTML: a paragraph each, in a page with a
// title and a style sheet.
std::string HtmlOf(const std::string& text)
{
    std::string html = "<html><head><title>session</title><style>p { margin: 0 }</style></head><body>\r\n";
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        html += "<p>" + text.substr(start, end - start) + "</p>\r\n";
        start = end + 2;
    }
    return html + "</body></html>\r\n";
}

std::string SessionPart(const char* type, const char* encoding, const std::string& body)
{
    return std::string("Content-Type: ") + type + "\r\nContent-Transfer-Encoding: " + encoding + "\r\n\r\n" +
           Encoded(body, encoding) + "\r\n";
}

bool WriteSessionMail(const std::string& folder, int mail)
{
    std::string text;
    for (int number = mail * 100000; text.size() < static_cast<size_t>(SessionSizeOf(mail) * kKb); ++number)
        text += TextLine(number);
    const char* encoding = SessionEncodingOf(mail);
    std::string body;
    switch (SessionKindOf(mail)) {
    case kSinglePart:
        body = Encoded(text, encoding);
        break;
    case kHtmlOnly:
        body = Encoded(HtmlOf(text), encoding);
        break;
    case kAlternative:
        body = "--=_alt\r\n" + SessionPart("text/plain; charset=utf-8", encoding, text) + "--=_alt\r\n" +
               SessionPart("text/html; charset=utf-8", encoding, HtmlOf(text.substr(0, text.size() / 4))) +
               "--=_alt--\r\n";
        break;
    default:
        body = "--=_mix\r\n" + SessionPart("text/plain; charset=utf-8", encoding, text) +
               "--=_mix\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\n"
               "Content-Disposition: attachment; filename=\"data.bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
               Encoded(std::string(30000, 'Z'), "base64") + "\r\n--=_mix--\r\n";
        break;
    }
    return testsupport::WriteBytesToFile(SessionPath(folder, mail, ".eml"), SessionHeader(mail) + "\r\n" + body);
}

// Loads a session mail as the host does: its ANSI pane gets a short text (the host's own
// pane is not what is measured), its path, then the header with LF line ends.
void LoadSessionMail(const hostsim::Plugin& plugin, const View& view, const std::string& folder, int mail)
{
    std::string header;
    for (char c : SessionHeader(mail))
        if (c != '\r')
            header += c;
    header.erase(header.size() - 1);
    SetWindowTextA(view.windows.hostPane, header.c_str());
    const std::string path = SessionPath(folder, mail, ".eml");
    hostsim::SetViewPath(view.windows.frame, path.c_str());
    plugin.ViewLoadMail(view.windows.frame, header.c_str(), 0);
}

struct SessionSample {
    double pressMs;     // the median press of the tenth
    double workingSetMb, privateMb, heapMb;
    DWORD gdiObjects, userObjects;   // GetGuiResources
    int gdiHandles;     // live GDI objects, found by probing the handle table
    int userHandles;    // this thread's windows (children included) and the process's menus
};

BOOL CALLBACK CountWindow(HWND window, LPARAM count)
{
    ++*reinterpret_cast<int*>(count);
    EnumChildWindows(window, CountWindow, count);
    return TRUE;
}

SessionSample MeasureSession(double pressMs)
{
    SessionSample s;
    ZeroMemory(&s, sizeof s);
    s.pressMs = pressMs;
    s.workingSetMb = WorkingSetMb(false);
    // Private bytes: committed memory of the process's own (Wine leaves PrivateUsage 0).
    size_t committed = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* at = NULL; VirtualQuery(at, &region, sizeof region) == sizeof region;) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            committed += region.RegionSize;
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= at)
            break;
        at = next;
    }
    s.privateMb = committed / 1048576.0;
    HANDLE heaps[256];
    const DWORD count = GetProcessHeaps(256, heaps);
    size_t busy = 0;
    for (DWORD i = 0; i < count && i < 256; ++i) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry;
        ZeroMemory(&entry, sizeof entry);
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                busy += entry.cbData;
        HeapUnlock(heaps[i]);
    }
    s.heapMb = busy / 1048576.0;
    s.gdiObjects = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    s.userObjects = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    // A handle's low word indexes the table; without its upper word it names whatever
    // object lives there. USER handles step by two from 0x20.
    for (UINT_PTR index = 1; index < 0x10000; ++index) {
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(index)) != 0)
            ++s.gdiHandles;
        if (index >= 0x20 && index % 2 == 0 && IsMenu(reinterpret_cast<HMENU>(index)))
            ++s.userHandles;
    }
    EnumThreadWindows(GetCurrentThreadId(), CountWindow, reinterpret_cast<LPARAM>(&s.userHandles));
    return s;
}

bool WriteTextFile(const std::string& path, const std::wstring& text)
{
    return testsupport::WriteBytesToFile(
        path, std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)));
}

std::wstring ReadTextFile(const std::string& path)
{
    std::wstring text;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return text;
    wchar_t chunk[4096];
    for (size_t got; (got = std::fread(chunk, sizeof(wchar_t), 4096, file)) > 0;)
        text.append(chunk, got);
    std::fclose(file);
    return text;
}

// "session ours|bare <loads> <folder>": the session in this process, ours through the
// plug-in's toggle, bare through a bare control given the texts the parent wrote; a line
// per tenth (and one before the first load) into <folder>\session-<which>.txt.
int RunSessionChild(const hostsim::Plugin& plugin, bool ours, int loads, const std::string& folder)
{
    g_mailViewOptions.nested = g_mailViewOptions.charsets = g_mailViewOptions.html = 1;
    std::vector<std::wstring> texts(kSessionMails);
    for (int mail = 0; mail < kSessionMails; ++mail)
        texts[mail] = ReadTextFile(SessionPath(folder, mail, ".u16"));
    View view = CreateView(plugin, ours);
    HWND bare = NULL;
    std::vector<SessionSample> samples(1, MeasureSession(0));
    std::vector<double> presses;
    const int tenth = loads / 10;
    for (int load = 0; load < tenth * 10; ++load) {
        const int mail = SessionMailAt(load);
        const std::wstring& text = texts[mail];
        double took;
        if (ours) {
            LoadSessionMail(plugin, view, folder, mail);
            hostsim::PumpMessages();
            took = Press(view, true);
            if (RichEditLength(view.controller->unicodePane) != ExpectedLength(text))
                Wrong("the pane in the session");
        } else {
            // The host's load hides the pane; a press makes a long one anew and shows it.
            SetWindowTextA(view.windows.hostPane, "");
            if (bare)
                ShowWindow(bare, SW_HIDE);
            hostsim::PumpMessages();
            double start = bench::Now();
            if (bare && RichEditLength(bare) > 16384) {
                DestroyWindow(bare);
                bare = NULL;
            }
            if (!bare)
                bare = CreateBareControl(view.windows.hostView);
            StreamAlone(bare, text);
            ShowWindow(bare, SW_SHOW);
            took = bench::Now() - start;
            hostsim::PumpMessages();
            if (RichEditLength(bare) != ExpectedLength(text))
                Wrong("the bare control in the session");
        }
        presses.push_back(took);
        if ((load + 1) % tenth == 0) {
            samples.push_back(MeasureSession(Ms(Median(presses))));
            presses.clear();
        }
    }
    CloseView(view);
    FILE* out = std::fopen((folder + (ours ? "\\session-ours.txt" : "\\session-bare.txt")).c_str(), "w");
    if (!out)
        return 1;
    for (const SessionSample& s : samples)
        std::fprintf(out, "%.3f %.3f %.3f %.3f %lu %lu %d %d\n", s.pressMs, s.workingSetMb, s.privateMb, s.heapMb,
                     static_cast<unsigned long>(s.gdiObjects), static_cast<unsigned long>(s.userObjects),
                     s.gdiHandles, s.userHandles);
    std::fclose(out);
    return g_wrongText ? 1 : 0;
}

std::vector<SessionSample> ReadSession(const std::string& path)
{
    std::vector<SessionSample> samples;
    FILE* in = std::fopen(path.c_str(), "r");
    if (!in)
        return samples;
    SessionSample s;
    unsigned long gdi, user;
    while (std::fscanf(in, "%lf %lf %lf %lf %lu %lu %d %d", &s.pressMs, &s.workingSetMb, &s.privateMb, &s.heapMb,
                       &gdi, &user, &s.gdiHandles, &s.userHandles) == 8) {
        s.gdiObjects = gdi;
        s.userObjects = user;
        samples.push_back(s);
    }
    std::fclose(in);
    return samples;
}

// 8. The session: writes the mails and the text a press gives the pane for each (with the
// opt-ins on, pressed once in a view of this process), then runs it through the toggle and
// through a bare control, each in a process of its own, one after the other.
void BenchSession(const hostsim::Plugin& plugin, const std::string& folder, int loads)
{
    g_mailViewOptions.nested = g_mailViewOptions.charsets = g_mailViewOptions.html = 1;
    View view = CreateView(plugin);
    for (int mail = 0; mail < kSessionMails; ++mail) {
        std::wstring text;
        if (WriteSessionMail(folder, mail)) {
            LoadSessionMail(plugin, view, folder, mail);
            Press(view, true);
            text = view.controller->paneText;
        }
        if (text.empty() || !WriteTextFile(SessionPath(folder, mail, ".u16"), text)) {
            std::printf("  session mail %d (%s, %s, %d KB) is not shown\n", mail, kKindNames[SessionKindOf(mail)],
                        SessionEncodingOf(mail), SessionSizeOf(mail));
            CloseView(view);
            return;
        }
    }
    CloseView(view);
    g_mailViewOptions.nested = g_mailViewOptions.charsets = g_mailViewOptions.html = 0;
    const std::string arguments = std::to_string(loads) + " \"" + folder + "\"";
    if (RunSelf("session ours " + arguments) != 0 || RunSelf("session bare " + arguments) != 0)
        Wrong("a session run");
    const std::vector<SessionSample> ours = ReadSession(folder + "\\session-ours.txt");
    const std::vector<SessionSample> bare = ReadSession(folder + "\\session-bare.txt");
    std::printf("\n8. A session: %d loads into one view, a press on each, mails of 10 to 1000 KB in a cycle of %d\n"
                "   (single part, multipart/alternative, HTML only, multipart/mixed; 8bit, quoted-printable,\n"
                "   base64), Nested=1 Charsets=1 Html=1. Beside it, in a process of its own, a bare RICHEDIT50W\n"
                "   given the same texts (made anew above 16,384 units, as the pane is). Per tenth: median press ms,\n"
                "   working set, private bytes and heap bytes in use (MB), GetGuiResources GDI / USER, and GDI\n"
                "   objects and USER objects (windows and menus) found by probing. ours | bare.\n",
                loads / 10 * 10, kSessionMails);
    if (ours.size() != 11 || bare.size() != 11) {
        std::printf("   (a run gave no figures)\n");
        return;
    }
    std::printf("   tenth    press ms        working set     private         heap            GGR GDI/USER  "
                "GDI probed   USER probed\n");
    for (size_t i = 0; i < ours.size(); ++i) {
        const SessionSample &o = ours[i], &b = bare[i];
        char name[16];
        std::snprintf(name, sizeof name, i ? "%zu" : "before", i);
        std::printf("   %-6s %7.1f|%-7.1f %7.1f|%-7.1f %7.1f|%-7.1f %7.1f|%-7.1f %3lu/%-3lu|%3lu/%-3lu %5d|%-5d %5d|%-5d\n",
                    name, o.pressMs, b.pressMs, o.workingSetMb, b.workingSetMb, o.privateMb, b.privateMb, o.heapMb,
                    b.heapMb, static_cast<unsigned long>(o.gdiObjects), static_cast<unsigned long>(o.userObjects),
                    static_cast<unsigned long>(b.gdiObjects), static_cast<unsigned long>(b.userObjects),
                    o.gdiHandles, b.gdiHandles, o.userHandles, b.userHandles);
    }
    const SessionSample &o1 = ours[1], &o10 = ours[10], &b1 = bare[1], &b10 = bare[10];
    std::printf("   last tenth against the first: press %.2f | %.2f; working set %.2f | %.2f (%+.1f | %+.1f MB);\n"
                "   private %.2f | %.2f (%+.1f | %+.1f MB); heap %.2f | %.2f; GDI probed %+d | %+d, USER probed %+d | %+d\n",
                o10.pressMs / o1.pressMs, b10.pressMs / b1.pressMs, o10.workingSetMb / o1.workingSetMb,
                b10.workingSetMb / b1.workingSetMb, o10.workingSetMb - o1.workingSetMb,
                b10.workingSetMb - b1.workingSetMb, o10.privateMb / o1.privateMb, b10.privateMb / b1.privateMb,
                o10.privateMb - o1.privateMb, b10.privateMb - b1.privateMb, o10.heapMb / o1.heapMb,
                b10.heapMb / b1.heapMb, o10.gdiHandles - o1.gdiHandles, b10.gdiHandles - b1.gdiHandles,
                o10.userHandles - o1.userHandles, b10.userHandles - b1.userHandles);
    std::fflush(stdout);
}

// ---- 4. Header classification -----------------------------------------------------------

// A header as a mail client hands it over: trace fields first, Content-Type near the end,
// lines joined with LF; about 2 KB.
std::string TypicalHeader(const char* contentType)
{
    std::string header;
    for (int hop = 0; header.size() < 1500; ++hop) {
        char line[320];
        std::snprintf(line, sizeof line,
                      "Received: from relay%d.example.net (relay%d.example.net [192.0.2.%d])\n"
                      "\tby mx%d.example.jp (Postfix) with ESMTPS id 4F%05dABC\n"
                      "\tfor <reader@example.jp>; Mon, 3 Jun 2024 09:%02d:%02d +0900 (JST)\n",
                      hop, hop, hop + 10, hop, hop * 7919, hop, hop * 7 % 60);
        header += line;
    }
    header +=
        "DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=example.net; s=s1;\n"
        "\th=from:to:subject:date; bh=47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=;\n"
        "\tb=dGhpcyBpcyBub3QgYSByZWFsIHNpZ25hdHVyZSwganVzdCBzb21lIGJ5dGVz\n"
        "From: =?UTF-8?B?6YCB5L+h6ICF?= <sender@example.net>\n"
        "To: reader@example.jp\n"
        "Subject: =?UTF-8?B?5pel5pys6Kqe44Gu44Oh44O844Or?=\n"
        "Date: Mon, 3 Jun 2024 09:00:00 +0900\n"
        "Message-ID: <20240603090000.12345@example.net>\n"
        "MIME-Version: 1.0\n";
    header += contentType;
    header += "Content-Transfer-Encoding: 8bit\nX-Mailer: Example Mailer 1.0\n";
    return header;
}

void BenchHeaders()
{
    struct Case {
        const char* name;
        std::string header;
        int expected;
    } cases[] = {
        {"text/plain; charset=utf-8", TypicalHeader("Content-Type: text/plain; charset=\"UTF-8\"\n"), Utf8},
        {"multipart/alternative", TypicalHeader("Content-Type: multipart/alternative;\n\tboundary=\"=_b1_x\"\n"),
         MultipartAlternative},
        {"iso-2022-jp", TypicalHeader("Content-Type: text/plain; charset=ISO-2022-JP\n"), NotUtf8},
        {"no Content-Type at all", TypicalHeader(""), NotUtf8},
    };
    const int calls = 20000;
    const int samples = 9;
    std::printf("\n4. ClassifyMailHeader on a typical header (trace fields first, Content-Type near the end), "
                "median [best .. worst] of %d samples of %d calls\n",
                samples, calls);
    for (Case& c : cases) {
        char* boundary = NULL;
        std::vector<double> times;
        bool right = ClassifyMailHeader(c.header.c_str(), &boundary) == c.expected;
        for (int s = 0; s < samples; ++s) {
            double start = bench::Now();
            for (int i = 0; i < calls; ++i)
                right = (ClassifyMailHeader(c.header.c_str(), &boundary) == c.expected) && right;
            times.push_back((bench::Now() - start) / calls);
        }
        std::free(boundary);
        if (!right)
            Wrong("a header's class");
        bench::Summary t = bench::Summarize(times);
        std::printf("  %-28s %5zu bytes  %8.2f us  [%.2f .. %.2f]  %9.0f headers/s  %6.0f MB/s\n", c.name,
                    c.header.size(), t.median * 1e6, t.best * 1e6, t.worst * 1e6, 1.0 / t.median,
                    c.header.size() / t.median / 1e6);
    }
    std::fflush(stdout);
}

}  // namespace

// Without arguments every size and encoding is measured; otherwise the sizes given, in KB,
// and the encodings named.
int main(int argc, char** argv)
{
    // "write <encoding> <KB> <path>": only writes the mail, for "peak".
    if (argc == 5 && std::strcmp(argv[1], "write") == 0) {
        g_encoding = argv[2];
        std::string body;
        return WriteMail(argv[4], static_cast<size_t>(std::atoi(argv[3]) * kKb), &body) ? 0 : 1;
    }
    std::vector<int> sizes;
    std::vector<std::string> encodings;
    for (int i = 1; i < argc; ++i) {
        if (std::find(kEncodings, kEncodings + 3, std::string(argv[i])) != kEncodings + 3)
            encodings.push_back(argv[i]);
        else if (std::atoi(argv[i]) > 0)
            sizes.push_back(std::atoi(argv[i]));
    }
    if (sizes.empty())
        sizes.assign(kMailKb, kMailKb + sizeof kMailKb / sizeof kMailKb[0]);

    const bool bare = argc == 3 && std::strcmp(argv[1], "peakbare") == 0;
    if (!bare && !(argc == 5 && std::strcmp(argv[1], "session") == 0))
        bench::PrintMachine("mail_view_bench");
    // The plug-in's resources are linked into this program.
    g_hInstance = GetModuleHandleA(NULL);
    hostsim::RegisterHostClasses();
    hostsim::Plugin plugin;
    ZeroMemory(&plugin, sizeof plugin);
    plugin.StartUp = QPCStartUp;
    plugin.ViewCreate = QPCViewCreate;
    plugin.ViewLoadMail = QPCViewLoadMail;
    plugin.StartUp(0);

    std::string folder = testsupport::MakeTempFolder("velmora-view-bench-");
    // "peak <encoding> <KB>": the peak working set of one press, alone in this process, and
    // "peakbare <path>": that of a bare control given the same text, as its exit code.
    if (bare) {
        int kb = BarePeakKb(plugin, argv[2]);
        RemoveDirectoryA(folder.c_str());
        return kb;
    }
    if (argc == 4 && std::strcmp(argv[1], "peak") == 0) {
        g_encoding = argv[2];
        BenchPeak(plugin, folder, std::atoi(argv[3]));
        RemoveDirectoryA(folder.c_str());
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "press") == 0) {
        g_encoding = argv[2];
        BenchPressAlone(plugin, folder, std::atoi(argv[3]));
        RemoveDirectoryA(folder.c_str());
        return g_wrongText ? 1 : 0;
    }
    // "session [loads]" runs the session; its two runs come back as
    // "session ours|bare <loads> <folder>".
    if (argc == 5 && std::strcmp(argv[1], "session") == 0) {
        RemoveDirectoryA(folder.c_str());
        return RunSessionChild(plugin, std::strcmp(argv[2], "ours") == 0, std::atoi(argv[3]), argv[4]);
    }
    if (argc >= 2 && argc <= 3 && std::strcmp(argv[1], "session") == 0) {
        BenchSession(plugin, folder, argc == 3 ? std::atoi(argv[2]) : kSessionLoads);
        for (int mail = 0; mail < kSessionMails; ++mail) {
            DeleteFileA(SessionPath(folder, mail, ".eml").c_str());
            DeleteFileA(SessionPath(folder, mail, ".u16").c_str());
        }
        DeleteFileA((folder + "\\session-ours.txt").c_str());
        DeleteFileA((folder + "\\session-bare.txt").c_str());
        RemoveDirectoryA(folder.c_str());
        return g_wrongText ? 1 : 0;
    }
    // "faces": section 8 alone.
    if (argc == 2 && std::strcmp(argv[1], "faces") == 0) {
        BenchFaces(plugin, folder);
        RemoveDirectoryA(folder.c_str());
        return g_wrongText ? 1 : 0;
    }
    // "auto": section 6 alone.
    if (!(argc == 2 && std::strcmp(argv[1], "auto") == 0)) {
        BenchHeaders();
        BenchToggle(plugin, folder, sizes, encodings);
    }
    BenchAutoShow(plugin, folder);
    BenchFaces(plugin, folder);
    RemoveDirectoryA(folder.c_str());
    if (g_wrongText) {
        std::printf("\nmail_view_bench: a pane or a classification came out other than expected\n");
        return 1;
    }
    return 0;
}
