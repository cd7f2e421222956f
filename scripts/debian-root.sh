#!/usr/bin/env bash
# Makes, once, a clean Debian 12 root for the package test: debootstrap's
# minbase, plus man-db (so that `man farsend` can be tried) and
# bash-completion. It is kept outside the build tree, so that rebuilds and
# new build trees reuse it; the test only ever works on an overlay or a copy.
#   scripts/debian-root.sh [ROOT]   prints the root's path
# ROOT defaults to $FARSEND_DEBIAN_ROOT, else ~/.cache/farsend/bookworm-minbase.
# Needs root, debootstrap and a Debian mirror ($FARSEND_DEBIAN_MIRROR,
# default http://deb.debian.org/debian).
set -euo pipefail

root=${1:-${FARSEND_DEBIAN_ROOT:-$HOME/.cache/farsend/bookworm-minbase}}
mirror=${FARSEND_DEBIAN_MIRROR:-http://deb.debian.org/debian}

fail() { echo "debian-root: $*" >&2; exit 1; }

# A root is complete only once its stamp is written, so an interrupted
# debootstrap is started again rather than used.
if [ -f "$root/.farsend-root-complete" ]; then
    echo "$root"
    exit 0
fi
[ "$(id -u)" -eq 0 ] || fail "making the Debian root needs root (debootstrap and chroot)"
command -v debootstrap >/dev/null || fail "debootstrap is missing: scripts/install-deps.sh package"

rm -rf "$root.partial"
mkdir -p "$(dirname "$root")"
echo "debian-root: debootstrap --variant=minbase bookworm into $root (once)" >&2
start=$(date +%s)
if ! debootstrap --variant=minbase --include=man-db,bash-completion \
        bookworm "$root.partial" "$mirror" >"$root.partial.log" 2>&1; then
    tail -n 20 "$root.partial.log" >&2
    fail "debootstrap failed (no network or no mirror at $mirror?); log: $root.partial.log"
fi
# The installed system's caches of packages are not part of a clean root.
rm -rf "$root.partial"/var/cache/apt/archives/*.deb
rm -rf "$root"
mv "$root.partial" "$root"
rm -f "$root.partial.log"
touch "$root/.farsend-root-complete"
echo "debian-root: made in $(( $(date +%s) - start )) s" >&2
echo "$root"
