# The wine surroundings of the Windows tests: a private prefix (32-bit for the i686 build,
# 64-bit for the x86_64 one), no debug output, no Mono or Gecko prompts, and one persistent wine
# server for the whole run. Sourced.

# The architecture of the prefix $1: what it was made as, win32 for a new one unless $2 says.
tr_wine_arch() {
    local made
    made=$(sed -n 's/^#arch=//p' "$1/system.reg" 2>/dev/null | head -n1)
    echo "${made:-${2:-win32}}"
}

# The wine loader for a prefix of architecture $1. A 64-bit prefix gets the 64-bit loader
# itself: Debian's `wine` starts the 32-bit loader whenever wine32 is installed, which hands a
# 64-bit program to another process (the process started is `start.exe /exec`), so that a
# signal sent to it, Ctrl+C's SIGINT, never reaches the program. TR_WINE64_LOADER names
# another one.
tr_wine_loader() {
    if [ "$1" != win64 ]; then
        echo wine
        return
    fi
    local loader
    for loader in "${TR_WINE64_LOADER:-}" /usr/lib/wine/wine64 "$(command -v wine64 || true)"; do
        if [ -n "$loader" ] && [ -x "$loader" ]; then
            echo "$loader"
            return
        fi
    done
    echo wine  # no 64-bit loader where Debian puts it: the wrapper picks one
}

# Exports the environment for the prefix $1, made as architecture $2 (win32 or win64) when new,
# and sets TR_WINE to the loader that runs its programs. Wine makes no menu entries or file
# associations in the user's home (winemenubuilder) and asks for no Mono or Gecko.
tr_wine_env() {
    export WINEPREFIX="$1"
    WINEARCH=$(tr_wine_arch "$1" "${2:-}")
    export WINEARCH
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    TR_WINE=$(tr_wine_loader "$WINEARCH")
    if [ "$TR_WINE" != wine ]; then
        # What wine starts itself (wineboot's services, a program's children) takes it too.
        export WINELOADER=$TR_WINE
    fi
}

# Creates the prefix $1 (architecture $2, win32 by default) when missing and starts a
# persistent wine server for it; its PID is left in TR_WINESERVER_PID for tr_wine_stop, which
# ends whatever runs in the prefix from the moment this is called, a wineboot cut short too.
tr_wine_start() {
    tr_wine_env "$1" "${2:-}"
    TR_WINE_STARTED_PREFIX=$WINEPREFIX
    mkdir -p "$(dirname "$WINEPREFIX")"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        "$TR_WINE" wineboot -i >/dev/null 2>&1
        wineserver -w
    fi
    wineserver -f -p >/dev/null 2>&1 &
    TR_WINESERVER_PID=$!
    # One warm-up run, so that the tests do not each pay for the server's start. It tells wine
    # to draw the window frames itself: with no window manager on the test display it would
    # otherwise wait up to 2 s for every window it hides.
    "$TR_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 \
        || true
}

# Ends the wine server that tr_wine_start started and every process of its prefix.
tr_wine_stop() {
    [ -n "${TR_WINE_STARTED_PREFIX:-}" ] || return 0
    # The prefix's own services (services.exe, winedevice.exe, ...) would outlive the server.
    WINEPREFIX=$TR_WINE_STARTED_PREFIX wineserver -k >/dev/null 2>&1 || true
    if [ -n "${TR_WINESERVER_PID:-}" ]; then
        kill "$TR_WINESERVER_PID" 2>/dev/null || true
        wait "$TR_WINESERVER_PID" 2>/dev/null || true
    fi
    TR_WINESERVER_PID=
    TR_WINE_STARTED_PREFIX=
}

# Starts a virtual X display for the dialog tests on a free display number, exports DISPLAY
# and leaves the server's PID in TR_XVFB_PID for tr_display_stop.
tr_display_start() {
    local number_file
    number_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$number_file" >/dev/null 2>&1 &
    TR_XVFB_PID=$!
    local _
    for _ in $(seq 100); do
        [ -s "$number_file" ] && break
        sleep 0.1
    done
    export DISPLAY=":$(head -n1 "$number_file")"
    rm -f "$number_file"
}

# Ends the X server that tr_display_start started.
tr_display_stop() {
    [ -n "${TR_XVFB_PID:-}" ] || return 0
    kill "$TR_XVFB_PID" 2>/dev/null || true
    wait "$TR_XVFB_PID" 2>/dev/null || true
    TR_XVFB_PID=
}
