// Exchanges from two threads on one context, as when the window thread
// launches the application while the connection monitor validates: each
// exchange has the link to itself, so each gets its own whole answer.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "protocol/exchanges.h"
#include "protocol/exchanges_fixture.h"

namespace farsend::protocol {
namespace {

using namespace farsend::protocol::testing;

TEST(ConcurrentExchanges, TwoThreadsQueryingTheSameTargetEachGetTheirOwnReply) {
    sim::SimOptions options;
    options.variant = "ZigBee";
    options.version = "1.5.3";
    SimulatedSession s(options);
    ASSERT_TRUE(s.simulation);
    ASSERT_EQ(ConnectTarget(s.context), protocol::ExchangeResult::Ok);

    constexpr int kRounds = 40;
    std::atomic<int> ready{0};
    auto startTogether = [&] {
        ++ready;
        while (ready.load() < 2) std::this_thread::yield();
    };
    int variantFailures = 0;
    int versionFailures = 0;
    std::thread variants([&] {
        startTogether();
        for (int i = 0; i < kRounds; ++i) {
            int32_t variant = -1;
            if (QueryTargetVariant(s.context, &variant) != protocol::ExchangeResult::Ok ||
                variant != kVariantZigBee) {
                ++variantFailures;
            }
        }
    });
    std::thread versions([&] {
        startTogether();
        for (int i = 0; i < kRounds; ++i) {
            TargetIdentity identity{};
            if (QueryTargetVersion(s.context, &identity) != protocol::ExchangeResult::Ok ||
                identity.major != 1 || identity.minor != 5 || identity.build != 3) {
                ++versionFailures;
            }
        }
    });
    variants.join();
    versions.join();

    EXPECT_EQ(variantFailures, 0);
    EXPECT_EQ(versionFailures, 0);
    // Every query reached the target as a whole command, and the link is
    // still good for the next exchange.
    EXPECT_EQ(s.Target().Commands().size(), 1u + 2u * kRounds);
    int32_t variant = -1;
    EXPECT_EQ(QueryTargetVariant(s.context, &variant), protocol::ExchangeResult::Ok);
    EXPECT_EQ(LaunchTargetApplication(s.context), protocol::ExchangeResult::Ok);
    EXPECT_FALSE(LinkIsOpen(s.link));
}

}  // namespace
}  // namespace farsend::protocol
