// The command line: keywords (letter case ignored), a firmware file and a
// firmware directory. Words that another part of the program claims (the
// simulator's "--sim..." options, for example) are handed over untouched.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/tool_settings.h"

namespace farsend::app {

// One word as the system gave it.
struct CommandLineArgument {
    // 8-bit form: the ANSI code page on Windows, the bytes as given on Linux.
    std::string text;
    // The system's own form, with which existence is tested.
    std::filesystem::path native;
    // False when the 8-bit form lost characters the code page cannot hold;
    // `text` then shows them as '?'.
    bool exact = true;
};

// An argument given in 8-bit form (tests, and Linux where that is all there is).
CommandLineArgument ArgumentFromText(std::string text);

// Asked of every word in order before anything else; returns true for a word
// it takes. It may keep state, for instance to take the value that follows
// one of its options.
using WordClaim = std::function<bool(std::string_view word)>;

struct CommandLineOutcome {
    std::vector<std::string> claimedWords;  // in command-line order
    // Paths that exist but cannot be used, with the reason; shown to the user.
    std::vector<std::string> warnings;
};

// Applies the arguments (the program's own path not included) in order; a
// later word overrides an earlier one of the same kind.
CommandLineOutcome ApplyCommandLine(ToolSettings& settings,
                                    const std::vector<CommandLineArgument>& arguments,
                                    const WordClaim& claim = {});

// Whether the start-up reads `word` as a keyword (exit, autoprogram,
// factory, bootloader, bluetooth, zigbee, 1.0, 1.5, 2.0; any case) rather
// than as a path.
bool IsCommandLineKeyword(std::string_view word);

// Why an existing path cannot be kept in the settings, or nothing when it can.
std::optional<std::string> PathRefusal(const CommandLineArgument& path);

// The process's arguments without the program's own path: argv on Linux; on
// Windows the wide command line split by the system and converted to the
// ANSI code page (argc and argv are not used there). Nothing when the
// system cannot split the command line.
std::optional<std::vector<CommandLineArgument>> ReadCommandLine(int argc, char** argv);

// The current directory, or nothing when it cannot be read.
std::optional<CommandLineArgument> ReadWorkingDirectory();

}  // namespace farsend::app
