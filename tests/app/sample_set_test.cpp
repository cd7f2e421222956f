// The sample firmware set against start-up and auto-selection: every image
// is found by the words that ask for it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/start_up.h"
#include "firmware/platform_paths.h"
#include "sim/sample_firmware.h"
#include "support/temp_directory.h"

namespace farsend::app {
namespace {

TEST(SampleSet, StartUpFindsEveryImageByItsWords) {
    farsend::testing::TempDirectory temp;
    std::string error;
    ASSERT_TRUE(sim::WriteSampleSet(temp.path(), &error)) << error;
    const std::string dir = *firmware::EightBitPath(temp.path());

    for (const sim::SampleImage& image : sim::SampleImageSet()) {
        StartUpInputs inputs;
        inputs.workingDirectory = ArgumentFromText(dir);
        inputs.arguments.emplace();
        std::vector<std::string> words = {
            dir, image.variant == sim::SampleVariant::Bluetooth ? "bluetooth" : "zigbee",
            image.version == sim::SampleVersion::V1_0   ? "1.0"
            : image.version == sim::SampleVersion::V1_5 ? "1.5"
                                                        : "2.0"};
        if (image.factory) words.push_back("factory");
        for (const std::string& word : words) inputs.arguments->push_back(ArgumentFromText(word));

        ToolSettings settings;
        StartUp(settings, inputs);
        EXPECT_EQ(settings.firmwarePath.Get(), firmware::JoinPath(dir, image.fileName));
        EXPECT_TRUE(settings.bluetoothAvailable && settings.zigbeeAvailable &&
                    settings.version10Available && settings.version15Available &&
                    settings.version20Available);
    }

    // With no words the defaults pick the Bluetooth 1.5 application image.
    StartUpInputs plain;
    plain.workingDirectory = ArgumentFromText(dir);
    plain.arguments = std::vector<CommandLineArgument>{ArgumentFromText(dir)};
    ToolSettings settings;
    StartUp(settings, plain);
    EXPECT_EQ(settings.firmwarePath.Get(), firmware::JoinPath(dir, "Farsend_15_bt.hex"));
}

}  // namespace
}  // namespace farsend::app
