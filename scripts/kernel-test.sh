#!/usr/bin/env bash
# The kernel suite: boots Debian 12's kernel under QEMU (TCG, no KVM) with an
# initramfs that holds farsend, farsend-uhid-bridge and tests/kernel/cases.sh,
# and reads the cases' results from the serial console.
#
# Usage: scripts/kernel-test.sh [BUILD_DIR]     (default: build/native)
#
# The kernel package is fetched once with `apt-get download` into
# $FARSEND_KERNEL_CACHE (default: build/kernel-cache, beside the build
# directories, so that it survives their removal) and unpacked there.
# Exit status: 0 every case passed; 1 a case failed (named); 2 the suite
# could not run (a tool, the kernel package or a binary missing, or the guest
# never finished), with the reason.
set -uo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$repo/build/native}")
cache=${FARSEND_KERNEL_CACHE:-$repo/build/kernel-cache}

cannot() {
    echo "kernel suite: cannot run: $*" >&2
    exit 2
}

for tool in qemu-system-x86_64 cpio gzip dpkg-deb apt-get apt-cache ldd; do
    command -v "$tool" >/dev/null ||
        cannot "$tool is missing (scripts/install-deps.sh kernel installs what the suite needs)"
done
busybox=/bin/busybox
# ldd fails on a static binary, which the guest needs (it has no libraries).
[ -x "$busybox" ] && ! ldd "$busybox" >/dev/null 2>&1 ||
    cannot "a static busybox is missing (the busybox-static package)"
farsend=$build/src/cli/farsend
uhid_bridge=$build/tests/kernel/farsend-uhid-bridge
for binary in "$farsend" "$uhid_bridge"; do
    [ -x "$binary" ] || cannot "$binary is missing: build the native preset first"
done

# --- the kernel, fetched once ------------------------------------------------
mkdir -p "$cache" || cannot "cannot create $cache"
deb=$(ls "$cache"/linux-image-6.1*-amd64_*.deb 2>/dev/null | sort -V | tail -n 1)
if [ -z "$deb" ]; then
    package=$(apt-cache depends linux-image-amd64 2>/dev/null |
        awk '/Depends: linux-image-[0-9]/ { print $2; exit }')
    [ -n "$package" ] ||
        cannot "apt knows no linux-image-amd64 (run apt-get update, on Debian 12)"
    echo "kernel suite: fetching $package into $cache"
    (cd "$cache" && apt-get download -q "$package" >/dev/null) ||
        cannot "apt-get download $package failed"
    deb=$(ls "$cache"/linux-image-6.1*-amd64_*.deb 2>/dev/null | sort -V | tail -n 1)
    [ -n "$deb" ] || cannot "apt-get download left no package in $cache"
fi
unpacked=$cache/$(basename "$deb" .deb)
if [ ! -d "$unpacked/boot" ]; then
    rm -rf "$unpacked.part"
    dpkg-deb -x "$deb" "$unpacked.part" && mv "$unpacked.part" "$unpacked" ||
        cannot "cannot unpack $deb"
fi
vmlinuz=$(ls "$unpacked"/boot/vmlinuz-* | head -n 1)
hid=$(ls -d "$unpacked"/lib/modules/*/kernel/drivers/hid)

# --- the initramfs ------------------------------------------------------------
work=$(mktemp -d "${TMPDIR:-/tmp}/farsend-kernel.XXXXXX") || cannot "no temporary directory"
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir -p "$root"/{bin,dev,proc,sys,tmp,fw,etc,lib/modules} || cannot "cannot fill $root"
cp "$busybox" "$root/bin/busybox"
cp "$hid"/hid.ko "$hid"/hid-generic.ko "$hid"/uhid.ko "$root/lib/modules/" ||
    cannot "the kernel package lacks hid.ko, hid-generic.ko or uhid.ko"
cp "$farsend" "$uhid_bridge" "$root/bin/"
# The binaries bring their shared libraries, at the paths the loader expects.
for binary in "$farsend" "$uhid_bridge"; do
    for lib in $(ldd "$binary" | grep -o '/[^ ]*'); do
        mkdir -p "$root$(dirname "$lib")"
        cp -L "$lib" "$root$lib"
    done
done
cp "$repo/tests/kernel/cases.sh" "$root/cases.sh"

# A small application image (6 KB in one run), so that the blocks take
# seconds under emulation, named for the simulated target (Bluetooth 1.5).
awk 'BEGIN { printf "%08X\n", 16384
             for (i = 0; i < 6144; i++) {
                 printf "%s%02X", (i % 16 ? " " : ""), (i * 7 + int(i / 256) * 31) % 256
                 if (i % 16 == 15) printf "\n" } }' >"$root/fw/Farsend_15_bt.hex"
ids=$("$farsend" devices --simulate | grep -o 'USB [0-9a-f]*:[0-9a-f]*' | cut -d' ' -f2)
[ -n "$ids" ] || cannot "farsend devices --simulate names no bridge ids"
echo "$ids" >"$root/fw/bridge-ids"
printf 'root:x:0:0::/:/bin/sh\noperator:x:1000:1000::/tmp:/bin/sh\n' >"$root/etc/passwd"
printf 'root:x:0:\noperator:x:1000:\n' >"$root/etc/group"

cat >"$root/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
chmod 1777 /tmp
for module in hid hid-generic uhid; do
    insmod /lib/modules/$module.ko || echo "FARSEND-CASE boot FAIL: insmod $module"
done
echo "FARSEND-GUEST-UP"
cd /tmp && sh /cases.sh
poweroff -f
EOF
chmod 755 "$root/init" "$root/cases.sh"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initrd.gz" ||
    cannot "cannot pack the initramfs"

# --- the run ------------------------------------------------------------------
console=$work/console.log
started=$(date +%s)
timeout 240 qemu-system-x86_64 -accel tcg -m 512 -smp 1 -nographic -no-reboot -net none \
    -kernel "$vmlinuz" -initrd "$work/initrd.gz" \
    -append 'console=ttyS0 quiet panic=-1' </dev/null >"$console" 2>&1
qemu_status=$?
took=$(( $(date +%s) - started ))
tr -d '\r' <"$console" >"$console.txt"
mkdir -p "$build/artifacts" && cp "$console.txt" "$build/artifacts/kernel-console.log"

grep '^FARSEND-CASE' "$console.txt"
grep -q 'FARSEND-GUEST-UP' "$console.txt" ||
    cannot "the guest never reached its init (qemu status $qemu_status); console in $build/artifacts/kernel-console.log"
failed=$(grep '^FARSEND-CASE .* FAIL' "$console.txt" | awk '{ print $2 }' | sort -u | tr '\n' ' ')
if ! grep -q '^FARSEND-DONE' "$console.txt"; then
    last=$(grep '^FARSEND-BEGIN' "$console.txt" | tail -n 1 | awk '{ print $2 }')
    echo "kernel suite: FAILED: case ${last:-?} never finished (qemu status $qemu_status after ${took} s)" >&2
    echo "console: $build/artifacts/kernel-console.log" >&2
    exit 1
fi
if [ -n "$failed" ]; then
    echo "kernel suite: FAILED: $failed(console: $build/artifacts/kernel-console.log)" >&2
    exit 1
fi
passed=$(grep -c '^FARSEND-CASE .* PASS' "$console.txt")
echo "kernel suite: $passed cases passed in ${took} s"
