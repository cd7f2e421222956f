#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli/posix/spawn_redirected.h"
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

    const pid_t child = SpawnRedirected(argv.data(), in.c_str(), out.c_str(), err.c_str());
    if (child < 0) return {};
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
