// Command and response packets of the target's bootloader.
//
// The host sends 4-byte commands; the bootloader answers with 4-byte status or
// acknowledgement packets, or with 28-byte text replies to the two queries.
// Every packet ends with an XOR check byte. In memory a packet is an array of
// 32-bit elements, one per byte (only the low 8 bits of an element go on the
// wire), so that a receive array that stayed zero classifies as Invalid.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace farsend::protocol {

constexpr std::size_t kCommandPacketLength = 4;
constexpr std::size_t kShortResponseLength = 4;
constexpr std::size_t kLongResponseLength = 28;
// Text bytes 3..26 of a long reply.
constexpr std::size_t kReplyTextLength = 24;

constexpr std::uint32_t kCommandLeadByte = 0x9C;
constexpr std::uint32_t kResponseLeadByte = 0x8C;

// In the stored order of the command table.
enum class Command {
    Ack,
    StartApplication,
    EraseDefault,
    EraseAll,
    ProgramApplication,
    EndOfData,
    BlockFollows,
    ProgramBootloaderAndApplication,
    Abort,
    QueryVariant,
    QueryVersion,
};
constexpr std::size_t kCommandCount = 11;

enum class ResponseCode : int {
    Invalid = 0,
    TargetCall = 1,
    EraseDefaultAck = 2,
    EraseAllAck = 3,
    ProgramApplicationAck = 4,
    ProgramBootloaderAndApplicationAck = 5,
    StartApplicationAck = 6,
    TargetAck = 7,
    AbortAck = 8,
    StatusE0 = 9,
    Done = 10,
    BlockErased = 11,
    VariantReply = 12,
    VersionReply = 13,
};
constexpr int kLastResponseCode = 13;

using CommandPacket = std::array<std::uint32_t, kCommandPacketLength>;

// A receive array: each received byte zero-extended into one element.
template <std::size_t N>
using ResponsePacket = std::array<std::uint32_t, N>;
using ShortResponsePacket = ResponsePacket<kShortResponseLength>;
using LongResponsePacket = ResponsePacket<kLongResponseLength>;

// The stored packet of one command, check byte included.
const CommandPacket& GetCommandPacket(Command command);
// The command whose stored packet equals these four bytes, if any (what a
// bootloader makes of a packet it received).
std::optional<Command> FindCommand(const std::uint8_t* bytes, std::size_t n);

// Element n-1 equals the XOR of elements 0..n-2. False for n == 0.
bool ResponseCheckMatches(const std::uint32_t* elements, std::size_t n);

// n is 4 for a short receive and 28 for a long one. Anything unlisted,
// truncated or with a wrong check is Invalid; a wrong check never falls
// through to another code.
ResponseCode ClassifyResponse(const std::uint32_t* elements, std::size_t n);

template <std::size_t N>
ResponseCode ClassifyResponse(const ResponsePacket<N>& packet) {
    return ClassifyResponse(packet.data(), N);
}

// The text of a long reply: the low bytes of elements 3..26 up to the first
// zero byte. Empty when n is shorter than a long reply.
std::string ReplyText(const std::uint32_t* elements, std::size_t n);
// The text of a reply that is a `code` reply (VariantReply, VersionReply);
// empty for any other answer, or none.
std::string ReplyTextOf(const LongResponsePacket& reply, ResponseCode code);

// The bytes a bootloader sends for a short answer (codes 1..11); nullopt for
// Invalid and the two long replies.
std::optional<std::array<std::uint8_t, kShortResponseLength>> EncodeShortResponse(
    ResponseCode code);
// The bytes of a long reply (VariantReply or VersionReply) carrying `text`,
// cut to 24 bytes and zero-padded; nullopt for every other code.
std::optional<std::array<std::uint8_t, kLongResponseLength>> EncodeLongResponse(
    ResponseCode code, std::string_view text);

}  // namespace farsend::protocol
