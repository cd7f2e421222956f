#include "link/win/file_version.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/win/binding_table.h"
#include "test_files.h"

namespace farsend::link {
namespace {

using testing::TestLibraryPath;

struct VersionCase {
    const char* name;
    const char* library;  // test library variant; "absent" names no file
    const char* key;
    size_t outputLength;
    std::string expected;
};

const std::vector<VersionCase> kCases = {
    {"NeutralTableOnly", "neutral_only", "FileVersion", 99, "7.3.0.1 neutral"},
    {"NeutralTableOtherKey", "neutral_only", "ProductName", 99, "Farsend test library"},
    {"NeutralTableMissingKey", "neutral_only", "Comments", 99, ""},
    {"NoVersionResource", "none", "FileVersion", 99, ""},
    {"NoSuchFile", "absent", "FileVersion", 99, ""},
    {"UsLatin1TableFirst", "all_tables", "FileVersion", 99, "us-latin1"},
    {"UsUnicodeTableSecond", "all_tables", "ProductVersion", 99, "us-unicode"},
    {"NeutralTableLast", "all_tables", "Comments", 99, "neutral"},
    {"ValueCutTo254", "all_tables", "ProductName", 400, std::string(254, 'L')},
    {"ValueCutToOutputLength", "all_tables", "ProductName", 10, std::string(10, 'L')},
    {"OutputLengthZero", "all_tables", "FileVersion", 0, ""},
};

class FileVersionTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(FileVersionTest, FindsTheValue) {
    const VersionCase& c = GetParam();
    const std::string path = TestLibraryPath(c.library);
    // Room for outputLength + 1 characters, and a guard byte after that.
    std::vector<char> output(c.outputLength + 2, '#');
    char* result = GetFileVersionString(path.c_str(), c.key, output.data(), c.outputLength);
    EXPECT_EQ(result, output.data());
    EXPECT_EQ(std::string(output.data()), c.expected);
    EXPECT_EQ(output.back(), '#');
}

INSTANTIATE_TEST_SUITE_P(Cases, FileVersionTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FileVersionTest, TheSystemHidLibraryHasAFileVersion) {
    char output[100];
    GetFileVersionString(SystemLibraryPath("hid.dll").c_str(), "FileVersion", output, 99);
    EXPECT_STRNE(output, "");
}

}  // namespace
}  // namespace farsend::link
