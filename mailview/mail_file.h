// The mail file of a view, read through the host's path: the Win32 side of the
// mail-text code (base64 through crypt32, UTF-8 to UTF-16 through the kernel).
#pragma once
#include <windows.h>

#include "mailview/mailtext/mail_text.h"

// True when the view's mail file has a part that declares UTF-8 after the first delimiter
// line of the boundary; false without a path or a boundary.
bool MultipartHasUtf8Part(HWND view, const char* boundary);
// Fills the buffer with the body of the view's mail file (the first part when a boundary
// is given), decoded, and one NUL; empty when the file can't be read.
void ExtractMailBody(HWND view, const char* boundary, MailBodyBuffer* buffer);
// Replaces the buffer's base64 text (and its NUL) by the decoded bytes and a NUL. A body
// the decoder rejects keeps its text.
void DecodeBase64Body(MailBodyBuffer* buffer);
// A malloc'ed UTF-16 copy of NUL-terminated UTF-8 text; null without memory. The caller
// frees it with free().
wchar_t* Utf8ToUtf16(const char* text);
