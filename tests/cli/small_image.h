// A Bluetooth 1.5 application image of two blocks, for process tests that
// need many quick units rather than a realistic image.
#pragma once

#include <cstdint>
#include <filesystem>

#include "sim/sample_firmware.h"

namespace farsend::testing {

inline bool WriteSmallImage(const std::filesystem::path& file) {
    sim::ImageRun run;
    run.address = 0x4000;
    for (int i = 0; i < 300; ++i) run.data.push_back(static_cast<std::uint8_t>(i));
    return sim::WriteImageFile(file, {run});
}

}  // namespace farsend::testing
