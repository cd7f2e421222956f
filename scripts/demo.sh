#!/usr/bin/env bash
# The main job: builds the native release, writes the sample firmware set into
# build/release/demo-firmware (once), and programs the simulated target with
# the image farsend chooses from that directory by itself, showing the erase
# and programming bars. The simulated line runs at 115200 baud in simulated
# time, so the durations and rates are those of such a line.
#   scripts/demo.sh [extra farsend options]
# e.g. --factory, or --variant zigbee --hw 2.0 --sim-variant=ZigBee --sim-version=2.0.0
# (the simulated target must report what the image is for, or it is refused).
# The simulated units are recorded in build/release/demo-units.sqlite, not in
# the unit database of real ones, unless --db is given.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh native
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target farsend farsend-samples >/dev/null
samples=build/release/demo-firmware
if [ ! -d "$samples" ]; then
    build/release/src/cli/farsend-samples "$samples" >/dev/null
fi
db=(--db build/release/demo-units.sqlite)
for word in "$@"; do
    case "$word" in --db | --db=*) db=() ;; esac
done
exec build/release/src/cli/farsend --simulate --sim-baud=115200 program --dir "$samples" "${db[@]}" "$@"
