// --wait over a real-time bridge: the handshake waits 13 s for a call, but a
// --wait of one second ends the command after about a second, because the
// stop at the deadline cancels that wait.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "cli/exit_status.h"
#include "cli/run.h"
#include "common/clock.h"
#include "sim/simulation.h"

namespace farsend::cli {
namespace {

TEST(WaitDeadline, ANonCallingTargetIsGivenUpAtTheDeadlineNotAfterTheHandshake) {
    sim::SimOptions options;
    options.simulate = true;
    options.targets = 0;  // the bridge is there, nobody calls
    std::string error;
    // Real time: the bridge as the program would find a real one.
    std::unique_ptr<sim::Simulation> simulation = sim::Simulation::Create(options, error);
    ASSERT_TRUE(simulation) << error;
    Environment env;
    env.systemPlatform = &simulation->Platform();
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    Console console{in, out, err};

    SteadyClock steady;
    const Millis start = steady.Now();
    const int status = RunFarsend({"identify", "--wait", "1"}, console, env);
    const Millis took = steady.Now() - start;
    std::printf("[          ] identify --wait 1 took %lld ms\n",
                static_cast<long long>(took.count()));

    EXPECT_EQ(status, kExitNoTarget) << err.str();
    EXPECT_GE(took, Millis(1000));
    EXPECT_LT(took, Millis(4000));
    EXPECT_EQ(simulation->Bridge().Stats().openHandles, 0u);
}

}  // namespace
}  // namespace farsend::cli
