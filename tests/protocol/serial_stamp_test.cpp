// Serial numbers stamped into the blocks the real image reader makes: the
// serial's bytes land at their addresses, the touched blocks carry fresh
// checks, every other byte is what the file said, and refusals leave the
// blocks as they were.
#include "protocol/serial_stamp.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "protocol/image_file.h"
#include "protocol/image_reader.h"
#include "protocol/image_text.h"

namespace farsend::protocol {
namespace {

using ::testing::HasSubstr;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kMax64 = std::numeric_limits<std::uint64_t>::max();

struct SpecRow {
    std::string text;
    bool ok;
    std::uint32_t address;
    std::uint32_t size;
    SerialFormat format;
    std::string says;  // part of the error
};

TEST(SerialStamp, ParsesSpecsAndNamesWhatIsWrong) {
    const auto le = SerialFormat::LittleEndian;
    const auto be = SerialFormat::BigEndian;
    const auto dec = SerialFormat::Decimal;
    const std::vector<SpecRow> rows = {
        {"0x3F000:4", true, 0x3F000, 4, le, ""},
        {"3F000:4", true, 0x3F000, 4, le, ""},
        {"0X3f000:2:BE", true, 0x3F000, 2, be, ""},
        {"3F000:8:le", true, 0x3F000, 8, le, ""},
        {"FFFFFFFF:1:dec", true, 0xFFFFFFFF, 1, dec, ""},
        {"00000003F000:20:Dec", true, 0x3F000, 20, dec, ""},
        {"", false, 0, 0, le, "empty"},
        {"3F000", false, 0, 0, le, "no SIZE"},
        {"3F000:4:le:x", false, 0, 0, le, "too many fields"},
        {"3G000:4", false, 0, 0, le, "address '3G000' is not a hexadecimal number"},
        {"0x:4", false, 0, 0, le, "address '0x'"},
        {"-1:4", false, 0, 0, le, "address '-1'"},
        {" 3F000:4", false, 0, 0, le, "address ' 3F000'"},
        {"100000000:4", false, 0, 0, le, "address 100000000 is above FFFFFFFF"},
        {"0xFFFFFFFFFFFFFFFFFFFF:4", false, 0, 0, le, "is above FFFFFFFF"},
        {"3F000:0", false, 0, 0, le, "size 0"},
        {"3F000:four", false, 0, 0, le, "size 'four' is not a decimal number"},
        {"3F000:+4", false, 0, 0, le, "size '+4'"},
        {"3F000::le", false, 0, 0, le, "size ''"},
        {"3F000:9", false, 0, 0, le, "size 9 is too large for le"},
        {"3F000:9:be", false, 0, 0, le, "size 9 is too large for be"},
        {"3F000:20:le", false, 0, 0, le, "1 to 8 bytes"},
        {"3F000:21:dec", false, 0, 0, le, "size 21 is too large for dec: decimal"},
        {"3F000:99999999999:dec", false, 0, 0, le, "too large for dec"},
        {"3F000:4:hex", false, 0, 0, le, "format 'hex' is none of le, be and dec"},
        {"3F000:4:", false, 0, 0, le, "format ''"},
    };
    for (const SpecRow& row : rows) {
        SCOPED_TRACE(row.text);
        const SerialSpecResult result = ParseSerialSpec(row.text);
        ASSERT_EQ(result.ok(), row.ok) << result.error;
        if (row.ok) {
            EXPECT_EQ(result.spec.address, row.address);
            EXPECT_EQ(result.spec.size, row.size);
            EXPECT_EQ(result.spec.format, row.format);
            // What SerialSpecText writes reads back as the same spec.
            const SerialSpecResult again = ParseSerialSpec(SerialSpecText(result.spec));
            ASSERT_TRUE(again.ok()) << again.error;
            EXPECT_EQ(again.spec.address, row.address);
            EXPECT_EQ(again.spec.size, row.size);
            EXPECT_EQ(again.spec.format, row.format);
        } else {
            EXPECT_THAT(result.error, HasSubstr(row.says));
        }
    }

    const std::vector<std::pair<std::string, std::optional<std::uint64_t>>> numbers = {
        {"0", 0},
        {"007", 7},
        {"18446744073709551615", kMax64},
        {"18446744073709551616", std::nullopt},
        {"", std::nullopt},
        {"-1", std::nullopt},
        {"+1", std::nullopt},
        {"1e3", std::nullopt},
        {"0x10", std::nullopt},
        {"12 ", std::nullopt},
    };
    for (const auto& [text, value] : numbers) {
        EXPECT_EQ(ParseSerialNumber(text), value) << "'" << text << "'";
    }
}

// 300 bytes at 0x4000 (blocks 0x4000 of 256 and 0x4100 of 44, adjacent),
// then after a gap of four bytes 16 bytes at 0x4130 (a third block).
std::string GapImage() {
    ImageSegment first{0x4000, {}};
    for (int i = 0; i < 300; ++i) first.bytes.push_back(static_cast<std::uint8_t>(0x80 + i * 7));
    ImageSegment second{0x4130, {}};
    for (int i = 0; i < 16; ++i) second.bytes.push_back(static_cast<std::uint8_t>(0x11 * i));
    return FormatImageText({first, second});
}

std::vector<FlashBlock> ReadBlocks(const std::string& text) {
    ImageFile file;
    file.OpenBytes(text);
    ImageReaderState state;
    state.quiet = true;
    const ProgrammingPlan plan = PlanProgramming(file, state);
    EXPECT_TRUE(plan.endsWithEndOfData);
    return plan.blocks;
}

struct StampRow {
    std::string name;
    std::string spec;
    std::uint64_t number;
    std::optional<SerialRefusal> refusal;
    Bytes bytes;                       // ok: what lands at spec.address on
    std::vector<std::size_t> touched;  // ok: the blocks written
    std::string says;                  // refused: part of the message
};

Bytes Ascii(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

TEST(SerialStamp, StampsOnlyTheSerialsBytesAndRefusesWhatCannotBeWritten) {
    const auto outside = SerialRefusal::OutsideData;
    const auto tooBig = SerialRefusal::DoesNotFit;
    const std::vector<StampRow> rows = {
        {"le at a block's start", "0x4000:4", 0x12345678, {}, {0x78, 0x56, 0x34, 0x12}, {0}, ""},
        {"be at a block's end", "40FC:4:be", 0x12345678, {}, {0x12, 0x34, 0x56, 0x78}, {0}, ""},
        {"across two adjacent blocks",
         "40FE:4:le",
         0xA1B2C3D4,
         {},
         {0xD4, 0xC3, 0xB2, 0xA1},
         {0, 1},
         ""},
        {"be across two adjacent blocks", "40FF:2:be", 0xBEEF, {}, {0xBE, 0xEF}, {0, 1}, ""},
        {"dec zero-padded", "4130:10:dec", 1234567, {}, Ascii("0001234567"), {2}, ""},
        {"dec filling the last block to its end",
         "4130:16:dec",
         42,
         {},
         Ascii("0000000000000042"),
         {2},
         ""},
        {"one byte, the largest, at the end of data before the gap",
         "412B:1",
         255,
         {},
         {0xFF},
         {1},
         ""},
        {"zero", "4010:3:be", 0, {}, {0, 0, 0}, {0}, ""},
        {"eight bytes, the largest number", "4010:8", kMax64, {}, Bytes(8, 0xFF), {0}, ""},
        {"twenty digits, the largest number",
         "40F0:20:dec",
         kMax64,
         {},
         Ascii("18446744073709551615"),
         {0, 1},
         ""},
        {"crossing the gap", "412A:8", 1, outside, {}, {}, "crosses the gap"},
        {"running into the gap", "412A:4", 1, outside, {}, {}, "runs past the image's data"},
        {"running past the end of the data", "413E:4:be", 1, outside, {}, {}, "0x413F"},
        {"starting before the data", "3FFE:4", 1, outside, {}, {}, "begins outside"},
        {"wholly outside", "3000:4", 1, outside, {}, {}, "lies outside the image's data"},
        {"in the gap", "412C:2", 1, outside, {}, {}, "0x4000..0x412B and 0x4130..0x413F"},
        {"past FFFFFFFF", "FFFFFFFF:8", 1, outside, {}, {}, "outside"},
        {"256 in one byte", "4000:1", 256, tooBig, {}, {}, "at most 255"},
        {"65536 in two bytes be", "4000:2:be", 65536, tooBig, {}, {}, "at most 65535"},
        {"1000 in three digits", "4000:3:dec", 1000, tooBig, {}, {}, "1000 does not fit"},
        {"2^56 in seven bytes", "4000:7", 1ull << 56, tooBig, {}, {}, "7 bytes"},
    };

    const std::string image = GapImage();
    const std::vector<FlashBlock> original = ReadBlocks(image);
    ASSERT_EQ(original.size(), 3u);
    ASSERT_EQ(original[1].baseAddress, 0x4100u);
    ASSERT_EQ(original[2].baseAddress, 0x4130u);

    for (const StampRow& row : rows) {
        SCOPED_TRACE(row.name);
        const SerialSpecResult parsed = ParseSerialSpec(row.spec);
        ASSERT_TRUE(parsed.ok()) << parsed.error;
        const SerialSpec& spec = parsed.spec;
        std::vector<FlashBlock> blocks = original;
        const SerialStampResult result = StampSerial(spec, row.number, blocks);

        if (row.refusal) {
            ASSERT_FALSE(result.ok());
            EXPECT_EQ(result.problem->refusal, *row.refusal);
            EXPECT_THAT(result.problem->message, HasSubstr(row.says));
            EXPECT_TRUE(result.bytes.empty());
            EXPECT_TRUE(result.touchedBlocks.empty());
            for (std::size_t i = 0; i < blocks.size(); ++i) {
                EXPECT_EQ(SerializeFlashBlock(blocks[i]), SerializeFlashBlock(original[i]));
            }
            if (*row.refusal == tooBig) {
                EXPECT_TRUE(SerialBytes(spec, row.number).empty());
            }
            continue;
        }

        ASSERT_TRUE(result.ok()) << result.problem->message;
        EXPECT_EQ(result.bytes, row.bytes);
        EXPECT_EQ(SerialBytes(spec, row.number), row.bytes);
        EXPECT_EQ(result.touchedBlocks, row.touched);
        ASSERT_EQ(blocks.size(), original.size());
        std::size_t stamped = 0;
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            const FlashBlock& now = blocks[i];
            const FlashBlock& was = original[i];
            EXPECT_EQ(now.baseAddress, was.baseAddress);
            EXPECT_EQ(now.count, was.count);
            EXPECT_TRUE(IsConsistent(now)) << "block " << i;
            for (std::size_t j = 0; j < kFlashBlockDataSize; ++j) {
                const std::uint64_t address = std::uint64_t{now.baseAddress} + j;
                if (j < now.count && address >= spec.address &&
                    address < std::uint64_t{spec.address} + spec.size) {
                    EXPECT_EQ(now.data[j], row.bytes[address - spec.address])
                        << std::hex << address;
                    ++stamped;
                } else {
                    EXPECT_EQ(now.data[j], was.data[j]) << std::hex << address;
                }
            }
        }
        EXPECT_EQ(stamped, spec.size);

        // A job that streams the blocks, stamping each as it comes, sends
        // exactly what stamping the whole list gives.
        ImageFile file;
        file.OpenBytes(image);
        ImageReaderState state;
        state.quiet = true;
        ProgrammingBlockSequence sequence(file, state);
        std::size_t index = 0;
        FlashBlock block;
        while (sequence.Next(block) == ProgrammingStep::SendBlock) {
            StampSerialBlock(spec, result.bytes, block);
            ASSERT_LT(index, blocks.size());
            EXPECT_EQ(SerializeFlashBlock(block), SerializeFlashBlock(blocks[index]));
            ++index;
        }
        EXPECT_EQ(index, blocks.size());
    }
}

}  // namespace
}  // namespace farsend::protocol
