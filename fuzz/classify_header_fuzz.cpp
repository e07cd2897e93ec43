// ClassifyMailHeader on arbitrary header text: the class, the boundary slot (released on
// every call, a stored text non-empty and without trailing blanks, controls or high bytes,
// no leak), and the string helpers.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "tests/mailtext/mail_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzReport(CheckHeaderInput(data, size));
    return 0;
}
