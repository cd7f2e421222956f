#include "firmware/validation.h"

#include <gtest/gtest.h>

#include <string>

namespace farsend::firmware {
namespace {

using protocol::TargetIdentity;

constexpr protocol::ExchangeResult kOk = protocol::ExchangeResult::Ok;
constexpr protocol::ExchangeResult kNoDone = protocol::ExchangeResult::Failed;
constexpr protocol::ExchangeResult kNoReply = protocol::ExchangeResult::ReplyMissing;

TargetIdentity Reported(int32_t variant, int32_t major, int32_t minor, int32_t build = 0) {
    TargetIdentity identity;
    identity.variant = variant;
    identity.major = major;
    identity.minor = minor;
    identity.build = build;
    return identity;
}

const TargetIdentity kBluetooth15 = Reported(protocol::kVariantBluetooth, 1, 5, 3);
const TargetIdentity kZigBee20 = Reported(protocol::kVariantZigBee, 2, 0);
const TargetIdentity kBluetooth10 = Reported(protocol::kVariantBluetooth, 1, 0);
const TargetIdentity kNothing = Reported(0, 0, 0);

struct FitCase {
    std::string why;
    std::string file;
    protocol::ExchangeResult variantStatus;
    protocol::ExchangeResult versionStatus;
    TargetIdentity identity;
    bool fits;
};

class Decision : public ::testing::TestWithParam<FitCase> {};

TEST_P(Decision, FollowsTheNameAndTheQueryStatuses) {
    const FitCase& c = GetParam();
    EXPECT_EQ(FirmwareFitsTarget(c.file, c.variantStatus, c.versionStatus, c.identity), c.fits)
        << c.why;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Decision,
    ::testing::Values(
        FitCase{"matching variant and version", "Farsend_15_bt.hex", kOk, kOk, kBluetooth15, true},
        FitCase{"build never compared", "Farsend_15_bt.hex", kOk, kOk, Reported(1, 1, 5, 999),
                true},
        FitCase{"zigbee 2.0", "C:\\fw\\Farsend_20_802.hex", kOk, kOk, kZigBee20, true},
        FitCase{"version differs", "Farsend_20_bt.hex", kOk, kOk, kBluetooth15, false},
        FitCase{"1.0 against 1.5", "Farsend_10_bt.hex", kOk, kOk, kBluetooth15, false},
        FitCase{"1.0 against 1.0", "Farsend_10_bt.hex", kOk, kOk, kBluetooth10, true},
        FitCase{"zigbee file on bluetooth", "Farsend_15_802.hex", kOk, kOk, kBluetooth15, false},
        FitCase{"variant query failed: not compared", "Farsend_15_802.hex", kNoReply, kOk,
                kBluetooth15, true},
        FitCase{"variant reply without Done is still compared", "Farsend_15_802.hex", kNoDone, kOk,
                kBluetooth15, false},
        FitCase{"variant reply without Done that fits", "Farsend_15_bt.hex", kNoDone, kOk,
                kBluetooth15, true},
        FitCase{"both markers fail when the variant is known", "Farsend_15_bt_802.hex", kOk, kOk,
                kBluetooth15, false},
        FitCase{"both markers pass when it is not", "Farsend_15_bt_802.hex", kNoReply, kOk,
                kBluetooth15, true},
        FitCase{"no variant marker", "Farsend_15.hex", kOk, kOk, kBluetooth15, false},
        FitCase{"no variant marker, queries failed", "Farsend_15.hex", kNoReply, kNoReply, kNothing,
                false},
        FitCase{"version class None passes any reported version", "Farsend_bt.hex", kOk, kOk,
                Reported(1, 9, 9), true},
        FitCase{"115 reads (1, 15): class None", "Farsend_115_bt.hex", kOk, kOk, kBluetooth15,
                true},
        FitCase{"no version reply: 1.0 passes", "Farsend_10_bt.hex", kOk, kNoReply, kBluetooth15,
                true},
        FitCase{"no version reply: 1.5 fails", "Farsend_15_bt.hex", kOk, kNoReply, kBluetooth15,
                false},
        FitCase{"no version reply: 2.0 fails", "Farsend_20_bt.hex", kOk, kNoReply, kBluetooth15,
                false},
        FitCase{"no version reply: None fails", "Farsend_bt.hex", kOk, kNoReply, kBluetooth15,
                false},
        FitCase{"version reply without Done is still compared", "Farsend_20_bt.hex", kOk, kNoDone,
                kBluetooth15, false},
        FitCase{"version reply without Done that fits", "Farsend_15_bt.hex", kOk, kNoDone,
                kBluetooth15, true},
        FitCase{"version reply without Done, class None", "Farsend_bt.hex", kOk, kNoDone,
                Reported(1, 9, 9), true},
        FitCase{"version without Done, variant still compared", "Farsend_20_802.hex", kOk, kNoDone,
                kBluetooth15, false},
        FitCase{"unknown version status is not held against the file", "Farsend_20_bt.hex", kOk,
                protocol::ExchangeResult::TimedOut, kBluetooth15, true},
        FitCase{"markers ignore letter case", "FARSEND_15_BT.HEX", kOk, kOk, kBluetooth15, true}));

TEST(VersionClass, OnlyThreePairsHaveAClass) {
    EXPECT_EQ(VersionClassOf(1, 0), VersionClass::V1_0);
    EXPECT_EQ(VersionClassOf(1, 5), VersionClass::V1_5);
    EXPECT_EQ(VersionClassOf(2, 0), VersionClass::V2_0);
    EXPECT_EQ(VersionClassOf(0, 0), VersionClass::None);
    EXPECT_EQ(VersionClassOf(1, 15), VersionClass::None);
    EXPECT_EQ(VersionClassOf(2, 5), VersionClass::None);
    // Auto-selection counts a name without digits as "1.0"; validation not.
    EXPECT_EQ(ImageVersionClass("Farsend_bt.hex"), VersionClass::None);
}

}  // namespace
}  // namespace farsend::firmware
