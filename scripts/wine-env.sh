# Sourced by the scripts that run Windows binaries: a private Wine prefix in
# the build tree, its server and services started with their output detached
# (otherwise they inherit ctest's pipes and ctest never ends), and an X server
# for the GUI tests.
#   source scripts/wine-env.sh BUILD_DIR     then   wine_env_stop
WINE_BUILD_DIR=$(cd "$1" && pwd)
export WINEPREFIX="$WINE_BUILD_DIR/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
WINE64=/usr/lib/wine/wine64

# Wine maps Windows file names onto Unix ones through the caller's character
# set. Under the POSIX locale a name outside ASCII cannot be written at all, so
# the same tests would pass or fail with the caller's LANG. C.UTF-8 is on every
# Debian system; a UTF-8 locale the caller already has is kept.
if [ "$(locale charmap 2>/dev/null)" != "UTF-8" ]; then
    export LC_ALL=C.UTF-8
fi
export PATH="/usr/lib/wine:$PATH"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix (once per build tree)..."
    "$WINE64" wineboot --init </dev/null >/dev/null 2>&1 || true
    wineserver -w
    "$WINE64" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
        </dev/null >/dev/null 2>&1 || true
    wineserver -w
fi

# Wine draws the caption buttons with the Marlett font; without it in the
# prefix they come out as letters in screenshots.
if [ -f /usr/share/wine/fonts/marlett.ttf ] && [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" ]; then
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
fi

if [ -z "${FARSEND_KEEP_DISPLAY:-}" ]; then
    for n in $(seq 91 120); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { WINE_XVFB_DISPLAY=":$n"; break; }
    done
    Xvfb "$WINE_XVFB_DISPLAY" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    WINE_XVFB_PID=$!
    export DISPLAY="$WINE_XVFB_DISPLAY"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${WINE_XVFB_DISPLAY#:}" ] && break; sleep 0.1; done
fi

wineserver -p 300 </dev/null >/dev/null 2>&1
"$WINE64" wineboot </dev/null >/dev/null 2>&1 || true

wine_env_stop() {
    wineserver -k </dev/null >/dev/null 2>&1 || true
    [ -n "${WINE_XVFB_PID:-}" ] && kill "$WINE_XVFB_PID" 2>/dev/null || true
}
