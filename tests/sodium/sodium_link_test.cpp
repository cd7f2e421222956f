// The linked libsodium signs and checks an Ed25519 signature, and refuses
// the signature over a changed message.
#include <gtest/gtest.h>
#include <sodium.h>

#include <array>
#include <string>

TEST(Sodium, SignsAndVerifiesWithEd25519) {
    ASSERT_GE(sodium_init(), 0);
    std::array<unsigned char, crypto_sign_ed25519_SEEDBYTES> seed{};
    seed.fill(7);
    std::array<unsigned char, crypto_sign_ed25519_PUBLICKEYBYTES> publicKey{};
    std::array<unsigned char, crypto_sign_ed25519_SECRETKEYBYTES> secretKey{};
    ASSERT_EQ(crypto_sign_ed25519_seed_keypair(publicKey.data(), secretKey.data(), seed.data()), 0);
    std::string message = "production job 42";
    std::array<unsigned char, crypto_sign_ed25519_BYTES> signature{};
    const auto* bytes = reinterpret_cast<const unsigned char*>(message.data());
    ASSERT_EQ(crypto_sign_ed25519_detached(signature.data(), nullptr, bytes, message.size(),
                                           secretKey.data()),
              0);
    EXPECT_EQ(crypto_sign_ed25519_verify_detached(signature.data(), bytes, message.size(),
                                                  publicKey.data()),
              0);
    message[0] ^= 1;
    EXPECT_NE(crypto_sign_ed25519_verify_detached(signature.data(), bytes, message.size(),
                                                  publicKey.data()),
              0);
}
