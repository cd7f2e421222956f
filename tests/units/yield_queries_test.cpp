// The supervisor's queries over both engines, from made-up units whose
// yields are known.
#include "units/yield_queries.h"

#include <gtest/gtest.h>

#include <map>

#include "units/database_fixture.h"

namespace farsend::units {
namespace {

using testing::FreshDatabase;

TimePoint At(const std::string& text) {
    const std::optional<TimePoint> when = ParseUtc(text);
    if (!when) throw std::invalid_argument("bad time in a test: " + text);
    return *when;
}

// One made-up unit: where and when it started, how it ended ('P'
// programmed, 'F' failed, 'I' interrupted, '-' still in hand), why, and the
// serial number it took ('0' none).
struct MadeUp {
    const char* host;
    const char* station;
    const char* start;
    char result;
    const char* message;
    std::int64_t serial;
};

const std::vector<MadeUp> kUnits = {
    {"pc1", "1-1", "2024-05-01T09:59:59Z", 'F', "too early", 0},  // before the range
    {"pc1", "1-1", "2024-05-01T10:00:00Z", 'P', "", 101},
    {"pc1", "1-1", "2024-05-01T10:20:00Z", 'P', "", 102},
    {"pc1", "1-1", "2024-05-01T10:40:00Z", 'F', "no answer", 103},
    {"pc1", "1-1", "2024-05-01T11:05:00Z", 'P', "", 104},
    {"pc1", "1-2", "2024-05-01T10:10:00Z", 'F', "verify <b>failed</b>", 105},
    {"pc1", "1-2", "2024-05-01T10:50:00Z", 'F', "no answer", 106},
    {"pc1", "1-2", "2024-05-01T11:30:00Z", 'I', "let go", 107},
    {"pc2", "1-1", "2024-05-01T11:00:00Z", 'P', "", 108},
    {"pc2", "1-1", "2024-05-01T11:59:59Z", '-', "", 109},
    {"pc2", "1-1", "2024-05-01T12:00:00Z", 'F', "too late", 0},  // at the range's end
};

class YieldQueriesTest : public ::testing::TestWithParam<Engine> {
protected:
    void SetUp() override {
        std::string error;
        const std::string location = fresh_.Create(error);
        ASSERT_FALSE(location.empty()) << error;
        db_ = UnitDatabase::Open(location);
        db_->CreatePool("board", 101);
        for (const MadeUp& unit : kUnits) {
            UnitStart start;
            start.start = At(unit.start);
            start.host = unit.host;
            start.station = unit.station;
            start.bridgeSerial = "BR";
            start.file = "fw.hex";
            start.sha256 = std::string(64, 'a');
            // The pool hands out 101, 102, ... in order: the made-up serials
            // follow it.
            const StartedUnit started = db_->StartUnit(
                start, unit.serial != 0 ? std::optional<std::string>("board") : std::nullopt);
            if (unit.serial != 0) {
                ASSERT_EQ(started.serial, unit.serial);
            }
            if (unit.result == '-') continue;
            UnitFinish finish;
            finish.end = start.start + std::chrono::seconds(30);
            finish.result = unit.result == 'P'   ? UnitResult::Programmed
                            : unit.result == 'F' ? UnitResult::Failed
                                                 : UnitResult::Interrupted;
            finish.message = unit.message;
            db_->FinishUnit(started.id, finish);
        }
    }

    RangeFilter Range() const {
        return {At("2024-05-01T10:00:00Z"), At("2024-05-01T12:00:00Z"), {}, {}};
    }

    FreshDatabase fresh_{GetParam()};
    std::unique_ptr<UnitDatabase> db_;
};

// programmed/failed/interrupted/unfinished
std::string Text(const ResultCounts& counts) {
    return std::to_string(counts.programmed) + "/" + std::to_string(counts.failed) + "/" +
           std::to_string(counts.interrupted) + "/" + std::to_string(counts.unfinished);
}

TEST_P(YieldQueriesTest, CountsEachStationAndHourOfTheRange) {
    struct Case {
        const char* name;
        std::optional<std::string> host, station;
        std::map<std::string, std::string> stations;  // "host station": counts
        std::map<std::string, std::string> hours;     // "2024-05-01T10:00:00Z": counts
    };
    const std::vector<Case> cases = {
        {"the whole line",
         {},
         {},
         {{"pc1 1-1", "3/1/0/0"}, {"pc1 1-2", "0/2/1/0"}, {"pc2 1-1", "1/0/0/1"}},
         {{"2024-05-01T10:00:00Z", "2/3/0/0"}, {"2024-05-01T11:00:00Z", "2/0/1/1"}}},
        {"one host",
         "pc1",
         {},
         {{"pc1 1-1", "3/1/0/0"}, {"pc1 1-2", "0/2/1/0"}},
         {{"2024-05-01T10:00:00Z", "2/3/0/0"}, {"2024-05-01T11:00:00Z", "1/0/1/0"}}},
        {"one location on every host",
         {},
         "1-1",
         {{"pc1 1-1", "3/1/0/0"}, {"pc2 1-1", "1/0/0/1"}},
         {{"2024-05-01T10:00:00Z", "2/1/0/0"}, {"2024-05-01T11:00:00Z", "2/0/0/1"}}},
        {"a station with no units", "pc3", {}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RangeFilter filter = Range();
        filter.host = c.host;
        filter.station = c.station;
        std::map<std::string, std::string> stations, hours;
        for (const StationYield& row : YieldPerStation(*db_, filter)) {
            stations[row.host + " " + row.station] = Text(row.counts);
        }
        for (const HourYield& row : YieldPerHour(*db_, filter)) {
            hours[FormatUtc(row.hour)] = Text(row.counts);
        }
        EXPECT_EQ(stations, c.stations);
        EXPECT_EQ(hours, c.hours);
    }
}

TEST_P(YieldQueriesTest, RanksTheFailureReasons) {
    const std::vector<FailureReason> reasons = FailureReasons(*db_, Range(), 10);
    ASSERT_EQ(reasons.size(), 2u);
    EXPECT_EQ(reasons[0].message, "no answer");
    EXPECT_EQ(reasons[0].units, 2);
    EXPECT_EQ(FormatUtc(reasons[0].latest), "2024-05-01T10:50:00Z");
    EXPECT_EQ(reasons[1].message, "verify <b>failed</b>");
    EXPECT_EQ(reasons[1].units, 1);
    EXPECT_EQ(FailureReasons(*db_, Range(), 1).size(), 1u);
}

TEST_P(YieldQueriesTest, FindsAUnitBySerialAndListsTheNewestRowsOfARange) {
    const std::vector<UnitRow> found = UnitsWithSerial(*db_, 106);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].start.station, "1-2");
    EXPECT_EQ(found[0].finish->message, "no answer");
    EXPECT_TRUE(UnitsWithSerial(*db_, 999).empty());

    UnitFilter newest = Range().Units();
    newest.newestFirst = true;
    newest.limit = 3;
    std::vector<std::string> starts;
    for (const UnitRow& row : db_->ListUnits(newest)) starts.push_back(FormatUtc(row.start.start));
    EXPECT_EQ(starts, (std::vector<std::string>{"2024-05-01T11:59:59Z", "2024-05-01T11:30:00Z",
                                                "2024-05-01T11:05:00Z"}));
    EXPECT_EQ(db_->ListUnits(Range().Units()).size(), kUnits.size() - 2);
}

INSTANTIATE_TEST_SUITE_P(Engines, YieldQueriesTest,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const ::testing::TestParamInfo<Engine>& info) {
                             return std::string(testing::EngineName(info.param));
                         });

}  // namespace
}  // namespace farsend::units
