// The files a line depends on, as processes: a database this user may only
// read is still listed; reports, flash files and the database's folder are
// not made writable by others under `umask 000`; a report that is a FIFO
// sees one stream from the first unit to the last.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "cli/child_outputs.h"
#include "cli/posix/child_process.h"
#include "cli/process_files.h"
#include "cli/process_runner.h"
#include "sim/sample_firmware.h"
#include "support/temp_directory.h"

namespace farsend::units {
namespace {

namespace fs = std::filesystem;
using farsend::testing::JsonLines;
using farsend::testing::ProcessFiles;
using farsend::testing::ProcessResult;
using ::testing::HasSubstr;

class LineFiles : public ::testing::Test {
protected:
    void SetUp() override {
        sim::ImageRun run;
        run.address = 0x4000;
        run.data.assign(4096, 0x5a);
        ASSERT_TRUE(sim::WriteImageFile(Image(), {run}));
        // Another user must reach the files below.
        fs::permissions(temp_.path(), fs::perms(0755));
    }
    std::string Path(const std::string& name) const { return (temp_.path() / name).string(); }
    std::string Image() const { return Path("Farsend_15_bt.hex"); }

    testing::TempDirectory temp_;
};

// As a user the file's modes hold for: root reads and writes anything. That
// user runs a copy of farsend in `folder`, since the build may lie where only
// root can enter (a checkout in root's own home).
ProcessResult AsAnotherUser(const fs::path& folder, const std::vector<std::string>& words) {
    if (::geteuid() != 0) return testing::RunFarsend(words);
    const fs::path copy = folder / "farsend";
    if (!fs::exists(copy)) {
        fs::create_directories(folder);
        fs::copy_file(testing::FarsendExecutable(), copy);
        fs::permissions(folder, fs::perms(0755));
        fs::permissions(copy, fs::perms(0755));
    }
    std::vector<std::string> all = {"-u", "nobody", "--", copy.string()};
    all.insert(all.end(), words.begin(), words.end());
    return testing::RunProcess("/usr/sbin/runuser", all);
}

TEST_F(LineFiles, ADatabaseThatMayOnlyBeReadIsListed) {
    const std::string folder = Path("db");
    const std::string db = folder + "/units.sqlite";
    fs::create_directories(folder);
    ASSERT_EQ(testing::RunFarsend({"serials", "init", "line", "--first", "7", "--db", db}).status,
              0);
    const ProcessResult programmed =
        testing::RunFarsend({"--simulate", "program", Image(), "--quiet", "--serial", "4100:4",
                             "--serial-pool", "line", "--db", db});
    ASSERT_EQ(programmed.status, 0) << programmed.err;
    fs::permissions(db, fs::perms(0444));
    fs::permissions(folder, fs::perms(0555));

    const ProcessResult units = AsAnotherUser(Path("bin"), {"units", "--db", db, "--json"});
    EXPECT_EQ(units.status, 0) << units.err;
    const std::vector<nlohmann::json> listed = JsonLines(units.out);
    ASSERT_EQ(listed.size(), 1u) << units.out << units.err;
    ASSERT_EQ(listed[0]["units"].size(), 1u);
    EXPECT_EQ(listed[0]["units"][0]["serial"], 7);

    const ProcessResult serials = AsAnotherUser(Path("bin"), {"serials", "--db", db, "--json"});
    EXPECT_EQ(serials.status, 0) << serials.err;
    EXPECT_THAT(serials.out, HasSubstr("\"next\":8"));
    // Nothing was made beside it, and writing is still refused.
    EXPECT_EQ(
        AsAnotherUser(Path("bin"), {"serials", "init", "other", "--first", "1", "--db", db}).status,
        9);
    fs::permissions(folder, fs::perms(0755));
}

TEST_F(LineFiles, RecordsAreNotWritableByOthersUnderAnOpenUmask) {
    // The default database, whose folders farsend makes (a --db path's
    // folder must exist).
    const mode_t saved = ::umask(0);
    const ProcessResult run = testing::RunProcess(
        "/usr/bin/env", {"XDG_DATA_HOME=" + Path("new/folder"), testing::FarsendExecutable(),
                         "--simulate", "--sim-flash-out=" + Path("unit.hex"), "program", Image(),
                         "--quiet", "--report", Path("report.jsonl")});
    ::umask(saved);
    ASSERT_EQ(run.status, 0) << run.err;
    for (const std::string& made :
         {Path("report.jsonl"), Path("unit.hex"), Path("new"), Path("new/folder"),
          Path("new/folder/farsend"), Path("new/folder/farsend/sim-units.sqlite")}) {
        struct stat status {};
        ASSERT_EQ(::stat(made.c_str(), &status), 0) << made;
        EXPECT_EQ(status.st_mode & (S_IWGRP | S_IWOTH), 0u) << made;
    }
}

TEST_F(LineFiles, AReportThatIsAFifoSeesOneStream) {
    const std::string fifo = Path("report.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string read;
    std::thread reader([&] {
        const int fd = ::open(fifo.c_str(), O_RDONLY);
        char buffer[4096];
        for (ssize_t got; fd >= 0 && (got = ::read(fd, buffer, sizeof buffer)) > 0;)
            read.append(buffer, static_cast<size_t>(got));
        if (fd >= 0) ::close(fd);
    });
    testing::FarsendChild child({"--simulate", "--sim-targets=3", "watch", "--count", "3", Image(),
                                 "--quiet", "--report", fifo, "--db", Path("units.sqlite")},
                                Path("out"), Path("err"));
    const testing::ChildEnd end = child.Wait(std::chrono::seconds(60));
    // A reader left waiting for a writer is let go.
    const int unblock = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (unblock >= 0) ::close(unblock);
    reader.join();
    ASSERT_TRUE(end.exited) << ProcessFiles::Read(Path("err"));
    EXPECT_EQ(end.status, 0) << ProcessFiles::Read(Path("err"));
    EXPECT_EQ(JsonLines(read).size(), 3u) << read;
}

}  // namespace
}  // namespace farsend::units
