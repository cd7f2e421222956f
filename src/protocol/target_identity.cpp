#include "protocol/target_identity.h"

#include <cstdint>
#include <limits>

namespace farsend::protocol {

namespace {

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads one decimal number starting at `from`; returns where it ended, or
// `from` itself when there was no digit (value 0), as strtol does.
size_t ReadDecimal(const std::string& text, size_t from, int32_t& value) {
    size_t at = from;
    while (at < text.size() && IsCSpace(text[at])) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    if (at >= text.size() || !IsDigit(text[at])) {
        value = 0;
        return from;
    }
    // Accumulated as a magnitude and clamped, so that a long run of digits
    // from a misbehaving target cannot overflow.
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t magnitude = 0;
    while (at < text.size() && IsDigit(text[at])) {
        magnitude = magnitude * 10 + (text[at] - '0');
        if (magnitude > kLimit) magnitude = kLimit;
        ++at;
    }
    if (negative) {
        value = static_cast<int32_t>(-magnitude);
    } else {
        value = static_cast<int32_t>(magnitude >= kLimit ? kLimit - 1 : magnitude);
    }
    return at;
}

}  // namespace

int32_t VariantFromReplyText(const std::string& text, int32_t unchanged) {
    if (text.find("Bluetooth") != std::string::npos) return kVariantBluetooth;
    if (text.find("ZigBee") != std::string::npos) return kVariantZigBee;
    return unchanged;
}

void ApplyVersionText(const std::string& text, TargetIdentity& identity) {
    size_t at = ReadDecimal(text, 0, identity.major);
    if (at >= text.size() || text[at] != '.') return;
    at = ReadDecimal(text, at + 1, identity.minor);
    if (at >= text.size() || text[at] != '.') return;
    ReadDecimal(text, at + 1, identity.build);
}

}  // namespace farsend::protocol
