// What --db names, read before anything is opened: a PostgreSQL URL or an
// SQLite file's path, and nothing else. A mistyped scheme, a keyword
// connection string or an in-memory database would otherwise quietly become
// a file (or no file at all), and the units recorded there would be lost to
// the line. Also the one place that knows where a password can hide in such
// a name, so that no message, record or file name ever shows it.
#pragma once

#include <optional>
#include <string>

namespace farsend {

enum class DatabaseEngine { SQLite, PostgreSQL };

struct DatabaseName {
    DatabaseEngine engine = DatabaseEngine::SQLite;
    // As given, except that a URL's scheme is written in lower case (the
    // PostgreSQL client takes no other).
    std::string location;
};

struct DatabaseNameResult {
    std::optional<DatabaseName> name;
    std::string error;  // why it is refused, the password masked
};

// A postgresql:// or postgres:// URL (the scheme in any case), else a file's
// path. Refused: other schemes ("postgresq://", "sqlite:x"; a path that
// starts with "./" or "/" never counts as one), SQLite's "file:" URIs,
// keyword connection strings ("host=... dbname=..."), ":memory:" and "".
DatabaseNameResult ParseDatabaseName(const std::string& given);

// `location` with every password replaced by "***": a URL's "user:pw@" and
// any "password=" (or "sslpassword=", and so on) in a query or a keyword
// string, quoted values included.
std::string MaskedDatabaseName(const std::string& location);

// `text` (an error message, say) with every password `location` holds
// replaced by "***", wherever the text quotes it.
std::string WithoutPasswords(const std::string& text, const std::string& location);

}  // namespace farsend
