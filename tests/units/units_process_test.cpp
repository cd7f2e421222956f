// farsend serials and farsend units, run as processes against an SQLite file
// that the test also fills through the database's own interface.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/process_runner.h"
#include "support/scoped_environment.h"
#include "support/temp_directory.h"
#include "units/unit_database.h"

namespace farsend::units {
namespace {

using ::testing::HasSubstr;
using testing::RunFarsend;

TEST(UnitsProcess, PoolsAndUnitsThroughTheCommandLine) {
    testing::TempDirectory directory;
    const std::string db = (directory.path() / "line" / "units.sqlite").string();
    std::filesystem::create_directories(directory.path() / "line");  // a named one's is not made

    struct Call {
        std::vector<std::string> words;
        int status;
        std::string out;  // a part of standard output
        std::string err;  // a part of standard error
    };
    const std::vector<Call> setup = {
        {{"serials", "init", "board", "--first", "1000", "--last", "1002", "--db", db},
         0,
         "pool board: numbers from 1000 to 1002",
         ""},
        {{"--db", db, "serials", "init", "open", "--first", "1"}, 0, "pool open", ""},
        {{"serials", "init", "board", "--first", "1", "--db", db}, 2, "", "exists already"},
        {{"serials", "init", "bad", "--first", "9", "--last", "8", "--db", db},
         2,
         "",
         "--last 8 is below --first 9"},
        {{"serials", "init", "x", "--db", db}, 2, "", "needs --first"},
        {{"serials", "--first", "3", "--db", db}, 2, "", "serials init only"},
        {{"units", "--first", "3", "--db", db}, 2, "", "does not apply to units"},
        {{"units", "--since", "May 1st", "--db", db}, 2, "", "not a time"},
        {{"units", "--db", db}, 0, "no units recorded", ""},
    };
    for (const Call& call : setup) {
        SCOPED_TRACE(::testing::PrintToString(call.words));
        const testing::ProcessResult result = RunFarsend(call.words);
        EXPECT_EQ(result.status, call.status) << result.err;
        EXPECT_THAT(result.out, HasSubstr(call.out));
        EXPECT_THAT(result.err, HasSubstr(call.err));
    }

    {
        // Two stations program through the pool; one unit fails before any
        // block went out and gives its number back.
        const std::unique_ptr<UnitDatabase> units = UnitDatabase::Open(db);
        auto start = [](const char* station, const char* when) {
            UnitStart s;
            s.start = *ParseUtc(when);
            s.station = station;
            s.bridgeSerial = "BR1";
            s.file = "/fw/Farsend_15_bt.hex";
            s.sha256 = std::string(64, 'f');
            return s;
        };
        auto finish = [](UnitResult result, std::uint64_t blocks) {
            UnitFinish f;
            f.end = *ParseUtc("2024-05-01T10:30:00Z");
            f.result = result;
            f.blocks = blocks;
            f.exitStatus = result == UnitResult::Programmed ? 0 : 5;
            return f;
        };
        const StartedUnit a = units->StartUnit(start("1-1", "2024-05-01T10:00:00Z"), "board");
        units->FinishUnit(a.id, finish(UnitResult::Programmed, 40));
        const StartedUnit b = units->StartUnit(start("1-2", "2024-05-01T10:10:00Z"), "board");
        units->FinishUnit(b.id, finish(UnitResult::Failed, 0));
        units->ReturnNumber(b.id);
        const StartedUnit c = units->StartUnit(start("1-2", "2024-05-01T11:10:00Z"), "board");
        units->FinishUnit(c.id, finish(UnitResult::Programmed, 40));
        ASSERT_EQ(c.serial, b.serial);
    }

    const testing::ProcessResult pools = RunFarsend({"serials", "--json", "--db", db});
    ASSERT_EQ(pools.status, 0) << pools.err;
    const nlohmann::json poolList = nlohmann::json::parse(pools.out).at("pools");
    ASSERT_EQ(poolList.size(), 2u);
    EXPECT_EQ(poolList[0].at("name"), "board");
    EXPECT_EQ(poolList[0].at("issued"), 2);
    EXPECT_EQ(poolList[0].at("remaining"), 1);
    EXPECT_EQ(poolList[1].at("name"), "open");
    EXPECT_TRUE(poolList[1].at("remaining").is_null());

    const testing::ProcessResult station =
        RunFarsend({"units", "--json", "--station", "1-2", "--db", db});
    ASSERT_EQ(station.status, 0) << station.err;
    const nlohmann::json listed = nlohmann::json::parse(station.out);
    ASSERT_EQ(listed.at("units").size(), 2u);
    EXPECT_EQ(listed["units"][0].at("result"), "failed");
    EXPECT_EQ(listed["units"][0].at("number_returned"), true);
    EXPECT_EQ(listed["units"][1].at("serial"), 1001);
    EXPECT_EQ(listed["units"][1].at("number_returned"), false);
    ASSERT_EQ(listed.at("yield").size(), 2u);
    EXPECT_EQ(listed["yield"][0].at("hour"), "2024-05-01T10");
    EXPECT_EQ(listed["yield"][0].at("failed"), 1);
    EXPECT_EQ(listed["yield"][1].at("programmed"), 1);

    const testing::ProcessResult text =
        RunFarsend({"units", "--since", "2024-05-01T10:05", "--db", db});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_THAT(text.out, HasSubstr("1001 (returned)"));
    EXPECT_THAT(text.out, ::testing::Not(HasSubstr("1-1 ")));  // started before --since
    EXPECT_THAT(text.out, ::testing::ContainsRegex("1-2 +2024-05-01T11:00 +1 +0 +0 +0 +100.0%"));
    EXPECT_THAT(text.out, ::testing::ContainsRegex("1-2 +all +1 +1 +0 +0 +50.0%"));

    const testing::ProcessResult serial =
        RunFarsend({"units", "--json", "--serial", "1000", "--db", db});
    ASSERT_EQ(serial.status, 0) << serial.err;
    EXPECT_EQ(nlohmann::json::parse(serial.out).at("units").size(), 1u);

    UnitDatabase::Open(db)->ExecuteForTest("UPDATE schema_version SET version = 99");
    for (const char* command : {"serials", "units"}) {
        const testing::ProcessResult newer = RunFarsend({command, "--db", db});
        EXPECT_EQ(newer.status, 9);
        EXPECT_THAT(newer.err, HasSubstr("schema version 99, newer than this program's"));
    }
}

TEST(UnitsProcess, TheDefaultDatabaseLivesInTheDataHome) {
    testing::TempDirectory directory;
    testing::ProcessResult init, list;
    {
        // The children inherit the variable; this process runs no threads.
        const testing::ScopedEnvironment dataHome(
            {{testing::kDataHomeVariable, directory.path().string()}});
        init = RunFarsend({"serials", "init", "board", "--first", "7"});
        list = RunFarsend({"serials"});
    }
    EXPECT_EQ(init.status, 0) << init.err;
    EXPECT_TRUE(std::filesystem::exists(directory.path() / "farsend" / "units.sqlite"));
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_THAT(list.out, ::testing::ContainsRegex("board +7 +- +7 +0"));

    const testing::ProcessResult unwritable = RunFarsend(
        {"units", "--db", (directory.path() / "farsend" / "units.sqlite" / "x").string()});
    EXPECT_EQ(unwritable.status, 9);
    EXPECT_THAT(unwritable.err, HasSubstr("cannot"));
}

}  // namespace
}  // namespace farsend::units
