// What the records of a line say, run as farsend processes: simulated units
// kept out of the real database, the PC that did each unit, text from
// targets and file names kept from driving the terminal, passwords kept out
// of every output, and database names that cannot be what was meant refused.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <nlohmann/json.hpp>

#include "cli/process_runner.h"
#include "common/database_name.h"
#include "sim/sample_firmware.h"
#include "support/temp_directory.h"
#include "units/spool.h"
#include "units/unit_database.h"

namespace farsend::units {
namespace {

using farsend::testing::ProcessResult;
using ::testing::HasSubstr;
using ::testing::Not;
using Json = nlohmann::json;

std::string HostName() {
    char name[HOST_NAME_MAX + 1] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

// No byte that a terminal would act on, and `lines` lines.
void ExpectPlainLines(const std::string& text, std::size_t lines) {
    std::size_t newlines = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            ++newlines;
        } else {
            EXPECT_FALSE(byte < 0x20 || byte == 0x7f) << "byte " << int(byte) << " in " << text;
        }
    }
    EXPECT_EQ(newlines, lines) << text;
}

class LineRecords : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim::WriteSampleSet(firmware_));
        std::filesystem::create_directories(cwd_);
    }

    // farsend in the folder `cwd_`, with its data home in the test's folder.
    ProcessResult Farsend(const std::vector<std::string>& words) const {
        std::vector<std::string> all = {"-C", cwd_.string(), "XDG_DATA_HOME=" + Data().string(),
                                        testing::FarsendExecutable()};
        all.insert(all.end(), words.begin(), words.end());
        return testing::RunProcess("/usr/bin/env", all);
    }

    std::filesystem::path Data() const { return temp_.path() / "data"; }
    std::string Path(const std::string& name) const { return (temp_.path() / name).string(); }
    std::string Image() const { return (firmware_ / "Farsend_15_bt.hex").string(); }

    testing::TempDirectory temp_;
    std::filesystem::path firmware_ = temp_.path() / "firmware";
    std::filesystem::path cwd_ = temp_.path() / "cwd";
};

TEST_F(LineRecords, ASimulatedRunKeepsToADatabaseOfItsOwn) {
    const ProcessResult run = Farsend({"--simulate", "program", "--dir", firmware_.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(std::filesystem::exists(Data() / "farsend" / "units.sqlite"));
    const std::vector<UnitRow> rows =
        UnitDatabase::Open((Data() / "farsend" / "sim-units.sqlite").string())->ListUnits();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(rows[0].start.simulated);
    EXPECT_EQ(rows[0].start.host, HostName());

    const ProcessResult listed = Farsend({"--simulate", "units", "--json"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(Json::parse(listed.out)["units"][0]["simulated"], true);
    const ProcessResult text = Farsend({"--simulate", "units"});
    EXPECT_THAT(text.out, HasSubstr("programmed (simulated)"));
    // The real database has none of it.
    EXPECT_THAT(Farsend({"units"}).out, HasSubstr("no units recorded"));
}

TEST_F(LineRecords, EachUnitSaysWhichPcDidIt) {
    const std::string db = Path("line.sqlite");
    for (const char* host : {"pc-a", "pc-b", "pc-b"}) {
        const ProcessResult run = Farsend({"--simulate", "program", "--dir", firmware_.string(),
                                           "--host", host, "--json", "--db", db});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(Json::parse(run.out)["host"], host);
    }
    const ProcessResult onB = Farsend({"units", "--host", "pc-b", "--json", "--db", db});
    ASSERT_EQ(onB.status, 0) << onB.err;
    const Json listed = Json::parse(onB.out);
    EXPECT_EQ(listed["units"].size(), 2u);
    ASSERT_EQ(listed["yield"].size(), 1u);
    EXPECT_EQ(listed["yield"][0]["host"], "pc-b");
    EXPECT_EQ(listed["yield"][0]["programmed"], 2);

    // One station per PC in the yield, though both sit at the same location.
    const ProcessResult text = Farsend({"units", "--db", db});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_THAT(text.out, ::testing::ContainsRegex("pc-a +[^ ]+ +all +1 +0"));
    EXPECT_THAT(text.out, ::testing::ContainsRegex("pc-b +[^ ]+ +all +2 +0"));
    EXPECT_EQ(Farsend({"units", "--host", "", "--db", db}).status, 2);
}

// A target's version and a file's name as a hostile hand makes them: the
// result line and the units table show them escaped, one unit on one line;
// JSON carries them exactly.
TEST_F(LineRecords, TextFromTargetsAndFilesCannotDriveTheTerminal) {
    const std::string hostileName = "Farsend_15_bt\x1b[2J\n\"x.hex";
    const std::filesystem::path odd = temp_.path() / "odd";
    std::filesystem::create_directories(odd);
    std::filesystem::copy_file(Image(), odd / hostileName);
    struct Row {
        std::vector<std::string> words;
        std::string field;  // the record's field that carries it
        std::string raw;
    };
    const std::vector<Row> rows = {
        {{"--sim-version=1.5.0\x1b[2J\x1b]0;t\a\n\"q"}, "version", "1.5.0\x1b[2J\x1b]0;t\a\n\"q"},
        {{"--sim-version=1.5\xc2\x9b"
          "2J\x9b\x7f"},
         "version",
         "1.5\xc2\x9b"
         "2J\x9b\x7f"},
        {{"FILE"}, "file", (odd / hostileName).string()},
    };
    std::size_t index = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.raw);
        const std::string db = Path("hostile-" + std::to_string(++index) + ".sqlite");
        std::vector<std::string> words = {"--simulate"};
        std::vector<std::string> after = {"--db", db};
        for (const std::string& word : row.words) {
            if (word == "FILE") {
                after.push_back((odd / hostileName).string());
            } else {
                words.push_back(word);
            }
        }
        words.push_back("program");
        if (row.field != "file") words.insert(words.end(), {"--dir", firmware_.string()});
        words.insert(words.end(), after.begin(), after.end());

        const ProcessResult text = Farsend(words);
        ASSERT_EQ(text.status, 0) << text.err;
        ExpectPlainLines(text.out, 1);
        words.push_back("--json");
        const ProcessResult json = Farsend(words);
        ASSERT_EQ(json.status, 0) << json.err;
        if (row.field == "file") {
            EXPECT_EQ(Json::parse(json.out)[row.field], row.raw);
        } else {
            // Bytes that are not UTF-8 become U+FFFD in JSON; the rest stays.
            EXPECT_EQ(Json::parse(json.out)[row.field].get<std::string>().substr(0, 3),
                      row.raw.substr(0, 3));
        }
        const ProcessResult units = Farsend({"units", "--db", db});
        ASSERT_EQ(units.status, 0) << units.err;
        ExpectPlainLines(units.out, 3 + 5);  // heading, 2 units; blank, title, heading, hour, all
    }
    const ProcessResult select = Farsend({"select", "--dir", odd.string()});
    ExpectPlainLines(select.out, 4);  // folder, the file, request, choice
}

// The password of every form of name, in everything any command prints and
// in the names of the files it leaves.
TEST_F(LineRecords, NoOutputEverShowsTheDatabasePassword) {
    const std::string nowhere = "host=" + Path("no-server");
    const std::vector<std::string> names = {
        "postgresql://farsend:S3cret@/farsend?" + nowhere,
        "postgres://farsend:S3cret@/farsend?" + nowhere,
        "postgresql:///farsend?" + nowhere + "&password=S3cret",
        "postgres:///farsend?password=S3cret&" + nowhere,
        "PostgreSQL:///farsend?" + nowhere + "&password=S3cret",
        "postgresq://farsend:S3cret@/farsend",
        "host=/tmp password=S3cret dbname=farsend",
        "file:units.sqlite?password=S3cret",
    };
    const std::vector<std::vector<std::string>> commands = {
        {"units"},
        {"units", "--json"},
        {"serials"},
        {"serials", "init", "line", "--first", "1"},
        {"--simulate", "program", "--dir", firmware_.string()},
        {"--simulate", "watch", "--count", "1", "--dir", firmware_.string()},
        {"units", "extra-word"},
    };
    for (const std::string& name : names) {
        for (std::vector<std::string> words : commands) {
            words.insert(words.end(), {"--db", name});
            SCOPED_TRACE(::testing::PrintToString(words));
            const ProcessResult run = Farsend(words);
            EXPECT_NE(run.status, 0);
            EXPECT_THAT(run.out + run.err, Not(HasSubstr("S3cret")));
        }
        if (ParseDatabaseName(name).name) {
            EXPECT_THAT(SpoolLocationFor(name).string(), Not(HasSubstr("S3cret")));
        }
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(temp_.path())) {
        EXPECT_THAT(entry.path().string(), Not(HasSubstr("S3cret")));
    }
}

// Names that cannot be what was meant: refused before any file is made.
TEST_F(LineRecords, MistypedDatabaseNamesAreRefused) {
    struct Row {
        std::string db;
        int status;
        std::string says;
    };
    const std::vector<Row> rows = {
        {"PostgreSQL:///farsend?host=" + Path("no-server"), 9, "postgresql:///farsend"},
        {"postgresq://line-server/farsend", 2, "scheme 'postgresq'"},
        {"sqlite:units.sqlite", 2, "scheme 'sqlite'"},
        {"host=line-server password=pw", 2, "connection string"},
        {":memory:", 2, "in-memory"},
        {"file:x?mode=memory", 2, "in-memory"},
        {"typo/dir/unts.sqlite", 9, "does not exist"},
        {Path("typo/dir/unts.sqlite"), 9, "does not exist"},
    };
    for (const Row& row : rows) {
        for (const char* command : {"units", "serials"}) {
            SCOPED_TRACE(row.db + " " + command);
            const ProcessResult run = Farsend({command, "--db", row.db});
            EXPECT_EQ(run.status, row.status) << run.err;
            EXPECT_THAT(run.err, HasSubstr(row.says));
        }
        const ProcessResult run =
            Farsend({"--simulate", "program", "--dir", firmware_.string(), "--db", row.db});
        EXPECT_EQ(run.status, row.status) << run.err;
    }
    EXPECT_TRUE(std::filesystem::is_empty(cwd_));
    EXPECT_FALSE(std::filesystem::exists(temp_.path() / "typo"));
    // A name that is a plain file in an existing folder is still taken.
    EXPECT_EQ(Farsend({"units", "--db", "here.sqlite"}).status, 0);
    EXPECT_TRUE(std::filesystem::exists(cwd_ / "here.sqlite"));
}

TEST_F(LineRecords, UnitsRefusesATimeItCannotHold) {
    for (const char* since : {"2300-01-01", "1600-01-01", "2262-04-12"}) {
        const ProcessResult run = Farsend({"units", "--since", since, "--db", Path("t.sqlite")});
        EXPECT_EQ(run.status, 2) << since;
        EXPECT_THAT(run.err, HasSubstr("1678 to 2262")) << since;
    }
    EXPECT_EQ(Farsend({"units", "--since", "2262-04-11", "--db", Path("t.sqlite")}).status, 0);
}

}  // namespace
}  // namespace farsend::units
