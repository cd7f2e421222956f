// The bootloader's side of the packet table: what the simulated target
// recognises and what it sends back. Kept here rather than borrowed from the
// host's protocol code, so that a mistake there cannot hide behind the same
// mistake in the simulator.
#pragma once

#include <array>
#include <cstdint>

namespace farsend::sim::packets {

constexpr uint8_t kCommandLead = 0x9C;
constexpr uint8_t kCommandFixed = 0xFD;
constexpr uint8_t kResponseLead = 0x8C;
constexpr uint8_t kAckMarker = 0xAC;
constexpr uint8_t kStatusMarker = 0xFD;

// Command codes (byte 1 of a command).
constexpr uint8_t kAck = 0xCA;
constexpr uint8_t kStartApplication = 0xBB;
constexpr uint8_t kEraseDefault = 0xED;
constexpr uint8_t kEraseAll = 0xEA;
constexpr uint8_t kProgramApplication = 0xFF;
constexpr uint8_t kEndOfData = 0xEF;
constexpr uint8_t kBlockFollows = 0x11;
constexpr uint8_t kProgramBootloaderAndApplication = 0xFB;
constexpr uint8_t kAbort = 0x53;
constexpr uint8_t kQueryVariant = 0x55;
constexpr uint8_t kQueryVersion = 0x5A;

constexpr std::array<uint8_t, 11> kCommandCodes = {kAck,
                                                   kStartApplication,
                                                   kEraseDefault,
                                                   kEraseAll,
                                                   kProgramApplication,
                                                   kEndOfData,
                                                   kBlockFollows,
                                                   kProgramBootloaderAndApplication,
                                                   kAbort,
                                                   kQueryVariant,
                                                   kQueryVersion};

// Status bytes (byte 2 of a status packet, whose byte 1 is 0xFD).
constexpr uint8_t kStatusCall = 0xCA;
constexpr uint8_t kStatusE0 = 0xE0;
constexpr uint8_t kStatusDone = 0xC0;
constexpr uint8_t kStatusBlockErased = 0xEB;

using Packet = std::array<uint8_t, 4>;

constexpr Packet Acknowledgement(uint8_t command) {
    return {kResponseLead, command, kAckMarker,
            static_cast<uint8_t>(kResponseLead ^ command ^ kAckMarker)};
}
constexpr Packet Status(uint8_t status) {
    return {kResponseLead, kStatusMarker, status,
            static_cast<uint8_t>(kResponseLead ^ kStatusMarker ^ status)};
}

constexpr size_t kReplyLength = 28;
constexpr size_t kReplyTextLength = 24;

// The 268-byte block that follows BlockFollows: u32 base address, u32 check,
// 256 data bytes, u32 count, all little-endian.
constexpr size_t kBlockLength = 268;
constexpr size_t kBlockDataLength = 256;
constexpr size_t kBlockDataOffset = 8;
constexpr size_t kBlockCountOffset = 264;

}  // namespace farsend::sim::packets
