// The sandbox's scripted session, run as a person would run it, and what it leaves behind:
// the Unicode pane's text, the quoted copy on the clipboard, the screenshots.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

using testsupport::ProgramDir;
using testsupport::ReadBytesFromFile;

namespace {

std::string WindowsPath(std::string unixPath)
{
    for (size_t i = 0; i < unixPath.size(); ++i)
        if (unixPath[i] == '/')
            unixPath[i] = '\\';
    return "Z:" + unixPath;
}

std::vector<std::string> Split(const std::string& text, const std::string& separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t at = text.find(separator, start);
        if (at == std::string::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, at - start));
        start = at + separator.size();
    }
}

class SandboxScript : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // No backslash before a closing quote: the command line would read it as a quote.
        std::string folder = testsupport::TempPath("velmora-sandbox-");
        out_ = folder + "\\";
        std::string command = "\"" + ProgramDir() + "sandbox.exe\" --samples \"" +
                              WindowsPath(VELMORA_SAMPLES_DIR) + "\" --script \"" + folder + "\"";
        STARTUPINFOA startup;
        ZeroMemory(&startup, sizeof startup);
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process;
        ZeroMemory(&process, sizeof process);
        std::vector<char> line(command.begin(), command.end());
        line.push_back('\0');
        exitCode_ = 99;
        if (CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
            if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0)
                GetExitCodeProcess(process.hProcess, &exitCode_);
            else
                TerminateProcess(process.hProcess, 98);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
    }

    static std::string out_;
    static DWORD exitCode_;
};

std::string SandboxScript::out_;
DWORD SandboxScript::exitCode_;

}  // namespace

TEST_F(SandboxScript, EveryStepOfTheSessionSucceeds)
{
    EXPECT_EQ(0u, exitCode_);
    std::string report = ReadBytesFromFile(out_ + "report.txt");
    ASSERT_FALSE(report.empty());
    EXPECT_EQ(std::string::npos, report.find("FAILED")) << report;
    EXPECT_NE(std::string::npos, report.find("plugin=Velmora Version 0.10")) << report;
    // A script that stopped early has no FAILED line either: its last checks must be there.
    const char* checks[] = {"unicode_pane_shown", "toggle_hidden_for_nested_with_settings_off",
                            "toggle_hidden_for_charset_with_settings_off", "settings_on",
                            "unicode_pane_shown_for_nested", "unicode_pane_shown_for_charset",
                            "unicode_pane_shown_for_euc_kr", "unicode_pane_shown_for_html",
                            "html_shown_as_text", "unicode_pane_shown_by_itself", "header_fields_shown",
                            "quoted_copy_of_the_body_only", "find_box_selects_the_match",
                            "link_opened_through_the_system_handler",
                            "settings_off_again",
                            "toggle_hidden_after_settings_off"};
    for (const char* check : checks)
        EXPECT_NE(std::string::npos, report.find(std::string("check.") + check + "=ok\n")) << check;
}

TEST_F(SandboxScript, ThePaneHoldsTheMailBodyWithEveryCharacter)
{
    std::string mail = ReadBytesFromFile(std::string(VELMORA_SAMPLES_DIR) + "/01-utf8-8bit.eml");
    size_t start = mail.find("\r\n\r\n");
    ASSERT_NE(std::string::npos, start);
    std::vector<std::string> expected = Split(mail.substr(start + 4), "\r\n");
    std::vector<std::string> shown = Split(ReadBytesFromFile(out_ + "pane.txt"), "\r");
    // Every line of the body, emoji and 𠮷 beyond the BMP included, in the same order.
    ASSERT_GE(shown.size(), expected.size() - 1);
    for (size_t i = 0; i + 1 < expected.size(); ++i)
        EXPECT_EQ(expected[i], shown[i]) << "line " << i;
    EXPECT_NE(std::string::npos, ReadBytesFromFile(out_ + "pane.txt").find("\xF0\x9F\x98\x80"));
}

TEST_F(SandboxScript, TheQuotedCopyPutsAPrefixBeforeEveryLineOfThePane)
{
    std::vector<std::string> pane = Split(ReadBytesFromFile(out_ + "pane.txt"), "\r");
    std::vector<std::string> clipboard = Split(ReadBytesFromFile(out_ + "clipboard.txt"), "\r\n");
    ASSERT_GE(clipboard.size(), pane.size() - 1);
    for (size_t i = 0; i + 1 < pane.size(); ++i)
        EXPECT_EQ("> " + pane[i], clipboard[i]) << "line " << i;
}

// The opt-in readings: the text/plain part found inside multipart/mixed, decoded from
// quoted-printable, and single-part bodies converted from their code pages.
TEST_F(SandboxScript, TheSettingsShowTheNestedPartAndOtherCharsetsInThePane)
{
    std::string mail = ReadBytesFromFile(std::string(VELMORA_SAMPLES_DIR) + "/01-utf8-8bit.eml");
    size_t start = mail.find("\r\n\r\n");
    ASSERT_NE(std::string::npos, start);
    std::string firstLine = Split(mail.substr(start + 4), "\r\n")[0];
    EXPECT_EQ(firstLine, Split(ReadBytesFromFile(out_ + "pane-nested.txt"), "\r")[0]);
    const char* rows[][2] = {
        {"pane-charset.txt", "\xC5\x81\xC3\xB3\x64\xC5\xBA"},  // Łódź
        {"pane-charset.txt", "\xC4\x8F\xC3\xA1" "belsk\xC3\xA9"},  // ďábelské, across a soft break
        {"pane-euc-kr.txt", "\xEC\x95\x88\xEB\x85\x95\xED\x95\x98\xEC\x84\xB8\xEC\x9A\x94"},  // 안녕하세요
        // A table row's cells, beyond the BMP; a list item; a link with its address.
        {"pane-html.txt", "\xF0\xA0\xAE\xB7\xE9\x87\x8E\xE5\xAE\xB6\xE3\x81\xAE\xE5\x99\xA8\t2\t\xC2\xA5" "1,200"},
        {"pane-html.txt", "\xE2\x80\xA2 \xE3\x81\x8A\xE5\xB1\x8A\xE3\x81\x91\xEF\xBC\x9A\xC5\x81\xC3\xB3\x64\xC5\xBA"},
        {"pane-headers.txt", "Subject: \xF0\x9F\x8E\x89 Velmora \xE9\x80\xB1\xE6\x9C\xAB"},  // 🎉 Velmora 週末
        {"pane-html.txt", "\xE6\xB3\xA8\xE6\x96\x87\xE5\xB1\xA5\xE6\xAD\xB4 <https://shop.example.jp/orders/1234>"},
    };
    for (const auto& row : rows)
        EXPECT_NE(std::string::npos, ReadBytesFromFile(out_ + row[0]).find(row[1])) << row[0];
    // Left off for the next run, beside the sandbox's copy of the DLL.
    std::string ini = ProgramDir() + "sandbox-plugins\\Velmora.ini";
    EXPECT_EQ(0, GetPrivateProfileIntA("Unicode", "Nested", -1, ini.c_str()));
    EXPECT_EQ(0, GetPrivateProfileIntA("Unicode", "Charsets", -1, ini.c_str()));
    EXPECT_EQ(0, GetPrivateProfileIntA("Unicode", "Html", -1, ini.c_str()));
}

TEST_F(SandboxScript, ScreenshotsArePngImagesOfTheWindows)
{
    const char* names[] = {"view-before-toggle.png", "view-after-toggle.png", "open-file-window.png",
                           "view-nested.png", "view-charset.png", "view-euc-kr.png", "view-html.png", "view-headers.png",
                           "view-find.png"};
    for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i) {
        std::string png = ReadBytesFromFile(out_ + names[i]);
        ASSERT_GT(png.size(), 33u) << names[i];
        EXPECT_EQ(std::string("\x89PNG\r\n\x1A\n", 8), png.substr(0, 8)) << names[i];
        EXPECT_EQ("IHDR", png.substr(12, 4)) << names[i];
        unsigned width = (unsigned char)png[16] << 24 | (unsigned char)png[17] << 16 |
                         (unsigned char)png[18] << 8 | (unsigned char)png[19];
        EXPECT_GT(width, 100u) << names[i];
    }
    // The toggle changed what the view shows.
    EXPECT_NE(ReadBytesFromFile(out_ + "view-before-toggle.png"), ReadBytesFromFile(out_ + "view-after-toggle.png"));
}
