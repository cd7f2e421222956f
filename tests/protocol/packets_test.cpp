#include "protocol/packets.h"

#include <gtest/gtest.h>

#include <vector>

namespace farsend::protocol {
namespace {

std::vector<std::uint32_t> Elements(std::initializer_list<std::uint32_t> bytes) {
    return bytes;
}

LongResponsePacket LongReply(std::uint32_t query, const std::string& text) {
    LongResponsePacket packet{};
    packet[0] = 0x8C;
    packet[1] = query;
    packet[2] = 0xAC;
    for (std::size_t i = 0; i < text.size() && i < kReplyTextLength; ++i) {
        packet[3 + i] = static_cast<std::uint8_t>(text[i]);
    }
    std::uint32_t check = 0;
    for (std::size_t i = 0; i < 27; ++i) check ^= packet[i];
    packet[27] = check;
    return packet;
}

struct CommandCase {
    Command command;
    CommandPacket bytes;
};

TEST(CommandTable, StoredPacketsAreTheWireBytesWithAValidCheck) {
    const CommandCase cases[] = {
        {Command::Ack, {0x9C, 0xCA, 0xFD, 0xAB}},
        {Command::StartApplication, {0x9C, 0xBB, 0xFD, 0xDA}},
        {Command::EraseDefault, {0x9C, 0xED, 0xFD, 0x8C}},
        {Command::EraseAll, {0x9C, 0xEA, 0xFD, 0x8B}},
        {Command::ProgramApplication, {0x9C, 0xFF, 0xFD, 0x9E}},
        {Command::EndOfData, {0x9C, 0xEF, 0xFD, 0x8E}},
        {Command::BlockFollows, {0x9C, 0x11, 0xFD, 0x70}},
        {Command::ProgramBootloaderAndApplication, {0x9C, 0xFB, 0xFD, 0x9A}},
        {Command::Abort, {0x9C, 0x53, 0xFD, 0x32}},
        {Command::QueryVariant, {0x9C, 0x55, 0xFD, 0x34}},
        {Command::QueryVersion, {0x9C, 0x5A, 0xFD, 0x3B}},
    };
    static_assert(sizeof cases / sizeof cases[0] == kCommandCount);
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.command));
        const CommandPacket& stored = GetCommandPacket(c.command);
        EXPECT_EQ(stored, c.bytes);
        EXPECT_EQ(stored[3], stored[0] ^ stored[1] ^ stored[2]);
        const std::uint8_t wire[4] = {
            static_cast<std::uint8_t>(stored[0]), static_cast<std::uint8_t>(stored[1]),
            static_cast<std::uint8_t>(stored[2]), static_cast<std::uint8_t>(stored[3])};
        EXPECT_EQ(FindCommand(wire, 4), c.command);
    }
}

TEST(CommandTable, FindCommandRejectsUnknownOrShortPackets) {
    const std::uint8_t corrupted[4] = {0x9C, 0xCA, 0xFD, 0xAA};
    const std::uint8_t unknown[4] = {0x9C, 0x12, 0xFD, 0x73};
    EXPECT_EQ(FindCommand(corrupted, 4), std::nullopt);
    EXPECT_EQ(FindCommand(unknown, 4), std::nullopt);
    EXPECT_EQ(FindCommand(corrupted, 3), std::nullopt);
    EXPECT_EQ(FindCommand(nullptr, 4), std::nullopt);
}

struct ClassifyCase {
    const char* name;
    std::vector<std::uint32_t> elements;
    ResponseCode expected;
};

TEST(ClassifyResponse, ShortPackets) {
    const ClassifyCase cases[] = {
        {"target call", Elements({0x8C, 0xFD, 0xCA, 0xBB}), ResponseCode::TargetCall},
        {"target call, wrong check", Elements({0x8C, 0xFD, 0xCA, 0xBA}), ResponseCode::Invalid},
        {"erase default ack", Elements({0x8C, 0xED, 0xAC, 0xCD}), ResponseCode::EraseDefaultAck},
        {"erase all ack", Elements({0x8C, 0xEA, 0xAC, 0xCA}), ResponseCode::EraseAllAck},
        {"program application ack", Elements({0x8C, 0xFF, 0xAC, 0xDF}),
         ResponseCode::ProgramApplicationAck},
        {"program bootloader ack", Elements({0x8C, 0xFB, 0xAC, 0xDB}),
         ResponseCode::ProgramBootloaderAndApplicationAck},
        {"start application ack", Elements({0x8C, 0xBB, 0xAC, 0x9B}),
         ResponseCode::StartApplicationAck},
        {"target ack", Elements({0x8C, 0xCA, 0xAC, 0xEA}), ResponseCode::TargetAck},
        {"abort ack", Elements({0x8C, 0x53, 0xAC, 0x73}), ResponseCode::AbortAck},
        {"status E0", Elements({0x8C, 0xFD, 0xE0, 0x91}), ResponseCode::StatusE0},
        {"done", Elements({0x8C, 0xFD, 0xC0, 0xB1}), ResponseCode::Done},
        {"block erased", Elements({0x8C, 0xFD, 0xEB, 0x9A}), ResponseCode::BlockErased},
        {"nothing received", Elements({0, 0, 0, 0}), ResponseCode::Invalid},
        {"command lead byte", Elements({0x9C, 0xFD, 0xCA, 0xAB}), ResponseCode::Invalid},
        {"unlisted pair", Elements({0x8C, 0xFD, 0x00, 0x71}), ResponseCode::Invalid},
        {"ack of an unknown command", Elements({0x8C, 0x12, 0xAC, 0x32}), ResponseCode::Invalid},
        {"variant pair in a short receive", Elements({0x8C, 0x55, 0xAC, 0x75}),
         ResponseCode::Invalid},
        {"version pair in a short receive", Elements({0x8C, 0x5A, 0xAC, 0x7A}),
         ResponseCode::Invalid},
        // The comparison is on whole elements, not on their low bytes.
        {"lead byte with high bits", Elements({0x18C, 0xFD, 0xC0, 0x1B1}), ResponseCode::Invalid},
    };
    for (const ClassifyCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ClassifyResponse(c.elements.data(), c.elements.size()), c.expected);
    }
}

TEST(ClassifyResponse, LongReplies) {
    const LongResponsePacket variant = LongReply(0x55, "Bluetooth");
    const LongResponsePacket version = LongReply(0x5A, "1.5.3");
    LongResponsePacket badCheck = variant;
    badCheck[27] ^= 0x01;
    LongResponsePacket fullText = LongReply(0x55, std::string(24, 'Z'));
    LongResponsePacket shortInLong{};
    shortInLong[0] = 0x8C;
    shortInLong[1] = 0xFD;
    shortInLong[2] = 0xC0;
    shortInLong[3] = 0xB1;  // a Done followed by nothing

    EXPECT_EQ(ClassifyResponse(variant), ResponseCode::VariantReply);
    EXPECT_EQ(ClassifyResponse(version), ResponseCode::VersionReply);
    EXPECT_EQ(ClassifyResponse(badCheck), ResponseCode::Invalid);
    EXPECT_EQ(ClassifyResponse(fullText), ResponseCode::VariantReply);
    EXPECT_EQ(ClassifyResponse(LongResponsePacket{}), ResponseCode::Invalid);
    // A short status packet is classified from its first four elements.
    EXPECT_EQ(ClassifyResponse(shortInLong), ResponseCode::Done);
    // A long reply in a 4-element receive cannot be a reply.
    EXPECT_EQ(ClassifyResponse(variant.data(), 4), ResponseCode::Invalid);
    // Neither can one that was cut short.
    EXPECT_EQ(ClassifyResponse(variant.data(), 27), ResponseCode::Invalid);
}

TEST(ClassifyResponse, DegenerateArrays) {
    const std::uint32_t done[4] = {0x8C, 0xFD, 0xC0, 0xB1};
    EXPECT_EQ(ClassifyResponse(nullptr, 4), ResponseCode::Invalid);
    EXPECT_EQ(ClassifyResponse(done, 3), ResponseCode::Invalid);
    EXPECT_EQ(ClassifyResponse(done, 0), ResponseCode::Invalid);
}

// Every single-byte corruption of a valid answer breaks its check, and must
// yield Invalid, never a different code.
TEST(ClassifyResponse, AnySingleByteCorruptionIsInvalid) {
    for (int code = 1; code <= 11; ++code) {
        const auto bytes = EncodeShortResponse(static_cast<ResponseCode>(code));
        ASSERT_TRUE(bytes.has_value());
        for (std::size_t position = 0; position < 4; ++position) {
            for (std::uint32_t value = 0; value < 256; ++value) {
                ShortResponsePacket packet = {(*bytes)[0], (*bytes)[1], (*bytes)[2], (*bytes)[3]};
                if (packet[position] == value) continue;
                packet[position] = value;
                ASSERT_EQ(ClassifyResponse(packet), ResponseCode::Invalid)
                    << "code " << code << " byte " << position << " = " << value;
            }
        }
    }
}

TEST(ResponseCheckMatches, XorOfAllButTheLastElement) {
    const std::uint32_t good[4] = {0x8C, 0xFD, 0xCA, 0xBB};
    const std::uint32_t bad[4] = {0x8C, 0xFD, 0xCA, 0xBA};
    const std::uint32_t zeros[28] = {};
    const LongResponsePacket reply = LongReply(0x5A, "2.0.1");
    EXPECT_TRUE(ResponseCheckMatches(good, 4));
    EXPECT_FALSE(ResponseCheckMatches(bad, 4));
    EXPECT_TRUE(ResponseCheckMatches(zeros, 28));
    EXPECT_TRUE(ResponseCheckMatches(reply.data(), 28));
    EXPECT_FALSE(ResponseCheckMatches(good, 0));
}

TEST(Encoders, EveryCodeRoundTripsThroughTheClassifier) {
    for (int value = 1; value <= kLastResponseCode; ++value) {
        const auto code = static_cast<ResponseCode>(value);
        SCOPED_TRACE(value);
        if (const auto bytes = EncodeShortResponse(code)) {
            ShortResponsePacket packet = {(*bytes)[0], (*bytes)[1], (*bytes)[2], (*bytes)[3]};
            EXPECT_EQ(ClassifyResponse(packet), code);
            EXPECT_EQ(EncodeLongResponse(code, "x"), std::nullopt);
        } else {
            const auto longBytes = EncodeLongResponse(code, "ZigBee 1.0");
            ASSERT_TRUE(longBytes.has_value());
            LongResponsePacket packet{};
            for (std::size_t i = 0; i < packet.size(); ++i) packet[i] = (*longBytes)[i];
            EXPECT_EQ(ClassifyResponse(packet), code);
            EXPECT_EQ(ReplyText(packet.data(), packet.size()), "ZigBee 1.0");
        }
    }
    EXPECT_EQ(EncodeShortResponse(ResponseCode::Invalid), std::nullopt);
    EXPECT_EQ(EncodeLongResponse(ResponseCode::Invalid, ""), std::nullopt);
}

TEST(ReplyText, EndsAtTheFirstZeroOrAfter24Bytes) {
    const LongResponsePacket full = LongReply(0x55, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    LongResponsePacket withHighBits = LongReply(0x5A, "1.5");
    withHighBits[3] |= 0x100;  // only the low byte of an element counts
    EXPECT_EQ(ReplyText(full.data(), 28), "ABCDEFGHIJKLMNOPQRSTUVWX");
    EXPECT_EQ(ReplyText(withHighBits.data(), 28), "1.5");
    EXPECT_EQ(ReplyText(LongResponsePacket{}.data(), 28), "");
    EXPECT_EQ(ReplyText(full.data(), 4), "");
}

}  // namespace
}  // namespace farsend::protocol
