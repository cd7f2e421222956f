#include "protocol/flash_block.h"

#include <gtest/gtest.h>

namespace farsend::protocol {
namespace {

FlashBlock MakeBlock(std::uint32_t base, std::initializer_list<std::uint8_t> bytes) {
    FlashBlock block;
    block.baseAddress = base;
    for (std::uint8_t byte : bytes) block.data[block.count++] = byte;
    block.check = ComputeBlockCheck(block);
    return block;
}

TEST(FlashBlock, WireFormIsLittleEndianAtFixedOffsets) {
    FlashBlock block = MakeBlock(0x12345678, {0xAA, 0xBB});
    block.data[255] = 0;  // stays zero past count
    const FlashBlockBytes bytes = SerializeFlashBlock(block);

    ASSERT_EQ(bytes.size(), 268u);
    const std::uint8_t base[4] = {0x78, 0x56, 0x34, 0x12};
    // check = 0x12345678 ^ 0xAA ^ 0xBB = 0x12345669
    const std::uint8_t check[4] = {0x69, 0x56, 0x34, 0x12};
    const std::uint8_t count[4] = {0x02, 0x00, 0x00, 0x00};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(bytes[i], base[i]) << i;
        EXPECT_EQ(bytes[4 + i], check[i]) << i;
        EXPECT_EQ(bytes[264 + i], count[i]) << i;
    }
    EXPECT_EQ(bytes[8], 0xAA);
    EXPECT_EQ(bytes[9], 0xBB);
    for (std::size_t i = 10; i < 264; ++i) ASSERT_EQ(bytes[i], 0) << i;
}

TEST(FlashBlock, FullBlockCountIsWrittenAs256) {
    FlashBlock block;
    block.baseAddress = 0x4000;
    for (std::size_t i = 0; i < kFlashBlockDataSize; ++i) {
        block.data[i] = static_cast<std::uint8_t>(i);
    }
    block.count = 256;
    block.check = ComputeBlockCheck(block);
    const FlashBlockBytes bytes = SerializeFlashBlock(block);
    EXPECT_EQ(bytes[264], 0x00);
    EXPECT_EQ(bytes[265], 0x01);
    EXPECT_EQ(bytes[8 + 255], 0xFF);

    const FlashBlock back = DeserializeFlashBlock(bytes);
    EXPECT_EQ(back.baseAddress, block.baseAddress);
    EXPECT_EQ(back.check, block.check);
    EXPECT_EQ(back.count, block.count);
    EXPECT_EQ(back.data, block.data);
    EXPECT_TRUE(IsConsistent(back));
}

TEST(FlashBlock, CheckAndConsistency) {
    struct Case {
        const char* name;
        FlashBlock block;
        std::uint32_t expectedCheck;
        bool consistent;
    };
    FlashBlock strayByte = MakeBlock(0x4000, {0x01});
    strayByte.data[5] = 0x77;
    FlashBlock wrongCheck = MakeBlock(0x4000, {0x01, 0x02});
    wrongCheck.check ^= 0x100;
    FlashBlock tooMany = MakeBlock(0x4000, {});
    tooMany.count = 257;
    tooMany.check = ComputeBlockCheck(tooMany);

    const Case cases[] = {
        {"worked example", MakeBlock(0x4000, {0x01, 0x02, 0x04}), 0x4007, true},
        {"empty block checks as its base", MakeBlock(0x4100, {}), 0x4100, true},
        {"gap example", MakeBlock(0x4000, {0xAA, 0xBB}), 0x4011, true},
        {"single byte", MakeBlock(0x4010, {0xCC}), 0x40DC, true},
        {"byte past count", strayByte, 0x4001, false},
        {"check off in a high bit", wrongCheck, 0x4003, false},
        {"count beyond 256", tooMany, 0x4000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ComputeBlockCheck(c.block), c.expectedCheck);
        EXPECT_EQ(IsConsistent(c.block), c.consistent);
    }
}

}  // namespace
}  // namespace farsend::protocol
