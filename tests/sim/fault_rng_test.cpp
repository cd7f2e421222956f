#include "sim/fault_rng.h"

#include <gtest/gtest.h>

namespace farsend::sim {
namespace {

// The published SplitMix64 outputs for seed 0: the same numbers on every
// compiler and standard library, which is what makes a seed repeatable
// between Windows and Linux.
TEST(FaultRng, MatchesTheReferenceSequence) {
    FaultRng rng(0);
    EXPECT_EQ(rng.Next(), 0xE220A8397B1DCDAFull);
    EXPECT_EQ(rng.Next(), 0x6E789E6AA1B965F4ull);
    EXPECT_EQ(rng.Next(), 0x06C45D188009454Full);
}

TEST(FaultRng, ChanceFollowsItsProbability) {
    struct Case {
        uint32_t ppb;
        int min_hits;
        int max_hits;
    };
    // 100000 draws; the bounds are far outside what a fair draw can miss, and
    // the stream is fixed, so the count never changes between runs.
    const Case cases[] = {
        {0, 0, 0}, {1000000000, 100000, 100000}, {500000000, 49000, 51000}, {10000000, 800, 1200}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ppb);
        FaultRng rng(42);
        int hits = 0;
        for (int i = 0; i < 100000; ++i) hits += rng.Chance(c.ppb) ? 1 : 0;
        EXPECT_GE(hits, c.min_hits);
        EXPECT_LE(hits, c.max_hits);
    }
}

}  // namespace
}  // namespace farsend::sim
