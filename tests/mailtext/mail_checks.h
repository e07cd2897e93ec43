// Whole-input checks of the mail-text code against small string models of its rules,
// shared by the fuzz targets and the test that replays their kept inputs. Each check
// returns "" when everything holds, else a description of the first thing that failed.
//
// Inputs are raw bytes. Where a boundary is taken from the input, the bytes before the
// first NUL are the boundary and the bytes after it the mail file; an input without a NUL
// is all file, with no boundary. Files are written to `path` (overwritten, left behind),
// each in its given form and in its CR LF and bare-LF twins, which must read alike.
#pragma once
#include <cstddef>
#include <string>

// The header text (up to its first NUL): the class, the boundary slot, the string helpers.
std::string CheckHeaderInput(const unsigned char* data, size_t size);
// Boundary and file: the extracted body, its final NUL and the transfer encoding.
std::string CheckExtractInput(const unsigned char* data, size_t size, const std::string& path);
// Boundary and file: whether a UTF-8 part is found.
std::string CheckUtf8PartInput(const unsigned char* data, size_t size, const std::string& path);
// One byte for the number of steps, two bytes per step, then boundary and file: the
// readers called one after another on one stream, each result and position checked.
std::string CheckReaderInput(const unsigned char* data, size_t size, const std::string& path);
