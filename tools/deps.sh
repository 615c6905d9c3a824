# Installs the Debian packages the build and the tests need, when any is missing.
# Sourced by tools/test.sh and tools/run.sh.

# CLI11 parses the console program's arguments; libsystemd's sd-bus asks logind for the inhibitor
# lock during an upload, and the tests run a private D-Bus daemon.
TR_PACKAGES=(cmake make g++ pkg-config libgtest-dev libgmock-dev qt6-base-dev libcli11-dev
             libsystemd-dev dbus)
# The 32-bit Windows build: the MinGW-w64 cross compiler, GoogleTest's sources for it, and
# wine with its 32-bit half to run the result, and a virtual X display for its dialogs.
TR_WINDOWS_PACKAGES=(g++-mingw-w64-i686 googletest wine wine32:i386 xvfb)

# Installs the named packages that are not installed yet.
tr_install_packages() {
    local missing=()
    local package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
            || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    # wine32 is an i386 package.
    if printf '%s\n' "${missing[@]}" | grep -q ':i386$' \
        && ! dpkg --print-foreign-architectures | grep -qx i386; then
        "${sudo[@]}" dpkg --add-architecture i386
    fi
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${missing[@]}"
}

tr_install_deps() { tr_install_packages "${TR_PACKAGES[@]}"; }
tr_install_windows_deps() { tr_install_packages "${TR_WINDOWS_PACKAGES[@]}"; }
