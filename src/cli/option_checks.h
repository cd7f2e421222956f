// What farsend asks of a command line once CLI11 has read it: options that
// need one another or exclude one another, and the words farsend reads
// itself (serial specs, numbers, addresses, database names).
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

#include "cli/cli_options.h"
#include "cli/option_registry.h"

namespace farsend::cli {

// COMMAND: the command's subcommand as CLI11 left it. Fills in OPTIONS from
// WORDS; the message names the first fault found.
std::optional<std::string> CheckOptions(const CLI::App& command, const OptionWords& words,
                                        CliOptions& options);

}  // namespace farsend::cli
