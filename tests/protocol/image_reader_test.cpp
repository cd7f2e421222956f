#include "protocol/image_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/diagnostics.h"
#include "protocol/image_text.h"

namespace farsend::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

// "00004000" followed by `count` data bytes 00, 01, 02, ...
std::string AddressAndBytes(const std::string& address, std::size_t count) {
    std::string text = address;
    char digits[8];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(digits, sizeof digits, " %02X", static_cast<unsigned>(i & 0xFF));
        text += digits;
    }
    return text;
}

Bytes Counting(std::size_t from, std::size_t count) {
    Bytes bytes;
    for (std::size_t i = from; i < from + count; ++i) bytes.push_back(static_cast<std::uint8_t>(i));
    return bytes;
}

Bytes DataOf(const FlashBlock& block) {
    return Bytes(block.data.begin(), block.data.begin() + block.count);
}

struct ExpectedBlock {
    ReadBlockResult result;
    std::uint32_t base;
    Bytes data;
};

struct ReadCall {
    ReadBlockResult result;
    FlashBlock block;
    std::uint64_t positionAfter;
};

// Calls ReadFlashBlock until the end of the file or an error.
std::vector<ReadCall> ReadAll(ImageFile& file, ImageReaderState& state, bool& hasData) {
    std::vector<ReadCall> calls;
    for (int guard = 0; guard < 100000; ++guard) {
        ReadCall call;
        call.result = ReadFlashBlock(call.block, hasData, file, state);
        call.positionAfter = file.Position();
        calls.push_back(call);
        if (call.result != ReadBlockResult::BlockFilled) break;
    }
    return calls;
}

void ExpectBlocks(const std::vector<ReadCall>& calls, const std::vector<ExpectedBlock>& expected) {
    ASSERT_EQ(calls.size(), expected.size());
    for (std::size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE("call " + std::to_string(i + 1));
        EXPECT_EQ(calls[i].result, expected[i].result);
        EXPECT_EQ(calls[i].block.baseAddress, expected[i].base);
        EXPECT_EQ(DataOf(calls[i].block), expected[i].data);
        EXPECT_TRUE(IsConsistent(calls[i].block));
    }
}

struct BlocksCase {
    const char* name;
    std::string text;
    std::vector<ExpectedBlock> blocks;
};

const ReadBlockResult kFilled = ReadBlockResult::BlockFilled;
const ReadBlockResult kEnd = ReadBlockResult::EndOfFile;

TEST(ReadFlashBlock, WorkedExamplesAndEdgeCases) {
    const BlocksCase cases[] = {
        {"three bytes", "00004000 01 02 04", {{kEnd, 0x4000, {0x01, 0x02, 0x04}}}},
        {"300 bytes",
         AddressAndBytes("00004000", 300),
         {{kFilled, 0x4000, Counting(0, 256)}, {kEnd, 0x4100, Counting(256, 44)}}},
        {"gap",
         "00004000 AA BB 00004010 CC",
         {{kFilled, 0x4000, {0xAA, 0xBB}}, {kEnd, 0x4010, {0xCC}}}},
        {"continuing address takes no place",
         "00004000 01 02 00004002 03",
         {{kEnd, 0x4000, {0x01, 0x02, 0x03}}}},
        {"continuing address, then a gap",
         "00004000 01 02 00004002 00005000 03",
         {{kFilled, 0x4000, {0x01, 0x02}}, {kEnd, 0x5000, {0x03}}}},
        {"exactly 256 bytes",
         AddressAndBytes("00004000", 256),
         {{kFilled, 0x4000, Counting(0, 256)}, {kEnd, 0x4100, {}}}},
        {"257th byte starts the next block",
         AddressAndBytes("00004000", 257),
         {{kFilled, 0x4000, Counting(0, 256)}, {kEnd, 0x4100, {0x00}}}},
        {"FF is data, 100 is an address", "100 FF", {{kEnd, 0x100, {0xFF}}}},
        {"a gap closes a one-byte block",
         "00004000 01 00005000 02",
         {{kFilled, 0x4000, {0x01}}, {kEnd, 0x5000, {0x02}}}},
        {"short gap address is read again",
         "4000 AA BB 4010 CC",
         {{kFilled, 0x4000, {0xAA, 0xBB}}, {kEnd, 0x4010, {0xCC}}}},
        {"long gap address is read again",
         "0000000000004000 AA BB 000000000000004010 CC",
         {{kFilled, 0x4000, {0xAA, 0xBB}}, {kEnd, 0x4010, {0xCC}}}},
        {"file ends on a gap address",
         "00004000 01 00005000",
         {{kFilled, 0x4000, {0x01}}, {kEnd, 0x5000, {}}}},
        {"gap right after a full block",
         AddressAndBytes("00004000", 256) + " 00006000 07",
         {{kFilled, 0x4000, Counting(0, 256)}, {kEnd, 0x6000, {0x07}}}},
        {"lower case, leading zeros, all separators",
         "\f0000abcd\t0a\v00ff\r\n\r\n0001\r  ",
         {{kEnd, 0xABCD, {0x0A, 0xFF, 0x01}}}},
        {"highest address", "FFFFFFFF 5A", {{kEnd, 0xFFFFFFFF, {0x5A}}}},
    };
    for (const BlocksCase& c : cases) {
        SCOPED_TRACE(c.name);
        ImageFile file;
        file.OpenBytes(c.text);
        ImageReaderState state;
        bool hasData = false;
        ExpectBlocks(ReadAll(file, state, hasData), c.blocks);
        EXPECT_TRUE(hasData);
        EXPECT_EQ(file.Position(), file.Size());
    }
}

TEST(ReadFlashBlock, WorkedExampleChecksAndGapPosition) {
    ImageFile file;
    const std::string text = "00004000 AA BB 00004010 CC";
    file.OpenBytes(text);
    ImageReaderState state;
    bool hasData = false;
    const std::vector<ReadCall> calls = ReadAll(file, state, hasData);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].block.check, 0x4011u);
    // Positioned at the first digit of the address that opened the gap.
    EXPECT_EQ(calls[0].positionAfter, text.find("00004010"));
    EXPECT_EQ(calls[1].block.check, 0x40DCu);

    ImageFile three;
    three.OpenBytes("00004000 01 02 04");
    FlashBlock block;
    EXPECT_EQ(ReadFlashBlock(block, hasData, three, state), kEnd);
    EXPECT_EQ(block.check, 0x4007u);
}

TEST(ReadFlashBlock, FileWithoutTokensLeavesHasDataAndCarriesTheBase) {
    const char* texts[] = {"", "  \r\n\t "};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        ImageReaderState state;
        bool hasData = false;
        ImageFile first;
        first.OpenBytes("00004000 01 02 04");
        ASSERT_EQ(ReadAll(first, state, hasData).back().result, kEnd);

        ImageFile empty;
        empty.OpenBytes(text);
        hasData = false;
        FlashBlock block;
        EXPECT_EQ(ReadFlashBlock(block, hasData, empty, state), kEnd);
        EXPECT_FALSE(hasData);
        EXPECT_EQ(block.count, 0u);
        // The run start of the previous file's last block.
        EXPECT_EQ(block.baseAddress, 0x4000u);
        EXPECT_EQ(block.check, 0x4000u);
    }
    // After a file that ended on a full block the carried base is the next
    // address, and the empty block checks as its base.
    ImageReaderState state;
    bool hasData = false;
    ImageFile full;
    full.OpenBytes(AddressAndBytes("00004000", 256));
    ReadAll(full, state, hasData);
    ImageFile empty;
    empty.OpenBytes("");
    FlashBlock block;
    EXPECT_EQ(ReadFlashBlock(block, hasData, empty, state), kEnd);
    EXPECT_EQ(block.baseAddress, 0x4100u);
    EXPECT_EQ(block.check, 0x4100u);
}

TEST(ReadFlashBlock, StateCarriesAcrossFiles) {
    bool hasData = false;
    FlashBlock block;
    ImageReaderState state;
    ImageFile first;
    first.OpenBytes("00007000 01 02");
    ASSERT_EQ(ReadFlashBlock(block, hasData, first, state), kEnd);
    EXPECT_EQ(state.nextAddress, 0x7002u);

    ImageFile second;
    second.OpenBytes("");
    ASSERT_EQ(ReadFlashBlock(block, hasData, second, state), kEnd);
    EXPECT_EQ(block.baseAddress, 0x7000u);

    // The next file's first address sets the position afresh, even below the
    // previous file's data.
    ImageFile third;
    third.OpenBytes("00001000 05");
    ASSERT_EQ(ReadFlashBlock(block, hasData, third, state), kEnd);
    EXPECT_EQ(block.baseAddress, 0x1000u);
    EXPECT_EQ(DataOf(block), Bytes({0x05}));
}

struct ErrorCase {
    const char* name;
    std::string text;
    ImageFormatErrorKind kind;
    std::uint64_t line;
    std::uint64_t column;
    std::size_t blocksBefore;  // calls that returned BlockFilled first
};

TEST(ReadFlashBlock, FormatErrorsAreReportedWithTheirPlace) {
    using K = ImageFormatErrorKind;
    const ErrorCase cases[] = {
        {"letter outside hex", "00004000 01 G2", K::NotHexadecimal, 1, 13, 0},
        {"letter ending a token", "00004000 01 2G", K::NotHexadecimal, 1, 14, 0},
        {"0x prefix", "00004000\n01 0x02", K::NotHexadecimal, 2, 5, 0},
        {"minus sign", "00004000 -1", K::NotHexadecimal, 1, 10, 0},
        {"plus sign", "00004000 +1", K::NotHexadecimal, 1, 10, 0},
        {"byte order mark",
         "\xEF\xBB\xBF"
         "00004000 01",
         K::NotHexadecimal, 1, 1, 0},
        {"NUL byte", std::string("00004000 01\0 02", 15), K::NotHexadecimal, 1, 12, 0},
        {"comma", "00004000 01,02", K::NotHexadecimal, 1, 12, 0},
        {"after CRLF", "00004000 01\r\n02 ZZ", K::NotHexadecimal, 2, 4, 0},
        {"after CR alone", "00004000 01\r02 ZZ", K::NotHexadecimal, 2, 4, 0},
        {"LF, CRLF", "00004000 01\n\r\n02 Z", K::NotHexadecimal, 3, 4, 0},
        {"33 bits", "00004000 01 100000000", K::TokenTooLarge, 1, 13, 0},
        {"nine F", "00004000\n  FFFFFFFFF 01", K::TokenTooLarge, 2, 3, 0},
        {"too large and a bad letter", "00004000 123456789X", K::TokenTooLarge, 1, 10, 0},
        {"data first", "01 02", K::DataBeforeAddress, 1, 1, 0},
        {"overlap by one", "00004000 01 02 00004001 03", K::AddressGoesBackwards, 1, 16, 0},
        {"going back", "00004000 01 02 00003000 03", K::AddressGoesBackwards, 1, 16, 0},
        {"back after a full block", AddressAndBytes("00004000", 256) + "\n00004080 01",
         K::AddressGoesBackwards, 2, 1, 1},
        {"back before any data", "00005000 00004000 01", K::AddressGoesBackwards, 1, 10, 0},
        {"back after a gap", "00004000 01 00005000 02 00004800 03", K::AddressGoesBackwards, 1, 25,
         1},
        {"past FFFFFFFF", "FFFFFFFF 01 02", K::AddressSpaceExhausted, 1, 13, 0},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.name);
        ImageFile file;
        file.OpenBytes(c.text);
        ImageReaderState state;
        bool hasData = false;
        const std::vector<ReadCall> calls = ReadAll(file, state, hasData);
        ASSERT_EQ(calls.size(), c.blocksBefore + 1);
        EXPECT_EQ(calls.back().result, ReadBlockResult::FormatError);
        ASSERT_TRUE(file.Error().has_value());
        EXPECT_EQ(file.Error()->kind, c.kind);
        EXPECT_EQ(file.Error()->line, c.line);
        EXPECT_EQ(file.Error()->column, c.column);

        // The error stays: reading again neither moves nor pretends the file
        // has ended.
        const std::uint64_t position = file.Position();
        FlashBlock block;
        EXPECT_EQ(ReadFlashBlock(block, hasData, file, state), ReadBlockResult::FormatError);
        EXPECT_EQ(file.Position(), position);
    }
}

TEST(ReadFlashBlock, BackwardsAddressErrorNamesBothAddresses) {
    ImageFile file;
    file.OpenBytes("00004000 01 02 00003000 03");
    ImageReaderState state;
    bool hasData = false;
    ReadAll(file, state, hasData);
    ASSERT_TRUE(file.Error().has_value());
    EXPECT_EQ(file.Error()->address, 0x3000u);
    EXPECT_EQ(file.Error()->lowestAllowed, 0x4002u);
    EXPECT_EQ(file.Error()->offset, 15u);
    EXPECT_EQ(DescribeImageFormatError(*file.Error()),
              "line 1, column 16: address 00003000 goes back over data already read "
              "(next is 00004002)");
}

TEST(ReadFlashBlock, WritesOneDiagnosticLinePerCompletedBlock) {
    std::vector<std::string> lines;
    SetDiagnosticSink([&](std::string_view line) { lines.emplace_back(line); });
    ImageFile file;
    file.OpenBytes("00004000 AA BB 00004010 CC");
    ImageReaderState state;
    bool hasData = false;
    ReadAll(file, state, hasData);
    ImageFile bad;
    bad.OpenBytes("00004000 01 XX");
    ReadAll(bad, state, hasData);
    SetDiagnosticSink({});
    EXPECT_EQ(lines, (std::vector<std::string>{"\nbase:4000 nbytes:2 ", "\nbase:4010 nbytes:1 "}));
}

struct PlanCase {
    const char* name;
    std::string text;
    std::vector<ExpectedBlock> sent;  // the result field is not used
    bool endOfData;
};

TEST(PlanProgramming, SendsWhatTheProgrammingRunSends) {
    const PlanCase cases[] = {
        {"small file", "00004000 01 02 04", {{kEnd, 0x4000, {1, 2, 4}}}, true},
        {"ends on a block boundary: the empty last block is sent",
         AddressAndBytes("00004000", 256),
         {{kFilled, 0x4000, Counting(0, 256)}, {kEnd, 0x4100, {}}},
         true},
        {"no token: refused, never an end of data after an erase", " \n ", {}, false},
        {"empty file: refused", "", {}, false},
        {"addresses only: refused", "00004000\n00005000\n", {}, false},
        {"one data byte is enough", "00004000 7F", {{kEnd, 0x4000, {0x7F}}}, true},
        {"malformed after a full block: never the end of data",
         AddressAndBytes("00004000", 256) + " 01 QQ",
         {{kFilled, 0x4000, Counting(0, 256)}},
         false},
        {"malformed in the first block", "00004000 01 02 0x03", {}, false},
        {"data before an address", "01 02 03", {}, false},
    };
    for (const PlanCase& c : cases) {
        SCOPED_TRACE(c.name);
        ImageFile file;
        file.OpenBytes(c.text);
        ImageReaderState state;
        const ProgrammingPlan plan = PlanProgramming(file, state);
        EXPECT_EQ(plan.endsWithEndOfData, c.endOfData);
        EXPECT_EQ(plan.error.has_value(), !c.endOfData);
        ASSERT_EQ(plan.blocks.size(), c.sent.size());
        for (std::size_t i = 0; i < c.sent.size(); ++i) {
            EXPECT_EQ(plan.blocks[i].baseAddress, c.sent[i].base);
            EXPECT_EQ(DataOf(plan.blocks[i]), c.sent[i].data);
        }
    }
}

TEST(PlanProgramming, NamesWhyAFileIsRefused) {
    const struct {
        const char* text;
        ImageFormatErrorKind kind;
    } cases[] = {
        {"", ImageFormatErrorKind::NoData},
        {"\r\n\t ", ImageFormatErrorKind::NoData},
        {"00004000", ImageFormatErrorKind::NoData},
        // Data before an address is the first fault, not a lack of data.
        {"01 02", ImageFormatErrorKind::DataBeforeAddress},
        {"00004000 zz", ImageFormatErrorKind::NotHexadecimal},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ImageFile file;
        file.OpenBytes(c.text);
        ImageReaderState state;
        const ProgrammingPlan plan = PlanProgramming(file, state);
        ASSERT_TRUE(plan.error.has_value());
        EXPECT_EQ(plan.error->kind, c.kind);
        EXPECT_FALSE(plan.endsWithEndOfData);
    }
}

TEST(ProgrammingBlockSequence, StaysAtItsFinalStep) {
    ImageFile good;
    good.OpenBytes("00004000 01");
    ImageReaderState state;
    ProgrammingBlockSequence sequence(good, state);
    FlashBlock block;
    EXPECT_EQ(sequence.Next(block), ProgrammingStep::SendBlock);
    EXPECT_EQ(sequence.Next(block), ProgrammingStep::SendEndOfData);
    EXPECT_EQ(sequence.Next(block), ProgrammingStep::SendEndOfData);

    ImageFile bad;
    bad.OpenBytes("00004000 01 @");
    ProgrammingBlockSequence failing(bad, state);
    EXPECT_EQ(failing.Next(block), ProgrammingStep::FormatError);
    EXPECT_EQ(failing.Next(block), ProgrammingStep::FormatError);
}

// Random images written as text and read back give the same bytes at the
// same addresses, in blocks that never cross a gap.
TEST(PlanProgramming, RandomImagesRoundTrip) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 50; ++round) {
        SCOPED_TRACE(round);
        std::vector<ImageSegment> segments;
        std::uint64_t address = 0x100 + random() % 0x10000;
        const int segmentCount = 1 + static_cast<int>(random() % 6);
        for (int s = 0; s < segmentCount; ++s) {
            ImageSegment segment;
            segment.address = static_cast<std::uint32_t>(address);
            const std::size_t length = 1 + random() % 700;
            for (std::size_t i = 0; i < length; ++i) {
                segment.bytes.push_back(static_cast<std::uint8_t>(random()));
            }
            address += length + 1 + random() % 3000;  // a real gap each time
            segments.push_back(segment);
        }
        ImageFile file;
        file.OpenBytes(FormatImageText(segments, round % 2 == 0));
        ImageReaderState state;
        const ProgrammingPlan plan = PlanProgramming(file, state);
        ASSERT_TRUE(plan.endsWithEndOfData);

        std::vector<ImageSegment> back;
        for (const FlashBlock& block : plan.blocks) {
            ASSERT_TRUE(IsConsistent(block));
            if (block.count == 0) continue;
            if (back.empty() ||
                back.back().address + back.back().bytes.size() != block.baseAddress) {
                back.push_back({block.baseAddress, {}});
            }
            back.back().bytes.insert(back.back().bytes.end(), block.data.begin(),
                                     block.data.begin() + block.count);
        }
        ASSERT_EQ(back.size(), segments.size());
        for (std::size_t i = 0; i < segments.size(); ++i) {
            EXPECT_EQ(back[i].address, segments[i].address);
            EXPECT_EQ(back[i].bytes, segments[i].bytes);
        }
    }
}

}  // namespace
}  // namespace farsend::protocol
