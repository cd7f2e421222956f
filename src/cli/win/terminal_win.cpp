// Without <windows.h> (kept to the link backend and the window shell): the
// C runtime tells whether standard error is a console; the width comes from
// COLUMNS or is the console's usual 80.
#include <io.h>

#include <cstdio>
#include <cstdlib>

#include "cli/terminal.h"

namespace farsend::cli {

bool StandardErrorIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

bool StandardOutputIsTerminal() {
    return _isatty(_fileno(stdout)) != 0;
}

int StandardErrorHeight() {
    if (const char* lines = std::getenv("LINES")) {
        const int value = std::atoi(lines);
        if (value > 0) return value;
    }
    return 25;
}

int StandardErrorWidth() {
    if (const char* columns = std::getenv("COLUMNS")) {
        const int value = std::atoi(columns);
        if (value > 0) return value;
    }
    return 80;
}

bool TerminalTakesCursorControl() {
    return false;
}

}  // namespace farsend::cli
