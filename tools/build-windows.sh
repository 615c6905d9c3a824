#!/usr/bin/env bash
# Cross-builds the 32-bit Windows program's core with MinGW-w64 into build-win/ (installing
# the cross compiler when missing). Extra arguments go to the configure step, e.g.
#   tools/build-windows.sh -DFIRMWARE_IMAGE=/path/to/cpu.bin -DFIRMWARE_VERSION=0x11
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
tr_install_windows_deps

dir=build-win
cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
# The core: firmware, protocol, diagnostics and CSerial on Win32 (static libraries).
cmake --build "$dir" -j"$(nproc)" --target tr_serial_link
echo "Windows core built in $dir/ (libraries under firmware/, protocol/, diag/, serial/)"
