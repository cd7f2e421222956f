// Sample images go through the host's image reader into the simulated target,
// block by block; the target's flash must equal the image, and the flash-out
// file must read back to the same flash.
#include <gtest/gtest.h>

#include "protocol/flash_block.h"
#include "protocol/image_file.h"
#include "protocol/image_reader.h"
#include "sim/flash_file.h"
#include "sim/sample_firmware.h"
#include "sim/simulated_target.h"
#include "sim/target_test_support.h"

namespace farsend::sim {
namespace {

using namespace farsend::sim::testing;

FlashContents FlashOfRuns(const std::vector<ImageRun>& runs) {
    FlashContents flash;
    for (const ImageRun& run : runs) {
        for (size_t i = 0; i < run.data.size(); ++i) {
            flash[run.address + static_cast<uint32_t>(i)] = run.data[i];
        }
    }
    return flash;
}

// Reads a token-format image the way a programming run does and returns what
// a perfect flash would hold.
FlashContents ReadBack(const std::string& text) {
    protocol::ImageFile file;
    file.OpenBytes(text);
    protocol::ImageReaderState state;
    protocol::ProgrammingBlockSequence sequence(file, state);
    FlashContents flash;
    protocol::FlashBlock block;
    for (;;) {
        const protocol::ProgrammingStep step = sequence.Next(block);
        if (step == protocol::ProgrammingStep::SendEndOfData) break;
        EXPECT_EQ(step, protocol::ProgrammingStep::SendBlock);
        if (step != protocol::ProgrammingStep::SendBlock) break;
        for (uint32_t i = 0; i < block.count; ++i) flash[block.baseAddress + i] = block.data[i];
    }
    return flash;
}

TEST(SimulatedTargetImages, ProgrammedFlashEqualsTheImageAndReadsBack) {
    int tested = 0;
    for (const SampleImage& image : SampleImageSet()) {
        // One application image ending on a block boundary, one ending inside
        // a block, one factory image.
        const bool wanted = (image.variant == SampleVariant::ZigBee &&
                             image.version == SampleVersion::V2_0 && !image.factory) ||
                            (image.variant == SampleVariant::Bluetooth &&
                             image.version == SampleVersion::V1_0 && !image.factory) ||
                            (image.variant == SampleVariant::Bluetooth &&
                             image.version == SampleVersion::V1_5 && image.factory);
        if (!wanted) continue;
        ++tested;
        SCOPED_TRACE(image.fileName);
        TargetDriver d;
        d.Connect();
        const Bytes& start = image.factory ? kProgramBoth : kProgramApplication;
        const Bytes& ack = image.factory ? kProgramBothAck : kProgramApplicationAck;
        EXPECT_EQ(d.Exchange(start, kT0 + 1), Cat({ack, Repeat(kBlockErased, 16), ack}));

        protocol::ImageFile file;
        file.OpenBytes(FormatImage(image.runs));
        protocol::ImageReaderState state;
        protocol::ProgrammingBlockSequence sequence(file, state);
        protocol::FlashBlock block;
        int64_t t = kT0 + 2;
        for (;;) {
            const protocol::ProgrammingStep step = sequence.Next(block);
            if (step == protocol::ProgrammingStep::SendEndOfData) break;
            ASSERT_EQ(step, protocol::ProgrammingStep::SendBlock);
            ASSERT_EQ(d.Exchange(kBlockFollows, t), ack);
            const protocol::FlashBlockBytes wire = protocol::SerializeFlashBlock(block);
            ASSERT_EQ(d.Exchange(Bytes(wire.begin(), wire.end()), t), ack);
            ++t;
        }
        EXPECT_EQ(d.Exchange(kEndOfData, t), kDone);
        EXPECT_EQ(d.target.BlocksRefused(), 0u);
        EXPECT_EQ(d.target.TargetsProgrammed(), 1u);

        const FlashContents flash = d.target.Flash();
        EXPECT_EQ(flash.size(), image.DataBytes());
        EXPECT_TRUE(flash == FlashOfRuns(image.runs));
        EXPECT_TRUE(ReadBack(FormatFlashFile(flash)) == flash);
    }
    EXPECT_EQ(tested, 3);
}

}  // namespace
}  // namespace farsend::sim
