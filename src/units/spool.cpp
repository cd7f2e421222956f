#include "units/spool.h"

#include <cstdio>
#include <random>

#include "common/database_name.h"
#include "units/record/unit_json.h"
#include "units/spool_file.h"

namespace farsend::units {

std::filesystem::path SpoolLocationFor(const std::string& location,
                                       const char* (*getenv)(const char*)) {
    const DatabaseNameResult parsed = ParseDatabaseName(location);
    const bool url = parsed.name && parsed.name->engine == DatabaseEngine::PostgreSQL;
    if (!url) return std::filesystem::path(location + ".spool");
    const std::string home = DefaultDatabaseLocation(getenv);
    if (home.empty()) return {};
    // FNV-1a: a name that stays the same from one run and build to the next,
    // which std::hash does not promise.
    std::uint64_t digest = 14695981039346656037ull;
    // Of the URL with its password masked: the name shows nothing of it, and
    // stays the same when only the password changes.
    for (const unsigned char byte : MaskedDatabaseName(parsed.name->location)) {
        digest ^= byte;
        digest *= 1099511628211ull;
    }
    char name[40];
    std::snprintf(name, sizeof name, "spool-%016llx.jsonl",
                  static_cast<unsigned long long>(digest));
    return std::filesystem::path(home).parent_path() / name;
}

std::string NewRecordId() {
    static thread_local std::random_device entropy;
    static const char kDigits[] = "0123456789abcdef";
    std::string id;
    for (int word = 0; word < 4; ++word) {
        std::uint32_t bits = entropy();
        for (int digit = 0; digit < 8; ++digit, bits >>= 4) id += kDigits[bits & 0xf];
    }
    return id;
}

std::string SpoolLine(const UnitRow& row) {
    return UnitJsonLine(row, UnitJsonForm::Spool);
}

std::optional<UnitRow> ParseSpoolLine(const std::string& line) {
    return ParseUnitJsonLine(line, UnitJsonForm::Spool);
}

bool AppendToSpool(const std::filesystem::path& spool, const UnitRow& row, std::string& error) {
    const SpoolLock lock(spool);
    if (!lock.Held()) {
        error = lock.error();
        return false;
    }
    return AppendAndSync(spool, SpoolLine(row) + "\n", error);
}

}  // namespace farsend::units
