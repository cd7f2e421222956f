// SOCI, without its Boost integration. Debian's soci-config.h announces
// Boost, but libsoci-dev does not pull Boost's headers in; what Boost adds
// is only templates for Boost types (fusion sequences, optional, dates),
// which this program does not bind, so leaving them out changes nothing
// that the compiled library shares with us. The PostgreSQL backend is
// loaded by name at run time (unit_database.cpp), so its header is not here.
#pragma once

#include <soci/soci-config.h>
#undef SOCI_HAVE_BOOST
#include <soci/soci.h>
#include <soci/sqlite3/soci-sqlite3.h>
