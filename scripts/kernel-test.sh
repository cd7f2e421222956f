#!/usr/bin/env bash
# The kernel suite: boots Debian 12's kernel under QEMU (TCG, no KVM) with an
# initramfs that holds farsend, farsend-uhid-bridge and tests/kernel/cases.sh,
# and reads the cases' results from the serial console. Then, in the same
# guest, tests/kernel/wine_cases.sh runs farsend.exe under Wine against the
# same kind of uhid device: the guest mounts the host's root read-only over
# 9p, with a tmpfs overlay on it, and a Wine prefix of its own.
#
# Usage: scripts/kernel-test.sh [BUILD_DIR [WINDOWS_BUILD_DIR]]
#        (defaults: build/native and build/windows)
# FARSEND_KERNEL_CASES="linux wine" runs both halves, =wine the Wine half
# alone; the default is the Linux half.
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
windows=$(realpath -m "${2:-$repo/build/windows}")
# The Wine half is asked for: its cases 2 to 4 do not pass in every run
# under emulation (docs/testing.md, "Turn times").
halves=${FARSEND_KERNEL_CASES:-linux}
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
if [[ " $halves " == *" wine "* ]]; then
    for binary in "$windows/src/cli/farsend.exe" "$windows/src/app/win32/farsend-flasher.exe"; do
        [ -f "$binary" ] || cannot "$binary is missing: build the windows preset's farsend and farsend-flasher first"
    done
    [ -x /usr/lib/wine/wine64 ] || cannot "Wine is missing (scripts/install-deps.sh all)"
fi

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
kernel_tree=$(ls -d "$unpacked"/lib/modules/*/kernel)

# --- the initramfs ------------------------------------------------------------
work=$(mktemp -d "${TMPDIR:-/tmp}/farsend-kernel.XXXXXX") || cannot "no temporary directory"
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir -p "$root"/{bin,dev,proc,sys,tmp,fw,etc,lib/modules} || cannot "cannot fill $root"
cp "$busybox" "$root/bin/busybox"
cp "$hid"/hid.ko "$hid"/hid-generic.ko "$hid"/uhid.ko "$root/lib/modules/" ||
    cannot "the kernel package lacks hid.ko, hid-generic.ko or uhid.ko"
# The host's root over 9p (virtio) with a tmpfs overlay, for the Wine half;
# in the order their dependencies ask.
for module in drivers/virtio/virtio_ring drivers/virtio/virtio drivers/virtio/virtio_pci_modern_dev \
    drivers/virtio/virtio_pci_legacy_dev drivers/virtio/virtio_pci net/9p/9pnet \
    net/9p/9pnet_virtio fs/netfs/netfs fs/fscache/fscache fs/9p/9p fs/overlayfs/overlay; do
    cp "$kernel_tree/$module.ko" "$root/lib/modules/" || cannot "the kernel package lacks $module.ko"
done
# How long a short reply wait lasts in the guest; measured when it was built.
probe=$build/tests/kernel/farsend-short-wait-probe
[ -x "$probe" ] || probe=
cp "$farsend" "$uhid_bridge" $probe "$root/bin/"
# The binaries bring their shared libraries, at the paths the loader expects.
for binary in "$farsend" "$uhid_bridge" $probe; do
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
echo "$halves" >"$root/fw/halves"
printf '%s\n%s\n%s\n' "$build" "$windows" "$repo" >"$root/fw/trees"
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
# Hundredths of a second since boot.
now() { cut -d' ' -f1 /proc/uptime | tr -d .; }
if grep -qw linux /fw/halves; then
    from=$(now)
    (cd /tmp && sh /cases.sh)
    echo "FARSEND-LINUX half: $(( $(now) - from ))/100 s"
fi
if grep -qw wine /fw/halves; then
    from=$(now)
    sh /wine-root.sh
    echo "FARSEND-WINE half: $(( $(now) - from ))/100 s"
fi
echo "FARSEND-DONE"
poweroff -f
EOF
# The Wine half's root: the host's, read-only over 9p, under a tmpfs overlay,
# with the guest's own /proc, /sys, /dev and a tmpfs /run and /tmp.
cat >"$root/wine-root.sh" <<'EOF'
for module in virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci \
    9pnet 9pnet_virtio netfs fscache 9p overlay; do
    insmod /lib/modules/$module.ko || echo "FARSEND-CASE wine-boot FAIL: insmod $module"
done
mkdir -p /host /rw /new
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144,cache=loose hostroot /host ||
    { echo "FARSEND-CASE wine-boot FAIL: the host's root could not be mounted over 9p"; exit; }
mount -t tmpfs -o size=768m tmpfs /rw && mkdir -p /rw/upper /rw/work
mount -t overlay overlay -o lowerdir=/host,upperdir=/rw/upper,workdir=/rw/work /new ||
    { echo "FARSEND-CASE wine-boot FAIL: no overlay on the host's root"; exit; }
mount -t proc proc /new/proc
mount -t sysfs sysfs /new/sys
mount -t devtmpfs devtmpfs /new/dev
mkdir -p /new/dev/shm /new/dev/pts
mount -t tmpfs tmpfs /new/dev/shm
mount -t tmpfs tmpfs /new/run
mount -t tmpfs tmpfs /new/tmp
mkdir -p /new/tmp/fw && cp /fw/* /new/tmp/fw/
{ read -r native; read -r windows; read -r repo; } </fw/trees
chroot /new /bin/bash "$repo/tests/kernel/wine_cases.sh" "$native" "$windows" /tmp/fw
EOF
chmod 755 "$root/init" "$root/cases.sh"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initrd.gz" ||
    cannot "cannot pack the initramfs"

# --- the Wine prefix ----------------------------------------------------------
# The suite's own prefix beside the Windows build's, made and brought up to
# date here at the host's full speed, so that the guest's wineboot has no
# prefix to make or update (the host's prefix is the guest's too, under its
# overlay). What it sets:
# - winebus.sys starts its udev bus (the hidraw nodes) only when its SDL bus
#   is off: with SDL on, even when libSDL2 cannot be loaded, the udev bus
#   never starts and Wine lists only its own virtual mouse and keyboard.
# - DisableUdevd: winebus watches /dev itself (inotify) for hidraw nodes
#   coming and going. Otherwise it hears of a node plugged in later only
#   from the udev daemon's re-sent event, which the guest would have to run.
# - services.exe gives a service process 10 s to call back, then ends it;
#   under emulation a winedevice.exe took longer, and with it went winebus.sys
#   and every HID device. Wine reads this value as a text.
# - The services that start with every boot and that the cases do not need
#   (the event log, the network drivers, the mount manager) are off: each
#   is a process that the guest would start and run under emulation.
if [[ " $halves " == *" wine "* ]]; then
    cat >"$work/kernel-prefix.reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\WineBus]
"Enable SDL"=dword:00000000
"DisableUdevd"=dword:00000001

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control]
"ServicesPipeTimeout"="600000"

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Eventlog]
"Start"=dword:00000004

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\NDIS]
"Start"=dword:00000004

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\nsiproxy]
"Start"=dword:00000004

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\MountMgr]
"Start"=dword:00000004

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
REG
    (
        export WINEPREFIX=$windows/kernel-wineprefix WINEDEBUG=-all WINEARCH=win64 \
            WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" LC_ALL=C.UTF-8
        wine=/usr/lib/wine/wine64
        # Made once per build tree, updated by wineboot when Wine changed.
        "$wine" wineboot </dev/null >/dev/null 2>&1
        reg=$work/kernel-prefix.reg
        "$wine" reg import "Z:${reg//\//\\}" </dev/null >/dev/null 2>&1
        status=$?
        /usr/lib/wine/wineserver -k
        /usr/lib/wine/wineserver -w
        exit $status
    ) || cannot "cannot prepare the Wine prefix $windows/kernel-wineprefix"
fi

# --- the run ------------------------------------------------------------------
console=$work/console.log
started=$(date +%s)
default_limit=240
[[ " $halves " == *" wine "* ]] && default_limit=900
timeout "${FARSEND_KERNEL_TIMEOUT:-$default_limit}" qemu-system-x86_64 -accel tcg,thread=multi -m 1536 -smp 2 -nographic -no-reboot -net none \
    -kernel "$vmlinuz" -initrd "$work/initrd.gz" \
    -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
    -append 'console=ttyS0 quiet panic=-1' </dev/null >"$console" 2>&1
qemu_status=$?
took=$(( $(date +%s) - started ))
tr -d '\r' <"$console" >"$console.txt"
mkdir -p "$build/artifacts" && cp "$console.txt" "$build/artifacts/kernel-console.log"

grep '^FARSEND-CASE' "$console.txt"
# What each half and step took, and how long the host took to answer the
# bridge (the short replies allow 11 ms).
grep -a -E '^FARSEND-(LINUX|WINE) .*( turns: |/100 s|short-wait)' "$console.txt"
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
