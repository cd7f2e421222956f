#!/bin/sh
# The kernel suite's cases, run by the guest's /init as root. Each case
# prints "FARSEND-CASE <name> PASS" or "FARSEND-CASE <name> FAIL: <why>";
# the host (scripts/kernel-test.sh) reads them from the console.
# farsend and farsend-uhid-bridge are on PATH; /fw holds Farsend_15_bt.hex.

IMAGE=/fw/Farsend_15_bt.hex
# How long a short reply wait lasts here when nothing comes (eleven 1 ms
# pauses), for the turn times below.
command -v farsend-short-wait-probe >/dev/null && farsend-short-wait-probe | sed 's/^/FARSEND-LINUX /'
BRIDGE_IDS=$(cat /fw/bridge-ids)   # vvvv:pppp, as farsend prints them
bridge_pid=

fail() {
    echo "FARSEND-CASE $case FAIL: $*"
    failed=1
}

# Hundredths of a second since boot.
now() { cut -d' ' -f1 /proc/uptime | tr -d .; }

# Waits up to 5 s for a file to appear (or, with "gone", to disappear).
wait_for() {
    for _ in $(seq 500); do
        if [ "$2" = gone ]; then [ -e "$1" ] || return 0; else [ -e "$1" ] && return 0; fi
        usleep 10000
    done
    return 1
}

start_bridge() {
    farsend-uhid-bridge "$@" 2>/tmp/bridge.err &
    bridge_pid=$!
}

stop_bridge() {
    [ -n "$bridge_pid" ] || return 0
    kill -TERM "$bridge_pid" 2>/dev/null
    wait "$bridge_pid"
    bridge_pid=
    wait_for /dev/hidraw0 gone
}

show() {
    echo "--- $1 (status $2)"
    cat /tmp/out /tmp/err 2>/dev/null | head -n 20
}

begin() {
    case=$1
    failed=0
    echo "FARSEND-BEGIN $case"
}

end() {
    stop_bridge
    [ "$failed" = 0 ] && echo "FARSEND-CASE $case PASS"
}

# 1: devices lists the uhid bridge with its ids, the report lengths the
# kernel's descriptor gives, its location and its serial.
begin devices
start_bridge --device=usb-farsend-test-1/input0,FST0001
wait_for /dev/hidraw0 || fail "no /dev/hidraw0 after the uhid device was made"
farsend devices >/tmp/out 2>/tmp/err; status=$?
want="/dev/hidraw0  USB $BRIDGE_IDS  reports: input 65, output 65 bytes  location usb-farsend-test-1/input0  serial FST0001"
[ "$status" = 0 ] || fail "devices ended with status $status"
grep -qxF "$want" /tmp/out || { show devices $status; fail "devices did not list: $want"; }
farsend devices --json >/tmp/out 2>/tmp/err
grep -qF '"location":"usb-farsend-test-1/input0","serial":"FST0001"' /tmp/out ||
    { show "devices --json" $?; fail "devices --json lacks the location and serial"; }
end

# 2: program through the real hidraw node (named by its serial): the flash
# equals the image, and the target received exactly what it receives from
# the simulated bridge with no kernel in between.
begin program
start_bridge --device=usb-farsend-test-2/input0,FST0002 --flash-out=/tmp/uhid-flash.hex \
    --serial-log=/tmp/uhid-serial.bin --turn-times
wait_for /dev/hidraw0 || fail "no /dev/hidraw0"
farsend program --device FST0002 "$IMAGE" >/tmp/out 2>/tmp/err; status=$?
[ "$status" = 0 ] || { show program $status; fail "program ended with status $status"; }
stop_bridge
# How long farsend took to answer the bridge through hidraw, for comparison
# with the Wine half's.
grep ' turns: ' /tmp/bridge.err | sed "s/^farsend-uhid-bridge: /FARSEND-LINUX turns $case /"
cmp -s /tmp/uhid-flash.hex "$IMAGE" || fail "the flash does not equal the image"
farsend program --simulate --sim-serial-log=/tmp/sim-serial.bin "$IMAGE" >/tmp/out 2>/tmp/err ||
    fail "the simulated run failed"
cmp -s /tmp/uhid-serial.bin /tmp/sim-serial.bin ||
    fail "the serial stream differs from the simulated bridge's ($(wc -c </tmp/uhid-serial.bin) against $(wc -c </tmp/sim-serial.bin) bytes)"
end

# 3: an unplug in the middle of the blocks ends the run at once with the
# communication status and says why; the bridge plugged in again at the same
# place is found again by watch (named by location).
begin unplug
start_bridge --device=usb-farsend-test-3/input0,FST0003 --unplug-after=3000 --replug-after-ms=1500
wait_for /dev/hidraw0 || fail "no /dev/hidraw0"
farsend program "$IMAGE" >/tmp/out 2>/tmp/err; status=$?
ended=$(now)
unplugged=$(sed -n 's/.* unplugged at \([0-9]*\)$/\1/p' /tmp/bridge.err)
[ -n "$unplugged" ] || fail "the bridge was never unplugged"
took=$(( ended - ${unplugged:-0} ))
[ "$status" = 6 ] || { show program $status; fail "program ended with status $status, not 6"; }
grep -qF "the bridge was unplugged" /tmp/err ||
    { show program $status; fail "the message does not say that the bridge was unplugged"; }
grep -q "blocks" /tmp/err || fail "the unplug came before the blocks"
# The job's end, the monitor's 500 ms pause after it and the process's exit.
[ "$took" -lt 150 ] || fail "program ended $took/100 s after the unplug"
echo "unplug: program ended $took/100 s after the unplug"
farsend watch --count 1 --wait 30 --dir /fw --device usb-farsend-test-3/input0 >/tmp/out 2>/tmp/err
status=$?
[ "$status" = 0 ] || { show watch $status; fail "watch after the replug ended with status $status"; }
grep -q "^unit 1: programmed Farsend_15_bt.hex" /tmp/out || { show watch $status; fail "watch did not program the replugged bridge"; }
end

# 4: a device with the bridge's vendor and another product, made first, is
# passed over; the bridge behind it is the one opened.
begin other-product
start_bridge --device=usb-farsend-test-4a/input0,OTHER04,0002 --device=usb-farsend-test-4b/input0,FST0004
wait_for /dev/hidraw1 || fail "no /dev/hidraw1"
farsend devices >/tmp/out 2>/tmp/err
grep -q "^/dev/hidraw0" /tmp/out && fail "devices lists the other product as a bridge"
grep -q "^/dev/hidraw1 .*serial FST0004" /tmp/out || { show devices $?; fail "devices does not list the bridge"; }
farsend identify >/tmp/out 2>/tmp/err; status=$?
[ "$status" = 0 ] || { show identify $status; fail "identify ended with status $status"; }
grep -qx "variant: Bluetooth" /tmp/out || fail "identify did not reach the target"
end

# 5: four bridges at once under watch --all: each is a station named by its
# location, each programs its own target, and the records say which did what.
# Without validation: the guest's one emulated processor serves all four
# targets, and a query's short reply wait is a race against it, where the
# blocks' waits are not.
begin gang
start_bridge --device=usb-farsend-test-5/input0,FST0051 --device=usb-farsend-test-5.2/input0,FST0052 \
    --device=usb-farsend-test-5.3/input0,FST0053 --device=usb-farsend-test-5.4/input0,FST0054
wait_for /dev/hidraw3 || fail "no /dev/hidraw3 after four uhid devices were made"
rm -f /tmp/units.jsonl
farsend watch --all --count 4 --wait 60 --no-validate --dir /fw --report /tmp/units.jsonl \
    >/tmp/out 2>/tmp/err
status=$?
[ "$status" = 0 ] || { show "watch --all" $status; fail "watch --all ended with status $status"; }
[ "$(grep -c '"result":"success"' /tmp/units.jsonl 2>/dev/null)" = 4 ] ||
    { show "watch --all" $status; fail "not four units programmed"; }
for n in 1 2 3 4; do
    location=usb-farsend-test-5/input0
    [ "$n" = 1 ] || location=usb-farsend-test-5.$n/input0
    grep -qF "\"station\":\"$location\",\"bridge_serial\":\"FST005$n\"" /tmp/units.jsonl ||
        fail "no unit recorded for the station $location"
    grep -qF "[$location] unit " /tmp/out || fail "no result line for the station $location"
done
end

# 6: a user who may not open the node is told to install the udev rule.
begin permission
start_bridge --device=usb-farsend-test-6/input0,FST0006
wait_for /dev/hidraw0 || fail "no /dev/hidraw0"
su operator -s /bin/sh -c "farsend program $IMAGE" >/tmp/out 2>/tmp/err; status=$?
[ "$status" = 5 ] || { show program $status; fail "program as operator ended with status $status, not 5"; }
grep -qF "this user may not open it" /tmp/err || { show program $status; fail "no access advice"; }
grep -qF "70-farsend.rules" /tmp/err || fail "the advice does not name the udev rule"
grep -q "Permission denied" /tmp/err && ! grep -q "udev" /tmp/err && fail "a bare Permission denied"
end

