#include <chrono>
#include <nlohmann/json.hpp>

#include "cli/database_choice.h"
#include "cli/exit_status.h"
#include "cli/job_commands.h"
#include "common/printable_text.h"
#include "production/job_keys.h"
#include "units/record/unit_json.h"
#include "units/trusted_keys.h"

namespace farsend::cli {
namespace {

std::unique_ptr<units::UnitDatabase> OpenKeys(const CliOptions& options, Console& console) {
    const DatabaseChoice choice = ChooseDatabase(options);
    if (choice.location.empty()) {
        Complain(console,
                 "no unit database: give --db PATH|URL (neither XDG_DATA_HOME nor HOME "
                 "is set, so the default file has no place)");
        return nullptr;
    }
    try {
        units::DatabaseOptions open;
        open.createFolder = choice.isDefault;
        return units::UnitDatabase::Open(choice.location, open);
    } catch (const units::UnitDatabaseError& error) {
        Complain(console, error.what());
        return nullptr;
    }
}

int NewKeys(const CliOptions& options, Console& console) {
    std::string error;
    const std::optional<production::PublicKey> key =
        production::WriteNewKeyPair(options.argument, error);
    if (!key) {
        Complain(console, "keys new: " + error);
        return kExitUsage;
    }
    console.out << "made the key " << key->id << ": the secret key "
                << PrintableText(options.argument)
                << " (readable by you alone: keep it off the line), the public key "
                << PrintableText(options.argument) << ".pub (for farsend keys trust)\n";
    return kExitSuccess;
}

int ListTrusted(units::UnitDatabase& db, const CliOptions& options, Console& console) {
    const std::vector<units::TrustedKey> keys = units::ListKeys(db);
    if (options.json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const units::TrustedKey& key : keys) {
            list.push_back(
                {{"id", key.id},
                 {"trusted", units::FormatUtc(key.trusted)},
                 {"revoked", key.revoked ? nlohmann::ordered_json(units::FormatUtc(*key.revoked))
                                         : nlohmann::ordered_json()}});
        }
        console.out << units::DumpJson(nlohmann::ordered_json{{"keys", list}}) << "\n";
        return kExitSuccess;
    }
    if (keys.empty()) {
        console.out << "no keys trusted: unsigned jobs run\n";
        return kExitSuccess;
    }
    for (const units::TrustedKey& key : keys) {
        console.out << key.id << "  trusted " << units::FormatUtc(key.trusted)
                    << (key.revoked ? "  revoked " + units::FormatUtc(*key.revoked) : "") << "\n";
    }
    return kExitSuccess;
}

}  // namespace

int RunKeys(const CliOptions& options, Console& console) {
    if (options.action == "new") return NewKeys(options, console);
    std::string error;
    std::optional<production::PublicKey> key;
    if (options.action == "trust") {
        key = production::ReadPublicKeyFile(options.argument, error);
        if (!key) {
            Complain(console, "keys trust: " + error);
            return kExitUsage;
        }
    }
    const std::unique_ptr<units::UnitDatabase> db = OpenKeys(options, console);
    if (!db) return kExitDatabase;
    const auto now = std::chrono::system_clock::now();
    try {
        if (options.action == "list") return ListTrusted(*db, options, console);
        if (options.action == "trust") {
            const bool added =
                units::TrustKey(*db, {key->id, production::PublicKeyLine(*key), now, {}});
            console.out << (added ? "trusted the key " : "the key ") << key->id
                        << (added ? ": jobs it signs run, and unsigned ones no longer do\n"
                                  : " is trusted already\n");
            return kExitSuccess;
        }
        if (!units::RevokeKey(*db, options.argument, now)) {
            Complain(console, "keys revoke: no trusted key " + PrintableText(options.argument) +
                                  " (farsend keys list shows them)");
            return kExitUsage;
        }
        console.out << "revoked the key " << PrintableText(options.argument)
                    << ": jobs it signed are refused from now on\n";
        return kExitSuccess;
    } catch (const units::UnitDatabaseError& failure) {
        Complain(console, failure.what());
        return failure.kind() == units::UnitDatabaseError::Kind::KeyRevoked ? kExitUsage
                                                                            : kExitDatabase;
    }
}

}  // namespace farsend::cli
