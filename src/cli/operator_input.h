// Lines the operator types while a watch runs (a socket to try again), read
// without waiting: the run's loop looks for them between its other work.
#pragma once

#include <memory>
#include <string>

namespace farsend::cli {

class OperatorInput {
public:
    virtual ~OperatorInput() = default;
    // The next whole line typed, without its line end; false when none has
    // come (yet, or ever: input at its end).
    virtual bool NextLine(std::string& line) = 0;
};

// The process's standard input. On Windows nothing is read from it.
std::unique_ptr<OperatorInput> StandardInputLines();

}  // namespace farsend::cli
