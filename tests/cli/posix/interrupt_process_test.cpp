// Ctrl+C ends watch cleanly: the unit in hand is finished and recorded, no
// further target is started, and the status says how the units went.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "cli/process_files.h"
#include "cli/process_runner.h"
#include "sim/sample_firmware.h"
#include "support/temp_directory.h"

namespace farsend::cli {
namespace {

using farsend::testing::ProcessFiles;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

TEST(InterruptProcess, WatchEndsCleanlyOnCtrlC) {
    farsend::testing::TempDirectory temp;
    ASSERT_TRUE(sim::WriteSampleSet(temp.path() / "fw"));
    const std::string report = (temp.path() / "units.jsonl").string();
    const std::string out = (temp.path() / "out").string();
    const std::string err = (temp.path() / "err").string();

    std::vector<std::string> words = {farsend::testing::FarsendExecutable(),
                                      "--simulate",
                                      "--sim-targets=100000",
                                      "watch",
                                      "--quiet",
                                      "--dir",
                                      (temp.path() / "fw").string(),
                                      "--report",
                                      report};
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(outFd, 1);
        ::dup2(errFd, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }

    // Wait (in real time: this is about a real signal) until a unit is
    // recorded, then interrupt.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (Lines(ProcessFiles::Read(report)).empty() && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);

    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    // Stopped before its end: a status of its own, not a complete run's 0.
    EXPECT_EQ(WEXITSTATUS(status), 1) << ProcessFiles::Read(err);
    const std::vector<std::string> units = Lines(ProcessFiles::Read(report));
    const std::vector<std::string> results = Lines(ProcessFiles::Read(out));
    ASSERT_GE(units.size(), 1u);
    EXPECT_EQ(units.size(), results.size());
    for (const std::string& line : units) {
        EXPECT_EQ(nlohmann::json::parse(line)["result"], "success");
    }
    EXPECT_THAT(ProcessFiles::Read(err),
                ::testing::HasSubstr("finishing this target, then stopping"));
}

}  // namespace
}  // namespace farsend::cli
