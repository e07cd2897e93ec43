// The exact-position reader, header classification, fields, delimiter lines and the scan
// for a UTF-8 part. Files are checked in their CR LF form and as bare-LF twins.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "mailview/mailtext/mime/mail_text.h"
#include "tests/mailtext/mail_samples.h"

namespace {

std::string ReadAll(MailStream* s)
{
    std::string out;
    for (int c = ReadMailChar(s); c != EOF; c = ReadMailChar(s))
        out += static_cast<char>(c);
    return out;
}

// IsDelimiterLine after the line's first '-': the answer, '|', then the rest of the line.
std::string DelimiterTest(const std::string& path, const char* boundary)
{
    MailStream s;
    EXPECT_EQ(1, OpenMailStream(&s, path.c_str()));
    EXPECT_EQ('-', ReadMailChar(&s));
    std::string out = IsDelimiterLine(&s, boundary) ? "yes|" : "no|";
    for (int c = ReadMailChar(&s); c != EOF && c != '\n'; c = ReadMailChar(&s))
        out += static_cast<char>(c);
    CloseMailStream(&s);
    return out;
}

bool HasUtf8Part(const std::string& lfMail, const char* boundary)
{
    auto files = WriteTwins(lfMail);
    bool crlf = MultipartFileHasUtf8Part(files.first.c_str(), boundary);
    EXPECT_EQ(crlf, MultipartFileHasUtf8Part(files.second.c_str(), boundary)) << "the bare-LF twin differs";
    return crlf;
}

}  // namespace

TEST(MailStream, LookAheadIsExactAndTextModeRulesHold)
{
    for (const char* text : {"ab\ncd\n", "ab\r\ncd\r\n"}) {  // text-mode ftell fails the first
        MailStream s;
        ASSERT_EQ(1, OpenMailStream(&s, WriteMailFile("look.eml", text).c_str()));
        EXPECT_EQ('a', ReadMailChar(&s));
        EXPECT_EQ('b', ReadMailChar(&s));
        EXPECT_EQ('\n', ReadMailChar(&s));
        long lineStart = TellMailStream(&s);
        EXPECT_EQ('c', ReadMailChar(&s));
        ASSERT_EQ(1, SeekMailStream(&s, lineStart));
        EXPECT_EQ("cd\n", ReadAll(&s));
        CloseMailStream(&s);
    }
    // A lone CR stays; 0x1A ends the data and stays put until a seek goes back before it.
    MailStream s;
    ASSERT_EQ(1, OpenMailStream(&s, WriteMailFile("cr.eml", "a\rb\r\r\nc\r\x1a" "d").c_str()));
    EXPECT_EQ("a\rb\r\nc\r", ReadAll(&s));
    EXPECT_TRUE(MailStreamAtEnd(&s));
    EXPECT_EQ(EOF, ReadMailChar(&s));
    EXPECT_EQ(8, TellMailStream(&s));
    ASSERT_EQ(1, SeekMailStream(&s, 3));
    EXPECT_EQ("\r\nc\r", ReadAll(&s));
    CloseMailStream(&s);
    // The same across the edge of the read window: the CR is its last byte, the 0x1A the
    // next window's first, and the seek back goes before the window then held.
    const long edgeAt = kMailStreamWindow;
    const std::string edge = std::string(edgeAt - 1, 'x') + "\r\x1a" "d";
    ASSERT_EQ(1, OpenMailStream(&s, WriteMailFile("edge.eml", edge).c_str()));
    EXPECT_EQ(edge.substr(0, edgeAt), ReadAll(&s));
    EXPECT_EQ(edgeAt, TellMailStream(&s));
    ASSERT_EQ(1, SeekMailStream(&s, edgeAt - 2));
    EXPECT_EQ('x', ReadMailChar(&s));
    EXPECT_EQ(edgeAt - 1, TellMailStream(&s));
    EXPECT_EQ("\r", ReadAll(&s));
    EXPECT_EQ(edgeAt, TellMailStream(&s));
    CloseMailStream(&s);

    EXPECT_EQ(0, OpenMailStream(&s, NULL));
    EXPECT_EQ(0, OpenMailStream(&s, MailFolder().c_str()));
    EXPECT_EQ(0, OpenMailStream(&s, (MailFolder() + "/missing.eml").c_str()));
}

TEST(TextSearch, OnlyAsciiLettersFold)
{
    EXPECT_EQ(0, ComparePrefixNoCase("Content-Type: x", "CONTENT-type:"));
    EXPECT_EQ(1, ComparePrefixNoCase("Conte", "Content"));
    EXPECT_EQ(1, ComparePrefixNoCase("[", "{"));
    EXPECT_EQ(1, ComparePrefixNoCase("\xE9", "\xC9"));
    EXPECT_STREQ("utf-8\"", FindNoCase("a; CharSet=\"utf-8\"", "charset=\""));
    const char text[] = "utf-8; x";
    EXPECT_EQ(text + 5, FindNoCaseOrEnd(text, "UTF-8"));
    EXPECT_EQ(text + 8, FindNoCaseOrEnd(text, "y"));
    EXPECT_EQ(NULL, FindNoCase("abc", "abcd"));
    EXPECT_STREQ("\"", FindCharOrEnd("b1\"", '"'));
}

TEST(ClassifyMailHeader, FirstContentTypeLineDecides)
{
    const struct {
        const char* header;
        int expected;
        const char* boundary;
    } cases[] = {
        {"Subject: a\nContent-Type: text/plain; charset=UTF-8\n", Utf8, NULL},
        {"CONTENT-TYPE: Text/Plain; CharSet=\"uTF-8\"\n", Utf8, NULL},
        {"Content-Type: text/plain; charset=iso-2022-jp; x-note=utf-8\n", Utf8, NULL},
        {"Content-Type: text/plain;\n\tcharset=utf-8\n", Utf8, NULL},
        {"Content-Type: text/plain;\n charset=utf-8\n", NotUtf8, NULL},
        {"Content-Type: text/plain\nContent-Type: text/plain; charset=utf-8\n", NotUtf8, NULL},
        {"\tContent-Type: text/plain; charset=utf-8\n", NotUtf8, NULL},
        {"Subject: a\n\nContent-Type: text/plain; charset=utf-8\n", Utf8, NULL},
        {"Content-Type: text/plain; utf-8; charset=\n", NotUtf8, NULL},
        {"Content-Type: text/plain; charset=utf-7\n", NotUtf8, NULL},
        {"Content-Type: text/plain; charset=utf-16\n", NotUtf8, NULL},
        {"Content-Type: text/plain; charset=utf8\n", NotUtf8, NULL},
        {"Subject: utf-8\n", NotUtf8, NULL},
        {"", NotUtf8, NULL},
        {NULL, NotUtf8, NULL},
        {"Content-Type: multipart/alternative; boundary=\"b1\"\r\n", MultipartAlternative, "b1"},
        {"Content-Type: multipart/alternative; boundary=b1\r\n", MultipartAlternative, "b1"},
        {"Content-Type: multipart/alternative; boundary=b1; x=y\n", MultipartAlternative, "b1; x=y"},
        {"Content-Type: Multipart/Alternative;\n\tBOUNDARY=\"=_a b\"; x=\"y\"\n", MultipartAlternative, "=_a b"},
        {"Content-Type: multipart/alternative; boundary=b1\n\tx=y \n", MultipartAlternative, "b1\n\tx=y"},
        {"Content-Type: multipart/alternative; boundary=b1\xE9\xA0 \x01\n", MultipartAlternative, "b1"},
        {"Content-Type: multipart/alternative\n", MultipartAlternative, NULL},
        {"Content-Type: multipart/alternative; boundary=\n", MultipartAlternative, NULL},
        {"Content-Type: multipart/alternative; boundary=\" \t\"\n", MultipartAlternative, NULL},
        {"Content-Type: multipart/alternative", NotUtf8, NULL},
        {"Content-Type: multipart/mixed; boundary=b1\n", NotUtf8, NULL},
        {"Content-Type: multipart/alternative; charset=utf-8; boundary=b1\n", Utf8, NULL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header ? c.header : "(null)");
        char* slot = static_cast<char*>(malloc(4));  // the previous mail's: freed, or a leak
        strcpy(slot, "old");
        EXPECT_EQ(c.expected, ClassifyMailHeader(c.header, &slot));
        EXPECT_STREQ(c.boundary, slot);
        free(slot);
    }
}

TEST(ReadUnfoldedField, FillsTheCountWithoutATerminator)
{
    auto files = WriteTwins("ab\n\tc\n\td\nnext\n");
    for (const std::string& path : {files.first, files.second}) {
        MailStream s;
        ASSERT_EQ(1, OpenMailStream(&s, path.c_str()));
        char buffer[8];
        memset(buffer, '#', sizeof buffer);
        // The tab after the line feed in the last place goes into the extra byte.
        ASSERT_EQ(buffer, ReadUnfoldedField(buffer, 6, &s));
        EXPECT_EQ(std::string("ab\n c\n #"), std::string(buffer, 8));
        EXPECT_EQ("d", std::string(ReadUnfoldedField(buffer, 6, &s)));
        EXPECT_EQ("next", std::string(ReadUnfoldedField(buffer, 6, &s)));
        EXPECT_EQ(NULL, ReadUnfoldedField(buffer, 6, &s));
        CloseMailStream(&s);
    }
}

TEST(IsDelimiterLine, TwoHyphensAndTheBoundaryBeginTheLine)
{
    const struct {
        std::string line;
        const char* expected;
        const char* boundary = "b1";
    } cases[] = {
        {"--b1\nnext", "yes|next"}, {"--b1--\n", "yes|"}, {"--B1\n", "yes|"}, {"--b1x\n", "yes|"},
        {"-b1\n", "no|b1"},         {"--b\n", "no|-b"},   {"--c1\n", "no|-c1"}, {"-", "yes|"},
        {"--", "no|-"},             {"--b1", "yes|"},     {"-\n", "no|"},
        {"--b1" + std::string(98, 'x') + "TAIL\n", "yes|TAIL"},  // boundary length + 98 consumed
        // Every letter folds; the bytes either side of the letter ranges don't.
        {"--ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz\n", "yes|",
         "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"},
        {"--`\n", "no|-`", "@"}, {"--{\n", "no|-{", "["}, {"--@\n", "no|-@", "`"}, {"--[\n", "no|-[", "{"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        auto files = WriteTwins(c.line);
        EXPECT_EQ(c.expected, DelimiterTest(files.first, c.boundary));
        EXPECT_EQ(c.expected, DelimiterTest(files.second, c.boundary));
    }
}

TEST(MultipartFileHasUtf8Part, LooksOnlyAfterTheFirstDelimiter)
{
    const std::string header = "Content-Type: multipart/alternative; boundary=b1\n\n pre --b1\n-b1\n";
    EXPECT_TRUE(HasUtf8Part(header + "--b1\nContent-Type: text/html;\n\tcharset=UTF-8\n\nx\n", "b1"));
    EXPECT_TRUE(HasUtf8Part(header + "--b1 x\n\nplain\n--b1\ncontent-type: text/plain; charset=utf-8\n", "b1"));
    EXPECT_TRUE(HasUtf8Part(header + "--b1\n\nContent-Type: utf-8 in a body line\n", "b1"));
    EXPECT_FALSE(HasUtf8Part("Content-Type: text/plain; charset=utf-8\n\n--b1\n\nx\n", "b1"));
    EXPECT_FALSE(HasUtf8Part(header + "--b1\nContent-Type: text/plain;\n charset=utf-8\n", "b1"));
    EXPECT_FALSE(HasUtf8Part(header + "--b1\n Content-Type: text/plain; charset=utf-8\n", "b1"));
    EXPECT_FALSE(HasUtf8Part(header + "Content-Type: text/plain; charset=utf-8\n", "b1"));
    // A lone CR ends no line, neither before a delimiter nor before a field.
    EXPECT_FALSE(HasUtf8Part(header + "x\r--b1\nContent-Type: text/plain; charset=utf-8\n--b1\n"
                                      "x\rContent-Type: text/plain; charset=utf-8\n", "b1"));
    EXPECT_FALSE(HasUtf8Part(header + "--b1\nContent-Type: text/plain; charset=utf-8\n", NULL));
    EXPECT_FALSE(MultipartFileHasUtf8Part(NULL, "b1"));
    // "utf-8" must end within 299 characters after the 'C'; a joined continuation counts
    // its line feed and its tab.
    for (int pad = 264; pad <= 267; ++pad) {
        std::string field = "Content-Type: text/plain;\n\tx=" + std::string(pad, 'y') + "utf-8\n";
        SCOPED_TRACE(pad);
        EXPECT_EQ(field.find("utf-8") + 4 <= 299, HasUtf8Part(header + "--b1\n" + field, "b1"));
    }
    // A continuation's line feed as the 298th, 299th and 300th character: the charset after
    // it is never read, though at the 299th its tab takes the terminator's place.
    for (int pad = 270; pad <= 272; ++pad) {
        SCOPED_TRACE(pad);
        EXPECT_FALSE(HasUtf8Part(header + "--b1\nContent-Type: text/plain; x=" + std::string(pad, 'y') +
                                     "\n\tcharset=utf-8\n", "b1"));
    }
}

TEST(ContentTypeParameters, ReadOneByOneAndComparedWhole)
{
    const struct {
        const char* value;
        const char* mediaType;
        const char* charset;
        const char* boundary;
    } rows[] = {
        {" Text/Plain; charset=\"ISO-8859-1\"\n", "text/plain", "ISO-8859-1", ""},
        {" multipart/mixed;\n boundary=\"=_a; b\"; charset=utf-8", "multipart/mixed", "utf-8", "=_a; b"},
        // A token ends at a blank or ';', not at the end of the field as the classifier's does.
        {"multipart/related; boundary=b1 ; type=\"text/html\"", "multipart/related", "", "b1"},
        {"text/plain;format=flowed;CHARSET=koi8-r;charset=big5", "text/plain", "koi8-r", ""},
        {"text/plain; name=\"a;charset=big5\"; xcharset=gbk", "text/plain", "", ""},
        {"text/plain; charset=\"a\\\"b\"", "text/plain", "a\"b", ""},
        {"text/plain; charset = euc-kr", "text/plain", "euc-kr", ""},
        {"text/plain; charset=\"unterminated", "text/plain", "", ""},
        {"text/plain; format=flowed \"x;charset=big5;\"; charsetx=big5; charset=gbk", "text/plain", "gbk", ""},
        // 40 characters: one more than the field holds with its terminator.
        {"multipart/mixed; boundary=m; charset=x123456789x123456789x123456789x123456789", "multipart/mixed", "",
         "m"},
        {"", "", "", ""},
        {";;=;charset", "", "", ""},
    };
    for (const auto& row : rows) {
        ContentType type;
        ParseContentType(row.value, &type);
        EXPECT_STREQ(row.mediaType, type.mediaType) << row.value;
        EXPECT_STREQ(row.charset, type.charset) << row.value;
        EXPECT_STREQ(row.boundary, type.boundary) << row.value;
    }
    // Too long for its field: left out, never cut into another name.
    ContentType type;
    ParseContentType(("text/plain; charset=iso-8859-1" + std::string(40, 'x')).c_str(), &type);
    EXPECT_STREQ("", type.charset);
    ParseContentType(("multipart/mixed; boundary=" + std::string(299, 'b')).c_str(), &type);
    EXPECT_EQ(299u, std::strlen(type.boundary));
    ParseContentType(("multipart/mixed; boundary=" + std::string(300, 'b')).c_str(), &type);
    EXPECT_STREQ("", type.boundary);

    EXPECT_EQ(1, ReadHeaderContentType("Subject: a\nContent-Type: multipart/mixed;\n\tboundary=\"m\"\n"
                                       "Content-Type: text/plain\n", &type));
    EXPECT_STREQ("multipart/mixed", type.mediaType);
    EXPECT_STREQ("m", type.boundary);
    EXPECT_EQ(1, IsMultipartType(type));
    EXPECT_EQ(0, ReadHeaderContentType("Subject: a\n", &type));
    EXPECT_EQ(0, ReadHeaderContentType(NULL, &type));
}

TEST(ContentTypeParameters, CharsetTableNamesItsCodePages)
{
    const struct {
        const char* name;
        unsigned codePage;
    } rows[] = {
        {"iso-8859-1", 1252}, {"Latin1", 1252}, {"iso_8859-1:1987", 1252}, {"cp819", 1252}, {"ISO-8859-9", 1254},
        {"latin5", 1254}, {"iso-8859-11", 874}, {"TIS-620", 874}, {"iso-8859-13", 28603}, {"iso-8859-15", 28605},
        {"Windows-1250", 1250},  {"windows-1258", 1258}, {"KOI8-R", 20866},     {"koi8-u", 21866},
        {"EUC-KR", 949},         {"ks_c_5601-1987", 949}, {"GB2312", 936},      {"gbk", 936},
        {"GB18030", 54936},      {"Big5", 950},        {"iso-8859-2", 28592},  {"iso-8859-3", 28593},
        {"iso-8859-4", 28594},   {"iso-8859-5", 28595}, {"iso-8859-6", 28596},  {"iso-8859-7", 28597},
        {"iso-8859-8", 28598},   {"windows-1251", 1251}, {"windows-1252", 1252}, {"windows-1253", 1253},
        {"windows-1254", 1254},  {"windows-1255", 1255}, {"windows-1256", 1256}, {"windows-1257", 1257},
        {"UTF-7", 65000},
        // Whole names only, and nothing for what the host shows itself.
        {"iso-8859-10", 0},      {"iso-8859-1 ", 0},    {"xiso-8859-1", 0},     {"iso-8859-", 0},
        {"utf-8", 0},            {"us-ascii", 0},       {"iso-2022-jp", 0},     {"shift_jis", 0},
        {"euc-jp", 0},           {"big5-hkscs", 0},     {"", 0},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.codePage, CharsetCodePage(row.name)) << row.name;
    EXPECT_EQ(0u, CharsetCodePage(NULL));
    // Labels that give way to valid UTF-8 (1), only where their double-byte code page fails (2), never (0).
    const std::pair<const char*, int> labels[] = {{"", 1}, {"US-ASCII", 1}, {"iso-8859-1", 1}, {"utf-7", 1}, {"gbk", 2},
        {"big5", 2}, {"euc-kr", 2}, {"gb18030", 2}, {"utf-8", 0}, {"shift_jis", 0}, {"ascii ", 0}, {"x-y", 0}};
    for (const auto& label : labels)
        EXPECT_EQ(label.second, Utf8FallbackOf(label.first)) << label.first;
}

TEST(ContentTypeParameters, Utf8IsValidOnlyInItsShortestFormsAndItsRange)
{
    // Valid, valid as a start, sequences of 2+ bytes; then overlong, surrogates, > U+10FFFF, Latin-1, SJIS.
    const struct { std::string bytes; int whole, prefix; size_t sequences; } rows[] = {
        {"", 1, 1, 0}, {"caf\xC3\xA9 \xDF\xBF\xEF\xBF\xBF\xF0\x9F\x98\x80", 1, 1, 4}, {"\xC3\xA9\xE3\x81", 0, 1, 1},
        {"\xC0\xAF", 0, 0, 0}, {"\xE0\x80\xAF", 0, 0, 0}, {"\xED\xA0\x80", 0, 0, 0}, {"\xF4\x90\x80\x80", 0, 0, 0},
        {"\xF5\x80\x80\x80", 0, 0, 0}, {"caf\xE9 ", 0, 0, 0}, {"\x80", 0, 0, 0}, {"\x82\xA0\x82\xA2", 0, 0, 0},
        {"\xE3\x41", 0, 0, 0}, {"\xED\xA0", 0, 0, 0}};
    for (const auto& row : rows) {
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(row.bytes.data());
        size_t sequences = 0;
        EXPECT_EQ(row.whole, ScanUtf8(bytes, row.bytes.size(), 0, NULL)) << row.bytes;
        EXPECT_EQ(row.prefix, ScanUtf8(bytes, row.bytes.size(), 1, &sequences)) << row.bytes;
        EXPECT_EQ(row.sequences, sequences) << row.bytes;
    }
}
