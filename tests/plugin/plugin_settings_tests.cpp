// Velmora.ini beside the DLL. Built twice: with the opt-in readings and a log file for the
// trace, and with the readings at 0 and a log file that can't be opened.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>

#include <cstdio>
#include <string>
#include <vector>

#include "hostsim/host_sim.h"
#include "tests/mailtext/mail_samples.h"
#include "tests/plugin/plugin_harness.h"
#include "tests/trace/trace_test_support.h"

namespace {

#if defined(SETTINGS_on)
const bool kOn = true;
const char kSettings[] =
    "[Unicode]\r\nNested=1\r\nCharsets=1\r\nHtml=1\r\n\r\n[Trace]\r\nOutput=file ; a comment\r\nLogFile=trace.log\t; beside\r\n";
#else
const bool kOn = false;
const char kSettings[] =
    "[Unicode]\r\nNested=0\r\nCharsets=0\r\nHtml=0\r\n\r\n[Trace]\r\nOutput=File\r\nLogFile=no-such-folder\\trace.log\r\n";
#endif

const hostsim::Plugin& SettingsPlugin()
{
    static bool placed = false;
    if (!placed) {
        placed = true;
        e2e::UseSettingsFile(kSettings);
    }
    return e2e::Plugin();
}

std::string Single(const char* charset, const std::string& body, const char* type = "text/plain")
{
    return WithCrlf("Subject: s\nContent-Type: " + std::string(type) + "; charset=" + charset +
                "\nContent-Transfer-Encoding: 8bit\n\n") + body + "\r\n";
}

const std::string kHtml = "<html><head><style>p {}</style></head><body><ul><li>caf&eacute;</ul></body></html>\n";

const std::string kPlain = "Content-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: quoted-printable\n\n"
                           "caf=C3=A9 =E2=98=95\n";

std::string Mixed(const std::string& parts)
{
    return WithCrlf("Subject: m\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"m\"\n\n--m\n" + parts +
                "--m--\n");
}

// The text part at the given depth of nested multiparts, or after that many parts.
std::string Nested(int depth)
{
    std::string mail = "Content-Type: multipart/mixed; boundary=L1\n\n";
    for (int i = 1; i < depth; ++i)
        mail += "--L" + std::to_string(i) + "\nContent-Type: multipart/mixed; boundary=L" + std::to_string(i + 1) + "\n\n";
    return WithCrlf(mail + "--L" + std::to_string(depth) + "\n" + kPlain);
}

std::string AfterParts(int parts)
{
    std::string mail;
    for (int i = 0; i < parts; ++i)
        mail += "Content-Type: image/gif\n\nGIF\n--m\n";
    return Mixed(mail + kPlain);
}

// The text part's header ends that many bytes into the file.
std::string EndingAt(long offset)
{
    const std::string head = WithCrlf("Content-Type: multipart/mixed; boundary=m\n\n--m\nContent-Type: image/gif\n\n");
    const std::string part = WithCrlf("\n--m\nContent-Type: text/plain; charset=utf-8\n\n");
    return head + std::string(static_cast<size_t>(offset) - head.size() - part.size(), 'x') + part + "caf\xC3\xA9\r\n";
}

// "" when this machine has no public sample mails.
std::string PublicMail(const char* name)
{
    const std::string folder = MailCorpusFolder();
    return folder.empty() ? "" : ReadMailBytes(folder + "/" + name);
}

// "" when this machine has no public sample mails; HTML-only mails of the reach corpus.
std::string ReachMail(const char* name)
{
    const std::string folder = MailCorpusFolder();
    return folder.empty() ? "" : ReadMailBytes(folder + "/../reach/" + name);
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SettingsPlugin();
        view_ = e2e::CreateAnnouncedView();
        ASSERT_TRUE(view_.frame && view_.toolbar && view_.hostPane);
    }
    void TearDown() override
    {
        DestroyWindow(view_.frame);
        hostsim::PumpMessages();
    }

    // The pane's text after loading the mail and pressing the toggle; "(no toggle)" when
    // none is offered. The host is handed the header only: its pane is not looked at here.
    std::wstring Shown(const std::string& mail)
    {
        std::string path = e2e::WriteMailFile("settings.eml", mail);
        size_t end = mail.find("\r\n\r\n");
        std::string header = mail.substr(0, end == std::string::npos ? mail.size() : end + 2);
        hostsim::SetViewPath(view_.frame, path.c_str());
        const int asked = hostsim::CallCount("_QPAViewGetPath@4");
        SettingsPlugin().ViewLoadMail(view_.frame, header.c_str(), 0);
        EXPECT_GE(1, hostsim::CallCount("_QPAViewGetPath@4") - asked) << "a load asks for the path once at most";
        hostsim::PumpMessages();
        TBBUTTON toggle = e2e::ToggleButton(view_.toolbar);
        if (toggle.idCommand == 0 || (toggle.fsState & TBSTATE_HIDDEN))
            return L"(no toggle)";
        e2e::ClickButton(view_.toolbar, toggle.idCommand);
        return e2e::PaneTextLf(e2e::UnicodePane(view_));
    }

    hostsim::ViewWindow view_;
};

}  // namespace

// Mails the classifier leaves out: each row gives what the pane begins with, with the
// switches on and at 0; null: no toggle.
TEST_F(SettingsTest, MailsOfferedOnlyWithTheSwitchesOn)
{
    const wchar_t* const kCafe = L"caf\xE9 \x2615\n";
    const struct {
        const char* what;
        std::string mail;
        const wchar_t* on;
        const wchar_t* off;
    } rows[] = {
        {"UTF-8, as ever", Single("utf-8", "caf\xC3\xA9"), L"caf\xE9\n", L"caf\xE9\n"},
        {"mixed: alternative, then a file",
         Mixed("Content-Type: multipart/alternative; boundary=\"a\"\n\n--a\n" + kPlain +
               "--a\nContent-Type: text/html; charset=utf-8\n\n<p>x</p>\n--a--\n--m\n"
               "Content-Type: application/pdf; name=\"a.pdf\"\nContent-Transfer-Encoding: base64\n\nJVBERi0=\n"),
         kCafe, NULL},
        {"mixed, its text part in Latin-1",
         Mixed("Content-Type: text/plain; charset=ISO-8859-1\n\ncaf\xE9\n--m\nContent-Type: image/png\n\nPNG\n"),
         L"caf\xE9\n", NULL},
        {"mixed, its text part in ISO-2022-JP", Mixed("Content-Type: text/plain; charset=iso-2022-jp\n\nx\n"), NULL,
         NULL},
        {"8 levels deep", Nested(8), kCafe, NULL},
        {"9 levels deep", Nested(9), NULL, NULL},
        {"the 100th part", AfterParts(99), kCafe, NULL},
        {"the 101st part", AfterParts(100), NULL, NULL},
        {"found within the first MB", EndingAt(1L << 20), L"caf\xE9\n", NULL},
        {"found only past the first MB", EndingAt((1L << 20) + 1), NULL, NULL},
        // A code-page family each.
        {"ISO-8859-2", Single("iso-8859-2", "\xA3\xF3\x64\xBC"), L"\x141\xF3" L"d\x17A\n", NULL},
        {"ISO-8859-15, not taken for -1", Single("\"ISO-8859-15\"", "\xA4"), L"\x20AC\n", NULL},
        {"windows-1252", Single("windows-1252", "\x80\x93\x94"), L"\x20AC\x201C\x201D\n", NULL},
        {"ISO-8859-1 written on Windows", Single("iso-8859-1", "don\x92t \x80"), L"don\x2019t \x20AC\n", NULL},
        {"latin1 HTML", Single("latin1", "<p>don\x92t \x85", "text/html"), L"don\x2019t \x2026", NULL},
        {"KOI8-R", Single("koi8-r", "\xF0\xD2\xC9\xD7\xC5\xD4"), L"\x41F\x440\x438\x432\x435\x442\n", NULL},
        {"EUC-KR", Single("euc-kr", "\xC7\xD1\xB1\xB9\xBE\xEE"), L"\xD55C\xAD6D\xC5B4\n", NULL},
        // A code page the system lacks (Wine 8 has no GB18030) is left to the host.
        {"GB18030, four bytes and two", Single("gb18030", "\x95\x34\xB2\x35\xA2\xE3"),
         IsValidCodePage(54936) ? L"\xD842\xDFB7\x20AC\n" : NULL, NULL},
        {"Big5", Single("big5", "\xC1\x63\xC5\xE9"), L"\x7E41\x9AD4\n", NULL},
        {"a name the table lacks", Single("iso-8859-1x", "caf\xE9"), NULL, NULL},
        // UTF-8 where the label (none, us-ascii, the table's) can't decode the body.
        {"untyped UTF-8", WithCrlf("Subject: s\n\ncaf\xC3\xA9\n"), L"caf\xE9\n", NULL},
        {"US-ASCII over Latin-1", Single("us-ascii", "caf\xE9"), NULL, NULL}, {"ASCII", Single("us-ascii", "e"), NULL, NULL},
        {"a file", WithCrlf("Content-Type: application/octet-stream\n\ncaf\xC3\xA9\n"), NULL, NULL},
        {"an untyped first part", WithCrlf("Content-Type: multipart/alternative; boundary=a\n\n--a\n\ncaf\xC3\xA9\n"),
         L"caf\xE9\n", NULL},
        {"mixed, an untyped part", Mixed("\ncaf\xC3\xA9\n"), L"caf\xE9\n", NULL},
        {"windows-1252 over UTF-8", Single("windows-1252", "caf\xC3\xA9"), L"caf\xE9\n", NULL},
        {"GB2312 over UTF-8", Single("gb2312", "\xE4\xBD\xA0\xE5\xA5\xBD\xEF\xBC\x81"), L"\x4F60\x597D\xFF01\n", NULL},
        {"GB2312, valid UTF-8 too", Single("gb2312", "\xD2\xBA"), L"\x6DB2\n", NULL},
        {"HTML naming no charset", WithCrlf("Content-Type: text/html\n\n<p>a&amp;b\n"), L"a&b", NULL},
        {"HTML in US-ASCII over Latin-1", Single("us-ascii", "<p>caf\xE9", "text/html"), NULL, NULL},
        {"HTML, an unknown meta charset", WithCrlf("Content-Type: text/html\n\n<meta charset=x-y><p>a\n"), NULL, NULL},
        // Without the switch the first part is read as UTF-8, whatever it declares.
        {"alternative, its first part in Latin-1",
         WithCrlf("Content-Type: multipart/alternative; boundary=a\n\n--a\nContent-Type: text/plain; charset=iso-8859-1\n\n"
              "caf\xE9\n--a\nContent-Type: text/html; charset=utf-8\n\n<p>x</p>\n--a--\n"),
         L"caf\xE9\n", L"caf\xFFFD"},
        // Left to the classifier's rule, which the switches read in the file's first MB and 64 KB only.
        {"alternative, its first part in ISO-2022-JP",
         WithCrlf("Content-Type: multipart/alternative; boundary=a\n\n--a\nContent-Type: text/plain; charset=iso-2022-jp\n\n"
                  "abc\n--a\nContent-Type: text/html; charset=utf-8\n\n<p>x</p>\n--a--\n"), L"abc\n", L"abc\n"},
        {"alternative, its UTF-8 part past the head",
         WithCrlf("Content-Type: multipart/alternative; boundary=a\n\n--a\nContent-Type: text/plain; charset=iso-2022-jp\n\n"
                  "abc\n" + std::string(1114112, 'x') + "\n--a\nContent-Type: text/html; charset=utf-8\n\n<p>x</p>\n--a--\n"),
         NULL, L"abc\n"},
        // Public sample mails, where the machine has them.
        {"mail__ks_c_5601-1987.eml", PublicMail("mail__ks_c_5601-1987.eml"), L"\xC2A4\xD2F0\xD574\n", NULL},
        {"mail__mix_caps_content_type.eml", PublicMail("mail__mix_caps_content_type.eml"), L"foo bar", NULL},
        {"mail__email_with_similar_boundaries.eml", PublicMail("mail__email_with_similar_boundaries.eml"), L"Test\n",
         NULL},
        // Its boundary on a line that begins with a space.
        {"mmp__m1002.eml", PublicMail("mmp__m1002.eml"), L"Die Hasen und die Fr\xF6sche", NULL},
        // The parsed type decides, not the classifier's substring search; without the switches
        // the part lines show as before.
        {"related, its type parameter naming alternative",
         WithCrlf("Content-Type: multipart/related; type=\"multipart/alternative\"; boundary=r\n\n--r\n"
                  "Content-Type: multipart/alternative; boundary=a\n\n--a\n" + kPlain + "--a--\n--r--\n"),
         kCafe, L"--a\n"},
        // HTML shown as its text with Html=1; without it, as before: its source, or no toggle.
        {"HTML, UTF-8", Single("utf-8", kHtml, "text/html"), L"\x2022 caf\xE9", L"<html>"},
        {"HTML, its charset in a meta element",
         WithCrlf("Content-Type: text/html\n\n<meta charset=\"iso-8859-2\"><p>\xA3\xF3\x64\xBC\n"), L"\x141\xF3" L"d\x17A", NULL},
        // Its text after 5 MB of an inline image, read and converted a piece at a time.
        {"HTML, Latin-1, its text after an inline image",
         Single("iso-8859-1", "<img src='data:image/png;base64," + std::string(5u << 20, 'Q') + "'>caf\xE9", "text/html"),
         L"caf\xE9", NULL},
        {"mixed, only HTML inside", Mixed("Content-Type: image/gif\n\nGIF\n--m\nContent-Type: text/html; charset=utf-8\n"
                                          "Content-Transfer-Encoding: base64\n\nPHA+Y2Fmw6k8L3A+\n"), L"caf\xE9", NULL},
        {"alternative, its first part HTML",
         WithCrlf("Content-Type: multipart/alternative; boundary=a\n\n--a\nContent-Type: text/html; charset=utf-8\n\n"
                  "<p>x&amp;y</p>\n--a\n" + kPlain + "--a--\n"), L"x&y", L"<p>x&amp;y</p>\n"},
        {"stalwart__legacy_002.eml", ReachMail("stalwart__legacy_002.eml"), L"Die Hasen und die Fr\xF6sche\n", NULL},
        {"nodemp__spam.eml, a meta's charset", ReachMail("nodemp__spam.eml"), L"----Freundliche Gr\xFC\xDF" L"e", NULL},
        {"stalwart__thirdparty_016.eml, related", ReachMail("stalwart__thirdparty_016.eml"), L"Search for h\xF6h\xF6",
         NULL},
        {"rspamd__alternative-empty-related.eml", ReachMail("rspamd__alternative-empty-related.eml"),
         L"HTML only - the sibling", L"<"},
        {"sa__nice_cjk_big5-base64.1.eml", ReachMail("sa__nice_cjk_big5-base64.1.eml"), L"\x6C38\x4E45\x7DB2\x5740", NULL},
        {"a text file sent first", Mixed("Content-Type: text/plain; charset=utf-8\nContent-Disposition: attachment\n\n"
                                         "notes\n--m\n" + kPlain), kCafe, NULL},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.mail.empty() && MailCorpusFolder().empty())
            continue;
        ASSERT_FALSE(row.mail.empty());
        const wchar_t* shown = kOn ? row.on : row.off;
        std::wstring expected = shown ? shown : L"(no toggle)";
        EXPECT_EQ(expected, Shown(row.mail).substr(0, expected.size()));
    }
}

// Auto=1 (Auto=0 in the build at 0): a load that offers the toggle ends pressed once its
// message has come, never inside the load; a press still goes back to the host's pane.
TEST_F(SettingsTest, AutoOpensTheViewAfterTheLoad)
{
    std::string ini = kSettings;
    ini.insert(ini.find("\r\n") + 2, kOn ? "Auto=1\r\n" : "Auto=0\r\n");
    ASSERT_TRUE(testsupport::WriteBytesToFile(e2e::PluginFolder() + "Velmora.ini", ini));
    SettingsPlugin().StartUp(0);
    std::string offered = e2e::WriteMailFile("auto.eml", Single("utf-8", "caf\xC3\xA9"));
    std::string other = e2e::WriteMailFile("other.eml", Single("iso-2022-jp", "x"));
    auto load = [&](const std::string& mail) {
        hostsim::SetViewPath(view_.frame, mail.c_str());
        SettingsPlugin().ViewLoadMail(view_.frame, Single(mail == other ? "iso-2022-jp" : "utf-8", "").c_str(), 0);
    };
    auto shown = [&] {
        bool checked = (e2e::ToggleButton(view_.toolbar).fsState & TBSTATE_CHECKED) != 0;
        EXPECT_EQ(checked, !e2e::Visible(view_.hostPane));
        return checked && e2e::Visible(e2e::UnicodePane(view_));
    };
    const struct {
        const char* what;
        std::vector<std::string> loads;
        int presses;   // clicks before the messages come
        bool on, off;  // shown then, with Auto=1 and Auto=0
    } rows[] = {
        {"an offered mail", {offered}, 0, true, false},
        {"pressed on and off before the message", {offered}, 2, false, false},
        {"ten loads, the last not offered", {offered, offered, offered, offered, offered, offered, offered, offered,
                                             offered, other}, 0, false, false},
        {"ten loads, the last offered", {other, offered, other, offered, other, offered, other, offered, other,
                                         offered}, 0, true, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        for (const std::string& mail : row.loads)
            load(mail);
        EXPECT_FALSE(shown()) << "pressed inside the load";
        for (int i = 0; i < row.presses; ++i)
            hostsim::ClickButton(view_.toolbar, e2e::ToggleButton(view_.toolbar).idCommand);
        hostsim::PumpMessages();
        EXPECT_EQ(kOn ? row.on : row.off, shown());
    }
    EXPECT_EQ(L"caf\xE9\n", e2e::PaneTextLf(e2e::UnicodePane(view_)));
    e2e::ClickButton(view_.toolbar, e2e::ToggleButton(view_.toolbar).idCommand);
    EXPECT_EQ(!kOn, shown()) << "a press goes back to the host's pane, or shows the Unicode one";
    // A keyboard reader: the pane that had the focus at the next load has it again, made
    // anew for a long text or kept; one that did not have it, or a reader gone on elsewhere
    // before the message, is not given it.
    std::string lines;
    while (lines.size() < 40000)
        lines += "caf\xC3\xA9\r\n";
    const std::string longer[] = {e2e::WriteMailFile("auto-long1.eml", Single("utf-8", lines)),
                                  e2e::WriteMailFile("auto-long2.eml", Single("utf-8", lines + "x"))};
    for (int anew = 0; kOn && anew < 2; ++anew) {
        for (int focused = 0; focused < 3; ++focused) {
            SCOPED_TRACE(anew ? "made anew" : "kept");
            load(anew ? longer[0] : offered);
            hostsim::PumpMessages();
            SetFocus(focused ? e2e::UnicodePane(view_) : view_.toolbar);
            load(anew ? longer[1] : offered);
            if (focused == 2)
                SetFocus(view_.toolbar);
            hostsim::PumpMessages();
            HWND pane = e2e::UnicodePane(view_);
            EXPECT_EQ(focused == 1, pane && GetFocus() == pane) << "focused " << focused;
        }
    }
    // The view destroyed before the message: nothing is left to press, no pane is left.
    load(offered);
    int reads = hostsim::CallCount("_QPAViewGetPath@4");
    DestroyWindow(view_.frame);
    hostsim::PumpMessages();
    EXPECT_EQ(reads, hostsim::CallCount("_QPAViewGetPath@4")) << "pressed";
    EXPECT_EQ(0, e2e::PaneWindowCount());
    ASSERT_TRUE(testsupport::WriteBytesToFile(e2e::PluginFolder() + "Velmora.ini", kSettings));
    SettingsPlugin().StartUp(0);
    view_ = e2e::CreateAnnouncedView();
}

// The open-file window's timer lines: into the log file beside the DLL, or, when it can't
// be opened, one "DEBUG" box and then the debugger output. Then settings that can't work,
// each given one box, never one per line.
TEST_F(SettingsTest, TraceGoesWhereTheFileSays)
{
    hostsim::OpenFileWindow dialog = hostsim::CreateOpenFileWindow(view_.frame, false);
    ASSERT_TRUE(dialog.window);
    auto SendTimers = [&] {
        tracetest::InstallBoxCatcher();
        for (WPARAM timer = 1; timer <= 3; ++timer)
            SendMessageA(dialog.window, WM_TIMER, timer, 0);
        hostsim::PumpMessages();
        tracetest::RemoveBoxCatcher();
        return tracetest::TakeCaughtBoxes();
    };
    std::vector<tracetest::CaughtBox> boxes = SendTimers();
    std::string log = tracetest::ReadFileBytes((e2e::PluginFolder() + "trace.log").c_str());
    if (kOn) {
        char expected[128];
        std::string lines;
        for (unsigned timer = 1; timer <= 3; ++timer) {
            std::snprintf(expected, sizeof expected, "TIMER(%x,%x,0)\r\n",
                          static_cast<unsigned>(reinterpret_cast<UINT_PTR>(dialog.window)), timer);
            lines += expected;
        }
        EXPECT_EQ(lines, log);
        EXPECT_TRUE(boxes.empty());
    } else {
        EXPECT_EQ("", log);
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ("DEBUG", boxes[0].caption);
        EXPECT_NE(std::string::npos, boxes[0].text.find("no-such-folder\\trace.log")) << boxes[0].text;
        EXPECT_NE(std::string::npos, boxes[0].text.find("debugger output")) << boxes[0].text;
    }
    const struct {
        const char* trace;
        const char* named;   // in the one box
    } rows[] = {
        {"Output=udp\r\nPort=0", "Port=0"},
        {"Output=udp\r\nPort=99999", "Port=99999"},
        {"Output=file\r\nLogFile=" "a123456789b123456789c123456789d123456789e123456789f123456789g123456789h123456789",
         "LogFile"},
        // Opens, then every datagram fails.
        {"Output=udp\r\nHost=255.255.255.255", "written"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.trace);
        testsupport::WriteBytesToFile(e2e::PluginFolder() + "Velmora.ini", std::string("[Trace]\r\n") + row.trace);
        SettingsPlugin().StartUp(0);
        boxes = SendTimers();
        ASSERT_EQ(1u, boxes.size());
        EXPECT_NE(std::string::npos, boxes[0].text.find(row.named)) << boxes[0].text;
    }
    testsupport::WriteBytesToFile(e2e::PluginFolder() + "Velmora.ini", kSettings);
    SettingsPlugin().StartUp(0);
    DestroyWindow(dialog.window);
}

// Headers=1 (Headers=0 in the build at 0): the pane begins with the header lines, one row a
// rule; then the quoted copy, which quotes the body only.
TEST_F(SettingsTest, HeadersBeginThePane)
{
    std::string ini = kSettings;
    ini.insert(ini.find("\r\n") + 2, kOn ? "Headers=1\r\n" : "Headers=0\r\n");
    ASSERT_TRUE(testsupport::WriteBytesToFile(e2e::PluginFolder() + "Velmora.ini", ini));
    SettingsPlugin().StartUp(0);
    auto mail = [](const std::string& fields, const std::string& charset = "utf-8", const std::string& body = "caf\xC3\xA9") { return WithCrlf(fields + "\nContent-Type: text/plain; charset=" + charset + "\n\n") + body + "\r\n"; };
    const std::wstring lacking = IsValidCodePage(54936) ? L"\xD842\xDFB7" : L"=?gb18030?B?lTSyNQ==?=";
    const std::string hangul = "From: =?utf-8?B?7ZWc6riA?=";
    const struct {
        const char* what;
        std::string mail;
        std::wstring lines;
        const wchar_t* body = nullptr;   // offered for its header lines only, read as the host reads it
        bool alone = false;              // Headers=1 and no other switch
    } rows[] = {
        // Header lines that code page 932 can't show offer a mail the host would show.
        {"ISO-2022-JP", mail(hangul, "iso-2022-jp", "\x1B$BF|K\\\x1B(B"), L"From: \xD55C\xAE00\n\n", L"\x65E5\x672C\n"},
        {"Shift_JIS", mail("From: f\nSubject: =?UTF-8?B?8J+OiQ==?=", "shift_jis", "\x93\xFA\x96\x7B\x87\x40"),
         L"From: f\nSubject: \xD83C\xDF89\n\n", L"\x65E5\x672C\x2460\n"},
        {"US-ASCII, a yen sign 932 has only as a best fit", mail("From: =?utf-8?q?=C2=A5?=", "us-ascii", "plain"),
         L"From: \xA5\n\n", L"plain\n"},
        {"EUC-JP in a mixed mail, Headers=1 alone",
         WithCrlf(hangul + "\nContent-Type: multipart/mixed; boundary=m\n\n--m\nContent-Type: text/plain; charset=euc-jp\n\n"
                  "\xC6\xFC\n--m--\n"), L"From: \xD55C\xAE00\n\n", L"\x65E5\n", true},
        {"HTML naming no charset, in Shift_JIS", WithCrlf("Subject: =?UTF-8?B?8J+OiQ==?=\nContent-Type: text/html\n\n<p>\x93\xFA\n"),
         L"Subject: \xD83C\xDF89\n\n", L"\x65E5"},
        {"ISO-8859-2, Headers=1 alone", mail(hangul, "iso-8859-2", "\xA3"), L"From: \xD55C\xAE00\n\n", L"\x141\n", true},
        {"what 932 shows, and U+FFFD, offer nothing", mail("Subject: =?iso-2022-jp?B?GyRCRnxLXBsoQg==?= \x01", "iso-2022-jp", "x"), L"", L""},
        {"five fields in order, Cc left out", mail("Date: d\nSubject: s\n t\nTo: a@x, b@x\nX-Cc: c\nFrom: f"),
         L"From: f\nTo: a@x, b@x\nSubject: s t\nDate: d\n\n"},
        {"encoded-words", mail("Subject: =?UTF-8?B?8J+OiQ==?= =?utf-8?q?_Party?=\nFrom: =?utf-8?q?=ED=95=9C=EA=B8=80?= <h@x>"),
         L"From: \xD55C\xAE00 <h@x>\nSubject: \xD83C\xDF89 Party\n\n"},
        {"a charset of the table, ISO-2022-JP", mail("From: =?iso-8859-2?q?=A3?=\nSubject: =?iso-2022-jp?B?GyRCRnxLXBsoQg==?="),
         L"From: \x141\nSubject: \x65E5\x672C\n\n"},
        {"raw UTF-8, raw Shift_JIS", mail("From: \x93\xFA\nSubject: \xC3\xA9"), L"From: \x65E5\nSubject: \xE9\n\n"},
        {"malformed, and a charset the system may lack", mail("Subject: =?utf-8?B?4g=x?= =?gb18030?B?lTSyNQ==?="),
         L"Subject: =?utf-8?B?4g=x?= " + lacking + L"\n\n"},
        {"a 2,000-character Subject", mail("Subject: " + std::string(2000, 'x')), L"Subject: " + std::wstring(299, L'x') + L"\n\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.alone && kOn)   // till the next row
            testsupport::WriteBytesToFile(e2e::PluginFolder() + "Velmora.ini", "[Unicode]\r\nHeaders=1\r\n");
        SettingsPlugin().StartUp(0);
        EXPECT_EQ(!row.body ? (kOn ? row.lines : L"") + L"caf\xE9\n" : kOn && !row.lines.empty() ? row.lines + row.body : L"(no toggle)",
                  Shown(row.mail));
        testsupport::WriteBytesToFile(e2e::PluginFolder() + "Velmora.ini", ini);
    }
    HWND pane = e2e::UnicodePane(view_);
    auto copied = [&](WORD command) {
        SendMessageA(pane, WM_COMMAND, command, 0);
        std::wstring text;
        if (OpenClipboard(NULL)) {
            const wchar_t* data = static_cast<const wchar_t*>(GlobalLock(GetClipboardData(CF_UNICODETEXT)));
            text = data ? data : L"";
            GlobalUnlock(GetClipboardData(CF_UNICODETEXT));
            CloseClipboard();
        }
        return text;
    };
    EXPECT_EQ(L"> caf\xE9\r\n", copied(32788)) << "quoted, no selection";
    SendMessageA(pane, EM_SETSEL, 0, -1);
    EXPECT_EQ(L"> caf\xE9\r\n\r\n", copied(32788)) << "quoted, all selected";
    const std::wstring all = copied(32771);
    EXPECT_EQ((kOn ? L"Subject: " + std::wstring(299, L'x') + L"\r\n\r\n" : L"") + L"caf\xE9\r\n\r\n", all);
    SendMessageA(pane, EM_SETSEL, 0, 3);
    EXPECT_EQ(kOn ? all : L"> caf", copied(32788)) << "quoted, only the header selected: nothing copied";
    // A quoted copy keeps the view and the selection, its direction too (Shift+Right tells it).
    std::string lines;
    for (int i = 0; i < 200; ++i)
        lines += "line " + std::to_string(i) + "\n";
    Shown(mail("Subject: s") + WithCrlf(lines));
    pane = e2e::UnicodePane(view_);
    auto shifted = [&](WPARAM key, LONG count) {
        BYTE keys[256] = {};
        keys[VK_SHIFT] = 0x80;
        SetKeyboardState(keys);
        while (count-- > 0)
            SendMessageA(pane, WM_KEYDOWN, key, 0);
        keys[VK_SHIFT] = 0;
        SetKeyboardState(keys);
        CHARRANGE range = {0, 0};
        SendMessageA(pane, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
        return std::make_pair(range.cpMin, range.cpMax);
    };
    const LONG body = kOn ? 12 : 0;   // after "Subject: s" and an empty line
    const struct { LONG anchor, caret; std::wstring quoted; } quotes[] = {   // none, backwards, into the header
        {0, 0, L"> caf\xE9\r\n> line 0\r\n"}, {16, 9, L">  0\r\n> line"}, {3, -4, L"> caf"}};
    for (const auto& row : quotes) {
        const LONG anchor = body + row.anchor, caret = body + row.caret < 0 ? 0 : body + row.caret;
        SendMessageA(pane, EM_SETSEL, anchor, anchor);
        shifted(caret < anchor ? VK_LEFT : VK_RIGHT, caret < anchor ? anchor - caret : caret - anchor);
        SendMessageA(pane, EM_LINESCROLL, 0, 120 - SendMessageA(pane, EM_GETFIRSTVISIBLELINE, 0, 0));
        EXPECT_EQ(row.quoted, copied(32788).substr(0, row.quoted.size())) << row.anchor;
        EXPECT_EQ(120, SendMessageA(pane, EM_GETFIRSTVISIBLELINE, 0, 0)) << "the view jumped";
        EXPECT_EQ(caret < anchor ? std::make_pair(caret + 1, anchor) : std::make_pair(anchor, caret + 1),
                  shifted(VK_RIGHT, 1)) << "the caret moved";
    }
    ASSERT_TRUE(testsupport::WriteBytesToFile(e2e::PluginFolder() + "Velmora.ini", kSettings));
    SettingsPlugin().StartUp(0);
}
