// ExtractMailBodyFromFile on an arbitrary file with an arbitrary boundary: the body with
// its one final NUL and the encoding, alike for the file and its CR LF and bare-LF twins.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "tests/mailtext/mail_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzReport(CheckExtractInput(data, size, FuzzMailPath()));
    return 0;
}
