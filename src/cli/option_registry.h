// Every option farsend takes, how CLI11 reads it, and the commands it means
// something to. Each command's CLI11 subcommand is given only its own
// options; one given to another command is refused, naming the commands it
// belongs to in the order listed here.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/cli_options.h"

namespace farsend::cli {

// Words farsend reads itself once CLI11 has taken them (its numbers follow
// C's rules and its messages would not say what is wrong with a spec), and
// values CLI11 holds before they become CliOptions fields.
struct OptionWords {
    std::string variant, hardwareVersion;
    std::string serial, serialValue;
    std::string format, base, to;
    std::int64_t first = 0, last = 0, limit = 0;
};

struct OptionSpec {
    const char* name;  // the long form, "--dir"
    bool takesValue;
    void (*add)(CLI::App& app, CliOptions& options, OptionWords& words);
    std::vector<Command> commands;  // empty: every command
};

// In the order CLI11 checks their values, which is also the order in which
// the first misplaced one on a line is named.
const std::vector<OptionSpec>& AllOptions();

// The option WORD names: "--dir" or "--dir=VALUE". Nothing for any other word.
const OptionSpec* OptionUsedBy(const std::string& word);

bool AppliesTo(const OptionSpec& option, Command command);

// "program, watch and line".
std::string CommandList(const std::vector<Command>& commands);

// Gives APP the options that apply to COMMAND, in their order.
void AddOptionsOf(Command command, CLI::App& app, CliOptions& options, OptionWords& words);

}  // namespace farsend::cli
