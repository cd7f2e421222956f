// Report lengths from a HID report descriptor, counted the way Windows counts
// them in its capability record: the longest report of each kind, plus one
// byte for the report ID, whether or not the device numbers its reports.
// hidraw offers only the raw descriptor, and the link sizes its reports from
// these lengths, so they must match what the Windows backend reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace farsend::link {

struct ReportLengths {
    uint16_t input = 0;    // 0: the device has no input reports
    uint16_t output = 0;   // 0: no output reports
    uint16_t feature = 0;  // 0: no feature reports
    // True when the descriptor declares report IDs. hidraw then puts the ID
    // first on read; otherwise the backend adds the 0 that Windows shows.
    bool usesReportIds = false;
};

// Nothing (std::nullopt) when the descriptor is empty, truncated or
// malformed: an item running past the end, Pop without Push, Push nested
// too deep, report ID 0, or a report longer than 65534 bytes.
std::optional<ReportLengths> ParseReportDescriptor(const uint8_t* data, size_t size);

}  // namespace farsend::link
