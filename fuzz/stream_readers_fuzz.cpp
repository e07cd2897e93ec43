// The stream readers one after another on one file: characters, quoted-printable escapes,
// fields with arbitrary counts, delimiter lines, header scans, seeks; each result, buffer
// and position checked.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "tests/mailtext/mail_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzReport(CheckReaderInput(data, size, FuzzMailPath()));
    return 0;
}
