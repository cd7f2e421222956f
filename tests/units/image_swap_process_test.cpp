// A firmware file replaced on disk while watch stamps serial numbers: every
// unit of the run still gets the image checked at the start with its own
// number, its record and row carry that image's digest, and the change is
// told once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "cli/child_outputs.h"
#include "cli/posix/child_process.h"
#include "cli/process_files.h"
#include "cli/process_runner.h"
#include "protocol/serial_stamp.h"
#include "sim/sample_firmware.h"
#include "support/temp_directory.h"
#include "units/unit_database.h"

namespace farsend::units {
namespace {

using farsend::testing::ContentsOf;
using farsend::testing::JsonLines;
using farsend::testing::ProcessFiles;
using Json = nlohmann::json;

constexpr auto kLimit = std::chrono::seconds(120);

TEST(ImageSwapProcess, AFileReplacedMidRunChangesNoUnitOfTheRun) {
    farsend::testing::TempDirectory temp;
    auto path = [&](const std::string& name) { return (temp.path() / name).string(); };
    const std::string image = path("Farsend_15_bt.hex");
    sim::ImageRun run;
    run.address = 0x4000;
    for (int i = 0; i < 8192; ++i) run.data.push_back(static_cast<uint8_t>(i * 7 + (i >> 8)));
    ASSERT_TRUE(sim::WriteImageFile(image, {run}));
    const auto original = ContentsOf(image);
    // 16 bytes that do not reach the serial's place.
    ASSERT_TRUE(sim::WriteImageFile(path("other.hex"), {{0x4000, std::vector<uint8_t>(16, 0xAA)}}));

    const std::string db = path("units.sqlite");
    const farsend::testing::ProcessResult made =
        farsend::testing::RunFarsend({"serials", "init", "board", "--first", "1000", "--db", db});
    ASSERT_EQ(made.status, 0) << made.err;

    // Two stations of three targets each, on the real clock (a unit takes
    // over a second): the file is replaced once the first unit is recorded,
    // with four units still to come.
    const std::vector<std::string> words = {"--simulate",
                                            "--sim-real-time",
                                            "--sim-baud=230400",
                                            "--sim-bridges=2",
                                            "--sim-targets=3",
                                            "--sim-flash-out=" + path("flash.hex"),
                                            "watch",
                                            "--all",
                                            "--count",
                                            "6",
                                            "--quiet",
                                            "--report",
                                            path("units.jsonl"),
                                            "--serial",
                                            "4010:4",
                                            "--serial-pool",
                                            "board",
                                            "--db",
                                            db,
                                            image};
    farsend::testing::FarsendChild child(words, path("out"), path("err"));
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(
        child.WaitUntil([&] { return !ProcessFiles::Read(path("units.jsonl")).empty(); }, kLimit));
    std::filesystem::rename(path("other.hex"), image);
    const farsend::testing::ChildEnd end = child.Wait(kLimit);
    const std::string err = ProcessFiles::Read(path("err"));
    ASSERT_TRUE(end.exited) << err;
    EXPECT_EQ(end.status, 0) << err;

    // Told once, naming the file.
    const std::string warning = "warning: " + image + " changed on disk during the run";
    ASSERT_NE(err.find(warning), std::string::npos) << err;
    EXPECT_EQ(err.find(warning), err.rfind(warning)) << err;

    const std::vector<Json> records = JsonLines(ProcessFiles::Read(path("units.jsonl")));
    ASSERT_EQ(records.size(), 6u) << err;
    // The digest of what the first unit got, before the file was replaced.
    const std::string digest = records.front()["sha256"];
    ASSERT_EQ(digest.size(), 64u);
    std::map<std::string, Json> lastOf;
    for (const Json& record : records) {
        EXPECT_EQ(record["sha256"], digest);
        EXPECT_EQ(record["blocks"], 33);
        Json& last = lastOf[record["station"]];
        if (last.is_null() || last["unit"] < record["unit"]) last = record;
    }
    std::set<std::int64_t> numbers;
    for (const UnitRow& row : UnitDatabase::Open(db)->ListUnits()) {
        EXPECT_EQ(row.start.sha256, digest);
        ASSERT_TRUE(row.serial && row.finish);
        numbers.insert(*row.serial);
    }
    EXPECT_EQ(numbers, (std::set<std::int64_t>{1000, 1001, 1002, 1003, 1004, 1005}));
    // Each station's last target holds the first image, with its own number.
    ASSERT_EQ(lastOf.size(), 2u);
    for (int bridge = 1; bridge <= 2; ++bridge) {
        const Json& last = lastOf["sim-usb-1." + std::to_string(3 + bridge)];
        auto expected = original;
        const auto bytes = protocol::SerialBytes(protocol::ParseSerialSpec("4010:4").spec,
                                                 last["serial"].get<std::uint64_t>());
        for (std::size_t i = 0; i < bytes.size(); ++i) expected[0x4010 + i] = bytes[i];
        EXPECT_EQ(ContentsOf(path("flash-" + std::to_string(bridge) + ".hex")), expected)
            << "bridge " << bridge;
    }
}

}  // namespace
}  // namespace farsend::units
