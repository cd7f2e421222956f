#!/usr/bin/env bash
# Runs every fuzz target in BUILD_DIR/fuzz for SECONDS each, starting from the
# seed corpus in fuzz/corpus/<target>. Fails on the first crash or sanitizer
# report.
set -euo pipefail
build=${1:?build dir}; seconds=${2:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
shopt -s nullglob
found=0
for bin in "$build"/fuzz/fuzz_*; do
    [ -x "$bin" ] || continue
    found=1
    name=$(basename "$bin")
    work=$(mktemp -d)
    cp -r "$root/fuzz/corpus/$name/." "$work/" 2>/dev/null || true
    echo "--- $name for ${seconds}s"
    "$bin" -max_total_time="$seconds" -print_final_stats=0 -artifact_prefix="$build/fuzz/$name-" "$work" 2>&1 | tail -n 3
    rm -rf "$work"
done
[ $found = 1 ] || echo "no fuzz targets built yet"
