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
# lintian advises against running as root; it reads the package only. As
# nobody it must reach the package and its working folder, which a checkout
# in root's own home (mode 0700) does not let it: it reads a copy in a
# folder of its own.
if [ "$(id -u)" -eq 0 ] && id nobody >/dev/null 2>&1; then
    lintian_dir=$(mktemp -d /tmp/farsend-lintian.XXXXXX)
    trap 'rm -rf "$lintian_dir"' EXIT
    cp "$deb" "$lintian_dir/"
    chmod 755 "$lintian_dir"
    chmod 644 "$lintian_dir/$(basename "$deb")"
    (cd "$lintian_dir" && runuser -u nobody -- lintian --fail-on error,warning --info "./$(basename "$deb")")
else
    lintian --fail-on error,warning --info "$deb"
fi

echo "=== made"
ls -l "$deb" "$zip"
