# The wine surroundings of the Windows tests: a private 32-bit prefix, no debug output, no
# Mono or Gecko prompts, and one persistent wine server for the whole run. Sourced.

# Exports the environment for the prefix $1.
tr_wine_env() {
    export WINEPREFIX="$1"
    export WINEARCH=win32
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
}

# Creates the prefix $1 when missing and starts a persistent wine server for it; its PID is
# left in TR_WINESERVER_PID for tr_wine_stop.
tr_wine_start() {
    tr_wine_env "$1"
    mkdir -p "$(dirname "$WINEPREFIX")"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot -i >/dev/null 2>&1
        wineserver -w
    fi
    wineserver -f -p >/dev/null 2>&1 &
    TR_WINESERVER_PID=$!
    # One warm-up run, so that the tests do not each pay for the server's start.
    wine cmd /c exit >/dev/null 2>&1 || true
}

# Ends the wine server that tr_wine_start started.
tr_wine_stop() {
    [ -n "${TR_WINESERVER_PID:-}" ] || return 0
    kill "$TR_WINESERVER_PID" 2>/dev/null || true
    wait "$TR_WINESERVER_PID" 2>/dev/null || true
    TR_WINESERVER_PID=
}
