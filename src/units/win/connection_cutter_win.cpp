// Cutting a PostgreSQL connection on Windows: the backend and its client
// library are linked in, so the connection's socket is asked of libpq
// directly, and shut down through Winsock.
#include <soci/postgresql/soci-postgresql.h>

#include "units/connection_cutter.h"

// After the database's headers: <windows.h> defines a macro named Yield.
#include <winsock2.h>

namespace farsend::units {

std::function<void()> ConnectionCutter(soci::session& sql) {
    if (sql.get_backend() == nullptr || sql.get_backend_name() != "postgresql") return {};
    auto* backend = static_cast<soci::postgresql_session_backend*>(sql.get_backend());
    if (backend->conn_ == nullptr) return {};
    // libpq hands its SOCKET out as an int; -1 when there is none.
    const int fd = PQsocket(backend->conn_);
    if (fd < 0) return {};
    const auto socket = static_cast<SOCKET>(fd);
    // The socket stays the connection's until the session closes, which
    // happens only after its watchdog is gone. A blocked wait in libpq
    // (select, then recv) then sees the connection end.
    return [socket] { ::shutdown(socket, SD_BOTH); };
}

}  // namespace farsend::units
