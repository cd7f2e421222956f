#!/bin/bash
# The kernel suite's Windows cases: farsend.exe under Wine, reaching the
# uhid bridge through Wine's HID stack (winebus.sys on the guest's udev,
# hidclass.sys, hid.dll, setupapi). Run by the guest's /init as root, chrooted
# into an overlay of the host's root (so Wine, its libraries and the build
# trees are the host's own), with a tmpfs /run and /tmp.
#
#   wine_cases.sh NATIVE_BUILD WINDOWS_BUILD IMAGE_DIR
#
# Prints "FARSEND-CASE wine-<name> PASS|FAIL: why" lines, and "FARSEND-WINE"
# lines with what was seen, so that a failed run says how far Wine got.
native=$1
windows=$2
fw=$3
IMAGE=$fw/Farsend_15_bt.hex
BRIDGE_IDS=$(cat "$fw/bridge-ids")
export PATH=/usr/lib/wine:/usr/sbin:/usr/bin:/sbin:/bin
export HOME=/root WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" WINEARCH=win64 LC_ALL=C.UTF-8
export WINEPREFIX=$windows/wineprefix
FARSEND_EXE=$windows/src/cli/farsend.exe
bridge_pid=

say() { echo "FARSEND-WINE $*"; }
fail() {
    echo "FARSEND-CASE $case FAIL: $*"
    failed=1
}
now() { cut -d' ' -f1 /proc/uptime | tr -d .; }
show() {
    echo "--- $1 (status $2)"
    tr -d '\r' </tmp/out | head -n 20
    tr -d '\r' </tmp/err | head -n 20
}
begin() {
    case=wine-$1
    failed=0
    echo "FARSEND-BEGIN $case"
}
end() {
    stop_bridge
    [ "$failed" = 0 ] && echo "FARSEND-CASE $case PASS"
}

# Waits up to $2 tenths of a second for `farsend.exe devices` to list (or,
# with "absent", no longer list) a line matching $1.
wait_listed() {
    for _ in $(seq "$2"); do
        wine64 "$FARSEND_EXE" devices 2>/dev/null | tr -d '\r' >/tmp/listed
        if [ "$3" = absent ]; then grep -q -- "$1" /tmp/listed || return 0
        else grep -q -- "$1" /tmp/listed && return 0; fi
        sleep 0.1
    done
    return 1
}

start_bridge() {
    "$native/tests/kernel/farsend-uhid-bridge" "$@" 2>/tmp/bridge.err &
    bridge_pid=$!
}
stop_bridge() {
    [ -n "$bridge_pid" ] || return 0
    kill -TERM "$bridge_pid" 2>/dev/null
    wait "$bridge_pid"
    bridge_pid=
    for _ in $(seq 500); do [ -e /dev/hidraw0 ] || break; sleep 0.01; done
}

# --- udev and Wine ------------------------------------------------------------
# winebus.sys finds hidraw nodes through libudev: an enumeration of the
# "hidraw" subsystem at its start, then the udev daemon's netlink events for
# devices plugged in later. Without a daemon no event ever comes.
# udevadm refuses to trigger or settle in a chroot unless told otherwise.
export SYSTEMD_IGNORE_CHROOT=1
started=$(now)
/lib/systemd/systemd-udevd --daemon 2>/tmp/udevd.err || say "systemd-udevd did not start: $(cat /tmp/udevd.err)"
udevadm trigger --action=add && udevadm settle --timeout=30
say "udevd up after $(( $(now) - started ))/100 s"

# The first case's bridge is there before Wine starts, so that winebus's
# first enumeration finds it whether or not later udev events reach it.
start_bridge --device=usb-farsend-wine-1b/input0,OTHER01,0002 --device=usb-farsend-wine-1/input0,FSW0001
udevadm settle --timeout=30
started=$(now)
wineserver -p 600 </dev/null >/dev/null 2>&1
# The services (winedevice.exe with winebus.sys among them) inherit this
# WINEDEBUG: their HID tracing says what winebus made of each hidraw node.
WINEDEBUG=warn+all,trace+hid,trace+plugplay wine64 wineboot </dev/null >/tmp/wineboot.log 2>&1
say "wineserver and services up after $(( $(now) - started ))/100 s (wineboot status $?)"

# What Wine saw, for a case that failed: udev's view of the hidraw nodes,
# winebus's trace and the device tree in the registry.
tell_what_wine_saw() {
    for node in /dev/hidraw*; do
        [ -e "$node" ] && say "udev: $(udevadm info -q property -n "$node" | tr '\n' ' ')"
    done
    grep -a -i -E 'udev|hidraw|sdl|bus_|err:' /tmp/wineboot.log | head -n 60 | sed 's/^/FARSEND-WINE trace: /'
    say "wineboot.log: $(wc -l </tmp/wineboot.log) lines"
    ls -la /run/udev /run/udev/data 2>&1 | head -n 20 | sed 's/^/FARSEND-WINE run: /'
}

# --- 1: devices through Wine's HID stack ----------------------------------
# Wine gives a HID interface no location: winebus reads the device's phys
# string only for its interface number (the "&mi_00" in the path).
begin devices
started=$(now)
wine64 "$FARSEND_EXE" devices >/tmp/out 2>/tmp/err; status=$?
say "farsend.exe devices took $(( $(now) - started ))/100 s"
show devices $status
[ "$status" = 0 ] || fail "devices ended with status $status"
want="USB $BRIDGE_IDS  reports: input 65, output 65 bytes  location -  serial FSW0001"
[ "$(tr -d '\r' </tmp/out | grep -c -F "  $want")" = 1 ] ||
    { fail "devices did not list the bridge once as: $want"; tell_what_wine_saw; }
grep -q -i "OTHER01\|:0002" /tmp/out && fail "devices lists the device with another product"
end

# --- 2: program by serial through Wine's HID stack -------------------------
# The bridge is plugged in while Wine runs: winebus hears of it from the
# udev daemon. Without validation on both sides: under emulation the variant
# query's short reply wait is a race against the guest's load (one run under
# a loaded host lost it), where the blocks' waits are not.
begin program
start_bridge --device=usb-farsend-wine-2/input0,FSW0002 --flash-out=/tmp/wine-flash.hex \
    --serial-log=/tmp/wine-serial.bin
wait_listed "serial FSW0002" 8 || fail "the bridge plugged in under Wine was never listed"
cd "$fw" || exit
started=$(now)
wine64 "$FARSEND_EXE" program --no-validate --device FSW0002 Farsend_15_bt.hex >/tmp/out 2>/tmp/err; status=$?
say "farsend.exe program took $(( $(now) - started ))/100 s"
cd /tmp
[ "$status" = 0 ] || { show program $status; fail "program ended with status $status"; }
stop_bridge
cmp -s /tmp/wine-flash.hex "$IMAGE" || fail "the flash does not equal the image"
"$native/src/cli/farsend" program --no-validate --simulate --sim-serial-log=/tmp/sim-serial.bin "$IMAGE" \
    >/dev/null 2>&1 || fail "the simulated run failed"
cmp -s /tmp/wine-serial.bin /tmp/sim-serial.bin ||
    fail "the serial stream differs from the simulated bridge's ($(wc -c </tmp/wine-serial.bin) against $(wc -c </tmp/sim-serial.bin) bytes)"
end

# --- 3: an unplug in the middle of the blocks ------------------------------
begin unplug
start_bridge --device=usb-farsend-wine-3/input0,FSW0003 --unplug-after=3000
wait_listed "serial FSW0003" 8 || fail "the bridge was never listed"
cd "$fw" || exit
wine64 "$FARSEND_EXE" program --device FSW0003 Farsend_15_bt.hex >/tmp/out 2>/tmp/err; status=$?
ended=$(now)
cd /tmp
unplugged=$(sed -n 's/.* unplugged at \([0-9]*\)$/\1/p' /tmp/bridge.err)
[ -n "$unplugged" ] || fail "the bridge was never unplugged"
took=$(( ended - ${unplugged:-0} ))
say "program ended $took/100 s after the unplug, status $status"
show program $status
[ "$status" = 6 ] || fail "program ended with status $status, not 6"
grep -qF "the bridge was unplugged during the job." /tmp/err ||
    fail "the message does not say that the bridge was unplugged"
# Wine's own process exit is part of it: measured apart as a bare start.
[ "$took" -lt 150 ] || fail "program ended $took/100 s after the unplug"
end

# --- 4: two bridges with the same identifiers -------------------------------
# A run on one of them restarts only that one: the other's run goes on.
begin two-bridges
start_bridge --device=usb-farsend-wine-4a/input0,FSW0041 --device=usb-farsend-wine-4b/input0,FSW0042 \
    --flash-out=/tmp/wine-flash-a.hex
wait_listed "serial FSW0042" 8 || fail "the second bridge was never listed"
cd "$fw" || exit
wine64 "$FARSEND_EXE" program --no-validate --wait 240 --device FSW0042 Farsend_15_bt.hex >/tmp/out-b 2>/tmp/err-b &
other=$!
wine64 "$FARSEND_EXE" program --no-validate --wait 240 --device FSW0041 Farsend_15_bt.hex >/tmp/out 2>/tmp/err; status=$?
wait $other; other_status=$?
cd /tmp
[ "$status" = 0 ] || { show program $status; fail "the run on FSW0041 ended with status $status"; }
[ "$other_status" = 0 ] || { tr -d '\r' </tmp/err-b | head; fail "the run on FSW0042 ended with status $other_status"; }
stop_bridge
cmp -s /tmp/wine-flash-a.hex "$IMAGE" || fail "FSW0041's flash does not equal the image"
end

say "done"
