#!/usr/bin/env bash
# Cross-builds the 32-bit Windows program with MinGW-w64 into build-win/app/tr520-updater.exe:
# one file, no DLLs of its own (installing the cross compiler when missing). Extra arguments
# go to the configure step, e.g.
#   tools/build-windows.sh -DFIRMWARE_IMAGE=/path/to/cpu.bin -DFIRMWARE_VERSION=0x11
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
tr_install_windows_deps

dir=build-win
cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build "$dir" -j"$(nproc)" --target tr520-updater
echo "Built $PWD/$dir/app/tr520-updater.exe"
