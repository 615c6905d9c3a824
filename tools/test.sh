#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: a plain build, a build with
# AddressSanitizer and UndefinedBehaviorSanitizer, and the 32-bit Windows build under wine.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
source tools/wine-env.sh
tr_install_deps
tr_install_windows_deps

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

run_suite() {
    local dir=$1
    shift
    cmake -S . -B "$dir" "$@"
    cmake --build "$dir" -j"$jobs"
    ctest --test-dir "$dir" --output-on-failure -j"$jobs" -LE benchmark
}

# The Windows tests run through wine; its server lives for the build (test discovery runs
# the programs) and the tests, and is ended whichever way they end.
run_windows_suite() {
    local dir=build-win
    # The COM port tests run the native build's simulated scanner and pty peer.
    cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTR_NATIVE_TOOLS_DIR="$PWD/build/tools"
    tr_wine_start "$PWD/$dir/wineprefix"
    trap tr_wine_stop EXIT
    cmake --build "$dir" -j"$jobs"
    ctest --test-dir "$dir" --output-on-failure -j"$jobs" -LE benchmark
    tr_wine_stop
}

# Runs a stage and says how long it took.
timed() {
    local start=$SECONDS
    "$@"
    echo "== $1 $2: $((SECONDS - start)) s"
}

timed run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
timed run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DTR_SANITIZE=ON
timed run_windows_suite
