// A farsend child process that a test can watch and signal while it runs:
// its standard streams go to the paths given (a file, /dev/full), and its
// end is waited for with a limit, so that a child that would run for ever
// fails its test instead of stalling the suite.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "cli/posix/spawn_redirected.h"
#include "cli/process_runner.h"

namespace farsend::testing {

struct ChildEnd {
    bool exited = false;   // false: killed by a signal, or still running at the limit
    int status = -1;       // the exit status when it exited
    int signal = 0;        // the signal that ended it, when one did
    bool overran = false;  // it had not ended within the limit and was killed
};

class FarsendChild {
public:
    FarsendChild(const std::vector<std::string>& arguments, const std::string& out,
                 const std::string& err) {
        // Everything is prepared before fork: after it, only async-signal-safe calls.
        std::vector<std::string> words = {FarsendExecutable()};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        pid_ = SpawnRedirected(argv.data(), "/dev/null", out.c_str(), err.c_str());
    }
    ~FarsendChild() {
        if (pid_ > 0 && !reaped_) Wait(std::chrono::seconds(0));
    }
    FarsendChild(const FarsendChild&) = delete;
    FarsendChild& operator=(const FarsendChild&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    void Signal(int signal) const { ::kill(pid_, signal); }

    // Polls `ready` (every few milliseconds, in real time: this is about real
    // processes and real signals) until it holds, the child ends, or `limit`
    // passes. Whether `ready` held.
    bool WaitUntil(const std::function<bool()>& ready, std::chrono::milliseconds limit) {
        const auto giveUp = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < giveUp) {
            if (ready()) return true;
            if (Ended()) return ready();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return ready();
    }

    // Waits for the end; a child still running after `limit` is killed.
    ChildEnd Wait(std::chrono::milliseconds limit) {
        ChildEnd end;
        if (!reaped_) {
            const bool ended = WaitUntil([this] { return Ended(); }, limit);
            if (!ended) {
                end.overran = true;
                ::kill(pid_, SIGKILL);
                while (::waitpid(pid_, &rawStatus_, 0) < 0) {
                }
                reaped_ = true;
            }
        }
        if (!end.overran && WIFEXITED(rawStatus_)) {
            end.exited = true;
            end.status = WEXITSTATUS(rawStatus_);
        } else if (WIFSIGNALED(rawStatus_)) {
            end.signal = WTERMSIG(rawStatus_);
        }
        return end;
    }

private:
    bool Ended() {
        if (reaped_) return true;
        if (::waitpid(pid_, &rawStatus_, WNOHANG) == pid_) reaped_ = true;
        return reaped_;
    }

    pid_t pid_ = -1;
    bool reaped_ = false;
    int rawStatus_ = 0;
};

}  // namespace farsend::testing
