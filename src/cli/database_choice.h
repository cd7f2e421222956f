// Which unit database a command uses: the one --db names, else the default
// file, which for a simulated run is a file of its own so that simulated
// targets never count among the real units.
#pragma once

#include <string>

#include "cli/cli_options.h"

namespace farsend::cli {

struct DatabaseChoice {
    std::string location;  // "" when no --db and no place for the default
    // The default location, whose folder is made when missing; a named
    // one's folder must exist.
    bool isDefault = false;
};

DatabaseChoice ChooseDatabase(const CliOptions& options);

}  // namespace farsend::cli
