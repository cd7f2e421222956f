// A per-unit serial number written into the image in memory, just before the
// image goes out: the blocks that hold the serial's bytes get them, and their
// checks are computed afresh. Nothing else of the image changes, and a serial
// that cannot be written whole is refused before anything is sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/flash_block.h"

namespace farsend::protocol {

enum class SerialFormat {
    LittleEndian,  // "le": binary, least significant byte first
    BigEndian,     // "be": binary, most significant byte first
    Decimal,       // "dec": ASCII digits, zero-padded to the size
};

constexpr std::uint32_t kMaxBinarySerialSize = 8;
constexpr std::uint32_t kMaxDecimalSerialSize = 20;

struct SerialSpec {
    std::uint32_t address = 0;  // target address of the serial's first byte
    std::uint32_t size = 0;     // bytes: 1..8 binary, 1..20 decimal
    SerialFormat format = SerialFormat::LittleEndian;
};

// "le", "be", "dec".
const char* SerialFormatName(SerialFormat format);

// The serial's placement written back in the form ParseSerialSpec takes, address in eight
// digits: "0x0003F000:4:le".
std::string SerialSpecText(const SerialSpec& spec);

struct SerialSpecResult {
    SerialSpec spec;
    std::string error;  // empty on success; otherwise says what is wrong
    bool ok() const { return error.empty(); }
};

// "ADDR:SIZE[:FORMAT]": ADDR hexadecimal (with or without 0x, at most
// FFFFFFFF), SIZE decimal, FORMAT le (the default), be or dec, in any case.
SerialSpecResult ParseSerialSpec(const std::string& text);

// A serial number as an operator or a script writes it: decimal digits only,
// 0 to 18446744073709551615. nullopt for anything else.
std::optional<std::uint64_t> ParseSerialNumber(const std::string& text);

enum class SerialRefusal {
    OutsideData,  // the range is not wholly inside the image's data
    DoesNotFit,   // the number needs more than the serial's size
};

struct SerialProblem {
    SerialRefusal refusal = SerialRefusal::OutsideData;
    std::string message;  // one or two sentences for an operator
};

// Whether every byte of the serial's range is a data byte of `blocks`. A range
// that runs on from one block into the next adjacent one is fine; one that
// crosses a gap between blocks, or runs past the data, is not.
std::optional<SerialProblem> CheckSerialRange(const SerialSpec& spec,
                                              const std::vector<FlashBlock>& blocks);

// Whether `number` can be written in the serial's size and format.
std::optional<SerialProblem> CheckSerialFits(const SerialSpec& spec, std::uint64_t number);

// The serial's bytes for `number`, spec.size of them; empty when the number
// does not fit (so that a caller can never stamp a truncated number).
std::vector<std::uint8_t> SerialBytes(const SerialSpec& spec, std::uint64_t number);

// Writes whichever of `bytes` (SerialBytes' result for `spec`) fall inside
// `block`, and computes its check afresh when any did. For a job that streams
// blocks one at a time, having checked the range on the whole image first.
// Returns how many bytes it wrote.
std::size_t StampSerialBlock(const SerialSpec& spec, const std::vector<std::uint8_t>& bytes,
                             FlashBlock& block);

struct SerialStampResult {
    // Set when refused; the blocks were then left untouched.
    std::optional<SerialProblem> problem;
    std::vector<std::uint8_t> bytes;         // what was written
    std::vector<std::size_t> touchedBlocks;  // indexes into the list, ascending
    bool ok() const { return !problem.has_value(); }
};

// Checks the number and the range, then stamps every block the range covers.
SerialStampResult StampSerial(const SerialSpec& spec, std::uint64_t number,
                              std::vector<FlashBlock>& blocks);

}  // namespace farsend::protocol
