#!/usr/bin/env bash
# One run of the real tr520-updater.exe under wine against the native simulated scanner,
# published in the wine prefix as COM N:
#   run_updater_with_sim.sh SIMULATOR PREFIX DRIVER PROGRAM COM_NUMBER
# Passes when the driver saw every step and the simulator confirms the uploaded image.
set -uo pipefail
sim=$1 prefix=$2 driver=$3 program=$4 com=$5
source "$(dirname "$0")/../../tools/wine-env.sh"
tr_wine_env "$prefix"
if [ ! -x "$sim" ]; then
    echo "no simulator at $sim (the native build makes it)"
    exit 1
fi
mkdir -p "$prefix/dosdevices"
log=$(mktemp)
"$sim" --link-dir "$prefix/dosdevices" --com "$com" --replace --timeout 170 >"$log" 2>&1 &
sim_pid=$!
cleanup() { kill "$sim_pid" 2>/dev/null || true; rm -f "$log"; }
trap cleanup EXIT
for _ in $(seq 50); do
    [ -e "$prefix/dosdevices/com$com" ] && break
    sleep 0.1
done
"$TR_WINE" "$driver" "$program" "$com"
driver_status=$?
wait "$sim_pid"
sim_status=$?
echo "--- simulator (exit $sim_status)"
cat "$log"
[ "$driver_status" -eq 0 ] && [ "$sim_status" -eq 0 ]
