// A text value of a library file's version resource, e.g. its "FileVersion".
#pragma once

#include <cstddef>

namespace farsend::link {

// The longest value kept from the resource, before the output cut.
constexpr size_t kMaxVersionValue = 254;

// Looks `key` up in the file's string tables, in this order, and takes the
// first that has it: 040904E4 (US English, Windows Latin-1), 040904B0 (US
// English, Unicode), 000004E4 (neutral, Windows Latin-1). Copies the value,
// cut to kMaxVersionValue and then to `outputLength` characters, into
// `output`, which must have room for outputLength + 1 characters. The output
// is empty when the file has no version resource or no table has the key.
// Returns `output`.
char* GetFileVersionString(const char* fileName, const char* key, char* output,
                           size_t outputLength);

}  // namespace farsend::link
