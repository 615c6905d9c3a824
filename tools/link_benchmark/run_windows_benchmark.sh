#!/usr/bin/env bash
# Runs the Windows link benchmark under wine against the native simulated scanner at line
# speed, published in the wine prefix as COM N, and prints the simulator's summary after it:
#   run_windows_benchmark.sh SIMULATOR BENCHMARK_EXE PREFIX [COM_NUMBER]
# e.g. tools/link_benchmark/run_windows_benchmark.sh build/simulator/tr520-scanner-sim \
#          build-win64/tools/link_benchmark/tr520-link-benchmark.exe "$PWD/build-win64/wineprefix"
# Also prints the CPU time the prefix's wine server spent meanwhile: wine serves part of
# every serial call there, outside the program's process. No test runs this.
set -uo pipefail
if [ $# -lt 3 ]; then
    sed -n '2,8p' "$0" >&2
    exit 2
fi
sim=$1 exe=$2 prefix=$3 com=${4:-9}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../wine-env.sh"
# A new prefix gets the architecture of the program: win64 for a 64-bit build.
arch=win32
if file -b "$exe" | grep -q 'x86-64'; then
    arch=win64
fi
tr_wine_start "$prefix" "$arch"
log=$(mktemp)
sim_pid=
cleanup() {
    [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null
    tr_wine_stop
    rm -f "$log"
}
trap cleanup EXIT
wine cmd /c exit >/dev/null 2>&1  # warm-up, so the server's start is not measured

# The prefix's wine server's CPU time in seconds (utime + stime from /proc).
server_cpu() {
    local stat=/proc/${TR_WINESERVER_PID:-0}/stat
    [ -r "$stat" ] || { echo 0; return; }
    awk -v hz="$(getconf CLK_TCK)" '{print ($14 + $15) / hz}' "$stat"
}

mkdir -p "$prefix/dosdevices"
"$sim" --link-dir "$prefix/dosdevices" --com "$com" --replace --line-speed --version FF \
    --timeout 120 >"$log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do
    [ -e "$prefix/dosdevices/com$com" ] && break
    sleep 0.1
done
before=$(server_cpu)
wine "$exe" "$com"
status=$?
after=$(server_cpu)
wait "$sim_pid"
sim_status=$?
sim_pid=
echo "Wine server CPU time meanwhile: $(awk -v a="$after" -v b="$before" 'BEGIN{printf "%.3f", a - b}') s"
echo "Simulator (exit $sim_status): $(cat "$log")"
[ "$status" -eq 0 ] && [ "$sim_status" -eq 0 ]
