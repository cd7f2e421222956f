#include "production/encoding.h"

#include <sodium.h>

namespace farsend::production {

bool SodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

std::string ToBase64(const std::vector<std::uint8_t>& bytes) {
    const std::size_t length =
        sodium_base64_encoded_len(bytes.size(), sodium_base64_VARIANT_ORIGINAL);
    std::string text(length, '\0');
    sodium_bin2base64(text.data(), length, bytes.data(), bytes.size(),
                      sodium_base64_VARIANT_ORIGINAL);
    text.resize(length - 1);  // without its terminating zero
    return text;
}

std::optional<std::vector<std::uint8_t>> FromBase64(const std::string& text) {
    std::vector<std::uint8_t> bytes(text.size() / 4 * 3 + 3);
    std::size_t length = 0;
    const char* end = nullptr;
    if (sodium_base642bin(bytes.data(), bytes.size(), text.data(), text.size(), nullptr, &length,
                          &end, sodium_base64_VARIANT_ORIGINAL) != 0 ||
        end != text.data() + text.size()) {
        return std::nullopt;
    }
    bytes.resize(length);
    return bytes;
}

std::string Sha256Hex(std::string_view data) {
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(data.data()), data.size());
    char hex[crypto_hash_sha256_BYTES * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    return hex;
}

}  // namespace farsend::production
