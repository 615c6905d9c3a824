#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test, stage by stage: a plain build, a
# build with AddressSanitizer and UndefinedBehaviorSanitizer that carries another firmware
# image, the Windows build as a 64-bit program under wine64, the 32-bit Windows build under
# wine, the fuzz targets for a fixed time each, and the packages, checked, then installed, run
# and removed: the Debian ones in a clean Debian root, the Windows installer under the 32-bit
# wine, and last the Linux programs of those packages in a Debian virtual machine on the
# kernel's own serial drivers. Ends with a summary, one line per stage.
#
# Where the 32-bit wine (wine32:i386) cannot be installed, the 32-bit stage runs its tests in a
# private Debian root that has it (tools/debian-root.sh, made in the background from the start
# so that it overlaps the Linux builds). Only where that root cannot be made or entered does it
# build the programs and check their imports without running them, and the summary says so
# with the reason: the only stage that may be skipped. TR_FAKE_NO_WINE32=1 takes the root's
# path on a machine that has wine32.
#
#   tools/test.sh                 every stage
#   tools/test.sh win64 win32     only the named stages: linux, asan, win64, win32, fuzz,
#                                 packages, vm (the Windows stages use the native tools of
#                                 build/, which must be built; packages builds what it needs;
#                                 vm uses the .debs of dist/ and the simulator of build/)
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
source tools/wine-env.sh
source tools/debian-root.sh

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

# The five build stages are the presets of CMakePresets.json (folder, build type, options,
# -DTR_WERROR=ON: every build of this command turns warnings into errors; other builds, such as
# tools/run.sh's, tools/package.sh's, tools/build-windows.sh's or a packager's, only show them).
# Here on every core.
build_preset() {
    cmake --preset "$1"
    cmake --build --preset "$1" -j"$jobs"
}

# Builds the preset $1 and runs its tests (the preset: a failed test's output shown, a build that
# lists no test failing, no benchmark).
run_preset() {
    build_preset "$1"
    ctest --preset "$1" -j"$jobs"
}

# Pointer-size mistakes in window data, message parameters and resource parsing show here.
# Building runs no wine (the test cases are listed when ctest runs); the tests, the import-table
# checks of every program among them, run under wine (tools/with-wine.sh).
run_win64_suite() {
    build_preset win64
    tools/with-wine.sh win64 ctest --preset win64 -j"$jobs"
}

# The product, a release build as tools/build-windows.sh makes it, tested as such: under the
# host's wine32, or else in the Debian root that has it; where neither can be, only its
# programs' import tables are checked.
run_win32_suite() {
    build_preset win32
    if [ -z "$wine32_missing" ]; then
        tools/with-wine.sh win32 ctest --preset win32 -j"$jobs"
        return
    fi
    echo "wine32 is not installed here ($wine32_missing): the tests run in the Debian root" \
         "$(tr_root_dir wine32)"
    local wait_start=$SECONDS
    if ! root_ready wine32 "$wine32_root_missing"; then
        local note="wine32 is not installed ($wine32_missing), and $TR_ROOT_ERROR"
        cmake --build --preset win32 -j"$jobs" --target import_checks
        echo "!! Windows 32-bit tests SKIPPED (not run under wine): $note"
        echo "$note" >"$stage_skip_note"
        return 0
    fi
    echo "in the Debian root build-roots/wine32 (no wine32 on the host; $((SECONDS - wait_start)) s" \
         "waited for the root)" >"$stage_note"
    tr_root_enter wine32 -- tools/with-wine.sh win32 ctest --preset win32 -j"$jobs"
}

# Starts making in the background (build-roots/NAME/make.log) the Debian roots that the
# selected stages need, so that they overlap the builds: where the host cannot have wine32, the
# one that has it, for the 32-bit stage and the installer check of the packages stage; for the
# packages stage, the clean one in which the Debian packages are installed. A reason they
# cannot be made is kept for the stages.
start_roots() {
    wine32_root_missing=""
    packages_root_missing=""
    local wine32=0 packages=0 reason=""
    if [ -n "$wine32_missing" ] && { stage_selected win32 || stage_selected packages; }; then
        wine32=1
    fi
    stage_selected packages && packages=1
    [ "$wine32" -eq 1 ] || [ "$packages" -eq 1 ] || return 0
    if ! tr_install_packages "${TR_DEBIAN_ROOT_HOST_PACKAGES[@]}"; then
        reason="mmdebstrap could not be installed: $TR_APT_INSTALL_ERROR"
    elif ! tr_root_check_namespaces; then
        reason=$TR_ROOT_ERROR
    fi
    if [ -n "$reason" ]; then
        [ "$wine32" -eq 0 ] || wine32_root_missing=$reason
        [ "$packages" -eq 0 ] || packages_root_missing=$reason
        return 0
    fi
    if [ "$wine32" -eq 1 ]; then
        start_root wine32 "the Debian root for the 32-bit tests" \
            "$TR_WINE32_ROOT_ARCHITECTURES" "${TR_WINE32_ROOT_PACKAGES[@]}"
    fi
    if [ "$packages" -eq 1 ]; then
        start_root packages "the clean Debian root for the packages" \
            "$TR_PACKAGES_ROOT_ARCHITECTURES" "${TR_PACKAGES_ROOT_PACKAGES[@]}"
    fi
}

# Starts making the root $1, described as $2, of the architectures $3 with the packages $4...
# in the background; or makes it now, where sudo would have to ask for a password, which a
# background make cannot.
start_root() {
    local name=$1 what=$2
    shift 2
    if ! tr_root_background_allowed; then
        echo "Making $what now (sudo asks for a password, which it cannot in the background):" \
             "$(tr_root_folder "$name")/make.log"
        tr_root_make_here "$name" "$@"
        return 0
    fi
    echo "Making $what in the background: $(tr_root_folder "$name")/make.log"
    tr_root_make_background "$name" "$@"
    roots_started+=("$name")
}

# Makes the packages from build/ and build-win/ into dist/ and checks them: lintian, the
# desktop entry, the AppStream metadata, each package's files and dependencies, the zip, the
# programs' imports, the checksums; then installs, runs and removes them: the Debian packages
# in a clean Debian root, the Windows installer under the 32-bit wine. Both install checks run
# even when the other fails.
run_package_checks() {
    tools/package.sh
    tests/packaging/check_packages.sh dist
    # The note says what each install check did, whether it passed or not.
    local status=0 debs installer
    if check_debian_install; then
        debs="the .debs installed in build-roots/packages"
    else
        status=1
        debs="the .debs' install check FAILED"
    fi
    if check_windows_installer; then
        installer="the installer run $where_installer_ran"
    else
        status=1
        installer="the installer check FAILED ($where_installer_ran)"
    fi
    echo "$debs, $installer; $roots_waited s waited for the roots" >"$stage_note"
    return "$status"
}

# The SHA-256 of the image that the build folder $1 carries, from the image file itself.
carried_image_sha256() {
    local image
    image=$(sed -n 's/^FIRMWARE_IMAGE:[A-Z]*=//p' "$1/CMakeCache.txt")
    if [ ! -f "$image" ]; then
        echo "$1/CMakeCache.txt names no firmware image file: '$image'" >&2
        return 1
    fi
    sha256sum "$image" | cut -d' ' -f1
}

# Waits for the background make of the root $1, whose reason it cannot be made, if any, is $2,
# and checks that it can be entered; adds the time waited for the make to roots_waited. Fails,
# with the reason in TR_ROOT_ERROR, when the root cannot be used.
root_ready() {
    local name=$1 reason=$2 start=$SECONDS
    if [ -z "$reason" ] && ! tr_root_wait "$name"; then
        reason=$TR_ROOT_ERROR
    fi
    roots_waited=$((roots_waited + SECONDS - start))
    if [ -z "$reason" ] && ! tr_root_check_enter "$name"; then
        reason=$TR_ROOT_ERROR
    fi
    TR_ROOT_ERROR=$reason
    [ -z "$reason" ]
}

# root_ready, saying why when the root cannot be used.
wait_for_root() {
    root_ready "$1" "$2" && return 0
    echo "!! The Debian root $(tr_root_dir "$1") cannot be used: $TR_ROOT_ERROR" >&2
    return 1
}

# The Debian packages installed, run and purged in the clean root, in a layer of changes that
# vanishes with the check.
check_debian_install() {
    local sha256
    sha256=$(carried_image_sha256 build) || return 1
    wait_for_root packages "$packages_root_missing" || return 1
    tr_root_enter packages --scratch --root -- \
        tests/packaging/check_debian_install.sh dist "$sha256"
}

# The 32-bit installer installed, run and removed under the host's wine32, or else in the
# Debian root that has it.
check_windows_installer() {
    local sha256 installer
    sha256=$(carried_image_sha256 build-win) || return 1
    installer=$(echo dist/tr520-updater-*-win32-setup.exe)
    if [ -z "$wine32_missing" ]; then
        tools/wine-check-installer.sh "$installer" "$sha256"
        return
    fi
    echo "wine32 is not installed here ($wine32_missing): the installer runs in the Debian root" \
         "$(tr_root_dir wine32)"
    wait_for_root wine32 "$wine32_root_missing" || return 1
    where_installer_ran="in build-roots/wine32 (no wine32 on the host)"
    tr_root_enter wine32 --scratch -- tools/wine-check-installer.sh "$installer" "$sha256"
}

summary=()
failed=""
skipped=""
# A stage that skipped its tests writes why into this file; the summary marks it SKIPPED.
stage_skip_note=$(mktemp)
# A note a stage writes here goes on its summary line.
stage_note=$(mktemp)
# The Debian roots this run started making in the background.
roots_started=()
# What the packages stage says of where it ran and how long it waited for the roots (s).
where_installer_ran="under the host's wine32"
roots_waited=0
# However the script ends: an unfinished make of a root must not run on, and an i386
# architecture added for a wine32 that was not installed must not stay.
on_exit() {
    rm -f "$stage_skip_note" "$stage_note"
    tr_remove_unsettled_i386
    local name
    for name in "${roots_started[@]}"; do
        tr_root_stop_background "$name"
    done
}
trap on_exit EXIT

# A signal sent to this script alone (SIGTERM, or SIGHUP when its terminal goes) ends all it
# started, as Ctrl+C, which reaches every process of the terminal's group, does; it then ends
# with 128 + the signal's number once the stage under way has ended. The stages run in the
# background of this script, since bash runs a trap only once the foreground command ends.
ending_signal=""
on_signal() {
    ending_signal=$1
    [ "$1" = INT ] || signal_descendants TERM
}
trap 'on_signal INT' INT
trap 'on_signal TERM' TERM
trap 'on_signal HUP' HUP

# Sends the signal $1 to every process this script started, and those started by them. Those of
# root (through sudo, when this script is not root) through sudo, if it asks for no password.
signal_descendants() {
    local signal=$1 own=() roots=() pid uid
    while read -r pid uid; do
        if [ "$uid" = "$(id -u)" ]; then own+=("$pid"); else roots+=("$pid"); fi
    done < <(ps -e -o pid= -o ppid= -o uid= | awk -v top=$$ '
        { parent[$1] = $2; uid[$1] = $3 }
        END {
            for (p in parent) {
                q = parent[p]
                while (q != top && q in parent && q > 1) q = parent[q]
                if (q == top) print p, uid[p]
            }
        }')
    [ ${#own[@]} -eq 0 ] || kill "-$signal" "${own[@]}" 2>/dev/null || true
    if [ ${#roots[@]} -gt 0 ]; then
        if [ ${#TR_SUDO[@]} -eq 0 ]; then
            kill "-$signal" "${roots[@]}" 2>/dev/null || true
        else
            sudo -n kill "-$signal" "${roots[@]}" 2>/dev/null || true
        fi
    fi
}

# Ends this script as the signal that asked for it would have, once nothing of it runs.
end_if_signalled() {
    [ -n "$ending_signal" ] || return 0
    echo "== tools/test.sh ends on SIG$ending_signal" >&2
    exit $((128 + $(kill -l "$ending_signal")))
}
# The CPU time, in seconds, that this script's finished commands used (user and system): on a
# machine that other work shares it tells what the stage itself costs.
children_cpu() {
    local fields
    read -r -a fields </proc/$$/stat
    echo $(((fields[15] + fields[16]) / $(getconf CLK_TCK)))
}

# The stages named on the command line; none named: all of them.
all_stages=(linux asan win64 win32 fuzz packages vm)
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
    end_if_signalled
    if [ -n "$failed" ]; then
        summary+=("$(printf '!! %-8s %-53s' "not run" "$caption")  (an earlier stage failed)")
        return 0
    fi
    echo "== $caption"
    local start=$SECONDS cpu_start status=0
    cpu_start=$(children_cpu)
    : >"$stage_skip_note"
    : >"$stage_note"
    # Not in an if: the stage's own set -e must stop it at its first failing command. In the
    # background, with Ctrl+C's default action and this script's input, so that a signal's
    # trap here runs while it goes on. SIGTERM ends it once its command under way has ended
    # (which has had the signal too), so that what that command started is still found.
    (trap - INT QUIT; trap 'exit 143' TERM; set -e; "$@") <&0 &
    local stage_pid=$!
    while :; do
        status=0
        wait "$stage_pid" || status=$?
        # A trap that ran ends the wait early: wait on while the stage runs.
        kill -0 "$stage_pid" 2>/dev/null || break
    done
    end_if_signalled
    local outcome=passed note
    note=$(cat "$stage_note")
    if [ "$status" -ne 0 ]; then
        outcome=FAILED
        note="(exit status $status) $note"
        failed=$caption
    elif [ -s "$stage_skip_note" ]; then
        outcome=SKIPPED
        skipped=$caption
        note="tests not run, only built and import-checked: $(cat "$stage_skip_note")"
    fi
    local mark="  "
    [ "$outcome" = passed ] || mark="!!"
    local times
    times=$(printf '%5d s (CPU %4d s)' $((SECONDS - start)) $(($(children_cpu) - cpu_start)))
    summary+=("$(printf '%s %-8s %-53s %s  %s' "$mark" "$outcome" "$caption" "$times" "$note")")
    echo "== $caption: $outcome, $times"
}

# The fuzz targets, built with clang and libFuzzer in build-fuzz/, each a test that fuzzes for a
# fixed time, two side by side (the preset's own number).
run_fuzz_stage() {
    build_preset fuzz
    ctest --preset fuzz
}

# The .debs of dist/ installed in a Debian guest under QEMU and run on the kernel's own FTDI,
# CDC-ACM and 16550 drivers (build-vm/ keeps the logs).
run_vm_stage() {
    tools/vm-test.sh --note "$stage_note" dist
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
start_roots
install_time=$((SECONDS - install_start))
echo "== Installing what was missing: $install_time s"

stage linux "Linux plain (build/)" run_preset linux
stage asan "Linux, ASan+UBSan, 262,144-byte image (build-asan/)" run_preset asan
stage win64 "Windows 64-bit under wine64 (build-win64/)" run_win64_suite
stage win32 "Windows 32-bit under wine (build-win/)" run_win32_suite
stage fuzz "Fuzz targets, clang libFuzzer+ASan+UBSan (build-fuzz/)" run_fuzz_stage
stage packages "Packages (dist/)" run_package_checks
stage vm "Real serial drivers, Debian guest in QEMU (build-vm/)" run_vm_stage
print_summary
