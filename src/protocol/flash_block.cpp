#include "protocol/flash_block.h"

#include <algorithm>

namespace farsend::protocol {

namespace {

constexpr std::size_t kBaseOffset = 0;
constexpr std::size_t kCheckOffset = 4;
constexpr std::size_t kDataOffset = 8;
constexpr std::size_t kCountOffset = kDataOffset + kFlashBlockDataSize;
static_assert(kCountOffset + 4 == kFlashBlockWireSize);

void PutLittleEndian(FlashBlockBytes& bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint32_t GetLittleEndian(const FlashBlockBytes& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(bytes[offset + i]) << (8 * i);
    }
    return value;
}

std::size_t UsedBytes(const FlashBlock& block) {
    return std::min<std::size_t>(block.count, kFlashBlockDataSize);
}

}  // namespace

std::uint32_t ComputeBlockCheck(const FlashBlock& block) {
    std::uint32_t check = block.baseAddress;
    for (std::size_t i = 0; i < UsedBytes(block); ++i) check ^= block.data[i];
    return check;
}

bool IsConsistent(const FlashBlock& block) {
    if (block.count > kFlashBlockDataSize) return false;
    if (block.check != ComputeBlockCheck(block)) return false;
    return std::all_of(block.data.begin() + block.count, block.data.end(),
                       [](std::uint8_t byte) { return byte == 0; });
}

FlashBlockBytes SerializeFlashBlock(const FlashBlock& block) {
    FlashBlockBytes bytes{};
    PutLittleEndian(bytes, kBaseOffset, block.baseAddress);
    PutLittleEndian(bytes, kCheckOffset, block.check);
    std::copy(block.data.begin(), block.data.end(), bytes.begin() + kDataOffset);
    PutLittleEndian(bytes, kCountOffset, block.count);
    return bytes;
}

FlashBlock DeserializeFlashBlock(const FlashBlockBytes& bytes) {
    FlashBlock block;
    block.baseAddress = GetLittleEndian(bytes, kBaseOffset);
    block.check = GetLittleEndian(bytes, kCheckOffset);
    std::copy(bytes.begin() + kDataOffset, bytes.begin() + kCountOffset, block.data.begin());
    block.count = GetLittleEndian(bytes, kCountOffset);
    return block;
}

}  // namespace farsend::protocol
