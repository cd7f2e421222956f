// A record or a result that cannot be written (a full disk: /dev/full) must
// not pass for a run that delivered it: status 8, with the unit's outcome
// told on standard error instead.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

constexpr auto kLimit = std::chrono::seconds(120);

TEST(LostOutputProcess, ARecordOrResultThatCannotBeWrittenIsStatusEight) {
    farsend::testing::TempDirectory temp;
    ASSERT_TRUE(farsend::testing::WriteSmallImage(temp.path() / "Farsend_15_bt.hex"));
    const std::string image = (temp.path() / "Farsend_15_bt.hex").string();
    const std::string file = (temp.path() / "out").string();
    const std::string err = (temp.path() / "err").string();
    struct Case {
        std::vector<std::string> words;
        std::string out;   // where standard output goes
        std::string says;  // on standard error: the outcome that was lost
    };
    const Case cases[] = {
        {{"--simulate", "--quiet", "program", image, "--report", "/dev/full"},
         file,
         "This unit is not recorded: programmed Farsend_15_bt.hex"},
        {{"--simulate", "--sim-targets=2", "--quiet", "watch", "--count=2", image, "--report",
          "/dev/full"},
         file,
         "This unit is not recorded: unit 2: programmed Farsend_15_bt.hex"},
        {{"--simulate", "--quiet", "program", image},
         "/dev/full",
         "the result was: programmed Farsend_15_bt.hex"},
        {{"--simulate", "--quiet", "program", image, "--json"},
         "/dev/full",
         "\"result\":\"success\""},
        {{"--simulate", "identify"}, "/dev/full", "the result was: variant: Bluetooth"},
        {{"inspect", image}, "/dev/full", "standard output cannot be written"},
        {{"select", "--dir", temp.path().string()},
         "/dev/full",
         "standard output cannot be written"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.words) + " > " + c.out);
        FarsendChild child(c.words, c.out, err);
        ASSERT_TRUE(child.Started());
        const ChildEnd end = child.Wait(kLimit);
        ASSERT_TRUE(end.exited) << "signal " << end.signal << (end.overran ? ", overran" : "");
        EXPECT_EQ(end.status, 8) << ProcessFiles::Read(err);
        EXPECT_THAT(ProcessFiles::Read(err), HasSubstr(c.says));
    }
}

}  // namespace
}  // namespace farsend::cli
