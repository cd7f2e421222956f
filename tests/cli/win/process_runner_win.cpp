// The child inherits this process's standard handles, pointed at files for
// the duration of the spawn with the C runtime's _dup2 (which also sets the
// system's standard handles), then restored.
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "cli/process_files.h"
#include "cli/process_runner.h"

namespace farsend::testing {
namespace {

constexpr int kSpawnAttempts = 3;

// One argument as the C runtime of the child splits it again.
std::string Quoted(const std::string& word) {
    if (!word.empty() && word.find_first_of(" \t\"") == std::string::npos) return word;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : word) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') backslashes = backslashes * 2 + 1;
        quoted.append(backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

}  // namespace

std::string FarsendExecutable() {
    std::string path = FARSEND_CLI_EXE;
    // The build runs on Linux and names a Unix path; Wine shows / as Z:.
    if (!path.empty() && path[0] == '/') {
        for (char& c : path) {
            if (c == '/') c = '\\';
        }
        path = "Z:" + path;
    }
    return path;
}

ProcessResult RunProcess(const std::string& executable, const std::vector<std::string>& arguments,
                         const std::string& input) {
    static std::mutex spawnLock;  // the standard handles are process-wide
    std::lock_guard<std::mutex> lock(spawnLock);
    ProcessFiles files(input);

    std::vector<std::string> words = {Quoted(executable)};
    for (const std::string& argument : arguments) words.push_back(Quoted(argument));
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    argv.push_back(nullptr);

    std::fflush(stdout);
    std::fflush(stderr);
    const int savedIn = _dup(0), savedOut = _dup(1), savedErr = _dup(2);
    const int inFd = _open(files.in.string().c_str(), _O_RDONLY | _O_BINARY);
    const int outFd = _open(files.out.string().c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY,
                            _S_IREAD | _S_IWRITE);
    const int errFd = _open(files.err.string().c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY,
                            _S_IREAD | _S_IWRITE);
    ProcessResult result;
    std::string spawnFailure;
    if (inFd >= 0 && outFd >= 0 && errFd >= 0) {
        _dup2(inFd, 0);
        _dup2(outFd, 1);
        _dup2(errFd, 2);
        // Under Wine a process start has failed now and then in full runs of
        // the suite (the C runtime called it EINVAL), before the child ran at
        // all. Nothing of the program under test ran then, so the start is
        // tried again, and the failed start is said in the test's output.
        intptr_t status = -1;
        int spawnError = 0;
        std::string retries;  // said once the test's own output is back
        for (int attempt = 1; attempt <= kSpawnAttempts; ++attempt) {
            status = _spawnv(_P_WAIT, executable.c_str(), argv.data());
            if (status != -1) break;
            spawnError = errno;
            const unsigned long systemError = GetLastError();
            retries += "[test] start " + std::to_string(attempt) + " of " + executable +
                       " failed: " + std::strerror(spawnError) + " (system error " +
                       std::to_string(systemError) + ")\n";
            Sleep(50);
        }
        _dup2(savedIn, 0);
        _dup2(savedOut, 1);
        _dup2(savedErr, 2);
        if (!retries.empty()) {
            std::fputs(retries.c_str(), stdout);
            std::fflush(stdout);
        }
        result.status = status < 0 ? -1 : static_cast<int>(status);
        if (status == -1)
            spawnFailure = "cannot start it: " + std::string(std::strerror(spawnError));
        if (status < -1)
            spawnFailure =
                "it ended with exception " + std::to_string(static_cast<unsigned>(status));
    } else {
        spawnFailure = "cannot open its standard input or output files";
    }
    for (int fd : {inFd, outFd, errFd, savedIn, savedOut, savedErr}) {
        if (fd >= 0) _close(fd);
    }
    result.out = ProcessFiles::Read(files.out);
    result.err = ProcessFiles::Read(files.err);
    if (!spawnFailure.empty()) result.err += "[test] " + executable + ": " + spawnFailure + "\n";
    return result;
}

}  // namespace farsend::testing
