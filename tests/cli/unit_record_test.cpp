// The unit record as farsend prints it: the --json result object and the
// --report line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "cli/report_file.h"
#include "cli/unit_status.h"
#include "common/utc_time.h"
#include "support/temp_directory.h"
#include "units/record/unit_json.h"

namespace farsend::cli {
namespace {

using Json = nlohmann::ordered_json;
using units::UnitJsonForm;
using units::UnitOutcome;
using units::UnitRecord;

std::chrono::system_clock::time_point At(long long secondsSinceEpoch) {
    return std::chrono::system_clock::time_point(std::chrono::seconds(secondsSinceEpoch));
}

TEST(UnitRecord, UtcTimeAcrossCalendarCorners) {
    const std::vector<std::pair<long long, std::string>> cases = {
        {0, "1970-01-01T00:00:00Z"},
        {-1, "1969-12-31T23:59:59Z"},
        {951782400, "2000-02-29T00:00:00Z"},   // leap day of a year divisible by 400
        {1709251199, "2024-02-29T23:59:59Z"},  // last second of a leap day
        {1735689600, "2025-01-01T00:00:00Z"},
        {4107542400, "2100-03-01T00:00:00Z"},  // 2100 is no leap year
        {4102444799, "2099-12-31T23:59:59Z"},
    };
    for (const auto& [seconds, text] : cases) EXPECT_EQ(FormatUtc(At(seconds)), text) << seconds;
    // Sub-second parts are cut, not rounded up into the next second.
    EXPECT_EQ(FormatUtc(At(59) + std::chrono::milliseconds(999)), "1970-01-01T00:00:59Z");
}

UnitRecord Programmed(std::chrono::system_clock::time_point end = At(0)) {
    UnitRecord record;
    record.command = "program";
    units::UnitFinish& finish = record.finish.emplace();
    finish.end = end;
    finish.SetOutcome(UnitOutcome::Passed);
    finish.exitStatus = kExitSuccess;
    finish.variant = "Bluetooth";
    finish.version = "1.5.0";
    record.start.file = "fw/Farsend_15_bt.hex";
    record.start.sha256 = std::string(64, 'a');
    finish.blocks = 812;
    finish.bytes = 207616;
    finish.seconds = 3.14159;
    return record;
}

std::string ReportLine(const UnitRecord& record) {
    return units::UnitJsonLine(record, UnitJsonForm::Report);
}

TEST(UnitRecord, ReportLineHoldsEveryFieldTimeFirst) {
    const std::string line = ReportLine(Programmed(At(1709251199)));
    EXPECT_EQ(line.find('\n'), std::string::npos);
    const Json parsed = Json::parse(line);
    std::vector<std::string> keys;
    for (const auto& item : parsed.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"time", "command", "result", "status", "message",
                                              "variant", "version", "file", "sha256", "blocks",
                                              "bytes", "seconds", "station", "bridge_serial",
                                              "unit", "serial", "host", "simulated", "job"}));
    EXPECT_TRUE(parsed["serial"].is_null());
    EXPECT_EQ(parsed["time"], "2024-02-29T23:59:59Z");
    EXPECT_EQ(parsed["result"], "success");
    EXPECT_EQ(parsed["status"], 0);
    EXPECT_EQ(parsed["variant"], "Bluetooth");
    EXPECT_EQ(parsed["version"], "1.5.0");
    EXPECT_EQ(parsed["file"], "fw/Farsend_15_bt.hex");
    EXPECT_EQ(parsed["blocks"], 812);
    EXPECT_EQ(parsed["bytes"], 207616);
    EXPECT_DOUBLE_EQ(parsed["seconds"].get<double>(), 3.142);
}

// Scripts read "result" and "status" of every unit: the outcome's word is
// its exit status's name, except that a unit stopped part-way is
// "interrupted", as the unit database has it.
TEST(UnitRecord, ResultNamesFollowTheExitStatus) {
    const std::vector<std::pair<UnitOutcome, std::string>> cases = {
        {UnitOutcome::Passed, "success"},
        {UnitOutcome::FirmwareFileError, "firmware file error"},
        {UnitOutcome::DoesNotFit, "does not fit"},
        {UnitOutcome::CommunicationError, "communication error"},
        {UnitOutcome::EraseError, "erase error"},
        {UnitOutcome::Interrupted, "interrupted"},
        {UnitOutcome::NoSerialLeft, "no serial left"},
        {UnitOutcome::DatabaseUnavailable, "database unavailable"},
        {UnitOutcome::JobRefused, "job refused"}};
    ASSERT_EQ(cases.size(), std::size(units::kEveryUnitOutcome));
    for (const auto& [outcome, name] : cases) {
        UnitRecord record = Programmed();
        record.finish->SetOutcome(outcome);
        record.finish->exitStatus = ExitStatusOf(outcome);
        record.finish->message = "what happened";
        const Json parsed =
            Json::parse(units::DumpJson(units::UnitToJson(record, UnitJsonForm::Result)));
        EXPECT_EQ(parsed["result"], name);
        if (outcome != UnitOutcome::Interrupted) {
            EXPECT_EQ(name, ExitStatusName(ExitStatusOf(outcome)));
        }
        EXPECT_EQ(parsed["status"], ExitStatusOf(outcome));
        EXPECT_EQ(parsed["message"], "what happened");
    }
}

// File names are bytes on Linux; a name that is not UTF-8 must not make the
// record fail, nor break the JSON.
TEST(UnitRecord, NamesThatAreNotUtf8StillGiveValidJson) {
#if !defined(_WIN32)
    UnitRecord record = Programmed();
    record.start.file = std::string("fw/Farsend_\xff\xfe_bt.hex");
    const std::string line = ReportLine(record);
    const Json parsed = Json::parse(line);
    EXPECT_EQ(parsed["file"], "fw/Farsend_\xEF\xBF\xBD\xEF\xBF\xBD_bt.hex");
#endif
    // Quotes, backslashes and control characters are escaped.
    UnitRecord odd = Programmed();
    odd.finish->message = "line one\nsaid \"no\" \\ here";
    EXPECT_EQ(Json::parse(ReportLine(odd))["message"], odd.finish->message);
}

TEST(UnitRecord, AppendAddsOneLinePerUnitAndReportsFailure) {
    farsend::testing::TempDirectory temp;
    const std::string path = (temp.path() / "units.jsonl").string();
    std::string error;
    ASSERT_TRUE(AppendReportLine(path, ReportLine(Programmed()), error)) << error;
    UnitRecord second = Programmed(At(60));
    second.finish->SetOutcome(UnitOutcome::CommunicationError);
    ASSERT_TRUE(AppendReportLine(path, ReportLine(second), error)) << error;

    std::ifstream in(path, std::ios::binary);
    std::stringstream whole;
    whole << in.rdbuf();
    const std::string text = whole.str();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    std::istringstream lines(text);
    std::string line;
    std::vector<Json> parsed;
    while (std::getline(lines, line)) parsed.push_back(Json::parse(line));
    ASSERT_EQ(parsed.size(), 2u);
    EXPECT_EQ(parsed[0]["time"], "1970-01-01T00:00:00Z");
    EXPECT_EQ(parsed[1]["result"], "communication error");

    // A directory cannot take lines: the failure names the path.
    EXPECT_FALSE(AppendReportLine(temp.path().string(), "{}", error));
    EXPECT_THAT(error, ::testing::HasSubstr(temp.path().string()));
}

}  // namespace
}  // namespace farsend::cli

namespace farsend::cli {
namespace {

// The status of a run of several stations is the most serious one, by the
// order --help states, whichever station had it.
TEST(MoreSerious, FollowsTheStatedOrderWhateverTheSide) {
    const std::vector<int> order = {8, 9, 7, 6, 4, 10, 11, 3, 5, 1, 2, 0};
    for (size_t i = 0; i < order.size(); ++i) {
        for (size_t j = i; j < order.size(); ++j) {
            EXPECT_EQ(MoreSerious(order[i], order[j]), order[i]) << order[i] << " " << order[j];
            EXPECT_EQ(MoreSerious(order[j], order[i]), order[i]) << order[j] << " " << order[i];
        }
    }
}

}  // namespace
}  // namespace farsend::cli
