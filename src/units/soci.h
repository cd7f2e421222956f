// SOCI, without its Boost integration. Debian's soci-config.h announces
// Boost, but libsoci-dev does not pull Boost's headers in; what Boost adds
// is only templates for Boost types (fusion sequences, optional, dates),
// which this program does not bind, so leaving them out changes nothing
// that the compiled library shares with us. The PostgreSQL backend is
// reached through OpenPostgreSql, so its header is not here.
#pragma once

#include <soci/soci-config.h>
#undef SOCI_HAVE_BOOST
#include <soci/soci.h>
#include <soci/sqlite3/soci-sqlite3.h>

namespace farsend::units {

// Opens `session` on the PostgreSQL server at `url`. On Linux SOCI loads the
// backend by name, and with it the PostgreSQL client and its TLS and Kerberos
// libraries (some 5 MB), only when a station is given a server, not on every
// start; on Windows the backend is linked in, as everything is there.
void OpenPostgreSql(soci::session& session, const std::string& url);

}  // namespace farsend::units
