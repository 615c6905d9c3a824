#!/usr/bin/env bash
# Cross-builds the 32-bit Windows programs, release builds without debug information, with
# MinGW-w64 into build-win/app/tr520-updater.exe and build-win/app/cli/tr520-cli.exe: one file
# each, no DLLs of their own. Installs the cross compiler (and CLI11's and nlohmann/json's
# headers for tr520-cli) when missing; needs no wine. Extra arguments go to the configure step,
# e.g.
#   tools/build-windows.sh -DFIRMWARE_IMAGE=/path/to/cpu.bin -DFIRMWARE_VERSION=0x11
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
tr_install_windows_build_deps

dir=build-win
# The tests need more (GoogleTest's sources, wine): tools/test.sh builds them in the same folder.
cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
    -DCMAKE_BUILD_TYPE=Release -DTR_BUILD_TESTS=OFF "$@"
# Each program built, then its import table checked as the tests check it.
cmake --build "$dir" -j"$(nproc)" --target import_check.tr520-updater import_check.tr520-cli
for exe in "$dir/app/tr520-updater.exe" "$dir/app/cli/tr520-cli.exe"; do
    echo "Built $PWD/$exe ($(stat -c %s "$exe") bytes)"
done
