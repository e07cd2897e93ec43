// The plug-in's trace channel moved to a log file of the temporary folder, for tests that
// read back what the channel wrote.
#pragma once
#include <string>

namespace testsupport {

// Points the trace channel at "<temporary folder><prefix><process id>.log".
void StartTraceLog(const std::string& prefix);
// Turns the channel off and deletes its log file.
void StopTraceLog();
// The text that the channel wrote since the last call.
std::string NewTraceText();

}  // namespace testsupport
