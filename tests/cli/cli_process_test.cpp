// farsend as a process: help, version, usage errors, select and devices.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/process_runner.h"
#include "firmware/platform_paths.h"
#include "link/bridge_ids.h"
#include "sim/sample_firmware.h"
#include "support/temp_directory.h"

namespace farsend::cli {
namespace {

using farsend::testing::ProcessResult;
using farsend::testing::RunFarsend;
using ::testing::HasSubstr;
using Json = nlohmann::json;

TEST(CliProcess, HelpAndVersionGoToStandardOutput) {
    ProcessResult run = RunFarsend({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.out, ::testing::StartsWith("farsend "));
    EXPECT_THAT(run.out, HasSubstr("Exit status:"));
    EXPECT_EQ(run.err, "");

    run = RunFarsend({"--version"});
    EXPECT_EQ(run.status, 0);
    // "farsend MAJOR.MINOR.PATCH" and nothing else.
    ASSERT_THAT(run.out, ::testing::StartsWith("farsend "));
    std::string version = run.out.substr(8);
    while (!version.empty() && (version.back() == '\n' || version.back() == '\r')) {
        version.pop_back();
    }
    EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 2) << version;
    EXPECT_EQ(version.find_first_not_of("0123456789."), std::string::npos) << version;
}

TEST(CliProcess, UsageErrorsExitWithTwoAndSayWhat) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "no command given"},
        {{"frobnicate"}, "frobnicate"},
        {{"program", "--wait", "never"}, "--wait"},
        {{"watch", "--count", "0"}, "--count"},
        {{"program", "--launch", "--count", "2"}, "--count does not apply to program"},
        {{"program", "--sim-baud=9600"}, "--sim-baud has no effect without --simulate"},
    };
    for (const auto& [words, says] : cases) {
        const ProcessResult run = RunFarsend(words);
        EXPECT_EQ(run.status, 2) << says;
        EXPECT_THAT(run.err, HasSubstr(says));
        EXPECT_THAT(run.err, HasSubstr("farsend --help"));
        EXPECT_EQ(run.out, "");
    }
}

TEST(CliProcess, SelectShowsTheFileProgramWouldUse) {
    farsend::testing::TempDirectory temp;
    ASSERT_TRUE(sim::WriteSampleSet(temp.path()));
    const std::string dir = temp.path().string();

    ProcessResult run = RunFarsend({"select", "--dir", dir});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("* Farsend_15_bt.hex"));
    EXPECT_THAT(run.out, HasSubstr("File:    " + firmware::JoinPath(dir, "Farsend_15_bt.hex")));

    run = RunFarsend(
        {"select", "--json", "--dir", dir, "--variant", "zigbee", "--hw", "1.0", "--factory"});
    ASSERT_EQ(run.status, 0) << run.err;
    const Json result = Json::parse(run.out);
    EXPECT_EQ(result["file"], firmware::JoinPath(dir, "Farsend_10_802_f.hex"));
    EXPECT_EQ(result["variant"], "ZigBee");
    EXPECT_EQ(result["hw"], "1.0");
    EXPECT_EQ(result["factory"], true);
    EXPECT_EQ(result["files"].size(), 12u);

    // A directory without a matching image: status 3, and what to do.
    const auto only = temp.MakeDirectory("only-zigbee");
    temp.Touch("only-zigbee/Farsend_20_802.hex");
    run = RunFarsend({"select", "--dir", only.string(), "--variant", "bluetooth"});
    EXPECT_EQ(run.status, 3);
    EXPECT_THAT(run.err, HasSubstr("no firmware file for Bluetooth"));
    EXPECT_THAT(run.err, HasSubstr("--dir"));

    run = RunFarsend({"select", "--dir", (temp.path() / "nowhere").string()});
    EXPECT_EQ(run.status, 3);
    EXPECT_THAT(run.err, HasSubstr("no such directory"));
}

TEST(CliProcess, DevicesWithTheSimulationListsItsBridge) {
    ProcessResult run = RunFarsend({"devices", "--simulate", "--sim-report-length=33"});
    EXPECT_EQ(run.status, 0) << run.err;
    char listed[96];
    std::snprintf(listed, sizeof listed,
                  "sim-hid:bridge  USB %04x:%04x  reports: input 33, output 33",
                  link::kBridgeVendorId, link::kBridgeProductId);
    EXPECT_THAT(run.out, HasSubstr(listed));
    EXPECT_THAT(run.out, ::testing::Not(HasSubstr("keyboard")));

    run = RunFarsend({"--json", "devices", "--simulate"});
    ASSERT_EQ(run.status, 0) << run.err;
    const Json result = Json::parse(run.out);
    ASSERT_EQ(result["devices"].size(), 1u);
    EXPECT_EQ(result["devices"][0]["path"], "sim-hid:bridge");
    EXPECT_EQ(result["devices"][0]["vendor"], link::kBridgeVendorId);
    EXPECT_EQ(result["devices"][0]["location"], "sim-usb-1.4");
    EXPECT_EQ(result["devices"][0]["serial"], "SIM00001");

    // Every simulated bridge is listed, as the stations of --all find them.
    run = RunFarsend({"--json", "devices", "--simulate", "--sim-bridges=3"});
    ASSERT_EQ(run.status, 0) << run.err;
    const Json three = Json::parse(run.out);
    ASSERT_EQ(three["devices"].size(), 3u);
    EXPECT_EQ(three["devices"][2]["path"], "sim-hid:bridge-3");
    EXPECT_EQ(three["devices"][2]["location"], "sim-usb-1.6");
    EXPECT_EQ(three["devices"][2]["serial"], "SIM00003");

    run = RunFarsend({"devices", "--simulate"});
    EXPECT_THAT(run.out, HasSubstr("bytes  location sim-usb-1.4  serial SIM00001\n"));
}

// --device names a bridge by what `devices` lists: its node, its location or
// its serial number; another device's name is refused, and so is an empty one.
TEST(CliProcess, DeviceIsChosenByNodeLocationOrSerial) {
    struct Case {
        std::string name;
        int status;
        std::string says;
    };
    const std::vector<Case> cases = {
        {"sim-hid:bridge", 0, ""},
        {"sim-usb-1.4", 0, ""},
        {"SIM00001", 0, ""},
        {"sim-usb-1.3", 5, "sim-usb-1.3 is not the bridge"},
        {"SIM00099", 5, "SIM00099 is not the bridge"},
        {"SIM0000", 5, "--device SIM0000: no such HID interface"},
        {"", 2, "--device needs a name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ProcessResult run = RunFarsend({"identify", "--simulate", "--device", c.name});
        EXPECT_EQ(run.status, c.status) << run.err;
        if (c.status == 0) {
            EXPECT_EQ(run.out, "variant: Bluetooth\nversion: 1.5.0\n");
        } else {
            EXPECT_THAT(run.err, HasSubstr(c.says));
        }
    }
}

}  // namespace
}  // namespace farsend::cli
