// farsend driving several simulated bridges at once: every station programs
// its own targets, a bad socket leaves the others alone, and the records say
// which station did what.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "cli/child_outputs.h"
#include "cli/process_files.h"
#include "cli/process_runner.h"
#include "protocol/image_reader.h"
#include "sim/sample_firmware.h"
#include "support/temp_directory.h"

namespace farsend::cli {
namespace {

using farsend::testing::ProcessFiles;
using farsend::testing::ProcessResult;
using farsend::testing::RunFarsend;
using ::testing::HasSubstr;
using Json = nlohmann::json;

using farsend::testing::JsonLines;

// Address -> byte, as the image reader reads a firmware file.
std::map<uint32_t, uint8_t> Contents(const std::string& path) {
    const auto plan = protocol::PlanProgrammingFile(path);
    EXPECT_TRUE(plan && !plan->error) << path;
    return farsend::testing::ContentsOf(path);
}

const char* const kStations[] = {"sim-usb-1.4", "sim-usb-1.5", "sim-usb-1.6", "sim-usb-1.7"};

class GangProcess : public ::testing::Test {
protected:
    // An image of 8 KB, so that many units stay quick while the faults below
    // still strike in the middle of a job.
    void SetUp() override {
        ASSERT_TRUE(sim::WriteSampleSet(firmware_));
        sim::ImageRun run;
        run.address = 0x4000;
        for (int i = 0; i < 8192; ++i) run.data.push_back(static_cast<uint8_t>(i * 7 + (i >> 8)));
        ASSERT_TRUE(sim::WriteImageFile(firmware_ / "Farsend_15_bt.hex", {run}));
    }

    std::string Image() const { return (firmware_ / "Farsend_15_bt.hex").string(); }
    std::string Flash(int bridge) const {
        return (temp_.path() / ("flash-" + std::to_string(bridge) + ".hex")).string();
    }
    std::string Report() const { return (temp_.path() / "units.jsonl").string(); }

    ProcessResult Watch(const std::vector<std::string>& extra) {
        std::vector<std::string> words = {
            "--simulate",      "--sim-bridges=4",
            "--sim-targets=3", "--sim-flash-out=" + (temp_.path() / "flash.hex").string(),
            "watch",           "--all",
            "--dir",           firmware_.string(),
            "--quiet",         "--report",
            Report()};
        words.insert(words.end(), extra.begin(), extra.end());
        return RunFarsend(words);
    }

    farsend::testing::TempDirectory temp_;
    std::filesystem::path firmware_ = temp_.path() / "firmware";
};

// On the real clock, the wrong board in socket 2 fails once: it is one unit
// with one row, though it calls again as soon as it is let go. The socket
// answers no call until the simulated operator has taken the board out;
// then the next board there is programmed.
TEST_F(GangProcess, AFailedBoardIsOneUnitAndItsSocketMovesOnOnceItIsOut) {
    const ProcessResult run =
        RunFarsend({"--simulate", "--sim-real-time", "--sim-bridges=2", "--sim-targets=2",
                    "--sim-variant=2:ZigBee", "--sim-swap=2:300,Bluetooth", "watch", "--all",
                    "--count", "4", "--dir", firmware_.string(), "--quiet", "--report", Report()});
    EXPECT_EQ(run.status, 4) << run.err;
    std::map<std::string, std::vector<int>> statuses;
    for (const Json& record : JsonLines(ProcessFiles::Read(Report()))) {
        statuses[record["station"]].push_back(record["status"].get<int>());
    }
    EXPECT_EQ(statuses["sim-usb-1.4"], (std::vector<int>{0, 0}));
    EXPECT_EQ(statuses["sim-usb-1.5"], (std::vector<int>{4, 0}));
    EXPECT_THAT(run.err, HasSubstr("[sim-usb-1.5] farsend: take the board out (or type 2"));
    EXPECT_THAT(run.err, HasSubstr("[sim-usb-1.5] farsend: board taken out"));

#if !defined(_WIN32)  // the Windows build has no unit database
    // The unit database (the simulated units' own) has the same rows: one
    // for the failed board.
    const ProcessResult units =
        RunFarsend({"--simulate", "units", "--json", "--station", "sim-usb-1.5"});
    ASSERT_EQ(units.status, 0) << units.err;
    const Json listed = Json::parse(units.out)["units"];
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0]["status"], 4);
    EXPECT_EQ(listed[1]["status"], 0);
    EXPECT_EQ(listed[1]["variant"], "Bluetooth");
#endif

    // Nobody takes the wrong board out: still one unit, and the station's
    // watch ends, as no other board can come to that socket.
    std::filesystem::remove(Report());
    const ProcessResult stays = RunFarsend({"--simulate", "--sim-real-time", "--sim-bridges=2",
                                            "--sim-variant=2:ZigBee", "watch", "--all", "--dir",
                                            firmware_.string(), "--quiet", "--report", Report()});
    EXPECT_EQ(stays.status, 4) << stays.err;
    EXPECT_EQ(JsonLines(ProcessFiles::Read(Report())).size(), 2u);
    EXPECT_THAT(stays.err, HasSubstr("[sim-usb-1.5] farsend: the failed board stays in its "
                                     "simulated socket"));
}

// Four stations with three targets each, and then the same with one bad
// socket: the good ones program every target of theirs all the same.
TEST_F(GangProcess, WatchProgramsEveryTargetOfEveryGoodStation) {
    struct Case {
        const char* name;
        std::vector<std::string> faults;
        int status;
        // Units of the faulty station (sim-usb-1.5), and their status.
        size_t faultyUnits;
        int faultyStatus;
    };
    const std::vector<Case> cases = {
        {"NoFaults", {}, 0, 3, 0},
        {"Unplug", {"--sim-faults=2:unplug=900"}, 6, 1, 6},
        {"Silence", {"--sim-faults=2:silence=2000"}, 6, 1, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(Report());
        const ProcessResult run = Watch(c.faults);
        EXPECT_EQ(run.status, c.status) << run.err;

        std::map<std::string, std::vector<Json>> byStation;
        std::set<uint64_t> numbers;
        const std::vector<Json> records = JsonLines(ProcessFiles::Read(Report()));
        for (const Json& record : records) {
            byStation[record["station"]].push_back(record);
            numbers.insert(record["unit"].get<uint64_t>());
        }
        EXPECT_EQ(records.size(), 9 + c.faultyUnits);
        EXPECT_EQ(numbers.size(), records.size());  // one number per unit
        EXPECT_EQ(*numbers.rbegin(), records.size());
        for (int bridge = 1; bridge <= 4; ++bridge) {
            const std::string station = kStations[bridge - 1];
            const std::vector<Json>& units = byStation[station];
            const bool faulty = bridge == 2;
            EXPECT_EQ(units.size(), faulty ? c.faultyUnits : 3u) << station;
            char serial[16];
            std::snprintf(serial, sizeof serial, "SIM%05d", bridge);
            for (const Json& unit : units) {
                EXPECT_EQ(unit["bridge_serial"], serial);
                EXPECT_EQ(unit["status"], faulty ? c.faultyStatus : 0) << unit.dump();
            }
            // The result lines on standard output say the station too.
            const size_t lines =
                static_cast<size_t>(std::count(run.out.begin(), run.out.end(), '\n'));
            EXPECT_EQ(lines, records.size());
            EXPECT_THAT(run.out, HasSubstr("[" + station + "] unit "));
            if (!faulty || c.faultyStatus == 0) {
                EXPECT_EQ(Contents(Flash(bridge)), Contents(Image())) << station;
            }
        }
        EXPECT_THAT(run.err, HasSubstr("summary:"));
    }
}

// program on three stations, one of whose targets is another variant: that
// one is refused, the others are programmed, and each has its object.
TEST_F(GangProcess, ProgramRefusesTheOddTargetAndProgramsTheOthers) {
    const ProcessResult run =
        RunFarsend({"--simulate", "--sim-bridges=3", "--sim-variant=2:ZigBee",
                    "--sim-flash-out=" + (temp_.path() / "flash.hex").string(), "program", "--all",
                    "--dir", firmware_.string(), "--quiet", "--json"});
    EXPECT_EQ(run.status, 4) << run.err;
    const std::vector<Json> results = JsonLines(run.out);
    ASSERT_EQ(results.size(), 3u) << run.out;
    std::map<std::string, int> statusOf;
    for (const Json& result : results) statusOf[result["station"]] = result["status"];
    EXPECT_EQ(statusOf, (std::map<std::string, int>{
                            {"sim-usb-1.4", 0}, {"sim-usb-1.5", 4}, {"sim-usb-1.6", 0}}));
    EXPECT_EQ(Contents(Flash(1)), Contents(Image()));
    EXPECT_EQ(Contents(Flash(3)), Contents(Image()));
    // Refused before anything was erased: its flash holds no data at all.
    const auto refused = protocol::PlanProgrammingFile(Flash(2));
    ASSERT_TRUE(refused.has_value());
    EXPECT_TRUE(refused->blocks.empty() ||
                (refused->error && refused->error->kind == protocol::ImageFormatErrorKind::NoData));
}

// --count counts the units of all stations; named stations are those alone.
TEST_F(GangProcess, CountAndDeviceChooseTheUnitsAndTheStations) {
    struct Case {
        std::vector<std::string> words;
        std::map<std::string, size_t> units;
    };
    const std::vector<Case> cases = {
        {{"--count", "5"}, {}},
        {{"--device", "SIM00003", "--device", "sim-usb-1.7"},
         {{"sim-usb-1.6", 3}, {"sim-usb-1.7", 3}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.words));
        std::filesystem::remove(Report());
        std::vector<std::string> words = {"--simulate", "--sim-bridges=4", "--sim-targets=3",
                                          "watch",      "--dir",           firmware_.string(),
                                          "--quiet",    "--report",        Report()};
        if (c.units.empty()) words.push_back("--all");
        words.insert(words.end(), c.words.begin(), c.words.end());
        const ProcessResult run = RunFarsend(words);
        EXPECT_EQ(run.status, 0) << run.err;
        std::map<std::string, size_t> units;
        const std::vector<Json> records = JsonLines(ProcessFiles::Read(Report()));
        for (const Json& record : records) ++units[record["station"]];
        if (c.units.empty()) {
            EXPECT_EQ(records.size(), 5u);
        } else {
            EXPECT_EQ(units, c.units);
        }
    }
}

// --verbose: each station's diagnostic lines carry its name among several;
// a run on one bridge keeps them as they are.
TEST_F(GangProcess, DiagnosticLinesNameTheirStation) {
    const std::string ack = "Sending ACK to TGT\n";
    const auto namesBefore = [&](const std::string& err) {
        std::map<std::string, int> names;
        for (size_t at = err.find(ack); at != std::string::npos; at = err.find(ack, at + 1)) {
            const size_t open = err.rfind('[', at);
            const bool named = open != std::string::npos && at >= 2 &&
                               err.compare(at - 2, 2, "] ") == 0 &&
                               err.find_first_of("\n ", open) == at - 1;
            ++names[named ? err.substr(open + 1, at - open - 3) : std::string()];
        }
        return names;
    };
    ProcessResult run = RunFarsend(
        {"--simulate", "--sim-bridges=3", "program", "--all", Image(), "--quiet", "--verbose"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(
        namesBefore(run.err),
        (std::map<std::string, int>{{"sim-usb-1.4", 1}, {"sim-usb-1.5", 1}, {"sim-usb-1.6", 1}}))
        << run.err;

    run = RunFarsend({"--simulate", "program", Image(), "--quiet", "--verbose"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.err, ::testing::StartsWith("waiting for TGT call\n" + ack));
}

// Eight stations at once: under ThreadSanitizer this is the race check.
TEST_F(GangProcess, EightStationsEachProgramTheirTarget) {
    const ProcessResult run =
        RunFarsend({"--simulate", "--sim-bridges=8", "watch", "--all", "--dir", firmware_.string(),
                    "--quiet", "--report", Report()});
    EXPECT_EQ(run.status, 0) << run.err;
    std::set<std::string> stations;
    for (const Json& record : JsonLines(ProcessFiles::Read(Report()))) {
        EXPECT_EQ(record["status"], 0);
        stations.insert(record["station"]);
    }
    EXPECT_EQ(stations.size(), 8u);
}

}  // namespace
}  // namespace farsend::cli
