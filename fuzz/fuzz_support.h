// What the fuzz targets share: a mail file of this process's own, and the report of a
// failed check.
#pragma once
#include <string>

// A path in the temporary folder, named after the process so that parallel runs don't
// meet; removed at exit.
const std::string& FuzzMailPath();
// A non-empty problem is printed and the process aborts, so that libFuzzer keeps the input.
void FuzzReport(const std::string& problem);
