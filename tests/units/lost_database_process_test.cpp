// A unit database lost under a running station, as processes: the SQLite
// file deleted or replaced mid-run, a PostgreSQL server whose processes are
// stopped, and signals while the database is waited for. No unit is
// programmed with a number the database did not issue, and no record goes
// anywhere but the database or the spool.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>

#include "cli/child_outputs.h"
#include "cli/posix/child_process.h"
#include "cli/process_files.h"
#include "cli/process_runner.h"
#include "sim/sample_firmware.h"
#include "support/temp_directory.h"
#include "units/spool.h"
#include "units/unit_database.h"

namespace farsend::units {
namespace {

namespace fs = std::filesystem;
using farsend::testing::JsonLines;
using farsend::testing::ProcessFiles;
using farsend::testing::ProcessResult;
using ::testing::HasSubstr;

constexpr auto kLimit = std::chrono::seconds(120);

std::size_t LineCount(const fs::path& path) {
    std::size_t lines = 0;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines += line.empty() ? 0 : 1;
    return lines;
}

class LostDatabase : public ::testing::Test {
protected:
    void SetUp() override {
        // 8 KB: a unit takes a fraction of a second on the real clock.
        sim::ImageRun run;
        run.address = 0x4000;
        for (int i = 0; i < 8192; ++i) run.data.push_back(static_cast<uint8_t>(i * 3 + (i >> 9)));
        ASSERT_TRUE(sim::WriteImageFile(Image(), {run}));
    }
    std::string Path(const std::string& name) const { return (temp_.path() / name).string(); }
    std::string Image() const { return Path("Farsend_15_bt.hex"); }

    // watch on the real clock, `targets` units one after another.
    std::vector<std::string> Watch(const std::string& db, int targets) const {
        return {"--simulate",
                "--sim-real-time",
                "--sim-baud=230400",
                "--sim-targets=" + std::to_string(targets),
                "watch",
                "--count",
                std::to_string(targets),
                Image(),
                "--quiet",
                "--report",
                Path("report.jsonl"),
                "--db",
                db};
    }

    testing::TempDirectory temp_;
};

// Deleted (rm of the file and its journal), or a copy of it from before the
// run put in its place: from then on the run writes nothing into whatever
// is at the path, and takes no number from it.
TEST_F(LostDatabase, AnSQLiteFileDeletedOrReplacedMidRunIsLost) {
    struct Case {
        const char* name;
        bool pool;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {"deleted", false, 0, "was deleted or moved away since this run opened it"},
        {"replaced", true, 9, "was replaced by another file since this run opened it"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string db = Path(std::string(c.name) + "/units.sqlite");
        const std::string backup = Path(std::string(c.name) + "-backup.sqlite");
        fs::remove(Path("report.jsonl"));
        const ProcessResult made =
            testing::RunFarsend({"serials", "init", "line", "--first", "1", "--db", db});
        ASSERT_EQ(made.status, 0) << made.err;
        fs::copy_file(db, backup);

        std::vector<std::string> words = Watch(db, 4);
        if (c.pool) words.insert(words.end(), {"--serial", "4100:4", "--serial-pool", "line"});
        testing::FarsendChild child(words, Path("out"), Path("err"));
        ASSERT_TRUE(child.Started());
        // One unit whole in the database, then the file goes.
        ASSERT_TRUE(child.WaitUntil(
            [&] {
                for (const UnitRow& row : UnitDatabase::Open(db)->ListUnits())
                    if (row.finish) return true;
                return false;
            },
            kLimit));
        // Restoring a backup replaces the journal too; the file itself is
        // swapped at once, never missing.
        for (const char* suffix : {"-wal", "-shm"}) fs::remove(db + suffix);
        if (c.pool) {
            fs::rename(backup, db);
        } else {
            fs::remove(db);
        }
        const testing::ChildEnd end = child.Wait(kLimit);
        const std::string err = ProcessFiles::Read(Path("err"));
        ASSERT_TRUE(end.exited) << err;
        EXPECT_EQ(end.status, c.status) << err;
        EXPECT_THAT(err, HasSubstr(c.message));

        // Every unit after the first has its record in the spool, none in
        // what is at the path now.
        const std::size_t reported = JsonLines(ProcessFiles::Read(Path("report.jsonl"))).size();
        EXPECT_EQ(LineCount(SpoolLocationFor(db)), reported - 1) << err;
        if (c.pool) {
            // A unit was refused for want of a number: at most the one in
            // hand was finished after the swap.
            EXPECT_LE(reported, 2u) << err;
            auto copy = UnitDatabase::Open(db);
            EXPECT_TRUE(copy->ListUnits().empty());
            EXPECT_EQ(copy->ListPools().at(0).next, 1);
            std::ifstream spool(SpoolLocationFor(db));
            for (std::string line; std::getline(spool, line);) {
                const std::optional<UnitRow> record = ParseSpoolLine(line);
                ASSERT_TRUE(record && record->serial) << line;
                EXPECT_EQ(*record->serial, 2);  // the unit in hand's, taken before the swap
            }
        } else {
            EXPECT_EQ(reported, 4u) << err;
            EXPECT_FALSE(fs::exists(db));  // not made again in this run
        }
    }
}

}  // namespace
}  // namespace farsend::units
