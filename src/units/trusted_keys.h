// The public keys whose signatures the line accepts on production jobs, kept
// in the unit database so that every station on one server trusts the same
// ones. A revoked key stays in the table, revoked: a job it signed is refused
// from then on, and it cannot be trusted again.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "units/unit_database.h"

namespace farsend::units {

struct TrustedKey {
    std::string id;         // 16 hexadecimal digits
    std::string publicKey;  // the key's line, as its .pub file holds it
    TimePoint trusted;
    std::optional<TimePoint> revoked;
};

// Adds the key. False when it is trusted already; throws KeyRevoked when it
// was revoked.
bool TrustKey(UnitDatabase& db, const TrustedKey& key);

std::vector<TrustedKey> ListKeys(UnitDatabase& db);

// The key of that id, revoked ones included; nothing when there is none.
std::optional<TrustedKey> FindKey(UnitDatabase& db, const std::string& id);

// Marks the key revoked at `when`. False when there is no key of that id or
// it was revoked already.
bool RevokeKey(UnitDatabase& db, const std::string& id, TimePoint when);

}  // namespace farsend::units
