// Choosing a firmware file for the requested variant, hardware version and
// image kind from the firmware directory ("Farsend*.hex", letter case
// ignored), unless the command line named a file.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/device_kinds.h"

namespace farsend::firmware {

// Where selection looks: a snapshot of the two settings it reads.
struct FirmwareSearch {
    std::string firmwareDirectory;
    // A file named on the command line; while it exists as a regular file it
    // is chosen before anything else, whatever its name says.
    std::string commandLineFile;
};

struct SelectionRequest {
    DeviceType deviceType = DeviceType::Any;
    HardwareVersion hardwareVersion = HardwareVersion::Any;
    bool factory = false;
};

// Whether a file name has the form "Farsend*.hex" in any letter case.
bool IsFirmwareFileName(std::string_view name);

// Whether the name passes every filter of `request`: no "_intel" marker,
// factory marker as requested, variant and version accepted. A name without
// version digits counts as "1.0"; DeviceType Any accepts any variant or none.
bool MatchesRequest(std::string_view name, const SelectionRequest& request);

// The entries of `directory` whose names have the firmware form, in the order
// the system lists them; only regular files, and on Windows only names whose
// full path fits the 8-bit path limit. Nothing when the directory cannot be
// listed (missing, empty name, too long).
std::optional<std::vector<std::string>> ListFirmwareDirectory(const std::string& directory);

// Picks among `names` (listed in `directory`, in listing order): the matching
// entry with the shortest full path, the first listed among equally short
// ones. Returns the full path, or nothing when no entry matches.
std::optional<std::string> SelectFromListing(const std::vector<std::string>& names,
                                             std::string_view directory,
                                             const SelectionRequest& request);

// The whole selection: the command-line file if it still exists as a regular
// file, else the best match in the firmware directory, else nothing.
std::optional<std::string> SelectFirmwareFile(const FirmwareSearch& search,
                                              const SelectionRequest& request);

}  // namespace farsend::firmware
