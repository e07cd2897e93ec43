// Velmora.dll's resources and its version dialog, read from the loaded module (its exports
// and imports are read from the file by scripts/check-dll.sh).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/plugin/plugin_harness.h"

namespace {

const BYTE* Resource(LPCSTR type, LPCSTR name, WORD language, DWORD* size)
{
    HMODULE module = e2e::Plugin().module;
    HRSRC found = FindResourceExA(module, type, name, language);
    if (!found)
        return NULL;
    *size = SizeofResource(module, found);
    return static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
}

const WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

}  // namespace

TEST(PluginFile, ToolbarImageIsA23By16TrueColourBitmapWithAGreyFrame)
{
    DWORD size = 0;
    const BYTE* data = Resource(RT_BITMAP, MAKEINTRESOURCEA(107), kJapanese, &size);
    ASSERT_TRUE(data);
    const BITMAPINFOHEADER* info = reinterpret_cast<const BITMAPINFOHEADER*>(data);
    EXPECT_EQ(23, info->biWidth);
    EXPECT_EQ(16, info->biHeight);
    EXPECT_EQ(24, info->biBitCount);
    const BYTE* pixels = data + info->biSize;
    const int stride = (23 * 3 + 3) / 4 * 4;
    auto pixel = [&](int x, int y) { return pixels + (15 - y) * stride + x * 3; };
    int black = 0, white = 0;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 23; ++x) {
            const BYTE* p = pixel(x, y);
            bool frame = x == 0 || y == 0 || x == 22 || y == 15;
            if (frame) {
                EXPECT_TRUE(p[0] == 192 && p[1] == 192 && p[2] == 192) << x << "," << y;
            } else {
                black += (p[0] == 0 && p[1] == 0 && p[2] == 0) ? 1 : 0;
                white += (p[0] == 255 && p[1] == 255 && p[2] == 255) ? 1 : 0;
            }
        }
    }
    EXPECT_EQ(21 * 14, black + white);  // black letters on white, nothing else
    EXPECT_GT(black, 40);
}

TEST(PluginFile, IconIsOne32By32ImageIn16Colours)
{
    DWORD size = 0;
    const BYTE* group = Resource(RT_GROUP_ICON, MAKEINTRESOURCEA(1), kJapanese, &size);
    ASSERT_TRUE(group);
    ASSERT_GE(size, 6u + 14u);
    const WORD* header = reinterpret_cast<const WORD*>(group);
    EXPECT_EQ(1, header[2]);  // one image
    const BYTE* entry = group + 6;
    EXPECT_EQ(32, entry[0]);
    EXPECT_EQ(32, entry[1]);
    EXPECT_EQ(16, entry[2]);
    HICON icon = static_cast<HICON>(LoadImageA(e2e::Plugin().module, MAKEINTRESOURCEA(1), IMAGE_ICON, 32, 32, 0));
    EXPECT_TRUE(icon);
    DestroyIcon(icon);
}

TEST(PluginFile, TooltipStringIsJapaneseStringOneHundredEight)
{
    wchar_t text[32];
    ASSERT_GT(LoadStringW(e2e::Plugin().module, 108, text, 32), 0);
    EXPECT_EQ(std::wstring(L"UNICODE\x8868\x793A"), text);
    DWORD size = 0;
    EXPECT_TRUE(Resource(RT_STRING, MAKEINTRESOURCEA(108 / 16 + 1), kJapanese, &size));
}

TEST(PluginFile, VersionRecordNamesTheDllInJapaneseAndUnicode)
{
    char path[MAX_PATH];
    GetModuleFileNameA(e2e::Plugin().module, path, MAX_PATH);
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, &block[0]));

    VS_FIXEDFILEINFO* fixed = NULL;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(&block[0], L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(0x00000001u, fixed->dwFileVersionMS);
    EXPECT_EQ(0u, fixed->dwFileVersionLS);
    EXPECT_EQ(0x00000001u, fixed->dwProductVersionMS);
    EXPECT_EQ(0u, fixed->dwProductVersionLS);
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);
    EXPECT_EQ(static_cast<DWORD>(VOS__WINDOWS32), fixed->dwFileOS);
    EXPECT_EQ(0u, fixed->dwFileFlags);

    WORD* translation = NULL;
    ASSERT_TRUE(VerQueryValueW(&block[0], L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(4u, length);
    EXPECT_EQ(0x0411, translation[0]);
    EXPECT_EQ(0x04B0, translation[1]);

    struct Expected {
        const wchar_t* name;
        const wchar_t* value;
    };
    const Expected strings[] = {
        {L"FileDescription", L"Velmora Quillpost Plugin DLL"},
        {L"FileVersion", L"0, 1, 0, 0"},
        {L"ProductVersion", L"0, 1, 0, 0"},
        {L"InternalName", L"Velmora"},
        {L"OriginalFilename", L"Velmora.DLL"},
        // "Velmora ﾀﾞｲﾅﾐｯｸ ﾘﾝｸ ﾗｲﾌﾞﾗﾘ" in half-width katakana
        {L"ProductName", L"Velmora \xFF80\xFF9E\xFF72\xFF85\xFF90\xFF6F\xFF78 \xFF98\xFF9D\xFF78 \xFF97\xFF72\xFF8C\xFF9E\xFF97\xFF98"},
    };
    for (size_t i = 0; i < sizeof strings / sizeof strings[0]; ++i) {
        std::wstring key = std::wstring(L"\\StringFileInfo\\041104b0\\") + strings[i].name;
        wchar_t* value = NULL;
        ASSERT_TRUE(VerQueryValueW(&block[0], key.c_str(), reinterpret_cast<void**>(&value), &length))
            << strings[i].name;
        EXPECT_EQ(std::wstring(strings[i].value), value);
    }
    wchar_t* copyright = NULL;
    ASSERT_TRUE(VerQueryValueW(&block[0], L"\\StringFileInfo\\041104b0\\LegalCopyright",
                               reinterpret_cast<void**>(&copyright), &length));
    EXPECT_NE(std::wstring::npos, std::wstring(copyright).find(L"Velmora"));
}

namespace {

struct DialogCheck {
    int closeWith;   // IDOK: click OK; IDCANCEL: Escape key; 0: the close box (WM_CLOSE)
    bool inspected;
    std::string title;
    LONG style;
    std::vector<std::string> classes;
    std::vector<RECT> rects;       // in dialog units
    std::vector<std::string> texts;
    std::string face;
};

DialogCheck* g_check;

BOOL CALLBACK CollectChild(HWND child, LPARAM)
{
    char name[64];
    GetClassNameA(child, name, sizeof name);
    g_check->classes.push_back(name);
    char text[128];
    GetWindowTextA(child, text, sizeof text);
    g_check->texts.push_back(text);
    g_check->rects.push_back(e2e::RectIn(child, GetParent(child)));
    return TRUE;
}

BOOL CALLBACK FindDialog(HWND window, LPARAM found)
{
    char name[16];
    GetClassNameA(window, name, sizeof name);
    if (std::string(name) == "#32770" && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK InspectAndClose(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND dialog = NULL;
    EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog)
        return;
    KillTimer(NULL, timer);
    char title[64];
    GetWindowTextA(dialog, title, sizeof title);
    g_check->title = title;
    g_check->style = GetWindowLongA(dialog, GWL_STYLE);
    EnumChildWindows(dialog, CollectChild, 0);
    // Back from pixels to dialog units, through the dialog's own unit mapping.
    RECT unit = {0, 0, 4, 8};
    MapDialogRect(dialog, &unit);
    for (size_t i = 0; i < g_check->rects.size(); ++i) {
        RECT& r = g_check->rects[i];
        r.left = MulDiv(r.left, 4, unit.right);
        r.right = MulDiv(r.right, 4, unit.right);
        r.top = MulDiv(r.top, 8, unit.bottom);
        r.bottom = MulDiv(r.bottom, 8, unit.bottom);
    }
    LOGFONTA font;
    ZeroMemory(&font, sizeof font);
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0)), sizeof font, &font);
    g_check->face = font.lfFaceName;
    g_check->inspected = true;
    if (g_check->closeWith == IDOK) {
        HWND ok = GetDlgItem(dialog, IDOK);
        SendMessageA(ok, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
        SendMessageA(ok, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    } else if (g_check->closeWith == IDCANCEL) {
        PostMessageA(GetFocus() ? GetFocus() : dialog, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    } else {
        PostMessageA(dialog, WM_CLOSE, 0, 0);
    }
}

INT_PTR RunVersionDialog(DialogCheck* check)
{
    g_check = check;
    UINT_PTR timer = SetTimer(NULL, 0, 50, InspectAndClose);
    INT_PTR result = e2e::Plugin().VersionInfo(NULL);
    KillTimer(NULL, timer);
    return result;
}

bool NearlyAt(const RECT& r, int x, int y, int width, int height)
{
    return std::abs(r.left - x) <= 1 && std::abs(r.top - y) <= 1 &&
           std::abs(r.right - r.left - width) <= 1 && std::abs(r.bottom - r.top - height) <= 1;
}

}  // namespace

TEST(PluginVersionDialog, ShowsItsTitleFontAndFourControlsAndEndsWithOneThroughOk)
{
    DialogCheck check = DialogCheck();
    check.closeWith = IDOK;
    EXPECT_EQ(1, RunVersionDialog(&check));
    ASSERT_TRUE(check.inspected);
    // "ﾊﾞｰｼﾞｮﾝ情報(velmora)" in code page 932
    EXPECT_EQ(std::string("\xCA\xDE\xB0\xBC\xDE\xAE\xDD\x8F\xEE\x95\xF1(velmora)"), check.title);
    EXPECT_EQ(static_cast<LONG>(WS_POPUP | WS_CAPTION | WS_SYSMENU),
              check.style & (WS_POPUP | WS_CAPTION | WS_SYSMENU));
    // "ＭＳ Ｐゴシック"
    EXPECT_EQ(std::string("\x82\x6C\x82\x72\x20\x82\x6F\x83\x53\x83\x56\x83\x62\x83\x4E"), check.face);
    ASSERT_EQ(4u, check.classes.size());
    EXPECT_EQ("Static", check.classes[0]);
    EXPECT_EQ("Static", check.classes[1]);
    EXPECT_EQ("Static", check.classes[2]);
    EXPECT_EQ("Button", check.classes[3]);
    EXPECT_EQ("Velmora Version 0.10", check.texts[1]);
    EXPECT_EQ("OK", check.texts[3]);
    EXPECT_TRUE(NearlyAt(check.rects[1], 40, 10, 119, 8));
    EXPECT_TRUE(NearlyAt(check.rects[2], 40, 25, 119, 8));
    EXPECT_TRUE(NearlyAt(check.rects[3], 178, 7, 32, 14));
    EXPECT_EQ(11, check.rects[0].left);
    EXPECT_EQ(17, check.rects[0].top);
}

// The icon control's size as the template holds it: the window's own size is the icon's.
TEST(PluginVersionDialog, TemplateGivesTheIconControlItsTwentyByTwentyUnits)
{
    DWORD size = 0;
    const BYTE* data = Resource(RT_DIALOG, MAKEINTRESOURCEA(100), kJapanese, &size);
    ASSERT_TRUE(data);
    const DLGTEMPLATE* dialog = reinterpret_cast<const DLGTEMPLATE*>(data);
    ASSERT_TRUE(dialog->style & DS_SETFONT);
    // Menu, class and title (0xFFFF and an ordinal, or a string), the point size, the face.
    const WORD* p = reinterpret_cast<const WORD*>(dialog + 1);
    for (int field = 0; field < 3; ++field) {
        if (*p == 0xFFFF)
            p += 2;
        else
            while (*p++ != 0) {
            }
    }
    ++p;
    while (*p++ != 0) {
    }
    // The first item starts on a DWORD boundary.
    UINT_PTR at = (reinterpret_cast<UINT_PTR>(p) - reinterpret_cast<UINT_PTR>(data) + 3) & ~static_cast<UINT_PTR>(3);
    ASSERT_LT(at + sizeof(DLGITEMTEMPLATE), size);
    const DLGITEMTEMPLATE* icon = reinterpret_cast<const DLGITEMTEMPLATE*>(data + at);
    EXPECT_EQ(11, icon->x);
    EXPECT_EQ(17, icon->y);
    EXPECT_EQ(20, icon->cx);
    EXPECT_EQ(20, icon->cy);
    EXPECT_EQ(static_cast<DWORD>(SS_ICON), icon->style & SS_TYPEMASK);
}

TEST(PluginVersionDialog, EndsWithTwoThroughEscapeOrTheCloseBox)
{
    DialogCheck escape = DialogCheck();
    escape.closeWith = IDCANCEL;
    EXPECT_EQ(2, RunVersionDialog(&escape));
    EXPECT_TRUE(escape.inspected);
    DialogCheck close = DialogCheck();
    close.closeWith = 0;
    EXPECT_EQ(2, RunVersionDialog(&close));
    EXPECT_TRUE(close.inspected);
}
