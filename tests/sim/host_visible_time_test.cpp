// The real-clock bridge sleeps until SimulatedTarget::NextHostVisibleTime.
// Each case checks it against a twin target fed the same bytes and asked
// every millisecond, as the bridge used to: before the time named the host
// may only miss the rest of a run of output already on the line (at most a
// report's worth) and never a pulled plug, and the time must be the one the
// line gives, not the next byte the target receives.
#include <gtest/gtest.h>

#include <functional>

#include "sim/simulated_target.h"
#include "sim/target_test_support.h"

namespace farsend::sim {
namespace {

using namespace farsend::sim::testing;

constexpr int64_t kNoTime = std::numeric_limits<int64_t>::max();

// At 10000 baud a byte takes exactly 1 ms, so the line's times are whole
// milliseconds: `t + n` is when the n-th byte sent at t is complete.
SimOptions OneBytePerMillisecond() {
    SimOptions options = Simulating();
    options.baud = 10000;
    options.erase_blocks = 2;
    return options;
}

// Handshake done at kT0 + 12, programming run open, BlockFollows answered by
// kT0 + 120.
int64_t ReadyForABlock(TargetDriver& d) {
    d.Open(kT0);
    d.Collect(kT0 + 4);
    d.Send(kAck, kT0 + 4);
    d.Collect(kT0 + 12);
    d.Send(kProgramApplication, kT0 + 20);  // acknowledged +24..+28, erased by +64
    d.Collect(kT0 + 72);
    d.Send(kBlockFollows, kT0 + 100);
    d.Collect(kT0 + 120);
    return kT0 + 120;
}

struct Case {
    const char* name;
    SimOptions options;
    size_t reportBytes;
    // Drives the target and returns the time of its last call.
    std::function<int64_t(TargetDriver&)> drive;
    int64_t expected;  // NextHostVisibleTime, kNoTime for never
};

TEST(SimulatedTargetHostVisibleTime, NamesTheFirstMomentTheHostCouldHearSomethingNew) {
    SimOptions unplugInBlock = OneBytePerMillisecond();
    unplugInBlock.faults.unplug_after = 12 + 100;  // the block's 100th byte
    SimOptions silenceInBlock = OneBytePerMillisecond();
    silenceInBlock.faults.silence_after = 12 + 50;

    const std::vector<Case> cases = {
        {"a call on the line ends its run", OneBytePerMillisecond(), 62,
         [](TargetDriver& d) {
             d.Open(kT0);
             d.Collect(kT0);
             return kT0;
         },
         kT0 + 4},
        {"the next call while nobody answers", OneBytePerMillisecond(), 62,
         [](TargetDriver& d) {
             d.Open(kT0);
             d.Collect(kT0 + 4);
             return kT0 + 4;
         },
         kT0 + 50},
        {"a block crossing the line: its answer, not its bytes", OneBytePerMillisecond(), 62,
         [](TargetDriver& d) {
             const int64_t t = ReadyForABlock(d);
             d.Send(Block(0x4000, Counting(256)), t);  // arrives +1..+268
             d.Collect(t);
             return t;
         },
         kT0 + 120 + 268},
        {"half a block received", OneBytePerMillisecond(), 62,
         [](TargetDriver& d) {
             const int64_t t = ReadyForABlock(d);
             d.Send(Block(0x4000, Counting(256)), t);
             d.Collect(t + 134);
             return t + 134;
         },
         kT0 + 120 + 268},
        {"a block received: the acknowledgement once written", OneBytePerMillisecond(), 62,
         [](TargetDriver& d) {
             const int64_t t = ReadyForABlock(d);
             d.Send(Block(0x4000, Counting(256)), t);
             d.Collect(t + 268);  // written by +270, acknowledged +271..+274
             return t + 268;
         },
         kT0 + 120 + 274},
        {"part of a block sent: nothing to hear until the rest comes", OneBytePerMillisecond(), 62,
         [](TargetDriver& d) {
             const int64_t t = ReadyForABlock(d);
             const Bytes block = Block(0x4000, Counting(256));
             d.Send(Bytes(block.begin(), block.begin() + 100), t);
             d.Collect(t + 100);
             return t + 100;
         },
         kNoTime},
        {"a command arriving: any of its bytes may complete it", OneBytePerMillisecond(), 62,
         [](TargetDriver& d) {
             d.Open(kT0);
             d.Collect(kT0 + 4);
             d.Send(kAck, kT0 + 4);
             d.Collect(kT0 + 4);
             return kT0 + 4;
         },
         kT0 + 5},
        {"a reply and Done back to back: one run", OneBytePerMillisecond(), 62,
         [](TargetDriver& d) {
             d.Open(kT0);
             d.Collect(kT0 + 4);
             d.Send(kAck, kT0 + 4);
             d.Collect(kT0 + 12);
             d.Send(kQueryVariant, kT0 + 20);  // reply +25..+52, Done +53..+56
             d.Collect(kT0 + 24);
             return kT0 + 24;
         },
         kT0 + 56},
        {"the same run, cut where it fills a report of 6 bytes", OneBytePerMillisecond(), 6,
         [](TargetDriver& d) {
             d.Open(kT0);
             d.Collect(kT0 + 4);
             d.Send(kAck, kT0 + 4);
             d.Collect(kT0 + 12);
             d.Send(kQueryVariant, kT0 + 20);
             d.Collect(kT0 + 24);
             return kT0 + 24;
         },
         kT0 + 30},
        {"erase progress: each BlockErased is its own run", OneBytePerMillisecond(), 62,
         [](TargetDriver& d) {
             d.Open(kT0);
             d.Collect(kT0 + 4);
             d.Send(kAck, kT0 + 4);
             d.Collect(kT0 + 12);
             d.Send(kEraseDefault, kT0 + 20);  // ack +25..+28, BlockErased +45..+48
             d.Collect(kT0 + 28);
             return kT0 + 28;
         },
         kT0 + 48},
        {"an unplug inside a block is heard when it happens", unplugInBlock, 62,
         [](TargetDriver& d) {
             const int64_t t = ReadyForABlock(d);
             d.Send(Block(0x4000, Counting(256)), t);
             d.Collect(t);
             return t;
         },
         kT0 + 120 + 100},
        {"falling silent inside a block too", silenceInBlock, 62,
         [](TargetDriver& d) {
             const int64_t t = ReadyForABlock(d);
             d.Send(Block(0x4000, Counting(256)), t);
             d.Collect(t);
             return t;
         },
         kT0 + 120 + 50},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PlugState plug;
        TargetDriver d(c.options, &plug);
        const int64_t last = c.drive(d);
        const int64_t named = d.target.NextHostVisibleTime(c.reportBytes).count();
        EXPECT_EQ(named, c.expected);
        // Never earlier than the next event, which the bridge must not skip.
        EXPECT_GE(named, d.next);

        PlugState twinPlug;
        TargetDriver twin(c.options, &twinPlug);
        ASSERT_EQ(c.drive(twin), last);
        const int64_t until = std::min<int64_t>(named, last + 2000);
        Bytes heard;
        for (int64_t t = last + 1; t < until; ++t) {
            const Bytes more = twin.Collect(t);
            heard.insert(heard.end(), more.begin(), more.end());
            ASSERT_TRUE(twinPlug.Plugged()) << "plug pulled at +" << t - last;
        }
        // What the twin heard early was already on the line, and a single
        // look at the time named hears it all.
        const Bytes atNamed = named == kNoTime ? Bytes{} : d.Collect(named);
        ASSERT_LE(heard.size(), atNamed.size());
        EXPECT_EQ(heard, Bytes(atNamed.begin(), atNamed.begin() + heard.size()));
        EXPECT_LE(heard.size(), c.reportBytes);
    }
}

}  // namespace
}  // namespace farsend::sim
