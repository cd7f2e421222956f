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
#include "units/own_pg_server.h"
#include "units/soci.h"
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
        fs::create_directories(Path(c.name));
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

// Whether the process catches SIGTERM yet: from then on a signal asks it to
// stop instead of killing it, and what the test does next is what it meets.
bool CatchesSigterm(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("SigCgt:", 0) == 0) {
            const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
            return (mask >> (SIGTERM - 1)) & 1u;
        }
    }
    return false;
}

// A signal while the database is waited for (another process holds its
// write lock) ends the start with status 1; the spool, waiting to be
// replayed, stays whole for the next start.
TEST_F(LostDatabase, ASignalWhileTheDatabaseIsWaitedForEndsTheStartCleanly) {
    const std::string db = Path("units.sqlite");
    UnitDatabase::Open(db);
    const fs::path spool = SpoolLocationFor(db);
    {
        std::ofstream out(spool);
        for (int i = 0; i < 2000; ++i) {
            UnitRow row;
            row.recordId = "r" + std::to_string(i);
            row.start.station = "line-3";
            out << SpoolLine(row) << "\n";
        }
    }
    soci::session holder(soci::sqlite3, "db=\"" + db + "\"");
    holder << "BEGIN IMMEDIATE";
    testing::FarsendChild child({"--simulate", "program", Image(), "--quiet", "--db", db},
                                Path("out"), Path("err"));
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(child.WaitUntil([&] { return CatchesSigterm(child.Pid()); }, kLimit));
    child.Signal(SIGTERM);
    holder << "ROLLBACK";
    const testing::ChildEnd end = child.Wait(kLimit);
    const std::string err = ProcessFiles::Read(Path("err"));
    ASSERT_TRUE(end.exited) << "signal " << end.signal << "\n" << err;
    EXPECT_EQ(end.status, 1) << err;
    EXPECT_THAT(err, HasSubstr("Nothing was sent"));
    EXPECT_EQ(LineCount(spool) + UnitDatabase::Open(db)->ListUnits().size(), 2000u);

    // The next start says what it replays and how far it has got.
    const ProcessResult listed = testing::RunFarsend({"units", "--db", db, "--json"});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_THAT(listed.err, HasSubstr("replaying 2000 records from the spool"));
    EXPECT_THAT(listed.err, HasSubstr("2000 of 2000 replayed"));
    EXPECT_EQ(UnitDatabase::Open(db)->ListUnits().size(), 2000u);
}

// The time-outs are short here (FARSEND_DB_TIMEOUT); the client library
// waits at least 2 s for a connection.
class ShortTimeout {
public:
    explicit ShortTimeout(const char* seconds) { ::setenv("FARSEND_DB_TIMEOUT", seconds, 1); }
    ~ShortTimeout() { ::unsetenv("FARSEND_DB_TIMEOUT"); }
};

TEST_F(LostDatabase, AStoppedServerIsALostDatabasePostgreSQL) {
    // A server whose processes are stopped (SIGSTOP) as a hung host's would
    // be: its socket takes connections, nothing answers them.
    testing::OwnPgServer server("pgf");
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    const std::string url = server.Url();
    ASSERT_EQ(testing::RunFarsend({"serials", "init", "line", "--first", "1", "--db", url}).status,
              0);

    // At the start: status 9 and why, instead of a wait for ever; a signal
    // meanwhile ends it with 1.
    ASSERT_TRUE(server.Script("freeze"));
    {
        const ShortTimeout timeout("1");
        const std::vector<std::string> program = {"--simulate", "program", Image(),
                                                  "--quiet",    "--db",    url};
        testing::FarsendChild refused(program, Path("out"), Path("err"));
        const testing::ChildEnd end = refused.Wait(std::chrono::seconds(30));
        const std::string err = ProcessFiles::Read(Path("err"));
        ASSERT_TRUE(end.exited) << err;
        EXPECT_EQ(end.status, 9) << err;
        EXPECT_THAT(err, HasSubstr("cannot open the unit database"));

        testing::FarsendChild stopped(program, Path("out"), Path("err"));
        ASSERT_TRUE(stopped.WaitUntil([&] { return CatchesSigterm(stopped.Pid()); }, kLimit));
        stopped.Signal(SIGTERM);
        const testing::ChildEnd ended = stopped.Wait(std::chrono::seconds(30));
        ASSERT_TRUE(ended.exited) << "signal " << ended.signal;
        EXPECT_EQ(ended.status, 1) << ProcessFiles::Read(Path("err"));
    }
    ASSERT_TRUE(server.Script("thaw"));

    // Mid-run, with a time-out longer than the test: two signals end the
    // wait, and the unit in hand is kept in the spool, then written in.
    const ShortTimeout timeout("600");
    testing::FarsendChild child(Watch(url, 50), Path("out"), Path("err"));
    ASSERT_TRUE(
        child.WaitUntil([&] { return !ProcessFiles::Read(Path("report.jsonl")).empty(); }, kLimit));
    ASSERT_TRUE(server.Script("freeze"));
    child.Signal(SIGTERM);
    ASSERT_TRUE(child.WaitUntil(
        [&] {
            return ProcessFiles::Read(Path("err")).find("finishing this target") !=
                   std::string::npos;
        },
        kLimit));
    child.Signal(SIGTERM);
    const testing::ChildEnd end = child.Wait(std::chrono::seconds(30));
    const std::string err = ProcessFiles::Read(Path("err"));
    ASSERT_TRUE(server.Script("thaw"));
    ASSERT_TRUE(end.exited) << "signal " << end.signal << "\n" << err;
    EXPECT_EQ(end.status, 1) << err;
    const std::vector<nlohmann::json> reported =
        JsonLines(ProcessFiles::Read(Path("report.jsonl")));
    const ProcessResult listed = testing::RunFarsend({"units", "--db", url});
    ASSERT_EQ(listed.status, 0) << listed.err;
    const std::vector<UnitRow> rows = UnitDatabase::Open(url)->ListUnits();
    ASSERT_EQ(rows.size(), reported.size()) << err << listed.err;
    for (const UnitRow& row : rows) EXPECT_TRUE(row.finish) << row.recordId;
}

}  // namespace
}  // namespace farsend::units
