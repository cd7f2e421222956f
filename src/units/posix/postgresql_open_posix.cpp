// The PostgreSQL backend by name: SOCI loads it when a server is opened.
#include "units/soci.h"

namespace farsend::units {

void OpenPostgreSql(soci::session& session, const std::string& url) {
    session.open("postgresql", url);
}

}  // namespace farsend::units
