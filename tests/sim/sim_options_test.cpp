#include "sim/sim_options.h"

#include <gtest/gtest.h>

#include <functional>

namespace farsend::sim {
namespace {

struct AcceptCase {
    std::vector<std::string> args;
    std::vector<std::string> rest;            // words left for the front end's own parser
    std::function<void(SimOptions&)> expect;  // turns the defaults into the expected options
};

void ExpectSame(const SimOptions& a, const SimOptions& b) {
    EXPECT_EQ(a.simulate, b.simulate);
    EXPECT_EQ(a.variant, b.variant);
    EXPECT_EQ(a.version, b.version);
    EXPECT_EQ(a.erase_blocks, b.erase_blocks);
    EXPECT_EQ(a.baud, b.baud);
    EXPECT_EQ(a.report_length, b.report_length);
    EXPECT_EQ(a.legacy_hid, b.legacy_hid);
    EXPECT_EQ(a.targets, b.targets);
    EXPECT_TRUE(a.faults == b.faults);
    EXPECT_EQ(a.seed, b.seed);
    EXPECT_EQ(a.serial_log, b.serial_log);
    EXPECT_EQ(a.flash_out, b.flash_out);
    EXPECT_EQ(a.flash_dir, b.flash_dir);
    EXPECT_EQ(a.bridges, b.bridges);
    EXPECT_EQ(a.bridge_faults.size(), b.bridge_faults.size());
    for (const auto& [bridge, plan] : b.bridge_faults) {
        EXPECT_TRUE(a.bridge_faults.count(bridge) && a.bridge_faults.at(bridge) == plan) << bridge;
    }
    EXPECT_EQ(a.bridge_variant, b.bridge_variant);
    EXPECT_EQ(a.bridge_version, b.bridge_version);
    EXPECT_EQ(a.real_time, b.real_time);
}

TEST(SimOptions, AcceptedWordsAreTakenOutAndRead) {
    const std::vector<AcceptCase> cases = {
        {{"farsend", "exit", "C:\\fw"}, {"farsend", "exit", "C:\\fw"}, [](SimOptions&) {}},
        {{"--simulate"}, {}, [](SimOptions& o) { o.simulate = true; }},
        {{"a", "--simulate", "b", "--sim-baud=115200", "c"},
         {"a", "b", "c"},
         [](SimOptions& o) {
             o.simulate = true;
             o.baud = 115200;
         }},
        {{"--simulate", "--sim-variant=ZigBee", "--sim-version=2"},
         {},
         [](SimOptions& o) {
             o.simulate = true;
             o.variant = "ZigBee";
             o.version = "2";
         }},
        // Empty texts are allowed: a target that reports nothing.
        {{"--simulate", "--sim-variant=", "--sim-version=123456789012345678901234"},
         {},
         [](SimOptions& o) {
             o.simulate = true;
             o.variant = "";
             o.version = "123456789012345678901234";
         }},
        {{"--simulate", "--sim-erase-blocks=0", "--sim-targets=3", "--sim-report-length=33",
          "--sim-legacy-hid", "--sim-seed=18446744073709551615"},
         {},
         [](SimOptions& o) {
             o.simulate = true;
             o.erase_blocks = 0;
             o.targets = 3;
             o.report_length = 33;
             o.legacy_hid = true;
             o.seed = 18446744073709551615ull;
         }},
        {{"--sim-serial-log=in.bin", "--simulate", "--sim-flash-out=out dir/flash.hex"},
         {},
         [](SimOptions& o) {
             o.simulate = true;
             o.serial_log = "in.bin";
             o.flash_out = "out dir/flash.hex";
         }},
        // One folder for every bridge: the files' names keep them apart.
        {{"--simulate", "--sim-bridges=2", "--sim-flash-dir=flash dir"},
         {},
         [](SimOptions& o) {
             o.simulate = true;
             o.bridges = 2;
             o.flash_dir = "flash dir";
         }},
        {{"--simulate", "--sim-faults=drop=0.01,flip=.5,noise=1,silence=300,unplug=0"},
         {},
         [](SimOptions& o) {
             o.simulate = true;
             o.faults.drop_ppb = 10000000;
             o.faults.flip_ppb = 500000000;
             o.faults.noise_ppb = 1000000000;
             o.faults.silence_after = 300;
             o.faults.unplug_after = 0;
         }},
        {{"--simulate", "--sim-faults=flip=0.000000001,drop=1.0"},
         {},
         [](SimOptions& o) {
             o.simulate = true;
             o.faults.flip_ppb = 1;
             o.faults.drop_ppb = 1000000000;
         }},
        {{"--simulate", "--sim-faults="}, {}, [](SimOptions& o) { o.simulate = true; }},
        // Several bridges, some with settings of their own.
        {{"--simulate", "--sim-bridges=4", "--sim-faults=2:unplug=900", "--sim-faults=drop=0.5",
          "--sim-faults=4:silence=10", "--sim-variant=3:ZigBee", "--sim-version=3:2.0.3",
          "--sim-real-time"},
         {},
         [](SimOptions& o) {
             o.simulate = true;
             o.bridges = 4;
             o.faults.drop_ppb = kProbabilityScale / 2;
             o.bridge_faults[2].unplug_after = 900;
             o.bridge_faults[4].silence_after = 10;
             o.bridge_variant[3] = "ZigBee";
             o.bridge_version[3] = "2.0.3";
             o.real_time = true;
         }},
        // A text that only looks like a bridge's is everyone's.
        {{"--simulate", "--sim-version=v1:5"},
         {},
         [](SimOptions& o) {
             o.simulate = true;
             o.version = "v1:5";
         }},
        // The last of a repeated option counts.
        {{"--simulate", "--sim-baud=9600", "--sim-baud=0"},
         {},
         [](SimOptions& o) { o.simulate = true; }},
    };
    for (const AcceptCase& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        std::vector<std::string> args = c.args;
        const SimOptionsResult result = TakeSimOptions(args);
        EXPECT_EQ(result.error, "");
        EXPECT_EQ(args, c.rest);
        SimOptions expected;
        c.expect(expected);
        ExpectSame(result.options, expected);
    }
}

struct RefuseCase {
    std::vector<std::string> args;
    std::string message;
};

TEST(SimOptions, BadWordsAreRefusedNamingTheOption) {
    const std::vector<RefuseCase> cases = {
        {{"--simulate", "--sim-baud=fast"},
         "--sim-baud: \"fast\" is not a whole number from 0 to 12000000"},
        {{"--simulate", "--sim-baud=-1"},
         "--sim-baud: \"-1\" is not a whole number from 0 to 12000000"},
        {{"--simulate", "--sim-baud=12000001"},
         "--sim-baud: \"12000001\" is not a whole number from 0 to 12000000"},
        {{"--simulate", "--sim-baud"}, "--sim-baud needs a value: --sim-baud=N"},
        {{"--simulate", "--sim-baud="},
         "--sim-baud: \"\" is not a whole number from 0 to 12000000"},
        {{"--simulate", "--sim-erase-blocks=1e3"},
         "--sim-erase-blocks: \"1e3\" is not a whole number from 0 to 100000"},
        {{"--simulate", "--sim-report-length=3"},
         "--sim-report-length: \"3\" is not a whole number from 4 to 4096"},
        {{"--simulate", "--sim-report-length=4097"},
         "--sim-report-length: \"4097\" is not a whole number from 4 to 4096"},
        {{"--simulate", "--sim-targets=99999999999999999999999"},
         "--sim-targets: \"99999999999999999999999\" is not a whole number from 0 to 1000000"},
        {{"--simulate", "--sim-seed=18446744073709551616"},
         "--sim-seed: \"18446744073709551616\" is not a whole number from 0 to "
         "18446744073709551615"},
        {{"--simulate", "--sim-variant=1234567890123456789012345"},
         "--sim-variant: \"1234567890123456789012345\" is longer than 24 characters"},
        {{"--simulate", "--sim-version"}, "--sim-version needs a value: --sim-version=TEXT"},
        {{"--simulate", "--sim-serial-log="},
         "--sim-serial-log needs a file name: --sim-serial-log=FILE"},
        {{"--simulate", "--sim-flash-out"},
         "--sim-flash-out needs a file name: --sim-flash-out=FILE"},
        {{"--simulate", "--sim-flash-dir="}, "--sim-flash-dir needs a folder: --sim-flash-dir=DIR"},
        {{"--sim-flash-dir=flash"}, "--sim-flash-dir has no effect without --simulate"},
        {{"--simulate=yes"}, "--simulate takes no value"},
        {{"--simulate", "--sim-legacy-hid=1"}, "--sim-legacy-hid takes no value"},
        {{"--simulate", "--sim-speed=9600"}, "unknown simulator option --sim-speed"},
        {{"--simulated"}, "unknown simulator option --simulated"},
        {{"--sim-baud=9600"}, "--sim-baud has no effect without --simulate"},
        {{"--simulate", "--sim-faults"}, "--sim-faults needs a value: --sim-faults=LIST"},
        {{"--simulate", "--sim-faults=drop=1.5"},
         "--sim-faults: drop needs a probability from 0 to 1, as in drop=0.01"},
        {{"--simulate", "--sim-faults=flip=0.5."},
         "--sim-faults: flip needs a probability from 0 to 1, as in flip=0.01"},
        {{"--simulate", "--sim-faults=noise=0.0000000001"},
         "--sim-faults: noise needs a probability from 0 to 1, as in noise=0.01"},
        {{"--simulate", "--sim-faults=drop"},
         "--sim-faults: drop needs a probability from 0 to 1, as in drop=0.01"},
        {{"--simulate", "--sim-faults=silence=-3"},
         "--sim-faults: silence needs a whole number of bytes, as in silence=100"},
        {{"--simulate", "--sim-faults=unplug=0.5"},
         "--sim-faults: unplug needs a whole number of bytes, as in unplug=100"},
        {{"--simulate", "--sim-faults=drop=0.1,drop=0.2"}, "--sim-faults: drop is given twice"},
        {{"--simulate", "--sim-faults=drop=0.1,"}, "--sim-faults: the list ends with a comma"},
        {{"--simulate", "--sim-faults=drop=0.1,,flip=0"},
         "--sim-faults: unknown fault \"\" (known: drop=P, flip=P, noise=P, silence=N, "
         "unplug=N)"},
        {{"--simulate", "--sim-faults=burst=3"},
         "--sim-faults: unknown fault \"burst=3\" (known: drop=P, flip=P, noise=P, silence=N, "
         "unplug=N)"},
        {{"--simulate", "--sim-bridges=0"},
         "--sim-bridges: \"0\" is not a whole number from 1 to 64"},
        {{"--simulate", "--sim-bridges=65"},
         "--sim-bridges: \"65\" is not a whole number from 1 to 64"},
        {{"--simulate", "--sim-faults=2:unplug=900"},
         "--sim-faults: there is no bridge 2 (1 simulated; --sim-bridges=N sets how many)"},
        {{"--simulate", "--sim-bridges=2", "--sim-variant=3:ZigBee"},
         "--sim-variant: there is no bridge 3 (2 simulated; --sim-bridges=N sets how many)"},
        {{"--simulate", "--sim-bridges=2", "--sim-faults=0:drop=1"},
         "--sim-faults: \"0\" is not a bridge number from 1 to 64, as in --sim-faults=2:..."},
        {{"--simulate", "--sim-bridges=2", "--sim-faults=2:drop=1", "--sim-faults=2:flip=1"},
         "--sim-faults: bridge 2 is given twice"},
        {{"--simulate", "--sim-bridges=2", "--sim-faults=2:drop=2"},
         "--sim-faults: drop needs a probability from 0 to 1, as in drop=0.01"},
        {{"--simulate", "--sim-real-time=1"}, "--sim-real-time takes no value"},
        {{"--simulate", "--sim-swap"}, "--sim-swap needs a value: --sim-swap=MS[,VARIANT]"},
        {{"--simulate", "--sim-swap=soon"},
         "--sim-swap: \"soon\" is not a time in milliseconds from 0 to 3600000, as in "
         "--sim-swap=2000"},
        {{"--simulate", "--sim-swap=300,"}, "--sim-swap: the variant after the comma is empty"},
        {{"--simulate", "--sim-swap=2:300"},
         "--sim-swap: there is no bridge 2 (1 simulated; --sim-bridges=N sets how many)"},
    };
    for (const RefuseCase& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        std::vector<std::string> args = c.args;
        args.push_back("keep-me");
        const SimOptionsResult result = TakeSimOptions(args);
        EXPECT_FALSE(result.ok());
        EXPECT_EQ(result.error, c.message);
        // The front end's own words stay even when ours are refused.
        EXPECT_EQ(args, std::vector<std::string>{"keep-me"});
    }
}

// Each bridge of several gets its own faults, texts, seed and files; what
// no bridge has of its own is everyone's.
TEST(SimOptions, ForBridgeGivesEachBridgeItsOwn) {
    std::vector<std::string> args = {"--simulate",
                                     "--sim-bridges=3",
                                     "--sim-seed=7",
                                     "--sim-faults=drop=0.5",
                                     "--sim-faults=2:unplug=900",
                                     "--sim-variant=3:ZigBee",
                                     "--sim-flash-out=out/flash.hex",
                                     "--sim-serial-log=serial"};
    const SimOptionsResult parsed = TakeSimOptions(args);
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    struct Row {
        uint32_t bridge;
        uint32_t drop_ppb;
        std::optional<uint64_t> unplug;
        std::string variant;
        uint64_t seed;
        std::string flashOut;
        std::string serialLog;
    };
    const std::vector<Row> rows = {
        {1, kProbabilityScale / 2, std::nullopt, "Bluetooth", 7, "out/flash-1.hex", "serial-1"},
        {2, 0, 900, "Bluetooth", 8, "out/flash-2.hex", "serial-2"},
        {3, kProbabilityScale / 2, std::nullopt, "ZigBee", 9, "out/flash-3.hex", "serial-3"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.bridge);
        const SimOptions bridge = ForBridge(parsed.options, row.bridge);
        EXPECT_EQ(bridge.bridge_number, row.bridge);
        EXPECT_EQ(bridge.faults.drop_ppb, row.drop_ppb);
        EXPECT_EQ(bridge.faults.unplug_after, row.unplug);
        EXPECT_EQ(bridge.variant, row.variant);
        EXPECT_EQ(bridge.seed, row.seed);
        EXPECT_EQ(bridge.flash_out, row.flashOut);
        EXPECT_EQ(bridge.serial_log, row.serialLog);
    }
    // One bridge keeps its file names as given.
    EXPECT_EQ(BridgeFileName("a.b/flash", 1, 1), "a.b/flash");
    EXPECT_EQ(BridgeFileName("a.b/flash", 2, 2), "a.b/flash-2");
    EXPECT_EQ(BridgeFileName(".hidden", 2, 2), ".hidden-2");
}

}  // namespace
}  // namespace farsend::sim
