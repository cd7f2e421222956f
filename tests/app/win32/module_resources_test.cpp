// The icon, the version information and the manifest as the module holds them.
#include <gtest/gtest.h>
#include <windows.h>
#include <winver.h>

#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "resources/resource_ids.h"

namespace {

#pragma pack(push, 2)
struct GroupIconHeader {
    WORD reserved;
    WORD type;
    WORD count;
};
struct GroupIconEntry {
    BYTE width;
    BYTE height;
    BYTE colours;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

const void* ResourceBytes(LPCSTR name, LPCSTR type, DWORD* size) {
    HMODULE self = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(self, name, type);
    if (!found) return nullptr;
    *size = SizeofResource(self, found);
    return LockResource(LoadResource(self, found));
}

// The window class uses the icon as both its large and its small icon, so
// the group must carry both sizes; 48 is for Explorer's larger views.
TEST(ProgramIcon, GroupHoldsSmallLargeAndExplorerSizes) {
    DWORD size = 0;
    const auto* header = static_cast<const GroupIconHeader*>(
        ResourceBytes(RES_MAIN_ICON, MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */, &size));
    ASSERT_NE(header, nullptr);
    ASSERT_GE(size, sizeof *header);
    ASSERT_EQ(header->type, 1);
    ASSERT_GE(size, sizeof *header + header->count * sizeof(GroupIconEntry));
    const auto* entries = reinterpret_cast<const GroupIconEntry*>(header + 1);
    std::set<int> sizes;
    for (int i = 0; i < header->count; ++i) {
        EXPECT_EQ(entries[i].width, entries[i].height);
        EXPECT_EQ(entries[i].bitCount, 32);
        sizes.insert(entries[i].width);
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 32, 48}));

    for (int px : {GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CXICON)}) {
        HANDLE icon = LoadImageA(GetModuleHandleA(nullptr), RES_MAIN_ICON, IMAGE_ICON, px, px, 0);
        EXPECT_NE(icon, nullptr) << px << " px";
        if (icon) DestroyIcon(static_cast<HICON>(icon));
    }
}

std::string VersionString(const std::vector<char>& block, const char* key) {
    std::string path = std::string("\\StringFileInfo\\040904B0\\") + key;
    char* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length)) {
        return "<missing>";
    }
    return std::string(value, length ? length - 1 : 0);
}

TEST(VersionInformation, CarriesTheProjectVersionAndProductName) {
    char path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameA(nullptr, path, sizeof path), 0u);
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS,
              DWORD{FARSEND_EXPECTED_VERSION_MAJOR} << 16 | FARSEND_EXPECTED_VERSION_MINOR);
    EXPECT_EQ(fixed->dwFileVersionLS, DWORD{FARSEND_EXPECTED_VERSION_PATCH} << 16);
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileType, DWORD{VFT_APP});

    EXPECT_EQ(VersionString(block, "FileVersion"), FARSEND_EXPECTED_VERSION);
    EXPECT_EQ(VersionString(block, "ProductVersion"), FARSEND_EXPECTED_VERSION);
    EXPECT_EQ(VersionString(block, "ProductName"), "Farsend Flasher");
    EXPECT_EQ(VersionString(block, "FileDescription"), "Farsend Flasher");
}

TEST(Manifest, AsksForTheInvokersPrivilegesAndThemedControls) {
    DWORD size = 0;
    const char* bytes = static_cast<const char*>(
        ResourceBytes(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24) /* RT_MANIFEST */, &size));
    ASSERT_NE(bytes, nullptr) << "no manifest with id 1";
    std::string text(bytes, size);
    EXPECT_NE(text.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"),
              std::string::npos);
    EXPECT_NE(text.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos);
    // The configured version stands in the identity; an unconfigured
    // placeholder would make the manifest invalid and the program refuse to start.
    EXPECT_EQ(text.find('@'), std::string::npos);
}

// The loader honours the manifest: comctl32 comes from the side-by-side store
// (the version 6 assembly), not from the system directory, which only an
// accepted manifest with its dependency brings about.
TEST(Manifest, ProcessLoadsCommonControlsFromTheSideBySideStore) {
    HMODULE controls = LoadLibraryA("comctl32.dll");
    ASSERT_NE(controls, nullptr);
    char path[MAX_PATH] = {};
    GetModuleFileNameA(controls, path, sizeof path);
    std::string lower(path);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_NE(lower.find("\\winsxs\\"), std::string::npos) << path;
    EXPECT_NE(lower.find("common-controls"), std::string::npos) << path;
    FreeLibrary(controls);
}

}  // namespace
