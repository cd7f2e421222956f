#include "cli/image_choice.h"

#include "firmware/platform_paths.h"

namespace farsend::cli {
namespace {

// A path given with --dir or as FILE is a path, even when it is called
// "zigbee" or "1.5": such a relative name gets a leading "./".
app::CommandLineArgument PathWord(const std::string& path) {
    if (app::IsCommandLineKeyword(path)) {
        return app::ArgumentFromText(std::string(".") + firmware::kPathSeparator + path);
    }
    return app::ArgumentFromText(path);
}

}  // namespace

std::vector<app::CommandLineArgument> StartUpWords(const CliOptions& options) {
    std::vector<app::CommandLineArgument> words;
    if (!options.dir.empty()) words.push_back(PathWord(options.dir));
    if (options.variant == firmware::DeviceType::Bluetooth) {
        words.push_back(app::ArgumentFromText("bluetooth"));
    } else if (options.variant == firmware::DeviceType::ZigBee) {
        words.push_back(app::ArgumentFromText("zigbee"));
    }
    if (options.hardwareVersion != firmware::HardwareVersion::Any) {
        words.push_back(app::ArgumentFromText(HardwareVersionName(options.hardwareVersion)));
    }
    if (options.factory) words.push_back(app::ArgumentFromText("factory"));
    if (!options.file.empty()) words.push_back(PathWord(options.file));
    return words;
}

std::optional<std::string> GivenPathProblem(const CliOptions& options) {
    if (!options.dir.empty() && !firmware::IsExistingDirectory(options.dir)) {
        return "--dir " + options.dir + ": no such directory";
    }
    if (!options.file.empty() && !firmware::IsExistingRegularFile(options.file)) {
        if (firmware::IsExistingDirectory(options.file)) {
            return options.file + ": a directory, not a firmware file (for a directory: --dir)";
        }
        return options.file + ": no such file";
    }
    return std::nullopt;
}

app::StartUpReport ChooseImage(const CliOptions& options, app::ToolSettings& settings,
                               const std::optional<app::CommandLineArgument>& workingDirectory) {
    app::StartUpInputs inputs;
    inputs.workingDirectory = workingDirectory;
    inputs.arguments = StartUpWords(options);
    return app::StartUp(settings, inputs);
}

const char* DeviceTypeName(firmware::DeviceType type) {
    switch (type) {
        case firmware::DeviceType::Bluetooth:
            return "Bluetooth";
        case firmware::DeviceType::ZigBee:
            return "ZigBee";
        case firmware::DeviceType::Any:
            break;
    }
    return "any";
}

const char* HardwareVersionName(firmware::HardwareVersion version) {
    switch (version) {
        case firmware::HardwareVersion::V1_0:
            return "1.0";
        case firmware::HardwareVersion::V1_5:
            return "1.5";
        case firmware::HardwareVersion::V2_0:
            return "2.0";
        case firmware::HardwareVersion::Any:
            break;
    }
    return "any";
}

}  // namespace farsend::cli
