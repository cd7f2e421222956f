// Standard output or error on a pipe whose reader has gone away: the run is
// not killed; every unit in hand is finished, recorded and reported, its
// outcome told on whichever stream still works, and the run ends with
// status 8 (lost output).
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli/child_outputs.h"
#include "cli/process_files.h"
#include "cli/process_runner.h"
#include "sim/sample_firmware.h"
#include "support/temp_directory.h"
#include "units/unit_database.h"

namespace farsend::units {
namespace {

using farsend::testing::JsonLines;
using farsend::testing::ProcessFiles;
using ::testing::HasSubstr;

struct End {
    bool exited = false;
    int status = -1;
    int signal = 0;
};

// farsend with `brokenFd` (1 or 2) on a pipe whose read end is closed before
// it starts, the other stream into `otherPath`. Waits for its end.
End RunWithBrokenPipe(const std::vector<std::string>& arguments, int brokenFd,
                      const std::string& otherPath) {
    std::vector<std::string> words = {farsend::testing::FarsendExecutable()};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    int fds[2];
    if (::pipe(fds) != 0) return {};
    ::close(fds[0]);  // the reader is gone
    const pid_t child = ::fork();
    if (child == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int other = ::open(otherPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || other < 0) ::_exit(127);
        ::dup2(in, 0);
        ::dup2(fds[1], brokenFd);
        ::dup2(other, brokenFd == 1 ? 2 : 1);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    End end;
    int raw = 0;
    if (child < 0 || ::waitpid(child, &raw, 0) != child) return end;
    end.exited = WIFEXITED(raw);
    if (end.exited) end.status = WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) end.signal = WTERMSIG(raw);
    return end;
}

TEST(BrokenPipeProcess, AReaderThatGoesAwayLosesOutputNotUnits) {
    farsend::testing::TempDirectory temp;
    auto path = [&](const std::string& name) { return (temp.path() / name).string(); };
    const std::string image = path("Farsend_15_bt.hex");
    ASSERT_TRUE(sim::WriteImageFile(image, {{0x4000, std::vector<uint8_t>(512, 0x3C)}}));
    struct Case {
        const char* name;
        std::vector<std::string> words;  // before the common ones
        int brokenFd;
        std::size_t units;
        const char* told;  // on the stream that still works
    };
    const Case cases[] = {
        {"program, output gone",
         {"--simulate", "--quiet", "program"},
         1,
         1,
         "the result was: serial 1: programmed Farsend_15_bt.hex"},
        {"watch --json on three stations, output gone",
         {"--simulate", "--quiet", "--sim-bridges=3", "watch", "--all", "--json"},
         1,
         3,
         "the result was: {"},
        // Its progress is the first thing lost.
        {"program, messages gone", {"--simulate", "program"}, 2, 1, "serial 1: programmed"},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string db = path("units-" + std::to_string(++index) + ".sqlite");
        const std::string report = path("report-" + std::to_string(index) + ".jsonl");
        const farsend::testing::ProcessResult made =
            farsend::testing::RunFarsend({"serials", "init", "p", "--first", "1", "--db", db});
        ASSERT_EQ(made.status, 0) << made.err;
        std::vector<std::string> words = c.words;
        words.insert(words.end(), {image, "--report", report, "--serial", "4010:4", "--serial-pool",
                                   "p", "--db", db});
        const End end = RunWithBrokenPipe(words, c.brokenFd, path("other"));
        const std::string other = ProcessFiles::Read(path("other"));
        ASSERT_TRUE(end.exited) << "signal " << end.signal << "\n" << other;
        EXPECT_EQ(end.status, 8) << other;
        EXPECT_THAT(other, HasSubstr(c.told));

        // Every unit is finished in the database and in the report.
        EXPECT_EQ(JsonLines(ProcessFiles::Read(report)).size(), c.units);
        const std::vector<UnitRow> rows = UnitDatabase::Open(db)->ListUnits();
        ASSERT_EQ(rows.size(), c.units);
        for (const UnitRow& row : rows) {
            ASSERT_TRUE(row.finish) << "unit " << row.id << " left unfinished";
            EXPECT_EQ(row.finish->result, UnitResult::Programmed);
        }
    }
}

}  // namespace
}  // namespace farsend::units
