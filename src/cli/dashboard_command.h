// farsend dashboard [--db PATH|URL] [--listen ADDR:PORT] [--token-file F]:
// the supervisor view of the unit database, served to a browser. Linux
// build only, with the unit database.
#pragma once

#include "cli/cli_options.h"
#include "cli/console.h"
#include "line/line_server.h"

namespace farsend::cli {

// Beside the line page's, so that a PC may serve both.
constexpr int kDefaultDashboardPort = line::kDefaultLinePort + 1;

#if FARSEND_UNIT_DATABASE
// Serves until Ctrl+C, SIGTERM or SIGHUP (status 0). 9: the database
// cannot be read; 2: a bad --listen or --token-file, or an address that
// cannot be listened on.
int RunDashboard(const CliOptions& options, Console& console);
#endif

}  // namespace farsend::cli
