// Base64 and SHA-256, as the job format and the key files carry them,
// through libsodium.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace farsend::production {

// Standard base64 with padding.
std::string ToBase64(const std::vector<std::uint8_t>& bytes);
// Nothing when `text` is not standard padded base64.
std::optional<std::vector<std::uint8_t>> FromBase64(const std::string& text);

// Lower-case hexadecimal, 64 characters.
std::string Sha256Hex(std::string_view data);

// libsodium initialised once; false when it cannot be (no source of
// randomness), and nothing may be signed then.
bool SodiumReady();

}  // namespace farsend::production
