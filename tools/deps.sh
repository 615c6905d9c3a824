# Installs the Debian packages the build and the tests need, when any is missing.
# Sourced by tools/test.sh and tools/run.sh.

TR_PACKAGES=(cmake make g++ libgtest-dev libgmock-dev qt6-base-dev)

tr_install_deps() {
    local missing=()
    local package
    for package in "${TR_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
            || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${missing[@]}"
}
