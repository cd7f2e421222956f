// The two receive primitives and the command and block writes, over the real
// link and reader thread, with a scripted far end in virtual time.
#include <gtest/gtest.h>

#include "protocol/exchange_context.h"
#include "protocol/exchanges_fixture.h"

namespace farsend::protocol {
namespace {

using namespace farsend::protocol::testing;

struct Arrival {
    Millis after;
    Bytes bytes;
};

struct ReceiveCase {
    std::string name;
    std::vector<Arrival> arrivals;
    int status;
    ShortResponsePacket packet;
    // Virtual time the receive took; negative: not checked.
    Millis took{-1};
};

ShortResponsePacket P(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return {a, b, c, d};
}

class DeadlineReceive : public ::testing::TestWithParam<ReceiveCase> {};

TEST_P(DeadlineReceive, TakesTheAnswerOrGivesUpAtThirteenSeconds) {
    const ReceiveCase& c = GetParam();
    ScriptedSession s;
    ASSERT_TRUE(s.Open());
    for (const Arrival& a : c.arrivals) s.EmitIn(a.after, a.bytes);
    ShortResponsePacket packet{};
    const Millis start = s.clock.Now();
    EXPECT_EQ(ExchangeResultCode(ReceiveWithDeadline(s.context, packet)), c.status);
    EXPECT_EQ(packet, c.packet);
    if (c.took.count() >= 0) {
        EXPECT_EQ(s.clock.Now() - start, c.took);
    }
}

const ReceiveCase kDeadlineCases[] = {
    {"AtOnce", {{Millis(0), kDoneBytes}}, 0, P(0x8C, 0xFD, 0xC0, 0xB1), Millis(0)},
    {"TakenTheMomentItArrives",
     {{Millis(4321), kDoneBytes}},
     0,
     P(0x8C, 0xFD, 0xC0, 0xB1),
     Millis(4321)},
    {"LastMillisecondOfTheWindow",
     {{Millis(12999), kDoneBytes}},
     0,
     P(0x8C, 0xFD, 0xC0, 0xB1),
     Millis(12999)},
    {"ThirteenSecondsIsTooLate", {{Millis(13000), kDoneBytes}}, 3, P(0, 0, 0, 0), Millis(13000)},
    {"Silence", {}, 3, P(0, 0, 0, 0), Millis(13000)},
    {"PartOfAPacket", {{Millis(5), {0x8C, 0xFD}}}, 3, P(0x8C, 0xFD, 0, 0), Millis(13000)},
    {"InPiecesWithinTheWindow",
     {{Millis(1000), {0x8C}}, {Millis(7000), {0xFD, 0xC0}}, {Millis(12000), {0xB1}}},
     0,
     P(0x8C, 0xFD, 0xC0, 0xB1),
     Millis(12000)},
    {"BytesBeforeTheLeadAreSkipped",
     {{Millis(3), {0x00, 0x9C, 0xFF, 0x8C, 0xFD, 0xC0, 0xB1}}},
     0,
     P(0x8C, 0xFD, 0xC0, 0xB1)},
    {"AfterTheLeadFurtherLeadBytesAreTaken",
     {{Millis(3), {0x01, 0x8C, 0x8C, 0xFD, 0xC0, 0xB1}}},
     0,
     P(0x8C, 0x8C, 0xFD, 0xC0)},
    // A dropped byte stays in element 0 until the next one: still Invalid.
    {"NoiseAloneIsNoAnswer", {{Millis(3), {0x01, 0x9C, 0xCA, 0xFD}}}, 3, P(0xFD, 0, 0, 0)},
};

INSTANTIATE_TEST_SUITE_P(Cases, DeadlineReceive, ::testing::ValuesIn(kDeadlineCases),
                         [](const auto& info) { return info.param.name; });

class RetriesReceive : public ::testing::TestWithParam<ReceiveCase> {};

TEST_P(RetriesReceive, ToleratesElevenEmptyPollsPerPacket) {
    const ReceiveCase& c = GetParam();
    ScriptedSession s;
    ASSERT_TRUE(s.Open());
    for (const Arrival& a : c.arrivals) s.EmitIn(a.after, a.bytes);
    ShortResponsePacket packet{};
    const Millis start = s.clock.Now();
    EXPECT_EQ(ExchangeResultCode(ReceiveWithRetries(s.context, packet)), c.status);
    EXPECT_EQ(packet, c.packet);
    if (c.took.count() >= 0) {
        EXPECT_EQ(s.clock.Now() - start, c.took);
    }
}

const ReceiveCase kRetriesCases[] = {
    {"AtOnce", {{Millis(0), kDoneBytes}}, 0, P(0x8C, 0xFD, 0xC0, 0xB1), Millis(0)},
    {"AfterElevenPauses", {{Millis(11), kDoneBytes}}, 0, P(0x8C, 0xFD, 0xC0, 0xB1), Millis(11)},
    {"AfterTwelveIsTooLate", {{Millis(12), kDoneBytes}}, 3, P(0, 0, 0, 0), Millis(11)},
    {"Silence", {}, 3, P(0, 0, 0, 0), Millis(11)},
    {"CountCoversTheWholePacket",
     {{Millis(5), {0x8C, 0xFD}}, {Millis(11), {0xC0, 0xB1}}},
     0,
     P(0x8C, 0xFD, 0xC0, 0xB1)},
    {"ReceivedBytesDoNotResetTheCount",
     {{Millis(6), {0x8C, 0xFD}}, {Millis(12), {0xC0, 0xB1}}},
     3,
     P(0x8C, 0xFD, 0, 0)},
    {"BytesBeforeTheLeadAreSkipped",
     {{Millis(0), {0x55, 0xAA, 0x8C, 0xFD, 0xC0, 0xB1}}},
     0,
     P(0x8C, 0xFD, 0xC0, 0xB1)},
};

INSTANTIATE_TEST_SUITE_P(Cases, RetriesReceive, ::testing::ValuesIn(kRetriesCases),
                         [](const auto& info) { return info.param.name; });

TEST(ReceiveOnAClosedLink, TimesOutWithoutAnyByte) {
    ScriptedSession s;
    ShortResponsePacket packet{};
    EXPECT_EQ(ReceiveWithRetries(s.context, packet), protocol::ExchangeResult::TimedOut);
    EXPECT_EQ(ReceiveWithDeadline(s.context, packet), protocol::ExchangeResult::TimedOut);
    EXPECT_EQ(packet, P(0, 0, 0, 0));
}

TEST(LongReceive, TakesAWholeQueryReply) {
    ScriptedSession s;
    ASSERT_TRUE(s.Open());
    const Bytes reply = LongAnswer(ResponseCode::VersionReply, "1.5.0");
    s.EmitIn(Millis(2), reply);
    LongResponsePacket packet{};
    EXPECT_EQ(ReceiveWithRetries(s.context, packet), protocol::ExchangeResult::Ok);
    EXPECT_EQ(ClassifyResponse(packet), ResponseCode::VersionReply);
    EXPECT_EQ(ReplyText(packet.data(), packet.size()), "1.5.0");
}

struct OpenCase {
    std::string name;
    bool unplug;
    bool refuseFeatures;
    bool failWrites;
    int status;
};

class OpenLinkResult : public ::testing::TestWithParam<OpenCase> {};

TEST_P(OpenLinkResult, MapsTheLinkCode) {
    const OpenCase& c = GetParam();
    ScriptedSession s;
    if (c.unplug) s.bridge->Unplug();
    s.bridge->SetRefuseFeatures(c.refuseFeatures);
    s.bridge->SetFailWrites(c.failWrites);
    EXPECT_EQ(ExchangeResultCode(OpenLink(s.context)), c.status);
    EXPECT_EQ(LinkIsOpen(s.link), c.status == 0);
    EXPECT_EQ(CloseLink(s.context), protocol::ExchangeResult::Ok);
    EXPECT_FALSE(LinkIsOpen(s.link));
    EXPECT_EQ(s.bridge->Stats().openHandles, 0u);
}

const OpenCase kOpenCases[] = {
    {"Opens", false, false, false, 0},
    {"NoBridge", true, false, false, 1},
    {"ConfigurationRefused", false, true, false, 1},
    {"FirstReportNotWritten", false, false, true, 2},
};

INSTANTIATE_TEST_SUITE_P(Cases, OpenLinkResult, ::testing::ValuesIn(kOpenCases),
                         [](const auto& info) { return info.param.name; });

TEST(SendCommand, SendsTheLowBytesAndNothingBeyondTheBuffer) {
    ScriptedSession s;
    ASSERT_TRUE(s.Open());
    const uint32_t elements[] = {0x19C, 0xFFFFFFCA, 0x2FD, 0xAB};
    EXPECT_EQ(SendCommand(s.context, elements, 4), protocol::ExchangeResult::Ok);
    EXPECT_EQ(s.endpoint.Received(), (Bytes{0x9C, 0xCA, 0xFD, 0xAB}));

    std::vector<uint32_t> big(257, 0x11);
    EXPECT_EQ(SendCommand(s.context, big.data(), big.size()),
              protocol::ExchangeResult::WriteFailed);
    EXPECT_EQ(s.endpoint.Received().size(), 4u);
    EXPECT_EQ(SendCommand(s.context, big.data(), 256), protocol::ExchangeResult::Ok);
    EXPECT_EQ(s.endpoint.Received().size(), 260u);
}

TEST(SendCommand, AFailedWriteIsNotReported) {
    ScriptedSession s;
    ASSERT_TRUE(s.Open());
    s.bridge->SetFailWrites(true);
    EXPECT_EQ(SendCommand(s.context, Command::Ack), protocol::ExchangeResult::Ok);
    EXPECT_TRUE(s.endpoint.Received().empty());
}

TEST(SendBlockBytes, WritesTheWireFormOrReportsTheFailure) {
    ScriptedSession s;
    ASSERT_TRUE(s.Open());
    FlashBlock block;
    block.baseAddress = 0x00012340;
    for (int i = 0; i < 200; ++i) block.data[i] = static_cast<uint8_t>(i * 7);
    block.count = 200;
    block.check = ComputeBlockCheck(block);
    EXPECT_EQ(SendBlockBytes(s.context, block), protocol::ExchangeResult::Ok);
    const FlashBlockBytes wire = SerializeFlashBlock(block);
    EXPECT_EQ(s.endpoint.Received(), Bytes(wire.begin(), wire.end()));

    s.bridge->SetFailWrites(true);
    EXPECT_EQ(SendBlockBytes(s.context, block), protocol::ExchangeResult::WriteFailed);
}

}  // namespace
}  // namespace farsend::protocol
