// Opening the bridge the link is given: exactly that interface, or nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "link_fixture.h"

namespace farsend::link {
namespace {

using testing::FakeHidPlatform;
using testing::LinkTest;
using Lines = std::vector<std::string>;

// Names whatever path it was told, and counts how often it was asked.
class FixedLocator final : public BridgeLocator {
public:
    explicit FixedLocator(std::string path) : path_(std::move(path)) {}
    std::string PathToOpen(HidPlatform&) override {
        ++asked;
        return path_;
    }
    int asked = 0;

private:
    std::string path_;
};

struct PathCase {
    const char* name;
    std::string path;  // what the locator gives
    int osClass;
    int16_t result;
    // The platform calls up to the open's first report, "" for none.
    Lines opening;
};

// What the fake logs for a restart of this build's bridge, at `path`.
std::string RestartOf(const std::string& path) {
    char line[32];
    std::snprintf(line, sizeof line, "restart %04x %04x", kBridgeVendorId, kBridgeProductId);
    return path.empty() ? std::string(line) : line + (" " + path);
}

class HidLinkOpenPathTest : public LinkTest, public ::testing::WithParamInterface<PathCase> {};

TEST_P(HidLinkOpenPathTest, OpensOnlyTheInterfaceGiven) {
    const PathCase& c = GetParam();
    // Two bridges of the same identifiers behind another device: the first
    // one found is not necessarily the one wanted.
    platform.interfaces.push_back(FakeHidPlatform::Bridge("mouse", 0x046D, 0xC077));
    platform.interfaces.push_back(
        FakeHidPlatform::Bridge("bridge-a", kBridgeVendorId, kBridgeProductId));
    platform.interfaces.push_back(
        FakeHidPlatform::Bridge("bridge-b", kBridgeVendorId, kBridgeProductId));
    platform.osClass = c.osClass;
    FixedLocator locator(c.path);
    link.locator = &locator;

    EXPECT_EQ(LinkResultCode(HidLinkOpen(link)), c.result);
    EXPECT_EQ(locator.asked, 1);
    Lines opening;
    for (const std::string& line : Log()) {
        if (line.rfind("caps", 0) == 0) break;
        opening.push_back(line);
    }
    EXPECT_EQ(opening, c.opening);
    if (c.result == 0) {
        EXPECT_EQ(platform.OpenHandles(), 2);
        HidLinkClose(link);
    }
    EXPECT_EQ(platform.OpenHandles(), 0);
}

std::vector<PathCase> PathCases() {
    return {
        {"second_bridge", "bridge-b", 1, 0, {"bind", "open bridge-b -> 1", "open bridge-b -> 2"}},
        {"first_bridge", "bridge-a", 1, 0, {"bind", "open bridge-a -> 1", "open bridge-a -> 2"}},
        // A node given to another device after an unplug is not the bridge.
        {"another_device", "mouse", 1, -4, {"bind", "open mouse -> 1", "close 1"}},
        {"unlisted_path", "bridge-c", 1, -4, {"bind"}},
        // Bridge away: no search, no restart, nothing opened.
        {"nothing_to_open", "", 5, -4, {}},
        // The restart goes to the device being opened, not the first one.
        {"restart_names_the_path",
         "bridge-b",
         5,
         0,
         {RestartOf("bridge-b"), "sleep 200", "bind", "open bridge-b -> 1", "open bridge-b -> 2"}},
    };
}

INSTANTIATE_TEST_SUITE_P(Paths, HidLinkOpenPathTest, ::testing::ValuesIn(PathCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HidLinkOpenPathTest, WithoutALocatorTheSearchTakesTheFirstBridge) {
    platform.interfaces.push_back(
        FakeHidPlatform::Bridge("bridge-a", kBridgeVendorId, kBridgeProductId));
    platform.interfaces.push_back(
        FakeHidPlatform::Bridge("bridge-b", kBridgeVendorId, kBridgeProductId));
    platform.osClass = 5;
    ASSERT_EQ(HidLinkOpen(link), link::LinkResult::Ok);
    const Lines log = Log();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[0], RestartOf(""));
    EXPECT_EQ(log[3], "open bridge-a -> 1");
    HidLinkClose(link);
}

TEST_F(HidLinkOpenPathTest, AnOpenLinkGivenNoPathIsClosedAndReportsNoUnplug) {
    AddBridge();
    ASSERT_EQ(HidLinkOpenPath(link, "bridge"), link::LinkResult::Ok);
    link.bridgeGone.store(true);
    EXPECT_EQ(HidLinkOpenPath(link, ""), link::LinkResult::OpenFailed);
    EXPECT_EQ(platform.OpenHandles(), 0);
    EXPECT_FALSE(link.reader);
    EXPECT_FALSE(HidLinkBridgeGone(link));
}

}  // namespace
}  // namespace farsend::link
