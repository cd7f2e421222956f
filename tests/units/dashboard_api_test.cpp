// The supervisor view's JSON and CSV answers, over an SQLite file.
#include "cli/dashboard_api.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/unit_csv.h"
#include "support/temp_directory.h"

namespace farsend::cli {
namespace {

using nlohmann::json;
using units::TimePoint;

TimePoint At(const char* text) {
    return ParseUtc(text).value();
}

TEST(UnitCsvTest, QuotesWhatMustBeQuotedAndDisarmsFormulas) {
    const std::pair<const char*, const char*> cases[] = {
        {"usb-1.4", "usb-1.4"},
        {"", ""},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
        {"+1", "'+1"},
        {"-1", "'-1"},
        {"@sum", "'@sum"},
        {"<img src=x onerror=alert(1)>", "<img src=x onerror=alert(1)>"},
    };
    for (const auto& [text, cell] : cases) EXPECT_EQ(CsvText(text), cell) << text;
}

TEST(DashboardRangeTest, ReadsTheRangeOrSaysWhatIsWrong) {
    const TimePoint now = At("2024-05-02T00:00:00Z");
    struct Case {
        QueryParameters parameters;
        const char* from;  // "" refused
        const char* to;
    };
    const std::vector<Case> cases = {
        {{}, "2024-05-01T00:00:00Z", "2024-05-02T00:00:00Z"},
        {{{"to", "2024-04-01T12:00:00Z"}}, "2024-03-31T12:00:00Z", "2024-04-01T12:00:00Z"},
        {{{"from", "2024-05-01T23:00"}}, "2024-05-01T23:00:00Z", "2024-05-02T00:00:00Z"},
        {{{"from", "yesterday"}}, "", ""},
        {{{"to", "2024-02-30T00:00:00Z"}}, "", ""},
        {{{"from", "2024-05-02T00:00:00Z"}}, "", ""},  // empty range
        {{{"from", "2023-01-01T00:00:00Z"}}, "", ""},  // longer than a year
    };
    for (const Case& c : cases) {
        const RangeRequest range = ReadRange(c.parameters, now);
        if (*c.from == '\0') {
            EXPECT_FALSE(range.filter);
            EXPECT_FALSE(range.error.empty());
            continue;
        }
        ASSERT_TRUE(range.filter) << range.error;
        EXPECT_EQ(FormatUtc(range.filter->from), c.from);
        EXPECT_EQ(FormatUtc(range.filter->to), c.to);
    }
}

class DashboardApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto db = units::UnitDatabase::Open(location_);
        db->CreatePool("board", 500);
        const char* results = "PPFPIPF";  // 4 programmed, 2 failed, 1 interrupted
        for (int n = 0; results[n] != '\0'; ++n) {
            units::UnitStart start;
            start.start = At("2024-05-01T10:00:00Z") + std::chrono::minutes(20 * n);
            start.host = "pc1";
            start.station = n % 2 ? "<b>1-2</b>" : "1-1";
            start.bridgeSerial = "BR,\"1\"";
            start.file = "fw.hex";
            start.sha256 = "ab";
            const units::StartedUnit unit = db->StartUnit(start, std::string("board"));
            units::UnitFinish finish;
            finish.end = start.start + std::chrono::seconds(20);
            finish.result = results[n] == 'P'   ? units::UnitResult::Programmed
                            : results[n] == 'F' ? units::UnitResult::Failed
                                                : units::UnitResult::Interrupted;
            finish.message = results[n] == 'F' ? "=no answer\nat block 3" : "";
            db->FinishUnit(unit.id, finish);
        }
    }

    DashboardApi Api(std::string location) const {
        return DashboardApi([location] { return units::UnitDatabase::Open(location); },
                            [] { return At("2024-05-02T00:00:00Z"); });
    }

    testing::TempDirectory directory_;
    std::string location_ = (directory_.path() / "units.sqlite").string();
};

TEST_F(DashboardApiTest, AnswersWithTheFiguresOfTheDatabase) {
    const DashboardApi api = Api(location_);
    const ApiAnswer summary = api.Answer("/api/dashboard/summary", {});
    ASSERT_EQ(summary.status, 200) << summary.body;
    const json s = json::parse(summary.body);
    EXPECT_EQ(s["totals"]["programmed"], 4);
    EXPECT_EQ(s["totals"]["failed"], 2);
    EXPECT_DOUBLE_EQ(s["totals"]["yield"].get<double>(), 4.0 / 7.0);
    // 10:00 to 12:00, every 20 minutes: 7 units in 3 hours.
    EXPECT_DOUBLE_EQ(s["totals"]["unitsPerHour"].get<double>(), 7.0 / 3.0);
    ASSERT_EQ(s["stations"].size(), 2u);
    EXPECT_EQ(s["stations"][0]["station"], "1-1");
    EXPECT_EQ(s["stations"][1]["station"], "<b>1-2</b>");
    EXPECT_EQ(s["stations"][0]["failed"], 2);
    EXPECT_EQ(s["stations"][1]["programmed"], 3);
    EXPECT_EQ(s["hours"][0]["hour"], "2024-05-01T10:00:00Z");
    EXPECT_EQ(s["reasons"][0]["units"], 2);

    const json rows = json::parse(api.Answer("/api/dashboard/units", {{"limit", "3"}}).body);
    ASSERT_EQ(rows["rows"].size(), 3u);
    EXPECT_EQ(rows["rows"][0]["start"], "2024-05-01T12:00:00Z");
    EXPECT_EQ(rows["rows"][0]["result"], "failed");

    const json found = json::parse(api.Answer("/api/dashboard/unit", {{"serial", "503"}}).body);
    ASSERT_EQ(found["rows"].size(), 1u);
    EXPECT_EQ(found["rows"][0]["start"], "2024-05-01T11:00:00Z");
}

TEST_F(DashboardApiTest, RefusesWhatItCannotAnswer) {
    const std::vector<std::pair<QueryParameters, std::string>> bad = {
        {{{"serial", "-1"}}, "/api/dashboard/unit"},
        {{{"serial", "12x"}}, "/api/dashboard/unit"},
        {{{"limit", "0"}}, "/api/dashboard/units"},
        {{{"limit", "5001"}}, "/api/dashboard/units"},
        {{{"from", "soon"}}, "/api/dashboard/summary"},
    };
    for (const auto& [parameters, path] : bad) {
        EXPECT_EQ(Api(location_).Answer(path, parameters).status, 400) << path;
    }
    EXPECT_EQ(Api(location_).Answer("/api/dashboard/../../etc", {}).status, 404);
    const DashboardApi missing = Api((directory_.path() / "no-such-folder" / "u.sqlite").string());
    EXPECT_EQ(missing.Answer("/api/dashboard/summary", {}).status, 503);
    EXPECT_EQ(missing.Csv({}, [](const std::string&) { return true; })->status, 503);
}

TEST_F(DashboardApiTest, ExportsEveryRowOfTheRangeAsCsvAndStopsWhenTheReaderGoes) {
    std::string csv;
    const auto answer =
        Api(location_).Csv({{"from", "2024-05-01T11:00:00Z"}}, [&csv](const std::string& line) {
            csv += line;
            return true;
        });
    EXPECT_FALSE(answer);
    // The header, 4 units; the failed one's message spans two lines in quotes.
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1 + 4 + 1);
    EXPECT_NE(csv.find(",\"BR,\"\"1\"\"\","), std::string::npos);
    EXPECT_NE(csv.find(",\"'=no answer\nat block 3\"\r\n"), std::string::npos);

    int lines = 0;
    EXPECT_FALSE(WriteUnitsCsv(*units::UnitDatabase::Open(location_), {},
                               [&lines](const std::string&) { return ++lines < 3; }));
    EXPECT_EQ(lines, 3);
}

}  // namespace
}  // namespace farsend::cli
