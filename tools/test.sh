#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: a plain build, and a
# build with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
tr_install_deps

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

run_suite() {
    local dir=$1
    shift
    cmake -S . -B "$dir" "$@"
    cmake --build "$dir" -j"$jobs"
    ctest --test-dir "$dir" --output-on-failure -j"$jobs" -LE benchmark
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DTR_SANITIZE=ON
