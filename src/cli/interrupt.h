// Ctrl+C for watch: the first one asks for a clean end (the target being
// programmed is finished, then the run stops); a second one ends the process
// at once, as usual.
#pragma once

namespace farsend::cli {

void CatchInterrupt();
bool Interrupted();

}  // namespace farsend::cli
