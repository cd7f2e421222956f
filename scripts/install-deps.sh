#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, when missing.
# Usage: scripts/install-deps.sh [native|package|kernel|all]   (default: all)
#   package: what scripts/package.sh and the package test need besides the
#   native and Windows builds (Wine, for the ZIP's test, comes with them).
#   kernel: QEMU, a static busybox, cpio and udev for the kernel suite
#   (scripts/kernel-test.sh), besides the native and Windows builds (its
#   Wine half runs farsend.exe in the guest).
set -euo pipefail

want=${1:-all}
# The unit database (Linux only): SOCI with its SQLite and PostgreSQL
# backends, and a PostgreSQL server for its tests (scripts/pg-test-server.sh).
# libsodium: the signatures of production jobs and SHA-256.
native=(cmake ninja-build ccache g++ clang libclang-rt-14-dev googletest libgtest-dev libgmock-dev
        libcli11-dev nlohmann-json3-dev libbenchmark-dev python3 help2man
        libsoci-dev libsqlite3-dev libpq-dev sqlite3 postgresql-15 libsodium-dev)
windows=(g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 xvfb xauth imagemagick
         fonts-wine fonts-liberation)

package=(help2man lintian dpkg-dev fakeroot gzip zip unzip debootstrap man-db bash-completion
         util-linux binutils-mingw-w64-x86-64)
kernel=(qemu-system-x86 busybox-static cpio gzip udev)

pkgs=("${native[@]}")
case "$want" in
    native) ;;
    package) pkgs+=("${windows[@]}" "${package[@]}") ;;
    kernel) pkgs+=("${windows[@]}" "${kernel[@]}") ;;
    all) pkgs+=("${windows[@]}" "${package[@]}" "${kernel[@]}") ;;
    *) echo "install-deps.sh: unknown set '$want' (native, package, kernel or all)" >&2; exit 2 ;;
esac

missing=()
for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q >/dev/null
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
