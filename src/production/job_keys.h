// Ed25519 keys for signing production jobs, and their files.
//
// A key pair is two files: KEYFILE, the secret key, made readable by its
// owner alone and never printed; and KEYFILE.pub, the public key, which is
// what a line trusts. Each is one line of text:
//   farsend-secret-key ID BASE64   (the 64 bytes libsodium keeps a secret key in)
//   farsend-public-key ID BASE64   (32 bytes)
// ID names the key everywhere else: the first 16 hexadecimal digits of the
// public key's SHA-256.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "production/job_file.h"

namespace farsend::production {

struct PublicKey {
    std::string id;
    std::array<std::uint8_t, 32> key{};
};

// The key and its id; nothing, with `error` set, when the text is not a
// public key line or its id is not the key's.
std::optional<PublicKey> ParsePublicKey(const std::string& text, std::string& error);
std::string PublicKeyLine(const PublicKey& key);  // with its newline
std::string KeyIdOf(const std::array<std::uint8_t, 32>& key);

// Makes a new pair: `secretPath` (created, never replaced, its owner's alone) and
// `secretPath`.pub. The public key, or nothing with `error` set; a half-made
// pair is removed.
std::optional<PublicKey> WriteNewKeyPair(const std::string& secretPath, std::string& error);

// Reads a public key file.
std::optional<PublicKey> ReadPublicKeyFile(const std::string& path, std::string& error);

// Signs `job` with the secret key in `secretPath`, replacing any signature
// it had. False with `error` set (which never quotes the file's content).
bool SignJob(ProductionJob& job, const std::string& secretPath, std::string& error);

// Whether the job carries a valid signature by `key` (its id must match).
bool SignatureHolds(const ProductionJob& job, const PublicKey& key);

}  // namespace farsend::production
