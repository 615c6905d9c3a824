#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test, stage by stage: a plain build, a
# build with AddressSanitizer and UndefinedBehaviorSanitizer that carries another firmware
# image, the Windows build as a 64-bit program under wine64, and the 32-bit Windows build under
# wine. Ends with a summary, one line per stage.
#
# Where the 32-bit wine (wine32:i386) cannot be installed, the 32-bit stage still builds the
# programs and checks their imports but does not run them, and the summary says so with apt's
# reason: the only stage that may be skipped. TR_FAKE_NO_WINE32=1 takes that path on a machine
# that has wine32.
#
#   tools/test.sh                 every stage
#   tools/test.sh win64 win32     only the named stages: linux, asan, win64, win32, packages
#                                 (the Windows stages use the native tools of build/, which
#                                 must be built; packages builds what it needs)
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
source tools/wine-env.sh

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

run_suite() {
    local dir=$1
    shift
    cmake -S . -B "$dir" "$@"
    cmake --build "$dir" -j"$jobs"
    ctest --test-dir "$dir" --output-on-failure -j"$jobs" -LE benchmark
}

# The sanitizer build also carries another image than the placeholder, so that the whole suite
# runs once with a generated one that fills the image field (262,144 bytes, a fixed
# pseudo-random sequence) and another version, as a release build with another image would; a
# build directory of its own keeps tools/run.sh from ever carrying it. One stage for both saves
# a whole build of everything.
run_sanitizer_image_suite() {
    local dir=build-asan
    mkdir -p "$dir"
    perl -e 'srand(20520); print map { chr(int(rand(256))) } 1 .. 262144' >"$dir/image.bin"
    run_suite "$dir" -DCMAKE_BUILD_TYPE=Debug -DTR_SANITIZE=ON \
        -DFIRMWARE_IMAGE="$PWD/$dir/image.bin" -DFIRMWARE_VERSION=0x25
}

# Cross-builds the Windows programs and tests into $1 with the toolchain file $2 and build
# type $3 (the COM port tests use the native build's simulated scanner and pty peer), then
# checks that every program imports only Windows' own DLLs. Building runs no wine: the test
# cases are listed when ctest runs.
build_windows() {
    local dir=$1 toolchain=$2 type=$3 triple=$4
    cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE="$type" \
        -DTR_BUILD_TESTS=ON -DTR_NATIVE_TOOLS_DIR="$PWD/build/tools"
    cmake --build "$dir" -j"$jobs"
    local exe count=0
    while IFS= read -r exe; do
        cmake -DOBJDUMP="$triple-objdump" -DPROGRAM="$exe" -P tests/wine/check_imports.cmake \
            >/dev/null
        count=$((count + 1))
    done < <(find "$dir" -name '*.exe' -not -path "$dir/wineprefix/*" -not -path '*/CMakeFiles/*')
    [ "$count" -gt 0 ] || { echo "No programs in $dir" >&2; return 1; }
    echo "$count programs in $dir import only Windows' own DLLs"
}

# Runs the Windows tests of $1 through wine in the prefix $1/wineprefix of architecture $2, on
# a virtual X display for the dialogs. Each stage runs in a subshell of its own, so the trap
# ends the wine server and the display whichever way the tests end.
run_windows_tests() {
    local dir=$1 arch=$2
    trap 'tr_wine_stop; tr_display_stop' EXIT
    tr_display_start
    tr_wine_start "$PWD/$dir/wineprefix" "$arch"
    ctest --test-dir "$dir" --output-on-failure -j"$jobs" -LE benchmark
}

# Pointer-size mistakes in window data, message parameters and resource parsing show here.
run_win64_suite() {
    build_windows build-win64 cmake/mingw-x86_64.cmake RelWithDebInfo x86_64-w64-mingw32
    run_windows_tests build-win64 win64
}

# The product, built as tools/build-windows.sh builds it (a release build) and tested as such.
run_win32_suite() {
    build_windows build-win cmake/mingw-i686.cmake Release i686-w64-mingw32
    if [ -n "$wine32_missing" ]; then
        echo "!! Windows 32-bit tests SKIPPED (not run under wine): wine32 is not installed:" \
             "$wine32_missing"
        return 0
    fi
    run_windows_tests build-win win32
}

# Makes the packages from build/ and build-win/ into dist/ and checks them: lintian, the
# desktop entry, the AppStream metadata, each package's files and dependencies, the zip, the
# programs' imports, the checksums. Needs no root and no wine.
run_package_checks() {
    tools/package.sh
    tests/packaging/check_packages.sh dist
}

summary=()
failed=""
skipped=""
# The CPU time, in seconds, that this script's finished commands used (user and system): on a
# machine that other work shares it tells what the stage itself costs.
children_cpu() {
    local fields
    read -r -a fields </proc/$$/stat
    echo $(((fields[15] + fields[16]) / $(getconf CLK_TCK)))
}

# The stages named on the command line; none named: all of them.
all_stages=(linux asan win64 win32 packages)
selected_stages=("$@")
for name in "${selected_stages[@]}"; do
    if [[ " ${all_stages[*]} " != *" $name "* ]]; then
        echo "tools/test.sh: no stage '$name' (the stages: ${all_stages[*]})" >&2
        exit 1
    fi
done
stage_selected() {
    [ ${#selected_stages[@]} -eq 0 ] && return 0
    local name
    for name in "${selected_stages[@]}"; do
        [ "$name" = "$1" ] && return 0
    done
    return 1
}

# Runs stage $1 (a short name), captioned $2, as the command $3...; its outcome and time go
# into the summary. After a failed stage the later ones are not run.
stage() {
    local name=$1 caption=$2
    shift 2
    stage_selected "$name" || return 0
    if [ -n "$failed" ]; then
        summary+=("$(printf '!! %-8s %-53s' "not run" "$caption")  (an earlier stage failed)")
        return 0
    fi
    echo "== $caption"
    local start=$SECONDS cpu_start status=0
    cpu_start=$(children_cpu)
    # Not in an if: the stage's own set -e must stop it at its first failing command.
    set +e
    (set -e; "$@")
    status=$?
    set -e
    local outcome=passed note=""
    if [ "$status" -ne 0 ]; then
        outcome=FAILED
        note="(exit status $status)"
        failed=$caption
    elif [ "$caption" = "$win32_caption" ] && [ -n "$wine32_missing" ]; then
        outcome=SKIPPED
        skipped=$caption
        note="tests not run under wine, only built and import-checked: $wine32_missing"
    fi
    local mark="  "
    [ "$outcome" = passed ] || mark="!!"
    local times
    times=$(printf '%5d s (CPU %4d s)' $((SECONDS - start)) $(($(children_cpu) - cpu_start)))
    summary+=("$(printf '%s %-8s %-53s %s  %s' "$mark" "$outcome" "$caption" "$times" "$note")")
    echo "== $caption: $outcome, $times"
}

print_summary() {
    echo
    echo "== Summary of tools/test.sh (install step $install_time s, all $SECONDS s)"
    printf '%s\n' "${summary[@]}"
    if [ -n "$failed" ]; then
        echo "== FAILED: $failed"
        return 1
    fi
    if [ -n "$skipped" ]; then
        echo "!! Passed, but one stage was SKIPPED: the 32-bit Windows tests did not run (see above)"
    else
        echo "== All stages passed"
    fi
}

install_start=$SECONDS
tr_install_deps || { echo "== FAILED: installing the Linux packages" >&2; exit 1; }
tr_install_windows_test_deps \
    || { echo "== FAILED: installing the Windows test packages" >&2; exit 1; }
wine32_missing=""
tr_try_install_wine32 || wine32_missing=$TR_WINE32_MISSING
install_time=$((SECONDS - install_start))
echo "== Installing what was missing: $install_time s"

win32_caption="Windows 32-bit under wine (build-win/)"
stage linux "Linux plain (build/)" run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
stage asan "Linux, ASan+UBSan, 262,144-byte image (build-asan/)" run_sanitizer_image_suite
stage win64 "Windows 64-bit under wine64 (build-win64/)" run_win64_suite
stage win32 "$win32_caption" run_win32_suite
stage packages "Packages (dist/)" run_package_checks
print_summary
