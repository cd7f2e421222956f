#include "protocol/image_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "protocol/image_reader.h"
#include "protocol/image_text.h"

namespace farsend::protocol {
namespace {

namespace fs = std::filesystem;

class TempFile {
public:
    explicit TempFile(const std::string& contents) {
        static int serial = 0;
        path_ = fs::temp_directory_path() /
                ("farsend_image_test_" +
                 std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                 std::to_string(serial++) + ".hex");
        std::ofstream out(path_, std::ios::binary);
        out << contents;
    }
    ~TempFile() {
        std::error_code ignored;
        fs::remove(path_, ignored);
    }
    std::string Path() const { return path_.string(); }

private:
    fs::path path_;
};

// A few hundred kilobytes, so that tokens and line ends straddle the file
// buffer's chunk boundaries.
std::string LargeImageText(bool crlf) {
    std::mt19937 random(7);
    std::vector<ImageSegment> segments;
    std::uint32_t address = 0x4000;
    for (int s = 0; s < 12; ++s) {
        ImageSegment segment;
        segment.address = address;
        const std::size_t length = 5000 + random() % 9000;
        for (std::size_t i = 0; i < length; ++i) {
            segment.bytes.push_back(static_cast<std::uint8_t>(random()));
        }
        address += static_cast<std::uint32_t>(length) + 17;
        segments.push_back(std::move(segment));
    }
    return FormatImageText(segments, crlf);
}

void ExpectSamePlan(const ProgrammingPlan& a, const ProgrammingPlan& b) {
    ASSERT_EQ(a.blocks.size(), b.blocks.size());
    for (std::size_t i = 0; i < a.blocks.size(); ++i) {
        ASSERT_EQ(SerializeFlashBlock(a.blocks[i]), SerializeFlashBlock(b.blocks[i])) << i;
    }
    EXPECT_EQ(a.endsWithEndOfData, b.endsWithEndOfData);
    EXPECT_EQ(a.error.has_value(), b.error.has_value());
}

TEST(ImageFile, FileOnDiskReadsLikeTheSameBytesInMemory) {
    for (bool crlf : {false, true}) {
        SCOPED_TRACE(crlf);
        const std::string text = LargeImageText(crlf);
        ASSERT_GT(text.size(), 3u * 64 * 1024);
        TempFile temp(text);

        ImageFile onDisk;
        ASSERT_TRUE(onDisk.Open(temp.Path()));
        EXPECT_EQ(onDisk.Size(), text.size());
        EXPECT_EQ(onDisk.Position(), 0u);
        ImageReaderState diskState;
        const ProgrammingPlan fromDisk = PlanProgramming(onDisk, diskState);
        EXPECT_EQ(onDisk.Position(), text.size());
        EXPECT_TRUE(onDisk.Close());
        EXPECT_FALSE(onDisk.IsOpen());

        ImageFile inMemory;
        inMemory.OpenBytes(text);
        ImageReaderState memoryState;
        ExpectSamePlan(fromDisk, PlanProgramming(inMemory, memoryState));
        EXPECT_TRUE(fromDisk.endsWithEndOfData);
    }
}

TEST(ImageFile, PositionFollowsTheBlocksThroughTheFile) {
    const std::string text = LargeImageText(false);
    TempFile temp(text);
    ImageFile file;
    ASSERT_TRUE(file.Open(temp.Path()));
    ImageReaderState state;
    bool hasData = false;
    FlashBlock block;
    std::uint64_t previous = 0;
    int calls = 0;
    ReadBlockResult result;
    do {
        result = ReadFlashBlock(block, hasData, file, state);
        EXPECT_GE(file.Position(), previous);
        previous = file.Position();
        ++calls;
    } while (result == ReadBlockResult::BlockFilled);
    EXPECT_EQ(result, ReadBlockResult::EndOfFile);
    EXPECT_EQ(previous, text.size());
    EXPECT_GT(calls, 100);
}

TEST(ImageFile, ErrorFarIntoALargeFileHasTheRightLine) {
    std::string text = LargeImageText(true);
    const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    text += "12 3G\r\n";
    TempFile temp(text);
    const auto plan = PlanProgrammingFile(temp.Path());
    ASSERT_TRUE(plan.has_value());
    EXPECT_FALSE(plan->endsWithEndOfData);
    ASSERT_TRUE(plan->error.has_value());
    EXPECT_EQ(plan->error->kind, ImageFormatErrorKind::NotHexadecimal);
    EXPECT_EQ(plan->error->line, lines + 1);
    EXPECT_EQ(plan->error->column, 5u);
    EXPECT_EQ(plan->error->offset, text.size() - 3);
}

TEST(ImageFile, MissingFileDoesNotOpen) {
    const std::string path =
        (fs::temp_directory_path() / "farsend_no_such_dir" / "none.hex").string();
    ImageFile file;
    EXPECT_FALSE(file.Open(path));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(PlanProgrammingFile(path).has_value());
    // Reading it anyway is an error, not an empty file that ends the run.
    ImageReaderState state;
    const ProgrammingPlan plan = PlanProgramming(file, state);
    EXPECT_FALSE(plan.endsWithEndOfData);
    ASSERT_TRUE(plan.error.has_value());
    EXPECT_EQ(plan.error->kind, ImageFormatErrorKind::ReadFailed);
    EXPECT_TRUE(file.Close());
}

TEST(ImageFile, ReopeningStartsAFreshFile) {
    TempFile good("00004000 01 02");
    ImageFile file;
    file.OpenBytes("00004000 01 02 00003000");
    ImageReaderState state;
    EXPECT_FALSE(PlanProgramming(file, state).endsWithEndOfData);
    // A new file forgets the old one's error, pending address and addresses.
    ASSERT_TRUE(file.Open(good.Path()));
    EXPECT_FALSE(file.Error().has_value());
    const ProgrammingPlan plan = PlanProgramming(file, state);
    EXPECT_TRUE(plan.endsWithEndOfData);
    ASSERT_EQ(plan.blocks.size(), 1u);
    EXPECT_EQ(plan.blocks[0].count, 2u);
}

}  // namespace
}  // namespace farsend::protocol
