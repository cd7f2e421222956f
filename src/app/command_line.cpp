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

enum class Keyword { Exit, AutoProgram, Factory, Bluetooth, ZigBee, V1_0, V1_5, V2_0 };

// The start-up's keywords, the only list of them: the command line reads
// these before it tries a word as a path, and so does every front end that
// must keep a path from being taken for one.
constexpr struct {
    const char* word;
    Keyword keyword;
} kKeywords[] = {
    {"exit", Keyword::Exit},
    {"autoprogram", Keyword::AutoProgram},
    {"factory", Keyword::Factory},
    {"bootloader", Keyword::Factory},
    {"bluetooth", Keyword::Bluetooth},
    {"zigbee", Keyword::ZigBee},
    {"1.0", Keyword::V1_0},
    {"1.5", Keyword::V1_5},
    {"2.0", Keyword::V2_0},
};

std::optional<Keyword> FindKeyword(std::string_view word) {
    for (const auto& entry : kKeywords) {
        if (EqualsIgnoringCase(word, entry.word)) return entry.keyword;
    }
    return std::nullopt;
}

// Applies a keyword; false when the word is none.
bool ApplyKeyword(ToolSettings& settings, std::string_view word) {
    const std::optional<Keyword> keyword = FindKeyword(word);
    if (!keyword) return false;
    switch (*keyword) {
        case Keyword::Exit:
            settings.exitAfterProgram.store(true);
            break;
        case Keyword::AutoProgram:
            SetAutoProgram(settings, true);
            break;
        case Keyword::Factory:
            SetFlashMode(settings, FlashMode::BootloaderAndApplication);
            break;
        case Keyword::Bluetooth:
            settings.deviceType.store(DeviceType::Bluetooth);
            break;
        case Keyword::ZigBee:
            settings.deviceType.store(DeviceType::ZigBee);
            break;
        case Keyword::V1_0:
            settings.hardwareVersion.store(HardwareVersion::V1_0);
            break;
        case Keyword::V1_5:
            settings.hardwareVersion.store(HardwareVersion::V1_5);
            break;
        case Keyword::V2_0:
            settings.hardwareVersion.store(HardwareVersion::V2_0);
            break;
    }
    return true;
}

}  // namespace

bool IsCommandLineKeyword(std::string_view word) {
    return FindKeyword(word).has_value();
}

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
