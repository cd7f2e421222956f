// One block of a firmware image: up to 256 data bytes at consecutive target
// addresses. Its 268-byte wire form is what goes to the bootloader after
// BlockFollows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace farsend::protocol {

constexpr std::size_t kFlashBlockDataSize = 256;
constexpr std::size_t kFlashBlockWireSize = 268;

struct FlashBlock {
    // Target address of data byte 0.
    std::uint32_t baseAddress = 0;
    // baseAddress XOR the XOR of data bytes 0..count-1.
    std::uint32_t check = 0;
    // Bytes from count on are zero.
    std::array<std::uint8_t, kFlashBlockDataSize> data{};
    // Valid data bytes, 0..256.
    std::uint32_t count = 0;
};

using FlashBlockBytes = std::array<std::uint8_t, kFlashBlockWireSize>;

// The check a block with these base address and data must carry. Counts
// beyond 256 are taken as 256.
std::uint32_t ComputeBlockCheck(const FlashBlock& block);

// count is at most 256, check matches, and the unused data bytes are zero.
bool IsConsistent(const FlashBlock& block);

// The wire form: base address at 0, check at 4, data at 8, count at 264,
// each 32-bit field little-endian whatever the host's byte order.
FlashBlockBytes SerializeFlashBlock(const FlashBlock& block);
// The inverse, for a receiver; the fields are taken as they come (see
// IsConsistent).
FlashBlock DeserializeFlashBlock(const FlashBlockBytes& bytes);

}  // namespace farsend::protocol
