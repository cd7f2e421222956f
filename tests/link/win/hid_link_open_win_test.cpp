#include <gtest/gtest.h>

#include <chrono>

#include "link/hid_serial_link.h"
#include "support/virtual_clock.h"

namespace farsend::link {
namespace {

// The whole open over the real Windows backend, on a system without the
// bridge: the bridge is restarted (nothing to restart), searched for, not
// found, and the open fails at once with nothing left open.
TEST(HidLinkOpenWindowsTest, WithoutABridgeOpenFailsWithMinusFourAndLeavesNothingOpen) {
    farsend::testing::VirtualClock clock;
    HidSerialLink link;
    link.platform = &SystemHidPlatform();
    link.clock = &clock;

    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(HidLinkOpen(link), link::LinkResult::OpenFailed);
    const auto elapsed = std::chrono::steady_clock::now() - started;

    EXPECT_EQ(link.writeHandle, kNoHandle);
    EXPECT_EQ(link.readHandle, kNoHandle);
    EXPECT_FALSE(link.reader);
    EXPECT_FALSE(link.rxBuffer);
    // Only the pause after the restart passes, and that in virtual time.
    EXPECT_EQ(clock.Slept(), Millis(200));
    EXPECT_LT(elapsed, std::chrono::seconds(5));

    // A second attempt behaves the same (the libraries stay bound).
    EXPECT_EQ(HidLinkOpen(link), link::LinkResult::OpenFailed);
    EXPECT_EQ(link.writeHandle, kNoHandle);
}

}  // namespace
}  // namespace farsend::link
