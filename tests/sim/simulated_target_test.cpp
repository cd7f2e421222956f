#include "sim/simulated_target.h"

#include <gtest/gtest.h>

#include <limits>

#include "sim/target_test_support.h"

namespace farsend::sim {
namespace {

using namespace farsend::sim::testing;

constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

TEST(SimulatedTarget, CallsEveryFiftyMillisecondsWhileOpenAndUnacknowledged) {
    struct Step {
        int64_t at;  // after kT0
        int calls;
        int64_t next;  // after kT0
    };
    const Step steps[] = {{0, 1, 50}, {49, 0, 50}, {50, 1, 100}, {175, 2, 200}, {200, 1, 250}};
    TargetDriver d;
    d.Open(kT0);
    for (const Step& s : steps) {
        SCOPED_TRACE(s.at);
        EXPECT_EQ(d.Collect(kT0 + s.at), Repeat(kCall, s.calls));
        EXPECT_EQ(d.next, kT0 + s.next);
    }
}

TEST(SimulatedTarget, CallsOnlyWhileTheBridgeIsOpenKeepingItsRhythm) {
    TargetDriver d;
    EXPECT_EQ(d.Collect(kT0), Bytes{});  // arrives at kT0, nobody listens
    EXPECT_EQ(d.next, kNever);
    d.Open(kT0 + 120);
    EXPECT_EQ(d.Collect(kT0 + 120), Bytes{});
    EXPECT_EQ(d.next, kT0 + 150);
    EXPECT_EQ(d.Collect(kT0 + 150), kCall);
    d.Close(kT0 + 160);
    EXPECT_EQ(d.Collect(kT0 + 400), Bytes{});
    EXPECT_EQ(d.next, kNever);
}

TEST(SimulatedTarget, AckCompletesTheHandshakeAndEndsTheCalls) {
    TargetDriver d;
    EXPECT_EQ(d.Connect(), Cat({kCall, kTargetAck}));
    EXPECT_EQ(d.Collect(kT0 + 1000), Bytes{});
    EXPECT_EQ(d.next, kNever);
    // A second Ack is answered again; it changes nothing.
    EXPECT_EQ(d.Exchange(kAck, kT0 + 1000), kTargetAck);
}

TEST(SimulatedTarget, CommandsBeforeTheHandshakeAreIgnored) {
    const Bytes commands[] = {kStartApplication, kEraseDefault, kEraseAll,    kProgramApplication,
                              kEndOfData,        kBlockFollows, kProgramBoth, kAbort,
                              kQueryVariant,     kQueryVersion};
    for (const Bytes& command : commands) {
        SCOPED_TRACE(::testing::PrintToString(command));
        TargetDriver d;
        d.Open(kT0);
        EXPECT_EQ(d.Collect(kT0), kCall);
        EXPECT_EQ(d.Exchange(command, kT0 + 10), Bytes{});
        EXPECT_EQ(d.Collect(kT0 + 50), kCall);  // still calling, still there
        EXPECT_EQ(d.Exchange(kAck, kT0 + 60), kTargetAck);
        const std::vector<ReceivedCommand> expected = {{command[1], 1, false}, {0xCA, 1, true}};
        EXPECT_EQ(d.target.Commands(), expected);
    }
}

TEST(SimulatedTarget, AnswersEachCommandAfterTheHandshake) {
    struct Case {
        const char* name;
        Bytes command;
        Bytes answer;
    };
    const std::vector<Case> cases = {
        {"variant query", kQueryVariant, Cat({Reply(0x55, "ZigBee"), kDone})},
        {"version query", kQueryVersion, Cat({Reply(0x5A, "2.0.17"), kDone})},
        {"erase default", kEraseDefault, Cat({kEraseDefaultAck, Repeat(kBlockErased, 3), kDone})},
        {"erase all", kEraseAll, Cat({kEraseAllAck, Repeat(kBlockErased, 3), kDone})},
        {"program application", kProgramApplication,
         Cat({kProgramApplicationAck, Repeat(kBlockErased, 3), kProgramApplicationAck})},
        {"program both", kProgramBoth,
         Cat({kProgramBothAck, Repeat(kBlockErased, 3), kProgramBothAck})},
        {"abort", kAbort, kAbortAck},
        {"end of data", kEndOfData, kDone},
        {"start application", kStartApplication, kStartApplicationAck},
        {"block outside a programming run", kBlockFollows, kStatusE0},
    };
    SimOptions options = Simulating();
    options.erase_blocks = 3;
    options.variant = "ZigBee";
    options.version = "2.0.17";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TargetDriver d(options);
        d.Connect();
        EXPECT_EQ(d.Exchange(c.command, kT0 + 5), c.answer);
    }
}

TEST(SimulatedTarget, ReplyTextsFillTheWholeTextField) {
    SimOptions options = Simulating();
    options.variant = "";
    options.version = "123456789012345678901234";
    TargetDriver d(options);
    d.Connect();
    EXPECT_EQ(d.Exchange(kQueryVariant, kT0 + 1), Cat({Reply(0x55, ""), kDone}));
    EXPECT_EQ(d.Exchange(kQueryVersion, kT0 + 2),
              Cat({Reply(0x5A, "123456789012345678901234"), kDone}));
}

TEST(SimulatedTarget, EraseBlockCountFollowsTheOption) {
    for (uint32_t blocks : {0u, 1u, 16u, 40u}) {
        SCOPED_TRACE(blocks);
        SimOptions options = Simulating();
        options.erase_blocks = blocks;
        TargetDriver d(options);
        d.Connect();
        EXPECT_EQ(d.Exchange(kEraseAll, kT0 + 1),
                  Cat({kEraseAllAck, Repeat(kBlockErased, int(blocks)), kDone}));
    }
}

struct BlockCase {
    const char* name;
    Bytes start;  // the programming command
    Bytes block;
    Bytes answer;  // to the block bytes
    FlashContents flash;
};

FlashContents At(uint32_t base, const Bytes& data) {
    FlashContents f;
    for (size_t i = 0; i < data.size(); ++i) f[base + uint32_t(i)] = data[i];
    return f;
}

TEST(SimulatedTarget, StoresGoodBlocksAndRefusesOthers) {
    const Bytes three = {0x01, 0x02, 0x04};
    Bytes tail_junk = Block(0x4000, {0xAA, 0xBB});
    tail_junk[8 + 2] = 0x55;  // beyond the count: not data, not in the check
    const std::vector<BlockCase> cases = {
        {"three bytes", kProgramApplication, Block(0x4000, three), kProgramApplicationAck,
         At(0x4000, three)},
        {"three bytes, factory run", kProgramBoth, Block(0x4000, three), kProgramBothAck,
         At(0x4000, three)},
        {"full block", kProgramApplication, Block(0x12345600, Counting(256)),
         kProgramApplicationAck, At(0x12345600, Counting(256))},
        {"empty block", kProgramApplication, Block(0x4100, {}), kProgramApplicationAck, {}},
        {"bytes beyond the count", kProgramApplication, tail_junk, kProgramApplicationAck,
         At(0x4000, {0xAA, 0xBB})},
        {"addresses wrap",
         kProgramApplication,
         Block(0xFFFFFFFE, three),
         kProgramApplicationAck,
         {{0xFFFFFFFE, 0x01}, {0xFFFFFFFF, 0x02}, {0x0, 0x04}}},
        {"count 257", kProgramApplication, Block(0x4000, Counting(256), 257), kStatusE0, {}},
        {"huge count", kProgramApplication, Block(0x4000, three, 0xFFFFFFFF), kStatusE0, {}},
        {"check off by one bit",
         kProgramApplication,
         Block(0x4000, three, -1, 0x4006),
         kStatusE0,
         {}},
        {"check wrong in its high bits",
         kProgramBoth,
         Block(0x4000, three, -1, 0x10004007),
         kStatusE0,
         {}},
    };
    SimOptions options = Simulating();
    options.erase_blocks = 2;
    for (const BlockCase& c : cases) {
        SCOPED_TRACE(c.name);
        TargetDriver d(options);
        d.Connect();
        const Bytes& ack = c.start == kProgramBoth ? kProgramBothAck : kProgramApplicationAck;
        EXPECT_EQ(d.Exchange(c.start, kT0 + 1), Cat({ack, Repeat(kBlockErased, 2), ack}));
        EXPECT_EQ(d.Exchange(kBlockFollows, kT0 + 2), ack);
        EXPECT_EQ(d.Exchange(c.block, kT0 + 3), c.answer);
        EXPECT_EQ(d.target.Flash(), c.flash);
        // Whatever became of the block, the target is in step for the next.
        EXPECT_EQ(d.Exchange(kBlockFollows, kT0 + 4), ack);
        EXPECT_EQ(d.Exchange(Block(0x9000, {0x77}), kT0 + 5), ack);
        EXPECT_EQ(d.target.BlocksAccepted() + d.target.BlocksRefused(), 2u);
    }
}

TEST(SimulatedTarget, BlockBytesAreDataEvenWhenTheyLookLikeCommands) {
    TargetDriver d;
    d.Connect();
    d.Exchange(kProgramApplication, kT0 + 1);
    const Bytes data = Cat({kEndOfData, kStartApplication, kAck, {0x9C}});
    EXPECT_EQ(d.Exchange(kBlockFollows, kT0 + 2), kProgramApplicationAck);
    // Delivered in pieces, as the bridge's reports cut them.
    const Bytes block = Block(0x4000, data);
    d.Send(Bytes(block.begin(), block.begin() + 60), kT0 + 3);
    d.Send(Bytes(block.begin() + 60, block.begin() + 200), kT0 + 3);
    EXPECT_EQ(d.Exchange(Bytes(block.begin() + 200, block.end()), kT0 + 3), kProgramApplicationAck);
    EXPECT_EQ(d.target.Flash(), At(0x4000, data));
    EXPECT_EQ(d.Exchange(kQueryVariant, kT0 + 4), Cat({Reply(0x55, "Bluetooth"), kDone}));
}

TEST(SimulatedTarget, ProgrammingRunFillsTheFlashAndTheTargetLeaves) {
    TargetDriver d;
    d.Connect();
    EXPECT_EQ(d.Exchange(kProgramApplication, kT0 + 1),
              Cat({kProgramApplicationAck, Repeat(kBlockErased, 16), kProgramApplicationAck}));
    FlashContents expected;
    const uint32_t bases[] = {0x4000, 0x4100, 0x4200, 0x8000};
    for (uint32_t base : bases) {
        const Bytes data = Counting(base == 0x8000 ? 17 : 256, uint8_t(base >> 8));
        EXPECT_EQ(d.Exchange(Cat({kBlockFollows}), kT0 + 2), kProgramApplicationAck);
        EXPECT_EQ(d.Exchange(Block(base, data), kT0 + 2), kProgramApplicationAck);
        const FlashContents part = At(base, data);
        expected.insert(part.begin(), part.end());
    }
    EXPECT_EQ(d.Exchange(kEndOfData, kT0 + 3), kDone);
    EXPECT_EQ(d.target.Flash(), expected);
    EXPECT_EQ(d.target.TargetsProgrammed(), 1u);
    // Gone: nothing answers, nothing calls.
    EXPECT_EQ(d.Exchange(kAck, kT0 + 4), Bytes{});
    EXPECT_EQ(d.Collect(kT0 + 60000), Bytes{});
    EXPECT_EQ(d.next, kNever);
    EXPECT_EQ(d.target.Flash(), expected);  // the last target's flash stays readable
}

TEST(SimulatedTarget, EraseClearsWhatWasProgrammed) {
    for (const Bytes& erase : {kEraseDefault, kEraseAll, kProgramApplication, kProgramBoth}) {
        SCOPED_TRACE(::testing::PrintToString(erase));
        TargetDriver d;
        d.Connect();
        d.Exchange(kProgramApplication, kT0 + 1);
        d.Exchange(kBlockFollows, kT0 + 2);
        d.Exchange(Block(0x4000, {1, 2}), kT0 + 2);
        ASSERT_EQ(d.target.Flash().size(), 2u);
        d.Exchange(erase, kT0 + 3);
        EXPECT_TRUE(d.target.Flash().empty());
    }
}

TEST(SimulatedTarget, EraseAndAbortEndTheProgrammingRun) {
    for (const Bytes& end : {kEraseDefault, kEraseAll, kAbort}) {
        SCOPED_TRACE(::testing::PrintToString(end));
        TargetDriver d;
        d.Connect();
        d.Exchange(kProgramBoth, kT0 + 1);
        d.Exchange(end, kT0 + 2);
        EXPECT_EQ(d.Exchange(kBlockFollows, kT0 + 3), kStatusE0);
        // EndOfData outside a run still starts the application, but nothing
        // was programmed.
        EXPECT_EQ(d.Exchange(kEndOfData, kT0 + 4), kDone);
        EXPECT_EQ(d.target.TargetsProgrammed(), 0u);
    }
}

TEST(SimulatedTarget, ClosingTheBridgeForgetsTheHandshake) {
    TargetDriver d;
    d.Connect();
    d.Exchange(kProgramApplication, kT0 + 1);
    d.Close(kT0 + 10);
    d.Open(kT0 + 20);
    EXPECT_EQ(d.Collect(kT0 + 20), Bytes{});
    EXPECT_EQ(d.next, kT0 + 50);
    EXPECT_EQ(d.Collect(kT0 + 50), kCall);
    EXPECT_EQ(d.Exchange(kQueryVariant, kT0 + 60), Bytes{});  // not acknowledged any more
    EXPECT_EQ(d.Exchange(kAck, kT0 + 70), kTargetAck);
    // The programming run went with the handshake.
    EXPECT_EQ(d.Exchange(kBlockFollows, kT0 + 80), kStatusE0);
}

TEST(SimulatedTarget, ClosingInTheMiddleOfABlockLeavesNoHalfBlock) {
    TargetDriver d;
    d.Connect();
    d.Exchange(kProgramApplication, kT0 + 1);
    d.Exchange(kBlockFollows, kT0 + 2);
    d.Send(Bytes(100, 0x00), kT0 + 3);
    d.Close(kT0 + 4);
    d.Open(kT0 + 100);
    EXPECT_EQ(d.Collect(kT0 + 100), kCall);
    EXPECT_EQ(d.Exchange(kAck, kT0 + 101), kTargetAck);
}

TEST(SimulatedTarget, BytesWrittenJustBeforeTheCloseStillArrive) {
    SimOptions options = Simulating();
    options.baud = 9600;
    options.targets = 2;
    TargetDriver d(options);
    d.Open(kT0);
    d.Collect(kT0 + 5);
    d.Send(kAck, kT0 + 5);
    d.Collect(kT0 + 50);
    d.Send(kStartApplication, kT0 + 50);
    d.Close(kT0 + 50);  // the four bytes are still on the line
    EXPECT_EQ(d.target.Commands().back(), (ReceivedCommand{0xBB, 1, true}));
    d.Open(kT0 + 600);
    EXPECT_EQ(d.target.TargetsArrived(), 2u);
}

struct LeaveCase {
    const char* name;
    Bytes command;
    Bytes answer;
};

TEST(SimulatedTarget, NextTargetArrivesHalfASecondAfterOneLeaves) {
    const LeaveCase cases[] = {{"end of data", kEndOfData, kDone},
                               {"start application", kStartApplication, kStartApplicationAck}};
    SimOptions options = Simulating();
    options.targets = 2;
    for (const LeaveCase& c : cases) {
        SCOPED_TRACE(c.name);
        TargetDriver d(options);
        d.Connect();
        d.Exchange(kProgramApplication, kT0 + 1);
        d.Exchange(kBlockFollows, kT0 + 1);
        d.Exchange(Block(0x4000, {9}), kT0 + 1);
        EXPECT_EQ(d.Exchange(c.command, kT0 + 10), c.answer);
        EXPECT_EQ(d.Collect(kT0 + 509), Bytes{});
        EXPECT_EQ(d.next, kT0 + 510);
        EXPECT_EQ(d.Collect(kT0 + 510), kCall);
        EXPECT_EQ(d.target.TargetsArrived(), 2u);
        EXPECT_TRUE(d.target.Flash().empty());  // a new target, a new flash
        EXPECT_EQ(d.Exchange(kAck, kT0 + 520), kTargetAck);
        EXPECT_EQ(d.Exchange(c.command, kT0 + 530), c.answer);
        // The last one is gone for good.
        EXPECT_EQ(d.Collect(kT0 + 5000), Bytes{});
        EXPECT_EQ(d.next, kNever);
        EXPECT_EQ(d.target.TargetsArrived(), 2u);
    }
}

TEST(SimulatedTarget, WithoutTargetsTheLineStaysQuiet) {
    SimOptions options = Simulating();
    options.targets = 0;
    TargetDriver d(options);
    d.Open(kT0);
    EXPECT_EQ(d.Collect(kT0 + 1000), Bytes{});
    EXPECT_EQ(d.Exchange(kAck, kT0 + 1000), Bytes{});
    EXPECT_EQ(d.next, kNever);
}

TEST(SimulatedTarget, SkipsBytesThatCannotStartACommand) {
    struct Case {
        const char* name;
        Bytes noise;
    };
    const Case cases[] = {
        {"plain noise", {0x00, 0xFF, 0x8C, 0xCA}},
        {"a stray lead byte", {0x9C}},
        {"two stray lead bytes", {0x9C, 0x9C}},
        {"a command with a wrong check", {0x9C, 0xCA, 0xFD, 0xAA}},
        {"a command with byte 2 wrong", {0x9C, 0xCA, 0xFC, 0xAA}},
        {"an unknown command with a right check", {0x9C, 0x12, 0xFD, 0x73}},
        {"a response", {0x8C, 0xCA, 0xAC, 0xEA}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TargetDriver d;
        d.Open(kT0);
        d.Collect(kT0);
        EXPECT_EQ(d.Exchange(c.noise, kT0 + 1), Bytes{});
        EXPECT_EQ(d.Exchange(kAck, kT0 + 2), kTargetAck);
        EXPECT_EQ(d.Exchange(c.noise, kT0 + 3), Bytes{});
        EXPECT_EQ(d.Exchange(kQueryVariant, kT0 + 4), Cat({Reply(0x55, "Bluetooth"), kDone}));
        EXPECT_EQ(d.target.Commands().size(), 2u);
    }
}

// --- Line speed and flash timing ------------------------------------------

TEST(SimulatedTarget, BytesTakeTenBitTimesEachWay) {
    SimOptions options = Simulating();
    options.baud = 10000;  // one byte per millisecond
    TargetDriver d(options);
    d.Open(kT0);
    EXPECT_EQ(d.Collect(kT0), Bytes{});
    EXPECT_EQ(d.next, kT0 + 1);
    EXPECT_EQ(d.Collect(kT0 + 3), Bytes(kCall.begin(), kCall.begin() + 3));
    EXPECT_EQ(d.Collect(kT0 + 4), Bytes{kCall[3]});
    d.Send(kAck, kT0 + 4);  // arrives at +8; the answer's last byte at +12
    EXPECT_EQ(d.Collect(kT0 + 11), Bytes(kTargetAck.begin(), kTargetAck.begin() + 3));
    EXPECT_EQ(d.next, kT0 + 12);
    EXPECT_EQ(d.Collect(kT0 + 12), Bytes{kTargetAck[3]});
}

TEST(SimulatedTarget, ErasingAndWritingTakeFlashTime) {
    SimOptions options = Simulating();
    options.baud = 10000;
    options.erase_blocks = 2;
    TargetDriver d(options);
    d.Open(kT0);
    d.Collect(kT0 + 4);
    d.Send(kAck, kT0 + 4);
    d.Collect(kT0 + 12);
    const int64_t t = kT0 + 100;
    d.Send(kProgramApplication, t);  // arrives at t+4
    // Commands sent meanwhile wait until the flash is done.
    d.Send(kQueryVariant, t);  // arrives at t+8, taken at t+44
    struct Step {
        int64_t at;
        Bytes bytes;
    };
    const Step steps[] = {
        {t + 8, kProgramApplicationAck},  // +5..+8
        {t + 24, Bytes{}},
        {t + 28, kBlockErased},  // ready at +24, on the line +25..+28
        {t + 48, kBlockErased},  // ready at +44
        {t + 52, kProgramApplicationAck},
        {t + 80, Reply(0x55, "Bluetooth")},
        {t + 84, kDone},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.at - t);
        EXPECT_EQ(d.Collect(s.at), s.bytes);
    }
    const int64_t b = kT0 + 1000;
    d.Send(kBlockFollows, b);
    EXPECT_EQ(d.Collect(b + 8), kProgramApplicationAck);
    d.Send(Block(0x4000, Counting(256)), b + 8);            // last byte arrives at +276
    EXPECT_EQ(d.Collect(b + 278), Bytes{});                 // written by +278
    EXPECT_EQ(d.Collect(b + 282), kProgramApplicationAck);  // on the line +279..+282
}

// --- Faults -------------------------------------------------------------------

// A session with everything in it; returns all the target sent.
Bytes Session(const SimOptions& options, uint64_t* received = nullptr) {
    TargetDriver d(options);
    Bytes all;
    int64_t t = kT0;
    d.Open(t);
    auto take = [&](const Bytes& b) {
        t += 7;
        d.Send(b, t);
        const Bytes got = d.Collect(t);
        all.insert(all.end(), got.begin(), got.end());
    };
    take({});
    take(kAck);
    take(kQueryVariant);
    take(kQueryVersion);
    take(kProgramApplication);
    for (uint32_t base = 0x4000; base < 0x4400; base += 0x100) {
        take(kBlockFollows);
        take(Block(base, Counting(256, uint8_t(base >> 8))));
    }
    take(kEndOfData);
    if (received) *received = d.target.BytesReceived();
    return all;
}

TEST(SimulatedTarget, FaultsRepeatWithTheSeed) {
    SimOptions options = Simulating();
    options.faults.drop_ppb = 2000000;
    options.faults.flip_ppb = 2000000;
    options.faults.noise_ppb = 300000000;
    options.seed = 7;
    uint64_t received_a = 0, received_b = 0, received_c = 0;
    const Bytes a = Session(options, &received_a);
    const Bytes b = Session(options, &received_b);
    EXPECT_EQ(a, b);
    EXPECT_EQ(received_a, received_b);
    options.seed = 8;
    const Bytes c = Session(options, &received_c);
    EXPECT_NE(a, c);
    // Without faults every byte arrives; with them some did not.
    uint64_t clean_received = 0;
    Session(Simulating(), &clean_received);
    EXPECT_LT(received_a, clean_received);
}

uint64_t Fnv1a(const Bytes& bytes) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (uint8_t b : bytes) h = (h ^ b) * 0x100000001B3ull;
    return h;
}

// Measured once on Linux; Windows must draw exactly the same faults from the
// same seed. A deliberate change of the fault recipe changes these numbers.
TEST(SimulatedTarget, FaultsAreTheSameOnEveryPlatform) {
    SimOptions options = Simulating();
    options.faults.drop_ppb = 2000000;
    options.faults.flip_ppb = 2000000;
    options.faults.noise_ppb = 300000000;
    options.seed = 7;
    uint64_t received = 0;
    const Bytes sent = Session(options, &received);
    EXPECT_EQ(sent.size(), 213u);
    EXPECT_EQ(received, 1105u);
    EXPECT_EQ(Fnv1a(sent), 0xFE35AEBDCBA7B428ull);
}

TEST(SimulatedTarget, DroppedBytesNeverArrive) {
    SimOptions options = Simulating();
    options.faults.drop_ppb = 1000000000;
    TargetDriver d(options);
    d.Open(kT0);
    EXPECT_EQ(d.Collect(kT0 + 100), Bytes{});
    EXPECT_EQ(d.Exchange(kAck, kT0 + 100), Bytes{});
    EXPECT_EQ(d.target.BytesReceived(), 0u);
}

TEST(SimulatedTarget, FlippedBytesDifferInExactlyOneBit) {
    SimOptions options = Simulating();
    options.faults.flip_ppb = 1000000000;
    TargetDriver d(options);
    d.Open(kT0);
    const Bytes calls = d.Collect(kT0 + 450);
    ASSERT_EQ(calls.size(), 40u);
    for (size_t i = 0; i < calls.size(); ++i) {
        const unsigned diff = calls[i] ^ kCall[i % 4];
        EXPECT_TRUE(diff != 0 && (diff & (diff - 1)) == 0) << i;
    }
    // The host's Ack is flipped too, so it is no Ack any more.
    EXPECT_EQ(d.Exchange(kAck, kT0 + 460), Bytes{});
}

TEST(SimulatedTarget, NoiseComesBeforeAPacket) {
    SimOptions options = Simulating();
    options.faults.noise_ppb = 1000000000;
    TargetDriver d(options);
    d.Open(kT0);
    for (int64_t at = 0; at <= 500; at += 50) {
        const Bytes got = d.Collect(kT0 + at);
        ASSERT_GE(got.size(), 5u);
        ASSERT_LE(got.size(), 12u);
        EXPECT_EQ(Bytes(got.end() - 4, got.end()), kCall);
    }
}

TEST(SimulatedTarget, SilenceStopsTheTargetAfterNBytes) {
    struct Case {
        uint64_t after;
        Bytes expected;  // all the host gets: the call, the Ack's answer, the query's
    };
    const Bytes query = Cat({Reply(0x55, "Bluetooth"), kDone});
    const Case cases[] = {
        {0, {}},
        {4, kCall},  // the Ack was the fourth byte: no TargetAck
        {5, Cat({kCall, kTargetAck})},
        {100, Cat({kCall, kTargetAck, query})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.after);
        SimOptions options = Simulating();
        options.faults.silence_after = c.after;
        TargetDriver d(options);
        d.Open(kT0);
        const Bytes got =
            Cat({d.Collect(kT0), d.Exchange(kAck, kT0 + 1), d.Exchange(kQueryVariant, kT0 + 2)});
        EXPECT_EQ(got, c.expected);
        if (c.after <= 4) {
            // Silent for good, and it does not wake the bridge for nothing.
            d.Close(kT0 + 10);
            d.Open(kT0 + 20);
            EXPECT_EQ(d.Collect(kT0 + 20000), Bytes{});
            EXPECT_EQ(d.next, kNever);
        }
    }
}

TEST(SimulatedTarget, UnplugPullsTheSharedPlugAfterNBytes) {
    SimOptions options = Simulating();
    options.faults.unplug_after = 6;
    PlugState plug;
    TargetDriver d(options, &plug);
    d.Connect();
    EXPECT_TRUE(plug.Plugged());
    EXPECT_EQ(d.Exchange({0x9C, 0x55}, kT0 + 1), Bytes{});
    EXPECT_FALSE(plug.Plugged());
    EXPECT_TRUE(d.target.Unplugged());
    EXPECT_EQ(d.Exchange({0xFD, 0x34}, kT0 + 2), Bytes{});
    EXPECT_EQ(d.target.BytesReceived(), 6u);
}

// --- Files ---------------------------------------------------------------------

std::string ReadAll(const std::string& path) {
    std::string content;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        int c;
        while ((c = std::fgetc(f)) != EOF) content += char(c);
        std::fclose(f);
    }
    return content;
}

TEST(SimulatedTarget, SerialLogHoldsEveryReceivedByteAcrossConnectionsAndTargets) {
    const std::string path = ::testing::TempDir() + "farsend_serial_log_test.bin";
    SimOptions options = Simulating();
    options.targets = 2;
    TargetDriver d(options);
    std::string error;
    ASSERT_TRUE(d.target.OpenSerialLog(path, error)) << error;
    const Bytes noise = {0x00, 0x9C, 0xFF};
    d.Open(kT0);
    d.Exchange(noise, kT0);
    d.Exchange(kQueryVariant, kT0);  // ignored, still received
    d.Exchange(kAck, kT0);
    d.Close(kT0 + 1);
    d.Open(kT0 + 2);
    d.Exchange(kAck, kT0 + 2);
    d.Exchange(kStartApplication, kT0 + 3);
    d.Exchange(kAck, kT0 + 600);  // the second target
    const Bytes sent = Cat({noise, kQueryVariant, kAck, kAck, kStartApplication, kAck});
    const std::string log = ReadAll(path);  // flushed without closing
    EXPECT_EQ(Bytes(log.begin(), log.end()), sent);
    EXPECT_EQ(d.target.BytesReceived(), sent.size());
    std::remove(path.c_str());
}

TEST(SimulatedTarget, FlashOutIsTheFirmwareFileOfTheFlash) {
    const std::string path = ::testing::TempDir() + "farsend_flash_out_target.hex";
    TargetDriver d;
    d.Connect();
    d.Exchange(kProgramApplication, kT0 + 1);
    d.Exchange(kBlockFollows, kT0 + 2);
    d.Exchange(Block(0x4000, {0xDE, 0xAD}), kT0 + 2);
    d.Exchange(kBlockFollows, kT0 + 3);
    d.Exchange(Block(0x4002, {0xBE, 0xEF}), kT0 + 3);
    std::string error;
    ASSERT_TRUE(d.target.WriteFlashOut(path, error)) << error;
    EXPECT_EQ(ReadAll(path), "00004000\nDE AD BE EF\n");
    std::remove(path.c_str());
}

}  // namespace
}  // namespace farsend::sim
