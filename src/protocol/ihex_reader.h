// Intel HEX: records ":LLAAAATT<data>CC", one to a line. Types 00 (data),
// 01 (end of file), 02 and 04 (extended segment and linear address) place
// the data; 03 and 05 (start address) are read and not programmed.
#pragma once

#include <string_view>

#include "protocol/image_segments.h"

namespace farsend::protocol {

DecodedImage ReadIntelHex(std::string_view text);

}  // namespace farsend::protocol
