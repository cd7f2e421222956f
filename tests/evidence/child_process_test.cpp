#include "evidence/child_process.h"

#include <gtest/gtest.h>

#include <csignal>

#include "support/temp_directory.h"

namespace farsend::evidence {
namespace {

ChildResult Shell(const std::string& script, std::chrono::milliseconds limit,
                  const testing::TempDirectory& dir) {
    return RunChild("/bin/sh", {"-c", script}, dir.path().string(), limit);
}

TEST(RunChild, ReportsHowTheChildEndedAndWhatItWrote) {
    testing::TempDirectory dir;
    const ChildResult exited =
        Shell("echo out; echo err >&2; exit 6", std::chrono::seconds(30), dir);
    EXPECT_EQ(exited.end, ChildEnd::Exited);
    EXPECT_EQ(exited.exitStatus, 6);
    EXPECT_EQ(exited.out, "out\n");
    EXPECT_EQ(exited.err, "err\n");
    EXPECT_GT(exited.maxResidentKb, 0);

    const ChildResult crashed = Shell("kill -SEGV $$", std::chrono::seconds(30), dir);
    EXPECT_EQ(crashed.end, ChildEnd::Signalled);
    EXPECT_EQ(crashed.signal, SIGSEGV);

    const ChildResult missing = RunChild(dir.path().string() + "/no-such-program", {},
                                         dir.path().string(), std::chrono::seconds(30));
    EXPECT_EQ(missing.end, ChildEnd::NotStarted);
}

TEST(RunChild, KillsAChildThatOutlivesItsLimit) {
    testing::TempDirectory dir;
    const ChildResult hung = Shell("exec sleep 60", std::chrono::milliseconds(100), dir);
    EXPECT_EQ(hung.end, ChildEnd::TimedOut);
    EXPECT_LT(hung.wallSeconds, 30.0);
}

TEST(RunChild, RunsInTheGivenDirectory) {
    testing::TempDirectory dir;
    const ChildResult child = Shell("echo here > marker.txt", std::chrono::seconds(30), dir);
    EXPECT_EQ(child.exitStatus, 0);
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "marker.txt"));
}

}  // namespace
}  // namespace farsend::evidence
