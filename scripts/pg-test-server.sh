#!/usr/bin/env bash
# A throw-away PostgreSQL server for the unit database's tests. DIR is the
# caller's handle on it: `start` leaves DIR/url, the base URL the tests connect
# to (postgresql:///postgres?host=SOCKET&port=PORT&user=...), and DIR/tcp-url,
# the same server over TCP (postgresql://127.0.0.1:PORT/postgres?user=...) for
# the Windows build, whose libpq has no Unix sockets. It listens on 127.0.0.1
# only, on a port found free at start, and every local user is trusted. `stop` stops the server and removes DIR.
# `pause` stops the server at once and keeps its cluster, as a lost server
# would; `resume` starts it again on the same socket.
# Run as root, the server runs as the postgres user, which may not be able to
# enter DIR (a checkout in root's own home, mode 0700): its cluster and socket
# then go into a private folder that postgres owns, made under /tmp for the
# run (or $PG_TEST_SERVER_HOME, when set, a folder postgres can reach) and
# removed by `stop`. DIR/home names it. Run as any other user, the cluster
# and socket live in DIR.
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

# Where the cluster and the socket live: DIR, or the private folder of a
# server started by root.
home=$dir
[ -f "$dir/home" ] && home=$(cat "$dir/home")

# The port stays the same from start to pause and resume.
if [ "$action" = start ]; then
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
else
    port=$(cat "$dir/port" 2>/dev/null || echo 5432)
fi

server_options() {
    echo "-c listen_addresses='127.0.0.1' -c port=$port -c unix_socket_directories='$home/socket' -c fsync=${PG_TEST_FSYNC:-off} -c max_connections=50"
}

if [ "$action" = freeze ] || [ "$action" = thaw ]; then
    postmaster=$(head -1 "$home/data/postmaster.pid")
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
    "${as_owner[@]}" "$bin/pg_ctl" -D "$home/data" -m immediate -w stop >/dev/null
    exit 0
fi
if [ "$action" = resume ]; then
    "${as_owner[@]}" "$bin/pg_ctl" -D "$home/data" -l "$home/data/server.log" -w -t 60 \
        -o "$(server_options)" start >/dev/null
    exit 0
fi

stop_server() {
    if [ -f "$home/data/postmaster.pid" ]; then
        "${as_owner[@]}" "$bin/pg_ctl" -D "$home/data" -m fast -w stop >/dev/null 2>&1 || true
    fi
    [ "$home" != "$dir" ] && rm -rf "$home"
    rm -rf "$dir/data" "$dir/socket" "$dir/url" "$dir/tcp-url" "$dir/port" "$dir/home"
}

if [ "$action" = stop ]; then
    stop_server
    rm -rf "$dir"
    exit 0
fi

# A server left by an earlier start of this DIR goes first.
stop_server
home=$dir
if [ "$owner" != "$(id -un)" ]; then
    parent=${PG_TEST_SERVER_HOME:-/tmp}
    home=$(mktemp -d "$parent/farsend-pg.XXXXXX") || {
        echo "pg-test-server: cannot make a folder in $parent" >&2
        exit 1
    }
    echo "$home" >"$dir/home"
    # Root reaches it anyway; other users may pass through to the socket.
    chmod 711 "$home"
    chown "$owner" "$home"
    path=$home
    while [ "$path" != / ]; do
        if ! "${as_owner[@]}" test -x "$path"; then
            echo "pg-test-server: $owner cannot enter $path; set PG_TEST_SERVER_HOME to a folder it can reach" >&2
            rm -rf "$home" "$dir/home"
            exit 1
        fi
        path=$(dirname "$path")
    done
fi

# A Unix socket's path holds at most 107 bytes.
socket_path="$home/socket/.s.PGSQL.$port"
if [ ${#socket_path} -gt 107 ]; then
    echo "pg-test-server: $socket_path is longer than a Unix socket's path may be; use a shorter DIR" >&2
    exit 1
fi
if [ ! -x "$bin/initdb" ]; then
    echo "pg-test-server: $bin/initdb is missing: scripts/install-deps.sh native" >&2
    exit 1
fi
echo "$port" >"$dir/port"
mkdir -p "$home/data" "$home/socket"
[ "$owner" != "$(id -un)" ] && chown "$owner" "$home/data" "$home/socket"
chmod 700 "$home/data"

"${as_owner[@]}" "$bin/initdb" -D "$home/data" -U "$owner" -A trust -E UTF8 --no-sync \
    >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
if ! "${as_owner[@]}" "$bin/pg_ctl" -D "$home/data" -l "$home/data/server.log" -w -t 60 \
        -o "$(server_options)" start >/dev/null; then
    echo "pg-test-server: the server did not start; its log:" >&2
    cat "$home/data/server.log" >&2 || true
    exit 1
fi
echo "postgresql:///postgres?host=$home/socket&port=$port&user=$owner" >"$dir/url"
echo "postgresql://127.0.0.1:$port/postgres?user=$owner" >"$dir/tcp-url"
echo "pg-test-server: running, $(cat "$dir/url")"
