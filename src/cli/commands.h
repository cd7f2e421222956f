// The commands that need no target: select, inspect, devices. Each returns
// its exit status.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "cli/cli_options.h"
#include "cli/console.h"
#include "link/hid_platform.h"
#include "protocol/image_format.h"
#include "protocol/image_reader.h"
#include "protocol/serial_stamp.h"

namespace farsend::cli {

int RunSelect(const CliOptions& options, Console& console,
              const std::optional<app::CommandLineArgument>& workingDirectory);

int RunInspect(const CliOptions& options, Console& console);

// convert IN [OUT]: IN of any format written in the token format, or as
// --to gives.
int RunConvert(const CliOptions& options, Console& console);

// A serial number stamped into the plan's blocks.
struct InspectSerial {
    protocol::SerialSpec spec;
    std::uint64_t value = 0;
    protocol::SerialStampResult stamp;
};

// {"file": ..., "format": "token", "blocks": [{"base": N, "count": N, "check": N, "data":
// "hex"}, ...]}, the data being the block's `count` bytes; "format" the format read
// (token, ihex, srec, elf, bin). With a serial, after "format":
// "serial": {"address": N, "size": N, "format": "le", "value": N, "bytes": "hex",
// "touched_blocks": [index into "blocks", ...]}.
nlohmann::ordered_json InspectJson(const std::string& file, const protocol::ProgrammingPlan& plan,
                                   const InspectSerial* serial = nullptr,
                                   protocol::ImageFormat format = protocol::ImageFormat::Token);

// The interfaces of `platform` that carry the bridge's identifiers.
struct BridgeFound {
    std::string path;
    std::string location;  // "" when the system gives none
    std::string serial;    // "" when the bridge has none
};
std::vector<BridgeFound> FindBridges(link::HidPlatform& platform);
// How many interfaces of `platform` carry the bridge's identifiers.
std::size_t CountBridges(link::HidPlatform& platform);

// Lists the bridges `platform` finds (with --verbose every HID interface).
int RunDevices(const CliOptions& options, Console& console, link::HidPlatform& platform);
// The same over several platforms, in order: each simulated bridge is a
// platform of its own.
int RunDevices(const CliOptions& options, Console& console,
               const std::vector<link::HidPlatform*>& platforms);

}  // namespace farsend::cli
