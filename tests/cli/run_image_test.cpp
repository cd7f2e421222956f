// The image of a run: read once, and a change on disk told once, with the
// file's name made safe to show.
#include "cli/run_image.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_directory.h"

namespace farsend::cli {
namespace {

using ::testing::HasSubstr;

TEST(RunImage, KeepsTheBytesReadAndTellsAChangeOnce) {
    farsend::testing::TempDirectory temp;
#if defined(_WIN32)
    // Windows takes no control characters in a file's name.
    const std::string path = (temp.path() / "fw.hex").string();
    const char* const shown = "fw.hex changed on disk during the run";
#else
    // A name with an escape sequence and a line break in it.
    const std::string path = (temp.path() / "fw\x1b[2J\n.hex").string();
    const char* const shown = "fw\\x1B[2J\\x0A.hex changed on disk during the run";
#endif
    std::ofstream(path, std::ios::binary) << "4000 01 02";
    const std::unique_ptr<RunImage> image = RunImage::Take(path);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->ChangeWarning(), std::nullopt);  // unchanged

    std::ofstream(path, std::ios::binary) << "4000 AA";
    const std::optional<std::string> warning = image->ChangeWarning();
    ASSERT_TRUE(warning);
    EXPECT_THAT(*warning, HasSubstr(shown));
    EXPECT_EQ(warning->find('\x1b'), std::string::npos);
    EXPECT_EQ(*image->Bytes(), "4000 01 02");
    EXPECT_EQ(image->ChangeWarning(), std::nullopt);  // once per run

    EXPECT_FALSE(RunImage::Take((temp.path() / "missing.hex").string()));
}

}  // namespace
}  // namespace farsend::cli
