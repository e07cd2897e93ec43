// MultipartFileHasUtf8Part on an arbitrary file with an arbitrary boundary, alike for the
// file and its CR LF and bare-LF twins.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "tests/mailtext/mail_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzReport(CheckUtf8PartInput(data, size, FuzzMailPath()));
    return 0;
}
