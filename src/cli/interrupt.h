// Ctrl+C, SIGTERM and SIGHUP for the commands that talk to a target: the
// first one asks for a clean end (the target in hand is finished and
// recorded, the link closed, no further target started) and says so on
// standard error at once. A second one stops the units in hand before their
// next block; they are recorded as interrupted, and the process ends. A third
// one ends the process at once, as usual.
#pragma once

namespace farsend::cli {

// What the first signal says, on a line of its own.
extern const char kInterruptNotice[];

// What the second signal says.
extern const char kStopNowNotice[];

void CatchInterrupt();
bool Interrupted();
// A second signal came: the units in hand are to stop now.
bool StopNow();

}  // namespace farsend::cli
