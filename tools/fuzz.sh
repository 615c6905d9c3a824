#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer
# into a build folder of their own (nothing else is built there), then runs each for a fixed
# time from its seed corpus, as many side by side as there are cores. Prints each target's runs
# and runs per second. A crash, a leak, a time-out or a broken invariant fails the run and
# leaves the input in BUILD/fuzz-artifacts/<target>/; the inputs the fuzzer found worth keeping
# go to BUILD/fuzz-corpus/<target>/.
#
#   tools/fuzz.sh [BUILD [OPTION...]]   build and run every target (BUILD: build-fuzz); the
#                                       OPTIONs go to its configure step
#   TR_FUZZ_SCALE=4 tools/fuzz.sh       each target runs four times as long
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-fuzz}
shift || true
scale=${TR_FUZZ_SCALE:-1}
# Bash 5.1 or later: wait -n -p.

# name, seconds, longest input in bytes. The exchanges get the most time: each of their runs
# walks whole time windows. A run of TEST needs a few dozen arrivals at most; more only makes
# every poll of the scripted port slower.
targets=(
    "version_check 50 512"
    "firmware_upload 50 2048"
    "link_frame 20 1024"
    "port_argument 20 256"
    "sim_packets 20 1024"
)

cmake -S . -B "$dir" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTR_BUILD_FUZZERS=ON "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)" --target fuzz_targets

# Runs one target; its output goes to BUILD/fuzz-logs/<name>.log.
run_target() {
    local name=$1 seconds=$2 max_len=$3
    mkdir -p "$dir/fuzz-corpus/$name" "$dir/fuzz-artifacts/$name" "$dir/fuzz-logs"
    "$dir/tests/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -max_len="$max_len" \
        -print_final_stats=1 -artifact_prefix="$dir/fuzz-artifacts/$name/" \
        "$dir/fuzz-corpus/$name" "tests/fuzz/corpus/$name" >"$dir/fuzz-logs/$name.log" 2>&1
}

# One line per target from its log: runs, runs per second, outcome.
report() {
    local name=$1 seconds=$2 status=$3 log="$dir/fuzz-logs/$1.log" runs rate
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    if [ "$status" -eq 0 ] && [ -n "$runs" ]; then
        printf '  %-16s %4d s %11d runs %8d runs/s  passed\n' "$name" "$seconds" "$runs" "$rate"
        total_runs=$((total_runs + runs))
        return 0
    fi
    printf '!! %-16s FAILED (exit status %d); its log, %s, ends:\n' "$name" "$status" "$log"
    tail -n 40 "$log" | cut -c1-200 | sed 's/^/   | /'
    echo "   the input: $(ls -d "$dir/fuzz-artifacts/$name"/* 2>/dev/null | tr '\n' ' ')"
    failed=$((failed + 1))
}

# Waits for one running target and reports it.
collect_one() {
    local pid status=0
    wait -n -p pid || status=$?
    report "${name_of[$pid]}" "${seconds_of[$pid]}" "$status"
    running=$((running - 1))
}

declare -A name_of=() seconds_of=()
failed=0
total_runs=0
running=0
for entry in "${targets[@]}"; do
    read -r name seconds max_len <<<"$entry"
    seconds=$((seconds * scale))
    [ "$running" -lt "$(nproc)" ] || collect_one
    run_target "$name" "$seconds" "$max_len" &
    name_of[$!]=$name
    seconds_of[$!]=$seconds
    running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
    collect_one
done

if [ "$failed" -gt 0 ]; then
    echo "!! fuzzing: $failed of ${#targets[@]} targets FAILED"
    exit 1
fi
echo "   fuzzing: ${#targets[@]} targets, $total_runs runs in all, none failed"
