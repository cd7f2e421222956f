#!/usr/bin/env bash
# The main job: builds the native release, writes the sample firmware set into
# build/release/demo-firmware (once), and shows what farsend makes of that
# directory: the images it offers and the file it would program.
#   scripts/demo.sh [extra farsend options, e.g. --variant zigbee --hw 2.0 --factory]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh native
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target farsend farsend-samples >/dev/null
samples=build/release/demo-firmware
if [ ! -d "$samples" ]; then
    build/release/src/cli/farsend-samples "$samples" >/dev/null
fi
exec build/release/src/cli/farsend select --dir "$samples" "$@"
