#include "link/win/system_libraries.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "test_files.h"

namespace farsend::link {
namespace {

template <typename Table>
int ResolvedCount(const Table& table) {
    int count = 0;
    for (size_t i = 0; i < Table::kNames.size(); ++i) count += table.Has(i) ? 1 : 0;
    return count;
}

TEST(SystemLibrariesTest, TheProcessTablesBindEveryEntryPoint) {
    ASSERT_TRUE(hidApi.Bind("hid.dll"));
    ASSERT_TRUE(setupApi.Bind("setupapi.dll"));
    ASSERT_TRUE(cfgMgrApi.Bind("cfgmgr32.dll"));
    ASSERT_TRUE(versionApi.Bind("version.dll"));
    EXPECT_EQ(ResolvedCount(hidApi), 9);
    EXPECT_EQ(ResolvedCount(setupApi), 9);
    EXPECT_EQ(ResolvedCount(cfgMgrApi), 3);
    EXPECT_EQ(ResolvedCount(versionApi), 3);
}

template <typename Table>
void ExpectResolvedInOrder(const char* library) {
    Table table;
    ASSERT_TRUE(table.Bind(library));
    for (size_t i = 0; i < Table::kNames.size(); ++i) {
        const FARPROC expected = ::GetProcAddress(table.Module(), Table::kNames[i]);
        EXPECT_NE(expected, nullptr) << Table::kNames[i];
        EXPECT_EQ(table.Address(i), expected) << Table::kNames[i];
    }
}

TEST(SystemLibrariesTest, EachEntryHoldsTheFunctionOfItsName) {
    ExpectResolvedInOrder<HidApi>("hid.dll");
    ExpectResolvedInOrder<SetupApi>("setupapi.dll");
    ExpectResolvedInOrder<CfgMgrApi>("cfgmgr32.dll");
    ExpectResolvedInOrder<VersionApi>("version.dll");
}

TEST(SystemLibrariesTest, ASecondBindKeepsTheLoadedLibrary) {
    SetupApi table;
    ASSERT_TRUE(table.Bind("setupapi.dll"));
    const HMODULE first = table.Module();
    // Even a different name does not load anything once the table is bound.
    ASSERT_TRUE(table.Bind("hid.dll"));
    EXPECT_EQ(table.Module(), first);
    EXPECT_EQ(ResolvedCount(table), 9);
}

TEST(SystemLibrariesTest, AFailedLoadIsTriedAgainLater) {
    CfgMgrApi table;
    EXPECT_FALSE(table.Bind("farsend-no-such-library.dll"));
    EXPECT_EQ(table.Module(), nullptr);
    EXPECT_TRUE(table.Bind("cfgmgr32.dll"));
    EXPECT_EQ(ResolvedCount(table), 3);
}

TEST(SystemLibrariesTest, CallsWithMissingEntryPointsFailWithoutBeingMade) {
    // Each table bound to a library that has none of its functions.
    HidApi hid;
    SetupApi setup;
    CfgMgrApi cfgMgr;
    ASSERT_TRUE(hid.Bind("version.dll"));
    ASSERT_TRUE(setup.Bind("version.dll"));
    ASSERT_TRUE(cfgMgr.Bind("version.dll"));
    ASSERT_EQ(ResolvedCount(hid) + ResolvedCount(setup) + ResolvedCount(cfgMgr), 0);

    HANDLE anyHandle = ::GetCurrentProcess();
    HIDD_ATTRIBUTES attributes{};
    EXPECT_FALSE(hid.GetAttributes(anyHandle, &attributes));
    GUID guid{0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
    const GUID before = guid;
    hid.GetHidGuid(&guid);
    EXPECT_TRUE(IsEqualGUID(guid, before));  // left as it was
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    EXPECT_FALSE(hid.GetPreparsedData(anyHandle, &preparsed));
    HIDP_CAPS caps{};
    EXPECT_NE(hid.GetCaps(preparsed, &caps), HIDP_STATUS_SUCCESS);
    uint8_t feature[6] = {};
    EXPECT_FALSE(hid.SetFeature(anyHandle, feature, sizeof feature));
    EXPECT_FALSE(hid.SetNumInputBuffers(anyHandle, 512));

    EXPECT_EQ(setup.GetClassDevs(&guid, nullptr, nullptr, DIGCF_PRESENT), nullptr);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    EXPECT_FALSE(setup.EnumDeviceInfo(nullptr, 0, &device));
    EXPECT_FALSE(setup.ClassGuidsFromName("HIDClass", &guid, 1, nullptr));

    char id[200] = "untouched";
    EXPECT_EQ(cfgMgr.GetDeviceIdEx(0, id, sizeof id, 0, nullptr),
              static_cast<CONFIGRET>(CR_FAILURE));
    wchar_t serial[8] = L"kept";
    EXPECT_FALSE(hid.GetSerialNumberString(anyHandle, serial, sizeof serial));
    EXPECT_EQ(std::wstring(serial), L"kept");
    DEVINST parent = 7;
    EXPECT_EQ(cfgMgr.GetParent(&parent, 1), static_cast<CONFIGRET>(CR_FAILURE));
    EXPECT_EQ(parent, 7u);
    ULONG length = sizeof id;
    EXPECT_EQ(cfgMgr.GetDevNodeRegistryProperty(1, CM_DRP_LOCATION_PATHS, id, &length),
              static_cast<CONFIGRET>(CR_FAILURE));
}

// Run only as the child of the test below, from a directory that holds a
// planted hid.dll beside the program and as the working directory.
TEST(SystemLibrariesChild, DISABLED_BindsTheSystemHidLibrary) {
    HidApi table;
    ASSERT_TRUE(table.Bind("hid.dll"));
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(table.Module(), path, MAX_PATH);
    EXPECT_EQ(_stricmp(path, SystemLibraryPath("hid.dll").c_str()), 0) << path;
    EXPECT_EQ(ResolvedCount(table), 9);  // the planted copy exports none of them
}

// A DLL named like a system library, planted beside the program or in the
// working directory, is never bound: the tables load from the system
// directory by full path. (A bare LoadLibraryA("hid.dll") takes the planted
// copy beside the program.) The check runs in a copy of this program in a
// directory of its own, so the real test directory is never touched.
TEST(SystemLibrariesTest, APlantedLibraryIsNotBound) {
    char tempRoot[MAX_PATH];
    ASSERT_NE(::GetTempPathA(MAX_PATH, tempRoot), 0u);
    const std::string directory =
        std::string(tempRoot) + "farsend-planted-" + std::to_string(::GetCurrentProcessId());
    ASSERT_TRUE(::CreateDirectoryA(directory.c_str(), nullptr));
    char self[MAX_PATH] = {};
    ASSERT_NE(::GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
    const std::string program = directory + "\\planted_test.exe";
    const std::string planted = directory + "\\hid.dll";
    const bool copied =
        ::CopyFileA(self, program.c_str(), FALSE) &&
        ::CopyFileA(testing::TestLibraryPath("none").c_str(), planted.c_str(), FALSE);

    DWORD exitCode = 0xFFFFFFFF;
    if (copied) {
        std::string commandLine = "\"" + program +
                                  "\" --gtest_also_run_disabled_tests"
                                  " --gtest_filter=SystemLibrariesChild.*";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                             nullptr, directory.c_str(), &startup, &process)) {
            ::WaitForSingleObject(process.hProcess, 120000);
            ::GetExitCodeProcess(process.hProcess, &exitCode);
            ::CloseHandle(process.hThread);
            ::CloseHandle(process.hProcess);
        }
    }
    ::DeleteFileA(planted.c_str());
    ::DeleteFileA(program.c_str());
    ::RemoveDirectoryA(directory.c_str());

    ASSERT_TRUE(copied);
    EXPECT_EQ(exitCode, 0u);
}

}  // namespace
}  // namespace farsend::link
