#include "cli/sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_directory.h"

namespace farsend::cli {
namespace {

struct Vector {
    std::string message;
    std::string digest;
};

// FIPS 180-4 examples (and the 896-bit two-block message).
const std::vector<Vector> kVectors = {
    {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnop"
     "qrsmnopqrstnopqrstu",
     "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

TEST(Sha256, FipsVectors) {
    for (const Vector& v : kVectors) {
        EXPECT_EQ(Sha256Hex(v.message), v.digest) << "message of " << v.message.size() << " bytes";
    }
}

// The digest must not depend on how the data is cut into updates: lengths
// around the 55/56/64-byte padding boundaries, fed in odd pieces.
TEST(Sha256, ChunkingDoesNotMatter) {
    for (size_t length : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 1000u}) {
        std::string message;
        for (size_t i = 0; i < length; ++i) message += static_cast<char>('a' + i % 26);
        const std::string whole = Sha256Hex(message);
        for (size_t piece : {1u, 3u, 7u, 63u, 64u}) {
            Sha256 hash;
            for (size_t at = 0; at < length; at += piece) {
                hash.Update(std::string_view(message).substr(at, piece));
            }
            const auto digest = hash.Finish();
            char hex[65] = {};
            for (size_t i = 0; i < 32; ++i) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
            EXPECT_EQ(hex, whole) << length << " bytes in pieces of " << piece;
        }
    }
}

TEST(Sha256, OfFileMatchesTheBytesAndRefusesAMissingFile) {
    farsend::testing::TempDirectory temp;
    std::string bytes(200000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + (i >> 9));
    const auto file = temp.Touch("image.hex", bytes);
    EXPECT_EQ(Sha256OfFile(file.string()), Sha256Hex(bytes));
    EXPECT_EQ(Sha256OfFile((temp.path() / "missing.hex").string()), std::nullopt);
}

}  // namespace
}  // namespace farsend::cli
