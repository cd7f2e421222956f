#include "production/job_keys.h"

#include <sodium.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "common/printable_text.h"
#include "common/private_files.h"
#include "production/encoding.h"

namespace farsend::production {
namespace {

constexpr const char* kPublicTag = "farsend-public-key";
constexpr const char* kSecretTag = "farsend-secret-key";

// The three words of a key line; false when it has another shape.
bool Words(const std::string& text, const char* tag, std::string& id, std::string& base64) {
    std::istringstream line(text);
    std::string word, rest;
    if (!(line >> word >> id >> base64) || word != tag || (line >> rest)) return false;
    return true;
}

std::optional<std::string> ReadSmallFile(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + PrintableText(path) + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string text;
    char buffer[512];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (text.size() > 4096) break;  // a key file is one short line
    }
    return text;
}

}  // namespace

std::string KeyIdOf(const std::array<std::uint8_t, 32>& key) {
    return Sha256Hex(std::string_view(reinterpret_cast<const char*>(key.data()), key.size()))
        .substr(0, 16);
}

std::optional<PublicKey> ParsePublicKey(const std::string& text, std::string& error) {
    std::string id, base64;
    const auto bytes = Words(text, kPublicTag, id, base64) ? FromBase64(base64) : std::nullopt;
    if (!bytes || bytes->size() != 32) {
        error = std::string("not a public key file: it holds one line, \"") + kPublicTag +
                " ID BASE64\"";
        return std::nullopt;
    }
    PublicKey key;
    std::copy(bytes->begin(), bytes->end(), key.key.begin());
    key.id = KeyIdOf(key.key);
    if (id != key.id) {
        error = "the public key's id " + PrintableText(id) + " is not its key's (" + key.id +
                "): the file was changed";
        return std::nullopt;
    }
    return key;
}

std::string PublicKeyLine(const PublicKey& key) {
    return std::string(kPublicTag) + " " + key.id + " " +
           ToBase64(std::vector<std::uint8_t>(key.key.begin(), key.key.end())) + "\n";
}

std::optional<PublicKey> WriteNewKeyPair(const std::string& secretPath, std::string& error) {
    if (!SodiumReady()) {
        error = "libsodium cannot start (no source of randomness)";
        return std::nullopt;
    }
    PublicKey key;
    std::vector<std::uint8_t> secret(crypto_sign_SECRETKEYBYTES);
    crypto_sign_keypair(key.key.data(), secret.data());
    key.id = KeyIdOf(key.key);
    std::string line = std::string(kSecretTag) + " " + key.id + " " + ToBase64(secret) + "\n";
    sodium_memzero(secret.data(), secret.size());
    const std::string publicPath = secretPath + ".pub";
    if (std::filesystem::exists(publicPath)) {
        error = "cannot create " + PrintableText(publicPath) +
                ": it exists (a key file is never replaced)";
        return std::nullopt;
    }
    const bool secretWritten = WriteNewFile(secretPath, line, true, error);
    sodium_memzero(line.data(), line.size());
    if (!secretWritten) return std::nullopt;
    if (!WriteNewFile(publicPath, PublicKeyLine(key), false, error)) {
        RemoveFile(secretPath);
        return std::nullopt;
    }
    return key;
}

std::optional<PublicKey> ReadPublicKeyFile(const std::string& path, std::string& error) {
    const std::optional<std::string> text = ReadSmallFile(path, error);
    if (!text) return std::nullopt;
    std::optional<PublicKey> key = ParsePublicKey(*text, error);
    if (!key) error = PrintableText(path) + ": " + error;
    return key;
}

bool SignJob(ProductionJob& job, const std::string& secretPath, std::string& error) {
    if (!SodiumReady()) {
        error = "libsodium cannot start";
        return false;
    }
    std::optional<std::string> text = ReadSmallFile(secretPath, error);
    if (!text) return false;
    std::string id, base64;
    std::optional<std::vector<std::uint8_t>> secret;
    if (Words(*text, kSecretTag, id, base64)) secret = FromBase64(base64);
    sodium_memzero(text->data(), text->size());
    sodium_memzero(base64.data(), base64.size());
    const auto wipe = [&secret] {
        if (secret) sodium_memzero(secret->data(), secret->size());
    };
    if (!secret || secret->size() != crypto_sign_SECRETKEYBYTES) {
        wipe();
        error =
            PrintableText(secretPath) + " is not a secret key file (`farsend keys new` makes one)";
        return false;
    }
    // libsodium keeps the public key in the secret key's second half.
    std::array<std::uint8_t, 32> publicKey{};
    std::copy(secret->begin() + 32, secret->end(), publicKey.begin());
    if (KeyIdOf(publicKey) != id) {
        wipe();
        error = PrintableText(secretPath) + ": its id is not its key's: the file was changed";
        return false;
    }
    JobSignature signature;
    signature.keyId = id;
    signature.signature.resize(crypto_sign_BYTES);
    const std::string message = SignedText(job);
    crypto_sign_detached(signature.signature.data(), nullptr,
                         reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                         secret->data());
    wipe();
    job.signature = signature;
    return true;
}

bool SignatureHolds(const ProductionJob& job, const PublicKey& key) {
    if (!job.signature || job.signature->keyId != key.id ||
        job.signature->signature.size() != crypto_sign_BYTES || !SodiumReady()) {
        return false;
    }
    const std::string message = SignedText(job);
    return crypto_sign_verify_detached(job.signature->signature.data(),
                                       reinterpret_cast<const unsigned char*>(message.data()),
                                       message.size(), key.key.data()) == 0;
}

}  // namespace farsend::production
