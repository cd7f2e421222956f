#!/usr/bin/env bash
# Builds the release preset with the benchmarks (bench/) and prints their
# table: programming time against the wire bound, CPU while waiting and while
# programming, firmware reading speed, peak memory of a programming run, and
# gang programming: 8 stations against one, CPU and memory per station,
# how long the dashboard takes over a million unit rows, and
# what recording a unit in the unit database costs (an SQLite file, and a
# PostgreSQL 15 server on a Unix socket that this script starts and stops,
# syncing every commit as a production server does).
#
#   scripts/bench.sh [--quick] [--build-dir DIR] [--no-docs]
#
# --quick      report length 9 with a 16 KB image instead of 128 KB (the
#              15 ms pauses make the full run take six minutes), and a 15 s
#              wait instead of 60 s
# --build-dir  build there (configured like the release preset) instead of
#              build/release
# --no-docs    leave docs/benchmarks.md alone; otherwise the table, with the
#              date, commit, machine and load, replaces the block between its
#              "bench.sh: begin" and "bench.sh: end" markers (not with
#              --build-dir: that build may be of another commit)
# Wall-clock figures suffer when the machine is busy; the load is printed
# with them. CPU figures are CPU time and do not.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/release
quick=0
docs=docs/benchmarks.md
while [ $# -gt 0 ]; do
    case "$1" in
        --quick) quick=1 ;;
        --build-dir) build="$2"; docs=; shift ;;
        --no-docs) docs= ;;
        *) echo "usage: scripts/bench.sh [--quick] [--build-dir DIR] [--no-docs]" >&2; exit 2 ;;
    esac
    shift
done

if [ "$build" = build/release ]; then
    cmake --preset release >/dev/null
else
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFARSEND_WERROR=ON \
        -DFARSEND_TESTS=OFF -DFARSEND_BENCH=ON >/dev/null
fi
cmake --build "$build" -j2 --target farsend bench_program_wire_bound \
    bench_monitor_silent_target bench_program_memory bench_image_reader \
    bench_gang_programming bench_unit_recording bench_dashboard_queries farsend-samples >/dev/null

small_kb=128
wait_s=60
if [ "$quick" = 1 ]; then small_kb=16; wait_s=15; fi

rows=$(mktemp)
# The server's socket path must stay short, and root runs it as postgres,
# which must be able to enter the folder.
pg_dir=$(mktemp -d /tmp/farsend-bench-pg.XXXXXX)
chmod 755 "$pg_dir"
trap 'rm -f "$rows"; scripts/pg-test-server.sh stop "$pg_dir/server" >/dev/null 2>&1 || true; rm -rf "$pg_dir"' EXIT
run() {
    echo "\$ ${*#"$build"/}"
    "$@" | tee -a "$rows" | grep -v '^ROW|'
    echo
}

when=$(date -u '+%Y-%m-%d %H:%M UTC')
commit=$(git rev-parse --short HEAD 2>/dev/null || echo '?')
# Figures of a tree with changes not committed belong to no commit.
if ! git diff --quiet HEAD 2>/dev/null; then commit="$commit with uncommitted changes"; fi
machine="$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
echo "farsend benchmarks, $when, commit $commit"
echo "$machine"
echo "load before: $load_before"
echo

run "$build/bench/bench_program_wire_bound" --report-length 65 --kilobytes 128
run "$build/bench/bench_program_wire_bound" --report-length 9 --kilobytes "$small_kb"
run "$build/bench/bench_monitor_silent_target" "$wait_s"
echo "\$ bench/bench_image_reader 5"
reader=$("$build/bench/bench_image_reader" 5)
echo "$reader"
echo
speed=$(echo "$reader" | sed -n 's/.*(\([0-9.]*\) MB\/s).*/\1/p')
echo "ROW|firmware image reading (1 MB of text, best of 5)|$speed MB/s||" >> "$rows"
run "$build/bench/bench_program_memory" "$build/src/cli/farsend" 1024
run "$build/bench/bench_gang_programming" "$build/src/cli/farsend" 8 32 "$((wait_s / 3))"
run node bench/line_page.mjs --farsend "$build/src/cli/farsend" \
    --samples-tool "$build/src/cli/farsend-samples" --seconds "$((wait_s / 3))"
PG_TEST_FSYNC=on scripts/pg-test-server.sh start "$pg_dir/server" >/dev/null
run "$build/bench/bench_unit_recording" --units 500 --sqlite "$pg_dir/units.sqlite" \
    --postgresql "$(cat "$pg_dir/server/url")"
run "$build/bench/bench_dashboard_queries" --rows 1000000 --sqlite "$pg_dir/dashboard.sqlite" \
    --postgresql "$(cat "$pg_dir/server/url")"

load_after=$(cut -d' ' -f1-3 /proc/loadavg)
echo "load after: $load_after"
echo
table() {
    echo "| benchmark | measured | target | |"
    echo "|---|---|---|---|"
    grep '^ROW|' "$rows" | awk -F'|' '{ printf "| %s | %s | %s | %s |\n", $2, $3, $4, $5 }'
}
table

if [ -n "$docs" ]; then
    block=$(mktemp)
    {
        echo "Written by \`scripts/bench.sh$([ "$quick" = 1 ] && echo ' --quick')\` on $when,"
        echo "commit $commit, $machine; load $load_before at the start, $load_after at the end."
        echo
        table
    } > "$block"
    scripts/bench-docs-block.sh "$docs" "$block"
    rm -f "$block"
    echo
    echo "written into $docs"
fi
