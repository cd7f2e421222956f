#include "cli/missing_firmware.h"

#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

#include "cli/image_choice.h"
#include "firmware/firmware_selection.h"

namespace farsend::cli {

namespace {

bool CurrentFolderHoldsFirmware() {
    std::error_code error;
    const std::filesystem::path here = std::filesystem::current_path(error);
    if (error) return false;
    const std::optional<std::vector<std::string>> names =
        firmware::ListFirmwareDirectory(here.string());
    return names && !names->empty();
}

}  // namespace

std::string RequestText(const app::ToolSettings& settings) {
    const firmware::DeviceType type = settings.deviceType.load();
    const firmware::HardwareVersion version = settings.hardwareVersion.load();
    return std::string(type == firmware::DeviceType::Any ? "any variant" : DeviceTypeName(type)) +
           ", " +
           (version == firmware::HardwareVersion::Any
                ? std::string("any hardware version")
                : std::string("hardware ") + HardwareVersionName(version)) +
           (settings.flashMode.load() == app::FlashMode::BootloaderAndApplication
                ? ", factory image (bootloader and application)"
                : ", application image");
}

std::string MissingFirmwareMessage(const app::ToolSettings& settings, bool given) {
    const std::string directory = settings.firmwareDirectory.Get();
    std::string text = "no firmware file for " + RequestText(settings) + "\nLooked in " +
                       (directory.empty() ? std::string("(no folder)") : directory);
    if (!given) text += ", the default: the parent of the current folder";
    text += ".\n";
    if (!given && CurrentFolderHoldsFirmware()) {
        text += "The current folder holds Farsend*.hex files: --dir . chooses from them.\n";
    }
    text +=
        "`farsend select` shows what a folder offers. Name a file (program FILE), another "
        "folder (--dir DIR) or another image (--variant, --hw, --factory).";
    return text;
}

}  // namespace farsend::cli
