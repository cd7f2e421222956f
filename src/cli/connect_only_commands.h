// identify, launch and erase: a connected target, then the command itself,
// its result printed.
#pragma once

#include "cli/cli_options.h"
#include "cli/console.h"
#include "cli/station_session.h"

namespace farsend::cli {

// The erase-all warning on the terminal; true for a yes.
bool AskEraseAll(Console& console);

// The target's variant and version, printed; the exit status.
int IdentifyTarget(Session& session, Console& console, const CliOptions& options);

// The command once the session's monitor has stopped, with a connected
// target or none: the exit status. `eraseAll`: the operator said yes.
int FinishConnectOnly(const CliOptions& options, Console& console, Session& session, bool eraseAll);

}  // namespace farsend::cli
