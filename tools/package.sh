#!/usr/bin/env bash
# Makes every package into dist/ (emptied first):
#   tr520-cli_VERSION_ARCH.deb, tr520-updater_VERSION_ARCH.deb   from the Linux build, build/
#   tr520-updater-VERSION-win32.zip                              the two .exes, README.txt and
#   tr520-updater-VERSION-win32-setup.exe                        LICENSE.txt, from build-win/
#   SHA256SUMS                                                   for sha256sum -c
# Installs what is missing (the build packages and the packaging tools), configures build/ as
# tools/test.sh does and build-win/ with tools/build-windows.sh when they do not exist yet, and
# brings the programs, what they install and the simulated scanner up to date; it builds no
# tests.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
tr_install_deps
tr_install_windows_build_deps
tr_install_packaging_deps

jobs=$(nproc)
dist=$PWD/dist

# Fails unless the build folder $1 was configured with one of the build types $2... and
# without sanitizers: the packages carry optimised programs.
require_build_type() {
    local dir=$1 type
    shift
    type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$dir/CMakeCache.txt")
    if [[ " $* " != *" $type "* ]]; then
        echo "$dir is a '$type' build; the packages are made from a $* build" >&2
        return 1
    fi
    if grep -q '^TR_SANITIZE:BOOL=ON' "$dir/CMakeCache.txt"; then
        echo "$dir is built with sanitizers; the packages are made from a build without" >&2
        return 1
    fi
}

if [ ! -f build/CMakeCache.txt ]; then
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
require_build_type build RelWithDebInfo Release
# The simulated scanner too: docs/command-line.md and docs/simulator.md have a user start it
# from build/simulator.
cmake --build build -j"$jobs" --target tr520-updater tr520-cli tr_package_files tr520-scanner-sim

if [ ! -f build-win/CMakeCache.txt ]; then
    tools/build-windows.sh
fi
require_build_type build-win Release
cmake --build build-win -j"$jobs" --target tr520-updater tr520-cli

version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' build/CPackConfig.cmake)
[ -n "$version" ] || { echo "No package version in build/CPackConfig.cmake" >&2; exit 1; }
windows_name=tr520-updater-$version-win32

rm -rf "$dist"
mkdir -p "$dist"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The Debian packages: CPack installs each component, strips it and asks dpkg-shlibdeps.
cpack --config build/CPackConfig.cmake -B "$work/cpack"
mv "$work"/cpack/*.deb "$dist/"

# The Windows folder as build-win installs it, zipped under its own name and packed into the
# installer; the zip holds only the files, no directory entries or extra attributes.
cmake --install build-win --prefix "$work/$windows_name"
(cd "$work" && zip -q -r -X -D "$dist/$windows_name.zip" "$windows_name")
makensis -V2 -DSTAGE="$work/$windows_name" -DOUTFILE="$dist/$windows_name-setup.exe" \
    build-win/packaging/tr520-updater.nsi

(cd "$dist" && sha256sum -- *.deb "$windows_name.zip" "$windows_name-setup.exe" >SHA256SUMS)
echo "Packages in $dist:"
ls -l "$dist"
