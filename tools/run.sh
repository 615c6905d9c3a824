#!/usr/bin/env bash
# Installs what is missing, builds the utility and starts it.
#
#   tools/run.sh          with the simulated scanner published as COM1 (select COM1, the
#                         default, then press TEST and UPDATE)
#   tools/run.sh --real   without the simulator, for a real scanner on its USB cable
#
# TR_SIM_COM=N publishes the simulator as COM N instead of COM1.
set -euo pipefail
cd "$(dirname "$0")/.."

use_simulator=1
case "${1:-}" in
    "") ;;
    --real) use_simulator=0 ;;
    *) echo "Usage: tools/run.sh [--real]" >&2; exit 2 ;;
esac
com="${TR_SIM_COM:-1}"

source tools/deps.sh
tr_install_deps
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target tr520-updater tr520-scanner-sim

if [ "$use_simulator" -eq 0 ]; then
    exec build/app/tr520-updater
fi

sim_log=build/scanner-sim.log
build/simulator/tr520-scanner-sim --com "$com" --line-speed --keep-running --verbose >"$sim_log" 2>&1 &
sim_pid=$!

# Ends the simulator and removes its COM link if it is still there: a simulator that was
# killed or crashed leaves it behind, and it would then lead to whichever terminal gets the
# pseudo-terminal's number next. Only a link that still points at the simulator's device goes.
end_simulator() {
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    local published pattern='^Simulated scanner on (.+), published as COM[0-9]+ \((.+)\)$'
    published=$(grep -m1 '^Simulated scanner on ' "$sim_log" 2>/dev/null) || return 0
    if [[ $published =~ $pattern ]]; then
        local device=${BASH_REMATCH[1]} link=${BASH_REMATCH[2]}
        if [ -L "$link" ] && [ "$(readlink "$link")" = "$device" ]; then
            rm -f "$link"
        fi
    fi
}
# Whichever way this script ends, the utility closing, a failure, Ctrl+C, a closed terminal.
trap end_simulator EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM
sleep 0.5
if ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "The simulated scanner did not start:" >&2
    cat "$sim_log" >&2
    exit 1
fi
echo "Simulated scanner on COM$com (its log: $sim_log). Select COM$com, press TEST, then UPDATE."
build/app/tr520-updater
