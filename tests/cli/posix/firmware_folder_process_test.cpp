// farsend started inside the firmware folder: the default folder is its
// parent, so nothing is found there; the message must say where it looked
// and how to use the current folder instead.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/process_runner.h"
#include "sim/sample_firmware.h"
#include "support/temp_directory.h"

namespace farsend::cli {
namespace {

using farsend::testing::FarsendExecutable;
using farsend::testing::ProcessResult;
using farsend::testing::RunProcess;
using ::testing::HasSubstr;

ProcessResult RunIn(const std::string& folder, const std::string& command) {
    return RunProcess("/bin/sh", {"-c", "cd \"$1\" && exec \"$2\" " + command, "sh", folder,
                                  FarsendExecutable()});
}

TEST(FirmwareFolder, ProgramInsideItSaysWhereItLookedAndOffersTheCurrentFolder) {
    farsend::testing::TempDirectory temp;
    // Every folder the runs look in is the test's own: the system's
    // temporary folder may hold another program's firmware files.
    const auto line = temp.MakeDirectory("line");
    const auto firmware = line / "firmware";
    const auto elsewhere = line / "elsewhere";
    std::filesystem::create_directories(firmware);
    std::filesystem::create_directories(elsewhere);
    ASSERT_TRUE(sim::WriteSampleSet(firmware));

    for (const char* command : {"--simulate program --db units.sqlite", "select"}) {
        const ProcessResult run = RunIn(firmware.string(), command);
        EXPECT_EQ(run.status, 3) << command << "\n" << run.err;
        EXPECT_THAT(run.err, HasSubstr("Looked in " + line.string())) << command;
        EXPECT_THAT(run.err, HasSubstr("the parent of the current folder")) << command;
        EXPECT_THAT(run.err, HasSubstr("--dir . chooses from them")) << command;
    }

    // Told where the files are, it finds them; elsewhere it offers no --dir .
    ProcessResult run = RunIn(firmware.string(), "--simulate program --dir . --db units.sqlite");
    EXPECT_EQ(run.status, 0) << run.err;
    run = RunIn(elsewhere.string(), "select");
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_THAT(run.err, ::testing::Not(HasSubstr("--dir . chooses")));
}

}  // namespace
}  // namespace farsend::cli
