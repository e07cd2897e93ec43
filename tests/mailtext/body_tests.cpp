// Taking the body out of a mail file; odd, hostile and random input; the public samples.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "mailview/mailtext/mail_text.h"
#include "tests/mailtext/mail_samples.h"

namespace {

const std::string kMultipart = "Content-Type: multipart/alternative; boundary=\"b1\"\n\n";

// CR LF pairs gone, as the reader sees a stored file.
std::string WithoutCrlf(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out += text[i];
    return out;
}

// The two files must give the same; a readable file gives its body and one NUL.
std::string ExtractAlike(const std::string& pathA, const std::string& pathB, const char* boundary,
                         int* encoding = NULL)
{
    MailBodyBuffer a, b;
    int encodingA = ExtractMailBodyFromFile(pathA.c_str(), boundary, &a);
    EXPECT_EQ(encodingA, ExtractMailBodyFromFile(pathB.c_str(), boundary, &b));
    EXPECT_EQ(a, b);
    EXPECT_EQ(MultipartFileHasUtf8Part(pathA.c_str(), boundary), MultipartFileHasUtf8Part(pathB.c_str(), boundary));
    if (encoding)
        *encoding = encodingA;
    EXPECT_TRUE(!a.empty() && a.back() == 0) << "no final NUL";
    return a.empty() ? "(empty)" : std::string(a.begin(), a.end() - 1);
}

std::string Body(const std::string& lfMail, const char* boundary, int* encoding = NULL)
{
    auto files = WriteTwins(lfMail);
    return ExtractAlike(files.first, files.second, boundary, encoding);
}

std::string QpBody(const std::string& lfBody, const char* boundary = NULL)
{
    return Body((boundary ? kMultipart + "--b1\n" : "") + "Content-Transfer-Encoding: quoted-printable\n\n" + lfBody,
                boundary);
}

}  // namespace

TEST(ExtractMailBody, SinglePartAndFirstPart)
{
    EXPECT_EQ("line 1\n\n-\n--b1\n-", Body("Subject: a\n\tb\nX: \n\nline 1\n\n-\n--b1\n-", NULL));
    EXPECT_EQ("", Body("Subject: no empty line\n", NULL));
    EXPECT_EQ("a\rb\n", Body("Subject: a\n\na\rb\n", NULL));
    EXPECT_EQ("up to", Body("Subject: a\n\nup to\x1a the end\n", NULL));

    const std::string mail = kMultipart + "preamble\n--b1\nContent-Type: text/plain; charset=us-ascii\n\n"
                                          "first\n-not a delimiter\n--b2 nor this\n--b1";
    for (const char* rest : {"\nsecond part\n--b1--\n", "--\n", "x\n"})
        EXPECT_EQ("first\n-not a delimiter\n--b2 nor this\n", Body(mail + rest, "b1"));
    EXPECT_EQ("first\n", Body(kMultipart + "--b1\n\nfirst\n-", "b1"));  // a last hyphen ends it
    // A lone CR ends no line: the delimiters after one are text.
    EXPECT_EQ("first\r--b1\n", Body(kMultipart + "pre\r--b1\n\nnot this\n--b1\n\nfirst\r--b1\n--b1--\n", "b1"));
    EXPECT_EQ("", Body(kMultipart + "no delimiter at all\n", "b1"));
    // The UTF-8 declaration only in the second part: the first part still comes out.
    const std::string second = kMultipart + "--b1\nContent-Type: text/plain; charset=iso-8859-1\n\nLatin \xE9\n"
                                            "--b1\nContent-Type: text/html; charset=utf-8\n\n<p>x</p>\n--b1--\n";
    EXPECT_EQ("Latin \xE9\n", Body(second, "b1"));
    EXPECT_TRUE(MultipartFileHasUtf8Part(WriteTwins(second).first.c_str(), "b1"));
}

TEST(ExtractMailBody, TransferEncodingIsOnlyEverSet)
{
    int encoding = -1;
    EXPECT_EQ("A=\n", Body("Content-Transfer-Encoding: quoted-printable\n" + kMultipart +
                               "--b1\nContent-Transfer-Encoding: 8bit\n\n=41=3D\n--b1--\n", "b1", &encoding));
    EXPECT_EQ(QuotedPrintable, encoding);
    EXPECT_EQ("=41\n", Body("Content-Transfer-Encoding: base64; quoted-printable\n\n=41\n", NULL, &encoding));
    EXPECT_EQ(Base64, encoding);
    EXPECT_EQ("A\n", Body("content-transfer-encoding:\n\tQuoted-Printable\n\n=41\n", NULL, &encoding));
    EXPECT_EQ(QuotedPrintable, encoding);
    EXPECT_EQ("=41\n", Body("Content-Transfer-Encoding:\n quoted-printable\n\n=41\n", NULL, &encoding));
    EXPECT_EQ(Identity, encoding);  // a space continues no field
    EXPECT_EQ("QUJD\n", Body("Content-Transfer-Encoding: BASE64\n" + kMultipart + "--b1\n\nQUJD\n--b1--\n", "b1",
                             &encoding));
    EXPECT_EQ(Base64, encoding);
    // The CR LF file ends the first line CR CR LF: a lone CR, then the line end.
    EXPECT_EQ("A\n", Body("Subject: a\r\nContent-Transfer-Encoding: quoted-printable\n\n=41\n", NULL));
    // The encoding must end within 299 characters after the 'C'; in the first field the
    // continuation's line feed is the 299th, and its tab takes the terminator's place.
    for (int pad = 256; pad <= 258; ++pad) {
        const std::string field = "Content-Transfer-Encoding: " + std::string(pad, 'x') + "quoted-printable\n\tx\n";
        SCOPED_TRACE(pad);
        EXPECT_EQ(field.find("quoted-printable") + 15 <= 299 ? "A\n" : "=41\n", Body(field + "\n=41\n", NULL));
    }
}

TEST(ExtractMailBody, QuotedPrintable)
{
    EXPECT_EQ(10, HexDigitValue('a'));
    EXPECT_EQ(-1, HexDigitValue('g'));
    EXPECT_EQ("AJ=\xE6\xBC\xA2\n", QpBody("=41=4a=3D=E6=bc=A2\n"));
    EXPECT_EQ("joined line\n", QpBody("joined =\nline\n"));
    EXPECT_EQ("=x\n", QpBody("=G1x\n"));     // the '=' stays, the two after it go
    EXPECT_EQ("a=b\n", QpBody("a= \nb\n"));  // and so does the line end after a blank
    EXPECT_EQ("ABC\n", QpBody("=\n=41=\n=\n=42C\n"));
    for (const char* end : {"end=", "end=4", "end=\n", "end=\n="})
        EXPECT_EQ("end", QpBody(end));
    // Neither a soft break nor a decoded line feed makes a line start: the delimiter
    // after one is body text.
    EXPECT_EQ("a--b1\nmore\n", QpBody("a=\n--b1\nmore\n--b1--\n", "b1"));
    EXPECT_EQ("a\n--b1\nmore\n", QpBody("a=\n\n--b1\nmore\n--b1--\n", "b1"));
    EXPECT_EQ("a\n--b1\n", QpBody("a=0A--b1\n--b1\n", "b1"));
}

TEST(MailRobustness, UnreadableTinyAndHugeInput)
{
    MailBodyBuffer body(5, 'x');
    EXPECT_EQ(Identity, ExtractMailBodyFromFile(MailFolder().c_str(), "b1", &body));  // a directory
    EXPECT_TRUE(body.empty());
    EXPECT_FALSE(MultipartFileHasUtf8Part(MailFolder().c_str(), "b1"));
    body.assign(5, 'x');
    ExtractMailBodyFromFile(NULL, NULL, &body);
    EXPECT_TRUE(body.empty());
    ExtractMailBodyFromFile(MailFolder().c_str(), NULL, NULL);
    for (const char* bytes : {"", "\x1a", "-", "\n", "=", "\r", "C", "--b1"}) {
        for (const char* boundary : {static_cast<const char*>(NULL), "b1", ""})
            EXPECT_EQ("", Body(bytes, boundary));
    }

    // A 100,000-character field is read in pieces; a 10,000-byte boundary still works.
    const std::string filler(100000, 'x'), boundary(10000, 'B');
    char* slot = NULL;
    EXPECT_EQ(Utf8, ClassifyMailHeader(("Content-Type: text/plain; x=" + filler + "; charset=utf-8").c_str(), &slot));
    EXPECT_EQ(MultipartAlternative, ClassifyMailHeader(("X: " + filler + "\nContent-Type: multipart/alternative;\n"
                                                        "\tboundary=\"" + boundary + "\"\n").c_str(), &slot));
    ASSERT_NE(nullptr, slot);
    EXPECT_EQ(boundary, slot);
    const std::string mail = "X: " + filler + "\nContent-Transfer-Encoding:" + filler + " quoted-printable\n\n--" +
                             boundary.substr(1) + "\n--" + boundary + std::string(500, '-') +
                             "\nContent-Type: text/plain; " + filler.substr(0, 200) + "charset=utf-8\n\n=41\n--" +
                             boundary + "--\n";
    EXPECT_EQ("=41\n", Body(mail, slot));  // the encoding stood beyond 299 characters
    EXPECT_TRUE(MultipartFileHasUtf8Part(WriteTwins(mail).first.c_str(), slot));
    free(slot);
}

TEST(MailRobustness, RandomAndTruncatedMailsReadAlikeInBothLineEndStyles)
{
    // Bytes that steer the scans; no CR before an LF, so that the bare-LF file is the
    // exact twin of its CR LF form.
    static const char kAlphabet[] = "--==\n\n\n\tCc:b1B41Ag \xE9\xFF\x1a\r\0";
    const std::string heads[] = {"", kMultipart + "Content-Transfer-Encoding: quoted-printable\n",
                                 "Content-Transfer-Encoding: base64\n\n", "Content-Type: text/plain; charset=utf-8\n\n--b1\n"};
    std::mt19937 random(20240611);
    for (int round = 0; round < 400; ++round) {
        std::string lf = heads[random() % 4];
        for (size_t length = random() % 400; lf.size() < length;) {
            char c = kAlphabet[random() % (sizeof kAlphabet - 1)];
            if ((c == '\x1a' && random() % 8) || (c == '\n' && !lf.empty() && lf.back() == '\r'))
                continue;
            lf += c;
        }
        SCOPED_TRACE(round);
        char* slot = NULL;
        ClassifyMailHeader(lf.c_str(), &slot);
        free(slot);
        Body(lf, round % 3 == 0 ? NULL : round % 3 == 1 ? "b1" : "");
    }
    const std::string mail = WithCrlf("Content-Type: multipart/alternative; boundary=b1\n"
                                      "Content-Transfer-Encoding: quoted-printable\n\npre\n--b1\n"
                                      "Content-Type: text/plain;\n\tcharset=utf-8\n\nsoft=\nbreak =E6=BC=A2=\n\n-x\n--b1--\n");
    for (size_t cut = 0; cut <= mail.size(); ++cut) {
        SCOPED_TRACE(cut);
        std::string part = mail.substr(0, cut);
        ExtractAlike(WriteMailFile("cut-crlf.eml", part), WriteMailFile("cut-lf.eml", WithoutCrlf(part)), "b1");
    }
}

TEST(MailRobustness, PublicSampleMails)
{
    const std::string folder = MailCorpusFolder();
    if (folder.empty())
        GTEST_SKIP() << "no public sample mails on this machine";
    int files = 0, utf8 = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string path = entry.path().string();
        SCOPED_TRACE(path);
        ++files;
        std::string text = WithoutCrlf(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
        text = text.substr(0, text.find('\x1a'));
        // The header as the host hands it over: its lines joined with LF.
        size_t headerEnd = text.compare(0, 1, "\n") == 0 ? 0 : text.find("\n\n");
        char* boundary = NULL;
        int kind = ClassifyMailHeader(text.substr(0, headerEnd == std::string::npos ? headerEnd : headerEnd + 1).c_str(),
                                      &boundary);
        utf8 += kind == Utf8 || (boundary && MultipartFileHasUtf8Part(path.c_str(), boundary));
        int encoding = Identity;
        std::string body = ExtractAlike(path, WriteMailFile("sample-lf.eml", text), boundary, &encoding);
        if (!boundary && encoding != QuotedPrintable) {  // then the body is the text after the header
            EXPECT_EQ(headerEnd == std::string::npos ? "" : text.substr(headerEnd + (headerEnd ? 2 : 1)), body);
        }
        free(boundary);
    }
    EXPECT_GT(files, 0);
    EXPECT_GT(utf8, 0);
}
