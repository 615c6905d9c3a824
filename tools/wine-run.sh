#!/usr/bin/env bash
# Runs a Windows program under wine in the given private prefix, quietly:
#   tools/wine-run.sh PREFIX program.exe [args...]
# CMake uses it as the emulator of the Windows build, so ctest runs the tests through it. The
# program is the process started (a 64-bit prefix runs it with the 64-bit loader itself), so a
# signal sent to it reaches the program.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
tr_wine_env "$1"
shift
exec "$TR_WINE" "$@"
