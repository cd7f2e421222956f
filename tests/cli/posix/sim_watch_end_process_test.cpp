// A simulated watch whose targets are all done has nothing left that can
// ever call: it ends, saying why, instead of handshaking for ever in
// simulated time. Run with a limit, so that a watch that goes on fails here.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "cli/posix/child_process.h"
#include "cli/process_files.h"
#include "cli/small_image.h"
#include "support/temp_directory.h"

namespace farsend::cli {
namespace {

using farsend::testing::ChildEnd;
using farsend::testing::FarsendChild;
using farsend::testing::ProcessFiles;
using ::testing::HasSubstr;

TEST(SimWatchEndProcess, EndsWhenNoSimulatedTargetCanCall) {
    farsend::testing::TempDirectory temp;
    ASSERT_TRUE(farsend::testing::WriteSmallImage(temp.path() / "Farsend_15_bt.hex"));
    const std::string out = (temp.path() / "out").string();
    const std::string err = (temp.path() / "err").string();
    struct Case {
        std::string targets;
        int status;
        std::string says;
        std::size_t units;
    };
    const Case cases[] = {
        {"--sim-targets=1", 0, "the simulation has no more targets: watch ends after 1 unit.", 1},
        {"--sim-targets=3", 0, "watch ends after 3 units.", 3},
        {"--sim-targets=0", 5, "no simulated target can call", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.targets);
        FarsendChild child(
            {"--simulate", c.targets, "--quiet", "watch", "--dir", temp.path().string()}, out, err);
        ASSERT_TRUE(child.Started());
        const ChildEnd end = child.Wait(std::chrono::seconds(120));
        ASSERT_FALSE(end.overran) << "the watch went on with no target left";
        ASSERT_TRUE(end.exited) << "signal " << end.signal;
        EXPECT_EQ(end.status, c.status) << ProcessFiles::Read(err);
        EXPECT_THAT(ProcessFiles::Read(err), HasSubstr(c.says));
        const std::string results = ProcessFiles::Read(out);
        EXPECT_EQ(static_cast<std::size_t>(std::count(results.begin(), results.end(), '\n')),
                  c.units);
    }
}

}  // namespace
}  // namespace farsend::cli
