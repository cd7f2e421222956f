// What farsend needs to know about its standard error: whether a person is
// watching it (progress bars) and how wide it is.
#pragma once

namespace farsend::cli {

bool StandardErrorIsTerminal();
bool StandardOutputIsTerminal();
// Lines of the terminal on standard error; LINES, else 24, when the system
// does not say.
int StandardErrorHeight();
// Columns of the terminal on standard error; COLUMNS, else 80, when the
// system does not say.
int StandardErrorWidth();
// Whether the terminal moves its cursor on ANSI sequences, which the board of
// several stations needs. The Windows console does so only once asked to
// through the console API, which this front end does not use: there the
// stations' progress stays plain lines.
bool TerminalTakesCursorControl();

}  // namespace farsend::cli
