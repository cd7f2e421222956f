#include "protocol/packets.h"

#include <algorithm>

namespace farsend::protocol {

namespace {

// Stored whole, check byte included: what goes on the wire is exactly this.
constexpr std::array<CommandPacket, kCommandCount> kCommandTable = {{
    {0x9C, 0xCA, 0xFD, 0xAB},  // Ack
    {0x9C, 0xBB, 0xFD, 0xDA},  // StartApplication
    {0x9C, 0xED, 0xFD, 0x8C},  // EraseDefault
    {0x9C, 0xEA, 0xFD, 0x8B},  // EraseAll
    {0x9C, 0xFF, 0xFD, 0x9E},  // ProgramApplication
    {0x9C, 0xEF, 0xFD, 0x8E},  // EndOfData
    {0x9C, 0x11, 0xFD, 0x70},  // BlockFollows
    {0x9C, 0xFB, 0xFD, 0x9A},  // ProgramBootloaderAndApplication
    {0x9C, 0x53, 0xFD, 0x32},  // Abort
    {0x9C, 0x55, 0xFD, 0x34},  // QueryVariant
    {0x9C, 0x5A, 0xFD, 0x3B},  // QueryVersion
}};

struct ResponsePattern {
    std::uint32_t byte1;
    std::uint32_t byte2;
    ResponseCode code;
};

// Bytes 1 and 2 of every answer the bootloader gives; each pair names at most
// one code.
constexpr std::array<ResponsePattern, kLastResponseCode> kResponsePatterns = {{
    {0xFD, 0xCA, ResponseCode::TargetCall},
    {0xED, 0xAC, ResponseCode::EraseDefaultAck},
    {0xEA, 0xAC, ResponseCode::EraseAllAck},
    {0xFF, 0xAC, ResponseCode::ProgramApplicationAck},
    {0xFB, 0xAC, ResponseCode::ProgramBootloaderAndApplicationAck},
    {0xBB, 0xAC, ResponseCode::StartApplicationAck},
    {0xCA, 0xAC, ResponseCode::TargetAck},
    {0x53, 0xAC, ResponseCode::AbortAck},
    {0xFD, 0xE0, ResponseCode::StatusE0},
    {0xFD, 0xC0, ResponseCode::Done},
    {0xFD, 0xEB, ResponseCode::BlockErased},
    {0x55, 0xAC, ResponseCode::VariantReply},
    {0x5A, 0xAC, ResponseCode::VersionReply},
}};

bool IsLongReply(ResponseCode code) {
    return code == ResponseCode::VariantReply || code == ResponseCode::VersionReply;
}

const ResponsePattern* FindPattern(ResponseCode code) {
    for (const ResponsePattern& pattern : kResponsePatterns) {
        if (pattern.code == code) return &pattern;
    }
    return nullptr;
}

}  // namespace

const CommandPacket& GetCommandPacket(Command command) {
    return kCommandTable.at(static_cast<std::size_t>(command));
}

std::optional<Command> FindCommand(const std::uint8_t* bytes, std::size_t n) {
    if (bytes == nullptr || n != kCommandPacketLength) return std::nullopt;
    for (std::size_t i = 0; i < kCommandTable.size(); ++i) {
        if (std::equal(kCommandTable[i].begin(), kCommandTable[i].end(), bytes)) {
            return static_cast<Command>(i);
        }
    }
    return std::nullopt;
}

bool ResponseCheckMatches(const std::uint32_t* elements, std::size_t n) {
    if (elements == nullptr || n == 0) return false;
    std::uint32_t check = 0;
    for (std::size_t i = 0; i + 1 < n; ++i) check ^= elements[i];
    return elements[n - 1] == check;
}

ResponseCode ClassifyResponse(const std::uint32_t* elements, std::size_t n) {
    if (elements == nullptr || n < kShortResponseLength) return ResponseCode::Invalid;
    if (elements[0] != kResponseLeadByte) return ResponseCode::Invalid;
    for (const ResponsePattern& pattern : kResponsePatterns) {
        if (elements[1] != pattern.byte1 || elements[2] != pattern.byte2) continue;
        if (IsLongReply(pattern.code)) {
            // A query reply only counts when the whole 28 bytes were received.
            if (n != kLongResponseLength) return ResponseCode::Invalid;
            return ResponseCheckMatches(elements, kLongResponseLength) ? pattern.code
                                                                       : ResponseCode::Invalid;
        }
        return ResponseCheckMatches(elements, kShortResponseLength) ? pattern.code
                                                                    : ResponseCode::Invalid;
    }
    return ResponseCode::Invalid;
}

std::string ReplyText(const std::uint32_t* elements, std::size_t n) {
    std::string text;
    if (elements == nullptr || n < kLongResponseLength) return text;
    for (std::size_t i = 3; i < 3 + kReplyTextLength; ++i) {
        const char c = static_cast<char>(elements[i] & 0xFF);
        if (c == '\0') break;
        text.push_back(c);
    }
    return text;
}

std::optional<std::array<std::uint8_t, kShortResponseLength>> EncodeShortResponse(
    ResponseCode code) {
    const ResponsePattern* pattern = FindPattern(code);
    if (pattern == nullptr || IsLongReply(code)) return std::nullopt;
    std::array<std::uint8_t, kShortResponseLength> bytes = {
        static_cast<std::uint8_t>(kResponseLeadByte), static_cast<std::uint8_t>(pattern->byte1),
        static_cast<std::uint8_t>(pattern->byte2), 0};
    bytes[3] = static_cast<std::uint8_t>(bytes[0] ^ bytes[1] ^ bytes[2]);
    return bytes;
}

std::optional<std::array<std::uint8_t, kLongResponseLength>> EncodeLongResponse(
    ResponseCode code, std::string_view text) {
    const ResponsePattern* pattern = FindPattern(code);
    if (pattern == nullptr || !IsLongReply(code)) return std::nullopt;
    std::array<std::uint8_t, kLongResponseLength> bytes{};
    bytes[0] = static_cast<std::uint8_t>(kResponseLeadByte);
    bytes[1] = static_cast<std::uint8_t>(pattern->byte1);
    bytes[2] = static_cast<std::uint8_t>(pattern->byte2);
    const std::size_t length = std::min(text.size(), kReplyTextLength);
    for (std::size_t i = 0; i < length; ++i) bytes[3 + i] = static_cast<std::uint8_t>(text[i]);
    std::uint8_t check = 0;
    for (std::size_t i = 0; i + 1 < kLongResponseLength; ++i) check ^= bytes[i];
    bytes[kLongResponseLength - 1] = check;
    return bytes;
}

std::string ReplyTextOf(const LongResponsePacket& reply, ResponseCode code) {
    if (ClassifyResponse(reply) != code) return {};
    return ReplyText(reply.data(), reply.size());
}

}  // namespace farsend::protocol
