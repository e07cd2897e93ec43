// Taking the body out of a mail file; odd, hostile and random input; the public samples.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "mailview/mailtext/mime/mail_text.h"
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

// The body read a piece at a time (pieces of 1, then 7 bytes), decoded; "none" when the
// reader can't open it.
std::string ReadInPieces(const std::string& path, const char* boundary, int nested, int orHtml = 0)
{
    BodyReader reader;
    if (!OpenBodyReader(&reader, path.c_str(), boundary, nested, orHtml))
        return "none";
    std::string body;
    unsigned char piece[7];
    for (size_t size = 1, got; (got = ReadBodyBytes(&reader, piece, size)) > 0; size = 7)
        body.append(reinterpret_cast<const char*>(piece), got);
    CloseBodyReader(&reader);
    return body;
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
    if (encodingA != Base64 && !a.empty()) {
        EXPECT_EQ(std::string(a.begin(), a.end() - 1), ReadInPieces(pathA, boundary, 0));
    }
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
        const std::string path = entry.path().string();
        SCOPED_TRACE(path);
        ++files;
        std::string text = WithoutCrlf(ReadMailBytes(path));
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

namespace {

// The first text/plain part of a multipart file, as "charset|encoding|body" (else its first text/html part, "html:"
// first); "none" when the walk finds none. Both line-end styles must agree, and the load's walk with the press's.
std::string TextPartOf(const std::string& lfMail, size_t limit = kWholeBody, int orHtml = 0)
{
    ContentType top;
    ReadHeaderContentType(lfMail.substr(0, lfMail.find("\n\n") + 1).c_str(), &top);
    const char* boundary = top.boundary;
    auto files = WriteTwins(lfMail);
    TextPart found, twin;
    MailBodyBuffer a, b;
    int encoding = ExtractTextPartFromFile(files.first.c_str(), boundary, &a, limit, &found, orHtml);
    EXPECT_EQ(encoding, ExtractTextPartFromFile(files.second.c_str(), boundary, &b, limit, &twin, orHtml));
    EXPECT_EQ(a, b);
    int located = FindFirstTextPart(files.first.c_str(), boundary, &twin, orHtml);
    EXPECT_EQ(located, FindFirstTextPart(files.second.c_str(), boundary, NULL, orHtml));
    if (!located) {
        EXPECT_TRUE(a.empty());
        return orHtml ? "none" : TextPartOf(lfMail, limit, 1);
    }
    EXPECT_EQ(found.bodyOffset, twin.bodyOffset);
    EXPECT_TRUE(!a.empty() && a.back() == 0);
    if (encoding != Base64 && limit == kWholeBody && !a.empty()) {
        EXPECT_EQ(std::string(a.begin(), a.end() - 1), ReadInPieces(files.second, boundary, 1, orHtml));
    }
    return std::string(found.html ? "html:" : "") + found.charset + "|" + std::to_string(encoding) + "|" +
           (a.empty() ? "" : std::string(a.begin(), a.end() - 1));
}

}  // namespace

TEST(NestedTextPart, WalksPartsAndNestedMultipartsToTheFirstPlainText)
{
    const std::string text = "Content-Type: text/plain; charset=\"UTF-8\"\nContent-Transfer-Encoding: quoted-printable\n\n"
                             "caf=C3=A9\n";
    const std::string mixed = "Content-Type: multipart/mixed; boundary=m\n\n";
    const char* const kCafe = "UTF-8|2|caf\xC3\xA9\n";
    auto Nested = [&](int depth) {
        std::string mail = "Content-Type: multipart/mixed; boundary=L1\n\n";
        for (int i = 1; i < depth; ++i)
            mail += "--L" + std::to_string(i) + "\nContent-Type: multipart/mixed; boundary=L" + std::to_string(i + 1) + "\n\n";
        return mail + "--L" + std::to_string(depth) + "\n" + text;
    };
    auto AfterParts = [&](int parts) {
        std::string mail = mixed + "--m\n";
        for (int i = 0; i < parts; ++i)
            mail += "Content-Type: image/gif\n\nGIF\n--m\n";
        return mail + text;
    };
    // A text file, then the text; a part whose Content-Type field, ending so, is n long.
    auto Disposed = [&](std::string d) { return mixed + "--m\nContent-Disposition:" + d + "\n\nnotes\n--m\n" + text; };
    auto TypeOf = [&](size_t n, std::string e) {
        return mixed + "--m\nContent-Type: text/plain; name=\"" + std::string(n - 35 - e.size(), 'n') + "\"; " + e + "\n\nx\n";
    };
    const struct {
        const char* what;
        std::string mail;
        const char* expected;
    } rows[] = {
        {"a mixed mail: alternative first, then a file",
         "Content-Type: multipart/mixed; boundary=\"m\"\n\npreamble\n--m\n"
         "Content-Type: multipart/alternative; boundary=\"a\"\n\n--a\n" + text + "--a\n"
         "Content-Type: text/html; charset=utf-8\n\n<p>x</p>\n--a--\n--m\n"
         "Content-Type: application/pdf\nContent-Transfer-Encoding: base64\n\nJVBERi0=\n--m--\n",
         "UTF-8|2|caf\xC3\xA9\n"},
        {"parts before it are passed over",
         "Content-Type: multipart/mixed; boundary=m\n\n--m\nContent-Type: image/png\n\n--m-not\n--m\n"
         "Content-Type: text/html\n\nx\n--m\nContent-Type: Text/Plain; charset=iso-8859-1\n\n\xE9\n--m--\n",
         "iso-8859-1|0|\xE9\n"},
        {"a part without Content-Type is plain text",
         "Content-Type: multipart/mixed; boundary=m\n\n--m\nContent-Transfer-Encoding: base64\n\nw6k=\n--m--\n",
         "|1|w6k=\n"},
        {"a closed inner multipart gives way to the next part of the outer",
         "Content-Type: multipart/mixed; boundary=m\n\n--m\nContent-Type: multipart/related; boundary=r\n\n"
         "--r\nContent-Type: text/html\n\nh\n--r--\nepilogue\n--m\n" + text + "--m--\n",
         "UTF-8|2|caf\xC3\xA9\n"},
        {"an outer delimiter ends an inner multipart left open",
         "Content-Type: multipart/mixed; boundary=m\n\n--m\nContent-Type: multipart/related; boundary=r\n\n"
         "--r\nContent-Type: image/gif\n\nGIF\n--m\n" + text + "--m--\n",
         "UTF-8|2|caf\xC3\xA9\n"},
        {"the longest boundary that begins a line is its delimiter",
         "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: multipart/alternative; boundary=b-1\n\n"
         "--b-1\nContent-Type: text/html\n\nh\n--b-1\n" + text + "--b-1--\n--b--\n",
         "UTF-8|2|caf\xC3\xA9\n"},
        {"an inner boundary that begins with the outer one",
         "Content-Type: multipart/mixed; boundary=b-1\n\n--b-1\nContent-Type: multipart/alternative; boundary=b\n\n"
         "--b\n" + text + "--b-1--\n",
         "UTF-8|2|caf\xC3\xA9\n"},
        {"no plain text anywhere",
         "Content-Type: multipart/mixed; boundary=m\n\n--m\nContent-Type: text/html\n\nh\n--m--\n"
         "--m\nContent-Type: text/plain\n\nafter the close\n",
         "html:|0|h\n"},
        {"two HTML parts: the first, read where the walk found it", mixed + "--m\nContent-Type: text/html; charset=big5\n"
         "Content-Transfer-Encoding: base64\n\nPGI+\n--m\nContent-Type: text/html\n\nsecond\n--m--\n", "html:big5|1|PGI+\n"},
        {"an attached HTML part only", mixed + "--m\nContent-Type: text/html\nContent-Disposition: attachment\n\nh\n", "none"},
        {"a multipart without a boundary is a part like any other",
         "Content-Type: multipart/mixed; boundary=m\n\n--m\nContent-Type: multipart/alternative\n\n--x\n"
         "Content-Type: text/plain\n\nno\n--m\n" + text, "UTF-8|2|caf\xC3\xA9\n"},
        {"no delimiter", "Content-Type: multipart/mixed; boundary=m\n\n" + text, "none"},
        {"a header that never ends", "Content-Type: multipart/mixed; boundary=m\n\n--m\nContent-Type: text/plain",
         "none"},
        {"fields folded with a space",
         "Content-Type: multipart/mixed;\n boundary=m\n\n--m\nContent-Type: multipart/alternative;\n boundary=a\n\n--a\n"
         "Content-Type: text/plain;\n "
                 "charset=koi8-r\n\nx\n--a--\n--m\nContent-Type: text/plain; name=notes.txt\n\nnotes\n",
         "koi8-r|0|x\n"},
        {"a text file sent with the mail is passed over",
         mixed + "--m\nContent-Type: text/plain\nContent-Disposition: Attachment;\n filename=a.txt\n\na\n--m\n" + text,
         kCafe},
        {"folded after the colon", Disposed("\n attachment; filename=a"), kCafe}, {"tab", Disposed("\n\tattachment"), kCafe},
        {"bare", Disposed(" attachment"), kCafe}, {"attachmentx", Disposed(" attachmentx"), "|0|notes\n"},
        {"the first counts", Disposed(" inline\nContent-Disposition: attachment"), "|0|notes\n"},
        // Only a field longer than its buffer (299 characters after its first) is cut.
        {"298", TypeOf(298, "charset=koi8-r"), "koi8-r|0|x\n"}, {"299", TypeOf(299, "charset=koi8-r"), "koi8-r|0|x\n"},
        {"300", TypeOf(300, "charset=koi8-r "), "koi8-r|0|x\n"}, {"301", TypeOf(301, "charset=iso-8859-15"), "|0|x\n"},
        {"300, folded on", TypeOf(315, "charset=koi8-r\n format=flowed"), "|0|x\n"},
        {"cut after the charset", TypeOf(301, "charset=koi8-r; name=x"), "koi8-r|0|x\n"},
        {"an outer delimiter ends the text of an inner multipart left open",
         mixed + "--m\nContent-Type: multipart/alternative; boundary=a\n\n--a\n" + text + "--m\n\nfile\n", kCafe},
        {"equal boundaries: the inner owns its close delimiter",
         mixed + "--m\nContent-Type: multipart/related; boundary=m\n\n--m\nContent-Type: image/gif\n\n--m--\n--m\n" + text,
         kCafe},
        {"the first Content-Type counts, in any case",
         mixed + "--m\ncontent-type: text/html\nContent-Type: text/plain\n\nh\n--m\n" + text, kCafe},
        {"a message header line that begins with the delimiter",
         "Content-Type: multipart/mixed; boundary=m\n--m x\n\n--m\n" + text, kCafe},
        {"a line of one hyphen, an empty line", mixed + "pre\n\n-\n--m\n" + text, kCafe},
        {"0x1A ends the data", mixed + "--m\nContent-Type: image/gif\n\nGIF\x1A\n--m\n" + text, "none"},
        {"a lone CR begins no empty line", mixed + "--m\n\rContent-Type: text/html\n\nh\n", "|0|h\n"},
        {"8 levels deep", Nested(8), kCafe},
        {"9 levels deep", Nested(9), "none"},
        {"the 100th part", AfterParts(99), kCafe},
        {"the 101st part", AfterParts(100), "none"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.expected, TextPartOf(row.mail)) << row.what;
    // The press reads no more than the pane shows: a prefix of the whole part.
    EXPECT_EQ("UTF-8|2|ca", TextPartOf(rows[0].mail, 2));
    EXPECT_EQ("UTF-8|2|caf\xC3", TextPartOf(rows[0].mail, 4));
    EXPECT_EQ("|1|w6nDqcOp", TextPartOf(mixed + "--m\nContent-Transfer-Encoding: base64\n\nw6nD\nqcOp\n", 4));
    // Read a piece at a time, base64 is decoded as it comes: what is not of its alphabet
    // is passed over, and padding ends the data (a list's footer after it is not decoded).
    auto files = WriteTwins(mixed + "--m\nContent-Transfer-Encoding: base64\n\nw6n!D\nqc Op\nw6k=w6k=\n--m\n");
    EXPECT_EQ("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", ReadInPieces(files.first, "m", 1));
    files = WriteTwins(mixed + "--m\nContent-Transfer-Encoding: base64\n\nPGI+DQo=\n\n____\nList mailing list\n");
    EXPECT_EQ("<b>\r\n", ReadInPieces(files.first, "m", 1));
    EXPECT_EQ("none", ReadInPieces(files.first + ".none", "m", 1));
}

// The walk's bounds in parts and depth are rows of the plug-in's settings tests.
TEST(NestedTextPart, TheBodyBeginsWithinTheFirstMb)
{
    // The part's header must end within the first MB of the file.
    const std::string head = "Content-Type: multipart/mixed; boundary=m\n\n--m\nContent-Type: image/gif\n\n";
    const std::string part = "\n--m\nContent-Type: text/plain; charset=utf-8\n\n";
    for (long extra = -1; extra <= 1; ++extra) {
        const size_t filler = static_cast<size_t>(kPartSearchBytes + extra) - head.size() - part.size();
        std::string path = WriteMailFile("bound.eml", head + std::string(filler, 'x') + part + "found\n");
        TextPart found;
        EXPECT_EQ(extra <= 0 ? 1 : 0, FindFirstTextPart(path.c_str(), "m", &found)) << extra;
        if (extra <= 0) {
            EXPECT_EQ(kPartSearchBytes + extra, found.bodyOffset);
        }
    }
    // So is the message header, however its lines end.
    MailStream stream;
    ASSERT_TRUE(OpenMailStream(&stream, WriteMailFile("cr.eml", "Subject: x\r" + std::string(3 << 20, 'x')).c_str()));
    EXPECT_EQ(0, WalkToFirstTextPart(&stream, "m", NULL));
    EXPECT_LE(TellMailStream(&stream), kPartSearchBytes);
    CloseMailStream(&stream);
}

TEST(NestedTextPart, PublicSampleMails)
{
    const std::string folder = MailCorpusFolder();
    if (folder.empty())
        GTEST_SKIP() << "no public sample mails on this machine";
    const struct {
        const char* file;
        const char* charset;   // of the first text/plain part
        const char* begins;    // what its decoded text begins with
    } rows[] = {
        // Boundaries that begin alike, one inside the other.
        {"mail__email_with_similar_boundaries.eml", "utf-8", "Test\n\n"},
        {"mail__japanese_attachment.eml", "UTF-8", "testing\n\n-- \n"},
        {"mail__raw_email4.eml", "utf-8", "Some text\n\n"},
        // HTML and an image only; a forwarded mail is not looked into.
        {"mail__attachment_message_rfc822_inline_image.eml", "(none)", "(none)"},
        {"mail__multipart_report_multiple_status.eml", "(none)", "(none)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        const std::string text = ReadMailBytes(folder + "/" + row.file);
        ContentType top;
        ASSERT_EQ(1, ReadHeaderContentType(text.substr(0, text.find("\r\n\r\n") + 2).c_str(), &top));
        TextPart part;
        MailBodyBuffer body;
        ExtractTextPartFromFile((folder + "/" + row.file).c_str(), top.boundary, &body, kWholeBody, &part);
        std::string got = body.empty() ? "(none)" : std::string(body.begin(), body.end() - 1);
        EXPECT_EQ(std::string(row.charset), body.empty() ? "(none)" : part.charset) << top.boundary;
        EXPECT_EQ(row.begins, got.substr(0, std::strlen(row.begins)));
    }
}
