#include "app/win/command_line_win.h"

// clang-format off
#include <windows.h>   // first: <shellapi.h> uses its types
#include <shellapi.h>
// clang-format on

#include "firmware/platform_paths.h"

namespace farsend::app {

std::optional<std::vector<CommandLineArgument>> SplitCommandLine(const std::wstring& commandLine) {
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(commandLine.c_str(), &count);
    if (!words) return std::nullopt;

    std::vector<CommandLineArgument> arguments;
    arguments.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        CommandLineArgument argument;
        argument.native = std::filesystem::path(std::wstring(words[i]));
        if (std::optional<std::string> text = firmware::EightBitPath(argument.native)) {
            argument.text = std::move(*text);
        } else {
            argument.exact = false;
            argument.text = firmware::EightBitPathForDisplay(argument.native);
        }
        arguments.push_back(std::move(argument));
    }
    LocalFree(words);
    return arguments;
}

std::optional<std::vector<CommandLineArgument>> ReadCommandLine(int /*argc*/, char** /*argv*/) {
    std::optional<std::vector<CommandLineArgument>> words = SplitCommandLine(GetCommandLineW());
    if (!words) return std::nullopt;
    // The first word is the program's own path.
    if (!words->empty()) words->erase(words->begin());
    return words;
}

}  // namespace farsend::app
