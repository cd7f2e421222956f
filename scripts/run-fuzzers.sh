#!/usr/bin/env bash
# Runs every fuzz target in BUILD_DIR/fuzz for SECONDS each, starting from the
# seed corpus in fuzz/corpus/<target>, as many at once as there are cores
# (each target runs on one). Fails when any target crashes or a sanitizer
# reports; each target's last lines are printed in turn.
set -euo pipefail
build=${1:?build dir}; seconds=${2:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
shopt -s nullglob
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

run_one() {  # binary
    local bin=$1 name work
    name=$(basename "$bin")
    work=$(mktemp -d)
    cp -r "$root/fuzz/corpus/$name/." "$work/" 2>/dev/null || true
    local status=0
    "$bin" -max_total_time="$seconds" -print_final_stats=0 -artifact_prefix="$build/fuzz/$name-" \
        "$work" >"$logs/$name.log" 2>&1 || status=$?
    rm -rf "$work"
    return $status
}

targets=()
for bin in "$build"/fuzz/fuzz_*; do
    [ -x "$bin" ] && [ -f "$bin" ] && targets+=("$bin")
done
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets built yet"; exit 0; }

slots=$(nproc)
declare -A running=()
failed=()
wait_one() {
    local pid="" status=0
    wait -n -p pid || status=$?
    [ $status -eq 0 ] || failed+=("${running[$pid]}")
    unset "running[$pid]"
}
for bin in "${targets[@]}"; do
    while [ ${#running[@]} -ge "$slots" ]; do wait_one; done
    run_one "$bin" &
    running[$!]=$(basename "$bin")
done
while [ ${#running[@]} -gt 0 ]; do wait_one; done

for bin in "${targets[@]}"; do
    name=$(basename "$bin")
    echo "--- $name for ${seconds}s"
    tail -n 3 "$logs/$name.log"
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz targets that failed: ${failed[*]}" >&2
    exit 1
fi
