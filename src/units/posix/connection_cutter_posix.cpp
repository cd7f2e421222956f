#include <dlfcn.h>
#include <soci/postgresql/soci-postgresql.h>
#include <sys/socket.h>

#include "units/connection_cutter.h"

namespace farsend::units {

std::function<void()> ConnectionCutter(soci::session& sql) {
    // By name: the backend's type information is in a library this program
    // does not link.
    if (sql.get_backend() == nullptr || sql.get_backend_name() != "postgresql") return {};
    auto* backend = static_cast<soci::postgresql_session_backend*>(sql.get_backend());
    if (backend->conn_ == nullptr) return {};
    // The client library came in with the backend SOCI loaded by name, not
    // linked to this program: its function is looked up where it is.
    void* library = ::dlopen("libpq.so.5", RTLD_LAZY | RTLD_NOLOAD);
    if (library == nullptr) return {};
    auto* socketOf = reinterpret_cast<int (*)(const PGconn*)>(::dlsym(library, "PQsocket"));
    const int fd = socketOf != nullptr ? socketOf(backend->conn_) : -1;
    ::dlclose(library);  // still loaded: SOCI's backend holds it
    if (fd < 0) return {};
    // The descriptor stays the connection's until the session closes, which
    // happens only after its watchdog is gone.
    return [fd] { ::shutdown(fd, SHUT_RDWR); };
}

}  // namespace farsend::units
