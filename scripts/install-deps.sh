#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, when missing.
# Usage: scripts/install-deps.sh [native|windows|package|kernel|all]   (default: all)
#   windows: mingw-w64, Wine, and the Debian sources of SQLite, libpq, SOCI
#   and libsodium that scripts/build-windows-libs.sh makes the Windows
#   build's libraries of (Debian packages none of them for mingw-w64).
#   package: what scripts/package.sh and the package test need besides the
#   native and Windows builds (Wine, for the ZIP's test, comes with them).
#   kernel: QEMU, a static busybox and cpio for the kernel suite
#   (scripts/kernel-test.sh), besides the native and Windows builds (its
#   Wine half runs farsend.exe in the guest).
set -euo pipefail

want=${1:-all}
# The unit database: SOCI with its SQLite and PostgreSQL
# backends, and a PostgreSQL server for its tests (scripts/pg-test-server.sh).
# libsodium: the signatures of production jobs and SHA-256.
native=(cmake ninja-build ccache g++ clang libclang-rt-14-dev googletest libgtest-dev libgmock-dev
        libcli11-dev nlohmann-json3-dev libbenchmark-dev python3 help2man
        libsoci-dev libsqlite3-dev libpq-dev sqlite3 postgresql-15
        libcpp-httplib-dev chromium nodejs libsodium-dev)
windows=(g++-mingw-w64-x86-64-posix mingw-w64-tools dpkg-dev wine64 xvfb xauth imagemagick
         fonts-wine fonts-liberation tcl autoconf automake libtool time)

package=(help2man lintian dpkg-dev fakeroot gzip zip unzip debootstrap man-db bash-completion
         util-linux binutils-mingw-w64-x86-64)
kernel=(qemu-system-x86 busybox-static cpio gzip)

pkgs=("${native[@]}")
case "$want" in
    native) ;;
    windows) pkgs+=("${windows[@]}") ;;
    package) pkgs+=("${windows[@]}" "${package[@]}") ;;
    kernel) pkgs+=("${windows[@]}" "${kernel[@]}") ;;
    all) pkgs+=("${windows[@]}" "${package[@]}" "${kernel[@]}") ;;
    *) echo "install-deps.sh: unknown set '$want' (native, windows, package, kernel or all)" >&2; exit 2 ;;
esac

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
export DEBIAN_FRONTEND=noninteractive

# A deb-src twin of every archive apt already fetches binaries from, when
# apt has no source archive yet (a fresh machine has none).
deb_src() {
    apt-get source --print-uris sqlite3 >/dev/null 2>&1 && return
    local list=/etc/apt/sources.list.d/farsend-deb-src.sources f
    echo "Adding Debian's source archives: $list"
    for f in /etc/apt/sources.list.d/*.sources; do
        [ "$f" = "$list" ] && continue
        sed -n '/^Types:.*deb/,/^$/p' "$f" | sed 's/^Types:.*/Types: deb-src/'
    done | $SUDO tee "$list" >/dev/null
    if [ -f /etc/apt/sources.list ]; then
        sed -n 's/^deb \(.*\)/deb-src \1/p' /etc/apt/sources.list | $SUDO tee -a "$list" >/dev/null
    fi
    $SUDO apt-get update -q >/dev/null
}

# The Windows build's libraries come from Debian's source packages, fetched
# once into the cache that scripts/build-windows-libs.sh reads.
libs=$(cd "$(dirname "$0")" && pwd)/build-windows-libs.sh
fetch_windows_sources() {
    local dir packages
    dir=$("$libs" --source-dir)
    packages=$("$libs" --packages)
    [ "$(cat "$dir/.fetched" 2>/dev/null)" = "$packages" ] && return 0
    deb_src
    # The versions are pinned: one the archive no longer serves (a security
    # update replaced it) is named, with what the archive serves instead.
    local package served
    for package in $packages; do
        apt-get source --print-uris "$package" >/dev/null 2>&1 && continue
        served=$(apt-get source --print-uris "${package%%=*}" 2>/dev/null |
            sed -n "s/^'[^']*' ${package%%=*}_\(.*\)\.dsc .*/\1/p" | head -n 1)
        echo "install-deps.sh: Debian's archive no longer serves the source $package" \
            "(it serves ${served:-no version of it}); raise the version in" \
            "scripts/build-windows-libs.sh" >&2
        exit 1
    done
    mkdir -p "$dir"
    # One at a time, so that a failure names its package. An index may list
    # a version whose files its archive does not hold (a mirror behind it).
    for package in $packages; do
        (cd "$dir" && apt-get source -q --download-only "$package" >"$dir/.fetch.log" 2>&1) || {
            grep '^E:' "$dir/.fetch.log" >&2
            echo "install-deps.sh: Debian's archive did not give the source $package; pin a" \
                "version it serves in scripts/build-windows-libs.sh" >&2
            exit 1
        }
    done
    rm -f "$dir/.fetch.log"
    echo "$packages" >"$dir/.fetched"
}

missing=()
for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# The line page's browser tests (playwright-core) and its charts (uPlot,
# which the build puts into the binary), as package-lock.json pins them.
npm_deps() {
    local root
    root=$(cd "$(dirname "$0")/.." && pwd)
    if [ ! -d "$root/node_modules/playwright-core" ] || [ ! -d "$root/node_modules/uplot" ]; then
        (cd "$root" && npm ci --no-audit --no-fund >/dev/null)
    fi
}
# The Windows build's HTTP server: Debian's cpp-httplib release (with its
# patches), as the one header its source package holds, since Debian builds
# it as a Linux library only.
httplib_header() {
    local dest=/usr/local/share/farsend/cpp-httplib
    case "$want" in native) return ;; esac
    [ -f "$dest/httplib.h" ] && return
    deb_src
    local tmp
    tmp=$(mktemp -d)
    (cd "$tmp" && apt-get source -q cpp-httplib >"$tmp.log" 2>&1) || {
        grep '^E:' "$tmp.log" >&2
        echo "install-deps.sh: Debian's archive did not give the source of cpp-httplib" >&2
        exit 1
    }
    $SUDO mkdir -p "$dest"
    $SUDO cp "$tmp"/cpp-httplib-*/httplib.h "$tmp"/cpp-httplib-*/LICENSE "$dest"/
    rm -rf "$tmp"
}
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    $SUDO apt-get update -q >/dev/null
    $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
fi
npm_deps
httplib_header
case "$want" in windows | package | all) fetch_windows_sources ;; esac
