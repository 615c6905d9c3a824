#!/usr/bin/env bash
# Runs the Windows installer $1 silently under wine, in the prefix and with the wine server the
# caller has set up (tools/wine-env.sh), and checks what it leaves: both programs, README.txt,
# LICENSE.txt and the uninstaller in %LOCALAPPDATA%\Programs, the Start-menu shortcut, and the
# uninstall entry under HKCU with its version and publisher. With TR_CLI_SHA256 set, also runs
# the installed tr520-cli.exe info, which must show that digest (only where wine runs the
# installer's programs: the 32-bit ones need the 32-bit wine). Then runs the uninstaller
# silently and checks that nothing of it is left: the user's profile holds the same files as
# before the install (its temporary folder aside), and the uninstall entry is gone.
#   tests/packaging/check_installer.sh dist/tr520-updater-0.1.1-win32-setup.exe
set -euo pipefail
# shellcheck source=tests/packaging/checks.sh
source "$(dirname "$0")/checks.sh"
installer=$(realpath "$1")
version=$(basename "$installer" | sed -n 's/^tr520-updater-\(.*\)-win32-setup\.exe$/\1/p')
publisher="The TR-520/521 CPU Update Utility developers"
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\tr520-updater'

# The Unix path of the Windows environment variable $1 of the prefix.
windows_folder() {
    winepath -u "$(wine cmd /c "echo %$1%" | tr -d '\r')"
}

# The value $1 of the uninstall entry, or nothing.
entry_value() {
    wine reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' \
        | sed -n "s/^ *$1 *REG_[A-Z]* *//p"
}

# Every file under the user's profile but its temporary folder, one path a line. The
# uninstaller runs from a copy of itself in %TEMP%, which Windows removes, not the uninstaller.
profile_files() {
    find "$profile" -path "$temp" -prune -o -type f -print | sort
}

profile=$(realpath "$(windows_folder USERPROFILE)")
temp=$(realpath "$(windows_folder TEMP)")
dir="$(windows_folder LOCALAPPDATA)/Programs/TR-520-521 CPU Update Utility"
shortcut="$(windows_folder APPDATA)/Microsoft/Windows/Start Menu/Programs/TR-520-521 CPU Update Utility.lnk"
profile_files >"$work/before"

echo "== Installing $(basename "$installer") silently"
wine "$installer" /S || fail "the installer exited with status $?"
for file in tr520-updater.exe tr520-cli.exe README.txt LICENSE.txt uninstall.exe; do
    [ -f "$dir/$file" ] || fail "not installed: $dir/$file"
done
[ -f "$shortcut" ] || fail "no Start-menu shortcut: $shortcut"
[ "$(entry_value DisplayVersion)" = "$version" ] \
    || fail "DisplayVersion is '$(entry_value DisplayVersion)', not '$version'"
[ "$(entry_value Publisher)" = "$publisher" ] \
    || fail "Publisher is '$(entry_value Publisher)', not '$publisher'"
entry_value QuietUninstallString | grep -qF 'uninstall.exe" /S' \
    || fail "no QuietUninstallString: '$(entry_value QuietUninstallString)'"
echo "installed: $(ls "$dir" 2>/dev/null | paste -sd' ') in $dir"
echo "shortcut: $(basename "$shortcut") $([ -f "$shortcut" ] && echo present || echo missing)"
echo "uninstall entry: DisplayVersion '$(entry_value DisplayVersion)'," \
     "Publisher '$(entry_value Publisher)'"
if [ -n "${TR_CLI_SHA256:-}" ]; then
    echo "== tr520-cli.exe info, run from the installed folder"
    (cd "$dir" && wine ./tr520-cli.exe info) | tr -d '\r' >"$work/info" \
        || fail "tr520-cli.exe info failed"
    cat "$work/info"
    grep -qi "$TR_CLI_SHA256" "$work/info" \
        || fail "tr520-cli.exe info does not show the carried image's SHA-256 $TR_CLI_SHA256"
fi

echo "== Uninstalling silently"
# The uninstaller runs on from a copy of itself and returns at once: wait for it to finish.
wine "$dir/uninstall.exe" /S || fail "the uninstaller exited with status $?"
for _ in $(seq 60); do
    [ ! -e "$dir" ] && [ -z "$(entry_value DisplayName)" ] && break
    sleep 0.5
done
[ ! -e "$dir" ] || fail "left behind: $dir ($(ls -A "$dir" | tr '\n' ' '))"
[ ! -e "$shortcut" ] || fail "left behind: $shortcut"
[ -z "$(entry_value DisplayName)" ] || fail "left behind: the uninstall entry $key"
profile_files >"$work/after"
diff "$work/before" "$work/after" >"$work/diff" \
    || fail "the profile's files changed:"$'\n'"$(cat "$work/diff")"
echo "after uninstalling: folder $([ -e "$dir" ] && echo present || echo gone)," \
     "shortcut $([ -e "$shortcut" ] && echo present || echo gone)," \
     "uninstall entry $([ -n "$(entry_value DisplayName)" ] && echo present || echo gone);" \
     "the profile holds $(wc -l <"$work/after") files, $(wc -l <"$work/before") before"

end_checks "installer checks" "The installer installs and uninstalls cleanly"
