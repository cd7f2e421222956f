#include "firmware/firmware_selection.h"

#include <filesystem>
#include <system_error>

#include "firmware/image_names.h"
#include "firmware/platform_paths.h"

namespace farsend::firmware {
namespace {

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

bool EndsWithIgnoringCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           StartsWithIgnoringCase(text.substr(text.size() - suffix.size()), suffix);
}

bool AcceptsDeviceType(DeviceType requested, bool bluetooth, bool zigbee) {
    switch (requested) {
        case DeviceType::Any:
            return true;
        case DeviceType::Bluetooth:
            return bluetooth;
        case DeviceType::ZigBee:
            return zigbee;
    }
    return false;
}

bool AcceptsHardwareVersion(HardwareVersion requested, const ImageVersion& version) {
    switch (requested) {
        case HardwareVersion::Any:
            return true;
        case HardwareVersion::V1_0:
            return version == ImageVersion{1, 0} || version == ImageVersion{0, 0};
        case HardwareVersion::V1_5:
            return version == ImageVersion{1, 5};
        case HardwareVersion::V2_0:
            return version == ImageVersion{2, 0};
    }
    return false;
}

}  // namespace

bool IsFirmwareFileName(std::string_view name) {
    constexpr std::string_view kPrefix = "farsend";
    constexpr std::string_view kSuffix = ".hex";
    return name.size() >= kPrefix.size() + kSuffix.size() &&
           StartsWithIgnoringCase(name, kPrefix) && EndsWithIgnoringCase(name, kSuffix);
}

bool MatchesRequest(std::string_view name, const SelectionRequest& request) {
    return !HasIntelMarker(name) && IsFactoryImageName(name) == request.factory &&
           AcceptsDeviceType(request.deviceType, IsBluetoothImageName(name),
                             IsZigBeeImageName(name)) &&
           AcceptsHardwareVersion(request.hardwareVersion, ImageVersionOf(name));
}

std::optional<std::vector<std::string>> ListFirmwareDirectory(const std::string& directory) {
    // An empty directory name would list the current drive's root on Windows.
    if (directory.empty()) return std::nullopt;
    // The 8-bit pattern "<directory>\Farsend*.hex" must fit as a whole.
    if (!FitsPathLimit(JoinPath(directory, "Farsend*.hex"))) return std::nullopt;

    std::error_code error;
    std::filesystem::directory_iterator it(NativePath(directory), error);
    if (error) return std::nullopt;

    std::vector<std::string> names;
    for (; it != std::filesystem::directory_iterator(); it.increment(error)) {
        if (error) break;
        // A name the code page cannot hold could not be opened through the
        // 8-bit path later, so it is passed over.
        const std::optional<std::string> name = EightBitPath(it->path().filename());
        if (!name || !IsFirmwareFileName(*name)) continue;
        if (!FitsPathLimit(JoinPath(directory, *name))) continue;
        // A directory or other non-file named like firmware cannot be programmed.
        std::error_code statusError;
        if (!it->is_regular_file(statusError)) continue;
        names.push_back(*name);
    }
    return names;
}

std::optional<std::string> SelectFromListing(const std::vector<std::string>& names,
                                             std::string_view directory,
                                             const SelectionRequest& request) {
    std::optional<std::string> chosen;
    for (const std::string& name : names) {
        if (!IsFirmwareFileName(name) || !MatchesRequest(name, request)) continue;
        std::string path = JoinPath(directory, name);
        if (!chosen || path.size() < chosen->size()) chosen = std::move(path);
    }
    return chosen;
}

std::optional<std::string> SelectFirmwareFile(const FirmwareSearch& search,
                                              const SelectionRequest& request) {
    if (!search.commandLineFile.empty() && IsExistingRegularFile(search.commandLineFile)) {
        return search.commandLineFile;
    }
    const auto names = ListFirmwareDirectory(search.firmwareDirectory);
    if (!names) return std::nullopt;
    return SelectFromListing(*names, search.firmwareDirectory, request);
}

}  // namespace farsend::firmware
