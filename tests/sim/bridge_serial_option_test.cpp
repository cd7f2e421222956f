// --sim-bridge-serial: a simulated bridge whose descriptors carry any
// serial string, as a real device's may.
#include <gtest/gtest.h>

#include "sim/sim_options.h"
#include "sim/simulation.h"

namespace farsend::sim {
namespace {

TEST(BridgeSerialOption, ReadAndCarriedByTheBridge) {
    struct Case {
        std::vector<std::string> words;
        bool good;
    };
    const Case cases[] = {
        {{"--simulate", "--sim-bridges=2", "--sim-bridge-serial=2:<img src=x>"}, true},
        {{"--simulate", "--sim-bridge-serial=<img src=x>"}, false},  // which bridge?
        {{"--simulate", "--sim-bridges=2", "--sim-bridge-serial=3:x"}, false},
    };
    for (const Case& c : cases) {
        std::vector<std::string> words = c.words;
        const SimOptionsResult result = TakeSimOptions(words);
        EXPECT_EQ(result.error.empty(), c.good) << c.words.back() << ": " << result.error;
    }
    std::vector<std::string> words = cases[0].words;
    const SimOptions options = TakeSimOptions(words).options;
    EXPECT_EQ(BridgeSerialOf(options, 1), "SIM00001");
    EXPECT_EQ(BridgeSerialOf(options, 2), "<img src=x>");

    // Bridge 2 of a simulation gives it as its serial string.
    std::string error;
    const auto second = Simulation::Create(ForBridge(options, 2), error);
    ASSERT_TRUE(second) << error;
    const auto paths = second->Platform().EnumerateInterfaces();
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(second->Platform().Identify(paths[0]).serial, "<img src=x>");
}

}  // namespace
}  // namespace farsend::sim
