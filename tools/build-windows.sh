#!/usr/bin/env bash
# Cross-builds the 32-bit Windows programs with MinGW-w64 into build-win/app/tr520-updater.exe
# and build-win/app/cli/tr520-cli.exe: one file each, no DLLs of their own (installing the
# cross compiler, and CLI11's headers for tr520-cli, when missing). Extra arguments
# go to the configure step, e.g.
#   tools/build-windows.sh -DFIRMWARE_IMAGE=/path/to/cpu.bin -DFIRMWARE_VERSION=0x11
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
tr_install_windows_deps
tr_install_packages libcli11-dev

dir=build-win
cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build "$dir" -j"$(nproc)" --target tr520-updater tr520-cli
echo "Built $PWD/$dir/app/tr520-updater.exe and $PWD/$dir/app/cli/tr520-cli.exe"
