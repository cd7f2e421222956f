#!/usr/bin/env bash
# Peak resident memory of farsend.exe under Wine: a serialized programming
# run of a KB-sized image (default 1024) into the simulated target, its
# number from a pool in a new SQLite file, beside the same run without a
# serial and `farsend.exe --version` (what Wine itself and the program's
# image take before any work). The figure is the maximum resident set of the
# Wine process that runs the program (GNU time's %M), with wineserver
# started before; the split into file-backed pages (the program's and Wine's
# images) and anonymous ones (heaps, stacks, relocated pages) is the largest
# of each seen in /proc every 20 ms. Three runs of each.
#   scripts/bench-wine-memory.sh [BUILD_DIR] [kilobytes]
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$repo/build/windows}" && pwd)
kilobytes=${2:-1024}
exe=$build/src/cli/farsend.exe
[ -f "$exe" ] || { echo "bench-wine-memory: $exe is missing: build the windows preset" >&2; exit 1; }
command -v /usr/bin/time >/dev/null || { echo "bench-wine-memory: GNU time is missing (apt-get install time)" >&2; exit 1; }
# shellcheck source=scripts/wine-env.sh
source "$repo/scripts/wine-env.sh" "$build"
work=$(mktemp -d "$build/bench-memory.XXXXXX")
trap 'rm -rf "$work"; wine_env_stop' EXIT
cd "$work"
python3 - "$kilobytes" <<'PY'
import random, sys
random.seed(0x46415253)
size = int(sys.argv[1]) * 1024
data = bytes(random.getrandbits(8) for _ in range(size))
with open("Farsend_15_bt.hex", "w") as out:
    out.write("00004000\n")
    for at in range(0, size, 16):
        out.write(" ".join("%02X" % b for b in data[at:at + 16]) + "\n")
PY

# Runs the program under GNU time, sampling its process's memory; prints
# "peak-KB anon-KB file-KB".
measure() {
    /usr/bin/time -f %M -o time.out wine64 "$exe" "$@" </dev/null >/dev/null 2>run.err &
    local timer=$! pid="" anon=0 file=0 a f
    while kill -0 "$timer" 2>/dev/null; do
        [ -z "$pid" ] && pid=$(pgrep -P "$timer" | head -n 1 || true)
        if [ -n "$pid" ] && [ -r "/proc/$pid/status" ]; then
            a=$(awk '/^RssAnon:/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
            f=$(awk '/^RssFile:/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
            [ "${a:-0}" -gt "$anon" ] && anon=$a
            [ "${f:-0}" -gt "$file" ] && file=$f
        fi
        sleep 0.02
    done
    wait "$timer" || { cat run.err >&2; echo "bench-wine-memory: farsend.exe $* failed" >&2; exit 1; }
    echo "$(tail -n 1 time.out) $anon $file"
}

wine64 "$exe" serials init board --first 100 --db 'units.sqlite' </dev/null >/dev/null
echo "run | peak KB | anonymous KB | file-backed KB"
for run in 1 2 3; do
    echo "--version | $(measure --version | tr ' ' '|')"
    rm -f flash*.hex sim-units.sqlite*
    echo "program, no serial | $(measure --simulate --quiet --sim-baud=115200 \
        --sim-flash-out=flash.hex program Farsend_15_bt.hex --db 'plain.sqlite' | tr ' ' '|')"
    echo "program --serial --serial-pool | $(measure --simulate --quiet --sim-baud=115200 \
        --sim-flash-out=flash-serial.hex program Farsend_15_bt.hex --serial 4100:4 \
        --serial-pool board --db 'units.sqlite' | tr ' ' '|')"
    [ -s flash-serial.hex ] || { echo "bench-wine-memory: the serialized run left no flash" >&2; exit 1; }
done
