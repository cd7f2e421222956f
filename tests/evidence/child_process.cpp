#include "evidence/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace farsend::evidence {

namespace {

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

}  // namespace

ChildResult RunChild(const std::string& program, const std::vector<std::string>& arguments,
                     const std::string& workDirectory, std::chrono::milliseconds limit,
                     const MidRunAction& meanwhile) {
    // Everything the child needs is prepared before fork: after it, only
    // async-signal-safe calls (the campaign forks from several threads).
    std::vector<std::string> words = {program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    // The units a run programs are recorded in its own folder's database,
    // not in the default one under the home of whoever runs the campaign.
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::string(*entry).rfind("XDG_DATA_HOME=", 0) != 0) variables.emplace_back(*entry);
    }
    variables.push_back("XDG_DATA_HOME=" + std::filesystem::absolute(workDirectory).string());
    std::vector<char*> envp;
    for (std::string& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);
    const std::string outPath = workDirectory + "/out.txt";
    const std::string errPath = workDirectory + "/err.txt";

    ChildResult result;
    const auto started = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child < 0) return result;
    if (child == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || ::chdir(workDirectory.c_str()) != 0) ::_exit(127);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }

    int status = 0;
    rusage usage{};
    bool killed = false;
    bool acted = !meanwhile.act;
    for (;;) {
        if (!acted && std::chrono::steady_clock::now() - started >= meanwhile.at) {
            meanwhile.act();
            acted = true;
        }
        const pid_t done = ::wait4(child, &status, WNOHANG, &usage);
        if (done == child) break;
        if (done < 0) return result;
        if (!killed && std::chrono::steady_clock::now() - started >= limit) {
            ::kill(child, SIGKILL);
            killed = true;
            continue;
        }
        const timespec pause{0, 2 * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
    }
    if (!acted) meanwhile.act();  // the same world afterwards, whenever the child ended
    result.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    result.userSeconds = Seconds(usage.ru_utime);
    result.systemSeconds = Seconds(usage.ru_stime);
    result.maxResidentKb = usage.ru_maxrss;
    result.out = ReadWhole(outPath);
    result.err = ReadWhole(errPath);
    if (killed) {
        result.end = ChildEnd::TimedOut;
    } else if (WIFSIGNALED(status)) {
        result.end = ChildEnd::Signalled;
        result.signal = WTERMSIG(status);
    } else if (WIFEXITED(status) && WEXITSTATUS(status) == 127 && result.err.empty()) {
        result.end = ChildEnd::NotStarted;
        result.exitStatus = 127;
    } else {
        result.end = ChildEnd::Exited;
        result.exitStatus = WEXITSTATUS(status);
    }
    return result;
}

}  // namespace farsend::evidence
