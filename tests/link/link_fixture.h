// A link over the scripted platform, with a logging virtual clock.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_hid_platform.h"
#include "link/bridge_ids.h"
#include "link/hid_serial_link.h"

namespace farsend::link::testing {

class LinkTest : public ::testing::Test {
protected:
    LinkTest() : clock(platform) {
        link.platform = &platform;
        link.clock = &clock;
    }

    void AddBridge(uint16_t inLength = 65, uint16_t outLength = 65) {
        platform.interfaces.push_back(FakeHidPlatform::Bridge(
            "bridge", kBridgeVendorId, kBridgeProductId, inLength, outLength));
    }

    // Opens and forgets what the open did.
    void OpenAndClearLog() {
        ASSERT_EQ(HidLinkOpen(link), link::LinkResult::Ok);
        platform.ClearLog();
    }

    // The log without reads and handle bookkeeping noise removed.
    std::vector<std::string> Log() { return platform.Log(); }

    // Lines of the log that start with `prefix`.
    std::vector<std::string> LogLines(const std::string& prefix) {
        std::vector<std::string> lines;
        for (const auto& line : platform.Log()) {
            if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
        }
        return lines;
    }

    // Declared before the link, so the link (and its reader) goes first.
    FakeHidPlatform platform;
    LoggingClock clock;
    HidSerialLink link;
};

}  // namespace farsend::link::testing
