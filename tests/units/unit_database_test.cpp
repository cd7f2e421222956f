// The unit database over both engines: the same cases run against an SQLite
// file and against a real PostgreSQL server.
#include "units/unit_database.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "units/database_fixture.h"
#include "units/spool.h"

namespace farsend::units {
namespace {

using testing::FreshDatabase;
using ::testing::HasSubstr;
using Kind = UnitDatabaseError::Kind;

TimePoint At(const char* text) {
    const std::optional<TimePoint> when = ParseUtc(text);
    if (!when) throw std::invalid_argument(std::string("bad time in a test: ") + text);
    return *when;
}

UnitStart StartAt(const char* when, const std::string& station) {
    UnitStart start;
    start.start = At(when);
    start.station = station;
    start.bridgeSerial = "BR-" + station;
    start.file = "/fw/Farsend_15_bt.hex";
    start.sha256 = std::string(64, 'a');
    return start;
}

UnitFinish FinishAt(const char* when, UnitResult result, std::uint64_t blocks) {
    UnitFinish finish;
    finish.end = At(when);
    finish.variant = "Bluetooth";
    finish.version = "1.5.0";
    finish.blocks = blocks;
    finish.bytes = blocks * 128;
    finish.seconds = 12.25;
    finish.result = result;
    finish.exitStatus = result == UnitResult::Programmed ? 0 : 6;
    finish.message = result == UnitResult::Programmed ? "" : "no answer";
    return finish;
}

// What an operation came to: the number taken, or the error's kind.
std::string KindName(Kind kind) {
    switch (kind) {
        case Kind::Unavailable:
            return "unavailable";
        case Kind::FileReplaced:
            return "file replaced";
        case Kind::SchemaTooNew:
            return "schema too new";
        case Kind::PoolExists:
            return "pool exists";
        case Kind::UnknownPool:
            return "unknown pool";
        case Kind::PoolExhausted:
            return "exhausted";
        case Kind::UnknownUnit:
            return "unknown unit";
        case Kind::NumberInUse:
            return "in use";
        case Kind::InvalidArgument:
            return "invalid";
        case Kind::JobLimitReached:
            return "job limit";
        case Kind::KeyRevoked:
            return "key revoked";
    }
    return "?";
}

class UnitDatabaseTest : public ::testing::TestWithParam<Engine> {
protected:
    // A new empty database; the test fails (does not skip) without one.
    std::string NewLocation() {
        std::string error;
        const std::string location = fresh_.Create(error);
        if (location.empty()) ADD_FAILURE() << error;
        return location;
    }
    std::unique_ptr<UnitDatabase> OpenNew() {
        const std::string location = NewLocation();
        if (location.empty()) return nullptr;
        return UnitDatabase::Open(location);
    }

    FreshDatabase fresh_{GetParam()};
};

// Each step: 'T' starts a unit taking a number from `pool`, 'U' one without
// a number, 'B' finishes unit `unit` (by order of start) with blocks sent,
// 'R' returns its number. `expect`: the number taken, "ok", or the error.
struct Step {
    char op;
    int unit;
    const char* expect;
};

struct PoolCase {
    const char* name;
    std::int64_t first;
    std::optional<std::int64_t> last;
    const char* pool;  // the pool the steps take from
    std::vector<Step> steps;
    std::int64_t issued, returned;
    std::optional<std::int64_t> remaining;
};

TEST_P(UnitDatabaseTest, NumberPoolsIssueEachNumberOnceAndTakeBackUnusedOnes) {
    const std::vector<PoolCase> cases = {
        {"bounded pool runs out",
         1000,
         1002,
         "p",
         {{'T', 0, "1000"}, {'T', 0, "1001"}, {'T', 0, "1002"}, {'T', 0, "exhausted"}},
         3,
         0,
         0},
        {"returned number is issued again, lowest first",
         1,
         std::nullopt,
         "p",
         {{'T', 0, "1"},
          {'T', 0, "2"},
          {'T', 0, "3"},
          {'R', 2, "ok"},
          {'R', 0, "ok"},
          {'T', 0, "1"},
          {'T', 0, "3"},
          {'T', 0, "4"}},
         4,
         0,
         std::nullopt},
        {"blocks sent: the number stays spent",
         7,
         9,
         "p",
         {{'T', 0, "7"}, {'B', 0, "ok"}, {'R', 0, "in use"}, {'T', 0, "8"}},
         2,
         0,
         1},
        {"returning twice gives the number back once",
         1,
         std::nullopt,
         "p",
         {{'T', 0, "1"}, {'R', 0, "ok"}, {'R', 0, "ok"}, {'T', 0, "1"}, {'T', 0, "2"}},
         2,
         0,
         std::nullopt},
        {"an exhausted pool serves a returned number",
         5,
         5,
         "p",
         {{'T', 0, "5"},
          {'T', 0, "exhausted"},
          {'R', 0, "ok"},
          {'T', 0, "5"},
          {'T', 0, "exhausted"}},
         1,
         0,
         0},
        {"a returned number waits in the pool",
         10,
         12,
         "p",
         {{'T', 0, "10"}, {'T', 0, "11"}, {'R', 0, "ok"}},
         1,
         1,
         2},
        {"unknown pool",
         1,
         std::nullopt,
         "missing",
         {{'T', 0, "unknown pool"}, {'U', 0, "ok"}, {'R', 0, "invalid"}},
         0,
         0,
         std::nullopt},
    };
    for (const PoolCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::unique_ptr<UnitDatabase> db = OpenNew();
        ASSERT_NE(db, nullptr);
        db->CreatePool("p", c.first, c.last);
        std::vector<std::int64_t> units;  // ids, by order of start
        std::size_t rowsWritten = 0;
        for (const Step& step : c.steps) {
            std::string outcome = "ok";
            try {
                switch (step.op) {
                    case 'T':
                    case 'U': {
                        const StartedUnit started = db->StartUnit(
                            StartAt("2024-05-01T10:00:00Z", "1-1"),
                            step.op == 'T' ? std::optional<std::string>(c.pool) : std::nullopt);
                        units.push_back(started.id);
                        ++rowsWritten;
                        if (started.serial) outcome = std::to_string(*started.serial);
                        break;
                    }
                    case 'B':
                        db->FinishUnit(units.at(step.unit),
                                       FinishAt("2024-05-01T10:01:00Z", UnitResult::Failed, 3));
                        break;
                    case 'R':
                        db->ReturnNumber(units.at(step.unit));
                        break;
                }
            } catch (const UnitDatabaseError& error) {
                outcome = KindName(error.kind());
            }
            EXPECT_EQ(outcome, step.expect) << "step " << step.op << step.unit;
        }
        // A start that could not take its number leaves no row behind.
        EXPECT_EQ(db->ListUnits().size(), rowsWritten);
        const std::vector<PoolInfo> pools = db->ListPools();
        ASSERT_EQ(pools.size(), 1u);
        EXPECT_EQ(pools[0].issued, c.issued);
        EXPECT_EQ(pools[0].returned, c.returned);
        EXPECT_EQ(pools[0].remaining, c.remaining);
    }
}

TEST_P(UnitDatabaseTest, PoolsRefuseBadDefinitions) {
    const std::unique_ptr<UnitDatabase> db = OpenNew();
    ASSERT_NE(db, nullptr);
    db->CreatePool("board", 100, 199);
    struct Row {
        const char* name;
        std::int64_t first;
        std::optional<std::int64_t> last;
        const char* expect;
    };
    for (const Row& row : std::vector<Row>{{"board", 1, std::nullopt, "pool exists"},
                                           {"upside-down", 10, 9, "invalid"},
                                           {"", 1, std::nullopt, "invalid"},
                                           {"single", 10, 10, "ok"},
                                           {"it's \"quoted\"; DROP TABLE pools", 1, 2, "ok"}}) {
        std::string outcome = "ok";
        try {
            db->CreatePool(row.name, row.first, row.last);
        } catch (const UnitDatabaseError& error) {
            outcome = KindName(error.kind());
        }
        EXPECT_EQ(outcome, row.expect) << row.name;
    }
    std::vector<std::string> names;
    for (const PoolInfo& pool : db->ListPools()) names.push_back(pool.name);
    EXPECT_THAT(names,
                ::testing::ElementsAre("board", "it's \"quoted\"; DROP TABLE pools", "single"));
}

// Where the column that keeps the next number ends, the pool ends: with or
// without a last number, never a wrap to negative numbers.
TEST_P(UnitDatabaseTest, APoolEndsWhereItsNumbersCanBeStored) {
    const std::unique_ptr<UnitDatabase> db = OpenNew();
    ASSERT_NE(db, nullptr);
    db->CreatePool("open", kLargestPoolNumber - 1);
    db->CreatePool("closed", kLargestPoolNumber, kLargestPoolNumber);
    for (const auto& [pool, numbers] :
         std::vector<std::pair<std::string, std::vector<std::int64_t>>>{
             {"open", {kLargestPoolNumber - 1, kLargestPoolNumber}},
             {"closed", {kLargestPoolNumber}}}) {
        for (const std::int64_t number : numbers) {
            EXPECT_EQ(db->StartUnit(UnitStart{}, pool).serial, number) << pool;
        }
        std::string outcome = "issued";
        try {
            db->StartUnit(UnitStart{}, pool);
        } catch (const UnitDatabaseError& error) {
            outcome = KindName(error.kind());
        }
        EXPECT_EQ(outcome, "exhausted") << pool;
    }
    for (const PoolInfo& pool : db->ListPools()) EXPECT_EQ(pool.next, INT64_MAX) << pool.name;
    for (const auto& [first, last] :
         std::vector<std::pair<std::int64_t, std::optional<std::int64_t>>>{
             {INT64_MAX, std::nullopt}, {1, INT64_MAX}}) {
        std::string outcome = "ok";
        try {
            db->CreatePool("past the end", first, last);
        } catch (const UnitDatabaseError& error) {
            outcome = KindName(error.kind());
        }
        EXPECT_EQ(outcome, "invalid");
    }
}

TEST_P(UnitDatabaseTest, ListsUnitsByFilterAndCountsTheYieldPerStationAndHour) {
    const std::unique_ptr<UnitDatabase> db = OpenNew();
    ASSERT_NE(db, nullptr);
    db->CreatePool("board", 500);
    struct Unit {
        const char* label;
        const char* start;
        const char* station;
        std::optional<UnitResult> result;  // none: unfinished
    };
    const std::vector<Unit> data = {
        {"a", "2024-05-01T09:10:00Z", "1-1", UnitResult::Programmed},
        {"b", "2024-05-01T09:50:00Z", "1-1", UnitResult::Failed},
        {"c", "2024-05-01T10:05:00Z", "1-1", UnitResult::Programmed},
        {"d", "2024-05-01T09:20:00Z", "2-4", UnitResult::Interrupted},
        {"e", "2024-05-01T10:59:59Z", "2-4", UnitResult::Programmed},
        {"f", "2024-05-01T11:00:00Z", "2-4", std::nullopt},
        {"g", "2024-05-02T00:00:00Z", "1-1", UnitResult::Programmed},
    };
    std::map<std::int64_t, std::string> labels;  // unit id -> label
    std::map<std::string, std::int64_t> serials;
    for (const Unit& unit : data) {
        const StartedUnit started = db->StartUnit(StartAt(unit.start, unit.station), "board");
        labels[started.id] = unit.label;
        serials[unit.label] = *started.serial;
        if (unit.result) {
            db->FinishUnit(started.id, FinishAt(unit.start, *unit.result, 40));
        }
    }

    struct Query {
        const char* name;
        UnitFilter filter;
        std::vector<std::string> units;  // by start time
        std::vector<std::string> yield;  // "station hour programmed/failed/interrupted/unfinished"
    };
    UnitFilter since10;
    since10.since = At("2024-05-01T10:00:00Z");
    UnitFilter station24;
    station24.station = "2-4";
    UnitFilter serialOfE;
    serialOfE.serial = serials["e"];
    UnitFilter combined = since10;
    combined.station = "1-1";
    UnitFilter nobody;
    nobody.station = "1-1' OR '1'='1";
    const std::vector<Query> queries = {
        {"everything",
         {},
         {"a", "d", "b", "c", "e", "f", "g"},
         {"1-1 2024-05-01T09 1/1/0/0", "1-1 2024-05-01T10 1/0/0/0", "1-1 2024-05-02T00 1/0/0/0",
          "2-4 2024-05-01T09 0/0/1/0", "2-4 2024-05-01T10 1/0/0/0", "2-4 2024-05-01T11 0/0/0/1"}},
        {"since, inclusive",
         since10,
         {"c", "e", "f", "g"},
         {"1-1 2024-05-01T10 1/0/0/0", "1-1 2024-05-02T00 1/0/0/0", "2-4 2024-05-01T10 1/0/0/0",
          "2-4 2024-05-01T11 0/0/0/1"}},
        {"one station",
         station24,
         {"d", "e", "f"},
         {"2-4 2024-05-01T09 0/0/1/0", "2-4 2024-05-01T10 1/0/0/0", "2-4 2024-05-01T11 0/0/0/1"}},
        {"one serial", serialOfE, {"e"}, {"2-4 2024-05-01T10 1/0/0/0"}},
        {"since and station",
         combined,
         {"c", "g"},
         {"1-1 2024-05-01T10 1/0/0/0", "1-1 2024-05-02T00 1/0/0/0"}},
        {"a value is never SQL", nobody, {}, {}},
    };
    for (const Query& query : queries) {
        SCOPED_TRACE(query.name);
        std::vector<std::string> units;
        for (const UnitRow& row : db->ListUnits(query.filter)) units.push_back(labels[row.id]);
        EXPECT_EQ(units, query.units);
        std::vector<std::string> yield;
        for (const YieldRow& row : db->Yield(query.filter)) {
            yield.push_back(row.station + " " + row.hour + " " + std::to_string(row.programmed) +
                            "/" + std::to_string(row.failed) + "/" +
                            std::to_string(row.interrupted) + "/" + std::to_string(row.unfinished));
        }
        EXPECT_EQ(yield, query.yield);
    }

    // A row comes back as it went in.
    const std::vector<UnitRow> rows = db->ListUnits(serialOfE);
    ASSERT_EQ(rows.size(), 1u);
    const UnitRow& row = rows[0];
    EXPECT_EQ(FormatUtc(row.start.start), "2024-05-01T10:59:59Z");
    EXPECT_EQ(row.start.station, "2-4");
    EXPECT_EQ(row.start.bridgeSerial, "BR-2-4");
    EXPECT_EQ(row.start.sha256, std::string(64, 'a'));
    EXPECT_EQ(row.pool, "board");
    ASSERT_TRUE(row.finish.has_value());
    EXPECT_EQ(row.finish->variant, "Bluetooth");
    EXPECT_EQ(row.finish->version, "1.5.0");
    EXPECT_EQ(row.finish->blocks, 40u);
    EXPECT_EQ(row.finish->bytes, 40u * 128);
    EXPECT_DOUBLE_EQ(row.finish->seconds, 12.25);
    EXPECT_EQ(row.finish->result, UnitResult::Programmed);
    EXPECT_EQ(row.recordId.size(), 32u);
}

TEST_P(UnitDatabaseTest, KeepsItsSchemaAndRefusesANewerOne) {
    const std::string location = NewLocation();
    ASSERT_FALSE(location.empty());
    {
        const std::unique_ptr<UnitDatabase> db = UnitDatabase::Open(location);
        EXPECT_EQ(db->schemaVersion(), kSchemaVersion);
        db->CreatePool("board", 1);
        db->StartUnit(StartAt("2024-05-01T10:00:00Z", "1-1"), "board");
    }
    {
        // Opened again: the rows are kept, not created afresh.
        const std::unique_ptr<UnitDatabase> db = UnitDatabase::Open(location);
        EXPECT_EQ(db->ListUnits().size(), 1u);
        ASSERT_EQ(db->ListPools().size(), 1u);
        EXPECT_EQ(db->ListPools()[0].next, 2);
        db->ExecuteForTest("UPDATE schema_version SET version = " +
                           std::to_string(kSchemaVersion + 1));
    }
    try {
        UnitDatabase::Open(location);
        ADD_FAILURE() << "a newer schema was opened";
    } catch (const UnitDatabaseError& error) {
        EXPECT_EQ(error.kind(), Kind::SchemaTooNew);
        EXPECT_THAT(error.what(),
                    HasSubstr("schema version " + std::to_string(kSchemaVersion + 1)));
    }
}

TEST_P(UnitDatabaseTest, ReplayingASpoolWritesEachRecordOnce) {
    const std::unique_ptr<UnitDatabase> db = UnitDatabase::Open(NewLocation());
    db->CreatePool("board", 1);
    // One unit started while the database was there and finished while it
    // was lost; one that never reached it; and a line torn by a crash.
    const StartedUnit inDatabase = db->StartUnit(StartAt("2024-05-01T10:00:00Z", "1-1"), "board");
    UnitRow finishedLater;
    finishedLater.recordId = inDatabase.recordId;
    finishedLater.start = StartAt("2024-05-01T10:00:00Z", "1-1");
    finishedLater.pool = "board";
    finishedLater.serial = inDatabase.serial;
    finishedLater.finish = FinishAt("2024-05-01T10:00:30Z", UnitResult::Programmed, 40);
    UnitRow neverThere;
    neverThere.recordId = NewRecordId();
    neverThere.start = StartAt("2024-05-01T10:05:00Z", "1-1");
    neverThere.start.file = "/fw/\xff-not-utf8.hex";
    neverThere.finish = FinishAt("2024-05-01T10:05:20Z", UnitResult::Failed, 0);

    const std::filesystem::path spool = fresh_.directory().path() / "spool" / "units.jsonl";
    std::string error;
    ASSERT_TRUE(AppendToSpool(spool, finishedLater, error)) << error;
    ASSERT_TRUE(AppendToSpool(spool, neverThere, error)) << error;
    std::ofstream(spool, std::ios::app) << "{\"record_id\": \"torn";

    const ReplayResult first = db->ReplaySpool(spool);
    EXPECT_EQ(first.written, 2u);
    EXPECT_EQ(first.already, 0u);
    EXPECT_EQ(first.kept, 1u);  // the torn line waits for a person to look at it

    // The same records again, as after a crash between writing them and
    // emptying the spool: nothing new.
    ASSERT_TRUE(AppendToSpool(spool, finishedLater, error)) << error;
    ASSERT_TRUE(AppendToSpool(spool, neverThere, error)) << error;
    const ReplayResult second = db->ReplaySpool(spool);
    EXPECT_EQ(second.written, 0u);
    EXPECT_EQ(second.already, 2u);
    EXPECT_EQ(second.kept, 1u);

    const std::vector<UnitRow> rows = db->ListUnits();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].id, inDatabase.id);
    ASSERT_TRUE(rows[0].finish.has_value());
    EXPECT_EQ(rows[0].finish->result, UnitResult::Programmed);
    EXPECT_EQ(rows[0].serial, inDatabase.serial);
    EXPECT_EQ(rows[1].recordId, neverThere.recordId);
    EXPECT_FALSE(rows[1].serial.has_value());
    ASSERT_TRUE(rows[1].finish.has_value());
    EXPECT_EQ(rows[1].finish->message, "no answer");
    EXPECT_EQ(rows[1].start.file, "/fw/\xef\xbf\xbd-not-utf8.hex");
}

// A station spools while another replays the same spool: every record ends
// up in the database, none is emptied away between the replay's read and
// its rewrite.
TEST_P(UnitDatabaseTest, ARecordSpooledDuringAReplayIsNeverLost) {
    const std::string location = NewLocation();
    const std::unique_ptr<UnitDatabase> db = UnitDatabase::Open(location);
    const std::filesystem::path spool = fresh_.directory().path() / "racing.jsonl";
    constexpr int kRecords = 300;
    std::atomic<bool> appended{false};
    std::string appendError;
    std::thread station([&] {
        for (int i = 0; i < kRecords && appendError.empty(); ++i) {
            UnitRow row;
            row.recordId = NewRecordId();
            row.start = StartAt("2024-05-01T10:00:00Z", "1-" + std::to_string(i % 4));
            row.finish = FinishAt("2024-05-01T10:00:10Z", UnitResult::Programmed, 8);
            AppendToSpool(spool, row, appendError);
        }
        appended = true;
    });
    while (!appended) db->ReplaySpool(spool);
    station.join();
    ASSERT_EQ(appendError, "");
    db->ReplaySpool(spool);
    EXPECT_EQ(db->ListUnits().size(), static_cast<size_t>(kRecords));
    EXPECT_FALSE(std::filesystem::exists(spool));
}

// Processes, not threads: each has its own connection, as stations do.
// Processes of farsend.exe sharing a pool are the serial process tests' and
// the mixed line's (scripts/mixed-line-test.sh): Windows has no fork.
#ifndef _WIN32
TEST_P(UnitDatabaseTest, ProcessesSharingAPoolNeverGetTheSameNumber) {
    const int processes = GetParam() == Engine::SQLite ? 2 : 4;
    constexpr int kNumbers = 100;
    const std::string location = NewLocation();
    ASSERT_FALSE(location.empty());
    UnitDatabase::Open(location)->CreatePool("board", 1000, 1000 + kNumbers - 1);

    // The children connect, then wait at this gate until all of them are
    // there, so that their transactions overlap as much as they can.
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    std::vector<pid_t> children;
    for (int child = 0; child < processes; ++child) {
        const std::filesystem::path out =
            fresh_.directory().path() / ("numbers-" + std::to_string(child));
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int status = 0;
            try {
                ::close(gate[1]);
                const std::unique_ptr<UnitDatabase> db = UnitDatabase::Open(location);
                char none = 0;
                while (::read(gate[0], &none, 1) < 0 && errno == EINTR) {
                }
                std::ofstream numbers(out);
                for (int i = 0; i < kNumbers / processes; ++i) {
                    const StartedUnit started = db->StartUnit(
                        StartAt("2024-05-01T10:00:00Z", "station-" + std::to_string(child)),
                        "board");
                    numbers << *started.serial << '\n';
                }
                numbers.flush();
                status = numbers ? 0 : 3;
            } catch (const std::exception& error) {
                std::fprintf(stderr, "child %d: %s\n", child, error.what());
                status = 2;
            }
            ::_exit(status);
        }
        children.push_back(pid);
    }
    ::close(gate[0]);
    ::close(gate[1]);  // opens the gate: every child's read returns
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }

    std::multiset<std::int64_t> told;
    for (int child = 0; child < processes; ++child) {
        std::ifstream numbers(fresh_.directory().path() / ("numbers-" + std::to_string(child)));
        for (std::int64_t number = 0; numbers >> number;) told.insert(number);
    }
    std::set<std::int64_t> expected;
    for (int i = 0; i < kNumbers; ++i) expected.insert(1000 + i);
    EXPECT_EQ(told, std::multiset<std::int64_t>(expected.begin(), expected.end()));

    const std::unique_ptr<UnitDatabase> db = UnitDatabase::Open(location);
    std::set<std::int64_t> recorded;
    for (const UnitRow& row : db->ListUnits()) recorded.insert(row.serial.value_or(-1));
    EXPECT_EQ(recorded, expected);
    EXPECT_EQ(db->ListPools().at(0).remaining, 0);
    EXPECT_THROW(db->StartUnit(StartAt("2024-05-01T11:00:00Z", "x"), "board"), UnitDatabaseError);
}
#endif

INSTANTIATE_TEST_SUITE_P(Engines, UnitDatabaseTest,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const ::testing::TestParamInfo<Engine>& info) {
                             return std::string(testing::EngineName(info.param));
                         });

TEST(UnitDatabaseOpen, SaysWhyADatabaseCannotBeOpened) {
    testing::TempDirectory directory;
    const std::filesystem::path notDatabase =
        directory.Touch("notes.sqlite", std::string(4096, 'x'));
    const std::filesystem::path folder = directory.MakeDirectory("a-folder");
    directory.Touch("file");
    struct Row {
        std::string location;
        Kind kind;
        std::string says;
        std::string never;  // must not appear in the message
    };
    const std::vector<Row> rows = {
        {notDatabase.string(), Kind::Unavailable, notDatabase.string(), ""},
        {folder.string(), Kind::Unavailable, "cannot open the unit database", ""},
        {(directory.path() / "file" / "below-a-file.sqlite").string(), Kind::Unavailable,
         "does not exist", ""},
        {"", Kind::Unavailable, "no unit database given", ""},
        {"postgresql://farsend:s3cret@/units?host=" + (directory.path() / "no-server").string(),
         Kind::Unavailable, "postgresql://farsend:***@/units", "s3cret"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.location);
        try {
            UnitDatabase::Open(row.location);
            ADD_FAILURE() << "opened";
        } catch (const UnitDatabaseError& error) {
            EXPECT_EQ(error.kind(), row.kind);
            EXPECT_THAT(error.what(), HasSubstr(row.says));
            if (!row.never.empty()) {
                EXPECT_THAT(error.what(), ::testing::Not(HasSubstr(row.never)));
            }
        }
    }
}

TEST(UnitDatabaseTime, ReadsTheTimesTheCommandLineTakes) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"2024-05-01", "2024-05-01T00:00:00Z"},
        {"2024-05-01T12:34", "2024-05-01T12:34:00Z"},
        {"2024-05-01 12:34:56", "2024-05-01T12:34:56Z"},
        {"2024-02-29T23:59:59Z", "2024-02-29T23:59:59Z"},
        {"1969-12-31T23:59:59Z", "1969-12-31T23:59:59Z"},
        {"2023-02-29", ""},
        {"2024-04-31", ""},
        {"2024-05-01T24:00", ""},
        {"2024-05-01T12", ""},
        {"2024-05-01T12:00:00+02:00", ""},
        {"yesterday", ""},
        // Beyond what the clock's nanoseconds hold: refused, not wrapped.
        {"2262-04-11T23:47:16Z", "2262-04-11T23:47:16Z"},
        {"2262-04-11T23:47:17Z", ""},
        {"2300-01-01", ""},
        {"1677-09-21T00:12:44Z", "1677-09-21T00:12:44Z"},
        {"1677-09-21T00:12:43Z", ""},
        {"1600-01-01", ""},
    };
    for (const auto& [text, expected] : rows) {
        const std::optional<TimePoint> when = ParseUtc(text);
        EXPECT_EQ(when ? FormatUtc(*when) : "", expected) << text;
    }
}

const char* FakeEnvironment(const char* name);
std::map<std::string, std::string> gEnvironment;
const char* FakeEnvironment(const char* name) {
    const auto found = gEnvironment.find(name);
    return found == gEnvironment.end() ? nullptr : found->second.c_str();
}

TEST(UnitDatabaseLocation, FollowsTheDataHomeOfTheUser) {
    const std::vector<std::pair<std::map<std::string, std::string>, std::string>> rows = {
#ifdef _WIN32
        {{{"LOCALAPPDATA", "C:\\Users\\op\\AppData\\Local"}, {"HOME", "C:\\home"}},
         "C:\\Users\\op\\AppData\\Local\\farsend\\units.sqlite"},
        {{{"LOCALAPPDATA", "\\\\server\\op"}}, "\\\\server\\op\\farsend\\units.sqlite"},
        {{{"LOCALAPPDATA", "relative"}}, ""},
        {{{"XDG_DATA_HOME", "C:\\data"}}, ""},
#else
        {{{"XDG_DATA_HOME", "/data"}, {"HOME", "/home/op"}}, "/data/farsend/units.sqlite"},
        {{{"HOME", "/home/op"}}, "/home/op/.local/share/farsend/units.sqlite"},
        {{{"XDG_DATA_HOME", "relative"}, {"HOME", "/home/op"}},
         "/home/op/.local/share/farsend/units.sqlite"},
        {{{"XDG_DATA_HOME", "/data"}}, "/data/farsend/units.sqlite"},
#endif
        {{}, ""},
    };
    for (const auto& [environment, expected] : rows) {
        gEnvironment = environment;
        EXPECT_EQ(DefaultDatabaseLocation(&FakeEnvironment), expected);
    }
}

}  // namespace
}  // namespace farsend::units
