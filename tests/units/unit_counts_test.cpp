// The dashboard's summary read from the counts kept beside the units equals,
// byte for byte, the summary counted from the units themselves (as the
// dashboard reads a database of the schema before the counts), on both
// engines: units finished out of order, failed and finished again,
// interrupted, in hand, replayed from a spool, recorded by two writers at
// once, and ranges that start or end inside an hour.
#include <gtest/gtest.h>

#include <thread>

#include "cli/dashboard_api.h"
#include "units/database_fixture.h"
#include "units/spool.h"
#include "units/yield_queries.h"

namespace farsend::units {
namespace {

using cli::QueryParameters;
using testing::FreshDatabase;

TimePoint At(const std::string& text) {
    const std::optional<TimePoint> when = ParseUtc(text);
    if (!when) throw std::invalid_argument("bad time in a test: " + text);
    return *when;
}

UnitStart StartOf(const std::string& host, const std::string& station, const std::string& when) {
    UnitStart start;
    start.start = At(when);
    start.host = host;
    start.station = station;
    start.bridgeSerial = "BR";
    start.file = "fw.hex";
    start.sha256 = std::string(64, 'a');
    return start;
}

// 'P' programmed, 'F' failed, 'I' interrupted.
UnitFinish FinishOf(char result, const std::string& message = "") {
    UnitFinish finish;
    finish.end = At("2024-05-01T13:00:00Z");
    finish.result = result == 'P'   ? UnitResult::Programmed
                    : result == 'F' ? UnitResult::Failed
                                    : UnitResult::Interrupted;
    finish.message = message;
    return finish;
}

class UnitCountsTest : public ::testing::TestWithParam<Engine> {
protected:
    void SetUp() override {
        std::string error;
        location_ = fresh_.Create(error);
        ASSERT_FALSE(location_.empty()) << error;
        db_ = UnitDatabase::Open(location_);
    }

    std::int64_t Start(const char* host, const char* station, const char* when) {
        return db_->StartUnit(StartOf(host, station, when)).id;
    }
    void Record(const char* host, const char* station, const char* when, char result,
                const char* message = "") {
        db_->FinishUnit(Start(host, station, when), FinishOf(result, message));
    }

    // The summary as `farsend dashboard` answers it, at 2024-05-01T12:10Z.
    std::string Summary(const QueryParameters& parameters) const {
        const std::string location = location_;
        const cli::DashboardApi api(
            [location] {
                DatabaseOptions options;
                options.readOnly = true;
                return UnitDatabase::Open(location, options);
            },
            [] { return At("2024-05-01T12:10:00Z"); });
        const cli::ApiAnswer answer = api.Answer("/api/dashboard/summary", parameters);
        EXPECT_EQ(answer.status, 200) << answer.body;
        return answer.body;
    }
    // The same, counted from the units, as the schema before the counts is.
    std::string SummaryFromUnits(const QueryParameters& parameters) {
        db_->ExecuteForTest("UPDATE schema_version SET version = 3 WHERE version = 4");
        std::string body = Summary(parameters);
        db_->ExecuteForTest("UPDATE schema_version SET version = 4 WHERE version = 3");
        return body;
    }

    void ExpectSameInEveryRange() {
        const std::vector<QueryParameters> ranges = {
            {{"from", "2024-05-01T10:00:00Z"}, {"to", "2024-05-01T12:00:00Z"}},  // whole hours
            {{"from", "2024-05-01T10:20:00Z"}, {"to", "2024-05-01T11:45:00Z"}},  // both ends inside
            {{"from", "2024-05-01T09:59:59Z"}, {"to", "2024-05-01T12:00:01Z"}},
            {{"from", "2024-05-01T10:59:59Z"}, {"to", "2024-05-01T12:00:00Z"}},
            {{"from", "2024-05-01T10:00:00Z"}, {"to", "2024-05-01T11:00:01Z"}},
            {{"from", "2024-05-01T10:05:00Z"}, {"to", "2024-05-01T10:50:00Z"}},  // in one hour
            {{"from", "2024-05-01T10:30:00Z"}, {"to", "2024-05-01T11:30:00Z"}},  // no whole hour
            {{"from", "2024-05-01T09:00:00Z"}, {"to", "2024-05-01T14:00:00Z"}},
            {{"from", "2024-05-01T09:00:00Z"}, {"to", "2024-05-01T14:00:00Z"}, {"host", "pc1"}},
            {{"from", "2024-05-01T10:30:00Z"}, {"to", "2024-05-01T12:30:00Z"}, {"station", "1-1"}},
            {},  // the 24 hours before 12:10
        };
        for (const QueryParameters& range : ranges) {
            std::string named;
            for (const auto& [name, value] : range) named += name + "=" + value + " ";
            SCOPED_TRACE(named);
            EXPECT_EQ(Summary(range), SummaryFromUnits(range));
        }
    }

    FreshDatabase fresh_{GetParam()};
    std::string location_;
    std::unique_ptr<UnitDatabase> db_;
};

TEST_P(UnitCountsTest, SummaryEqualsTheUnitsCountedInEveryRange) {
    Record("pc1", "1-1", "2024-05-01T09:59:59Z", 'F', "no answer");
    Record("pc1", "1-1", "2024-05-01T10:00:00Z", 'P');
    Record("pc1", "1-1", "2024-05-01T10:20:00Z", 'F', "verify failed");
    Record("pc1", "1-1", "2024-05-01T10:59:59Z", 'I', "let go");
    Record("pc1", "1-1", "2024-05-01T11:00:00Z", 'P');
    Start("pc1", "1-1", "2024-05-01T11:30:00Z");  // still in hand
    Record("pc1", "1-1", "2024-05-01T12:00:00Z", 'F', "no answer");
    // Finished out of order.
    const std::int64_t first = Start("pc1", "1-2", "2024-05-01T10:05:00Z");
    const std::int64_t second = Start("pc1", "1-2", "2024-05-01T10:10:00Z");
    db_->FinishUnit(second, FinishOf('P'));
    db_->FinishUnit(first, FinishOf('F', "no answer"));
    Record("pc2", "1-1", "2024-05-01T10:40:00Z", 'F', "<b>verify</b> failed");
    Record("pc2", "1-1", "2024-05-01T11:15:00Z", 'F', "verify failed");
    Record("pc2", "1-1", "2024-05-01T11:45:00Z", 'I', "let go");
    Record("pc2", "1-1", "2024-05-01T12:30:00Z", 'P');
    // The latest unit of a reason, finished again as programmed: the reason
    // keeps the one before it as its latest.
    const std::int64_t again = Start("pc2", "1-2", "2024-05-01T10:45:00Z");
    db_->FinishUnit(again, FinishOf('F', "no answer"));
    db_->FinishUnit(again, FinishOf('P'));

    // A spool: a unit started and finished while the database was lost, one
    // still in hand, the end of one started before, and one already there.
    const std::filesystem::path spool = fresh_.directory().path() / "units.spool";
    const std::int64_t inHand = Start("pc3", "1-2", "2024-05-01T11:10:00Z");
    std::string error;
    UnitRow lost;
    lost.recordId = NewRecordId();
    lost.start = StartOf("pc3", "1-1", "2024-05-01T10:30:00Z");
    lost.finish = FinishOf('F', "no answer");
    ASSERT_TRUE(AppendToSpool(spool, lost, error)) << error;
    UnitRow unfinished;
    unfinished.recordId = NewRecordId();
    unfinished.start = StartOf("pc3", "1-1", "2024-05-01T11:50:00Z");
    ASSERT_TRUE(AppendToSpool(spool, unfinished, error)) << error;
    UnitFilter byStart;
    byStart.host = "pc3";
    byStart.station = "1-2";
    UnitRow ended = db_->ListUnits(byStart).at(0);
    ASSERT_EQ(ended.id, inHand);
    ended.finish = FinishOf('P');
    ASSERT_TRUE(AppendToSpool(spool, ended, error)) << error;
    ASSERT_TRUE(AppendToSpool(spool, lost, error)) << error;
    const ReplayResult replayed = db_->ReplaySpool(spool);
    EXPECT_EQ(replayed.written, 3u);
    EXPECT_EQ(replayed.already, 1u);

    ExpectSameInEveryRange();
    // The counts are what the summary reads.
    const QueryParameters wholeHours = {{"from", "2024-05-01T10:00:00Z"},
                                        {"to", "2024-05-01T12:00:00Z"}};
    db_->ExecuteForTest("DELETE FROM unit_counts");
    EXPECT_NE(Summary(wholeHours), SummaryFromUnits(wholeHours));
    // Counted afresh from the units, as an upgrade counts them.
    RecountUnits(*db_);
    ExpectSameInEveryRange();
}

// Two writers at once on the same counts (one station's hours): no count
// is lost, and neither waits for the other forever.
TEST_P(UnitCountsTest, TwoWritersAtOnceLoseNoCount) {
    constexpr int kUnits = 40;
    auto writer = [this](int which, std::string& failure) {
        try {
            const std::unique_ptr<UnitDatabase> db = UnitDatabase::Open(location_);
            for (int i = 0; i < kUnits; ++i) {
                const std::string when = "2024-05-01T1" + std::to_string(i % 3) + ":" +
                                         std::to_string(10 + i) + ":0" + std::to_string(which) +
                                         "Z";
                const std::int64_t id = db->StartUnit(StartOf("pc", "1-1", when)).id;
                db->FinishUnit(id, FinishOf("PFI"[i % 3], i % 2 ? "no answer" : "too slow"));
            }
        } catch (const std::exception& error) {
            failure = error.what();
        }
    };
    std::string firstFailure, secondFailure;
    std::thread first(writer, 1, std::ref(firstFailure));
    std::thread second(writer, 2, std::ref(secondFailure));
    first.join();
    second.join();
    ASSERT_EQ(firstFailure, "");
    ASSERT_EQ(secondFailure, "");
    const RangeYield yield =
        YieldOfRange(*db_, {At("2024-05-01T10:00:00Z"), At("2024-05-01T13:00:00Z"), {}, {}});
    ASSERT_EQ(yield.stations.size(), 1u);
    EXPECT_EQ(yield.stations[0].counts.Total(), 2 * kUnits);
    ExpectSameInEveryRange();
}

INSTANTIATE_TEST_SUITE_P(Engines, UnitCountsTest,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const ::testing::TestParamInfo<Engine>& info) {
                             return std::string(testing::EngineName(info.param));
                         });

}  // namespace
}  // namespace farsend::units
