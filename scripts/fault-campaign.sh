#!/usr/bin/env bash
# Runs the fault campaign: RUNS programming runs of farsend (the
# AddressSanitizer + UBSan build) against the simulated target with seeded
# faults on the serial line, and prints the table of what came of them.
#
#   scripts/fault-campaign.sh [RUNS] [SEED] [--build-dir DIR] [--jobs N] [--gang]
#
# --gang: each run programs 2 to 4 simulated bridges at once in one process
# (program --all), with faults on some of the stations only; each station is
# judged on its own record and flash, and a clean station that fails while
# another has faults is a defect (cross-talk).
#
# RUNS defaults to 1000, SEED to 1; the same seed gives the same runs. Each
# defect is listed with the command line that repeats it alone. Exit status:
# 0 no defect, 1 defects found.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=1000
seed=1
build=build/asan
jobs=2
gang=()
positional=0
while [ $# -gt 0 ]; do
    case "$1" in
        --build-dir) build="$2"; shift ;;
        --jobs) jobs="$2"; shift ;;
        --gang) gang=(--gang) ;;
        -*) echo "usage: scripts/fault-campaign.sh [RUNS] [SEED] [--build-dir DIR] [--jobs N] [--gang]" >&2; exit 2 ;;
        *)
            if [ "$positional" = 0 ]; then runs="$1"; else seed="$1"; fi
            positional=$((positional + 1)) ;;
    esac
    shift
done

if [ "$build" = build/asan ]; then
    cmake --preset asan >/dev/null
else
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFARSEND_WERROR=ON \
        -DFARSEND_SANITIZE=address >/dev/null
fi
cmake --build "$build" -j2 --target farsend fault_campaign >/dev/null

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
exec "$build/tests/evidence/fault_campaign" --farsend "$build/src/cli/farsend" \
    --runs "$runs" --seed "$seed" --jobs "$jobs" --progress "${gang[@]}"
