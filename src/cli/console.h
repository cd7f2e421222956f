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
    // Results reach the same screen as the messages: a failure's result line
    // says what its message would, and the message is left out.
    bool outIsTerminal = false;
};

// "farsend: <text>\n" on the error stream; `text` may hold several lines.
void Complain(Console& console, const std::string& text);

}  // namespace farsend::cli
