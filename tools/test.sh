#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: a plain build, a build with
# AddressSanitizer and UndefinedBehaviorSanitizer, a build that carries another firmware image,
# and the 32-bit Windows build under wine.
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
# the programs) and the tests, and is ended whichever way they end. The dialog tests show
# real windows on a virtual X display.
run_windows_suite() {
    local dir=build-win
    # The COM port tests run the native build's simulated scanner and pty peer.
    cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTR_NATIVE_TOOLS_DIR="$PWD/build/tools"
    tr_display_start
    tr_wine_start "$PWD/$dir/wineprefix"
    trap 'tr_wine_stop; tr_display_stop' EXIT
    cmake --build "$dir" -j"$jobs"
    ctest --test-dir "$dir" --output-on-failure -j"$jobs" -LE benchmark
    tr_wine_stop
    tr_display_stop
}

# A release build carries another image than the placeholder: the whole suite once more with
# a generated one that fills the image field (262,144 bytes, a fixed pseudo-random sequence)
# and another version, in a build directory of its own so that tools/run.sh never carries it.
run_image_suite() {
    local dir=build-image
    mkdir -p "$dir"
    perl -e 'srand(20520); print map { chr(int(rand(256))) } 1 .. 262144' >"$dir/image.bin"
    run_suite "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFIRMWARE_IMAGE="$PWD/$dir/image.bin" \
        -DFIRMWARE_VERSION=0x25
}

# Runs a stage and says how long it took.
timed() {
    local start=$SECONDS
    "$@"
    echo "== $1 ${2:-}: $((SECONDS - start)) s"
}

timed run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
timed run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DTR_SANITIZE=ON
timed run_image_suite
timed run_windows_suite
