#!/usr/bin/env bash
# Makes both downloads:
#   build/release/packages/farsend_<version>_amd64.deb     (release preset)
#   build/windows/packages/farsend-<version>-windows-x64.zip (windows preset)
# and checks the .deb with lintian (no errors, no warnings).
#   scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh package
jobs=$(nproc)

echo "=== Linux package (release preset)"
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs"
(cd build/release && cpack)

# The Windows ZIP carries the sample set the native build wrote: it is the
# same on every platform, and writing it with farsend-samples.exe would need
# Wine during the build.
echo "=== Windows package (windows preset)"
# farsend.exe's unit database: its libraries, made once per machine.
scripts/build-windows-libs.sh >/dev/null
cmake --preset windows -DFARSEND_SAMPLE_SET_DIR="$PWD/build/release/package/samples" >/dev/null
cmake --build --preset windows -j "$jobs" --target farsend-flasher farsend
(cd build/windows && cpack)

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release/CMakeCache.txt)
deb=build/release/packages/farsend_${version}_amd64.deb
zip=build/windows/packages/farsend-${version}-windows-x64.zip

echo "=== lintian $deb"
# lintian advises against running as root; it reads the package only.
lintian_as=()
if [ "$(id -u)" -eq 0 ] && id nobody >/dev/null 2>&1 && runuser -u nobody -- test -r "$deb"; then
    lintian_as=(runuser -u nobody --)
fi
"${lintian_as[@]}" lintian --fail-on error,warning --info "$deb"

echo "=== made"
ls -l "$deb" "$zip"
