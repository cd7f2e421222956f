// The address-carrying readers against the token reader: every good file
// must give the blocks of the token text with the same bytes at the same
// addresses, every bad one a refusal that names its line (or offset).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "protocol/image_format.h"
#include "protocol/image_writers.h"

namespace farsend::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

ProgrammingPlan Plan(const std::string& bytes, ImageReadOptions options = {}) {
    return PlanProgrammingBytes(std::make_shared<const std::string>(bytes), options);
}

// The blocks of a token file, which must be right.
std::vector<FlashBlock> TokenBlocks(const std::string& tokens) {
    ProgrammingPlan plan = Plan(tokens, {ImageFormat::Token, std::nullopt});
    EXPECT_FALSE(plan.error) << tokens;
    return plan.blocks;
}

void ExpectSameBlocks(const std::vector<FlashBlock>& got, const std::vector<FlashBlock>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].baseAddress, want[i].baseAddress) << "block " << i;
        EXPECT_EQ(got[i].count, want[i].count) << "block " << i;
        EXPECT_EQ(got[i].check, want[i].check) << "block " << i;
        EXPECT_EQ(got[i].data, want[i].data) << "block " << i;
    }
}

std::string Hex2(unsigned value) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

// A well-formed Intel HEX record.
std::string Ihex(unsigned type, unsigned offset, const Bytes& data) {
    Bytes record = {static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(offset >> 8),
                    static_cast<std::uint8_t>(offset), static_cast<std::uint8_t>(type)};
    record.insert(record.end(), data.begin(), data.end());
    unsigned sum = 0;
    std::string text = ":";
    for (std::uint8_t byte : record) {
        sum += byte;
        text += Hex2(byte);
    }
    return text + Hex2(0x100 - (sum & 0xFF)) + "\n";
}
const std::string kIhexEnd = ":00000001FF\n";

// A well-formed S-record; the address takes the type's width.
std::string Srec(unsigned type, std::uint32_t address, const Bytes& data) {
    const unsigned width[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
    Bytes record = {static_cast<std::uint8_t>(width[type] + data.size() + 1)};
    for (unsigned i = width[type]; i > 0; --i) {
        record.push_back(static_cast<std::uint8_t>(address >> (8 * (i - 1))));
    }
    record.insert(record.end(), data.begin(), data.end());
    unsigned sum = 0;
    std::string text = "S" + std::to_string(type);
    for (std::uint8_t byte : record) {
        sum += byte;
        text += Hex2(byte);
    }
    return text + Hex2(~sum) + "\n";
}

struct GoodRow {
    const char* name;
    std::string file;
    std::string tokens;  // the token file it must read as
};

struct BadRow {
    const char* name;
    std::string file;
    ImageFormatErrorKind kind;
    std::uint64_t place;  // line, or byte offset for the binary formats
    const char* says;
};

void CheckGood(const GoodRow& row) {
    SCOPED_TRACE(row.name);
    ProgrammingPlan plan = Plan(row.file);
    ASSERT_FALSE(plan.error) << DescribeImageFormatError(*plan.error);
    EXPECT_TRUE(plan.endsWithEndOfData);
    ExpectSameBlocks(plan.blocks, TokenBlocks(row.tokens));
}

void CheckBad(const BadRow& row, ImageErrorPlace place, ImageReadOptions options = {}) {
    SCOPED_TRACE(row.name);
    ProgrammingPlan plan = Plan(row.file, options);
    ASSERT_TRUE(plan.error);
    EXPECT_EQ(plan.error->kind, row.kind) << DescribeImageFormatError(*plan.error);
    EXPECT_TRUE(plan.blocks.empty());
    const std::string text = DescribeImageFormatError(*plan.error);
    const std::string where = place == ImageErrorPlace::Line
                                  ? "line " + std::to_string(row.place) + ": "
                                  : "offset " + std::to_string(row.place) + " ";
    EXPECT_EQ(text.rfind(where, 0), 0u) << text;
    EXPECT_NE(text.find(row.says), std::string::npos) << text;
}

TEST(IntelHex, GoodFilesReadAsTheTokenFileOfTheirBytes) {
    const GoodRow rows[] = {
        {"data then end", Ihex(0, 0x4000, {1, 2, 3, 4}) + kIhexEnd, "00004000 01 02 03 04"},
        {"extended linear address", Ihex(4, 0, {0x00, 0x01}) + Ihex(0, 0x0100, {0xAA}) + kIhexEnd,
         "00010100 AA"},
        {"extended segment address",
         Ihex(2, 0, {0x10, 0x00}) + Ihex(0, 0x0010, {0xBB, 0xCC}) + kIhexEnd, "00010010 BB CC"},
        {"start addresses are not programmed",
         Ihex(3, 0, {0, 0, 0x40, 0}) + Ihex(0, 0x4000, {7}) + Ihex(5, 0, {0, 0, 0x40, 1}) +
             kIhexEnd,
         "00004000 07"},
        {"records out of order", Ihex(0, 0x4002, {3, 4}) + Ihex(0, 0x4000, {1, 2}) + kIhexEnd,
         "00004000 01 02 03 04"},
        {"a gap", Ihex(0, 0x4000, {1}) + Ihex(0, 0x5000, {2}) + kIhexEnd,
         "00004000 01 00005000 02"},
        {"CR LF, lower case, blank lines, indented",
         "\t:0340000001aBcD44\r\n\r\n :00000001ff\r\n\r\n", "00004000 01 AB CD"},
        {"no data is refused by the token reader only for being empty",
         Ihex(0, 0x4000, {9}) + Ihex(0, 0x4001, {}) + kIhexEnd, "00004000 09"},
    };
    for (const GoodRow& row : rows) CheckGood(row);
}

TEST(IntelHex, BadRecordsAreRefusedWithTheirLine) {
    const std::string data = Ihex(0, 0x4000, {1, 2, 3, 4});  // :0440000001020304B2
    const BadRow rows[] = {
        {"checksum", data + ":0440000001020304B3\n" + kIhexEnd,
         ImageFormatErrorKind::RecordChecksum, 2, "checksum B3, the record's bytes need B2"},
        {"byte count", ":04400000010203B5\n" + kIhexEnd, ImageFormatErrorKind::RecordCount, 1,
         "says 4 data bytes but holds 3"},
        {"short record", ":0000\n", ImageFormatErrorKind::RecordCount, 1, "shorter"},
        {"record type", data + Ihex(6, 0, {}) + kIhexEnd, ImageFormatErrorKind::RecordType, 2,
         "record type 06"},
        {"address record length", Ihex(4, 0, {0, 1, 2}) + kIhexEnd,
         ImageFormatErrorKind::RecordCount, 1, "holds 2 data bytes, not 3"},
        {"odd digit count", data + ":0440000001020304B\n" + kIhexEnd,
         ImageFormatErrorKind::OddDigitCount, 2, "odd number"},
        {"not a digit", data + data + ":04400000010G0304B2\n",
         ImageFormatErrorKind::RecordMalformed, 3, "'G' is not a hexadecimal digit"},
        {"no colon", data + "0440000001020304B2\n", ImageFormatErrorKind::RecordMalformed, 2,
         "starts with ':'"},
        {"overlapping data", data + Ihex(0, 0x4010, {1}) + Ihex(0, 0x4003, {9}) + kIhexEnd,
         ImageFormatErrorKind::DataOverlaps, 3,
         "00004003..00004003 overlaps the data given from line 1"},
        {"above 32 bits", Ihex(4, 0, {0xFF, 0xFF}) + Ihex(0, 0xFFFE, {1, 2, 3}) + kIhexEnd,
         ImageFormatErrorKind::AddressBeyond32Bits, 2, "beyond address FFFFFFFF"},
        {"below the first address", Ihex(0, 0x0080, {1}) + kIhexEnd,
         ImageFormatErrorKind::AddressTooLow, 1, "below 00000100"},
        {"missing end", data + Ihex(0, 0x4004, {5}), ImageFormatErrorKind::EndRecordMissing, 3,
         "without an end-of-file record"},
        {"data after the end", data + kIhexEnd + "\n" + data, ImageFormatErrorKind::DataAfterEnd, 4,
         "after the end-of-file record"},
    };
    for (const BadRow& row : rows) CheckBad(row, ImageErrorPlace::Line);
}

TEST(SRecords, GoodFilesReadAsTheTokenFileOfTheirBytes) {
    const std::string header = Srec(0, 0, {'f', 'w'});
    const GoodRow rows[] = {
        {"S1 and S9", header + Srec(1, 0x4000, {1, 2}) + Srec(9, 0x4000, {}), "00004000 01 02"},
        {"S2 and S8", Srec(2, 0x012345, {3}) + Srec(8, 0, {}), "00012345 03"},
        {"S3 and S7", Srec(3, 0x08001000, {4, 5}) + Srec(7, 0x08001000, {}), "08001000 04 05"},
        {"S5 counts the data records",
         Srec(1, 0x4000, {1}) + Srec(1, 0x4001, {2}) + Srec(5, 2, {}) + Srec(9, 0, {}),
         "00004000 01 02"},
        {"S6 counts them too", Srec(3, 0x4000, {1}) + Srec(6, 1, {}) + Srec(7, 0, {}),
         "00004000 01"},
        {"out of order, with a gap, CR LF",
         Srec(1, 0x5000, {2}) + "\r\n" + Srec(1, 0x4000, {1}) + Srec(9, 0, {}),
         "00004000 01 00005000 02"},
    };
    for (const GoodRow& row : rows) CheckGood(row);
}

TEST(SRecords, BadRecordsAreRefusedWithTheirLine) {
    const std::string data = Srec(1, 0x4000, {1, 2});  // S10540000102B7
    const std::string end = Srec(9, 0, {});
    const BadRow rows[] = {
        {"checksum", data + "S10540000102B8\n" + end, ImageFormatErrorKind::RecordChecksum, 2,
         "checksum B8, the record's bytes need B7"},
        {"byte count", "S10640000102FF\n" + end, ImageFormatErrorKind::RecordCount, 1,
         "a count of 6 but 5 bytes"},
        {"count shorter than the address", "S30340FF\n" + end, ImageFormatErrorKind::RecordCount, 1,
         "at least 5 for S3"},
        {"record type", data + "S4054000010237\n" + end, ImageFormatErrorKind::RecordType, 2, "S4"},
        {"odd digit count", data + data + "S105400001023\n" + end,
         ImageFormatErrorKind::OddDigitCount, 3, "odd number"},
        {"not a record", data + "X1054000010237\n", ImageFormatErrorKind::RecordMalformed, 2,
         "starts with 'S' and a digit"},
        {"overlapping data", data + Srec(1, 0x4001, {9}) + end, ImageFormatErrorKind::DataOverlaps,
         2, "00004001..00004001 overlaps the data given from line 1"},
        {"above 32 bits", Srec(3, 0xFFFFFFFE, {1, 2, 3}) + Srec(7, 0, {}),
         ImageFormatErrorKind::AddressBeyond32Bits, 1, "beyond address FFFFFFFF"},
        {"wrong S5 count",
         data + data.substr(0, 2) + Srec(1, 0x4002, {3}).substr(2) + Srec(5, 3, {}) + end,
         ImageFormatErrorKind::RecordCount, 3, "says 3 data records, the file has 2"},
        {"missing end", Srec(0, 0, {'x'}) + data, ImageFormatErrorKind::EndRecordMissing, 3,
         "without an end record"},
        {"data after the end", data + end + data, ImageFormatErrorKind::DataAfterEnd, 3,
         "after the end record"},
    };
    for (const BadRow& row : rows) CheckBad(row, ImageErrorPlace::Line);
}

// A little-endian ELF file: header, program headers at 64 (or 52), then the
// payload at kPayload.
struct ProgramHeader {
    std::uint32_t type = 1;  // PT_LOAD
    std::uint64_t offset = 0, virtualAddress = 0, physicalAddress = 0, fileSize = 0, memorySize = 0;
};
constexpr std::size_t kPayload = 0x200;

void Put(std::string& file, std::size_t at, std::uint64_t value, unsigned size) {
    for (unsigned i = 0; i < size; ++i) file[at + i] = static_cast<char>(value >> (8 * i));
}

std::string Elf(bool wide, const std::vector<ProgramHeader>& headers, const Bytes& payload) {
    std::string file(kPayload, '\0');
    std::memcpy(file.data(),
                "\x7F"
                "ELF",
                4);
    file[4] = wide ? 2 : 1;
    file[5] = 1;  // little-endian
    file[6] = 1;
    const std::size_t table = wide ? 64 : 52;
    const std::size_t entry = wide ? 56 : 32;
    Put(file, 16, 2, 2);  // ET_EXEC
    if (wide) {
        Put(file, 32, table, 8);
        Put(file, 54, entry, 2);
        Put(file, 56, headers.size(), 2);
    } else {
        Put(file, 28, table, 4);
        Put(file, 42, entry, 2);
        Put(file, 44, headers.size(), 2);
    }
    for (std::size_t i = 0; i < headers.size(); ++i) {
        const ProgramHeader& h = headers[i];
        const std::size_t at = table + i * entry;
        Put(file, at, h.type, 4);
        if (wide) {
            Put(file, at + 8, h.offset, 8);
            Put(file, at + 16, h.virtualAddress, 8);
            Put(file, at + 24, h.physicalAddress, 8);
            Put(file, at + 32, h.fileSize, 8);
            Put(file, at + 40, h.memorySize, 8);
        } else {
            Put(file, at + 4, h.offset, 4);
            Put(file, at + 8, h.virtualAddress, 4);
            Put(file, at + 12, h.physicalAddress, 4);
            Put(file, at + 16, h.fileSize, 4);
            Put(file, at + 20, h.memorySize, 4);
        }
    }
    file.append(payload.begin(), payload.end());
    return file;
}

// .text at 4000; .data run from RAM at 20000000 but loaded at 4100, with a
// .bss behind it; a note that is no PT_LOAD.
std::vector<ProgramHeader> FirmwareHeaders() {
    return {{1, kPayload, 0x4000, 0x4000, 3, 3},
            {4, kPayload, 0, 0, 3, 3},
            {1, kPayload + 3, 0x20000000, 0x4100, 2, 0x40},
            {1, kPayload, 0x20000040, 0x20000040, 0, 0x100}};
}

TEST(Elf, SegmentsGoToTheirPhysicalAddressWithoutTheirBss) {
    const Bytes payload = {0x11, 0x22, 0x33, 0x44, 0x55};
    for (bool wide : {false, true}) {
        const GoodRow row{wide ? "64-bit" : "32-bit", Elf(wide, FirmwareHeaders(), payload),
                          "00004000 11 22 33 00004100 44 55"};
        CheckGood(row);
    }
}

TEST(Elf, BadFilesAreRefusedWithTheirOffset) {
    const Bytes payload = {1, 2, 3, 4, 5};
    std::string bigEndian = Elf(false, FirmwareHeaders(), payload);
    bigEndian[5] = 2;
    std::string tableCut = Elf(true, FirmwareHeaders(), payload);
    Put(tableCut, 32, 0x10000, 8);  // the table lies past the end
    const std::vector<ProgramHeader> pastEnd = {{1, kPayload, 0x4000, 0x4000, 9, 9}};
    const std::vector<ProgramHeader> overlapping = {{1, kPayload, 0x4000, 0x4000, 4, 4},
                                                    {1, kPayload, 0x5000, 0x5000, 1, 1},
                                                    {1, kPayload + 1, 0x4003, 0x4003, 2, 2}};
    const std::vector<ProgramHeader> beyond = {{1, kPayload, 0xFFFFFFFE, 0xFFFFFFFE, 3, 3}};
    const std::vector<ProgramHeader> wideAddress = {{1, kPayload, 0, 0x100000000ull, 1, 1}};
    const BadRow rows[] = {
        {"cut in its identification", Elf(false, {}, {}).substr(0, 10),
         ImageFormatErrorKind::Truncated, 0, "ends at 10 bytes"},
        {"cut in its header", Elf(true, {}, {}).substr(0, 40), ImageFormatErrorKind::Truncated, 16,
         "inside the ELF header (64 bytes)"},
        {"program header table past the end", tableCut, ImageFormatErrorKind::Truncated, 65536,
         "program header table"},
        {"segment past the end", Elf(false, pastEnd, payload), ImageFormatErrorKind::Truncated, 52,
         "the segment of program header 0"},
        {"big-endian", bigEndian, ImageFormatErrorKind::Unsupported, 5, "big-endian"},
        {"overlapping segments", Elf(false, overlapping, payload),
         ImageFormatErrorKind::DataOverlaps, 116, "overlaps the data given from offset 52"},
        {"above 32 bits", Elf(false, beyond, payload), ImageFormatErrorKind::AddressBeyond32Bits,
         52, "beyond address FFFFFFFF"},
        {"a 64-bit physical address", Elf(true, wideAddress, payload),
         ImageFormatErrorKind::AddressBeyond32Bits, 64, "loads at 100000000"},
    };
    for (const BadRow& row : rows) CheckBad(row, ImageErrorPlace::Offset);
}

TEST(RawBinary, TheFileGoesToItsBase) {
    ImageReadOptions options{ImageFormat::Binary, 0x4000};
    ProgrammingPlan plan = Plan(std::string("\x01\x02:S1", 5), options);
    ASSERT_FALSE(plan.error);
    ExpectSameBlocks(plan.blocks, TokenBlocks("00004000 01 02 3A 53 31"));

    const BadRow noBase{"no base", "\x01", ImageFormatErrorKind::RecordMalformed, 0, "--base"};
    ProgrammingPlan refused = Plan(noBase.file, {ImageFormat::Binary, std::nullopt});
    ASSERT_TRUE(refused.error);
    EXPECT_NE(DescribeImageFormatError(*refused.error).find("needs --base"), std::string::npos);
    CheckBad({"past FFFFFFFF", "\x01\x02", ImageFormatErrorKind::AddressBeyond32Bits, 0,
              "runs to 100000000"},
             ImageErrorPlace::Offset, {ImageFormat::Binary, 0xFFFFFFFF});
}

TEST(ImageFormats, TheContentTellsTheFormat) {
    const struct {
        std::string start;
        ImageFormat format;
    } rows[] = {
        {":00000001FF", ImageFormat::IntelHex},
        {"\r\n  :10", ImageFormat::IntelHex},
        {"S00600004844521B", ImageFormat::SRecord},
        {"S9", ImageFormat::SRecord},
        {"\x7F"
         "ELF\x01",
         ImageFormat::Elf},
        {"00004000 01", ImageFormat::Token},
        {"SX", ImageFormat::Token},
        {"", ImageFormat::Token},
        {"\x7F"
         "EL",
         ImageFormat::Token},
    };
    for (const auto& row : rows) EXPECT_EQ(DetectImageFormat(row.start), row.format) << row.start;
    // Forced, the content is not asked: an Intel HEX file read as tokens
    // fails where the token reader fails.
    ProgrammingPlan plan = Plan(kIhexEnd, {ImageFormat::Token, std::nullopt});
    ASSERT_TRUE(plan.error);
    EXPECT_EQ(plan.error->kind, ImageFormatErrorKind::NotHexadecimal);
}

// Random images through the writers and back: Intel HEX and S-records must
// give the blocks their token text gives.
TEST(ImageFormats, RandomImagesSurviveARoundTrip) {
    std::mt19937 random(34);
    for (int round = 0; round < 40; ++round) {
        std::vector<ImageSegment> segments;
        std::uint64_t address = 0x100 + random() % 0x20000;
        if (round % 4 == 0) address = 0xFFFF0000u - random() % 0x30000;  // across 64 KB
        const int count = 1 + static_cast<int>(random() % 5);
        for (int s = 0; s < count && address < 0xFFFFF000u; ++s) {
            ImageSegment segment;
            segment.address = static_cast<std::uint32_t>(address);
            const std::size_t length = 1 + random() % 700;
            for (std::size_t i = 0; i < length; ++i) {
                segment.bytes.push_back(static_cast<std::uint8_t>(random()));
            }
            address += length + 1 + random() % 0x11000;
            segments.push_back(std::move(segment));
        }
        const std::string text = FormatImageText(segments);
        const std::vector<FlashBlock> want = TokenBlocks(text);
        // Segments read as tokens stand where reading their text would.
        ImageFile fromText, fromSegments;
        fromText.OpenBytes(text);
        fromSegments.OpenSegments(std::make_shared<const std::vector<ImageSegment>>(segments));
        EXPECT_EQ(fromSegments.Size(), fromText.Size());
        ImageToken a, b;
        TokenStatus status;
        do {
            status = fromText.NextToken(a);
            ASSERT_EQ(fromSegments.NextToken(b), status);
            ASSERT_EQ(fromSegments.Position(), fromText.Position());
            if (status == TokenStatus::Token) {
                ASSERT_EQ(b.value, a.value);
            }
        } while (status == TokenStatus::Token);
        const std::string tokenText = FormatImageText(segments, round % 2 == 1);
        ExpectSameBlocks(Plan(WriteIntelHex(segments)).blocks, want);
        ExpectSameBlocks(Plan(WriteSRecords(segments)).blocks, want);
        // and from the token file's blocks, as convert --to reads them
        ExpectSameBlocks(Plan(WriteIntelHex(SegmentsOfBlocks(TokenBlocks(tokenText)))).blocks,
                         want);
    }
}

}  // namespace
}  // namespace farsend::protocol
