// The bytes of the bridge's framing and feature reports, as the simulated
// bridge reads and writes them. Shared by the files of the simulated bridge
// only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace farsend::sim::bridge_wire {

constexpr uint8_t kReportId = 0x00;
constexpr uint8_t kControlData = 0x20;
constexpr uint8_t kControlClose = 0x00;
constexpr uint8_t kLegacyMarker = 0xF6;
constexpr size_t kLegacyMaxPayload = 5;
constexpr size_t kFeatureLength = 6;
constexpr uint8_t kConfigFeature[kFeatureLength] = {0x00, 0x09, 0x08, 0x07, 0x06, 0x05};
constexpr uint8_t kCloseFeature[kFeatureLength] = {0x00, 0xF4, 0x00, 0x00, 0x00, 0x00};

}  // namespace farsend::sim::bridge_wire
