# Installs the Debian packages the builds and the tests need, when any is missing, with
# apt-get (through sudo when not root). Sourced by the scripts in tools/, which all set
# -euo pipefail: apt's exit status is read through a pipe into tee.

# CLI11 parses the console program's arguments and nlohmann/json writes its --json documents;
# libsystemd's sd-bus asks logind for the inhibitor lock during an upload, and the tests run a
# private D-Bus daemon.
TR_PACKAGES=(cmake make g++ pkg-config libgtest-dev libgmock-dev qt6-base-dev libcli11-dev
             nlohmann-json3-dev libsystemd-dev dbus)
# The fuzz targets: clang, and libclang-rt-14-dev, only a Recommends of clang's packages, which
# holds libFuzzer and the sanitizers' runtimes.
TR_PACKAGES+=(clang libclang-rt-14-dev)
# Building the 32-bit Windows programs: the MinGW-w64 cross compiler (it brings windres), and
# CLI11's and nlohmann/json's headers for tr520-cli.
TR_WINDOWS_BUILD_PACKAGES=(cmake make g++-mingw-w64-i686 libcli11-dev nlohmann-json3-dev)
# The Windows tests: both cross compilers, GoogleTest's sources for them, the 64-bit wine to run
# the 64-bit build and a virtual X display for the dialogs. All amd64 packages.
TR_WINDOWS_TEST_PACKAGES=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 googletest wine wine64 xvfb)
# Making and checking the packages (tools/package.sh): dpkg-shlibdeps and file for CPack's
# Debian packages, makensis for the Windows installer, zip, and the checkers: lintian (with
# man-db for the manual pages), desktop-file-validate, appstreamcli.
TR_PACKAGING_PACKAGES=(dpkg-dev file nsis zip unzip lintian man-db desktop-file-utils appstream)
# The 32-bit half of wine, an i386 package: tried on its own (tr_try_install_wine32).
TR_WINE32_PACKAGE=wine32:i386
# Where the host cannot have it: a private Debian root (tools/debian-root.sh) made with
# mmdebstrap, of both architectures, with what the 32-bit tests run inside it: wine with its
# 32-bit half, the virtual display, ctest, and objdump for the import-table cases.
TR_DEBIAN_ROOT_HOST_PACKAGES=(mmdebstrap)
TR_WINE32_ROOT_ARCHITECTURES=amd64,i386
TR_WINE32_ROOT_PACKAGES=(wine wine32 wine64 xvfb cmake binutils-mingw-w64-i686)
# The clean root in which our Debian packages are installed, run and purged: only what the
# check needs beside them, the virtual display and xdotool, which finds a window by its title
# and answers it. Whatever the packages need comes from their dependencies.
TR_PACKAGES_ROOT_ARCHITECTURES=amd64
TR_PACKAGES_ROOT_PACKAGES=(xvfb xdotool)
# The virtual-machine stage (tools/vm-test.sh): QEMU and qemu-img on the host, mmdebstrap for
# the guest's root and e2fsprogs (mke2fs -d, debugfs) for its disks, none of which needs root.
TR_VM_HOST_PACKAGES=(qemu-system-x86 qemu-utils mmdebstrap e2fsprogs)
# The guest: a kernel that boots from its own initramfs, systemd with udev, logind and polkit
# (the inhibitor an upload takes, granted to a user's session as on a desktop), useradd for
# the users of the checks, jq to read tr520-cli's --json, and a virtual display with xdotool
# for the dialog program. What our packages depend on is added from the packages themselves.
TR_VM_ROOT_PACKAGES=(linux-image-amd64 initramfs-tools kmod systemd-sysv udev dbus libpam-systemd
                     polkitd procps passwd jq xvfb xdotool)

TR_SUDO=()
if [ "$(id -u)" -ne 0 ]; then
    TR_SUDO=(sudo)
fi
# The first error line of the last apt-get update that failed in this run, if any.
TR_APT_UPDATE_ERROR=
# Set once apt-get update has run, so that one run updates the indexes only once.
TR_APT_UPDATED=0
# The first error line of the last apt-get install that failed.
TR_APT_INSTALL_ERROR=

# Prints those of the named packages that are not installed.
tr_missing_packages() {
    local package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
            || echo "$package"
    done
}

# Updates the package indexes, trying three times. One index that fails to download (a mirror
# in mid-sync) fails the update while the others did download, so a failure only returns 1 and
# leaves apt's first error line in TR_APT_UPDATE_ERROR.
tr_apt_update() {
    local log attempt
    log=$(mktemp)
    TR_APT_UPDATED=1
    for attempt in 1 2 3; do
        if "${TR_SUDO[@]}" apt-get update -q 2>&1 | tee "$log"; then
            TR_APT_UPDATE_ERROR=
            rm -f "$log"
            return 0
        fi
        TR_APT_UPDATE_ERROR=$(grep -m1 '^E: ' "$log" || echo "exit status not 0")
        if [ "$attempt" -lt 3 ]; then
            echo "apt-get update failed (attempt $attempt of 3); trying again in 5 s"
            sleep 5
        fi
    done
    rm -f "$log"
    echo "apt-get update failed 3 times ($TR_APT_UPDATE_ERROR); going on with the indexes" \
         "that did download" >&2
    return 1
}

# Installs the named packages. On failure prints the packages and apt's messages, leaves apt's
# first error line in TR_APT_INSTALL_ERROR and returns 1.
tr_apt_install() {
    local log status=0
    log=$(mktemp)
    "${TR_SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$@" 2>&1 \
        | tee "$log" || status=$?
    if [ "$status" -eq 0 ]; then
        rm -f "$log"
        return 0
    fi
    TR_APT_INSTALL_ERROR=$(grep -m1 '^E: ' "$log" || echo "exit status $status")
    {
        echo "apt-get install failed (exit status $status) while installing: $*"
        # apt's errors and the unmet dependencies it names.
        grep -E '^(E|W): |^ [^ ]+ : ' "$log" || tail -n 20 "$log"
    } >&2
    rm -f "$log"
    return 1
}

# Installs the named packages that are not installed yet; fails when they cannot be installed.
tr_install_packages() {
    local missing
    mapfile -t missing < <(tr_missing_packages "$@")
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    [ "$TR_APT_UPDATED" -eq 1 ] || tr_apt_update || true
    tr_apt_install "${missing[@]}"
}

tr_install_deps() { tr_install_packages "${TR_PACKAGES[@]}"; }
tr_install_windows_build_deps() { tr_install_packages "${TR_WINDOWS_BUILD_PACKAGES[@]}"; }
tr_install_windows_test_deps() { tr_install_packages "${TR_WINDOWS_TEST_PACKAGES[@]}"; }
tr_install_packaging_deps() { tr_install_packages "${TR_PACKAGING_PACKAGES[@]}"; }

# Installs the 32-bit wine when it is missing, adding the i386 architecture for it. Returns 1,
# with the reason in TR_WINE32_MISSING, when it cannot be had. TR_FAKE_NO_WINE32=1 makes it
# behave as if apt could not install it, to try that path on a machine that has it.
#
# An i386 architecture this function added is removed again when wine32 could not be
# installed: with it, every later apt-get update fails as long as the failing i386 index does,
# for every user of the machine's apt. One that was there before is left alone. A script
# interrupted meanwhile calls tr_remove_unsettled_i386 on its way out.
tr_try_install_wine32() {
    TR_WINE32_MISSING=
    if [ -n "${TR_FAKE_NO_WINE32:-}" ]; then
        TR_WINE32_MISSING="TR_FAKE_NO_WINE32 is set (acting as if apt could not install it)"
        return 1
    fi
    [ -z "$(tr_missing_packages "$TR_WINE32_PACKAGE")" ] && return 0
    echo "Trying to install $TR_WINE32_PACKAGE (the 32-bit wine), on its own"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        TR_I386_UNSETTLED=1
        "${TR_SUDO[@]}" dpkg --add-architecture i386
        TR_APT_UPDATED=0  # the i386 indexes are not there yet
    fi
    [ "$TR_APT_UPDATED" -eq 1 ] || tr_apt_update || true
    if tr_apt_install "$TR_WINE32_PACKAGE"; then
        TR_I386_UNSETTLED=0
        return 0
    fi
    # A failed update is the likelier cause; apt's install error then only says it is stuck.
    TR_WINE32_MISSING="apt-get install $TR_WINE32_PACKAGE failed: $TR_APT_INSTALL_ERROR"
    if [ -n "$TR_APT_UPDATE_ERROR" ]; then
        TR_WINE32_MISSING="apt-get update failed: $TR_APT_UPDATE_ERROR; $TR_WINE32_MISSING"
    fi
    tr_remove_unsettled_i386
    return 1
}

# 1 while tr_try_install_wine32 has added the i386 architecture and wine32 is not installed.
TR_I386_UNSETTLED=0

# Removes the i386 architecture that tr_try_install_wine32 added for a wine32 it did not
# install.
tr_remove_unsettled_i386() {
    [ "$TR_I386_UNSETTLED" -eq 1 ] || return 0
    TR_I386_UNSETTLED=0
    echo "Removing the i386 architecture again, which only wine32 needed"
    "${TR_SUDO[@]}" dpkg --remove-architecture i386 \
        || echo "Could not remove the i386 architecture (dpkg --remove-architecture i386)" >&2
}
