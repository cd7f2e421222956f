// Times as the records and the unit database write them: whole seconds in
// UTC, "2024-05-01T12:34:56Z", whatever the local time zone.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace farsend {

std::string FormatUtc(std::chrono::system_clock::time_point when);
// Also takes "2024-05-01", "2024-05-01T12:34" and a space for the T, all as
// UTC; nothing for anything else, a 31 April included, and for a time the
// system clock cannot hold (before 1678 or after 2262 on Linux).
std::optional<std::chrono::system_clock::time_point> ParseUtc(const std::string& text);

}  // namespace farsend
