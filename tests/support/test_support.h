// Small Win32 helpers that several test programs share (and the benchmarks and the
// sandbox, which want the same ones): the program's folder, temporary paths and files,
// UTF-8 to UTF-16, window classes, the C runtime's heap. No GoogleTest in here, and
// nothing of the plug-in or of the stand-in host.
#pragma once
#include <windows.h>

#include <cstddef>
#include <string>

namespace testsupport {

// The folder of the running program, with its final backslash.
std::string ProgramDir();

// "<temporary folder><prefix><process id><suffix>"; nothing is made.
std::string TempPath(const std::string& prefix, const std::string& suffix = "");
// TempPath(prefix), made as a folder; its path without a final backslash.
std::string MakeTempFolder(const std::string& prefix);

// Writes the bytes to a new file, or over an old one. False when the file could not be
// opened; `written`, when given, gets the number of bytes that went in.
bool WriteBytesToFile(const std::string& path, const std::string& bytes, size_t* written = NULL);

// The file's bytes; empty when it can't be read.
std::string ReadBytesFromFile(const std::string& path);

std::wstring Utf8ToWide(const std::string& utf8);
// Each CR, and each CR LF, of the text as one LF (a rich-edit control ends its lines with CR).
std::wstring LfLineEnds(const std::wstring& text);

// Registers a plain window class of the program with that procedure; true when it did.
bool RegisterWindowClass(const char* className, WNDPROC procedure);
// Whether the window has the WS_VISIBLE style; a null window has not.
bool Visible(HWND window);

// Busy bytes of the C runtime's heap.
size_t CrtHeapBytes();

}  // namespace testsupport
