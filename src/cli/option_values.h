// The values of farsend's options that farsend reads itself rather than
// leave to CLI11: decimal numbers and addresses.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>
#include <string>

namespace farsend::cli {

// A number on the command line: decimal digits, without a leading zero
// (which C's rules, and CLI11's, would take for octal) or a 0x prefix.
constexpr const char* kDecimalForm =
    "numbers are decimal: digits only, without leading zeros or 0x (10, not 010 or 0xA)";

// The number, when TEXT has the decimal form.
std::optional<std::uint64_t> DecimalNumber(const std::string& text);

// Checks the word before CLI11 converts it.
CLI::Validator Decimal();

// ADDR as --serial takes it: hexadecimal, with or without 0x, at most
// FFFFFFFF.
std::optional<std::uint32_t> ParseAddress(std::string text);

}  // namespace farsend::cli
