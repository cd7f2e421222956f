// What farsend needs to know about its standard error: whether a person is
// watching it (progress bars) and how wide it is.
#pragma once

namespace farsend::cli {

bool StandardErrorIsTerminal();
// Columns of the terminal on standard error; COLUMNS, else 80, when the
// system does not say.
int StandardErrorWidth();

}  // namespace farsend::cli
