#!/usr/bin/env bash
# A line of two PCs, one on Linux and one on Windows (farsend.exe under
# Wine), two stations each, drawing serial numbers from one pool of one
# PostgreSQL server (scripts/pg-test-server.sh; Linux over its Unix socket,
# Windows over TCP). Passes when the 100 units got 100 distinct numbers of the
# pool, every unit has its row, and every target's flash is the image with
# its own number at its place and nothing else changed.
#   scripts/mixed-line-test.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR
# The Wine prefix of WINDOWS_BUILD_DIR must be running (scripts/wine-env.sh).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
fail() { echo "mixed-line-test: $*" >&2; exit 1; }
linux=$(realpath -m "${1:?usage: $0 LINUX_BUILD_DIR WINDOWS_BUILD_DIR}")/src/cli/farsend
windows=$(realpath -m "${2:?usage: $0 LINUX_BUILD_DIR WINDOWS_BUILD_DIR}")/src/cli/farsend.exe
[ -x "$linux" ] || fail "$linux is missing: build that Linux preset first (ctest's default is" \
    "build/asan; -DFARSEND_LINUX_BUILD_DIR=build/native names another)"
[ -f "$windows" ] || fail "$windows is missing: build the windows preset's farsend first"

work=$(mktemp -d /tmp/fs-mixed.XXXXXX)
chmod 755 "$work"  # the server may run as the postgres user
cleanup() { "$repo/scripts/pg-test-server.sh" stop "$work/pg" >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT
"$repo/scripts/pg-test-server.sh" start "$work/pg" >/dev/null
mkdir -p "$work/firmware" "$work/flash-linux" "$work/flash-windows"
"$(dirname "$linux")/farsend-samples" "$work/firmware" >/dev/null
image=$work/firmware/Farsend_15_bt.hex
serial=4100:4:le

"$linux" serials init line --first 70000 --last 70099 --db "$(cat "$work/pg/url")" >/dev/null
# 2 stations x 25 targets on each PC, both at once.
run() {  # program flash-dir url -> JSON lines on standard output
    "$@" --simulate --sim-bridges=2 --sim-targets=25 watch --all --dir "$work/firmware" \
        --quiet --json --serial "$serial" --serial-pool line
}
run "$linux" --sim-flash-dir="$work/flash-linux" --db "$(cat "$work/pg/url")" \
    >"$work/linux.jsonl" 2>"$work/linux.err" &
linux_pid=$!
run /usr/lib/wine/wine64 "$windows" --sim-flash-dir="$work/flash-windows" \
    --db "$(cat "$work/pg/tcp-url")" >"$work/windows.jsonl" 2>"$work/windows.err" &
windows_pid=$!
linux_status=0 windows_status=0
wait "$linux_pid" || linux_status=$?
wait "$windows_pid" || windows_status=$?
[ "$linux_status" = 0 ] || fail "Linux farsend ended with $linux_status: $(cat "$work/linux.err")"
[ "$windows_status" = 0 ] || fail "farsend.exe ended with $windows_status: $(cat "$work/windows.err")"

units=$("$linux" units --db "$(cat "$work/pg/url")" --json)
python3 - "$image" "$serial" "$work" "$units" <<'EOF'
import json, pathlib, sys

def contents(path):  # firmware file -> {address: byte}
    # An address line (8 hex digits), then lines of its bytes in hex.
    memory, address = {}, 0
    for line in pathlib.Path(path).read_text().splitlines():
        words = line.split()
        if len(words) == 1 and len(words[0]) == 8:
            address = int(words[0], 16)
            continue
        for word in words:
            memory[address] = int(word, 16)
            address += 1
    return memory

image_path, serial, work, units = sys.argv[1:5]
address, size = int(serial.split(":")[0], 16), int(serial.split(":")[1])
image = contents(image_path)
results = [json.loads(l) for name in ("linux", "windows")
           for l in pathlib.Path(work, name + ".jsonl").read_text().splitlines() if l]
numbers = [r["serial"] for r in results]
problems = []
if len(results) != 100 or sorted(numbers) != list(range(70000, 70100)):
    problems.append(f"{len(results)} results, {len(set(numbers))} distinct numbers")
rows = json.loads(units)["units"]
programmed = sorted(r.get("serial") for r in rows if r.get("result") == "programmed")
if programmed != list(range(70000, 70100)):
    problems.append(f"{len(programmed)} rows programmed, not the pool's 100 numbers")
flashes = sorted(pathlib.Path(work, "flash-linux").glob("*.hex")) + \
          sorted(pathlib.Path(work, "flash-windows").glob("*.hex"))
seen = set()
for flash in flashes:
    memory = contents(flash)
    number = int.from_bytes(bytes(memory.get(address + i, 0) for i in range(size)), "little")
    expected = dict(image)
    for i, byte in enumerate(number.to_bytes(size, "little")):
        expected[address + i] = byte
    if memory != expected:
        problems.append(f"{flash.name}: not the image with number {number}")
    seen.add(number)
if len(flashes) != 100 or seen != set(range(70000, 70100)):
    problems.append(f"{len(flashes)} flashes holding {len(seen)} distinct numbers of the pool")
if problems:
    sys.exit("mixed-line-test: " + "; ".join(problems))
print("mixed-line-test: 100 units, 100 distinct numbers, every flash the image with its own")
EOF
