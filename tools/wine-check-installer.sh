#!/usr/bin/env bash
# Runs the installer check (tests/packaging/check_installer.sh) on the 32-bit installer
# INSTALLER in a new 32-bit wine prefix, on a virtual X display, with one wine server; the
# installed tr520-cli.exe info must show the SHA-256 SHA256. It runs with a home of its own
# beside the prefix. The prefix, the home, the display and the server end with the script,
# however it ends. Needs the 32-bit wine: the host's, or run it in the Debian root that has it
# (tools/debian-root.sh).
#   tools/wine-check-installer.sh INSTALLER SHA256
set -euo pipefail
installer=$(realpath "$1")
cd "$(dirname "$0")/.."
source tools/wine-env.sh
prefix_folder=$(mktemp -d)
trap 'tr_wine_stop; tr_display_stop; rm -rf "$prefix_folder"' EXIT
# A home of its own, which vanishes with the prefix: whatever wine or the installer would put
# into the user's (menu entries, icons, caches) cannot stay behind, and the check sees it.
mkdir "$prefix_folder/home"
export HOME=$prefix_folder/home
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache
tr_display_start
tr_wine_start "$prefix_folder/prefix" win32
TR_CLI_SHA256=$2 tests/packaging/check_installer.sh "$installer"
