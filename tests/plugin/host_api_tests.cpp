// Binding the host's functions from the program that plays the host. The same tests are
// built three times: against a host with all 34 functions, one without _QPAJisToSjis@12,
// and one without _QPARegistCallback@8.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "hostsim/host_sim.h"
#include "base/host_api.h"

namespace {

// The names in this program's own export directory, read from its PE image.
std::vector<std::string> ExportedNames()
{
    const BYTE* base = reinterpret_cast<const BYTE*>(GetModuleHandleA(NULL));
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    std::vector<std::string> names;
    if (dir.VirtualAddress == 0)
        return names;
    const IMAGE_EXPORT_DIRECTORY* exports =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    const DWORD* nameRvas = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        names.push_back(reinterpret_cast<const char*>(base + nameRvas[i]));
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> ExpectedNames(const char* leftOut)
{
    std::vector<std::string> names;
    for (int i = 0; i < kHostFunctionCount; ++i)
        if (!leftOut || std::string(kHostFunctionNames[i]) != leftOut)
            names.push_back(kHostFunctionNames[i]);
    std::sort(names.begin(), names.end());
    return names;
}

BOOL WINAPI NoCallback(HWND, LPARAM)
{
    return FALSE;
}

}  // namespace

TEST(HostApiTable, NamesCarryTheArgumentBytesOfTheirCalls)
{
    // Each decorated name is _QPA<Name>@<4 × arguments>; the host's list is the same.
    for (int i = 0; i < kHostFunctionCount; ++i) {
        std::string name = kHostFunctionNames[i];
        EXPECT_EQ(0u, name.find("_QPA")) << name;
        size_t at = name.find('@');
        ASSERT_NE(std::string::npos, at) << name;
        EXPECT_EQ(0, std::stoi(name.substr(at + 1)) % 4) << name;
        EXPECT_STREQ(hostsim::kExportNames[i], kHostFunctionNames[i]);
    }
    EXPECT_STREQ("_QPARegistCallback@8", kHostFunctionNames[kHostRegistCallback]);
    EXPECT_STREQ("_QPAViewGetPath@4", kHostFunctionNames[kHostViewGetPath]);
}

#if defined(HOST_VARIANT_full)

TEST(HostApiTable, StandInExportsExactlyTheHostFunctions)
{
    EXPECT_EQ(ExpectedNames(NULL), ExportedNames());
}

TEST(HostApiTable, BindsEverySlotInOrderAndOnlyOnce)
{
    ASSERT_EQ(1, BindHostApi());
    EXPECT_EQ(GetModuleHandleA(NULL), g_hostApi.hostModule);
    for (int i = 0; i < kHostFunctionCount; ++i)
        EXPECT_EQ(GetProcAddress(GetModuleHandleA(NULL), kHostFunctionNames[i]), g_hostApi.slots[i])
            << kHostFunctionNames[i];

    // A second call looks nothing up: a marked slot stays as it is.
    FARPROC saved = g_hostApi.slots[5];
    g_hostApi.slots[5] = NULL;
    EXPECT_EQ(1, BindHostApi());
    EXPECT_EQ(NULL, g_hostApi.slots[5]);
    g_hostApi.slots[5] = saved;

    // Nothing but binding happened: no host function was called.
    for (int i = 0; i < kHostFunctionCount; ++i)
        EXPECT_EQ(0, hostsim::CallCount(kHostFunctionNames[i])) << kHostFunctionNames[i];
}

TEST(HostApiTable, RegistrationsGetDistinctNonZeroIdentifiers)
{
    ASSERT_EQ(1, BindHostApi());
    HostCommandId first = HostRegistCallback(NoCallback);
    HostCommandId second = HostRegistCallback(NoCallback);
    EXPECT_NE(0u, first);
    EXPECT_NE(0u, second);
    EXPECT_NE(first, second);
    ASSERT_GE(hostsim::Registrations().size(), 2u);
    EXPECT_EQ(0, hostsim::Registrations().back().data);
}

TEST(HostApiTable, ViewPathIsTheHostsAnswerForThatView)
{
    ASSERT_EQ(1, BindHostApi());
    HWND view = reinterpret_cast<HWND>(0x1234);
    EXPECT_EQ(NULL, HostViewGetPath(view));
    hostsim::SetViewPath(view, "C:\\mail\\1.eml");
    EXPECT_STREQ("C:\\mail\\1.eml", HostViewGetPath(view));
    hostsim::SetViewPath(view, NULL);
    EXPECT_EQ(NULL, HostViewGetPath(view));
}

#elif defined(HOST_VARIANT_lacks_jis)

TEST(HostApiTable, StandInLacksOnlyJisToSjis)
{
    EXPECT_EQ(ExpectedNames("_QPAJisToSjis@12"), ExportedNames());
}

TEST(HostApiTable, LastFunctionMissingLeavesTheOthersBound)
{
    EXPECT_EQ(0, BindHostApi());
    EXPECT_EQ(NULL, g_hostApi.hostModule);
    for (int i = 0; i < kHostFunctionCount - 1; ++i)
        EXPECT_NE(nullptr, g_hostApi.slots[i]) << kHostFunctionNames[i];
    EXPECT_EQ(nullptr, g_hostApi.slots[kHostFunctionCount - 1]);
    // Registration still goes through its own slot.
    EXPECT_NE(0u, HostRegistCallback(NoCallback));
    EXPECT_EQ(1, hostsim::CallCount("_QPARegistCallback@8"));
}

#elif defined(HOST_VARIANT_lacks_regist)

TEST(HostApiTable, StandInLacksOnlyRegistCallback)
{
    EXPECT_EQ(ExpectedNames("_QPARegistCallback@8"), ExportedNames());
}

TEST(HostApiTable, FirstFunctionMissingBindsNothing)
{
    EXPECT_EQ(0, BindHostApi());
    EXPECT_EQ(NULL, g_hostApi.hostModule);
    for (int i = 0; i < kHostFunctionCount; ++i)
        EXPECT_EQ(nullptr, g_hostApi.slots[i]) << kHostFunctionNames[i];
    // No call goes through an empty slot.
    EXPECT_EQ(0u, HostRegistCallback(NoCallback));
    EXPECT_EQ(NULL, HostViewGetPath(reinterpret_cast<HWND>(0x1234)));
    EXPECT_EQ(0, hostsim::CallCount("_QPARegistCallback@8"));
}

#endif
