// Starts a program with its standard streams on the paths given, for the
// process tests. The caller prepares argv before calling: between fork and
// exec the child makes only async-signal-safe calls.
#pragma once

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace farsend::testing {

// program and watch record every unit in the default database under
// $XDG_DATA_HOME: the children of a test run keep theirs in a folder of the
// run's own, never in the home of whoever runs the tests. A test that wants
// another place sets the variable itself, or passes --db.
inline void KeepUnitRecordsOutOfHome() {
    static std::string folder;
    static const bool done = [] {
        folder = (std::filesystem::temp_directory_path() / "farsend-test-data-XXXXXX").string();
        if (::mkdtemp(folder.data()) == nullptr) return false;
        ::setenv("XDG_DATA_HOME", folder.c_str(), 1);
        // The test binary's children have ended by the time it exits.
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        });
        return true;
    }();
    (void)done;
}

// The child's pid, or -1 when fork failed. A child that cannot open a stream
// or exec ends with status 127.
inline pid_t SpawnRedirected(char* const argv[], const char* in, const char* out, const char* err) {
    KeepUnitRecordsOutOfHome();
    const pid_t child = ::fork();
    if (child == 0) {
        const int inFd = ::open(in, O_RDONLY);
        const int outFd = ::open(out, O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int errFd = ::open(err, O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (inFd < 0 || outFd < 0 || errFd < 0) ::_exit(127);
        ::dup2(inFd, 0);
        ::dup2(outFd, 1);
        ::dup2(errFd, 2);
        ::execv(argv[0], argv);
        ::_exit(127);
    }
    return child;
}

}  // namespace farsend::testing
