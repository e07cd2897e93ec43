// What the toggle costs on large mails: ExtractMailBody (with base64 decoding) and
// Utf8ToUtf16 against a loop that only reads the same file a character at a time.
//
// Without arguments the program runs itself once per transfer encoding, so that each
// process's peak memory belongs to one encoding; "--encoding NAME DIR" is one such run.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hostsim/host_sim.h"
#include "mailview/mail_file.h"
#include "base/host_api.h"

namespace {

const char* const kEncodings[] = {"8bit", "quoted-printable", "base64"};
const int kSizesMb[] = {1, 10, 50};
const double kMb = 1000.0 * 1000.0;
const int kRepeats = 5;  // the best of these counts
const char kBoundary[] = "=_velmora_bench";

// One text line of mixed Japanese, ASCII, an emoji and an accented letter, CR LF ended.
std::string TextLine(int number)
{
    char prefix[16];
    snprintf(prefix, sizeof prefix, "%06d ", number);
    return std::string(prefix) +
           "\xE3\x83\xA1\xE3\x83\xBC\xE3\x83\xAB\xE6\x9C\xAC\xE6\x96\x87\xE3\x81\xAE\xE8\xA9\xA6\xE9\xA8\x93 "
           "The quick brown fox jumps over the lazy dog \xF0\x9F\x98\x80 caf\xC3\xA9\r\n";
}

void AppendQuotedPrintable(const std::string& line, std::string* out)
{
    static const char hex[] = "0123456789ABCDEF";
    size_t column = 0;
    for (size_t i = 0; i + 2 <= line.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(line[i]);
        if (c == '\r' && line[i + 1] == '\n')
            break;
        size_t width = (c >= 0x80 || c == '=') ? 3 : 1;
        if (column + width > 75) {
            *out += "=\r\n";
            column = 0;
        }
        if (width == 3) {
            *out += '=';
            *out += hex[c >> 4];
            *out += hex[c & 15];
        } else {
            *out += static_cast<char>(c);
        }
        column += width;
    }
    *out += "\r\n";
}

// 57 bytes make one 76-character line.
void AppendBase64(const unsigned char* bytes, size_t count, std::string* out)
{
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (size_t i = 0; i < count; i += 57) {
        size_t end = i + 57 < count ? i + 57 : count;
        for (size_t j = i; j < end; j += 3) {
            unsigned long group = static_cast<unsigned long>(bytes[j]) << 16;
            if (j + 1 < end)
                group |= static_cast<unsigned long>(bytes[j + 1]) << 8;
            if (j + 2 < end)
                group |= bytes[j + 2];
            *out += digits[group >> 18];
            *out += digits[(group >> 12) & 63];
            *out += j + 1 < end ? digits[(group >> 6) & 63] : '=';
            *out += j + 2 < end ? digits[group & 63] : '=';
        }
        *out += "\r\n";
    }
}

// Writes a multipart/alternative mail whose first part is about `bytes` long, in pieces,
// so that making it doesn't count towards the peak memory measured later.
const char* g_charset = "utf-8";   // of both parts

bool WriteMail(const char* path, const char* encoding, size_t bytes)
{
    FILE* file = fopen(path, "wb");
    if (!file)
        return false;
    fprintf(file,
            "From: bench@example.invalid\r\nSubject: large mail\r\nMIME-Version: 1.0\r\n"
            "Content-Type: multipart/alternative; boundary=\"%s\"\r\n\r\n"
            "This is a multi-part message in MIME format.\r\n--%s\r\n"
            "Content-Type: text/plain; charset=%s\r\nContent-Transfer-Encoding: %s\r\n\r\n",
            kBoundary, kBoundary, g_charset, encoding);
    size_t written = 0;
    int number = 0;
    const bool base64 = strcmp(encoding, "base64") == 0;
    std::string plain, out;  // for base64, plain carries what didn't fill a whole line
    while (written < bytes) {
        out.clear();
        while (plain.size() < 57 * 1024)
            plain += TextLine(number++);
        if (base64) {
            size_t whole = plain.size() / 57 * 57;  // no padding inside the body
            AppendBase64(reinterpret_cast<const unsigned char*>(plain.data()), whole, &out);
            plain.erase(0, whole);
        } else if (strcmp(encoding, "quoted-printable") == 0) {
            for (size_t start = 0; start < plain.size();) {  // whole lines only
                size_t end = plain.find("\r\n", start) + 2;
                AppendQuotedPrintable(plain.substr(start, end - start), &out);
                start = end;
            }
        } else {
            out = plain;
        }
        if (!base64)
            plain.clear();
        fwrite(out.data(), 1, out.size(), file);
        written += out.size();
    }
    if (base64 && !plain.empty()) {
        out.clear();
        AppendBase64(reinterpret_cast<const unsigned char*>(plain.data()), plain.size(), &out);
        fwrite(out.data(), 1, out.size(), file);
    }
    fprintf(file, "--%s\r\nContent-Type: text/html; charset=%s\r\n\r\n<p>x</p>\r\n--%s--\r\n", kBoundary,
            g_charset, kBoundary);
    fclose(file);
    return true;
}

// A multipart/mixed mail of about `bytes`: an alternative with its text/plain part and an
// attachment of base64 lines, the text first or after the attachment.
bool WriteMixedMail(const char* path, bool textFirst, size_t bytes)
{
    FILE* file = fopen(path, "wb");
    if (!file)
        return false;
    const std::string text = "--" + std::string(kBoundary) + "\r\nContent-Type: multipart/alternative; boundary=alt\r\n\r\n"
                             "--alt\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n" + TextLine(0) +
                             "--alt\r\nContent-Type: text/html; charset=UTF-8\r\n\r\n<p>x</p>\r\n--alt--\r\n";
    fprintf(file, "Subject: attachment\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"%s\"\r\n\r\n",
            kBoundary);
    if (textFirst)
        fputs(text.c_str(), file);
    fprintf(file, "--%s\r\nContent-Type: application/octet-stream; name=\"big.bin\"\r\n"
                  "Content-Transfer-Encoding: base64\r\n\r\n", kBoundary);
    const std::string line = std::string(76, 'A') + "\r\n";
    for (size_t written = 0; written < bytes; written += line.size())
        fputs(line.c_str(), file);
    if (!textFirst)
        fputs(text.c_str(), file);
    fprintf(file, "--%s--\r\n", kBoundary);
    fclose(file);
    return true;
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The floor: the same file read a character at a time, nothing else done.
double TimeBareRead(const char* path, long* characters)
{
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    FILE* file = fopen(path, "rb");
    long count = 0;
    if (file) {
        while (fgetc(file) != EOF)
            ++count;
        fclose(file);
    }
    QueryPerformanceCounter(&end);
    *characters = count;
    return Seconds(start, end);
}

// Private bytes while the body and its UTF-16 text are both held: the fullest moment.
// (Wine answers PeakPagefileUsage with the current figure, so it is sampled here.)
SIZE_T g_fullestPrivateBytes = 0;

void SampleFullest()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) &&
        counters.PagefileUsage > g_fullestPrivateBytes)
        g_fullestPrivateBytes = counters.PagefileUsage;
}

// What the toggle does with the file: extract, decode, convert.
double TimeToggle(HWND view, size_t* bodyBytes, size_t* wideUnits)
{
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    MailBodyBuffer body;
    ExtractMailBody(view, kBoundary, &body);
    std::wstring wide;
    if (body.size() > 1)
        Utf8ToUtf16(reinterpret_cast<const char*>(&body[0]), &wide);
    QueryPerformanceCounter(&end);
    SampleFullest();
    *bodyBytes = body.size();
    *wideUnits = wide.size();
    return Seconds(start, end);
}

// The same work in its three steps, to show where the time goes.
void TimeSteps(const char* path, double* read, double* decode, double* convert)
{
    LARGE_INTEGER t0, t1, t2, t3;
    MailBodyBuffer body;
    QueryPerformanceCounter(&t0);
    int encoding = ExtractMailBodyFromFile(path, kBoundary, &body);
    QueryPerformanceCounter(&t1);
    if (encoding == Base64 && body.size() > 1)
        DecodeBase64Body(&body);
    QueryPerformanceCounter(&t2);
    std::wstring wide;
    if (body.size() > 1)
        Utf8ToUtf16(reinterpret_cast<const char*>(&body[0]), &wide);
    QueryPerformanceCounter(&t3);
    *read = Seconds(t0, t1) < *read ? Seconds(t0, t1) : *read;
    *decode = Seconds(t1, t2) < *decode ? Seconds(t1, t2) : *decode;
    *convert = Seconds(t2, t3) < *convert ? Seconds(t2, t3) : *convert;
}

double MemoryMb(SIZE_T bytes)
{
    return static_cast<double>(bytes) / kMb;
}

int RunEncoding(const char* encoding, const char* folder)
{
    if (BindHostApi() != 1) {
        fprintf(stderr, "mail_body_bench: the host functions can't be bound\n");
        return 1;
    }
    PROCESS_MEMORY_COUNTERS before = {};
    before.cb = sizeof before;
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
    HWND view = hostsim::CreateViewWindow(NULL, 0, 0, 400, 300).frame;
    double largestFile = 0;
    for (int sizeMb : kSizesMb) {
        char path[MAX_PATH];
        snprintf(path, sizeof path, "%s\\%s-%dmb.eml", folder, encoding, sizeMb);
        if (!WriteMail(path, encoding, static_cast<size_t>(sizeMb * kMb))) {
            fprintf(stderr, "mail_body_bench: can't write %s\n", path);
            return 1;
        }
        hostsim::SetViewPath(view, path);
        double bare = 1e30, toggle = 1e30, read = 1e30, decode = 1e30, convert = 1e30;
        long fileBytes = 0;
        size_t bodyBytes = 0, wideUnits = 0;
        for (int i = 0; i < kRepeats; ++i) {
            double t = TimeBareRead(path, &fileBytes);
            bare = t < bare ? t : bare;
            t = TimeToggle(view, &bodyBytes, &wideUnits);
            toggle = t < toggle ? t : toggle;
            TimeSteps(path, &read, &decode, &convert);
        }
        largestFile = fileBytes;
        printf("%-16s %6.1f MB file  %8.1f ms  %6.1f MB/s  fgetc loop %8.1f ms  ratio %5.2f  (body %zu bytes, %zu UTF-16 units)\n",
               encoding, fileBytes / kMb, toggle * 1000, fileBytes / kMb / toggle, bare * 1000, toggle / bare,
               bodyBytes, wideUnits);
        printf("%-16s %6s    steps: read %.1f ms, base64 %.1f ms, UTF-16 %.1f ms\n", "", "", read * 1000,
               decode * 1000, convert * 1000);
        fflush(stdout);
        DeleteFileA(path);
    }
    PROCESS_MEMORY_COUNTERS after = {};
    after.cb = sizeof after;
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
    const double fileMb = largestFile / kMb;
    if (g_fullestPrivateBytes < before.PagefileUsage)
        g_fullestPrivateBytes = before.PagefileUsage;
    printf("%-16s peak working set %.1f MB (%.1f at start: %.2f x the %.0f MB file); private bytes: peak %.1f MB, "
           "at the fullest %.1f MB (%.1f at start: %.2f x)\n",
           encoding, MemoryMb(after.PeakWorkingSetSize), MemoryMb(before.WorkingSetSize),
           MemoryMb(after.PeakWorkingSetSize - before.WorkingSetSize) / fileMb, fileMb,
           MemoryMb(after.PeakPagefileUsage), MemoryMb(g_fullestPrivateBytes), MemoryMb(before.PagefileUsage),
           MemoryMb(g_fullestPrivateBytes - before.PagefileUsage) / fileMb);
    fflush(stdout);
    return 0;
}

// Runs this program once for each encoding, one after another.
int RunAll()
{
    char program[MAX_PATH], folder[MAX_PATH];
    if (!GetModuleFileNameA(NULL, program, sizeof program) || !GetTempPathA(sizeof folder, folder))
        return 1;
    char data[MAX_PATH];
    snprintf(data, sizeof data, "%svelmora-bench-%lu", folder, GetCurrentProcessId());
    CreateDirectoryA(data, NULL);
    printf("mail_body_bench: time of ExtractMailBody + Utf8ToUtf16 (best of %d), MB = 10^6 bytes\n", kRepeats);
    fflush(stdout);
    int status = 0;
    for (const char* encoding : kEncodings) {
        char command[3 * MAX_PATH];
        snprintf(command, sizeof command, "\"%s\" --encoding %s \"%s\"", program, encoding, data);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (!CreateProcessA(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
            status = 1;
            continue;
        }
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 1;
        GetExitCodeProcess(process.hProcess, &code);
        status |= code != 0;
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    // At every load of a multipart/alternative mail, the file is searched for a part that
    // declares UTF-8: without one, to its end.
    char path[2 * MAX_PATH];
    snprintf(path, sizeof path, "%s\\no-utf8.eml", data);
    g_charset = "iso-2022-jp";
    if (WriteMail(path, "8bit", 50000000)) {
        double best = 1e9;
        bool found = true;
        for (int i = 0; i < 3; ++i) {
            LARGE_INTEGER start, end;
            QueryPerformanceCounter(&start);
            found = MultipartFileHasUtf8Part(path, kBoundary);
            QueryPerformanceCounter(&end);
            best = Seconds(start, end) < best ? Seconds(start, end) : best;
        }
        printf("MultipartHasUtf8Part on a 50 MB multipart/alternative mail without a UTF-8 part: %.0f ms "
               "(best of 3)%s\n", best * 1000, found ? "; found one, unexpectedly" : "");
        status |= found;
        DeleteFileA(path);
    }
    // With Nested=1 a load of a multipart/mixed mail walks it to its first text/plain part,
    // reading at most the first MB; a press then reads that part as far as the pane needs.
    for (int textFirst = 1; textFirst >= 0; --textFirst) {
        snprintf(path, sizeof path, "%s\\mixed.eml", data);
        if (!WriteMixedMail(path, textFirst != 0, 50000000))
            continue;
        double load = 1e9, press = 1e9;
        int found = 0;
        for (int i = 0; i < 3; ++i) {
            LARGE_INTEGER start, middle, end;
            TextPart part;
            MailBodyBuffer body;
            QueryPerformanceCounter(&start);
            found = FindFirstTextPart(path, kBoundary, &part);
            QueryPerformanceCounter(&middle);
            if (found)
                ExtractTextPartFromFile(path, kBoundary, &body, kPaneBodyBytes);
            QueryPerformanceCounter(&end);
            load = Seconds(start, middle) < load ? Seconds(start, middle) : load;
            press = Seconds(middle, end) < press ? Seconds(middle, end) : press;
        }
        if (textFirst)
            printf("Nested=1, a 50 MB multipart/mixed mail, its text before the attachment: load walk %.2f ms, "
                   "press read %.2f ms (best of 3)%s\n", load * 1000, press * 1000, found ? "" : "; no part, unexpectedly");
        else
            printf("Nested=1, a 50 MB multipart/mixed mail, its text after the attachment: load walk %.1f ms, "
                   "gives up after the first MB (best of 3)%s\n", load * 1000, found ? "; found, unexpectedly" : "");
        status |= found != textFirst;
        DeleteFileA(path);
    }
    RemoveDirectoryA(data);
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && strcmp(argv[1], "--encoding") == 0)
        return RunEncoding(argv[2], argv[3]);
    return RunAll();
}
