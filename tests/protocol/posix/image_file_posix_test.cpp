#include <gtest/gtest.h>

#include <filesystem>

#include "protocol/image_reader.h"

namespace farsend::protocol {
namespace {

// A directory opens as a stream on Linux but cannot be read: that must come
// out as an error, not as an empty file that programs "successfully".
TEST(ImageFilePosix, UnreadableFileIsAnErrorNotTheEnd) {
    const std::string path = std::filesystem::temp_directory_path().string();
    ImageFile file;
    ASSERT_TRUE(file.Open(path));
    ImageReaderState state;
    const ProgrammingPlan plan = PlanProgramming(file, state);
    EXPECT_FALSE(plan.endsWithEndOfData);
    ASSERT_TRUE(plan.error.has_value());
    EXPECT_EQ(plan.error->kind, ImageFormatErrorKind::ReadFailed);
    EXPECT_TRUE(plan.blocks.empty());
}

}  // namespace
}  // namespace farsend::protocol
