// Whole programming runs, the way a programming job drives them: begin,
// erase progress, every block of an image file, end of data. Over the real
// link and reader thread to the simulated target, in virtual time; the
// target's flash must end up equal to the image.
#include <gtest/gtest.h>

#include <filesystem>

#include "protocol/exchanges.h"
#include "protocol/exchanges_fixture.h"
#include "protocol/image_file.h"
#include "protocol/image_reader.h"
#include "sim/sample_firmware.h"
#include "support/temp_directory.h"

namespace farsend::protocol {
namespace {

using namespace farsend::protocol::testing;
using sim::ImageRun;

sim::FlashContents FlashOf(const std::vector<ImageRun>& runs) {
    sim::FlashContents flash;
    for (const ImageRun& run : runs) {
        for (size_t i = 0; i < run.data.size(); ++i) {
            flash[run.address + static_cast<uint32_t>(i)] = run.data[i];
        }
    }
    return flash;
}

// Three runs with gaps, the last ending inside a block: enough to cross
// block and gap boundaries without a long run.
std::vector<ImageRun> SmallImage() {
    std::vector<ImageRun> runs;
    const uint32_t addresses[] = {0x4000, 0x4400, 0x5010};
    const size_t sizes[] = {600, 256, 77};
    for (int r = 0; r < 3; ++r) {
        ImageRun run;
        run.address = addresses[r];
        for (size_t i = 0; i < sizes[r]; ++i) run.data.push_back(static_cast<uint8_t>(i * 31 + r));
        runs.push_back(run);
    }
    return runs;
}

const sim::SampleImage& Sample(sim::SampleVariant variant, sim::SampleVersion version,
                               bool factory) {
    static const std::vector<sim::SampleImage> set = sim::SampleImageSet();
    for (const sim::SampleImage& image : set) {
        if (image.variant == variant && image.version == version && image.factory == factory) {
            return image;
        }
    }
    throw std::logic_error("no such sample image");
}

struct RunCase {
    std::string name;
    uint32_t reportLength;
    bool legacy;
    uint32_t baud;
    bool factory;
    std::vector<ImageRun> runs;
};

std::vector<RunCase> RunCases() {
    using sim::SampleVariant;
    using sim::SampleVersion;
    // One whole sample image (the smallest, 74 KB, ending on a block
    // boundary); the other set-ups get the small image, which keeps the suite
    // quick enough to repeat under the sanitizers and Wine.
    const sim::SampleImage& app = Sample(SampleVariant::ZigBee, SampleVersion::V2_0, false);
    return {
        {"SampleApplicationEndingOnABlockBoundary", 65, false, 0, false, app.runs},
        {"SmallFactoryImage", 65, false, 0, true, SmallImage()},
        {"SmallImageAt115200Baud", 65, false, 115200, false, SmallImage()},
        {"SmallImageReportOf9", 9, false, 0, false, SmallImage()},
        {"SmallImageReportOf33", 33, false, 9600, true, SmallImage()},
        {"SmallImageLegacyHid", 65, true, 0, false, SmallImage()},
    };
}

class ProgrammingRun : public ::testing::TestWithParam<RunCase> {};

TEST_P(ProgrammingRun, FlashEqualsTheImage) {
    const RunCase& c = GetParam();
    farsend::testing::TempDirectory directory;
    const std::filesystem::path path = directory.path() / "image.hex";
    ASSERT_TRUE(sim::WriteImageFile(path, c.runs));

    sim::SimOptions options;
    options.report_length = c.reportLength;
    options.legacy_hid = c.legacy;
    options.baud = c.baud;
    SimulatedSession s(options);
    ExchangeContext& context = s.context;

    ASSERT_EQ(ConnectTarget(context), protocol::ExchangeResult::Ok);
    ASSERT_EQ(c.factory ? BeginProgramBootloaderAndApplication(context)
                        : BeginProgramApplication(context),
              protocol::ExchangeResult::Ok);
    const ResponseCode modeAck = c.factory ? ResponseCode::ProgramBootloaderAndApplicationAck
                                           : ResponseCode::ProgramApplicationAck;
    int erased = 0;
    for (;;) {
        const ResponseCode code = AwaitResponse(context);
        if (code == ResponseCode::BlockErased) {
            ++erased;
            continue;
        }
        ASSERT_EQ(code, modeAck);
        break;
    }
    EXPECT_EQ(erased, 16);

    ImageFile file;
    ASSERT_TRUE(file.Open(path.string()));
    ImageReaderState state;
    ProgrammingBlockSequence sequence(file, state);
    FlashBlock block;
    int blocks = 0;
    for (;;) {
        const ProgrammingStep step = sequence.Next(block);
        if (step == ProgrammingStep::SendEndOfData) break;
        ASSERT_EQ(step, ProgrammingStep::SendBlock);
        ASSERT_EQ(SendFlashBlock(context, block), protocol::ExchangeResult::Ok)
            << "block " << blocks;
        ++blocks;
    }
    EXPECT_EQ(SendEndOfData(context), protocol::ExchangeResult::Ok);

    EXPECT_EQ(s.Target().Flash(), FlashOf(c.runs));
    EXPECT_EQ(s.Target().BlocksAccepted(), static_cast<uint32_t>(blocks));
    EXPECT_EQ(s.Target().BlocksRefused(), 0u);
    EXPECT_EQ(s.Target().TargetsProgrammed(), 1u);
    EXPECT_EQ(s.simulation->Bridge().Stats().handoffTimeouts, 0u);
    EXPECT_TRUE(LinkIsOpen(s.link));
    EXPECT_EQ(DisconnectTarget(context), protocol::ExchangeResult::Ok);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProgrammingRun, ::testing::ValuesIn(RunCases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace farsend::protocol
