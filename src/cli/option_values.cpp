#include "cli/option_values.h"

#include "protocol/serial_stamp.h"

namespace farsend::cli {

std::optional<std::uint64_t> DecimalNumber(const std::string& text) {
    if (text.size() > 1 && text.front() == '0') return std::nullopt;
    return protocol::ParseSerialNumber(text);
}

// Checks the word before CLI11 converts it.
CLI::Validator Decimal() {
    return CLI::Validator(
        [](std::string& text) {
            return DecimalNumber(text) ? std::string() : "'" + text + "': " + kDecimalForm;
        },
        "N");
}

// ADDR as --serial takes it: hexadecimal, with or without 0x, at most
// FFFFFFFF.
std::optional<std::uint32_t> ParseAddress(std::string text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text = text.substr(2);
    }
    if (text.empty() || text.size() > 8) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) return std::nullopt;
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return value;
}

}  // namespace farsend::cli
