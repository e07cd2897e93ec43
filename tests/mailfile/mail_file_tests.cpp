// The view's mail file through the stand-in host: base64 decoding and UTF-16 text.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <new>
#include <string>

#include "hostsim/host_sim.h"
#include "mailview/mail_file.h"
#include "base/host_api.h"
#include "tests/mailtext/mail_samples.h"

namespace {

// While non-zero, every allocation of at least this many bytes fails.
size_t g_failAllocationsFrom = 0;

// Kanji, an emoji beyond the BMP and U+00E9: none of them survives code page 932 whole.
const char kUtf8Line[] = "\xE6\xBC\xA2\xE5\xAD\x97 \xF0\x9F\x98\x80 caf\xC3\xA9\n";
const wchar_t kUtf16Line[] = {0x6F22, 0x5B57, L' ', 0xD83D, 0xDE00, L' ', L'c', L'a', L'f', 0x00E9, L'\n', 0};

// Lines of 76 characters.
std::string Base64Lines(const std::string& bytes)
{
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        unsigned long group = 0;
        for (size_t j = 0; j < 3; ++j)
            group = group << 8 | (i + j < bytes.size() ? static_cast<unsigned char>(bytes[i + j]) : 0);
        for (size_t j = 0; j < 4; ++j)
            out += j <= bytes.size() - i ? digits[(group >> (18 - 6 * j)) & 63] : '=';
        if (out.size() % 77 == 76)
            out += '\n';
    }
    return out + "\n";
}

HWND TheView()
{
    static HWND view = BindHostApi() ? hostsim::CreateViewWindow(NULL, 0, 0, 400, 300).frame : NULL;
    return view;
}

// The buffer the toggle gets from the mail stored with CR LF.
MailBodyBuffer Extract(const std::string& lfMail, const char* boundary = NULL)
{
    hostsim::SetViewPath(TheView(), WriteMailFile("view.eml", WithCrlf(lfMail)).c_str());
    MailBodyBuffer body(3, 'x');
    ExtractMailBody(TheView(), boundary, &body);
    return body;
}

std::wstring Wide(const MailBodyBuffer& body)
{
    std::wstring out;
    return body.size() > 1 && Utf8ToUtf16(reinterpret_cast<const char*>(&body[0]), &out) ? out : L"(none)";
}

MailBodyBuffer Bytes(const char* text, size_t size)
{
    return MailBodyBuffer(text, text + size);
}

}  // namespace

void* operator new(size_t size)
{
    void* block = g_failAllocationsFrom && size >= g_failAllocationsFrom ? NULL : malloc(size ? size : 1);
    if (!block)
        throw std::bad_alloc();
    return block;
}

void operator delete(void* block) noexcept
{
    free(block);
}

void operator delete(void* block, size_t) noexcept
{
    free(block);
}

TEST(Utf8ToUtf16, KeepsWhatCodePage932Loses)
{
    EXPECT_EQ(kUtf16Line, Wide(Bytes(kUtf8Line, sizeof kUtf8Line)));
    EXPECT_EQ(L"a\xFFFD", Wide(Bytes("a\xFF", 3)));  // ill-formed: the platform's replacement
    std::wstring text = L"earlier";
    ASSERT_TRUE(Utf8ToUtf16("", &text));
    EXPECT_EQ(L"", text);
    EXPECT_FALSE(Utf8ToUtf16(NULL, &text));
}

TEST(ExtractMailBody, EveryTransferEncodingGivesTheSameText)
{
    std::string text;
    std::wstring wide;
    for (int i = 0; i < 12; ++i) {
        text += kUtf8Line;
        wide += kUtf16Line;
    }
    const std::string header = "Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: ";
    EXPECT_EQ(wide, Wide(Extract(header + "8bit\n\n" + text)));
    EXPECT_EQ(wide, Wide(Extract(header + "base64\n\n" + Base64Lines(text))));
    EXPECT_EQ(wide, Wide(Extract("Content-Type: multipart/alternative; boundary=\"=_b\"\n\npre\n--=_b\n" + header +
                                 "base64\n\n" + Base64Lines(text) + "--=_b\n\n<p>x</p>\n--=_b--\n", "=_b")));
}

TEST(ExtractMailBody, Base64IsDecodedWithoutItsNul)
{
    const std::string header = "Content-Transfer-Encoding: base64\n\n";
    EXPECT_EQ(Bytes("Hello!", 7), Extract(header + "SGVsbG8h"));  // unpadded: the NUL would fail it
    EXPECT_EQ(Bytes("Hello!", 7), Extract(header + "SGVs\nbG8h\n"));
    EXPECT_EQ(Bytes("A\0B", 4), Extract(header + "QQBC\n"));
    EXPECT_EQ(L"A", Wide(Extract(header + "QQBC\n")));  // the text ends at a decoded NUL
    EXPECT_EQ(Bytes("SGV$bG8h\n", 10), Extract(header + "SGV$bG8h\n"));  // rejected: kept as read
    EXPECT_EQ(Bytes("", 1), Extract(header));
    MailBodyBuffer direct = Bytes("SGk=", 4);  // without a NUL of its own
    DecodeBase64Body(&direct);
    EXPECT_EQ(Bytes("Hi", 3), direct);
    direct.clear();
    DecodeBase64Body(&direct);
    EXPECT_TRUE(direct.empty());
}

TEST(ExtractMailBody, NoFileOrNoMemoryLeavesTheBufferEmpty)
{
    MailBodyBuffer body(3, 'x');
    hostsim::SetViewPath(TheView(), NULL);
    ExtractMailBody(TheView(), NULL, &body);
    EXPECT_TRUE(body.empty());
    hostsim::SetViewPath(TheView(), MailFolder().c_str());
    body.assign(3, 'x');
    ExtractMailBody(TheView(), "b1", &body);
    EXPECT_TRUE(body.empty());

    const std::string mail = "Subject: big\n\n" + std::string(64 * 1024, 'x');
    EXPECT_EQ(64u * 1024 + 1, Extract(mail).size());
    body.assign(3, 'x');
    g_failAllocationsFrom = 4096;
    ExtractMailBody(TheView(), NULL, &body);  // the same file; a throw would end the program
    g_failAllocationsFrom = 0;
    EXPECT_TRUE(body.empty());
}

TEST(MultipartHasUtf8Part, ReadsTheFileTheHostNames)
{
    hostsim::SetViewPath(TheView(), WriteMailFile("alt.eml", WithCrlf(
        "Content-Type: multipart/alternative; boundary=b1\n\n--b1\nContent-Type: text/plain; charset=iso-2022-jp\n"
        "\nx\n--b1\nContent-Type: text/html;\n\tcharset=UTF-8\n\n<p>x</p>\n--b1--\n")).c_str());
    EXPECT_TRUE(MultipartHasUtf8Part(TheView(), "b1"));
    EXPECT_FALSE(MultipartHasUtf8Part(TheView(), "b2"));
    EXPECT_FALSE(MultipartHasUtf8Part(TheView(), NULL));
    hostsim::SetViewPath(TheView(), NULL);
    EXPECT_FALSE(MultipartHasUtf8Part(TheView(), "b1"));
}
