// A database of the first schema, which had no host and no simulated mark,
// brought forward with its rows kept, on both engines; and the engines'
// messages, which quote what targets sent.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "units/database_fixture.h"
#include "units/soci.h"
#include "units/unit_database.h"
#include "units/yield_queries.h"

namespace farsend::units {
namespace {

using testing::FreshDatabase;

class UnitDatabaseUpgradeTest : public ::testing::TestWithParam<Engine> {
protected:
    std::string NewLocation() {
        std::string error;
        const std::string location = fresh_.Create(error);
        if (location.empty()) ADD_FAILURE() << error;
        return location;
    }
    FreshDatabase fresh_{GetParam()};
};

UnitStart StartAt(const std::string& host, const std::string& station, const char* when,
                  bool simulated = false) {
    UnitStart start;
    start.start = *ParseUtc(when);
    start.host = host;
    start.station = station;
    start.bridgeSerial = "FS1";
    start.file = "Farsend_15_bt.hex";
    start.sha256 = "ab";
    start.simulated = simulated;
    return start;
}

// The schema as the first release wrote it, with one unit in it, and the
// statements `more` run after.
void WriteFirstSchema(Engine engine, const std::string& location,
                      const std::vector<std::string>& more = {}) {
    soci::session sql;
    if (engine == Engine::SQLite) {
        sql.open(soci::sqlite3, "db=\"" + location + "\"");
    } else {
        // As the program opens it: by name on Linux, linked in on Windows.
        OpenPostgreSql(sql, location);
    }
    const std::string id =
        engine == Engine::SQLite ? "INTEGER PRIMARY KEY AUTOINCREMENT" : "BIGSERIAL PRIMARY KEY";
    sql << "CREATE TABLE schema_version (version INTEGER NOT NULL)";
    sql << "INSERT INTO schema_version (version) VALUES (1)";
    sql << "CREATE TABLE pools (name TEXT PRIMARY KEY, first_number BIGINT NOT NULL,"
           " last_number BIGINT, next_number BIGINT NOT NULL)";
    sql << "CREATE TABLE returned_numbers (pool TEXT NOT NULL REFERENCES pools (name),"
           " number BIGINT NOT NULL, PRIMARY KEY (pool, number))";
    sql << "CREATE TABLE units (id " + id +
               ", record_id TEXT NOT NULL UNIQUE, start_time TEXT NOT NULL, end_time TEXT,"
               " station TEXT NOT NULL, bridge_serial TEXT NOT NULL,"
               " variant TEXT NOT NULL DEFAULT '', version TEXT NOT NULL DEFAULT '',"
               " file TEXT NOT NULL, sha256 TEXT NOT NULL, pool TEXT REFERENCES pools (name),"
               " serial BIGINT, number_returned INTEGER NOT NULL DEFAULT 0,"
               " blocks BIGINT NOT NULL DEFAULT 0, bytes BIGINT NOT NULL DEFAULT 0,"
               " seconds DOUBLE PRECISION NOT NULL DEFAULT 0, result TEXT, exit_status INTEGER,"
               " message TEXT NOT NULL DEFAULT '')";
    sql << "INSERT INTO units (record_id, start_time, end_time, station, bridge_serial, file,"
           " sha256, result, exit_status) VALUES ('old', '2024-05-01T10:00:00Z',"
           " '2024-05-01T10:00:09Z', '1-2', 'FS1', 'old.hex', 'cd', 'programmed', 0)";
    for (const std::string& statement : more) sql << statement;
}

TEST_P(UnitDatabaseUpgradeTest, BringsTheFirstSchemaForwardAndKeepsItsUnits) {
    const std::string location = NewLocation();
    ASSERT_FALSE(location.empty());
    WriteFirstSchema(GetParam(), location);

    std::unique_ptr<UnitDatabase> db = UnitDatabase::Open(location);
    EXPECT_EQ(db->schemaVersion(), kSchemaVersion);
    UnitStart underJob = StartAt("line-pc-2", "1-2", "2024-05-01T10:05:00Z", true);
    underJob.jobName = "board-v2";
    underJob.jobSha256 = "ef";
    underJob.jobUnitLimit = 5;  // the job tables came with the upgrade
    db->StartUnit(underJob);
    db.reset();

    // Once forward, it stays there: a second open finds nothing to do.
    const std::vector<UnitRow> rows = UnitDatabase::Open(location)->ListUnits();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].recordId, "old");
    EXPECT_EQ(rows[0].start.host, "");
    EXPECT_FALSE(rows[0].start.simulated);
    ASSERT_TRUE(rows[0].finish);
    EXPECT_EQ(rows[0].finish->result, UnitResult::Programmed);
    EXPECT_EQ(rows[1].start.host, "line-pc-2");
    EXPECT_TRUE(rows[1].start.simulated);
    EXPECT_EQ(rows[0].start.jobName, "");  // programmed before jobs were
    EXPECT_EQ(rows[1].start.jobName, "board-v2");
    EXPECT_EQ(rows[1].start.jobSha256, "ef");
}

// The dashboard's counts are made once, in the upgrade, from the units
// there; units recorded after it add to them.
TEST_P(UnitDatabaseUpgradeTest, CountsTheUnitsOfAnOlderDatabaseOnce) {
    const std::string location = NewLocation();
    ASSERT_FALSE(location.empty());
    std::vector<std::string> more;
    for (const char* row : {"'f1', '2024-05-01T10:20:00Z', 'failed', 'no answer'",
                            "'f2', '2024-05-01T11:40:00Z', 'failed', 'no answer'",
                            "'f3', '2024-05-01T11:05:00Z', 'failed', 'verify failed'",
                            "'i1', '2024-05-01T11:10:00Z', 'interrupted', 'let go'",
                            "'u1', '2024-05-01T11:59:59Z', NULL, ''"}) {
        more.push_back(std::string("INSERT INTO units (record_id, start_time, result,"
                                   " message, station, bridge_serial, file, sha256) SELECT ") +
                       row + ", '1-2', 'FS1', 'old.hex', 'cd'");
    }
    WriteFirstSchema(GetParam(), location, more);
    const RangeFilter range{
        *ParseUtc("2024-05-01T10:00:00Z"), *ParseUtc("2024-05-01T12:00:00Z"), {}, {}};
    auto counts = [&](UnitDatabase& db) {
        std::string text;
        for (const HourYield& hour : YieldPerHour(db, range)) {
            const ResultCounts& c = hour.counts;
            text += FormatUtc(hour.hour) + " " + std::to_string(c.programmed) + "/" +
                    std::to_string(c.failed) + "/" + std::to_string(c.interrupted) + "/" +
                    std::to_string(c.unfinished) + "; ";
        }
        for (const FailureReason& reason : FailureReasons(db, range, 5)) {
            text += reason.message + " " + std::to_string(reason.units) + " " +
                    FormatUtc(reason.latest) + "; ";
        }
        return text;
    };
    const std::string expected =
        "2024-05-01T10:00:00Z 1/1/0/0; 2024-05-01T11:00:00Z 0/2/1/1; "
        "no answer 2 2024-05-01T11:40:00Z; verify failed 1 2024-05-01T11:05:00Z; ";
    EXPECT_EQ(counts(*UnitDatabase::Open(location)), expected);
    std::unique_ptr<UnitDatabase> db = UnitDatabase::Open(location);
    EXPECT_EQ(counts(*db), expected);  // not counted twice
    db->StartUnit(StartAt("pc", "1-2", "2024-05-01T10:30:00Z"));
    EXPECT_EQ(counts(*db),
              "2024-05-01T10:00:00Z 1/1/0/1; 2024-05-01T11:00:00Z 0/2/1/1; "
              "no answer 2 2024-05-01T11:40:00Z; verify failed 1 2024-05-01T11:05:00Z; ");
}

INSTANTIATE_TEST_SUITE_P(Engines, UnitDatabaseUpgradeTest,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const ::testing::TestParamInfo<Engine>& info) {
                             return std::string(testing::EngineName(info.param));
                         });

// The engine's message quotes the values bound to the statement that failed
// (here a target's version): they reach the operator
// escaped, and the message still says what went wrong.
TEST(UnitDatabaseMessages, QuoteBoundValuesEscaped) {
    testing::TempDirectory directory;
    const std::unique_ptr<UnitDatabase> db =
        UnitDatabase::Open((directory.path() / "units.sqlite").string());
    db->ExecuteForTest(
        "CREATE TRIGGER refuse BEFORE UPDATE ON units BEGIN SELECT RAISE(ABORT, 'no room'); END");
    UnitStart start = StartAt("pc", "1-2", "2024-05-01T10:00:00Z");
    const std::int64_t id = db->StartUnit(start).id;
    UnitFinish finish;
    finish.version = "1.5.0\x1b]0;t\a";
    try {
        db->FinishUnit(id, finish);
        ADD_FAILURE() << "finished";
    } catch (const UnitDatabaseError& error) {
        const std::string message = error.what();
        EXPECT_EQ(error.kind(), UnitDatabaseError::Kind::Unavailable);
        EXPECT_THAT(message, ::testing::HasSubstr("no room"));
        EXPECT_THAT(message, ::testing::HasSubstr("1.5.0\\e]0;t\\x07"));
        EXPECT_EQ(message.find_first_of("\x1b\a"), std::string::npos) << message;
    }
}

}  // namespace
}  // namespace farsend::units
