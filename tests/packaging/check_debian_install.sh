#!/usr/bin/env bash
# Installs the Debian packages of the folder $1 (dist/) into the clean Debian root it runs in,
# as apt installs them, and checks them there:
#   - apt resolves them from the mirror and pulls no development package, neither with the
#     recommended packages nor without (the install itself takes only what they depend on,
#     which proves their dependencies enough to run both programs);
#   - tr520-cli --version names exactly the packages' version, tr520-cli info shows the SHA-256 $2
#     (the carried image's, computed by the caller from the image itself);
#   - tr520-updater starts on a virtual display and shows its start-up warning, found by the
#     message box's caption, and ends when it is answered with Enter (No, the default);
#   - apt-get purge removes every file dpkg -L named, and once the dependencies the install
#     brought are purged as well, the root holds the same files as before, apt's and dpkg's
#     logs and caches aside.
# It installs and purges packages in the system it runs in, so it runs only in a root entered
# with tr_root_enter --scratch (tools/debian-root.sh), whose changes vanish with it.
#   tr_root_enter packages --scratch -- tests/packaging/check_debian_install.sh dist SHA256
set -euo pipefail
cd "$(dirname "$0")/../.."
source tools/wine-env.sh  # the virtual display
source tools/debian-root.sh  # tr_root_alive
dist=$(realpath "$1")
expected_sha256=$2
packages=(tr520-cli tr520-updater)
# The caption of every message box of the dialog program: its file name.
warning_caption=tr520-updater
# How long the program may take to show its warning, and to end once it is answered (s).
window_timeout=30
exit_timeout=15

if [ "${TR_ROOT_SCRATCH:-}" != 1 ] || [ "$(id -u)" -ne 0 ]; then
    echo "check_debian_install.sh installs and purges packages: it runs only as root in a" \
         "Debian root entered with tr_root_enter --scratch" >&2
    exit 2
fi

source tests/packaging/checks.sh
updater_pid=""
# Replaces the trap of checks.sh, whose work it does too.
on_exit() {
    [ -z "$updater_pid" ] || kill "$updater_pid" 2>/dev/null || true
    tr_display_stop
    rm -rf "$work"
}
trap on_exit EXIT

# Every path of the root on its own file system, but what apt and dpkg keep for themselves:
# logs, downloaded archives, package lists, the linker's cache.
root_files() {
    find / -xdev \( -path /var/log -o -path /var/cache/apt -o -path /var/lib/apt \
        -o -path /var/cache/ldconfig \) -prune -o -print | sort
}

installed_packages() {
    dpkg-query -W -f '${db:Status-Abbrev} ${Package}\n' | sed -n 's/^ii  *//p' | sort
}

# Fails for each development package among the package names on standard input ($1 says
# which install would take them).
expect_no_dev() {
    local dev
    dev=$(grep -E -- '-dev(:[a-z0-9]+)?$' | paste -sd' ') || true
    [ -z "$dev" ] || fail "$1 pulls development packages: $dev"
}

# The root's dpkg may be told to leave out documentation and manual pages; a user's system
# installs them, and they are part of what the packages are checked for.
install_every_file() {
    local config
    for config in /etc/dpkg/dpkg.cfg.d/*; do
        [ -f "$config" ] && sed -i '/^path-\(exclude\|include\)=/d' "$config"
    done
}

update_lists() {
    local attempt
    for attempt in 1 2 3; do
        apt-get update -q >"$work/update.log" 2>&1 && return 0
        echo "apt-get update failed (attempt $attempt of 3): $(grep -m1 '^E: ' "$work/update.log")"
        [ "$attempt" -eq 3 ] || sleep 5
    done
    cat "$work/update.log" >&2
    return 1
}

install_packages() {
    local debs=("$dist"/*.deb)
    echo "== apt-get install ${debs[*]##*/}"
    apt-get install -s -q "${debs[@]}" >"$work/simulated" 2>&1 \
        || { cat "$work/simulated" >&2; fail "apt cannot install the packages"; return 1; }
    sed -n 's/^Inst \([^ ]*\).*/\1/p' "$work/simulated" \
        | expect_no_dev "apt-get install with the recommended packages"
    installed_packages >"$work/packages.before"
    if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        "${debs[@]}" >"$work/install.log" 2>&1; then
        cat "$work/install.log" >&2
        fail "apt-get install failed"
        return 1
    fi
    installed_packages >"$work/packages.after"
    comm -13 "$work/packages.before" "$work/packages.after" >"$work/added"
    echo "installed $(wc -l <"$work/added") packages: $(paste -sd' ' "$work/added")"
    expect_no_dev "apt-get install" <"$work/added"
    local package
    for package in "${packages[@]}"; do
        grep -qx "$package" "$work/added" || fail "$package was not installed"
    done
}

check_cli() {
    local version first
    version=$(dpkg-query -W -f '${Version}' tr520-cli)
    echo "== tr520-cli --version, tr520-cli info"
    [ "$(command -v tr520-cli)" = /usr/bin/tr520-cli ] \
        || fail "tr520-cli is not /usr/bin/tr520-cli: '$(command -v tr520-cli)'"
    tr520-cli --version >"$work/version" 2>&1 || fail "tr520-cli --version exited with $?"
    cat "$work/version"
    first=$(head -n 1 "$work/version")
    [ "$first" = "tr520-cli $version" ] \
        || fail "tr520-cli --version does not name the package's version $version: '$first'"
    tr520-cli info >"$work/info" 2>&1 || fail "tr520-cli info exited with $?"
    cat "$work/info"
    grep -qx "SHA-256: $expected_sha256" "$work/info" \
        || fail "tr520-cli info does not show the carried image's SHA-256 $expected_sha256"
}

# Starts tr520-updater on a virtual display, waits for its warning box, answers it with Enter
# and waits for the program to end.
check_updater() {
    echo "== tr520-updater on a virtual display"
    tr_display_start
    env -u QT_QPA_PLATFORM tr520-updater >"$work/updater.log" 2>&1 &
    updater_pid=$!
    local window
    if ! window=$(timeout "$window_timeout" xdotool search --sync --onlyvisible \
        --name "^$warning_caption\$" 2>/dev/null | head -n 1) || [ -z "$window" ]; then
        fail "no window '$warning_caption' within $window_timeout s; the program said:" \
             "$(cat "$work/updater.log")"
        return 0
    fi
    echo "its start-up warning shows: window $window, '$(xdotool getwindowname "$window")'"
    xdotool windowfocus --sync "$window" key Return || fail "xdotool could not answer the box"
    local _
    for _ in $(seq $((exit_timeout * 10))); do
        tr_root_alive "$updater_pid" || break
        sleep 0.1
    done
    if tr_root_alive "$updater_pid"; then
        fail "tr520-updater still runs $exit_timeout s after its warning was answered No"
        return 0
    fi
    local status=0
    wait "$updater_pid" || status=$?
    updater_pid=""
    [ "$status" -eq 0 ] || fail "tr520-updater exited with status $status: $(cat "$work/updater.log")"
    echo "answered with Enter (No): tr520-updater ended with status $status"
    tr_display_stop
}

purge_packages() {
    echo "== apt-get purge ${packages[*]}"
    dpkg-query -L "${packages[@]}" | grep -v "^$" | sort -u >"$work/package.files"
    local path left=() missing=()
    while IFS= read -r path; do
        [ -e "$path" ] || missing+=("$path")
    done <"$work/package.files"
    [ ${#missing[@]} -eq 0 ] || fail "not installed, though dpkg -L names them: ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -q "${packages[@]}" >"$work/purge.log" 2>&1 \
        || { cat "$work/purge.log" >&2; fail "apt-get purge failed"; return 1; }
    while IFS= read -r path; do
        [ -e "$path" ] || [ -L "$path" ] || continue
        # A folder stays where it was there before or another package still has it.
        if [ -d "$path" ] && { grep -qxF "$path" "$work/root.before" \
            || dpkg-query -S "$path" >/dev/null 2>&1; }; then
            continue
        fi
        left+=("$path")
    done <"$work/package.files"
    if [ ${#left[@]} -eq 0 ]; then
        echo "none of the $(wc -l <"$work/package.files") paths dpkg -L named is left"
    else
        fail "apt-get purge left the packages' files: ${left[*]}"
    fi

    echo "== apt-get purge --autoremove (the dependencies the install brought)"
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -q --autoremove >"$work/autoremove.log" 2>&1 \
        || { cat "$work/autoremove.log" >&2; fail "apt-get purge --autoremove failed"; return 1; }
    installed_packages >"$work/packages.purged"
    diff "$work/packages.before" "$work/packages.purged" >"$work/diff" \
        || fail "the installed packages differ from before:"$'\n'"$(cat "$work/diff")"
    root_files >"$work/root.after"
    if diff "$work/root.before" "$work/root.after" >"$work/diff"; then
        echo "the root holds the same $(wc -l <"$work/root.after") paths as before"
    else
        fail "the root's files differ from before the install (> new, < gone):"$'\n'"$(
            grep '^[<>]' "$work/diff")"
    fi
}

install_every_file
update_lists
root_files >"$work/root.before"
# The programs run with a home of their own, so that what they or their libraries keep
# there is not taken for what the packages left.
mkdir "$work/home" && mkdir -m 0700 "$work/runtime"
export HOME=$work/home XDG_RUNTIME_DIR=$work/runtime
cd "$HOME"
if install_packages; then
    check_cli
    check_updater
    purge_packages || true
fi
end_checks "checks of the installed packages" "The Debian packages install, run and purge cleanly"
