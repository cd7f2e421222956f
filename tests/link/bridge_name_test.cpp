// The one rule by which a name picks a bridge, and the name a bridge goes by.
#include "link/bridge_name.h"

#include <gtest/gtest.h>

#include <string>

namespace farsend::link {
namespace {

struct NameCase {
    const char* label;
    std::string name;
    HidIdentity identity;
    bool answers;
};

TEST(BridgeName, APathLocationOrSerialNamesTheBridgeAndNothingEmptyDoes) {
    const std::string path = "/dev/hidraw3";
    const NameCase cases[] = {
        {"its path", "/dev/hidraw3", {"usb-1.2", "FST0001"}, true},
        {"its location", "usb-1.2", {"usb-1.2", "FST0001"}, true},
        {"its serial", "FST0001", {"usb-1.2", "FST0001"}, true},
        {"another bridge's serial", "FST0002", {"usb-1.2", "FST0001"}, false},
        {"a part of the path", "hidraw3", {"usb-1.2", "FST0001"}, false},
        {"the empty name, no serial", "", {"usb-1.2", ""}, false},
        {"the empty name, no location", "", {"", "FST0001"}, false},
        {"letter case counts", "fst0001", {"usb-1.2", "FST0001"}, false},
    };
    for (const NameCase& c : cases) {
        EXPECT_EQ(BridgeAnswersTo(c.name, path, c.identity), c.answers) << c.label;
    }
    EXPECT_EQ(BridgeDefaultName(path, {"usb-1.2", "FST0001"}), "usb-1.2");
    EXPECT_EQ(BridgeDefaultName(path, {"", "FST0001"}), path);
}

}  // namespace
}  // namespace farsend::link
