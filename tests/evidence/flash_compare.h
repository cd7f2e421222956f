// The check behind "success only when the flash holds the image": both the
// image and the simulated target's flash-out file are read through the
// protocol's own image reader into address -> byte maps and compared.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace farsend::evidence {

using ByteMap = std::map<uint32_t, uint8_t>;

// The bytes a programming run of the file at `path` writes, by address.
// nullopt when the file cannot be opened or is malformed; `error` says why.
std::optional<ByteMap> ReadByteMap(const std::string& path, std::string& error);

// Empty when equal; otherwise the first difference, in words
// ("0x4105: flash 00, image 3F", "0x5000: missing from the flash", ...).
std::string FirstDifference(const ByteMap& flash, const ByteMap& image);

}  // namespace farsend::evidence
