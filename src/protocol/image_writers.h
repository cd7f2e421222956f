// Intel HEX and S-records written from an image's segments, as objcopy
// writes them: 16 data bytes to a record, the address records they need, and
// the end record.
#pragma once

#include <string>
#include <vector>

#include "protocol/image_text.h"

namespace farsend::protocol {

// Data records (00) behind an extended linear address record (04) for each
// 64 KB they enter, then ":00000001FF".
std::string WriteIntelHex(const std::vector<ImageSegment>& segments);
// An S0 header, S3 data records with 32-bit addresses, a count record (S5,
// or S6 beyond 65535 records) and an S7 end record.
std::string WriteSRecords(const std::vector<ImageSegment>& segments);

}  // namespace farsend::protocol
