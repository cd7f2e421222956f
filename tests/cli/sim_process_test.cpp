// farsend as a process against the simulated bridge and target: what goes
// down the serial line, what lands in the flash, the records, and every exit
// status from its real cause. The simulation runs in simulated time, so its
// waits (a target that never calls, 13-second silences) cost nothing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/process_files.h"
#include "cli/process_runner.h"
#include "firmware/platform_paths.h"
#include "link/bridge_ids.h"
#include "protocol/flash_block.h"
#include "protocol/image_reader.h"
#include "protocol/packets.h"
#include "sim/flash_file.h"
#include "sim/sample_firmware.h"
#include "support/temp_directory.h"

namespace farsend::cli {
namespace {

using farsend::testing::ProcessFiles;
using farsend::testing::ProcessResult;
using farsend::testing::RunFarsend;
using protocol::Command;
using ::testing::HasSubstr;
using Bytes = std::vector<std::uint8_t>;
using Json = nlohmann::json;

void Append(Bytes& bytes, Command command) {
    for (std::uint32_t element : protocol::GetCommandPacket(command)) {
        bytes.push_back(static_cast<std::uint8_t>(element));
    }
}

// What the target must receive for a programming run of `path`.
Bytes ProgrammingStream(const std::string& path, bool validate, bool factory) {
    Bytes bytes;
    Append(bytes, Command::Ack);
    if (validate) {
        Append(bytes, Command::QueryVariant);
        Append(bytes, Command::QueryVersion);
    }
    Append(bytes, factory ? Command::ProgramBootloaderAndApplication : Command::ProgramApplication);
    const auto plan = protocol::PlanProgrammingFile(path);
    EXPECT_TRUE(plan && plan->endsWithEndOfData);
    for (const protocol::FlashBlock& block : plan->blocks) {
        Append(bytes, Command::BlockFollows);
        const protocol::FlashBlockBytes wire = protocol::SerializeFlashBlock(block);
        bytes.insert(bytes.end(), wire.begin(), wire.end());
    }
    Append(bytes, Command::EndOfData);
    return bytes;
}

Bytes ReadBytes(const std::filesystem::path& path) {
    const std::string text = ProcessFiles::Read(path);
    return Bytes(text.begin(), text.end());
}

// Address -> byte of a firmware file, read by the image reader.
sim::FlashContents ContentsOfFile(const std::string& path) {
    sim::FlashContents contents;
    const auto plan = protocol::PlanProgrammingFile(path);
    EXPECT_TRUE(plan && !plan->error) << path;
    if (!plan) return contents;
    for (const protocol::FlashBlock& block : plan->blocks) {
        for (std::uint32_t i = 0; i < block.count; ++i)
            contents[block.baseAddress + i] = block.data[i];
    }
    return contents;
}

sim::FlashContents ContentsOfImage(const sim::SampleImage& image) {
    sim::FlashContents contents;
    for (const sim::ImageRun& run : image.runs) {
        for (size_t i = 0; i < run.data.size(); ++i) {
            contents[run.address + static_cast<std::uint32_t>(i)] = run.data[i];
        }
    }
    return contents;
}

const sim::SampleImage& Sample(const std::string& name) {
    static const std::vector<sim::SampleImage> set = sim::SampleImageSet();
    for (const sim::SampleImage& image : set) {
        if (image.fileName == name) return image;
    }
    ADD_FAILURE() << "no sample " << name;
    return set.front();
}

class SimProcess : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim::WriteSampleSet(firmware_)); }

    std::string Image(const std::string& name) const { return (firmware_ / name).string(); }
    std::string Log() const { return (temp_.path() / "serial.bin").string(); }
    std::string Flash() const { return (temp_.path() / "flash.hex").string(); }
    std::string Report() const { return (temp_.path() / "units.jsonl").string(); }

    farsend::testing::TempDirectory temp_;
    std::filesystem::path firmware_ = temp_.path() / "firmware";
};

TEST_F(SimProcess, ProgramSendsTheGuiStreamAndTheFlashHoldsTheImage) {
    struct Case {
        std::vector<std::string> extra;
        std::string image;
        bool validate;
        bool factory;
    };
    const std::vector<Case> cases = {
        {{}, "Farsend_15_bt.hex", true, false},
        {{"--no-validate"}, "Farsend_15_bt.hex", false, false},
        {{"--factory"}, "Farsend_15_bt_f.hex", true, true},
        // Ends exactly on a block boundary: an empty last block goes too.
        {{"--variant", "zigbee", "--hw", "2.0", "--sim-variant=ZigBee", "--sim-version=2.0.3"},
         "Farsend_20_802.hex",
         true,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.image);
        std::vector<std::string> words = {"--simulate",
                                          "--sim-serial-log=" + Log(),
                                          "--sim-flash-out=" + Flash(),
                                          "program",
                                          "--dir",
                                          firmware_.string(),
                                          "--quiet"};
        words.insert(words.end(), c.extra.begin(), c.extra.end());
        const ProcessResult run = RunFarsend(words);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_THAT(run.out, HasSubstr("programmed " + c.image));
        EXPECT_EQ(run.err, "");  // --quiet: no progress, and nothing went wrong

        EXPECT_EQ(ReadBytes(Log()), ProgrammingStream(Image(c.image), c.validate, c.factory));
        EXPECT_EQ(ContentsOfFile(Flash()), ContentsOfImage(Sample(c.image)));
    }
}

TEST_F(SimProcess, LaunchAfterProgrammingStartsTheApplication) {
    const ProcessResult run =
        RunFarsend({"--simulate", "--sim-serial-log=" + Log(), "program",
                    Image("Farsend_10_bt.hex"), "--launch", "--quiet", "--sim-version=1.0.0"});
    ASSERT_EQ(run.status, 0) << run.err;
    Bytes expected = ProgrammingStream(Image("Farsend_10_bt.hex"), true, false);
    Append(expected, Command::StartApplication);
    EXPECT_EQ(ReadBytes(Log()), expected);
}

// inspect --json and the blocks the simulated target received agree.
TEST_F(SimProcess, InspectAgreesWithWhatTheTargetReceived) {
    const std::string image = Image("Farsend_15_802_f.hex");
    const ProcessResult inspect = RunFarsend({"inspect", "--json", image});
    ASSERT_EQ(inspect.status, 0) << inspect.err;
    const Json planned = Json::parse(inspect.out)["blocks"];

    const ProcessResult run =
        RunFarsend({"--simulate", "--sim-variant=ZigBee", "--sim-serial-log=" + Log(), "program",
                    image, "--factory", "--quiet", "--no-validate"});
    ASSERT_EQ(run.status, 0) << run.err;
    const Bytes log = ReadBytes(Log());
    Bytes blockFollows;
    Append(blockFollows, Command::BlockFollows);

    // Walk the stream: commands of 4 bytes, each BlockFollows followed by a
    // block of 268.
    std::vector<Json> received;
    size_t at = 0;
    while (at + 4 <= log.size()) {
        if (std::equal(blockFollows.begin(), blockFollows.end(), log.begin() + at)) {
            protocol::FlashBlockBytes wire{};
            ASSERT_LE(at + 4 + wire.size(), log.size());
            std::copy_n(log.begin() + static_cast<long>(at) + 4, wire.size(), wire.begin());
            const protocol::FlashBlock block = protocol::DeserializeFlashBlock(wire);
            char hex[3];
            std::string data;
            for (std::uint32_t i = 0; i < block.count; ++i) {
                std::snprintf(hex, sizeof hex, "%02x", block.data[i]);
                data += hex;
            }
            received.push_back(Json{{"base", block.baseAddress},
                                    {"count", block.count},
                                    {"check", block.check},
                                    {"data", data}});
            at += 4 + wire.size();
        } else {
            at += 4;
        }
    }
    ASSERT_EQ(received.size(), planned.size());
    for (size_t i = 0; i < received.size(); ++i) {
        EXPECT_EQ(received[i]["base"], planned[i]["base"]) << i;
        EXPECT_EQ(received[i]["count"], planned[i]["count"]) << i;
        EXPECT_EQ(received[i]["check"], planned[i]["check"]) << i;
        EXPECT_EQ(received[i]["data"], planned[i]["data"]) << i;
    }
}

TEST_F(SimProcess, WatchProgramsEveryTargetWithOneReportLineEach) {
    const ProcessResult run = RunFarsend(
        {"--simulate", "--sim-targets=3", "--sim-serial-log=" + Log(), "--sim-flash-out=" + Flash(),
         "watch", "--count", "3", "--dir", firmware_.string(), "--report", Report(), "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string image = Image("Farsend_15_bt.hex");

    // One result object per unit on standard output, one line per unit in
    // the report, each naming the file, its digest and what was sent.
    std::istringstream out(run.out);
    std::istringstream report(ProcessFiles::Read(Report()));
    std::string line;
    int results = 0, lines = 0;
    const auto plan = protocol::PlanProgrammingFile(image);
    while (std::getline(out, line)) {
        const Json unit = Json::parse(line);
        EXPECT_EQ(unit["result"], "success");
        ++results;
    }
    while (std::getline(report, line)) {
        const Json unit = Json::parse(line);
        EXPECT_EQ(unit["command"], "watch");
        EXPECT_EQ(unit["result"], "success");
        EXPECT_EQ(unit["status"], 0);
        EXPECT_EQ(unit["variant"], "Bluetooth");
        EXPECT_EQ(unit["version"], "1.5.0");
        EXPECT_EQ(unit["file"], image);
        EXPECT_EQ(unit["sha256"].get<std::string>().size(), 64u);
        EXPECT_EQ(unit["blocks"], plan->blocks.size());
        EXPECT_THAT(unit["time"].get<std::string>(), ::testing::EndsWith("Z"));
        ++lines;
    }
    EXPECT_EQ(results, 3);
    EXPECT_EQ(lines, 3);

    Bytes three;
    const Bytes one = ProgrammingStream(image, true, false);
    for (int i = 0; i < 3; ++i) three.insert(three.end(), one.begin(), one.end());
    EXPECT_EQ(ReadBytes(Log()), three);
    EXPECT_EQ(ContentsOfFile(Flash()), ContentsOfImage(Sample("Farsend_15_bt.hex")));
}

TEST_F(SimProcess, EveryExitStatusFromItsCause) {
    const std::string bluetooth = Image("Farsend_15_bt.hex");
    const std::string malformed =
        temp_.Touch("Farsend_15_bt_bad.hex", "00004000 01 02 G3\n").string();
    const std::string dataless = temp_.Touch("Farsend_15_bt_nodata.hex", "00004000\n").string();
    const std::string intel =
        temp_.Touch("Farsend_15_bt_ihex.hex", ":0300000001020308\n:00000001FF\n").string();
    struct Case {
        std::string what;
        std::vector<std::string> words;
        int status;
        std::string says;
        std::vector<Command> stream;  // the commands the target received, blocks left out
    };
    const std::vector<Case> cases = {
        {"success",
         {"--simulate", "identify"},
         0,
         "",
         {Command::Ack, Command::QueryVariant, Command::QueryVersion}},
        {"usage", {"--simulate", "program", "--count", "1"}, 2, "--count", {}},
        {"malformed file", {"--simulate", "program", malformed}, 3, "line 1, column 16", {}},
        {"file without data", {"--simulate", "program", dataless}, 3, "no data bytes", {}},
        {"Intel HEX file",
         {"--simulate", "program", intel},
         3,
         "Intel HEX, line 1: checksum 08",
         {}},
        {"Intel HEX file read as tokens",
         {"--simulate", "program", intel, "--format", "token"},
         3,
         "looks like an Intel HEX file",
         {}},
        {"missing file", {"--simulate", "program", Image("Farsend_99.hex")}, 3, "no such file", {}},
        {"does not fit",
         {"--simulate", "--sim-variant=ZigBee", "program", bluetooth},
         4,
         "does not fit the target: the target is a ZigBee 1.5.0, the file is for Bluetooth 1.5",
         {Command::Ack, Command::QueryVariant, Command::QueryVersion, Command::Abort}},
        // A reply too slow for the short receive is no wrong file.
        {"query not answered",
         {"--simulate", "--sim-baud=9600", "program", bluetooth},
         6,
         "the target did not answer the variant query",
         {}},
        // The image's kind must agree with the mode, before connecting.
        {"factory mode, application image",
         {"--simulate", "--factory", "program", bluetooth},
         4,
         "is not named as a factory image (_f)",
         {}},
        {"application mode, factory image",
         {"--simulate", "program", Image("Farsend_15_bt_f.hex")},
         4,
         "is a factory image",
         {}},
        {"no target",
         {"--simulate", "--sim-targets=0", "program", bluetooth, "--wait", "5"},
         5,
         "no target called within 5 s",
         {}},
        {"communication",
         {"--simulate", "--sim-faults=silence=8", "erase"},
         6,
         "Communication Error with Target.",
         {Command::Ack, Command::EraseDefault}},
        {"erase error",
         {"--simulate", "--sim-erase-blocks=200", "--sim-faults=flip=0.002", "--sim-seed=1",
          "erase"},
         7,
         "Erase Error: Unexpected Error encountered erasing Block:",
         {Command::Ack, Command::EraseDefault}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> words = c.words;
        words.insert(words.begin() + 1, "--sim-serial-log=" + Log());
        std::filesystem::remove(Log());
        const ProcessResult run = RunFarsend(words);
        EXPECT_EQ(run.status, c.status) << run.err;
        if (!c.says.empty()) {
            EXPECT_THAT(run.err, HasSubstr(c.says));
        }
        Bytes expected;
        for (Command command : c.stream) Append(expected, command);
        if (!c.stream.empty()) {
            EXPECT_EQ(ReadBytes(Log()), expected);
        }
    }
}

// The factory marker decides the mode's check; --force vouches for a file
// whose name lacks the marker, and for nothing else.
TEST_F(SimProcess, ForceTakesAnUnmarkedFileAsAFactoryImage) {
    const std::string bluetooth = Image("Farsend_15_bt.hex");
    const std::string unmarked = (temp_.path() / "line7_build.hex").string();
    std::filesystem::copy_file(bluetooth, unmarked);
    struct Case {
        std::vector<std::string> words;
        int status;
        std::string says;  // on standard error, for a refusal
        std::string sent;  // the file programmed in factory mode, for a success
        bool validate;
    };
    const std::vector<Case> cases = {
        {{"--factory", "--no-validate", "program", unmarked}, 4, "--force", "", false},
        {{"--factory", "--force", "--no-validate", "program", unmarked}, 0, "", unmarked, false},
        {{"--factory", "--force", "program", bluetooth}, 0, "", bluetooth, true},
        // A file named as a factory image is not an application, forced or not.
        {{"--force", "program", Image("Farsend_15_bt_f.hex")}, 4, "is a factory image", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.words));
        std::vector<std::string> words = {"--simulate", "--quiet", "--sim-serial-log=" + Log()};
        words.insert(words.end(), c.words.begin(), c.words.end());
        std::filesystem::remove(Log());
        const ProcessResult run = RunFarsend(words);
        EXPECT_EQ(run.status, c.status) << run.err;
        if (c.status != 0) {
            EXPECT_THAT(run.err, HasSubstr(c.says));
            EXPECT_THAT(run.err, HasSubstr("Nothing was sent"));
            EXPECT_FALSE(std::filesystem::exists(Log()));  // refused before connecting
        } else {
            EXPECT_EQ(ReadBytes(Log()), ProgrammingStream(c.sent, c.validate, true));
        }
    }
}

// An unplug in the middle of the blocks ends the run at once, in simulated
// time, rather than after the 13-second wait for an answer that cannot come;
// the operator is told that the bridge went, with the communication status.
TEST_F(SimProcess, AnUnplugDuringTheBlocksEndsTheRunAtOnce) {
    for (const char* command : {"program", "watch"}) {
        SCOPED_TRACE(command);
        std::vector<std::string> words = {"--simulate", "--sim-faults=unplug=20000", "--json",
                                          command};
        if (std::string(command) == "watch") {
            words.insert(words.end(), {"--count", "1", "--dir", firmware_.string()});
        } else {
            words.push_back(Image("Farsend_15_bt.hex"));
        }
        const ProcessResult run = RunFarsend(words);
        EXPECT_EQ(run.status, 6) << run.err;
        EXPECT_THAT(run.err, HasSubstr("farsend: the bridge was unplugged after "));
        EXPECT_THAT(run.err, HasSubstr("Plug it in again"));
        const Json unit = Json::parse(run.out);
        EXPECT_EQ(unit["status"], 6);
        EXPECT_THAT(unit["message"].get<std::string>(),
                    HasSubstr("blocks: the target holds part of the image and will not run it"));
        EXPECT_GT(unit["blocks"].get<int>(), 0);
        // 500 ms of the monitor's pause after the job is part of it.
        EXPECT_LT(unit["seconds"].get<double>(), 1.0);
    }
}

// A lost target is told with what happened, how far the job got and what to
// try; the window program's box, which says none of it, is not repeated.
TEST_F(SimProcess, ALostTargetIsToldWithItsCauseAndWhatToTry) {
    struct Case {
        const char* faults;
        const char* says;
        const char* tries;
    };
    const Case cases[] = {
        {"--sim-faults=silence=2000",
         "the target stopped answering after 7 blocks: the target "
         "holds part of the image",
         "Check its power"},
        {"--sim-faults=unplug=2000", "the bridge was unplugged after 7 blocks", "Plug it in again"},
        {"--sim-faults=flip=0.001", "the target answered out of turn after ", "Program it again"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.faults);
        const ProcessResult run = RunFarsend(
            {"--simulate", "--quiet", c.faults, "--json", "program", Image("Farsend_15_bt.hex")});
        EXPECT_EQ(run.status, 6) << run.err;
        const Json unit = Json::parse(run.out);
        EXPECT_THAT(unit["message"].get<std::string>(), HasSubstr(c.says));
        EXPECT_THAT(unit["message"].get<std::string>(), HasSubstr(c.tries));
        EXPECT_THAT(run.err, HasSubstr(c.says));
        EXPECT_THAT(run.err, ::testing::Not(HasSubstr("Communication Error with Target")));
    }
}

TEST_F(SimProcess, EraseAllAsksFirst) {
    ProcessResult run =
        RunFarsend({"--simulate", "--sim-serial-log=" + Log(), "erase", "--factory"}, "n\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("Erase all of the target's flash? [y/N]"));
    EXPECT_THAT(run.err, HasSubstr("nothing erased"));
    EXPECT_FALSE(std::filesystem::exists(Log()));  // no target was touched

    run = RunFarsend({"--simulate", "--sim-serial-log=" + Log(), "erase", "--factory"}, "y\n");
    EXPECT_EQ(run.status, 0) << run.err;
    Bytes expected;
    Append(expected, Command::Ack);
    Append(expected, Command::EraseAll);
    EXPECT_EQ(ReadBytes(Log()), expected);

    run = RunFarsend({"--simulate", "--sim-serial-log=" + Log(), "erase", "--factory", "--yes"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.err, ::testing::Not(HasSubstr("[y/N]")));
}

TEST_F(SimProcess, IdentifyAndLaunch) {
    ProcessResult run =
        RunFarsend({"--simulate", "--sim-variant=ZigBee", "--sim-version=2.0.7", "identify"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "variant: ZigBee\nversion: 2.0.7\n");

    // A reply too slow for the short receive: a communication error, and no
    // empty result lines after it.
    run = RunFarsend({"--simulate", "--sim-baud=9600", "identify"});
    EXPECT_EQ(run.status, 6) << run.err;
    EXPECT_THAT(run.err, HasSubstr("did not answer"));
    EXPECT_EQ(run.out, "");
    // ... and its one record says so, with the query that went unanswered.
    run = RunFarsend({"--simulate", "--sim-baud=9600", "--json", "identify"});
    EXPECT_EQ(run.status, 6) << run.err;
    const nlohmann::json silent = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_TRUE(silent.is_object()) << run.out;
    EXPECT_EQ(silent.value("result", ""), "communication error");
    EXPECT_EQ(silent.value("status", 0), 6);
    EXPECT_EQ(silent.value("message", ""), "the target did not answer the variant query");

    // erase and launch say what they did, on standard output.
    const std::pair<std::vector<std::string>, std::string> said[] = {
        {{"--simulate", "launch"}, "application started\n"},
        {{"--simulate", "--quiet", "erase"}, "erased\n"},
        {{"--simulate", "--quiet", "erase", "--factory", "--yes"}, "erased all of the flash\n"},
    };
    for (const auto& [words, out] : said) {
        run = RunFarsend(words);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, out);
    }

    run = RunFarsend({"--simulate", "--sim-serial-log=" + Log(), "launch", "--json"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Json::parse(run.out)["result"], "success");
    Bytes expected;
    Append(expected, Command::Ack);
    Append(expected, Command::StartApplication);
    EXPECT_EQ(ReadBytes(Log()), expected);
}

// Without the simulation and without a bridge on this machine: status 5
// with the bridge's identifiers. Skipped where a bridge is plugged in.
TEST(CliProcessHardware, NoBridgeIsStatusFiveWithItsIdentifiers) {
    if (RunFarsend({"devices"}).status == 0) GTEST_SKIP() << "a bridge is plugged in";
    farsend::testing::TempDirectory temp;
    const std::string image = temp.Touch("Farsend_15_bt.hex").string();
    const ProcessResult run = RunFarsend({"program", image});
    EXPECT_EQ(run.status, 5);
    char named[64];
    std::snprintf(named, sizeof named, "no bridge found (USB vendor 0x%04x, product 0x%04x)",
                  link::kBridgeVendorId, link::kBridgeProductId);
    EXPECT_THAT(run.err, HasSubstr(named));
}

}  // namespace
}  // namespace farsend::cli
