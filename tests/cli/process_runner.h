// Runs the built farsend as a separate process, with its standard input
// given and its standard output and error collected (through files, so that
// no pipe can fill up and stall either side).
#pragma once

#include <string>
#include <vector>

namespace farsend::testing {

struct ProcessResult {
    int status = -1;  // exit status; -1: it could not be run or did not exit
    std::string out;
    std::string err;
};

// The farsend binary of this build.
std::string FarsendExecutable();

ProcessResult RunProcess(const std::string& executable, const std::vector<std::string>& arguments,
                         const std::string& input = "");

inline ProcessResult RunFarsend(const std::vector<std::string>& arguments,
                                const std::string& input = "") {
    return RunProcess(FarsendExecutable(), arguments, input);
}

}  // namespace farsend::testing
