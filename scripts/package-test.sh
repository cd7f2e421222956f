#!/usr/bin/env bash
# The release packages, installed and run as a user would:
#   - farsend_<version>_amd64.deb installed with apt-get into a clean Debian 12
#     root (an overlay on the root scripts/debian-root.sh keeps, so the cached
#     root stays clean): --version, a simulated programming run of a shipped
#     sample, man farsend, bash completion, the maintainer scripts in and out
#     of a chroot, and a purge that leaves none of its files behind;
#   - farsend-<version>-windows-x64.zip unpacked into an empty folder and run
#     in a fresh Wine prefix: farsend-flasher.exe autoprogram exit, farsend.exe
#     program, F1 finding the help page beside the program, both programs'
#     version information, no DLL needed beside them.
# Makes the packages first (scripts/package.sh) unless FARSEND_PACKAGES_MADE=1.
# Needs root (chroot, mounts), debootstrap and a Debian mirror the first time,
# Wine and Xvfb; without them it fails and says why.
#   scripts/package-test.sh [deb|zip]...   (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD

parts=("$@")
[ ${#parts[@]} -eq 0 ] && parts=(deb zip)

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
die() { echo "package-test: $*" >&2; exit 1; }
check() {  # description, command...: the command must succeed
    local description=$1
    shift
    if "$@"; then echo "ok: $description"; else fail "$description"; fi
}

[ "$(id -u)" -eq 0 ] || die "needs root: the .deb is installed into a chroot"
for tool in unzip chroot unshare mount; do
    command -v "$tool" >/dev/null || die "$tool is missing: scripts/install-deps.sh package"
done

if [ "${FARSEND_PACKAGES_MADE:-}" != 1 ]; then
    scripts/package.sh || die "making the packages failed"
fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release/CMakeCache.txt)
[ -n "$version" ] || die "no release build: run scripts/package.sh"
deb=$source_dir/build/release/packages/farsend_${version}_amd64.deb
zip=$source_dir/build/windows/packages/farsend-${version}-windows-x64.zip

scratch=$(mktemp -d /tmp/farsend-package-test.XXXXXX)
mounts=()
cleanup() {
    local i
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[i]}" 2>/dev/null || true; done
    [ "$(type -t wine_env_stop)" = function ] && wine_env_stop
    rm -rf "$scratch"
}
trap cleanup EXIT

# --- The .deb in a clean Debian 12 root ---

# Every path in the root but those that change whatever is installed (logs,
# apt's and dpkg's own records, caches, run-time and scratch directories).
list_files() {  # root
    (cd "$1" && find . -xdev \
        \( -path ./proc -o -path ./sys -o -path ./dev -o -path ./run -o -path ./tmp \
           -o -path ./var/log -o -path ./var/cache -o -path ./var/lib/dpkg -o -path ./var/lib/apt \
           -o -path ./root -o -path ./.farsend-root-complete \) -prune -o -print | sort)
}

test_deb() {
    [ -f "$deb" ] || die "$deb is missing: scripts/package.sh"
    command -v debootstrap >/dev/null || die "debootstrap is missing: scripts/install-deps.sh package"
    local cache start root
    start=$(date +%s)
    cache=$(scripts/debian-root.sh) || die "no clean Debian root (see above)"
    echo "Debian root: $cache ($(($(date +%s) - start)) s)"

    root=$scratch/root
    mkdir -p "$root" "$scratch/upper" "$scratch/work"
    if mount -t overlay overlay -o "lowerdir=$cache,upperdir=$scratch/upper,workdir=$scratch/work" "$root" 2>/dev/null; then
        mounts+=("$root")
    else
        echo "no overlay mount here: working on a copy of the root"
        cp -a "$cache/." "$root/"
    fi
    mount -t proc proc "$root/proc" && mounts+=("$root/proc")
    in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        HOME=/root LC_ALL=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"; }

    # A recording udevadm ahead of the real one on root's PATH, and the
    # directory a running udev keeps: the maintainer scripts must still
    # leave udev alone, since this is a chroot.
    mkdir -p "$root/run/udev" "$root/usr/local/sbin"
    printf '#!/bin/sh\necho "udevadm $*" >>/tmp/udevadm.calls\n' >"$root/usr/local/sbin/udevadm"
    chmod 755 "$root/usr/local/sbin/udevadm"
    list_files "$root" >"$scratch/before"

    cp "$deb" "$root/tmp/"
    check "apt-get install ./$(basename "$deb")" \
        in_root sh -c "cd /tmp && apt-get install -y -q ./$(basename "$deb") >/tmp/install.log 2>&1 || { tail -n 20 /tmp/install.log; exit 1; }"
    check "in a chroot the postinst leaves udev alone" test ! -e "$root/tmp/udevadm.calls"

    local out
    out=$(in_root farsend --version 2>&1)
    check "farsend --version prints $version ('$out')" test "$out" = "farsend $version"

    out=$(in_root farsend --simulate --sim-flash-out=/tmp/flash.hex program --dir /usr/share/farsend/samples 2>&1)
    check "farsend --simulate program programs a shipped sample" \
        sh -c "printf '%s' \"\$1\" | grep -q '^programmed Farsend_15_bt.hex into Bluetooth'" - "$out"
    check "the simulated flash was written" test -s "$root/tmp/flash.hex"

    # The page man shows, against what --help lists.
    local page help missing=()
    page=$(in_root env MANWIDTH=200 man farsend 2>&1)
    help=$(in_root farsend --help)
    check "man farsend shows the page" sh -c "printf '%s' \"\$1\" | grep -q '^NAME' && printf '%s' \"\$1\" | grep -q 'farsend - program Farsend'" - "$page"
    local word
    for word in $(printf '%s\n' "$help" | grep -oE '^ +(-[a-z], )?--[a-z0-9-]+' | sed -E 's/^ +//; s/, /\n/') \
                $(printf '%s\n' "$help" | awk '/^Commands:/ {on = 1; next} on && /^$/ {on = 0} on && /^  [a-z]/ {print $1}'); do
        printf '%s\n' "$page" | grep -qF -- "$word" || missing+=("$word")
    done
    check "the man page names every option and command of --help${missing:+ (missing: ${missing[*]})}" \
        test ${#missing[@]} -eq 0

    cp tests/package/completion_test.sh "$root/tmp/"
    check "bash completion of commands, options and values from --help" \
        in_root bash /tmp/completion_test.sh farsend

    # Outside a chroot, with udev running: in a PID namespace of its own
    # the root is the whole system to the script (its PID 1 sees the same /).
    rm -f "$root/tmp/udevadm.calls"
    check "where udev runs the postinst reloads the rules" sh -c '
        unshare --pid --fork --mount-proc="$1/proc" chroot "$1" /usr/bin/env -i PATH=/usr/local/sbin:/usr/sbin:/usr/bin:/sbin:/bin \
            /var/lib/dpkg/info/farsend.postinst configure &&
        grep -qx "udevadm control --reload-rules" "$1/tmp/udevadm.calls" &&
        grep -q "^udevadm trigger .*hidraw" "$1/tmp/udevadm.calls"' - "$root"
    rm -f "$root/tmp/udevadm.calls"

    local listed
    listed=$(in_root dpkg -L farsend)
    check "apt-get remove --purge farsend" \
        in_root sh -c "apt-get remove --purge -y -q farsend >/tmp/remove.log 2>&1"
    # The libraries it pulled in (the unit database's) go the way a user
    # removes them: as packages nothing needs any more.
    check "apt-get autoremove --purge takes the libraries it pulled in" \
        in_root sh -c "apt-get autoremove --purge -y -q >>/tmp/remove.log 2>&1"
    check "the postrm in a chroot leaves udev alone" test ! -e "$root/tmp/udevadm.calls"
    list_files "$root" >"$scratch/after"
    check "the purge left none of its files behind" diff -u "$scratch/before" "$scratch/after"
    local left=()
    for word in $listed; do
        [ -f "$root$word" ] && left+=("$word")
    done
    check "none of the package's files remain${left:+ (${left[*]})}" test ${#left[@]} -eq 0
    check "dpkg keeps no record of farsend" sh -c '! ls "$1"/var/lib/dpkg/info/farsend.* 2>/dev/null' - "$root"
}

# --- The ZIP in an empty folder and a fresh Wine prefix ---

test_zip() {
    [ -f "$zip" ] || die "$zip is missing: scripts/package.sh"
    command -v wine64 >/dev/null || [ -x /usr/lib/wine/wine64 ] || die "Wine is missing: scripts/install-deps.sh package"
    command -v Xvfb >/dev/null || die "Xvfb is missing: scripts/install-deps.sh package"
    # The test programs that drive the unpacked ones.
    cmake --build --preset windows -j "$(nproc)" --target test_gui test_exe_versions >/dev/null ||
        die "building the Windows test programs failed"
    local unpacked=$scratch/unpacked top
    mkdir "$unpacked"
    unzip -q "$zip" -d "$unpacked"
    top=$unpacked/farsend-${version}-windows-x64
    local expected
    expected=$(printf '%s\n' CHANGELOG.txt README.txt program/FLASH_HELP.html program/farsend-flasher.exe \
        program/farsend.exe; for image in build/release/package/samples/Farsend_*.hex; do echo "samples/$(basename "$image")"; done)
    check "the ZIP holds one folder with the programs, help, samples and READMEs" \
        diff -u <(echo "$expected" | sort) <(cd "$unpacked" && find . -type f | sed "s|^\./farsend-${version}-windows-x64/||" | sort)
    check "the help page names version $version" grep -q "id=\"version\">$version<" "$top/program/FLASH_HELP.html"
    check "README.txt has Windows line ends" grep -q $'\r$' "$top/README.txt"

    # Linked statically: nothing but system DLLs imported.
    local exe dlls
    for exe in farsend-flasher.exe farsend.exe; do
        dlls=$(x86_64-w64-mingw32-objdump -p "$top/program/$exe" | sed -n 's/.*DLL Name: //p' | tr 'A-Z' 'a-z' |
            grep -vxE '(kernel32|user32|gdi32|comctl32|comdlg32|shell32|advapi32|ole32|oleaut32|msvcrt|ws2_32|secur32|version|setupapi|hid|cfgmgr32|shlwapi|bcrypt|api-ms-win-.*)\.dll' || true)
        check "$exe needs no DLL beside it${dlls:+ (imports $dlls)}" test -z "$dlls"
    done

    # A fresh prefix of its own (wine-env.sh makes it under the folder given).
    mkdir "$scratch/wine"
    # shellcheck disable=SC1091
    source scripts/wine-env.sh "$scratch/wine"
    local status=0
    cd "$top/program"
    timeout 300 wine64 farsend-flasher.exe --simulate '--sim-flash-out=..\..\flash.hex' \
        autoprogram exit '..\samples\Farsend_15_bt.hex' </dev/null || status=$?
    check "farsend-flasher.exe --simulate autoprogram exit FILE exits 0 (got $status)" test $status -eq 0
    check "... having programmed the simulated target" test -s "$unpacked/flash.hex"
    status=0
    timeout 300 wine64 farsend.exe --simulate program --dir '..\samples' </dev/null || status=$?
    check "farsend.exe --simulate program exits 0 (got $status)" test $status -eq 0
    # The unit database from the unpacked ZIP: a pool in a new SQLite file,
    # and a serialized run that takes its first number.
    status=0
    timeout 300 wine64 farsend.exe serials init board --first 100 --db '..\..\units.sqlite' \
        </dev/null >/dev/null || status=$?
    check "farsend.exe serials init makes a pool in a new SQLite file (got $status)" test $status -eq 0
    status=0
    local result
    result=$(timeout 300 wine64 farsend.exe --simulate '--sim-flash-out=..\..\serial-flash.hex' \
        program '..\samples\Farsend_15_bt.hex' --quiet --json --serial 4100:4 --serial-pool board \
        --db '..\..\units.sqlite' </dev/null) || status=$?
    check "farsend.exe program --serial --serial-pool exits 0 (got $status)" test $status -eq 0
    check "... giving the unit the pool's first number" grep -Eq '"serial": ?100[,}]' <<<"$result"
    check "... and programming the simulated target" test -s "$unpacked/serial-flash.hex"
    cd "$source_dir"

    # The build's own test programs, pointed at the unpacked files.
    check "F1 finds the help page beside the unpacked program" \
        env FARSEND_FLASHER_EXE="$top/program/farsend-flasher.exe" \
        timeout 300 wine64 build/windows/tests/app/win32/test_gui.exe --gtest_brief=1 --gtest_filter='GuiHelp.*'
    check "both unpacked programs carry version $version" \
        env FARSEND_FLASHER_EXE="$top/program/farsend-flasher.exe" FARSEND_CLI_EXE="$top/program/farsend.exe" \
        timeout 300 wine64 build/windows/tests/app/win32/test_exe_versions.exe --gtest_brief=1
    wine_env_stop
}

for part in "${parts[@]}"; do
    case "$part" in
        deb) echo "=== $deb"; test_deb ;;
        zip) echo "=== $zip"; test_zip ;;
        *) die "unknown part '$part' (deb or zip)" ;;
    esac
done

if [ $failures -gt 0 ]; then
    echo "package-test: $failures check(s) failed" >&2
    exit 1
fi
echo "package-test: all checks passed"
