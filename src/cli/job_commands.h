// The commands of production jobs and their signing keys:
//   job new [options] NAME FILE, job sign --key KEYFILE JOBFILE,
//   job show JOBFILE, job verify JOBFILE;
//   keys new KEYFILE, keys trust PUBFILE, keys list, keys revoke ID.
// Part of the Linux build only, with the unit database that keeps the keys.
#pragma once

#include "cli/cli_options.h"
#include "cli/console.h"

namespace farsend::cli {

#if FARSEND_UNIT_DATABASE
int RunJob(const CliOptions& options, Console& console);
int RunKeys(const CliOptions& options, Console& console);
#endif

}  // namespace farsend::cli
