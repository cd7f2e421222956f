#include "app/command_line.h"

#include <system_error>

#include "app/window_texts.h"
#include "firmware/platform_paths.h"

namespace farsend::app {
namespace {

bool EqualsIgnoringCase(std::string_view text, std::string_view keyword) {
    if (text.size() != keyword.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != keyword[i]) return false;
    }
    return true;
}

// Applies a keyword; false when the word is none.
bool ApplyKeyword(ToolSettings& settings, std::string_view word) {
    if (EqualsIgnoringCase(word, "exit")) {
        settings.exitAfterProgram.store(true);
    } else if (EqualsIgnoringCase(word, "autoprogram")) {
        SetAutoProgram(settings, true);
    } else if (EqualsIgnoringCase(word, "factory") || EqualsIgnoringCase(word, "bootloader")) {
        SetFlashMode(settings, FlashMode::BootloaderAndApplication);
    } else if (EqualsIgnoringCase(word, "bluetooth")) {
        settings.deviceType.store(DeviceType::Bluetooth);
    } else if (EqualsIgnoringCase(word, "zigbee")) {
        settings.deviceType.store(DeviceType::ZigBee);
    } else if (word == "1.0") {
        settings.hardwareVersion.store(HardwareVersion::V1_0);
    } else if (word == "1.5") {
        settings.hardwareVersion.store(HardwareVersion::V1_5);
    } else if (word == "2.0") {
        settings.hardwareVersion.store(HardwareVersion::V2_0);
    } else {
        return false;
    }
    return true;
}

}  // namespace

CommandLineArgument ArgumentFromText(std::string text) {
    CommandLineArgument argument;
    argument.native = firmware::NativePath(text);
    argument.text = std::move(text);
    return argument;
}

std::optional<std::string> PathRefusal(const CommandLineArgument& path) {
    if (!path.exact) {
        return "This path has characters that the system code page cannot represent, so it "
               "was not used:\n" +
               path.text;
    }
    if (!firmware::FitsPathLimit(path.text)) {
        return "This path is longer than " + std::to_string(firmware::kMaxPathLength) +
               " characters, so it was not used:\n" + path.text;
    }
    return std::nullopt;
}

CommandLineOutcome ApplyCommandLine(ToolSettings& settings,
                                    const std::vector<CommandLineArgument>& arguments,
                                    const WordClaim& claim) {
    CommandLineOutcome outcome;
    for (const CommandLineArgument& argument : arguments) {
        if (claim && claim(argument.text)) {
            outcome.claimedWords.push_back(argument.text);
            continue;
        }
        if (ApplyKeyword(settings, argument.text)) continue;

        std::error_code error;
        const std::filesystem::file_status status = std::filesystem::status(argument.native, error);
        const bool isFile = !error && std::filesystem::is_regular_file(status);
        const bool isDirectory = !error && std::filesystem::is_directory(status);
        if (!isFile && !isDirectory) continue;  // neither keyword nor existing path: ignored

        if (auto refusal = PathRefusal(argument)) {
            outcome.warnings.push_back(*refusal);
            continue;
        }
        (isFile ? settings.commandLineFile : settings.commandLineDirectory).Set(argument.text);
    }
    return outcome;
}

std::optional<CommandLineArgument> ReadWorkingDirectory() {
    std::error_code error;
    std::filesystem::path current = std::filesystem::current_path(error);
    if (error || current.empty()) return std::nullopt;
    CommandLineArgument directory;
    if (std::optional<std::string> text = firmware::EightBitPath(current)) {
        directory.text = std::move(*text);
    } else {
        directory.exact = false;
        directory.text = firmware::EightBitPathForDisplay(current);
    }
    directory.native = std::move(current);
    return directory;
}

}  // namespace farsend::app
