// The request's stored values are the window program's (1 and 4); each has
// its name, and anything else is told apart from both.
#include <gtest/gtest.h>

#include <cstdint>

#include "jobs/station_state.h"

namespace farsend::jobs {
namespace {

TEST(ProgramRequestNames, FollowTheStoredValues) {
    const struct {
        int32_t stored;
        const char* name;
    } cases[] = {{1, "Requested"}, {4, "None"}, {0, "Unknown"}, {2, "Unknown"}};
    for (const auto& c : cases) {
        EXPECT_STREQ(ProgramRequestName(static_cast<ProgramRequest>(c.stored)), c.name) << c.stored;
    }
    EXPECT_EQ(StationState{}.programRequest.load(), ProgramRequest::None);
}

}  // namespace
}  // namespace farsend::jobs
