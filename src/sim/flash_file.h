// The simulated target's flash and the firmware file written from it.
//
// Only programmed bytes are kept (an erased flash is empty). The file lists
// every run of consecutive programmed addresses as an 8-digit address token on
// its own line, followed by the run's bytes as 2-digit tokens, 16 to a line.
// Hex digits are upper case, lines end in "\n" on every platform, so the same
// flash gives the same file everywhere, and the image reader reads it back.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace farsend::sim {

using FlashContents = std::map<uint32_t, uint8_t>;

std::string FormatFlashFile(const FlashContents& flash);

// Writes the file; on failure `error` says which file and why.
bool WriteFlashFile(const std::string& path, const FlashContents& flash, std::string& error);

}  // namespace farsend::sim
