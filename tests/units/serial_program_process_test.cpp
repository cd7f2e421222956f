// program and watch with per-unit serial numbers and the unit database, run
// as processes against the simulator and real databases: every unit takes a
// number of its own before anything is sent, the number lands at its place in
// the target's flash and nowhere else, and every unit has its row.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <utility>

#include "cli/child_outputs.h"
#include "cli/process_files.h"
#include "cli/process_runner.h"
#include "database_fixture.h"
#include "protocol/image_reader.h"
#include "protocol/serial_stamp.h"
#include "sim/sample_firmware.h"
#include "support/scoped_environment.h"
#include "support/temp_directory.h"
#include "units/spool.h"
#include "units/unit_database.h"

// Last: <windows.h> defines a macro named Yield, which the database's
// header must not meet.
#ifdef _WIN32
#include "cli/win/child_process.h"
#else
#include <signal.h>

#include "cli/posix/child_process.h"
#include "units/own_pg_server.h"
#endif

namespace farsend::units {
namespace {

using farsend::testing::ProcessFiles;
using farsend::testing::ProcessResult;
using ::testing::HasSubstr;
using Json = nlohmann::json;
using Contents = std::map<uint32_t, uint8_t>;

constexpr auto kLimit = std::chrono::seconds(120);

using farsend::testing::ContentsOf;
using farsend::testing::JsonLines;

// The image as a unit holding `number` must have it.
Contents Stamped(Contents image, const protocol::SerialSpec& spec, std::uint64_t number) {
    const std::vector<std::uint8_t> bytes = protocol::SerialBytes(spec, number);
    EXPECT_EQ(bytes.size(), spec.size);
    for (std::size_t i = 0; i < bytes.size(); ++i) image[spec.address + i] = bytes[i];
    return image;
}

protocol::SerialSpec Spec(const std::string& text) {
    const protocol::SerialSpecResult parsed = protocol::ParseSerialSpec(text);
    EXPECT_TRUE(parsed.ok()) << parsed.error;
    return parsed.spec;
}

// farsend with its environment changed by `environment` (NAME, VALUE; an
// empty VALUE removes NAME).
ProcessResult Farsend(const std::vector<std::string>& words,
                      const std::vector<std::pair<std::string, std::string>>& environment = {}) {
    const testing::ScopedEnvironment changed(environment);
    return testing::RunFarsend(words);
}

// What leaves the default database no place.
#ifdef _WIN32
const std::vector<std::pair<std::string, std::string>> kNoDataHome = {{"LOCALAPPDATA", ""}};
#else
const std::vector<std::pair<std::string, std::string>> kNoDataHome = {{"XDG_DATA_HOME", ""},
                                                                      {"HOME", ""}};
#endif

class SerialProgram : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim::WriteSampleSet(firmware_));
        // 8 KB: many units stay quick.
        sim::ImageRun run;
        run.address = 0x4000;
        for (int i = 0; i < 8192; ++i) run.data.push_back(static_cast<uint8_t>(i * 7 + (i >> 8)));
        ASSERT_TRUE(sim::WriteImageFile(Image(), {run}));
    }

    std::string Image() const { return (firmware_ / "Farsend_15_bt.hex").string(); }
    std::string Path(const std::string& name) const { return (temp_.path() / name).string(); }
    // The flash of the last target of bridge K, as --sim-flash-out leaves it
    // (a run of one bridge: the name as given).
    std::string Flash(int bridge) const {
        return bridges_ == 1 ? Path("flash.hex") : Path("flash-" + std::to_string(bridge) + ".hex");
    }
    std::string Report() const { return Path("units.jsonl"); }

    std::vector<std::string> Simulated(int bridges, int targets) {
        bridges_ = bridges;
        return {"--simulate", "--sim-bridges=" + std::to_string(bridges),
                "--sim-targets=" + std::to_string(targets), "--sim-flash-out=" + Path("flash.hex")};
    }

    void InitPool(const std::string& db, const std::string& name, const std::string& first,
                  const std::string& last = "") {
        std::vector<std::string> words = {"serials", "init", name, "--first", first, "--db", db};
        if (!last.empty()) words.insert(words.end(), {"--last", last});
        const ProcessResult made = Farsend(words);
        ASSERT_EQ(made.status, 0) << made.err;
    }

    // A run of `command` on `bridges` stations of `targets` each, every unit
    // stamped with a number of the pool "line" (first 500): the numbers are
    // 500 and up, each once, each unit's row says it, and each station's last
    // flash is the image with that unit's number at its place.
    void ExpectStampedRun(const std::string& db, const std::string& command,
                          const std::string& spec, int bridges, int targets) {
        InitPool(db, "line", "500");
        std::vector<std::string> words = Simulated(bridges, targets);
        words.insert(words.end(),
                     {command, "--all", "--dir", firmware_.string(), "--quiet", "--report",
                      Report(), "--serial", spec, "--serial-pool", "line", "--db", db});
        const ProcessResult run = Farsend(words);
        ASSERT_EQ(run.status, 0) << run.err;

        const std::vector<Json> records = JsonLines(ProcessFiles::Read(Report()));
        const std::size_t units =
            static_cast<std::size_t>(command == "watch" ? bridges * targets : bridges);
        ASSERT_EQ(records.size(), units) << run.err;
        std::set<std::int64_t> numbers;
        std::map<std::string, Json> lastOf;  // station -> its last unit's record
        for (const Json& record : records) {
            ASSERT_TRUE(record["serial"].is_number()) << record.dump();
            numbers.insert(record["serial"].get<std::int64_t>());
            Json& last = lastOf[record["station"]];
            if (last.is_null() || last["unit"] < record["unit"]) last = record;
        }
        ASSERT_EQ(numbers.size(), units);  // never one number twice
        EXPECT_EQ(*numbers.begin(), 500);
        EXPECT_EQ(*numbers.rbegin(), 500 + static_cast<std::int64_t>(units) - 1);

        const std::vector<UnitRow> rows = UnitDatabase::Open(db)->ListUnits();
        ASSERT_EQ(rows.size(), units);
        for (const UnitRow& row : rows) {
            ASSERT_TRUE(row.finish && row.serial);
            EXPECT_EQ(row.finish->result, UnitResult::Programmed);
            EXPECT_EQ(row.pool, "line");
            EXPECT_GT(row.finish->blocks, 0u);
            EXPECT_EQ(numbers.count(*row.serial), 1u);
            EXPECT_EQ(row.start.sha256.size(), 64u);
        }

        const Contents image = ContentsOf(Image());
        ASSERT_FALSE(image.empty());
        for (int bridge = 1; bridge <= bridges; ++bridge) {
            const std::string station = "sim-usb-1." + std::to_string(3 + bridge);
            ASSERT_EQ(lastOf.count(station), 1u) << station;
            const auto number = lastOf[station]["serial"].get<std::uint64_t>();
            EXPECT_EQ(ContentsOf(Flash(bridge)), Stamped(image, Spec(spec), number)) << station;
        }
    }

    testing::TempDirectory temp_;
    std::filesystem::path firmware_ = temp_.path() / "firmware";
    int bridges_ = 1;
};

TEST_F(SerialProgram, EveryStationStampsNumbersOfItsOwn) {
    struct Case {
        const char* command;
        const char* spec;
        int bridges, targets;
    };
    // The placements straddle a block boundary (0x40FE) or sit inside one.
    const Case cases[] = {
        {"watch", "40FE:4:le", 3, 2},
        {"program", "4200:8:be", 2, 1},
        {"watch", "4301:6:dec", 1, 3},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.command) + " " + c.spec);
        std::filesystem::remove(Report());
        ExpectStampedRun(Path("stamp-" + std::to_string(++index) + ".sqlite"), c.command, c.spec,
                         c.bridges, c.targets);
    }
}

TEST_F(SerialProgram, StationsOnPostgreSQLShareThePool) {
    testing::FreshDatabase fresh(Engine::PostgreSQL);
    std::string error;
    const std::string url = fresh.Create(error);
    ASSERT_FALSE(url.empty()) << error;
    ExpectStampedRun(url, "watch", "4100:4", 2, 2);
}

// Refused before any target is touched, each with its message and status,
// and no unit is recorded as programmed.
TEST_F(SerialProgram, RefusalsComeBeforeAnythingIsSent) {
    struct Case {
        const char* name;
        std::vector<std::string> words;  // after the command and the image
        std::vector<std::pair<std::string, std::string>> environment;
        int status;
        const char* says;
    };
    const std::string db = Path("refusals.sqlite");
    InitPool(db, "wide", "70000");
    InitPool(db, "one", "7", "7");
    InitPool(db, "small", "1");
    {
        const std::unique_ptr<UnitDatabase> units = UnitDatabase::Open(db);
        units->StartUnit(UnitStart{}, std::string("one"));  // its only number is out
    }
    // A folder that cannot be made: its parent is a file.
    std::ofstream(Path("a-file")) << "not a folder";
    const std::string newer = Path("newer.sqlite");
    UnitDatabase::Open(newer)->ExecuteForTest("INSERT INTO schema_version (version) VALUES (99)");

    const std::vector<Case> cases = {
        {"range before the data",
         {"--serial", "3FFE:4", "--serial-pool", "small", "--db", db},
         {},
         4,
         "Nothing was sent"},
        {"range past the data",
         {"--serial", "5FFE:4", "--serial-pool", "small", "--db", db},
         {},
         4,
         "Nothing was sent"},
        {"number too big for its size",
         {"--serial", "4100:2", "--serial-pool", "wide", "--db", db},
         {},
         4,
         "next number"},
        {"exhausted pool",
         {"--serial", "4100:4", "--serial-pool", "one", "--db", db},
         {},
         10,
         "exhausted"},
        {"no such pool",
         {"--serial", "4100:4", "--serial-pool", "none", "--db", db},
         {},
         9,
         "no number pool of that name"},
        {"serial without a pool", {"--serial", "4100:4", "--db", db}, {}, 2, "--serial-pool NAME"},
        {"pool without a serial", {"--serial-pool", "small", "--db", db}, {}, 2, "--serial ADDR"},
        {"database cannot be opened",
         {"--db", Path("a-file") + "/farsend/units.sqlite"},
         {},
         9,
         "Nothing"},
        {"database of a newer farsend", {"--db", newer}, {}, 9, "newer"},
        {"no place for the default database", {}, kNoDataHome, 9, "give --db PATH|URL"},
    };
    for (const Case& c : cases) {
        for (const char* command : {"program", "watch"}) {
            SCOPED_TRACE(std::string(c.name) + ", " + command);
            std::filesystem::remove(Flash(1));
            std::vector<std::string> words = Simulated(1, 1);
            words.insert(words.end(), {command, Image(), "--quiet"});
            words.insert(words.end(), c.words.begin(), c.words.end());
            const ProcessResult run = Farsend(words, c.environment);
            EXPECT_EQ(run.status, c.status) << run.err;
            EXPECT_THAT(run.err, HasSubstr(c.says));
            EXPECT_EQ(run.out, "");
            // The target never saw a byte: its flash holds no data.
            EXPECT_TRUE(ContentsOf(Flash(1)).empty());
        }
    }
    for (const UnitRow& row : UnitDatabase::Open(db)->ListUnits()) EXPECT_FALSE(row.finish);
}

// A pool that runs out in the middle of watch: every number went to one
// unit, each station stops at the unit it has none for, and the run says so.
TEST_F(SerialProgram, APoolThatRunsOutStopsEachStationAtItsNextUnit) {
    const std::string db = Path("short.sqlite");
    InitPool(db, "short", "40", "42");
    std::vector<std::string> words = Simulated(2, 3);
    words.insert(words.end(), {"watch", "--all", "--dir", firmware_.string(), "--quiet", "--json",
                               "--serial", "4100:4", "--serial-pool", "short", "--db", db});
    const ProcessResult run = Farsend(words);
    EXPECT_EQ(run.status, 10) << run.err;
    EXPECT_THAT(run.err, HasSubstr("is exhausted"));
    std::set<std::int64_t> numbers;
    for (const Json& result : JsonLines(run.out)) {
        EXPECT_EQ(result["status"], 0);
        numbers.insert(result["serial"].get<std::int64_t>());
    }
    EXPECT_EQ(numbers, (std::set<std::int64_t>{40, 41, 42}));
    EXPECT_EQ(UnitDatabase::Open(db)->ListUnits().size(), 3u);
}

// A unit refused before any block went out (another variant) gives its
// number back, and the next unit takes it; a programmed unit keeps its own.
TEST_F(SerialProgram, AUnitRefusedBeforeAnyBlockReturnsItsNumber) {
    const std::string db = Path("returned.sqlite");
    InitPool(db, "line", "100");
    std::vector<std::string> words = Simulated(2, 1);
    words.insert(words.end(),
                 {"--sim-variant=2:ZigBee", "program", "--all", "--dir", firmware_.string(),
                  "--quiet", "--json", "--serial", "4100:4", "--serial-pool", "line", "--db", db});
    const ProcessResult run = Farsend(words);
    EXPECT_EQ(run.status, 4) << run.err;
    std::map<std::string, Json> byStation;
    for (const Json& result : JsonLines(run.out)) byStation[result["station"]] = result;
    ASSERT_EQ(byStation.size(), 2u) << run.out;
    const Json programmed = byStation["sim-usb-1.4"], refused = byStation["sim-usb-1.5"];
    EXPECT_EQ(programmed["status"], 0);
    EXPECT_EQ(refused["status"], 4);
    ASSERT_TRUE(refused["serial"].is_number());
    const std::int64_t back = refused["serial"];
    EXPECT_TRUE(ContentsOf(Flash(2)).empty());
    EXPECT_EQ(ContentsOf(Flash(1)),
              Stamped(ContentsOf(Image()), Spec("4100:4"), programmed["serial"].get<uint64_t>()));

    std::map<std::int64_t, UnitRow> rows;
    for (const UnitRow& row : UnitDatabase::Open(db)->ListUnits()) rows[*row.serial] = row;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_TRUE(rows[back].numberReturned);
    EXPECT_EQ(rows[back].finish->result, UnitResult::Failed);
    EXPECT_EQ(rows[back].finish->exitStatus, 4);
    EXPECT_FALSE(rows[programmed["serial"]].numberReturned);

    // The returned number is the next one issued.
    words = Simulated(1, 1);
    words.insert(words.end(), {"program", Image(), "--quiet", "--json", "--serial", "4100:4",
                               "--serial-pool", "line", "--db", db});
    const ProcessResult again = Farsend(words);
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(JsonLines(again.out).at(0)["serial"], back);
}

// A run whose unit in hand is cut short: a first signal lets it finish and
// keeps it programmed; a second one stops it before its next block, and its
// record, result line and row all say interrupted, its number kept.
class SerialInterrupt : public SerialProgram {
protected:
    void SetUp() override {
        SerialProgram::SetUp();
        // Big enough that the rest of the run after a quarter of it (on the
        // real clock, about 5 s at 460800 baud, however busy the machine)
        // is far longer than sending two signals or stopping a server takes.
        sim::ImageRun run;
        run.address = 0x4000;
        run.data.resize(128 * 1024);
        for (size_t i = 0; i < run.data.size(); ++i)
            run.data[i] = static_cast<uint8_t>(i * 5 + i / 256);
        ASSERT_TRUE(sim::WriteImageFile(Big(), {run}));
    }
    std::string Big() const { return Path("Farsend_15_bt_big.hex"); }
};

#ifndef _WIN32
TEST_F(SerialInterrupt, ASecondSignalRecordsTheUnitAsInterrupted) {
    const auto plan = protocol::PlanProgrammingFile(Big());
    ASSERT_TRUE(plan && !plan->error);
    struct Case {
        const char* command;
        int signals;
        int status;
        const char* result;
        UnitResult row;
    };
    const Case cases[] = {
        {"program", 1, 0, "success", UnitResult::Programmed},
        {"program", 2, 1, "interrupted", UnitResult::Interrupted},
        {"watch", 2, 1, "interrupted", UnitResult::Interrupted},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.command) + ", signals: " + std::to_string(c.signals));
        const std::string db = Path("interrupt-" + std::to_string(++index) + ".sqlite");
        InitPool(db, "line", "1");
        for (const std::string& file : {Report(), Path("out"), Path("err")}) {
            std::filesystem::remove(file);
        }
        std::vector<std::string> words = {"--simulate",
                                          "--sim-real-time",
                                          "--sim-baud=460800",
                                          "--sim-targets=1000",
                                          c.command,
                                          Big(),
                                          "--report",
                                          Report(),
                                          "--serial",
                                          "4100:4",
                                          "--serial-pool",
                                          "line",
                                          "--db",
                                          db};
        testing::FarsendChild child(words, Path("out"), Path("err"));
        ASSERT_TRUE(child.Started());
        auto errHas = [&](const char* text) {
            return ProcessFiles::Read(Path("err")).find(text) != std::string::npos;
        };
        ASSERT_TRUE(child.WaitUntil([&] { return errHas("program: 25%"); }, kLimit))
            << ProcessFiles::Read(Path("err"));
        child.Signal(SIGINT);
        if (c.signals == 2) {
            // Two signals at once could merge into one.
            ASSERT_TRUE(child.WaitUntil([&] { return errHas("finishing this target"); }, kLimit));
            child.Signal(SIGTERM);
        }
        const testing::ChildEnd end = child.Wait(kLimit);
        const std::string err = ProcessFiles::Read(Path("err"));
        ASSERT_TRUE(end.exited) << "signal " << end.signal << "\n" << err;
        EXPECT_EQ(end.status, c.status) << err;

        const std::vector<Json> records = JsonLines(ProcessFiles::Read(Report()));
        ASSERT_EQ(records.size(), 1u) << err;
        EXPECT_EQ(records[0]["result"], c.result);
        EXPECT_EQ(records[0]["serial"], 1);
        EXPECT_THAT(ProcessFiles::Read(Path("out")),
                    HasSubstr(c.signals == 2 ? "interrupted: " : "programmed "));
        const std::vector<UnitRow> rows = UnitDatabase::Open(db)->ListUnits();
        ASSERT_EQ(rows.size(), 1u);
        ASSERT_TRUE(rows[0].finish);
        EXPECT_EQ(rows[0].finish->result, c.row);
        EXPECT_EQ(rows[0].serial, 1);
        EXPECT_FALSE(rows[0].numberReturned);  // blocks went out: the number is spent
        EXPECT_GT(rows[0].finish->blocks, 0u);
        if (c.signals == 2) {
            EXPECT_LT(rows[0].finish->blocks, plan->blocks.size());
            EXPECT_EQ(rows[0].finish->exitStatus, 1);
        }
    }
}

#endif

#ifndef _WIN32
// A server of the test's own, stopped in the middle of a unit as a lost
// database would be, then started again: the suite's shared one must not be.
class LostServer {
public:
    bool Start(std::string& error) { return server_.Start(error); }
    bool Pause() const { return server_.Script("pause"); }
    bool Resume() const { return server_.Script("resume"); }
    const std::string& Url() const { return server_.Url(); }

private:
    testing::OwnPgServer server_{"pg"};
};
#else
// Under Wine the test cannot run the server's script, a Linux program: a
// database of the fixture's server (over TCP) is lost instead by refusing
// connections to it and ending those it has, as an administrator would.
class LostServer {
public:
    bool Start(std::string& error) {
        url_ = fresh_.Create(error);
        const std::size_t slash = url_.rfind('/'), query = url_.find('?', slash);
        if (url_.empty() || slash == std::string::npos || query == std::string::npos) return false;
        name_ = url_.substr(slash + 1, query - slash - 1);
        admin_ = url_.substr(0, slash + 1) + "postgres" + url_.substr(query);
        return true;
    }
    bool Pause() const {
        return Admin({"ALTER DATABASE " + name_ + " ALLOW_CONNECTIONS false",
                      "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" +
                          name_ + "'"});
    }
    bool Resume() const { return Admin({"ALTER DATABASE " + name_ + " ALLOW_CONNECTIONS true"}); }
    const std::string& Url() const { return url_; }

private:
    bool Admin(const std::vector<std::string>& statements) const {
        try {
            soci::session admin;
            OpenPostgreSql(admin, admin_);
            // The database's name is made of digits (FreshDatabase).
            for (const std::string& statement : statements) admin << statement;
            return true;
        } catch (const std::exception& failure) {
            ADD_FAILURE() << failure.what();
            return false;
        }
    }
    testing::FreshDatabase fresh_{Engine::PostgreSQL};
    std::string url_, name_, admin_;
};
#endif

TEST_F(SerialInterrupt, ADatabaseLostMidRunSpoolsTheRecordAndTakesItBackPostgreSQL) {
    LostServer server;
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    const std::string url = server.Url();
    InitPool(url, "line", "1");

    std::vector<std::string> words = {"--simulate",
                                      "--sim-real-time",
                                      "--sim-baud=460800",
                                      "--sim-flash-out=" + Path("flash.hex"),
                                      "program",
                                      Big(),
                                      "--report",
                                      Report(),
                                      "--serial",
                                      "4100:4",
                                      "--serial-pool",
                                      "line",
                                      "--db",
                                      url};
    testing::FarsendChild child(words, Path("out"), Path("err"));
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(child.WaitUntil(
        [&] { return ProcessFiles::Read(Path("err")).find("program: 25%") != std::string::npos; },
        kLimit));
    ASSERT_TRUE(server.Pause());
    const testing::ChildEnd end = child.Wait(kLimit);
    const std::string err = ProcessFiles::Read(Path("err"));
    ASSERT_TRUE(end.exited) << err;
    // The unit in progress finished, and its record was kept.
    EXPECT_EQ(end.status, 0) << err;
    EXPECT_THAT(err, HasSubstr("records go to the spool"));
    const std::vector<Json> records = JsonLines(ProcessFiles::Read(Report()));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["serial"], 1);
    EXPECT_EQ(ContentsOf(Path("flash.hex")), Stamped(ContentsOf(Big()), Spec("4100:4"), 1));
    // The children inherited this process's environment, so their spool is
    // the one this process finds.
    const std::filesystem::path spool = SpoolLocationFor(url);
    ASSERT_TRUE(std::filesystem::exists(spool)) << spool;

    // While it is lost, no unit is programmed without its row, nor a number
    // made up: the run is refused.
    std::filesystem::remove(Path("flash.hex"));
    words = {"--simulate", "--sim-flash-out=" + Path("flash.hex"),
             "program",    Big(),
             "--quiet",    "--serial",
             "4100:4",     "--serial-pool",
             "line",       "--db",
             url};
    const ProcessResult refused = Farsend(words);
    EXPECT_EQ(refused.status, 9) << refused.err;
    EXPECT_TRUE(ContentsOf(Path("flash.hex")).empty());

    // Back again: the next start against it writes the spool in.
    ASSERT_TRUE(server.Resume());
    const ProcessResult listed = Farsend({"units", "--db", url, "--json"});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_THAT(listed.err, HasSubstr("1 record from the spool"));
    EXPECT_FALSE(std::filesystem::exists(spool));
    const std::vector<UnitRow> rows = UnitDatabase::Open(url)->ListUnits();
    ASSERT_EQ(rows.size(), 1u);
    ASSERT_TRUE(rows[0].finish);
    EXPECT_EQ(rows[0].finish->result, UnitResult::Programmed);
    EXPECT_EQ(rows[0].serial, 1);
    EXPECT_EQ(rows[0].finish->blocks, protocol::PlanProgrammingFile(Big())->blocks.size());
}

}  // namespace
}  // namespace farsend::units
