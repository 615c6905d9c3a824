#!/usr/bin/env bash
# Runs COMMAND in the wine surroundings of the Windows preset PRESET (win64 or win32): a virtual
# X display for the dialogs, no debug output, no menu builder, and one persistent wine server
# (started first, ended by its PID) for the prefix that build's tests run in,
# build-win64/wineprefix (64-bit) or build-win/wineprefix (32-bit). The display and the server
# end with the script, however it ends.
#   tools/with-wine.sh win64 cmake --workflow --preset win64
#   tools/with-wine.sh win32 ctest --preset win32 -R cli_e2e
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/wine-env.sh
case ${1:-} in
    win64) dir=build-win64 ;;
    win32) dir=build-win ;;
    *) echo "usage: tools/with-wine.sh win64|win32 COMMAND..." >&2; exit 2 ;;
esac
arch=$1
shift
trap 'tr_wine_stop; tr_display_stop' EXIT
tr_display_start
tr_wine_start "$PWD/$dir/wineprefix" "$arch"
"$@"
