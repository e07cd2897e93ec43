// The fuzz targets' seed mails and every input that once failed a target, through the
// checks that the target makes; natively and under Wine, where the C runtime differs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/mailtext/mail_checks.h"
#include "tests/mailtext/mail_samples.h"

namespace fs = std::filesystem;

namespace {

typedef std::function<std::string(const unsigned char*, size_t)> InputCheck;

// Every file of the target's seed folder and regression folder through the check; the
// number of files.
int CheckKeptInputs(const std::string& target, const InputCheck& check)
{
    std::vector<fs::path> files;
    for (const char* folder : {"/fuzz/corpus/", "/tests/mailtext/regressions/"}) {
        std::error_code error;
        for (fs::directory_iterator it(VELMORA_SOURCE_ROOT + (folder + target), error), end; !error && it != end;
             it.increment(error))
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        const std::string bytes = ReadMailBytes(file.string());
        EXPECT_EQ("", check(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size())) << file.string();
    }
    return static_cast<int>(files.size());
}

InputCheck WithMailFile(std::string (*check)(const unsigned char*, size_t, const std::string&))
{
    const std::string path = (fs::path(MailFolder()) / "kept-input.eml").string();
    return [check, path](const unsigned char* data, size_t size) { return check(data, size, path); };
}

}  // namespace

TEST(KeptFuzzInputs, ClassifyHeader)
{
    EXPECT_GT(CheckKeptInputs("classify_header", CheckHeaderInput), 0);
}

TEST(KeptFuzzInputs, ExtractBody)
{
    EXPECT_GT(CheckKeptInputs("extract_body", WithMailFile(CheckExtractInput)), 0);
}

TEST(KeptFuzzInputs, MultipartUtf8)
{
    EXPECT_GT(CheckKeptInputs("multipart_utf8", WithMailFile(CheckUtf8PartInput)), 0);
}

TEST(KeptFuzzInputs, StreamReaders)
{
    EXPECT_GT(CheckKeptInputs("stream_readers", WithMailFile(CheckReaderInput)), 0);
}
