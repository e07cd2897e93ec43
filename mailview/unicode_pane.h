// The plug-in's Unicode rich-edit pane, laid over the host's ANSI pane of a mail view.
#pragma once
#include <windows.h>
#include <richedit.h>

#include <vector>

class MailViewWinHook;

extern HMODULE g_richEditLibrary;   // the rich-edit library once loaded; kept for the process
extern DWORD g_richEditVersion;     // 3 selects "RichEdit20W", anything else "RICHEDIT50W"

struct StreamInCookie {
    const wchar_t* position;   // the next code unit to hand out
    DWORD remaining;           // code units still to hand out
    unsigned char halfSent;    // 1: the first byte of *position has been handed out already
};

struct StreamOutCookie {
    unsigned char atLineStart;   // the next character begins a line
    std::vector<wchar_t> text;   // what was streamed out, prefixed
    const wchar_t* prefix;       // put at the start of every line, or null
    unsigned char failed;        // 1 once memory ran out: the text is dropped
};

// Creates the controller's pane over its host view, gives it the host pane's look and
// subclasses it; stores unicodePane and paneWndProc.
void CreateUnicodePane(MailViewWinHook* controller);
int SetUpPaneFromHost(HWND pane, HWND hostPane);
void CopyTextFormats(HWND source, HWND target, BOOL applyToSelection);
// Replaces the pane's whole content by the string (without its terminator).
LRESULT StreamInText(const wchar_t* text, HWND pane);
DWORD CALLBACK StreamInCallback(DWORD_PTR cookie, LPBYTE buffer, LONG bytes, LONG* done);
DWORD CALLBACK StreamOutCallback(DWORD_PTR cookie, LPBYTE buffer, LONG bytes, LONG* done);
LRESULT CALLBACK UnicodePaneWndProc(HWND pane, UINT message, WPARAM wParam, LPARAM lParam);
MailViewWinHook* FindControllerByPane(HWND pane);
// The selection, or without one the whole text; with from, only what lies from there on
// (nothing when the selection ends before it).
void CopyToClipboard(HWND pane, const wchar_t* prefix, LONG from = 0);
void SelectAllText(HWND pane);
