// farsend-samples as a process: --help, and an option never taken for the
// folder to write into (it once filled a folder named --help).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/process_runner.h"
#include "support/temp_directory.h"

namespace farsend::cli {
namespace {

using farsend::testing::FarsendExecutable;
using farsend::testing::ProcessResult;
using farsend::testing::RunProcess;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

// farsend-samples WORDS, run inside `folder`.
ProcessResult RunSamplesIn(const fs::path& folder, const std::string& words) {
    const std::string samples = (fs::path(FarsendExecutable()).parent_path() / "farsend-samples");
    return RunProcess("/bin/sh",
                      {"-c", "cd \"$1\" && exec \"$2\" " + words, "sh", folder.string(), samples});
}

TEST(SamplesProcess, HelpAndOptionsWriteNothing) {
    farsend::testing::TempDirectory temp;
    struct Case {
        const char* words;
        int status;
        const char* says;  // on standard error, or for --help on standard output
    };
    const Case cases[] = {
        {"--help", 0, "Usage: farsend-samples DIR"},
        {"-h", 0, "Usage: farsend-samples DIR"},
        {"--dir", 2, "unknown option --dir"},
        {"-x", 2, "unknown option -x"},
        {"", 2, "name one folder"},
        {"one two", 2, "name one folder"},
    };
    for (const Case& c : cases) {
        const ProcessResult run = RunSamplesIn(temp.path(), c.words);
        EXPECT_EQ(run.status, c.status) << c.words;
        EXPECT_THAT(c.status == 0 ? run.out : run.err, HasSubstr(c.says)) << c.words;
        EXPECT_TRUE(fs::is_empty(temp.path())) << c.words << ": it wrote something";
    }

    // A folder whose name starts with - is still possible, as ./-name.
    const ProcessResult run = RunSamplesIn(temp.path(), "./--odd");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::exists(temp.path() / "--odd" / "Farsend_15_bt.hex"));
}

}  // namespace
}  // namespace farsend::cli
