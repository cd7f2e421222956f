// The exchanges of the jobs, the queries and the launch, over the real link
// and reader thread in virtual time.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "protocol/exchanges.h"
#include "protocol/exchanges_fixture.h"

namespace farsend::protocol {
namespace {

using namespace farsend::protocol::testing;

// --- single-command exchanges -----------------------------------------------------

struct SingleExchange {
    std::string name;
    std::function<ExchangeResult(ExchangeContext&)> run;
    Command command;
    ResponseCode expected;
};

const SingleExchange kSingles[] = {
    {"ProgramApplication", BeginProgramApplication, Command::ProgramApplication,
     ResponseCode::ProgramApplicationAck},
    {"ProgramBoth", BeginProgramBootloaderAndApplication, Command::ProgramBootloaderAndApplication,
     ResponseCode::ProgramBootloaderAndApplicationAck},
    {"EraseDefault", BeginEraseDefault, Command::EraseDefault, ResponseCode::EraseDefaultAck},
    {"EraseAll", BeginEraseAll, Command::EraseAll, ResponseCode::EraseAllAck},
    {"Abort", AbortTarget, Command::Abort, ResponseCode::AbortAck},
    {"EndOfData", SendEndOfData, Command::EndOfData, ResponseCode::Done},
};

// What the far end sends when the command arrives, and the result.
struct SingleReply {
    std::string name;
    std::function<Bytes(const Bytes& right)> answer;
    int status;
};

const SingleReply kReplies[] = {
    {"Expected", [](const Bytes& right) { return right; }, 0},
    {"Corrupted", [](const Bytes& right) { return Corrupted(right); }, 8},
    {"StatusE0", [](const Bytes&) { return kStatusE0Bytes; }, 8},
    {"None", [](const Bytes&) { return Bytes{}; }, 8},
};

struct SingleCase {
    SingleExchange exchange;
    SingleReply reply;
};

std::vector<SingleCase> SingleCases() {
    std::vector<SingleCase> cases;
    for (const SingleExchange& e : kSingles) {
        for (const SingleReply& r : kReplies) cases.push_back({e, r});
    }
    return cases;
}

class SingleCommandExchange : public ::testing::TestWithParam<SingleCase> {};

TEST_P(SingleCommandExchange, AcceptsOnlyItsOwnAnswer) {
    const SingleCase& c = GetParam();
    ScriptedSession s;
    ASSERT_TRUE(s.Open());
    s.AnswerCommand(c.exchange.command, c.reply.answer(Answer(c.exchange.expected)));
    EXPECT_EQ(ExchangeResultCode(c.exchange.run(s.context)), c.reply.status);
    EXPECT_EQ(s.endpoint.Received(), CommandBytes(c.exchange.command));
    EXPECT_TRUE(LinkIsOpen(s.link));
}

TEST(SingleCommandExchangeAlone, AnotherCommandsAcknowledgementIsWrong) {
    // Each exchange against every other exchange's expected answer.
    for (const SingleExchange& e : kSingles) {
        for (const SingleExchange& other : kSingles) {
            if (other.expected == e.expected) continue;
            SCOPED_TRACE(e.name + " answered for " + other.name);
            ScriptedSession s;
            ASSERT_TRUE(s.Open());
            s.AnswerCommand(e.command, Answer(other.expected));
            EXPECT_EQ(e.run(s.context), ExchangeResult::WrongAnswer);
        }
    }
}

TEST(SingleCommandExchangeAlone, TheAnswerMayTakeElevenPollsButNotTwelve) {
    for (int delay : {11, 12}) {
        ScriptedSession s;
        ASSERT_TRUE(s.Open());
        s.EmitIn(Millis(delay), Answer(ResponseCode::AbortAck));
        EXPECT_EQ(AbortTarget(s.context),
                  delay == 11 ? ExchangeResult::Ok : ExchangeResult::WrongAnswer)
            << delay << " ms";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, SingleCommandExchange, ::testing::ValuesIn(SingleCases()),
                         [](const auto& info) {
                             return info.param.exchange.name + info.param.reply.name;
                         });

// --- SendFlashBlock ------------------------------------------------------------------

// Answers BlockFollows with `first`, and the block after it (268 bytes, in
// as many reports as the framing needs) with `second`.
farsend::testing::ScriptedEndpoint::Responder BlockResponder(Bytes first, Bytes second) {
    auto pending = std::make_shared<size_t>(0);  // block bytes still to come
    return [=](const uint8_t* data, size_t length) -> Bytes {
        if (*pending == 0) {
            if (length >= 4 && Bytes(data, data + 4) == CommandBytes(Command::BlockFollows)) {
                *pending = kFlashBlockWireSize;
                return first;
            }
            return {};
        }
        *pending -= std::min(*pending, length);
        return *pending == 0 ? second : Bytes{};
    };
}

struct BlockCase {
    std::string name;
    Bytes first;
    Bytes second;
    int status;
    bool blockSent;
};

const BlockCase kBlockCases[] = {
    {"ApplicationAcks", kProgramAppAckBytes, kProgramAppAckBytes, 0, true},
    {"FactoryAcks", kProgramBothAckBytes, kProgramBothAckBytes, 0, true},
    {"ApplicationThenFactoryAck", kProgramAppAckBytes, kProgramBothAckBytes, 0, true},
    {"FactoryThenApplicationAck", kProgramBothAckBytes, kProgramAppAckBytes, 0, true},
    {"BlockRefused", kProgramAppAckBytes, kStatusE0Bytes, 8, true},
    {"BlockNotAcknowledged", kProgramAppAckBytes, {}, 8, true},
    {"BlockAckCorrupted", kProgramAppAckBytes, Corrupted(kProgramAppAckBytes), 8, true},
    {"BlockFollowsRefused", kStatusE0Bytes, kProgramAppAckBytes, 8, false},
    {"BlockFollowsAnsweredWithDone", kDoneBytes, kProgramAppAckBytes, 8, false},
    {"BlockFollowsNotAnswered", {}, kProgramAppAckBytes, 8, false},
};

class SendFlashBlockCase : public ::testing::TestWithParam<BlockCase> {};

TEST_P(SendFlashBlockCase, AcceptsEitherProgrammingAcknowledgement) {
    const BlockCase& c = GetParam();
    ScriptedSession s;
    ASSERT_TRUE(s.Open());
    s.endpoint.SetResponder(BlockResponder(c.first, c.second));
    FlashBlock block;
    block.baseAddress = 0x4000;
    for (int i = 0; i < 256; ++i) block.data[i] = static_cast<uint8_t>(255 - i);
    block.count = 256;
    block.check = ComputeBlockCheck(block);

    EXPECT_EQ(ExchangeResultCode(SendFlashBlock(s.context, block)), c.status);

    const FlashBlockBytes wire = SerializeFlashBlock(block);
    const Bytes expected =
        c.blockSent ? Cat({CommandBytes(Command::BlockFollows), Bytes(wire.begin(), wire.end())})
                    : CommandBytes(Command::BlockFollows);
    EXPECT_EQ(s.endpoint.Received(), expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, SendFlashBlockCase, ::testing::ValuesIn(kBlockCases),
                         [](const auto& info) { return info.param.name; });

TEST(SendFlashBlockToSimulatedTarget, ABadBlockIsRefused) {
    SimulatedSession s;
    ASSERT_EQ(ConnectTarget(s.context), protocol::ExchangeResult::Ok);
    ASSERT_EQ(BeginProgramApplication(s.context), protocol::ExchangeResult::Ok);
    while (AwaitResponse(s.context) == ResponseCode::BlockErased) {
    }
    FlashBlock block;
    block.baseAddress = 0x4000;
    block.data[0] = 0x12;
    block.count = 1;
    block.check = ComputeBlockCheck(block) ^ 1;
    EXPECT_EQ(SendFlashBlock(s.context, block), protocol::ExchangeResult::WrongAnswer);
    block.check ^= 1;
    EXPECT_EQ(SendFlashBlock(s.context, block), protocol::ExchangeResult::Ok);
    EXPECT_EQ(s.Target().BlocksRefused(), 1u);
    EXPECT_EQ(s.Target().Flash(), (sim::FlashContents{{0x4000, 0x12}}));
}

// --- waiting for progress ------------------------------------------------------------

TEST(AwaitResponse, GivesTheCodeOrInvalidAfterThirteenSeconds) {
    ScriptedSession s;
    ASSERT_TRUE(s.Open());
    s.EmitIn(Millis(12000), kBlockErasedBytes);
    s.EmitIn(Millis(12000), Corrupted(kDoneBytes));
    EXPECT_EQ(AwaitResponse(s.context), ResponseCode::BlockErased);
    EXPECT_EQ(AwaitResponse(s.context), ResponseCode::Invalid);
    const Millis start = s.clock.Now();
    EXPECT_EQ(AwaitResponse(s.context), ResponseCode::Invalid);
    EXPECT_EQ(s.clock.Now() - start, Millis(13000));
}

TEST(AwaitDone, OneOnlyForDoneAtOnce) {
    ScriptedSession s;
    ASSERT_TRUE(s.Open());
    s.EmitIn(Millis(0), Cat({kDoneBytes, kBlockErasedBytes, Corrupted(kDoneBytes)}));
    EXPECT_EQ(AwaitDone(s.context), 1);
    EXPECT_EQ(AwaitDone(s.context), 0);
    EXPECT_EQ(AwaitDone(s.context), 0);
    EXPECT_EQ(AwaitDone(s.context), 0);  // nothing left
}

TEST(EraseOnSimulatedTarget, AcknowledgementProgressThenDone) {
    for (bool all : {false, true}) {
        SCOPED_TRACE(all ? "EraseAll" : "EraseDefault");
        sim::SimOptions options;
        options.erase_blocks = 5;
        options.baud = 9600;
        SimulatedSession s(options);
        ASSERT_EQ(ConnectTarget(s.context), protocol::ExchangeResult::Ok);
        EXPECT_EQ(all ? BeginEraseAll(s.context) : BeginEraseDefault(s.context),
                  protocol::ExchangeResult::Ok);
        for (int i = 0; i < 5; ++i) EXPECT_EQ(AwaitResponse(s.context), ResponseCode::BlockErased);
        EXPECT_EQ(AwaitResponse(s.context), ResponseCode::Done);
        EXPECT_TRUE(LinkIsOpen(s.link));
    }
}

// --- queries ------------------------------------------------------------------------

struct VersionCase {
    std::string name;
    std::string text;
    int32_t major, minor, build;
};

constexpr int32_t kKept = 77;

const VersionCase kVersionCases[] = {
    {"ThreeParts", "1.5.3", 1, 5, 3},
    {"MajorOnly", "2", 2, kKept, kKept},
    {"MajorAndMinor", "1.5", 1, 5, kKept},
    {"Empty", "", 0, kKept, kKept},
    {"Letters", "v2.0", 0, kKept, kKept},
    {"SignsAndSpace", " -3.+4.x", -3, 4, 0},
    {"EmptyMinor", "1..2", 1, 0, 2},
    {"FourParts", "1.5.3.9", 1, 5, 3},
    {"TooManyDigits", "99999999999999999.1", 2147483647, 1, kKept},
    {"TooManyNegativeDigits", "-99999999999999999", -2147483647 - 1, kKept, kKept},
    {"FullReply", "10.20.300000000000000000", 10, 20, 2147483647},
};

class VersionQuery : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionQuery, ReadsTheSimulatedTargetsText) {
    const VersionCase& c = GetParam();
    sim::SimOptions options;
    options.version = c.text;
    SimulatedSession s(options);
    ASSERT_EQ(ConnectTarget(s.context), protocol::ExchangeResult::Ok);
    TargetIdentity identity{kKept, kKept, kKept, kKept};
    EXPECT_EQ(QueryTargetVersion(s.context, &identity), protocol::ExchangeResult::Ok);
    EXPECT_EQ(identity.variant, kKept);
    EXPECT_EQ(identity.major, c.major);
    EXPECT_EQ(identity.minor, c.minor);
    EXPECT_EQ(identity.build, c.build);
}

INSTANTIATE_TEST_SUITE_P(Cases, VersionQuery, ::testing::ValuesIn(kVersionCases),
                         [](const auto& info) { return info.param.name; });

struct VariantCase {
    std::string name;
    std::string text;
    int32_t variant;
};

const VariantCase kVariantCases[] = {
    {"Bluetooth", "Bluetooth", kVariantBluetooth},
    {"ZigBee", "ZigBee", kVariantZigBee},
    {"InsideLongerText", "Farsend ZigBee 3.0", kVariantZigBee},
    {"BothNamedBluetoothWins", "ZigBee+Bluetooth", kVariantBluetooth},
    {"CaseMatters", "bluetooth", kKept},
    {"NeitherNamed", "Thread", kKept},
    {"Empty", "", kKept},
    {"CutAt24Characters", "12345678901234567890Bluetooth", kKept},
};

class VariantQuery : public ::testing::TestWithParam<VariantCase> {};

TEST_P(VariantQuery, ReadsTheSimulatedTargetsText) {
    const VariantCase& c = GetParam();
    sim::SimOptions options;
    options.variant = c.text;
    SimulatedSession s(options);
    ASSERT_EQ(ConnectTarget(s.context), protocol::ExchangeResult::Ok);
    int32_t variant = kKept;
    EXPECT_EQ(QueryTargetVariant(s.context, &variant), protocol::ExchangeResult::Ok);
    EXPECT_EQ(variant, c.variant);
}

INSTANTIATE_TEST_SUITE_P(Cases, VariantQuery, ::testing::ValuesIn(kVariantCases),
                         [](const auto& info) { return info.param.name; });

TEST(Queries, AMissingReplyAfterAnEarlierSuccessGivesTen) {
    // The target falls silent once it has the Ack and two queries: the first
    // query of each kind is answered, the second is not. (Two sessions, so
    // that each query kind meets the silence.)
    for (bool version : {true, false}) {
        SCOPED_TRACE(version ? "version" : "variant");
        sim::SimOptions options;
        options.faults.silence_after = 12;
        SimulatedSession s(options);
        ASSERT_EQ(ConnectTarget(s.context), protocol::ExchangeResult::Ok);
        TargetIdentity identity;
        if (version) {
            EXPECT_EQ(QueryTargetVersion(s.context, &identity), protocol::ExchangeResult::Ok);
            EXPECT_EQ(identity.minor, 5);
            EXPECT_EQ(QueryTargetVersion(s.context, &identity),
                      protocol::ExchangeResult::ReplyMissing);
            EXPECT_EQ(ClassifyResponse(s.context.versionReply), ResponseCode::Invalid);
        } else {
            EXPECT_EQ(QueryTargetVariant(s.context, &identity.variant),
                      protocol::ExchangeResult::Ok);
            EXPECT_EQ(identity.variant, kVariantBluetooth);
            EXPECT_EQ(QueryTargetVariant(s.context, &identity.variant),
                      protocol::ExchangeResult::ReplyMissing);
            EXPECT_EQ(ClassifyResponse(s.context.variantReply), ResponseCode::Invalid);
        }
    }
}

struct QueryCase {
    std::string name;
    bool destination;
    Bytes answer;
    int status;
    bool sent;
};

const QueryCase kQueryCases[] = {
    {"ReplyThenDone", true, Cat({LongAnswer(ResponseCode::VersionReply, "2.0.1"), kDoneBytes}), 0,
     true},
    {"NoDestination", false, Cat({LongAnswer(ResponseCode::VersionReply, "2.0.1"), kDoneBytes}), 1,
     false},
    {"ReplyWithoutDone", true, LongAnswer(ResponseCode::VersionReply, "2.0.1"), 1, true},
    {"ReplyThenAnotherStatus", true,
     Cat({LongAnswer(ResponseCode::VersionReply, "2.0.1"), kStatusE0Bytes}), 1, true},
    {"ReplyOfTheOtherQuery", true,
     Cat({LongAnswer(ResponseCode::VariantReply, "2.0.1"), kDoneBytes}), 10, true},
    {"CorruptedReply", true,
     Cat({Corrupted(LongAnswer(ResponseCode::VersionReply, "2.0.1")), kDoneBytes}), 10, true},
    {"NoReply", true, {}, 10, true},
};

class VersionQueryScripted : public ::testing::TestWithParam<QueryCase> {};

TEST_P(VersionQueryScripted, Result) {
    const QueryCase& c = GetParam();
    ScriptedSession s;
    ASSERT_TRUE(s.Open());
    s.AnswerCommand(Command::QueryVersion, c.answer);
    TargetIdentity identity;
    EXPECT_EQ(
        ExchangeResultCode(QueryTargetVersion(s.context, c.destination ? &identity : nullptr)),
        c.status);
    EXPECT_EQ(s.endpoint.Received(), c.sent ? CommandBytes(Command::QueryVersion) : Bytes{});
    // Only a reply that came, to a query that had somewhere to put it, fills the record.
    const bool filled = c.destination && c.status != 10;
    EXPECT_EQ(identity.major, filled ? 2 : 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, VersionQueryScripted, ::testing::ValuesIn(kQueryCases),
                         [](const auto& info) { return info.param.name; });

// --- launch and disconnect ---------------------------------------------------------------

TEST(Launch, ClosesTheLinkWithoutWaitingForAnAnswer) {
    ScriptedSession s;
    ASSERT_TRUE(s.Open());
    const Millis start = s.clock.Now();
    EXPECT_EQ(LaunchTargetApplication(s.context), protocol::ExchangeResult::Ok);
    // Only the close feature's 30 ms pause: no receive was started.
    EXPECT_EQ(s.clock.Now() - start, Millis(30));
    EXPECT_FALSE(LinkIsOpen(s.link));
    EXPECT_EQ(s.endpoint.Received(), CommandBytes(Command::StartApplication));
    const sim::SimBridgeStats stats = s.bridge->Stats();
    EXPECT_EQ(stats.closeFeatures, 1u);
    EXPECT_EQ(stats.closeReports, 1u);
    EXPECT_EQ(stats.openHandles, 0u);
}

TEST(Launch, TheSimulatedTargetStartsItsApplication) {
    SimulatedSession s;
    ASSERT_EQ(ConnectTarget(s.context), protocol::ExchangeResult::Ok);
    EXPECT_EQ(LaunchTargetApplication(s.context), protocol::ExchangeResult::Ok);
    EXPECT_FALSE(LinkIsOpen(s.link));
    const std::vector<sim::ReceivedCommand> commands = s.Target().Commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[1], (sim::ReceivedCommand{0xBB, 1, true}));
    // The target has left: nobody calls any more.
    EXPECT_EQ(ConnectTarget(s.context), protocol::ExchangeResult::TimedOut);
}

TEST(Launch, OnAClosedLinkStillSucceeds) {
    ScriptedSession s;
    EXPECT_EQ(LaunchTargetApplication(s.context), protocol::ExchangeResult::Ok);
    EXPECT_EQ(DisconnectTarget(s.context), protocol::ExchangeResult::Ok);
    EXPECT_TRUE(s.endpoint.Received().empty());
}

TEST(Disconnect, ClosesTheLinkAndSendsNothing) {
    ScriptedSession s;
    ASSERT_TRUE(s.Open());
    EXPECT_EQ(DisconnectTarget(s.context), protocol::ExchangeResult::Ok);
    EXPECT_FALSE(LinkIsOpen(s.link));
    EXPECT_TRUE(s.endpoint.Received().empty());
    EXPECT_EQ(s.bridge->Stats().closeFeatures, 1u);
}

}  // namespace
}  // namespace farsend::protocol
