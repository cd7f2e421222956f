#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>

#include "cli/terminal.h"

namespace farsend::cli {

bool StandardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

bool StandardOutputIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

int StandardErrorHeight() {
    struct winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0) return size.ws_row;
    if (const char* lines = std::getenv("LINES")) {
        const int value = std::atoi(lines);
        if (value > 0) return value;
    }
    return 24;
}

int StandardErrorWidth() {
    struct winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    if (const char* columns = std::getenv("COLUMNS")) {
        const int value = std::atoi(columns);
        if (value > 0) return value;
    }
    return 80;
}

bool TerminalTakesCursorControl() {
    return true;
}

}  // namespace farsend::cli
