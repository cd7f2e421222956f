// The streams a command talks through, so that tests can run commands in the
// process and read what they wrote.
#pragma once

#include <istream>
#include <ostream>
#include <string>

namespace farsend::cli {

struct Console {
    std::istream& in;   // answers to questions (erase all: "y")
    std::ostream& out;  // results: text or JSON
    std::ostream& err;  // messages and progress
    bool errIsTerminal = false;
    int terminalWidth = 80;
};

// "farsend: <text>\n" on the error stream; `text` may hold several lines.
void Complain(Console& console, const std::string& text);

}  // namespace farsend::cli
