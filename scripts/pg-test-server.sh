#!/usr/bin/env bash
# A throw-away PostgreSQL server for the unit database's tests: its cluster
# and its Unix socket live in DIR, it listens on no TCP port, and every local
# user is trusted. `start` leaves DIR/url, the base URL the tests connect to
# (postgresql:///postgres?host=DIR/socket&user=...); `stop` stops the server
# and removes DIR. `pause` stops the server at once and keeps its cluster, as
# a lost server would; `resume` starts it again on the same socket.
# `freeze` stops the server's processes with SIGSTOP, as a hung host would:
# its socket still takes connections, but nothing answers; `thaw` lets them
# go on (SIGCONT).
# The tests need no durability and run with fsync off; PG_TEST_FSYNC=on gives
# a server that syncs every commit like a production one (the benchmarks).
# Usage: scripts/pg-test-server.sh start|stop|pause|resume|freeze|thaw DIR
set -euo pipefail

bin=${PG_BIN:-/usr/lib/postgresql/15/bin}
action=${1:-}
dir=${2:-}
case "$action" in start | stop | pause | resume | freeze | thaw) ;; *) action= ;; esac
if [ -z "$dir" ] || [ -z "$action" ]; then
    echo "usage: $0 start|stop|pause|resume|freeze|thaw DIR" >&2
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

server_options="-c listen_addresses='' -c unix_socket_directories='$dir/socket' -c fsync=${PG_TEST_FSYNC:-off} -c max_connections=50"

if [ "$action" = freeze ] || [ "$action" = thaw ]; then
    postmaster=$(head -1 "$dir/data/postmaster.pid")
    children=$(ps -o pid= --ppid "$postmaster" | tr -d ' ')
    if [ "$action" = freeze ]; then
        # The postmaster first, so that it starts no process meanwhile.
        kill -STOP "$postmaster"
        for pid in $children; do kill -STOP "$pid" 2>/dev/null || true; done
    else
        for pid in $children; do kill -CONT "$pid" 2>/dev/null || true; done
        kill -CONT "$postmaster"
    fi
    exit 0
fi
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
socket_path="$dir/socket/.s.PGSQL.5432"
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
rm -rf "$dir/data" "$dir/socket" "$dir/url"
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
echo "postgresql:///postgres?host=$dir/socket&user=$owner" >"$dir/url"
echo "pg-test-server: running, $(cat "$dir/url")"
