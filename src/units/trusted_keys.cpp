#include "units/trusted_keys.h"

#include "units/soci.h"

namespace farsend::units {
namespace {

struct KeyColumns {
    std::string id, publicKey, trusted, revoked;
    soci::indicator revokedInd = soci::i_null;

    void BindInto(soci::statement& statement) {
        statement.exchange(soci::into(id));
        statement.exchange(soci::into(publicKey));
        statement.exchange(soci::into(trusted));
        statement.exchange(soci::into(revoked, revokedInd));
    }
    TrustedKey Key() const {
        TrustedKey key{id, publicKey, ParseUtc(trusted).value_or(TimePoint{}), std::nullopt};
        if (revokedInd == soci::i_ok) key.revoked = ParseUtc(revoked);
        return key;
    }
};

constexpr const char* kSelect =
    "SELECT id, public_key, trusted_time, revoked_time FROM signing_keys";

}  // namespace

bool TrustKey(UnitDatabase& db, const TrustedKey& key) {
    bool added = false;
    db.Run("trusting a key", true, [&](soci::session& sql, Engine) {
        const std::optional<TrustedKey> known = [&]() -> std::optional<TrustedKey> {
            KeyColumns columns;
            sql << std::string(kSelect) + " WHERE id = :id", soci::use(key.id, "id"),
                soci::into(columns.id), soci::into(columns.publicKey), soci::into(columns.trusted),
                soci::into(columns.revoked, columns.revokedInd);
            if (!sql.got_data()) return std::nullopt;
            return columns.Key();
        }();
        if (known && known->revoked) {
            throw UnitDatabaseError(UnitDatabaseError::Kind::KeyRevoked,
                                    "the key " + key.id + " was revoked on " +
                                        FormatUtc(*known->revoked) +
                                        " and stays revoked: make a new key pair instead");
        }
        if (known) return;
        const std::string trusted = FormatUtc(key.trusted);
        sql << "INSERT INTO signing_keys (id, public_key, trusted_time) VALUES (:id, :key, :time)",
            soci::use(key.id, "id"), soci::use(key.publicKey, "key"), soci::use(trusted, "time");
        added = true;
    });
    return added;
}

std::vector<TrustedKey> ListKeys(UnitDatabase& db) {
    std::vector<TrustedKey> keys;
    db.Run("listing the keys", false, [&](soci::session& sql, Engine) {
        KeyColumns columns;
        soci::statement statement(sql);
        columns.BindInto(statement);
        statement.alloc();
        statement.prepare(std::string(kSelect) + " ORDER BY trusted_time, id");
        statement.define_and_bind();
        statement.execute();
        while (statement.fetch()) keys.push_back(columns.Key());
    });
    return keys;
}

std::optional<TrustedKey> FindKey(UnitDatabase& db, const std::string& id) {
    for (TrustedKey& key : ListKeys(db)) {
        if (key.id == id) return key;
    }
    return std::nullopt;
}

bool RevokeKey(UnitDatabase& db, const std::string& id, TimePoint when) {
    bool revoked = false;
    db.Run("revoking a key", true, [&](soci::session& sql, Engine) {
        const std::string time = FormatUtc(when);
        soci::statement statement = (sql.prepare << "UPDATE signing_keys SET revoked_time = :time"
                                                    " WHERE id = :id AND revoked_time IS NULL",
                                     soci::use(time, "time"), soci::use(id, "id"));
        statement.execute(true);
        revoked = statement.get_affected_rows() > 0;
    });
    return revoked;
}

}  // namespace farsend::units
