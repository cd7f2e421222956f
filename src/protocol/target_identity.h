// What the target says about itself in answer to the two queries, and how
// the reply texts are read.
#pragma once

#include <cstdint>
#include <string>

namespace farsend::protocol {

// The variant field holds the values of firmware::DeviceType; the protocol
// layer sits below it, so the numbers are repeated here.
constexpr int32_t kVariantNotReported = 0;
constexpr int32_t kVariantBluetooth = 1;
constexpr int32_t kVariantZigBee = 2;

// Filled by the variant query (variant) and the version query (major, minor,
// build). The caller zeroes it before the queries: a field the target's text
// does not reach keeps the value it had.
struct TargetIdentity {
    int32_t variant = kVariantNotReported;
    int32_t major = 0;
    int32_t minor = 0;
    int32_t build = 0;
};

// The variant a reply text names: Bluetooth when it contains "Bluetooth",
// else ZigBee when it contains "ZigBee" (both case-sensitive), else
// `unchanged`.
int32_t VariantFromReplyText(const std::string& text, int32_t unchanged);

// Reads "major[.minor[.build]]" from the start of a version text into
// `identity`. Each number is read as the C library reads a decimal (leading
// white space and a sign accepted, 0 when no digit follows) but saturates at
// the 32-bit range instead of overflowing. Major is always written; minor
// only when a '.' follows major, build only when a '.' follows minor.
void ApplyVersionText(const std::string& text, TargetIdentity& identity);

}  // namespace farsend::protocol
