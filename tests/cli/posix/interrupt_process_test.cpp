// Ctrl+C, SIGTERM and SIGHUP end a run cleanly: the first one is answered at
// once on standard error, the unit in hand is finished and recorded, no
// further target is started, and the status says how the run went.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/posix/child_process.h"
#include "cli/process_files.h"
#include "cli/small_image.h"
#include "protocol/image_reader.h"
#include "sim/sample_firmware.h"
#include "support/temp_directory.h"

namespace farsend::cli {
namespace {

using farsend::testing::ChildEnd;
using farsend::testing::FarsendChild;
using farsend::testing::ProcessFiles;
using ::testing::HasSubstr;
using Json = nlohmann::json;

constexpr auto kLimit = std::chrono::seconds(120);

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

class InterruptProcess : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(farsend::testing::WriteSmallImage(small_));
        // Big enough that a quarter of it leaves the rest of the run, in real
        // time, far longer than the test needs to send its signal.
        sim::ImageRun run;
        run.address = 0x4000;
        run.data.resize(128 * 1024);
        for (size_t i = 0; i < run.data.size(); ++i)
            run.data[i] = static_cast<uint8_t>(i * 7 + i / 256);
        ASSERT_TRUE(sim::WriteImageFile(big_, {run}));
    }

    std::string Path(const char* name) const { return (temp_.path() / name).string(); }

    farsend::testing::TempDirectory temp_;
    const std::string big_ = Path("Farsend_15_bt.hex");
    const std::string small_ = Path("Farsend_15_bt_small.hex");
    const std::string report_ = Path("units.jsonl");
    const std::string out_ = Path("out");
    const std::string err_ = Path("err");
};

TEST_F(InterruptProcess, EverySignalFinishesTheTargetInHandAndRecordsIt) {
    const auto plan = protocol::PlanProgrammingFile(big_);
    ASSERT_TRUE(plan && !plan->error);
    const std::vector<std::string> program = {"--simulate", "program", big_, "--report", report_};
    const std::vector<std::string> watch = {
        "--simulate", "--sim-targets=100000", "watch", small_, "--quiet", "--report", report_};
    struct Case {
        const char* what;
        int signal;
        std::vector<std::string> words;
        bool watch;
    };
    const Case cases[] = {
        {"SIGINT during program", SIGINT, program, false},
        {"SIGTERM during program", SIGTERM, program, false},
        {"SIGHUP during program", SIGHUP, program, false},
        {"SIGINT during watch", SIGINT, watch, true},
        {"SIGTERM during watch", SIGTERM, watch, true},
        {"SIGHUP during watch", SIGHUP, watch, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Left over from the case before, they would pass for this child's
        // before it has even started.
        for (const std::string& file : {report_, out_, err_}) std::filesystem::remove(file);
        FarsendChild child(c.words, out_, err_);
        ASSERT_TRUE(child.Started());
        // program: in the middle of sending the blocks; watch: once a unit
        // is recorded, with the next one under way or about to be.
        const bool ready = child.WaitUntil(
            [&] {
                return c.watch ? !Lines(ProcessFiles::Read(report_)).empty()
                               : ProcessFiles::Read(err_).find("program: 25%") != std::string::npos;
            },
            kLimit);
        ASSERT_TRUE(ready) << ProcessFiles::Read(err_);
        child.Signal(c.signal);
        const ChildEnd end = child.Wait(kLimit);

        const std::string err = ProcessFiles::Read(err_);
        ASSERT_TRUE(end.exited) << "ended by signal " << end.signal << "\n" << err;
        EXPECT_THAT(err, HasSubstr("finishing this target, then stopping"));
        const std::vector<std::string> units = Lines(ProcessFiles::Read(report_));
        const std::vector<std::string> results = Lines(ProcessFiles::Read(out_));
        ASSERT_GE(units.size(), 1u);
        EXPECT_EQ(units.size(), results.size());
        for (const std::string& line : units) {
            EXPECT_EQ(Json::parse(line)["result"], "success") << line;
        }
        if (c.watch) {
            // Stopped before its end: a status of its own, not a complete run's 0.
            EXPECT_EQ(end.status, 1) << err;
        } else {
            // The one target asked for was finished, whole: the run did all it
            // was asked to do.
            EXPECT_EQ(end.status, 0) << err;
            ASSERT_EQ(units.size(), 1u);
            EXPECT_EQ(Json::parse(units[0])["blocks"], plan->blocks.size());
        }
    }
}

}  // namespace
}  // namespace farsend::cli
