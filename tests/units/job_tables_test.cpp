// The unit database's production job tables on both engines: the unit limit
// counted with the unit's row, trusted and revoked keys, and units narrowed
// to a job.
#include "units/job_tables.h"

#include <gtest/gtest.h>

#include "units/database_fixture.h"
#include "units/trusted_keys.h"
#include "units/unit_database.h"

namespace farsend::units {
namespace {

using Kind = UnitDatabaseError::Kind;

class JobTablesTest : public ::testing::TestWithParam<Engine> {
protected:
    std::unique_ptr<UnitDatabase> Open() {
        std::string error;
        const std::string location = fresh_.Create(error);
        if (location.empty()) ADD_FAILURE() << error;
        return location.empty() ? nullptr : UnitDatabase::Open(location);
    }
    testing::FreshDatabase fresh_{GetParam()};
};

UnitStart UnderJob(const std::string& name, const std::string& sha,
                   std::optional<std::int64_t> limit) {
    UnitStart start;
    start.start = *ParseUtc("2024-05-01T10:00:00Z");
    start.station = "1-2";
    start.file = "app.hex";
    start.sha256 = "ab";
    start.jobName = name;
    start.jobSha256 = sha;
    start.jobUnitLimit = limit;
    return start;
}

// Past the limit no row is written and no number is taken; another job,
// and units of no job, are not held up by it.
TEST_P(JobTablesTest, LimitRefusesTheUnitAfterTheLast) {
    const std::unique_ptr<UnitDatabase> db = Open();
    ASSERT_TRUE(db);
    db->CreatePool("board", 100);
    for (int i = 0; i < 3; ++i) db->StartUnit(UnderJob("a", "sha-a", 3), std::string("board"));
    try {
        db->StartUnit(UnderJob("a", "sha-a", 3), std::string("board"));
        ADD_FAILURE() << "a fourth unit started";
    } catch (const UnitDatabaseError& error) {
        EXPECT_EQ(error.kind(), Kind::JobLimitReached);
    }
    EXPECT_EQ(JobUnitsStarted(*db, "sha-a"), 3);
    EXPECT_EQ(db->ListUnits().size(), 3u);
    EXPECT_EQ(db->ListPools()[0].next, 103);  // the refused unit took no number

    db->StartUnit(UnderJob("b", "sha-b", 1));
    db->StartUnit(UnderJob("", "", std::nullopt));
    EXPECT_EQ(JobUnitsStarted(*db, "sha-b"), 1);
    EXPECT_EQ(JobUnitsStarted(*db, "sha-none"), 0);

    UnitFilter filter;
    filter.job = "a";
    EXPECT_EQ(db->ListUnits(filter).size(), 3u);
    const std::vector<YieldRow> yield = db->Yield(filter);
    ASSERT_EQ(yield.size(), 1u);
    EXPECT_EQ(yield[0].unfinished, 3);
}

TEST_P(JobTablesTest, RevokedKeyStaysRevoked) {
    const std::unique_ptr<UnitDatabase> db = Open();
    ASSERT_TRUE(db);
    const TimePoint t0 = *ParseUtc("2024-05-01T10:00:00Z");
    const TimePoint t1 = *ParseUtc("2024-05-02T10:00:00Z");
    EXPECT_TRUE(TrustKey(*db, {"0123456789abcdef", "farsend-public-key x y\n", t0, {}}));
    EXPECT_FALSE(TrustKey(*db, {"0123456789abcdef", "farsend-public-key x y\n", t1, {}}));
    EXPECT_TRUE(TrustKey(*db, {"fedcba9876543210", "farsend-public-key z w\n", t0, {}}));
    EXPECT_FALSE(RevokeKey(*db, "1111111111111111", t1));  // no such key
    EXPECT_TRUE(RevokeKey(*db, "0123456789abcdef", t1));
    EXPECT_FALSE(RevokeKey(*db, "0123456789abcdef", t1));  // revoked already
    try {
        TrustKey(*db, {"0123456789abcdef", "farsend-public-key x y\n", t1, {}});
        ADD_FAILURE() << "a revoked key was trusted again";
    } catch (const UnitDatabaseError& error) {
        EXPECT_EQ(error.kind(), Kind::KeyRevoked);
    }
    const std::optional<TrustedKey> revoked = FindKey(*db, "0123456789abcdef");
    ASSERT_TRUE(revoked && revoked->revoked);
    EXPECT_EQ(*revoked->revoked, t1);
    EXPECT_EQ(revoked->trusted, t0);
    EXPECT_EQ(revoked->publicKey, "farsend-public-key x y\n");
    const std::optional<TrustedKey> kept = FindKey(*db, "fedcba9876543210");
    ASSERT_TRUE(kept);
    EXPECT_FALSE(kept->revoked);
    EXPECT_EQ(ListKeys(*db).size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Engines, JobTablesTest,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const ::testing::TestParamInfo<Engine>& info) {
                             return std::string(testing::EngineName(info.param));
                         });

}  // namespace
}  // namespace farsend::units
