#!/usr/bin/env bash
# Builds and runs every test suite: AddressSanitizer + UBSan, ThreadSanitizer,
# the fuzz targets for a bounded time, the Windows build with its tests under
# Wine, and the release packages installed and run as a user would
# (scripts/package-test.sh: needs root, and a Debian mirror the first time it
# makes its Debian root), and the kernel suite: farsend against a real Linux
# HID stack under QEMU (scripts/kernel-test.sh; it fetches the kernel package
# once).
#   scripts/test-all.sh [native asan tsan fuzz windows package kernel]
# The default is every suite but native: the asan suite runs the same tests
# on the same debug build, with the sanitizers, so building and running them
# again without would only cost time. native is the quick run at a desk. The
# kernel suite runs farsend of the native build (under the sanitizers it is
# too slow for the bridge's replies in an emulated guest), and builds only
# what it runs.
# FUZZ_SECONDS sets each fuzz target's run time (default 30).
set -euo pipefail
cd "$(dirname "$0")/.."

suites=("$@")
[ ${#suites[@]} -eq 0 ] && suites=(asan tsan fuzz windows package kernel)

if [[ " ${suites[*]} " == *" windows "* || " ${suites[*]} " == *" package "* ]]; then
    scripts/install-deps.sh all
else
    scripts/install-deps.sh native
fi
[[ " ${suites[*]} " == *" kernel "* ]] && scripts/install-deps.sh kernel

jobs=$(nproc)
failed=()
passed=()
took=()

run_ctest() {  # preset
    local preset=$1 prefix=()
    # ThreadSanitizer needs a fixed memory layout on kernels with wide ASLR.
    [ "$preset" = tsan ] && prefix=(setarch "$(uname -m)" -R)
    "${prefix[@]}" ctest --preset "$preset" -j "$jobs"
}

for suite in "${suites[@]}"; do
    echo "=== $suite"
    started=$SECONDS
    ok=1
    if [ "$suite" = package ]; then
        # Builds the release and windows presets and makes both packages itself.
        if scripts/package-test.sh; then passed+=("$suite"); else failed+=("$suite"); fi
        took+=("$suite $((SECONDS - started))s")
        continue
    fi
    build_preset=$suite
    targets=()
    if [ "$suite" = kernel ]; then
        build_preset=native
        targets=(--target farsend farsend-uhid-bridge)
    fi
    # The Windows build's unit database: its libraries, made once per machine.
    if [ "$suite" = windows ]; then
        scripts/build-windows-libs.sh >/dev/null || ok=0
    fi
    [ $ok = 1 ] && { cmake --preset "$build_preset" >/dev/null || ok=0; }
    [ $ok = 1 ] && { cmake --build --preset "$build_preset" -j "$jobs" "${targets[@]}" || ok=0; }
    # The kernel suite's Wine half, when asked for, runs the Windows build's
    # farsend.exe and farsend-flasher.exe.
    if [ $ok = 1 ] && [ "$suite" = kernel ] && [[ " ${FARSEND_KERNEL_CASES:-linux} " == *" wine "* ]]; then
        cmake --preset windows >/dev/null &&
            cmake --build --preset windows -j "$jobs" --target farsend farsend-flasher || ok=0
    fi
    if [ $ok = 1 ]; then
        case "$suite" in
            fuzz)    scripts/run-fuzzers.sh build/fuzz "${FUZZ_SECONDS:-30}" || ok=0 ;;
            windows) ( source scripts/wine-env.sh build/windows
                       trap wine_env_stop EXIT
                       run_ctest windows ) || ok=0 ;;
            *)       run_ctest "$suite" || ok=0 ;;
        esac
    fi
    if [ $ok = 1 ]; then passed+=("$suite"); else failed+=("$suite"); fi
    took+=("$suite $((SECONDS - started))s")
done

echo "=== summary"
echo "suites passed: ${passed[*]:-none}"
echo "suites failed: ${failed[*]:-none}"
# Wall time of each suite, its build included: where CI's minutes go.
echo "time: $(IFS=,; echo "${took[*]}")"
echo "${#passed[@]} passed, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ]
