// Test mails written into a temporary folder that is removed at exit.
#pragma once
#include <string>
#include <utility>

std::string MailFolder();
// Writes the bytes as they stand; returns the path.
std::string WriteMailFile(const std::string& name, const std::string& bytes);
// The file's bytes; empty when it can't be read.
std::string ReadMailBytes(const std::string& path);
// Every LF becomes CR LF, as the host stores mails.
std::string WithCrlf(const std::string& lfText);
// The CR LF file and its bare-LF twin of the text; their paths.
std::pair<std::string, std::string> WriteTwins(const std::string& lfText);
// The folder of the public sample mails, or "" when this machine has none.
std::string MailCorpusFolder();
