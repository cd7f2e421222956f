#!/usr/bin/env bash
# The crash campaign of serialized runs: N times, `farsend watch --serial ...
# --serial-pool ... --db FILE --sim-flash-dir DIR` (2 simulated stations, on
# the real clock) is killed with SIGKILL at a seeded random moment within its
# first 3 s and started again, on one SQLite database and one flash folder;
# in one run of three the firmware file is swapped for a 16-byte image
# before the kill (and put back after it), and in about one run in five of
# the others the database file with its log is moved away mid-run (and put
# back after it).
# Then the database and every target's flash are judged: no number issued
# twice, every unit recorded as programmed holds exactly its number (the
# flash that holds it is the image with that number, byte for byte), every
# number found in a flash has its row.
#
#   scripts/serial-crash-campaign.sh [N] [SEED] [--build-dir DIR] [--keep]
#
# N defaults to 200, SEED to 1. The moments of the kills follow from the
# seed; where in a unit each one lands depends on the machine, so the counts
# differ from run to run while the verdict must not. Exit status: 0 no
# defect, 1 defects found, 2 the campaign could not run.
set -euo pipefail
cd "$(dirname "$0")/.."

kills=200
seed=1
build=build/native
keep=()
positional=0
while [ $# -gt 0 ]; do
    case "$1" in
        --build-dir) build="$2"; shift ;;
        --keep) keep=(--keep) ;;
        -*) echo "usage: scripts/serial-crash-campaign.sh [N] [SEED] [--build-dir DIR] [--keep]" >&2; exit 2 ;;
        *)
            if [ "$positional" = 0 ]; then kills="$1"; else seed="$1"; fi
            positional=$((positional + 1)) ;;
    esac
    shift
done

if [ "$build" = build/native ]; then
    cmake --preset native >/dev/null
fi
cmake --build "$build" -j2 --target farsend serial_crash_campaign >/dev/null
exec "$build/tests/evidence/serial_crash_campaign" --farsend "$build/src/cli/farsend" \
    --kills "$kills" --seed "$seed" --progress "${keep[@]}"
