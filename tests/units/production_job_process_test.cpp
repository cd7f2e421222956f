// Production jobs run as farsend processes against the simulator and real
// databases: a job changed in any way after signing, or signed by a key the
// line does not trust, is refused before anything is sent; a signed job on
// four stations records every unit under it; and two processes on one
// PostgreSQL server never pass the job's unit limit together.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>

#include "cli/child_outputs.h"
#include "cli/process_files.h"
#include "cli/process_runner.h"
#include "database_fixture.h"
#include "sim/sample_firmware.h"
#include "production/encoding.h"
#include "support/scoped_environment.h"
#include "support/temp_directory.h"
#include "units/job_tables.h"
#include "units/unit_database.h"

// After the database's headers: on Windows it brings <windows.h>, which
// defines a macro named Yield.
#ifdef _WIN32
#include "cli/win/child_process.h"
#else
#include "cli/posix/child_process.h"
#endif

namespace farsend::units {
namespace {

using farsend::testing::JsonLines;
using farsend::testing::ProcessFiles;
using farsend::testing::ProcessResult;
using ::testing::HasSubstr;
using Json = nlohmann::json;

constexpr int kJobRefused = 11;
constexpr int kDatabaseUnavailable = 9;
constexpr const char* kImage = "Farsend_15_bt.hex";

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// The file's SHA-256: as coreutils computes it on Linux, a check from
// outside farsend; libsodium's under Wine, which has no coreutils.
std::string Sha256Sum(const std::string& path) {
#ifdef _WIN32
    return production::Sha256Hex(ReadText(path));
#else
    const ProcessResult sum = testing::RunProcess("/usr/bin/sha256sum", {path});
    EXPECT_EQ(sum.status, 0) << sum.err;
    return sum.out.substr(0, 64);
#endif
}

class ProductionJobProcess : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim::WriteSampleSet(firmware_));
        for (const char* key : {"signer.key", "stranger.key"}) {
            const ProcessResult made = Run(temp_.path(), {"keys", "new", Path(key)});
            ASSERT_EQ(made.status, 0) << made.err;
        }
    }

    std::string Path(const std::string& name) const { return (temp_.path() / name).string(); }

    // farsend with its data folder in `home`: its default databases are there.
    ProcessResult Run(const std::filesystem::path& home, const std::vector<std::string>& words) {
        const testing::ScopedEnvironment dataHome({{testing::kDataHomeVariable, home.string()}});
        return testing::RunFarsend(words);
    }

    // A folder holding the image and a job for it (job new's `options`),
    // signed with `key` unless it is empty.
    std::filesystem::path JobFolder(const std::string& name,
                                    const std::vector<std::string>& options,
                                    const std::string& key = "signer.key") {
        const std::filesystem::path folder = temp_.path() / name;
        std::filesystem::create_directories(folder / "data");
        std::filesystem::copy_file(firmware_ / kImage, folder / kImage);
        std::vector<std::string> words = {"job", "new"};
        words.insert(words.end(), options.begin(), options.end());
        words.insert(words.end(), {"board-v2", (folder / kImage).string()});
        const ProcessResult made = Run(folder / "data", words);
        EXPECT_EQ(made.status, 0) << made.err;
        WriteText(folder / "line.job", made.out);
        if (!key.empty()) Sign(folder, key);
        return folder;
    }

    void Sign(const std::filesystem::path& folder, const std::string& key) {
        const ProcessResult run = Run(
            folder / "data", {"job", "sign", "--key", Path(key), (folder / "line.job").string()});
        EXPECT_EQ(run.status, 0) << run.err;
    }

    void Trust(const std::filesystem::path& home, const std::string& key,
               const std::vector<std::string>& where = {"--simulate"}) {
        std::vector<std::string> words = where;
        words.insert(words.end(), {"keys", "trust", Path(key) + ".pub"});
        const ProcessResult run = Run(home, words);
        EXPECT_EQ(run.status, 0) << run.err;
    }

    testing::TempDirectory temp_;
    std::filesystem::path firmware_ = temp_.path() / "firmware";
};

// Every row is refused before anything is sent: the simulated target's
// flash is never written, and no unit is recorded.
TEST_F(ProductionJobProcess, TamperedJobsAreRefusedBeforeAnythingIsSent) {
    using Folder = const std::filesystem::path&;
    const auto editJob = [](std::function<void(Json&)> change) {
        return [change](Folder folder) {
            Json job = Json::parse(ReadText(folder / "line.job"));
            change(job);
            WriteText(folder / "line.job", job.dump(2));
        };
    };
    struct Case {
        const char* name;
        std::vector<std::string> options;  // job new's
        std::function<void(Folder)> tamper;
        int status;
        const char* says;
    };
    const std::string otherSha = "0000000000000000000000000000000000000000000000000000000000000000";
    const Case cases[] = {
        {"one byte of the image",
         {},
         [](Folder folder) {
             std::string image = ReadText(folder / kImage);
             image[image.size() / 2] ^= 0x01;
             WriteText(folder / kImage, image);
         },
         kJobRefused,
         "differs from the job's SHA-256"},
        {"the image missing",
         {},
         [](Folder folder) { std::filesystem::remove(folder / kImage); },
         kJobRefused,
         "is not found"},
        {"name",
         {},
         editJob([](Json& j) { j["name"] = "board-v3"; }),
         kJobRefused,
         "does not hold"},
        {"note", {}, editJob([](Json& j) { j["note"] = "any"; }), kJobRefused, "does not hold"},
        {"image name",
         {},
         editJob([](Json& j) { j["image"]["name"] = "Farsend_20_bt.hex"; }),
         kJobRefused,
         "does not hold"},
        {"image sha256",
         {},
         editJob([&](Json& j) { j["image"]["sha256"] = otherSha; }),
         kJobRefused,
         "does not hold"},
        {"mode", {}, editJob([](Json& j) { j["mode"] = "factory"; }), kJobRefused, "does not hold"},
        {"validate",
         {},
         editJob([](Json& j) { j["validate"] = false; }),
         kJobRefused,
         "does not hold"},
        {"serial spec",
         {"--serial", "4010:4", "--serial-pool", "board"},
         editJob([](Json& j) { j["serial"]["spec"] = "0x00004020:4:le"; }),
         kJobRefused,
         "does not hold"},
        {"serial removed",
         {"--serial", "4010:4", "--serial-pool", "board"},
         editJob([](Json& j) { j["serial"] = nullptr; }),
         kJobRefused,
         "does not hold"},
        {"unit limit",
         {"--limit", "5"},
         editJob([](Json& j) { j["unit_limit"] = 500; }),
         kJobRefused,
         "does not hold"},
        {"unit limit removed",
         {"--limit", "5"},
         editJob([](Json& j) { j["unit_limit"] = nullptr; }),
         kJobRefused,
         "does not hold"},
        // Another database is another line's trust: one that cannot be
        // reached stops the run before its keys could be read.
        {"database",
         {},
         editJob([](Json& j) { j["database"] = "postgresql:///none?host=/nonexistent"; }),
         kDatabaseUnavailable,
         "cannot open the unit database"},
        {"truncated signature",
         {},
         editJob([](Json& j) {
             std::string signature = j["signature"]["ed25519"];
             j["signature"]["ed25519"] = signature.substr(0, signature.size() - 4);
         }),
         kJobRefused,
         "does not hold"},
        {"signed by an untrusted key",
         {},
         [this](Folder folder) { Sign(folder, "stranger.key"); },
         kJobRefused,
         "does not trust"},
        {"signed by a revoked key",
         {},
         [this](Folder folder) {
             const std::string id = ReadText(Path("signer.key.pub")).substr(19, 16);
             const ProcessResult revoked =
                 Run(folder / "data", {"--simulate", "keys", "revoke", id});
             EXPECT_EQ(revoked.status, 0) << revoked.err;
         },
         kJobRefused,
         "revoked"},
        {"unsigned once a key is trusted",
         {},
         editJob([](Json& j) { j["signature"] = nullptr; }),
         kJobRefused,
         "not signed"},
        // Signed after the change: the image check alone must catch it.
        {"embedded image differing from its hash",
         {"--embed"},
         [&](Folder folder) {
             editJob([](Json& j) {
                 std::string content = j["image"]["content"];
                 content[8] = content[8] == 'A' ? 'B' : 'A';
                 j["image"]["content"] = content;
             })(folder);
             Sign(folder, "signer.key");
         },
         kJobRefused,
         "embedded image"},
        {"a newer format",
         {},
         editJob([](Json& j) { j["version"] = 2; }),
         kJobRefused,
         "newer than this farsend"},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path folder = JobFolder("row-" + std::to_string(++index), c.options);
        Trust(folder / "data", "signer.key");
        const ProcessResult pool =
            Run(folder / "data", {"--simulate", "serials", "init", "board", "--first", "1"});
        ASSERT_EQ(pool.status, 0) << pool.err;
        // The job as made runs: what refuses it below is the tampering.
        const ProcessResult verified =
            Run(folder / "data", {"--simulate", "job", "verify", (folder / "line.job").string()});
        ASSERT_EQ(verified.status, 0) << verified.err;

        c.tamper(folder);
        const std::filesystem::path flash = folder / "flash.hex";
        const ProcessResult run =
            Run(folder / "data", {"--simulate", "--sim-flash-out=" + flash.string(), "--job",
                                  (folder / "line.job").string(), "program", "--quiet"});
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_THAT(run.err, HasSubstr(c.says));
        EXPECT_THAT(run.err, HasSubstr("Nothing was sent"));
        EXPECT_FALSE(std::filesystem::exists(flash)) << "the target was programmed";
        const std::string db = (folder / "data" / "farsend" / "sim-units.sqlite").string();
        EXPECT_TRUE(UnitDatabase::Open(db)->ListUnits().empty());
    }
}

class ProductionJobLine : public ProductionJobProcess {
protected:
    // A signed job stamping serials from the pool "board" (first 500) on
    // four stations of two targets each: every unit's row and record names
    // the job, and each took a number of its own. `line`: run by farsend
    // line, as an operator with only its page would, ended by its count.
    void ExpectJobRun(const std::string& url, bool line = false) {
        std::vector<std::string> where = {"--simulate"};
        std::vector<std::string> options = {"--serial", "4010:4", "--serial-pool",
                                            "board",    "--note", "line 1"};
        if (!url.empty()) {
            where = {"--db", url};
            options.insert(options.end(), {"--db", url});
        }
        const std::filesystem::path folder = JobFolder("line", options);
        const std::filesystem::path home = folder / "data";
        Trust(home, "signer.key", where);
        std::vector<std::string> init = where;
        init.insert(init.end(), {"serials", "init", "board", "--first", "500"});
        ASSERT_EQ(Run(home, init).status, 0);

        const std::string report = (folder / "units.jsonl").string();
        std::vector<std::string> words = {"--simulate", "--sim-bridges=4", "--sim-targets=2",
                                          "--job",      (folder / "line.job").string()};
        if (line) {
            words.insert(words.end(), {"line", "--listen", "127.0.0.1:0", "--count", "8"});
        } else {
            words.push_back("watch");
        }
        words.insert(words.end(), {"--all", "--quiet", "--report", report});
        const ProcessResult run = Run(home, words);
        ASSERT_EQ(run.status, 0) << run.err;

        const std::string jobSha = Sha256Sum((folder / "line.job").string());
        const std::vector<Json> records = JsonLines(ProcessFiles::Read(report));
        ASSERT_EQ(records.size(), 8u);
        std::set<std::string> stations;
        for (const Json& record : records) {
            EXPECT_EQ(record["job"]["name"], "board-v2");
            EXPECT_EQ(record["job"]["sha256"], jobSha);
            stations.insert(record["station"].get<std::string>());
        }
        EXPECT_EQ(stations.size(), 4u);

        const std::string db = url.empty() ? (home / "farsend" / "sim-units.sqlite").string() : url;
        const std::vector<UnitRow> rows = UnitDatabase::Open(db)->ListUnits();
        ASSERT_EQ(rows.size(), 8u);
        std::set<std::int64_t> serials;
        for (const UnitRow& row : rows) {
            EXPECT_EQ(row.start.jobName, "board-v2");
            EXPECT_EQ(row.start.jobSha256, jobSha);
            ASSERT_TRUE(row.finish && row.serial);
            EXPECT_EQ(row.finish->result, UnitResult::Programmed);
            serials.insert(*row.serial);
        }
        EXPECT_EQ(serials.size(), 8u);
        EXPECT_EQ(*serials.begin(), 500);

        std::vector<std::string> listing = where;
        listing.insert(listing.end(), {"units", "--json", "--job", "board-v2"});
        const ProcessResult listed = Run(home, listing);
        ASSERT_EQ(listed.status, 0) << listed.err;
        EXPECT_EQ(Json::parse(listed.out)["units"].size(), 8u);
        listing.back() = "board-v1";
        EXPECT_TRUE(Json::parse(Run(home, listing).out)["units"].empty());
    }
};

TEST_F(ProductionJobLine, SignedJobOnFourStationsOnSQLiteRunByTheLinePage) {
    ExpectJobRun("", true);
}

TEST_F(ProductionJobLine, SignedJobOnFourStationsOnPostgreSQL) {
    testing::FreshDatabase fresh(Engine::PostgreSQL);
    std::string error;
    const std::string url = fresh.Create(error);
    ASSERT_FALSE(url.empty()) << error;
    ExpectJobRun(url);
}

// Two processes, two stations each with far more targets than the limit,
// start at once on one server: exactly the limit is programmed, and each
// process ends refusing the rest with the job's status.
TEST_F(ProductionJobLine, UnitLimitHoldsAcrossTwoProcessesOnPostgreSQL) {
    testing::FreshDatabase fresh(Engine::PostgreSQL);
    std::string error;
    const std::string url = fresh.Create(error);
    ASSERT_FALSE(url.empty()) << error;
    const std::filesystem::path folder = JobFolder("limit", {"--db", url, "--limit", "10"});
    Trust(folder / "data", "signer.key", {"--db", url});
    const std::string job = (folder / "line.job").string();

    std::vector<std::unique_ptr<testing::FarsendChild>> children;
    for (int i = 0; i < 2; ++i) {
        const std::string tag = std::to_string(i);
        children.push_back(std::make_unique<testing::FarsendChild>(
            std::vector<std::string>{"--simulate", "--sim-bridges=2", "--sim-targets=12", "--host",
                                     "pc-" + tag, "--job", job, "watch", "--all", "--quiet",
                                     "--report", Path("units-" + tag + ".jsonl")},
            Path("out-" + tag), Path("err-" + tag)));
        ASSERT_TRUE(children.back()->Started());
    }
    std::size_t programmed = 0;
    for (int i = 0; i < 2; ++i) {
        const testing::ChildEnd end = children[i]->Wait(std::chrono::seconds(120));
        const std::string err = ProcessFiles::Read(Path("err-" + std::to_string(i)));
        ASSERT_TRUE(end.exited) << err;
        EXPECT_EQ(end.status, kJobRefused) << err;
        EXPECT_THAT(err, HasSubstr("reached its limit of 10 units"));
        for (const Json& record :
             JsonLines(ProcessFiles::Read(Path("units-" + std::to_string(i) + ".jsonl")))) {
            if (record["status"] == 0) ++programmed;
        }
    }
    EXPECT_EQ(programmed, 10u);
    const std::unique_ptr<UnitDatabase> db = UnitDatabase::Open(url);
    EXPECT_EQ(db->ListUnits().size(), 10u);
    EXPECT_EQ(JobUnitsStarted(*db, Sha256Sum(job)), 10);
}

}  // namespace
}  // namespace farsend::units
