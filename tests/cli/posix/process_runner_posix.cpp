#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli/process_files.h"
#include "cli/process_runner.h"

namespace farsend::testing {

std::string FarsendExecutable() {
    return FARSEND_CLI_EXE;
}

ProcessResult RunProcess(const std::string& executable, const std::vector<std::string>& arguments,
                         const std::string& input) {
    ProcessFiles files(input);
    // Everything the child needs is prepared before fork: after it, only
    // async-signal-safe calls.
    std::vector<std::string> words = {executable};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const std::string in = files.in.string(), out = files.out.string(), err = files.err.string();

    const pid_t child = ::fork();
    if (child < 0) return {};
    if (child == 0) {
        const int inFd = ::open(in.c_str(), O_RDONLY);
        const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (inFd < 0 || outFd < 0 || errFd < 0) ::_exit(127);
        ::dup2(inFd, 0);
        ::dup2(outFd, 1);
        ::dup2(errFd, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
    }
    ProcessResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ProcessFiles::Read(files.out);
    result.err = ProcessFiles::Read(files.err);
    return result;
}

}  // namespace farsend::testing
