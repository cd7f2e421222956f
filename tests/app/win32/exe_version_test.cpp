// The version information of both shipped programs, read from their files as
// Explorer's Details tab reads it. The files are the ones this build made,
// or those named by $FARSEND_FLASHER_EXE and $FARSEND_CLI_EXE (Unix paths),
// so that the package test can ask the same of the programs it unpacked.
#include <gtest/gtest.h>
#include <windows.h>
#include <winver.h>

#include <string>
#include <vector>

namespace {

std::string PathOf(const char* variable, const char* built) {
    char value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA(variable, value, sizeof value);
    std::string path = (length > 0 && length < sizeof value) ? value : built;
    if (!path.empty() && path[0] == '/') path = "Z:" + path;  // Wine's view of the Unix root
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

std::string VersionString(const std::vector<char>& block, const char* key) {
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + key;
    char* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length)) {
        return "<missing>";
    }
    return std::string(value, length ? length - 1 : 0);
}

struct ProgramCase {
    const char* name;
    const char* variable;
    const char* builtPath;
    const char* fileName;
    const char* description;
};

class ShippedProgramVersion : public ::testing::TestWithParam<ProgramCase> {};

TEST_P(ShippedProgramVersion, FileAndProductVersionAreTheProjectVersion) {
    const ProgramCase& program = GetParam();
    const std::string path = PathOf(program.variable, program.builtPath);
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    ASSERT_GT(size, 0u) << path << " has no version information";
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data())) << path;

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    const DWORD high = DWORD{FARSEND_EXPECTED_VERSION_MAJOR} << 16 | FARSEND_EXPECTED_VERSION_MINOR;
    const DWORD low = DWORD{FARSEND_EXPECTED_VERSION_PATCH} << 16;
    EXPECT_EQ(fixed->dwFileVersionMS, high) << path;
    EXPECT_EQ(fixed->dwFileVersionLS, low) << path;
    EXPECT_EQ(fixed->dwProductVersionMS, high) << path;
    EXPECT_EQ(fixed->dwProductVersionLS, low) << path;

    EXPECT_EQ(VersionString(block, "FileVersion"), FARSEND_EXPECTED_VERSION) << path;
    EXPECT_EQ(VersionString(block, "ProductVersion"), FARSEND_EXPECTED_VERSION) << path;
    EXPECT_EQ(VersionString(block, "ProductName"), "Farsend Flasher") << path;
    EXPECT_EQ(VersionString(block, "OriginalFilename"), program.fileName) << path;
    EXPECT_EQ(VersionString(block, "FileDescription"), program.description) << path;
}

INSTANTIATE_TEST_SUITE_P(
    BothPrograms, ShippedProgramVersion,
    ::testing::Values(ProgramCase{"WindowProgram", "FARSEND_FLASHER_EXE", FARSEND_FLASHER_EXE,
                                  "farsend-flasher.exe", "Farsend Flasher"},
                      ProgramCase{"CommandLine", "FARSEND_CLI_EXE", FARSEND_CLI_EXE,
                                  "farsend.exe", "Farsend Flasher command line"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
