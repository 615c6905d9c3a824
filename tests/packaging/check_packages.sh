#!/usr/bin/env bash
# Checks what tools/package.sh made in the folder $1 (dist/ by default), without root or wine:
# lintian finds no error and no warning in either Debian package; each package holds exactly
# its files, depends on no development package and has no maintainer scripts; the desktop
# entry and the AppStream metadata validate; the zip holds exactly its four files, its texts
# with CR LF line ends; the .exes import only Windows' own DLLs; SHA256SUMS matches.
set -euo pipefail
cd "$(dirname "$0")/../.."
source tests/packaging/checks.sh
dist=$(realpath "${1:-dist}")

# Sets the variable $1 to the one file in $dist matching the pattern $2; fails unless there is
# exactly one. Not to be called in $(...): the failure would be counted in the subshell only.
artefact() {
    local found=("$dist"/$2)
    if [ ${#found[@]} -ne 1 ] || [ ! -f "${found[0]}" ]; then
        fail "no single $2 in $dist"
        return 1
    fi
    printf -v "$1" '%s' "${found[0]}"
}

# Fails unless the lines of the command $2... are exactly those of the file list $1 (sorted).
expect_lines() {
    local what=$1
    shift
    if ! diff <(sort "$work/expected") <("$@" | sort) >"$work/diff"; then
        fail "$what:"$'\n'"$(sed 's/^/    /' "$work/diff")"
    fi
}

# The regular files of a .deb, as absolute paths.
deb_files() {
    dpkg-deb --contents "$1" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }'
}

# The members of a .deb's control archive.
control_members() {
    dpkg-deb --ctrl-tarfile "$1" | tar -t
}

check_deb() {
    local deb=$1 package=$2 field
    echo "== $package: $(basename "$deb")"
    # Info and pedantic tags are shown; only errors and warnings fail.
    local status=0
    lintian --fail-on error,warning --info --pedantic "$deb" >"$work/lintian" 2>&1 || status=$?
    grep -v '^running with root' "$work/lintian" || true
    [ "$status" -eq 0 ] || fail "lintian found errors or warnings in $package"
    deb_files "$deb" >"$work/$package.files"
    # The control archive: the control file and the checksums, no maintainer scripts.
    printf '%s\n' ./control ./md5sums >"$work/expected"
    expect_lines "$package: control archive" control_members "$deb"
    for field in Depends Pre-Depends Recommends; do
        if dpkg-deb --field "$deb" "$field" | tr ',' '\n' | grep -Eq '^ *[^ ]+-dev( |$)'; then
            fail "$package: $field names a development package: $(dpkg-deb --field "$deb" "$field")"
        fi
    done
    dpkg-deb --field "$deb" Depends | grep -q 'libc6' \
        || fail "$package: Depends lacks what dpkg-shlibdeps finds: $(dpkg-deb --field "$deb" Depends)"
    dpkg-deb -x "$deb" "$work/root"
}

check_debs() {
    local cli updater
    artefact cli 'tr520-cli_*.deb' || return 0
    artefact updater 'tr520-updater_*.deb' || return 0
    check_deb "$cli" tr520-cli
    check_deb "$updater" tr520-updater

    printf '%s\n' /usr/bin/tr520-cli /usr/share/man/man1/tr520-cli.1.gz \
        /usr/share/doc/tr520-cli/copyright /usr/share/doc/tr520-cli/changelog.gz >"$work/expected"
    expect_lines "tr520-cli's files" cat "$work/tr520-cli.files"
    {
        printf '%s\n' /usr/bin/tr520-updater /usr/share/man/man1/tr520-updater.1.gz \
            /usr/share/doc/tr520-updater/copyright /usr/share/doc/tr520-updater/changelog.gz \
            /usr/share/applications/tr520-updater.desktop
        grep '^/usr/share/metainfo/[^/]*\.metainfo\.xml$' "$work/tr520-updater.files" || true
        for size in 16 32 48 64 128 256; do
            echo "/usr/share/icons/hicolor/${size}x$size/apps/tr520-updater.png"
        done
    } >"$work/expected"
    expect_lines "tr520-updater's files" cat "$work/tr520-updater.files"
    grep -q '^/usr/share/metainfo/' "$work/tr520-updater.files" \
        || fail "tr520-updater: no AppStream metadata in /usr/share/metainfo"

    dpkg-deb --field "$cli" Depends | grep -qi 'qt' \
        && fail "tr520-cli depends on Qt: $(dpkg-deb --field "$cli" Depends)"
    [ "$(dpkg-deb --field "$updater" Recommends)" = tr520-cli ] \
        || fail "tr520-updater does not recommend tr520-cli"

    desktop-file-validate "$work/root/usr/share/applications/tr520-updater.desktop" \
        || fail "desktop-file-validate"
    appstreamcli validate --no-net --pedantic "$work"/root/usr/share/metainfo/*.metainfo.xml \
        || fail "appstreamcli validate"
}

# Fails unless every line of the file $1 ends in CR LF.
expect_crlf() {
    if grep -q $'[^\r]$\|^$' "$1"; then
        fail "$(basename "$1") has lines that do not end in CR LF"
    fi
}

check_windows() {
    local zip installer name exe
    artefact zip 'tr520-updater-*-win32.zip' || return 0
    artefact installer 'tr520-updater-*-win32-setup.exe' || return 0
    name=$(basename "$zip" .zip)
    echo "== $(basename "$zip")"
    printf "$name/%s\n" tr520-updater.exe tr520-cli.exe README.txt LICENSE.txt >"$work/expected"
    expect_lines "the zip's files" unzip -Z1 "$zip"
    unzip -q "$zip" -d "$work/zip"
    expect_crlf "$work/zip/$name/README.txt"
    expect_crlf "$work/zip/$name/LICENSE.txt"
    for exe in "$work/zip/$name"/*.exe "$installer"; do
        cmake -DOBJDUMP=i686-w64-mingw32-objdump -DPROGRAM="$exe" \
            -P tests/wine/check_imports.cmake || fail "$(basename "$exe") imports"
        i686-w64-mingw32-objdump -f "$exe" | grep -q 'file format pei-i386' \
            || fail "$(basename "$exe") is not a 32-bit Windows program"
    done
}

check_sums() {
    echo "== SHA256SUMS"
    (cd "$dist" && sha256sum --check --strict SHA256SUMS) || fail "SHA256SUMS"
    (cd "$dist" && find . -maxdepth 1 -type f ! -name SHA256SUMS -printf '%f\n') >"$work/expected"
    expect_lines "the files SHA256SUMS lists" awk '{ print $2 }' "$dist/SHA256SUMS"
}

check_debs
check_windows
check_sums
end_checks "package checks" "The packages in $dist pass their checks"
