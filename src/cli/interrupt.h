// Ctrl+C, SIGTERM and SIGHUP for the commands that talk to a target: the
// first one asks for a clean end (the target in hand is finished and
// recorded, the link closed, no further target started) and says so on
// standard error at once; a second one ends the process at once, as usual.
#pragma once

namespace farsend::cli {

// What the first signal says, on a line of its own.
extern const char kInterruptNotice[];

void CatchInterrupt();
bool Interrupted();

}  // namespace farsend::cli
