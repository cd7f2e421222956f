// ConnectTarget over the real link and reader thread, in virtual time:
// against the simulated target, and against a scripted far end for answers
// the target model never gives.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <utility>

#include "protocol/exchanges.h"
#include "protocol/exchanges_fixture.h"

namespace farsend::protocol {
namespace {

using namespace farsend::protocol::testing;

constexpr const char* kWaiting = "waiting for TGT call\n";
constexpr const char* kSendingAck = "Sending ACK to TGT\n";
constexpr const char* kNoAck = "No ACK from TGT\n";

// --- the simulated target -----------------------------------------------------

struct TargetCase {
    std::string name;
    sim::SimOptions options;
    bool unplugFirst;
    int status;
    int waitingLines;
    int ackLines;
    // Whether the wait ran into the 13-second deadline.
    bool waitedOut;
};

sim::SimOptions With(void (*change)(sim::SimOptions&)) {
    sim::SimOptions o;
    change(o);
    return o;
}

const TargetCase kTargetCases[] = {
    {"Handshake", {}, false, 0, 1, 1, false},
    {"ReportOf9", With([](sim::SimOptions& o) { o.report_length = 9; }), false, 0, 1, 1, false},
    {"LegacyHid", With([](sim::SimOptions& o) { o.legacy_hid = true; }), false, 0, 1, 1, false},
    {"SlowLine", With([](sim::SimOptions& o) { o.baud = 1200; }), false, 0, 1, 1, false},
    {"NoiseBeforeEveryPacket",
     With([](sim::SimOptions& o) { o.faults.noise_ppb = sim::kProbabilityScale; }), false, 0, 1, 1,
     false},
    {"SilentTarget", With([](sim::SimOptions& o) { o.faults.silence_after = 0; }), false, 3, 0, 0,
     true},
    {"SilentAfterTheAck", With([](sim::SimOptions& o) { o.faults.silence_after = 4; }), false, 3, 1,
     1, true},
    {"NoTargetAttached", With([](sim::SimOptions& o) { o.targets = 0; }), false, 3, 0, 0, true},
    {"NoBridge", {}, true, 5, 0, 0, false},
};

class ConnectToSimulatedTarget : public ::testing::TestWithParam<TargetCase> {};

TEST_P(ConnectToSimulatedTarget, ResultLinesAndLink) {
    const TargetCase& c = GetParam();
    SimulatedSession s(c.options);
    ASSERT_TRUE(s.simulation);
    if (c.unplugFirst) s.simulation->Plug().Unplug();
    DiagnosticRecorder lines;
    const Millis start = s.clock.Now();

    EXPECT_EQ(ExchangeResultCode(ConnectTarget(s.context)), c.status);

    EXPECT_EQ(LinkIsOpen(s.link), c.status == 0);
    EXPECT_EQ(lines.Count(kWaiting), c.waitingLines);
    EXPECT_EQ(lines.Count(kSendingAck), c.ackLines);
    EXPECT_EQ(lines.Count(kNoAck), 0);
    const Millis took = s.clock.Now() - start;
    if (c.waitedOut) {
        EXPECT_GE(took, Millis(13000));
        EXPECT_LT(took, Millis(14000));
    } else {
        EXPECT_LT(took, Millis(1000));
    }
    if (c.status == 0) {
        const std::vector<sim::ReceivedCommand> commands = s.Target().Commands();
        ASSERT_EQ(commands.size(), 1u);
        EXPECT_EQ(commands[0], (sim::ReceivedCommand{0xCA, 1, true}));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ConnectToSimulatedTarget, ::testing::ValuesIn(kTargetCases),
                         [](const auto& info) { return info.param.name; });

TEST(ConnectToSimulatedTargetAgain, AfterDisconnectTheTargetCallsAgain) {
    SimulatedSession s;
    ASSERT_EQ(ConnectTarget(s.context), protocol::ExchangeResult::Ok);
    EXPECT_EQ(DisconnectTarget(s.context), protocol::ExchangeResult::Ok);
    EXPECT_FALSE(LinkIsOpen(s.link));
    EXPECT_EQ(ConnectTarget(s.context), protocol::ExchangeResult::Ok);
    EXPECT_EQ(s.Target().TargetsArrived(), 1u);
}

TEST(ConnectToSimulatedTargetAgain, AfterLaunchTheNextTargetArrives) {
    sim::SimOptions options;
    options.targets = 2;
    SimulatedSession s(options);
    ASSERT_EQ(ConnectTarget(s.context), protocol::ExchangeResult::Ok);
    const Millis left = s.clock.Now();
    EXPECT_EQ(LaunchTargetApplication(s.context), protocol::ExchangeResult::Ok);
    EXPECT_EQ(ConnectTarget(s.context), protocol::ExchangeResult::Ok);
    EXPECT_EQ(s.Target().TargetsArrived(), 2u);
    EXPECT_GE(s.clock.Now() - left, Millis(500));
    // The third attempt finds nobody.
    EXPECT_EQ(LaunchTargetApplication(s.context), protocol::ExchangeResult::Ok);
    EXPECT_EQ(ConnectTarget(s.context), protocol::ExchangeResult::TimedOut);
    EXPECT_EQ(s.Target().TargetsArrived(), 2u);
}

// --- a scripted far end ---------------------------------------------------------

// Calls every 50 ms from 100 ms after the bridge opens (the open takes 85 ms)
// until the host's Ack comes, sending `beforeCall` ahead of the first call,
// and answers the Ack with `ackAnswer`.
class CallingEndpoint final : public sim::SerialEndpoint {
public:
    CallingEndpoint(Bytes beforeCall, Bytes ackAnswer)
        : beforeCall_(std::move(beforeCall)), ackAnswer_(std::move(ackAnswer)) {}

    void OnBridgeOpened(Millis now) override {
        std::lock_guard<std::mutex> lock(mutex_);
        nextCall_ = now + Millis(100);
    }
    void OnHostBytes(const uint8_t* data, size_t length, Millis) override {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.insert(received_.end(), data, data + length);
        if (!acked_ && received_.size() >= 4 &&
            Bytes(received_.begin(), received_.begin() + 4) == CommandBytes(Command::Ack)) {
            acked_ = true;
            pending_ = ackAnswer_;
            if (onAck) onAck();
        }
    }
    Millis CollectTargetBytes(Millis now, std::vector<uint8_t>& out) override {
        std::lock_guard<std::mutex> lock(mutex_);
        out.insert(out.end(), pending_.begin(), pending_.end());
        pending_.clear();
        if (acked_) return Millis::max();
        while (nextCall_ <= now) {
            if (calls_ == 0 && onFirstOutput) onFirstOutput();
            if (calls_++ == 0) out.insert(out.end(), beforeCall_.begin(), beforeCall_.end());
            out.insert(out.end(), kCallBytes.begin(), kCallBytes.end());
            nextCall_ += Millis(50);
        }
        return nextCall_;
    }
    Bytes Received() {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }

    // Called (under the endpoint's lock) when the Ack comes, and before the
    // first output is handed to the bridge; set before use.
    std::function<void()> onAck;
    std::function<void()> onFirstOutput;

private:
    const Bytes beforeCall_;
    const Bytes ackAnswer_;
    std::mutex mutex_;
    Millis nextCall_ = Millis::max();
    int calls_ = 0;
    bool acked_ = false;
    Bytes pending_;
    Bytes received_;
};

struct ScriptedCase {
    std::string name;
    Bytes beforeCall;  // sent just before the first call
    Bytes ackAnswer;   // the answer to the host's Ack (empty: none)
    int status;
    int waitingLines;
    int noAckLines;
};

const ScriptedCase kScriptedCases[] = {
    {"Confirmed", {}, kTargetAckBytes, 0, 1, 0},
    {"StrayBytesBeforeTheCallAreSkipped", {0x00, 0x9C, 0xCA, 0xFD, 0xAB}, kTargetAckBytes, 0, 1, 0},
    {"AnotherPacketFirstIsPassedOver", kStatusE0Bytes, kTargetAckBytes, 0, 2, 0},
    {"CorruptedCallFirstIsPassedOver", Corrupted(kCallBytes), kTargetAckBytes, 0, 2, 0},
    // 8C 8C FD CA is no call; its last byte BB is skipped; the next call is.
    {"StrayLeadByteSpoilsTheFirstCall", {0x8C}, kTargetAckBytes, 0, 2, 0},
    {"WrongAnswerToTheAck", {}, kStatusE0Bytes, 7, 1, 1},
    {"CorruptedTargetAck", {}, Corrupted(kTargetAckBytes), 7, 1, 1},
    {"CallsStillOnTheirWayArePassedOver",
     {},
     Cat({kCallBytes, kCallBytes, kTargetAckBytes}),
     0,
     1,
     0},
    {"CallThenAWrongAnswer", {}, Cat({kCallBytes, kStatusE0Bytes}), 7, 1, 1},
    {"CallsButNoAnswer", {}, kCallBytes, 3, 1, 0},
    {"NoAnswerToTheAck", {}, {}, 3, 1, 0},
    {"HalfAnAnswer", {}, {0x8C, 0xCA}, 3, 1, 0},
};

class ConnectToScriptedTarget : public ::testing::TestWithParam<ScriptedCase> {};

TEST_P(ConnectToScriptedTarget, ResultLinesAndLink) {
    const ScriptedCase& c = GetParam();
    CallingEndpoint endpoint(c.beforeCall, c.ackAnswer);
    ScriptedSession s;
    s.bridge->AttachEndpoint(&endpoint);
    DiagnosticRecorder lines;
    const Millis start = s.clock.Now();

    EXPECT_EQ(ExchangeResultCode(ConnectTarget(s.context)), c.status);

    EXPECT_EQ(LinkIsOpen(s.link), c.status == 0);
    EXPECT_EQ(lines.Count(kWaiting), c.waitingLines);
    EXPECT_EQ(lines.Count(kSendingAck), 1);
    EXPECT_EQ(lines.Count(kNoAck), c.noAckLines);
    EXPECT_EQ(endpoint.Received(), CommandBytes(Command::Ack));
    if (c.status != 0) {
        EXPECT_EQ(s.bridge->Stats().openHandles, 0u);
    }
    if (c.status == 3) {
        EXPECT_GE(s.clock.Now() - start, Millis(13000));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ConnectToScriptedTarget, ::testing::ValuesIn(kScriptedCases),
                         [](const auto& info) { return info.param.name; });

TEST(ConnectToScriptedTargetAlone, EachOtherPacketOpensAFreshThirteenSecondWindow) {
    ScriptedSession s;
    // A status packet every 10 s for a minute, then the call: far beyond one
    // window in all, but never 13 s without a packet.
    for (int i = 1; i <= 6; ++i) s.EmitIn(Millis(10000 * i), kDoneBytes);
    s.EmitIn(Millis(61000), kCallBytes);
    s.AnswerCommand(Command::Ack, kTargetAckBytes);
    DiagnosticRecorder lines;
    EXPECT_EQ(ConnectTarget(s.context), protocol::ExchangeResult::Ok);
    EXPECT_EQ(lines.Count(kWaiting), 7);
    EXPECT_GE(s.clock.Now(), Millis(1000000 + 61000));
}

TEST(ConnectToScriptedTargetAlone, ThirteenSecondsWithoutAPacketEndTheWait) {
    ScriptedSession s;
    s.EmitIn(Millis(10000), kDoneBytes);
    s.EmitIn(Millis(10000 + 13100), kCallBytes);
    DiagnosticRecorder lines;
    EXPECT_EQ(ConnectTarget(s.context), protocol::ExchangeResult::TimedOut);
    EXPECT_EQ(lines.Count(kWaiting), 1);
    EXPECT_TRUE(s.endpoint.Received().empty());
    EXPECT_FALSE(LinkIsOpen(s.link));
}

// --- cancelling the handshake --------------------------------------------------

enum class CancelAt { BeforeTheHandshake, WithTheFirstPacket, WhenTheAckIsWritten };

struct CancelCase {
    std::string name;
    CancelAt at;
    bool ackSent;
};

class CancelledHandshake : public ::testing::TestWithParam<CancelCase> {};

TEST_P(CancelledHandshake, EndsLikeATimeOutWithoutWaiting) {
    const CancelCase& c = GetParam();
    // A packet ahead of the call, and a target that would confirm.
    CallingEndpoint endpoint(kStatusE0Bytes, kTargetAckBytes);
    std::atomic<bool> cancel{c.at == CancelAt::BeforeTheHandshake};
    if (c.at == CancelAt::WithTheFirstPacket) endpoint.onFirstOutput = [&] { cancel = true; };
    if (c.at == CancelAt::WhenTheAckIsWritten) endpoint.onAck = [&] { cancel = true; };
    ScriptedSession s;
    s.bridge->AttachEndpoint(&endpoint);
    DiagnosticRecorder lines;
    const Millis start = s.clock.Now();

    EXPECT_EQ(ConnectTarget(s.context, &cancel), protocol::ExchangeResult::TimedOut);

    EXPECT_LT(s.clock.Now() - start, Millis(1000));
    EXPECT_FALSE(LinkIsOpen(s.link));
    EXPECT_EQ(s.bridge->Stats().openHandles, 0u);
    EXPECT_EQ(endpoint.Received(), c.ackSent ? CommandBytes(Command::Ack) : Bytes{});
    EXPECT_EQ(lines.Count(kSendingAck), c.ackSent ? 1 : 0);
    EXPECT_EQ(lines.Count(kNoAck), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Moments, CancelledHandshake,
    ::testing::Values(CancelCase{"BeforeTheHandshake", CancelAt::BeforeTheHandshake, false},
                      CancelCase{"WithTheFirstPacket", CancelAt::WithTheFirstPacket, false},
                      CancelCase{"WhenTheAckIsWritten", CancelAt::WhenTheAckIsWritten, true}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace farsend::protocol
