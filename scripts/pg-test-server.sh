#!/usr/bin/env bash
# A throw-away PostgreSQL server for the unit database's tests: its cluster
# and its Unix socket live in DIR, it listens on 127.0.0.1 only, on a port
# found free at start, and every local user is trusted. `start` leaves
# DIR/url, the base URL the tests connect to
# (postgresql:///postgres?host=DIR/socket&port=...&user=...), and DIR/tcp-url,
# the same server over TCP (postgresql://127.0.0.1:PORT/postgres?user=...),
# for the Windows build, whose libpq has no Unix sockets; `stop` stops the server
# and removes DIR. `pause` stops the server at once and keeps its cluster, as
# a lost server would; `resume` starts it again on the same socket.
# The tests need no durability and run with fsync off; PG_TEST_FSYNC=on gives
# a server that syncs every commit like a production one (the benchmarks).
# Usage: scripts/pg-test-server.sh start|stop|pause|resume DIR
set -euo pipefail

bin=${PG_BIN:-/usr/lib/postgresql/15/bin}
action=${1:-}
dir=${2:-}
case "$action" in start | stop | pause | resume) ;; *) action= ;; esac
if [ -z "$dir" ] || [ -z "$action" ]; then
    echo "usage: $0 start|stop|pause|resume DIR" >&2
    exit 2
fi
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

# initdb refuses to run as root: then the cluster belongs to the postgres user.
as_owner=()
owner=$(id -un)
if [ "$(id -u)" -eq 0 ]; then
    owner=postgres
    as_owner=(runuser -u postgres --)
fi

# The port stays the same from start to pause and resume.
if [ "$action" = start ]; then
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
else
    port=$(cat "$dir/port" 2>/dev/null || echo 5432)
fi
server_options="-c listen_addresses='127.0.0.1' -c port=$port -c unix_socket_directories='$dir/socket' -c fsync=${PG_TEST_FSYNC:-off} -c max_connections=50"

if [ "$action" = pause ]; then
    "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null
    exit 0
fi
if [ "$action" = resume ]; then
    "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/data/server.log" -w -t 60 \
        -o "$server_options" start >/dev/null
    exit 0
fi

if [ "$action" = stop ]; then
    if [ -f "$dir/data/postmaster.pid" ]; then
        "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null
    fi
    rm -rf "$dir"
    exit 0
fi

# A Unix socket's path holds at most 107 bytes.
socket_path="$dir/socket/.s.PGSQL.$port"
if [ ${#socket_path} -gt 107 ]; then
    echo "pg-test-server: $socket_path is longer than a Unix socket's path may be; use a shorter DIR" >&2
    exit 1
fi
if [ ! -x "$bin/initdb" ]; then
    echo "pg-test-server: $bin/initdb is missing: scripts/install-deps.sh native" >&2
    exit 1
fi
if [ -f "$dir/data/postmaster.pid" ]; then
    "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
fi
rm -rf "$dir/data" "$dir/socket" "$dir/url" "$dir/tcp-url"
echo "$port" >"$dir/port"
mkdir -p "$dir/data" "$dir/socket"
if [ "$owner" != "$(id -un)" ]; then
    chown "$owner" "$dir/data" "$dir/socket"
    # The server's user must reach the socket folder through every parent.
    path=$dir
    while [ "$path" != / ]; do
        if ! "${as_owner[@]}" test -x "$path"; then
            echo "pg-test-server: $owner cannot enter $path; use a DIR it can reach" >&2
            exit 1
        fi
        path=$(dirname "$path")
    done
fi
chmod 700 "$dir/data"

"${as_owner[@]}" "$bin/initdb" -D "$dir/data" -U "$owner" -A trust -E UTF8 --no-sync \
    >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
if ! "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/data/server.log" -w -t 60 \
        -o "$server_options" start >/dev/null; then
    echo "pg-test-server: the server did not start; its log:" >&2
    cat "$dir/data/server.log" >&2 || true
    exit 1
fi
echo "postgresql:///postgres?host=$dir/socket&port=$port&user=$owner" >"$dir/url"
echo "postgresql://127.0.0.1:$port/postgres?user=$owner" >"$dir/tcp-url"
echo "pg-test-server: running, $(cat "$dir/url")"
