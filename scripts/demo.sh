#!/usr/bin/env bash
# The main job: builds the native release and runs a programming run against
# the built-in simulated bridge and target, with an auto-selected sample image.
#   scripts/demo.sh [extra farsend options]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh native
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" >/dev/null
exec build/release/src/cli/farsend-demo "$@"
