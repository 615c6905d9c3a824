#!/usr/bin/env bash
# Runs a Windows program under wine in the given private prefix, quietly:
#   tools/wine-run.sh PREFIX program.exe [args...]
# CMake uses it as the emulator of the Windows build, so ctest runs the tests through it.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
tr_wine_env "$1"
shift
exec wine "$@"
