#include "tests/mailtext/mail_samples.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;

namespace {

void RemoveMailFolder()
{
    std::error_code ignored;
    fs::remove_all(MailFolder(), ignored);
}

}  // namespace

std::string MailFolder()
{
    static const fs::path folder = [] {
        fs::path p = fs::temp_directory_path() /
                     ("velmora-mail-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(p);
        return p;
    }();
    // Registered after the path exists, so that it runs before the path is destroyed.
    static const bool removedAtExit = std::atexit(RemoveMailFolder) == 0;
    (void)removedAtExit;
    return folder.string();
}

std::string WriteMailFile(const std::string& name, const std::string& bytes)
{
    std::string path = (fs::path(MailFolder()) / name).string();
    if (FILE* file = fopen(path.c_str(), "wb")) {
        fwrite(bytes.data(), 1, bytes.size(), file);
        fclose(file);
    }
    return path;
}

std::string ReadMailBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string WithCrlf(const std::string& lfText)
{
    std::string out;
    for (char c : lfText)
        out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

std::pair<std::string, std::string> WriteTwins(const std::string& lfText)
{
    return std::make_pair(WriteMailFile("crlf.eml", WithCrlf(lfText)), WriteMailFile("lf.eml", lfText));
}

std::string MailCorpusFolder()
{
    std::error_code error;
    return fs::is_directory(VELMORA_MAIL_CORPUS, error) ? VELMORA_MAIL_CORPUS : "";
}
