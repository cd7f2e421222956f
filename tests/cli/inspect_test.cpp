// inspect: the JSON the command prints is the plan of the programming run,
// and that plan carries exactly the sample image's bytes at their addresses.
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

}  // namespace
}  // namespace farsend::cli
