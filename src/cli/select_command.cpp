// select: what the firmware directory offers and the file program would use.
#include <algorithm>
#include <cstdio>

#include "app/start_up.h"
#include "app/tool_settings.h"
#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/image_choice.h"
#include "cli/missing_firmware.h"
#include "common/printable_text.h"
#include "firmware/firmware_selection.h"
#include "firmware/image_names.h"
#include "firmware/platform_paths.h"
#include "units/record/unit_json.h"

namespace farsend::cli {
namespace {

struct ListedFile {
    std::string name;
    std::string variant;  // "Bluetooth", "ZigBee", "both", "none"
    std::string version;  // "1.5", or "" without version digits
    bool factory = false;
    bool intel = false;
    bool chosen = false;
};

ListedFile Describe(const std::string& name, bool chosen) {
    ListedFile file;
    file.name = name;
    const bool zigbee = firmware::IsZigBeeImageName(name);
    const bool bluetooth = firmware::IsBluetoothImageName(name);
    file.variant = zigbee && bluetooth ? "both"
                   : zigbee            ? "ZigBee"
                   : bluetooth         ? "Bluetooth"
                                       : "none";
    int32_t major = 0, minor = 0;
    if (firmware::ParseImageVersion(name, major, minor)) {
        file.version = std::to_string(major) + "." + std::to_string(minor);
    }
    file.factory = firmware::IsFactoryImageName(name);
    file.intel = firmware::HasIntelMarker(name);
    file.chosen = chosen;
    return file;
}

}  // namespace

int RunSelect(const CliOptions& options, Console& console,
              const std::optional<app::CommandLineArgument>& workingDirectory) {
    if (auto problem = GivenPathProblem(options)) {
        Complain(console, *problem);
        return kExitFirmwareFile;
    }
    app::ToolSettings settings;
    const app::StartUpReport startUp = ChooseImage(options, settings, workingDirectory);
    for (const std::string& warning : startUp.warnings) Complain(console, "warning: " + warning);

    const std::string directory = settings.firmwareDirectory.Get();
    const std::string chosen = settings.firmwarePath.Get();
    std::vector<ListedFile> files;
    const auto listing = firmware::ListFirmwareDirectory(directory);
    if (listing) {
        std::vector<std::string> names = *listing;
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            files.push_back(Describe(name, firmware::JoinPath(directory, name) == chosen));
        }
    }

    if (options.json) {
        nlohmann::ordered_json result = nlohmann::ordered_json::object();
        result["directory"] = units::JsonPathText(directory);
        result["files"] = nlohmann::ordered_json::array();
        for (const ListedFile& file : files) {
            nlohmann::ordered_json entry = nlohmann::ordered_json::object();
            entry["name"] = units::JsonPathText(file.name);
            entry["variant"] = file.variant;
            entry["version"] = file.version;
            entry["factory"] = file.factory;
            entry["intel"] = file.intel;
            entry["chosen"] = file.chosen;
            result["files"].push_back(entry);
        }
        result["variant"] = DeviceTypeName(settings.deviceType.load());
        result["hw"] = HardwareVersionName(settings.hardwareVersion.load());
        result["factory"] = settings.flashMode.load() == app::FlashMode::BootloaderAndApplication;
        result["file"] = chosen.empty() ? nlohmann::ordered_json(nullptr)
                                        : nlohmann::ordered_json(units::JsonPathText(chosen));
        console.out << units::DumpJson(result) << '\n';
    } else {
        // Names as the folder holds them, escaped: a file's name may hold
        // anything but '/', control characters included.
        console.out << "Firmware directory: "
                    << (directory.empty() ? "(none)" : PrintableText(directory)) << '\n';
        if (!listing) {
            console.out << "  (cannot be listed)\n";
        } else if (files.empty()) {
            console.out << "  (no Farsend*.hex files)\n";
        }
        size_t widest = 0;
        for (const ListedFile& file : files) {
            widest = std::max(widest, PrintableText(file.name).size());
        }
        for (const ListedFile& file : files) {
            char line[64];
            std::snprintf(line, sizeof line, "  %-9s  %-3s  %s", file.variant.c_str(),
                          file.version.empty() ? "-" : file.version.c_str(),
                          file.factory ? "factory" : "application");
            const std::string name = PrintableText(file.name);
            console.out << (file.chosen ? "* " : "  ") << name
                        << std::string(widest - name.size(), ' ') << line;
            if (file.intel) console.out << "  (_intel: never chosen by name)";
            console.out << '\n';
        }
        console.out << "Request: " << RequestText(settings) << '\n';
        console.out << "File:    " << (chosen.empty() ? "(none)" : PrintableText(chosen)) << '\n';
    }

    if (chosen.empty()) {
        Complain(console, MissingFirmwareMessage(settings, !options.dir.empty()));
        return kExitFirmwareFile;
    }
    return kExitSuccess;
}

}  // namespace farsend::cli
