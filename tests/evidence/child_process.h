// Runs a program as a child process with a time limit, its output kept in
// files (no pipe can fill up and stall it), and reports how it ended and
// what it used (wall time, CPU time, peak resident memory).
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace farsend::evidence {

enum class ChildEnd {
    Exited,      // exitStatus is valid
    Signalled,   // killed by `signal` on its own account (a crash)
    TimedOut,    // still running at the limit; it was killed
    NotStarted,  // fork or exec failed
};

struct ChildResult {
    ChildEnd end = ChildEnd::NotStarted;
    int exitStatus = -1;
    int signal = 0;
    double wallSeconds = 0;
    double userSeconds = 0;
    double systemSeconds = 0;
    long maxResidentKb = 0;  // ru_maxrss of the child
    std::string out;
    std::string err;
};

// Something done to the child's world while it runs, `at` after its start
// (or at its end, if it ends sooner).
struct MidRunAction {
    std::chrono::milliseconds at{0};
    std::function<void()> act;
};

// Runs `program` with `arguments` in `workDirectory` (standard input empty,
// standard output and error in out.txt and err.txt there), killing it once
// `limit` has passed.
ChildResult RunChild(const std::string& program, const std::vector<std::string>& arguments,
                     const std::string& workDirectory, std::chrono::milliseconds limit,
                     const MidRunAction& meanwhile = {});

}  // namespace farsend::evidence
