// The unit record's one JSON codec: every form reads back what it wrote,
// for every outcome, and spool lines that earlier farsends wrote still read
// (and write again byte for byte).
#include "units/record/unit_json.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/unit_status.h"
#include "common/utc_time.h"

namespace farsend::units {
namespace {

TimePoint At(const char* utc) {
    return *ParseUtc(utc);
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
}

UnitRecord Finished(UnitOutcome outcome) {
    UnitRecord record;
    record.id = 42;
    record.recordId = "0123456789abcdef0123456789abcdef";
    record.command = "watch";
    record.unit = 7;
    record.start = {At("2024-05-01T10:00:00Z"),
                    "line-pc-3",
                    "1-1.4",
                    "FS0001",
                    "/fw/Farsend_15_bt.hex",
                    std::string(64, 'b'),
                    true,
                    "board-v2",
                    std::string(64, 'c'),
                    5};
    record.pool = "line1";
    record.serial = 1004;
    record.numberReturned = outcome != UnitOutcome::Passed;
    UnitFinish& finish = record.finish.emplace();
    finish.end = At("2024-05-01T10:00:04Z");
    finish.SetOutcome(outcome);
    finish.exitStatus = cli::ExitStatusOf(outcome);
    finish.variant = "Bluetooth";
    finish.version = "1.5.0";
    finish.blocks = 812;
    finish.bytes = 207616;
    finish.seconds = 3.25;
    finish.message = outcome == UnitOutcome::Passed ? "" : "what happened";
    return record;
}

// What each form carries; the rest reads back empty.
struct Carried {
    UnitJsonForm form;
    bool ids, command, pool, outcome, start, end;
};

TEST(UnitJson, EveryFormReadsBackWhatItWroteForEveryOutcome) {
    const std::vector<Carried> forms = {
        {UnitJsonForm::Result, false, true, false, true, false, false},
        {UnitJsonForm::Report, false, true, false, true, false, true},
        {UnitJsonForm::Spool, false, false, true, false, true, true},
        {UnitJsonForm::Listing, true, false, true, false, true, true},
    };
    for (const Carried& carried : forms) {
        for (const UnitOutcome outcome : kEveryUnitOutcome) {
            const UnitRecord written = Finished(outcome);
            const std::string line = UnitJsonLine(written, carried.form);
            const std::optional<UnitRecord> read = ParseUnitJsonLine(line, carried.form);
            ASSERT_TRUE(read && read->finish) << line;
            const UnitFinish& was = *written.finish;
            const UnitFinish& is = *read->finish;
            SCOPED_TRACE(line);
            EXPECT_EQ(is.result, ResultOf(outcome));
            EXPECT_EQ(is.outcome, carried.outcome ? std::optional(outcome) : std::nullopt);
            EXPECT_EQ(is.exitStatus, was.exitStatus);
            EXPECT_EQ(is.message, was.message);
            EXPECT_EQ(is.variant, was.variant);
            EXPECT_EQ(is.version, was.version);
            EXPECT_EQ(is.blocks, was.blocks);
            EXPECT_EQ(is.bytes, was.bytes);
            EXPECT_EQ(is.seconds, was.seconds);
            EXPECT_EQ(read->start.file, written.start.file);
            EXPECT_EQ(read->start.sha256, written.start.sha256);
            EXPECT_EQ(read->start.station, written.start.station);
            EXPECT_EQ(read->start.bridgeSerial, written.start.bridgeSerial);
            EXPECT_EQ(read->start.host, written.start.host);
            EXPECT_EQ(read->start.simulated, written.start.simulated);
            EXPECT_EQ(read->start.jobName, written.start.jobName);
            EXPECT_EQ(read->start.jobSha256, written.start.jobSha256);
            EXPECT_EQ(read->start.jobUnitLimit, std::nullopt);  // counted, never recorded
            EXPECT_EQ(read->serial, written.serial);
            EXPECT_EQ(read->unit, carried.command ? written.unit : 0u);
            EXPECT_EQ(read->command, carried.command ? written.command : "");
            EXPECT_EQ(read->id, carried.ids ? written.id : 0);
            EXPECT_EQ(read->pool, carried.pool ? written.pool : "");
            EXPECT_EQ(read->numberReturned, carried.pool && written.numberReturned);
            EXPECT_EQ(read->recordId, carried.start ? written.recordId : "");
            EXPECT_EQ(read->start.start, carried.start ? written.start.start : TimePoint());
            EXPECT_EQ(is.end, carried.end ? was.end : TimePoint());
        }
    }
}

// Lines as the spool writer before this codec wrote them: a programmed unit
// with its number, a unit still in hand, and one let go as the run stopped.
TEST(UnitJson, SpoolLinesOfEarlierRunsReadAndWriteAgainByteForByte) {
    const std::vector<std::string> lines = {
        R"({"record_id":"0123456789abcdef0123456789abcdef","start":"2024-05-01T10:00:00Z","host":"line-pc-3","station":"1-1.4","simulated":false,"bridge_serial":"FS0001","file":"/fw/Farsend_15_bt.hex","sha256":"9f86d081884c7d65","pool":"line1","serial":1004,"number_returned":false,"end":"2024-05-01T10:00:04Z","variant":"Bluetooth","version":"1.5.0","blocks":812,"bytes":207616,"seconds":3.252,"result":"programmed","exit_status":0,"message":""})",
        R"({"record_id":"fedcba9876543210fedcba9876543210","start":"2024-05-01T11:30:00Z","host":"","station":"sim-bridge-2","simulated":true,"bridge_serial":"","file":"Farsend_20_zb.hex","sha256":"","pool":null,"serial":null,"number_returned":false})",
        R"({"record_id":"fedcba9876543210fedcba9876543210","start":"2024-05-01T11:30:00Z","host":"","station":"sim-bridge-2","simulated":true,"bridge_serial":"","file":"Farsend_20_zb.hex","sha256":"","pool":"line1","serial":7,"number_returned":true,"end":"2024-05-01T11:30:02Z","variant":"","version":"","blocks":0,"bytes":0,"seconds":0.5,"result":"interrupted","exit_status":1,"message":"let go before anything was sent: the run was stopping"})",
    };
    for (const std::string& line : lines) {
        const std::optional<UnitRecord> record = ParseUnitJsonLine(line, UnitJsonForm::Spool);
        ASSERT_TRUE(record) << line;
        EXPECT_EQ(UnitJsonLine(*record, UnitJsonForm::Spool), line);
    }
    const UnitRecord stopped = *ParseUnitJsonLine(lines[2], UnitJsonForm::Spool);
    EXPECT_EQ(stopped.finish->result, UnitResult::Interrupted);
    EXPECT_EQ(stopped.serial, 7);
    EXPECT_TRUE(stopped.numberReturned);

    // Spools from before PCs were told apart have neither host nor
    // simulated; lines that are not records are refused, not misread.
    const std::vector<std::pair<std::string, bool>> others = {
        {R"({"record_id":"ab","start":"2023-01-01T00:00:00Z","station":"s","bridge_serial":"","file":"f.hex","sha256":"","pool":null,"serial":null,"number_returned":false})",
         true},
        {R"({"record_id":"","start":"2023-01-01T00:00:00Z","station":"s","bridge_serial":"","file":"f.hex","sha256":"","pool":null,"serial":null,"number_returned":false})",
         false},
        {R"({"record_id":"ab","start":"yesterday","station":"s","bridge_serial":"","file":"f.hex","sha256":"","pool":null,"serial":null,"number_returned":false})",
         false},
        {R"({"record_id":"ab","start":"2023-01-01T00:00:00Z","station":"s","bridge_serial":"","file":"f.hex","sha256":"","pool":null,"serial":null,"number_returned":false,"end":"2023-01-01T00:00:01Z"})",
         false},
        {Replaced(lines[0], "programmed", "success"), false},  // a result line's word
        {lines[0].substr(0, 40), false},
        {"[1,2]", false},
    };
    for (const auto& [line, isRecord] : others) {
        EXPECT_EQ(ParseUnitJsonLine(line, UnitJsonForm::Spool).has_value(), isRecord) << line;
    }
}

// `units --json`: a unit in hand has a null end and result and nothing of
// its end besides; the fields stand in the order the listing always had.
TEST(UnitJson, ListingKeepsItsOrderAndNullsWhileInHand) {
    UnitRecord inHand = Finished(UnitOutcome::Passed);
    inHand.finish.reset();
    inHand.pool.clear();
    inHand.serial.reset();
    inHand.numberReturned = false;
    inHand.start.jobName.clear();  // programmed under no job
    inHand.start.jobSha256.clear();
    EXPECT_EQ(UnitJsonLine(inHand, UnitJsonForm::Listing),
              R"({"id":42,"start":"2024-05-01T10:00:00Z","end":null,"host":"line-pc-3",)"
              R"("station":"1-1.4","bridge_serial":"FS0001","simulated":true,"pool":null,)"
              R"("serial":null,"number_returned":false,"file":"/fw/Farsend_15_bt.hex",)"
              R"("sha256":")" +
                  std::string(64, 'b') +
                  R"(","job":null,"result":null,)"
                  R"("record_id":"0123456789abcdef0123456789abcdef"})");
    const std::optional<UnitRecord> read =
        ParseUnitJsonLine(UnitJsonLine(inHand, UnitJsonForm::Listing), UnitJsonForm::Listing);
    ASSERT_TRUE(read);
    EXPECT_FALSE(read->finish);

    const UnitRecord failed = Finished(UnitOutcome::EraseError);
    EXPECT_EQ(UnitJsonLine(failed, UnitJsonForm::Listing),
              R"({"id":42,"start":"2024-05-01T10:00:00Z","end":"2024-05-01T10:00:04Z",)"
              R"("host":"line-pc-3","station":"1-1.4","bridge_serial":"FS0001",)"
              R"("simulated":true,"pool":"line1","serial":1004,"number_returned":true,)"
              R"("file":"/fw/Farsend_15_bt.hex","sha256":")" +
                  std::string(64, 'b') + R"(","job":{"name":"board-v2","sha256":")" +
                  std::string(64, 'c') +
                  R"("},"variant":"Bluetooth","version":"1.5.0","blocks":812,"bytes":207616,)"
                  R"("seconds":3.25,"result":"failed","status":7,"message":"what happened",)"
                  R"("record_id":"0123456789abcdef0123456789abcdef"})");
}

}  // namespace
}  // namespace farsend::units
