// The PostgreSQL backend linked in: a Windows program carries its libraries
// in itself, so loading the backend by name would only add a DLL to ship.
#include <soci/postgresql/soci-postgresql.h>

#include "units/soci.h"

namespace farsend::units {

void OpenPostgreSql(soci::session& session, const std::string& url) {
    session.open(soci::postgresql, url);
}

}  // namespace farsend::units
