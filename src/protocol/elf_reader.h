// ELF executables, 32- and 64-bit little-endian, as a linker writes them.
// The file bytes of each PT_LOAD segment go to its physical address (the load
// address: where initialised data lies in flash before start-up copies it to
// its run-time, virtual address in RAM). Memory beyond a segment's file size
// (.bss) is cleared by start-up code and not programmed.
#pragma once

#include <string_view>

#include "protocol/image_segments.h"

namespace farsend::protocol {

constexpr char kElfMagic[] =
    "\x7F"
    "ELF";

DecodedImage ReadElf(std::string_view file);

}  // namespace farsend::protocol
