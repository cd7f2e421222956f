#!/bin/bash
# The kernel suite's Windows cases: farsend.exe under Wine, reaching the
# uhid bridge through Wine's HID stack (winebus.sys watching /dev,
# hidclass.sys, hid.dll, setupapi). Run by the guest's /init as root, chrooted
# into an overlay of the host's root (so Wine, its libraries and the build
# trees are the host's own), with a tmpfs /run and /tmp.
#
#   wine_cases.sh NATIVE_BUILD WINDOWS_BUILD IMAGE_DIR
#
# Prints "FARSEND-CASE wine-<name> PASS|FAIL: why" lines, and "FARSEND-WINE"
# lines with what was seen and what each step cost (wall and CPU time of the
# guest, in hundredths of a second), so that a failed or slow run says where.
native=$1
windows=$2
fw=$3
IMAGE=$fw/Farsend_15_bt.hex
BRIDGE_IDS=$(cat "$fw/bridge-ids")
export PATH=/usr/lib/wine:/usr/sbin:/usr/bin:/sbin:/bin
export HOME=/root WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" WINEARCH=win64 LC_ALL=C.UTF-8
# The suite's own prefix, prepared on the host by scripts/kernel-test.sh.
export WINEPREFIX=$windows/kernel-wineprefix
FARSEND_EXE=$windows/src/cli/farsend.exe

say() { echo "FARSEND-WINE $*"; }
fail() {
    echo "FARSEND-CASE $case FAIL: $*"
    failed=1
}
# Hundredths of a second since boot, and of CPU time spent by the guest
# (user, nice, system, irq, softirq of both processors).
# Read by the shell itself: under emulation each process started costs a
# good part of a second, more than the times measured here.
now() {
    local up
    read -r up _ </proc/uptime
    echo "${up/./}"
}
cpu() { awk '/^cpu / { print $2 + $3 + $4 + $7 + $8; exit }' /proc/stat; }
mark() {
    mark_wall=$(now)
    mark_cpu=$(cpu)
}
took() { say "$1: $(( $(now) - mark_wall ))/100 s, CPU $(( $(cpu) - mark_cpu ))/100 s"; }
# Runs a command and says what it cost: "step LABEL COMMAND...".
step() {
    local label=$1 wall cpu status
    shift
    wall=$(now)
    cpu=$(cpu)
    "$@"
    status=$?
    say "step $label: $(( $(now) - wall ))/100 s, CPU $(( $(cpu) - cpu ))/100 s"
    return $status
}
show() {
    echo "--- $1 (status $2)"
    tr -d '\r' <"$3" | tail -n 20
}
begin() {
    case=wine-$1
    failed=0
    echo "FARSEND-BEGIN $case"
    mark
}
end() {
    took "case $case"
    [ "$failed" = 0 ] && echo "FARSEND-CASE $case PASS"
}

# No hidraw node is made after Wine starts, so none is reused after a
# removal: winebus matches a removal to its device by the node's name.
# $1 names the bridge process (its pid in bridge_<name>, its stderr in
# /tmp/bridge-<name>.err).
start_bridge() {
    local name=$1
    shift
    "$native/tests/kernel/farsend-uhid-bridge" --turn-times "$@" 2>"/tmp/bridge-$name.err" &
    eval "bridge_$name=$!"
}
stop_bridge() {
    local pid
    eval "pid=\${bridge_$1:-}"
    [ -n "$pid" ] || return 0
    kill -TERM "$pid" 2>/dev/null
    wait "$pid"
    eval "bridge_$1="
    # How long the host took to answer each of the bridge's reports: a short
    # reply wait allows 11 ms.
    grep -a ' turns: ' "/tmp/bridge-$1.err" | sed "s/^farsend-uhid-bridge: /FARSEND-WINE turns $case /"
}

# Connects the targets of a bridge process started with --target-on-signal.
connect_targets() {
    local pid
    eval "pid=\${bridge_$1:-}"
    kill -USR1 "$pid"
}

# A run of farsend.exe program on the bridge with serial $1 (further
# arguments before the image), its output in /tmp/out-$1 and /tmp/err-$1.
# --wait is for the target's call: opening the link through Wine under
# emulation takes seconds.
program() {
    local serial=$1
    shift
    (cd "$fw" && wine64 "$FARSEND_EXE" program --verbose --wait 120 --device "$serial" "$@" \
        Farsend_15_bt.hex >"/tmp/out-$serial" 2>"/tmp/err-$serial")
}

# --- Wine --------------------------------------------------------------------
# The prefix has winebus watch /dev itself (inotify) for hidraw nodes coming
# and going, and read what it needs of each from sysfs: no udev daemon,
# whose re-sent events are what winebus waits for otherwise.

# Every case's bridges are there before Wine starts, so that winebus's first
# enumeration finds them: in every run so far that listing held every
# bridge, where a bridge plugged in later was listed in some runs and never
# in others (through the udev daemon and through winebus's own watch on
# /dev alike; its removals were seen in both). The cases' targets are
# connected when each case begins: targets calling every 50 ms while the
# services start would keep winebus, hidclass and the Wine server busy for
# nothing (that cost more CPU time than anything else in one run).
start_bridge one --no-target --device=usb-farsend-wine-1b/input0,OTHER01,0002 \
    --device=usb-farsend-wine-1/input0,FSW0001
start_bridge two --target-on-signal --device=usb-farsend-wine-2/input0,FSW0002 \
    --flash-out=/tmp/wine-flash.hex --serial-log=/tmp/wine-serial.bin
start_bridge four --target-on-signal --device=usb-farsend-wine-4a/input0,FSW0041 \
    --device=usb-farsend-wine-4b/input0,FSW0042 --flash-out=/tmp/wine-flash-a.hex
start_bridge three --target-on-signal --device=usb-farsend-wine-3/input0,FSW0003 --unplug-after=3000
for _ in $(seq 100); do [ -e /dev/hidraw5 ] && break; sleep 0.1; done
[ -e /dev/hidraw5 ] || echo "FARSEND-CASE wine-boot FAIL: the six uhid devices did not all come"
mark
wineserver -p 600 </dev/null >/dev/null 2>&1
# The services (winedevice.exe with winebus.sys among them) inherit this
# WINEDEBUG: winebus's plugplay tracing says what it made of each hidraw
# node. Tracing every report (the hid channel) would cost more than the
# cases themselves under emulation.
WINEDEBUG=fixme-all,+plugplay wine64 wineboot </dev/null >/tmp/wineboot.log 2>&1
status=$?
took "wineserver and services up (wineboot status $status)"
# Where the start-up's time went, process by process.
ps -eo cputime=,etime=,args= | grep -a -i -E 'wine|\.exe' | grep -v grep | cut -c1-110 |
    sed 's/^/FARSEND-WINE process: /'
grep -a -q -i 'has been updated' /tmp/wineboot.log && say "wineboot updated the prefix"
# How long a short reply wait lasts under Wine here when nothing comes
# (eleven 1 ms pauses through the product's clock), for the turn times.
probe=$windows/tests/kernel/farsend-short-wait-probe.exe
[ -f "$probe" ] && wine64 "$probe" 2>/dev/null | tr -d '\r' | sed 's/^/FARSEND-WINE /'

# What Wine saw, for a case that failed: each hidraw node's HID device as
# winebus reads it from sysfs, and winebus's trace.
tell_what_wine_saw() {
    for node in /sys/class/hidraw/hidraw*; do
        [ -e "$node" ] && say "${node##*/}: $(tr '\n' ' ' <"$node/device/uevent")"
    done
    grep -a -i -E 'udev|hidraw|remov|err:' /tmp/wineboot.log | tail -n 60 | sed 's/^/FARSEND-WINE trace: /'
    say "wineboot.log: $(wc -l </tmp/wineboot.log) lines"
}

# --- 1: devices through Wine's HID stack ----------------------------------
# Wine gives a HID interface no location: winebus reads the device's phys
# string only for its interface number (the "&mi_00" in the path).
begin devices
list_devices() { wine64 "$FARSEND_EXE" devices >/tmp/out 2>/tmp/err; }
step "farsend.exe devices" list_devices; status=$?
show devices $status /tmp/out
[ "$status" = 0 ] || fail "devices ended with status $status"
want="USB $BRIDGE_IDS  reports: input 65, output 65 bytes  location -  serial FSW0001"
[ "$(tr -d '\r' </tmp/out | grep -c -F "  $want")" = 1 ] ||
    { fail "devices did not list the bridge once as: $want"; tell_what_wine_saw; }
grep -q -i "OTHER01\|:0002" /tmp/out && fail "devices lists the device with another product"
for serial in FSW0002 FSW0041 FSW0042 FSW0003; do
    tr -d '\r' </tmp/out | grep -q -- "serial $serial\$" || fail "devices does not list the bridge $serial"
done
stop_bridge one
end

# --- 2: program by serial through Wine's HID stack -------------------------
# Without validation on both sides: under emulation the variant
# query's short reply wait is a race against the guest's load (one run under
# a loaded host lost it), where the blocks' waits are not.
begin program
connect_targets two
step "farsend.exe program" program FSW0002 --no-validate; status=$?
[ "$status" = 0 ] || { show program $status /tmp/err-FSW0002; fail "program ended with status $status"; tell_what_wine_saw; }
stop_bridge two
cmp -s /tmp/wine-flash.hex "$IMAGE" || fail "the flash does not equal the image"
"$native/src/cli/farsend" program --no-validate --simulate --sim-serial-log=/tmp/sim-serial.bin "$IMAGE" \
    >/dev/null 2>&1 || fail "the simulated run failed"
cmp -s /tmp/wine-serial.bin /tmp/sim-serial.bin ||
    fail "the serial stream differs from the simulated bridge's ($(wc -c </tmp/wine-serial.bin) against $(wc -c </tmp/sim-serial.bin) bytes)"
end

# --- 4: two bridges with the same identifiers -------------------------------
# The run on FSW0041 opens its bridge, restart first, while the run on
# FSW0042 is in the middle of its blocks: the restart is aimed at the bridge
# being opened only, so the other's run goes on undisturbed. Under Wine no
# device is a USB device (their identifiers begin with WINEBUS\ and HID\),
# so the restart finds nothing to restart at all.
begin two-bridges
connect_targets four
program FSW0042 --no-validate &
other=$!
# The block lines of --verbose ("base:...") say that the run is in its
# blocks.
for _ in $(seq 2400); do
    grep -a -q 'base:' /tmp/err-FSW0042 2>/dev/null && break
    kill -0 $other 2>/dev/null || break
    sleep 0.1
done
grep -a -q 'base:' /tmp/err-FSW0042 || fail "the run on FSW0042 never reached its blocks"
program FSW0041 --no-validate; status=$?
wait $other; other_status=$?
[ "$status" = 0 ] || { show program $status /tmp/err-FSW0041; fail "the run on FSW0041 ended with status $status"; }
[ "$other_status" = 0 ] || { show program $other_status /tmp/err-FSW0042; fail "the run on FSW0042 ended with status $other_status"; }
grep -q -i "unplugged" /tmp/err-FSW0041 /tmp/err-FSW0042 && fail "a bridge was taken away during the runs"
stop_bridge four
cmp -s /tmp/wine-flash-a.hex "$IMAGE" || fail "FSW0041's flash does not equal the image"
end

# --- 3: an unplug in the middle of the blocks ------------------------------
begin unplug
connect_targets three
# Each line farsend.exe writes to standard error is stamped with the time it
# came: the message is the program's own answer to the unplug, where the
# end of the Wine process after it is Wine's (seconds under emulation).
(
    cd "$fw" || exit
    wine64 "$FARSEND_EXE" program --verbose --no-validate --wait 120 --device FSW0003 \
        Farsend_15_bt.hex 2>&1 >/tmp/out-FSW0003 |
        # Stamped without starting a process: a stamp that started one took
        # 0.3 to 0.6 s under emulation, and the stamps fell behind the lines.
        while IFS= read -r line; do
            read -r up _ </proc/uptime
            echo "${up/./} $line"
        done >/tmp/err-FSW0003
    exit "${PIPESTATUS[0]}"
)
status=$?
ended=$(now)
unplugged=$(sed -n 's/.* unplugged at \([0-9]*\)$/\1/p' /tmp/bridge-three.err)
[ -n "$unplugged" ] || fail "the bridge was never unplugged"
told=$(grep -a -m1 'the bridge was unplugged' /tmp/err-FSW0003 | cut -d' ' -f1)
say "the unplug message came $(( ${told:-0} - ${unplugged:-0} ))/100 s after the unplug, the process ended $(( ended - ${unplugged:-0} ))/100 s after it"
show program $status /tmp/err-FSW0003
[ "$status" = 6 ] || fail "program ended with status $status, not 6"
[ -n "$told" ] || fail "the message does not say that the bridge was unplugged"
[ -n "$told" ] && [ $(( told - ${unplugged:-0} )) -lt 150 ] ||
    fail "the unplug message came later than 1.5 s after the unplug"
stop_bridge three
end

ps -eo cputime=,etime=,args= | grep -a -i -E 'wine|\.exe' | grep -v grep | cut -c1-110 |
    sed 's/^/FARSEND-WINE process: /'
# The device tree Wine made: its identifiers, which the restart looks at.
wineserver -k; wineserver -w
grep -a -o -i -E '^\[System\\\\CurrentControlSet\\\\Enum\\\\(WINEBUS|HID|USB)\\\\[^]]*\]' "$WINEPREFIX/system.reg" |
    sort -u | head -n 20 | sed 's/^/FARSEND-WINE enum: /'
say "done"
