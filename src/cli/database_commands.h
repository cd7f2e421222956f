// The commands of the unit database: serials (its number pools) and units
// (its rows and the yield). A build made without SOCI leaves the database
// out and says so when asked for them.
#pragma once

#include "cli/cli_options.h"
#include "cli/console.h"

namespace farsend::cli {

#if FARSEND_UNIT_DATABASE
// serials init NAME --first N [--last M], or serials: the pools listed.
int RunSerials(const CliOptions& options, Console& console);
// units [--since T] [--station S] [--serial N]: the rows and the yield table.
int RunUnits(const CliOptions& options, Console& console);
#endif

}  // namespace farsend::cli
