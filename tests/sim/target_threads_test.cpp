// The bridge writes from one thread and collects from its reader thread.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "sim/simulated_target.h"
#include "sim/target_test_support.h"

namespace farsend::sim {
namespace {

using namespace farsend::sim::testing;

TEST(SimulatedTargetThreads, WriterAndCollectorShareTheTargetSafely) {
    constexpr int kQueries = 300;
    const Bytes answer = Cat({Reply(0x55, "Bluetooth"), kDone});
    TargetDriver d;
    d.Connect();
    Bytes collected;
    std::thread collector([&] {
        // Every answer is due at kT0 + 1, so the bytes are the same whatever
        // the interleaving; only their batching differs.
        while (collected.size() < answer.size() * kQueries) {
            std::vector<uint8_t> out;
            d.target.CollectTargetBytes(Millis(kT0 + 1), out);
            collected.insert(collected.end(), out.begin(), out.end());
            if (out.empty()) std::this_thread::yield();
        }
    });
    for (int i = 0; i < kQueries; ++i) d.Send(kQueryVariant, kT0 + 1);
    collector.join();
    EXPECT_EQ(collected, Repeat(answer, kQueries));
    EXPECT_EQ(d.target.Commands().size(), size_t(kQueries) + 1);
}

}  // namespace
}  // namespace farsend::sim
