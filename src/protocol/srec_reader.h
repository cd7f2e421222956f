// Motorola S-records: "S" type, count, address, data, checksum, one to a
// line. S0 is the header; S1, S2 and S3 carry data at 16-, 24- and 32-bit
// addresses; S5 and S6 count the data records and are checked; S7, S8 and S9
// give the start address and end the file.
#pragma once

#include <string_view>

#include "protocol/image_segments.h"

namespace farsend::protocol {

DecodedImage ReadSRecords(std::string_view text);

}  // namespace farsend::protocol
