#!/usr/bin/env bash
# Builds tr520-updater.exe and the native simulated scanner, publishes the simulator in the
# wine prefix as COM5 and starts the Windows program under wine (needs an X display).
#
#   tools/run-windows.sh       TR_SIM_COM=N publishes the simulator as COM N instead
#
# The wine prefix is $WINEPREFIX, by default ~/.wine.
set -euo pipefail
cd "$(dirname "$0")/.."
com="${TR_SIM_COM:-5}"
prefix="${WINEPREFIX:-$HOME/.wine}"

tools/build-windows.sh
source tools/deps.sh
tr_install_deps
# Building needs no wine; running the 32-bit program needs its 32-bit half.
tr_install_packages wine
if ! tr_try_install_wine32; then
    echo "Cannot run the 32-bit program without the 32-bit wine: $TR_WINE32_MISSING" >&2
    exit 1
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target tr520-scanner-sim

export WINEPREFIX="$prefix"
[ -d "$prefix/dosdevices" ] || wineboot -i
sim_log=build/scanner-sim-wine.log
build/simulator/tr520-scanner-sim --link-dir "$prefix/dosdevices" --com "$com" --replace \
    --line-speed --keep-running --verbose >"$sim_log" 2>&1 &
sim_pid=$!
# The simulator removes its COM link when it ends; end it whichever way the program ends.
trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true' EXIT
sleep 0.5
if ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "The simulated scanner did not start:" >&2
    cat "$sim_log" >&2
    exit 1
fi
echo "Simulated scanner on COM$com (its log: $sim_log). Select COM$com, press TEST, then UPDATE."
wine build-win/app/tr520-updater.exe
