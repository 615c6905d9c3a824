#!/usr/bin/env bash
# Runs the Windows tests of the build folder DIR through wine, in the prefix DIR/wineprefix of
# architecture ARCH (win32 or win64), on a virtual X display for the dialogs, with one wine
# server for the whole run. The display and the server end with the script, however it ends.
#   tools/wine-ctest.sh DIR ARCH [JOBS]
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/wine-env.sh
dir=$1 arch=$2 jobs=${3:-$(nproc)}
trap 'tr_wine_stop; tr_display_stop' EXIT
tr_display_start
tr_wine_start "$PWD/$dir/wineprefix" "$arch"
ctest --test-dir "$dir" --output-on-failure --no-tests=error -j"$jobs" -LE benchmark
