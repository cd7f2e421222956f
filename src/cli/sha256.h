// SHA-256 (FIPS 180-4) of a firmware file, for the unit records.
//
// libsodium's where the build links it (the Linux build, for the job
// signatures); the Windows build, which has no libsodium yet, keeps the small
// one written here. The tests check either against the FIPS 180-4 examples
// ("", "abc", the 448-bit message, one million 'a') and across chunk
// boundaries.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#if FARSEND_UNIT_DATABASE
#include <sodium.h>
#endif

namespace farsend::cli {

class Sha256 {
public:
    Sha256();
    void Update(const void* data, std::size_t length);
    void Update(std::string_view text) { Update(text.data(), text.size()); }
    // The digest; the object must not be updated afterwards.
    std::array<std::uint8_t, 32> Finish();

private:
#if FARSEND_UNIT_DATABASE
    crypto_hash_sha256_state state_;
#else
    void Compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> buffer_{};
    std::size_t buffered_ = 0;
    std::uint64_t totalBytes_ = 0;
#endif
};

// Lower-case hexadecimal, 64 characters.
std::string Sha256Hex(std::string_view data);
// The file's digest in hexadecimal; nothing when it cannot be read whole.
std::optional<std::string> Sha256OfFile(const std::string& path);

}  // namespace farsend::cli
