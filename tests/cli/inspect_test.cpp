// inspect: the JSON the command prints is the plan of the programming run,
// and that plan carries exactly the sample image's bytes at their addresses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "cli/commands.h"
#include "cli/process_runner.h"
#include "firmware/platform_paths.h"
#include "protocol/image_reader.h"
#include "sim/sample_firmware.h"
#include "support/temp_directory.h"

namespace farsend::cli {
namespace {

using Json = nlohmann::ordered_json;

std::vector<std::uint8_t> FromHex(const std::string& hex) {
    std::vector<std::uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

TEST(Inspect, JsonOfEverySampleImageIsItsPlanAndItsBytes) {
    farsend::testing::TempDirectory temp;
    ASSERT_TRUE(sim::WriteSampleSet(temp.path()));
    for (const sim::SampleImage& image : sim::SampleImageSet()) {
        SCOPED_TRACE(image.fileName);
        const std::string path = (temp.path() / image.fileName).string();
        const auto plan = protocol::PlanProgrammingFile(path);
        ASSERT_TRUE(plan && plan->endsWithEndOfData);

        const farsend::testing::ProcessResult run =
            farsend::testing::RunFarsend({"inspect", "--json", path});
        ASSERT_EQ(run.status, 0) << run.err;
        const Json printed = Json::parse(run.out);
        EXPECT_EQ(printed, InspectJson(path, *plan));
        EXPECT_EQ(printed["file"], path);

        // Independently of the reader: the blocks put the image's runs at
        // their addresses, each block's check is its base XOR its bytes.
        std::map<std::uint32_t, std::uint8_t> expected, sent;
        for (const sim::ImageRun& run : image.runs) {
            for (size_t i = 0; i < run.data.size(); ++i) {
                expected[run.address + static_cast<std::uint32_t>(i)] = run.data[i];
            }
        }
        for (const Json& block : printed["blocks"]) {
            const std::uint32_t base = block["base"];
            const std::vector<std::uint8_t> data = FromHex(block["data"]);
            ASSERT_EQ(data.size(), block["count"].get<size_t>());
            ASSERT_LE(data.size(), 256u);
            std::uint32_t check = base;
            for (size_t i = 0; i < data.size(); ++i) {
                sent[base + static_cast<std::uint32_t>(i)] = data[i];
                check ^= data[i];
            }
            EXPECT_EQ(block["check"].get<std::uint32_t>(), check);
        }
        EXPECT_EQ(sent, expected);
    }
}

TEST(Inspect, MalformedMissingAndEmptyFiles) {
    farsend::testing::TempDirectory temp;
    const std::string bad = temp.Touch("bad.hex", "00004000 01 02\r\n 03 0x4\n")
                                .string();  // the "x" at line 2, column 6
    farsend::testing::ProcessResult run = farsend::testing::RunFarsend({"inspect", bad});
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find(bad + ": line 2, column 6:"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");

    const std::string backwards = temp.Touch("back.hex", "00004000 01\n00003000 02\n").string();
    run = farsend::testing::RunFarsend({"inspect", "--json", backwards});
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find(backwards + ": line 2, column 1:"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");

    run = farsend::testing::RunFarsend({"inspect", (temp.path() / "none.hex").string()});
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find("none.hex: no such file"), std::string::npos) << run.err;

    run = farsend::testing::RunFarsend({"inspect", temp.path().string()});
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find("a directory"), std::string::npos) << run.err;

    // No data byte at all: programming would only erase the target.
    const std::string empty = temp.Touch("empty.hex", " \r\n00004000\r\n").string();
    run = farsend::testing::RunFarsend({"inspect", "--json", empty});
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find(empty + ": no data bytes"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

// --serial: the blocks as they would go out for one unit, against the same
// file inspected without it; refusals exit 4 (range or number) or 2 (the
// command line) and print nothing on standard output.
TEST(Inspect, SerialIsStampedIntoTheBlocksAndOnlyThere) {
    farsend::testing::TempDirectory temp;
    // 300 bytes at 0x4000 (two adjacent blocks), a gap, 16 bytes at 0x4130.
    sim::ImageRun first{0x4000, {}}, second{0x4130, {}};
    for (int i = 0; i < 300; ++i) first.data.push_back(static_cast<std::uint8_t>(i * 13 + 5));
    for (int i = 0; i < 16; ++i) second.data.push_back(static_cast<std::uint8_t>(0xA0 + i));
    const std::string path = (temp.path() / "gap.hex").string();
    ASSERT_TRUE(sim::WriteImageFile(path, {first, second}));

    farsend::testing::ProcessResult run = farsend::testing::RunFarsend({"inspect", "--json", path});
    ASSERT_EQ(run.status, 0) << run.err;
    const Json plain = Json::parse(run.out);
    run = farsend::testing::RunFarsend(
        {"inspect", "--json", path, "--serial", "0x40FE:4:be", "--serial-value", "3735928559"});
    ASSERT_EQ(run.status, 0) << run.err;
    const Json stamped = Json::parse(run.out);
    EXPECT_EQ(stamped["serial"], Json::parse(R"({"address": 16638, "size": 4, "format": "be",
        "value": 3735928559, "bytes": "deadbeef", "touched_blocks": [0, 1]})"));
    ASSERT_EQ(stamped["blocks"].size(), plain["blocks"].size());
    const std::map<std::uint32_t, std::uint8_t> serial = {
        {0x40FE, 0xDE}, {0x40FF, 0xAD}, {0x4100, 0xBE}, {0x4101, 0xEF}};
    std::size_t written = 0;
    for (std::size_t i = 0; i < plain["blocks"].size(); ++i) {
        const Json& before = plain["blocks"][i];
        const Json& after = stamped["blocks"][i];
        EXPECT_EQ(after["base"], before["base"]);
        EXPECT_EQ(after["count"], before["count"]);
        const std::uint32_t base = after["base"];
        const std::vector<std::uint8_t> was = FromHex(before["data"]);
        const std::vector<std::uint8_t> now = FromHex(after["data"]);
        ASSERT_EQ(now.size(), was.size());
        std::uint32_t check = base;
        for (std::size_t j = 0; j < now.size(); ++j) {
            const auto at = serial.find(base + static_cast<std::uint32_t>(j));
            EXPECT_EQ(now[j], at == serial.end() ? was[j] : at->second) << base + j;
            written += at != serial.end();
            check ^= now[j];
        }
        EXPECT_EQ(after["check"].get<std::uint32_t>(), check) << "block " << i;
    }
    EXPECT_EQ(written, 4u);

    struct Case {
        std::vector<std::string> words;
        int status;
        std::string out;  // part of standard output; empty: nothing at all
        std::string err;  // part of standard error
    };
    const std::vector<Case> cases = {
        {{"--serial", "412B:1:dec", "--serial-value", "7"},
         0,
         "serial 7 as 0x0000412B:1:dec (37) in block 2 (base 00004100)",
         ""},
        {{"--serial", "40FF:2", "--serial-value", "258"},
         0,
         "serial 258 as 0x000040FF:2:le (0201) in blocks 1 (base 00004000) and 2 (base 00004100)",
         ""},
        {{"--serial", "412A:8", "--serial-value", "1"}, 4, "", "crosses the gap"},
        {{"--serial", "413E:4", "--serial-value", "1"}, 4, "", "runs past the image's data"},
        {{"--serial", "4000:3:dec", "--serial-value", "1000"}, 4, "", "1000 does not fit"},
        {{"--serial", "4000:4:hex", "--serial-value", "1"}, 2, "", "format 'hex'"},
        {{"--serial-value", "1"}, 2, "", "--serial-value needs --serial"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.err + c.out);
        std::vector<std::string> words = {"inspect", path};
        words.insert(words.end(), c.words.begin(), c.words.end());
        run = farsend::testing::RunFarsend(words);
        EXPECT_EQ(run.status, c.status) << run.err;
        if (c.out.empty()) {
            EXPECT_EQ(run.out, "");
        } else {
            EXPECT_THAT(run.out, ::testing::HasSubstr(c.out));
        }
        EXPECT_THAT(run.err, ::testing::HasSubstr(c.err));
    }
}

}  // namespace
}  // namespace farsend::cli
