#include "tests/trace/trace_test_support.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

namespace tracetest {

namespace {

HHOOK g_boxHook = NULL;
UINT_PTR g_boxTimer = 0;
std::vector<CaughtBox> g_caughtBoxes;

bool IsDialogWindow(HWND window)
{
    char className[64];
    className[0] = '\0';
    GetClassNameA(window, className, sizeof(className));
    return strcmp(className, "#32770") == 0;
}

// The first static control with a text holds the message; visible buttons are counted.
BOOL CALLBACK CollectBoxChild(HWND child, LPARAM lParam)
{
    CaughtBox* box = reinterpret_cast<CaughtBox*>(lParam);
    char className[64];
    className[0] = '\0';
    GetClassNameA(child, className, sizeof(className));
    if (lstrcmpiA(className, "Button") == 0) {
        // Unused buttons may be hidden rather than left out; the box itself is hidden by now.
        if (GetWindowLongA(child, GWL_STYLE) & WS_VISIBLE)
            ++box->buttons;
        return TRUE;
    }
    if (lstrcmpiA(className, "Static") != 0)
        return TRUE;
    char text[2048];
    text[0] = '\0';
    GetWindowTextA(child, text, sizeof(text));
    if (text[0] != '\0' && box->text.empty())
        box->text = text;
    return TRUE;
}

void CloseBox(HWND window)
{
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

WNDPROC g_dialogProc = NULL;

// Keeps a box from ever showing: without a window manager, Wine waits two seconds for a
// shown window to be unmapped again.
LRESULT CALLBACK HiddenBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_WINDOWPOSCHANGING)
        reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~SWP_SHOWWINDOW;
    return CallWindowProcW(g_dialogProc, window, message, wParam, lParam);
}

// A box is kept hidden and ended at once; it is recorded when it goes away, its texts
// complete by then.
LRESULT CALLBACK BoxHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    HWND window = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_CREATEWND && IsDialogWindow(window)) {
        WNDPROC previous = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(HiddenBoxProc)));
        if (previous != HiddenBoxProc)
            g_dialogProc = previous;
        CloseBox(window);
    } else if (code == HCBT_ACTIVATE && IsDialogWindow(window)) {
        CloseBox(window);
    } else if (code == HCBT_DESTROYWND && IsDialogWindow(window)) {
        CaughtBox box;
        char caption[256];
        caption[0] = '\0';
        GetWindowTextA(window, caption, sizeof(caption));
        box.caption = caption;
        box.buttons = 0;
        box.owned = GetWindow(window, GW_OWNER) != NULL;
        EnumChildWindows(window, CollectBoxChild, reinterpret_cast<LPARAM>(&box));
        g_caughtBoxes.push_back(box);
    }
    return CallNextHookEx(g_boxHook, code, wParam, lParam);
}

BOOL CALLBACK CloseDialogWindow(HWND window, LPARAM)
{
    if (IsDialogWindow(window))
        CloseBox(window);
    return TRUE;
}

// Should a posted close be lost, the modal loop's timer closes the box.
void CALLBACK BoxTimerProc(HWND, UINT, UINT_PTR, DWORD)
{
    EnumThreadWindows(GetCurrentThreadId(), CloseDialogWindow, 0);
}

std::string QuoteArgument(const std::string& text)
{
    return "\"" + text + "\"";
}

int StartSelf(const std::string& arguments, DWORD flags, PROCESS_INFORMATION* process)
{
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, self, sizeof(self));
    if (length == 0 || length >= sizeof(self))
        return 0;
    std::string commandLine = QuoteArgument(self) + " " + arguments;
    std::vector<char> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back('\0');
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    memset(process, 0, sizeof(*process));
    return CreateProcessA(NULL, buffer.data(), NULL, NULL, FALSE, flags, NULL, NULL, &startup, process)
               ? 1
               : 0;
}

std::string g_scratchFolder;

void RemoveScratchFolder()
{
    if (g_scratchFolder.empty())
        return;
    SetCurrentDirectoryA("..");
    WIN32_FIND_DATAA found;
    memset(&found, 0, sizeof(found));
    HANDLE search = FindFirstFileA((g_scratchFolder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0)
                continue;
            std::string path = g_scratchFolder + "\\" + found.cFileName;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                std::string inner = path + "\\*";
                WIN32_FIND_DATAA innerFound;
                memset(&innerFound, 0, sizeof(innerFound));
                HANDLE innerSearch = FindFirstFileA(inner.c_str(), &innerFound);
                if (innerSearch != INVALID_HANDLE_VALUE) {
                    do {
                        DeleteFileA((path + "\\" + innerFound.cFileName).c_str());
                    } while (FindNextFileA(innerSearch, &innerFound));
                    FindClose(innerSearch);
                }
                RemoveDirectoryA(path.c_str());
            } else {
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(g_scratchFolder.c_str());
}

}  // namespace

void InstallBoxCatcher()
{
    g_caughtBoxes.clear();
    if (g_boxHook == NULL)
        g_boxHook = SetWindowsHookExA(WH_CBT, BoxHookProc, NULL, GetCurrentThreadId());
    if (g_boxTimer == 0)
        g_boxTimer = SetTimer(NULL, 0, 200, BoxTimerProc);
}

void RemoveBoxCatcher()
{
    if (g_boxHook != NULL) {
        UnhookWindowsHookEx(g_boxHook);
        g_boxHook = NULL;
    }
    if (g_boxTimer != 0) {
        KillTimer(NULL, g_boxTimer);
        g_boxTimer = 0;
    }
}

std::vector<CaughtBox> TakeCaughtBoxes()
{
    std::vector<CaughtBox> boxes;
    boxes.swap(g_caughtBoxes);
    return boxes;
}

void ExpectBox(const CaughtBox& box, const std::string& text)
{
    EXPECT_EQ("DEBUG", box.caption);
    EXPECT_EQ(text, box.text);
    EXPECT_EQ(1, box.buttons);
    EXPECT_FALSE(box.owned);
}

void* ReplaceImport(const char* dll, const char* function, void* replacement)
{
    HMODULE module = GetModuleHandleA(dll);
    if (module == NULL)
        return NULL;
    ULONG_PTR imported = reinterpret_cast<ULONG_PTR>(GetProcAddress(module, function));
    if (imported == 0)
        return NULL;
    BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleA(NULL));
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0)
        return NULL;
    const IMAGE_IMPORT_DESCRIPTOR* descriptor =
        reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
    // The loader has put the address of every import into its slot; the slot that holds
    // the function's address is its import.
    for (; descriptor->Name != 0; ++descriptor) {
        IMAGE_THUNK_DATA* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk);
        for (; slot->u1.Function != 0; ++slot) {
            if (slot->u1.Function != imported)
                continue;
            DWORD oldProtection = 0;
            if (!VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), PAGE_READWRITE,
                                &oldProtection))
                return NULL;
            slot->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), oldProtection, &oldProtection);
            return reinterpret_cast<void*>(imported);
        }
    }
    return NULL;
}

std::string ReadFileBytes(const char* path)
{
    std::string bytes;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, NULL) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

void WriteFileBytes(const char* path, const std::string& bytes)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL);
    CloseHandle(file);
}

std::string WaitForFileBytes(const char* path, size_t size, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    std::string bytes = ReadFileBytes(path);
    while (bytes.size() < size && GetTickCount() - start < timeoutMs) {
        Sleep(20);
        bytes = ReadFileBytes(path);
    }
    return bytes;
}

int RunSelf(const std::string& arguments, DWORD timeoutMs)
{
    PROCESS_INFORMATION process;
    if (!StartSelf(arguments, 0, &process))
        return -1;
    int result = -1;
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        DWORD code = 0;
        if (GetExitCodeProcess(process.hProcess, &code))
            result = static_cast<int>(code);
    } else {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

DebuggedRun RunSelfUnderDebugger(const std::string& arguments, DWORD timeoutMs)
{
    DebuggedRun run;
    run.exitCode = -1;
    PROCESS_INFORMATION process;
    if (!StartSelf(arguments, DEBUG_ONLY_THIS_PROCESS, &process))
        return run;
    DWORD start = GetTickCount();
    bool ended = false;
    bool terminated = false;
    bool seenBreakpoint = false;
    while (!ended) {
        DWORD elapsed = GetTickCount() - start;
        if (!terminated && elapsed > timeoutMs) {
            TerminateProcess(process.hProcess, 1);   // its exit event still arrives
            terminated = true;
        }
        if (elapsed > timeoutMs + 5000)
            break;
        DEBUG_EVENT event;
        memset(&event, 0, sizeof(event));
        if (!WaitForDebugEvent(&event, 100))
            continue;
        DWORD continueStatus = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case OUTPUT_DEBUG_STRING_EVENT: {
            const OUTPUT_DEBUG_STRING_INFO& info = event.u.DebugString;
            std::vector<char> text(info.nDebugStringLength + 1u, '\0');
            SIZE_T got = 0;
            if (!info.fUnicode &&
                ReadProcessMemory(process.hProcess, info.lpDebugStringData, text.data(),
                                  info.nDebugStringLength, &got)) {
                // The length counts the terminator.
                run.debugStrings.push_back(std::string(text.data(), strnlen(text.data(), got)));
            }
            break;
        }
        case EXCEPTION_DEBUG_EVENT: {
            DWORD code = event.u.Exception.ExceptionRecord.ExceptionCode;
            if (code == EXCEPTION_BREAKPOINT && !seenBreakpoint) {
                seenBreakpoint = true;   // the loader's, when a debugger is attached
            } else {
                run.exceptions.push_back(code);
                continueStatus = DBG_EXCEPTION_NOT_HANDLED;
                if (event.u.Exception.dwFirstChance == 0) {
                    TerminateProcess(process.hProcess, 1);
                    terminated = true;
                }
            }
            break;
        }
        case CREATE_PROCESS_DEBUG_EVENT:
            if (event.u.CreateProcessInfo.hFile != NULL)
                CloseHandle(event.u.CreateProcessInfo.hFile);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (event.u.LoadDll.hFile != NULL)
                CloseHandle(event.u.LoadDll.hFile);
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            if (!terminated)
                run.exitCode = static_cast<int>(event.u.ExitProcess.dwExitCode);
            ended = true;
            break;
        default:
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continueStatus);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return run;
}

std::string EnterScratchFolder(const char* name)
{
    char temp[MAX_PATH];
    DWORD length = GetTempPathA(sizeof(temp), temp);
    if (length == 0 || length >= sizeof(temp))
        return std::string();
    char folder[MAX_PATH];
    snprintf(folder, sizeof(folder), "%s%s-%lu", temp, name, GetCurrentProcessId());
    CreateDirectoryA(folder, NULL);
    if (!SetCurrentDirectoryA(folder))
        return std::string();
    g_scratchFolder = folder;
    atexit(RemoveScratchFolder);
    return g_scratchFolder;
}

}  // namespace tracetest
