#!/usr/bin/env bash
# Runs the Windows installer $1 silently under wine, in the prefix and with the wine server the
# caller has set up (tools/wine-env.sh), and checks what it leaves: both programs, README.txt,
# LICENSE.txt and the uninstaller in %LOCALAPPDATA%\Programs, the Start-menu shortcut, and the
# uninstall entry under HKCU with its version and publisher. With TR_CLI_SHA256 set, also runs
# the installed tr520-cli.exe info, which must show that digest (only where wine runs the
# installer's programs: the 32-bit ones need the 32-bit wine). Then runs the uninstaller
# silently and checks that nothing of it is left: the user's profile holds the same files as
# before the install (its temporary folder aside), so does the home outside the prefix (menu
# entries, icons), and the uninstall entry is gone. First of all, a silent install into a folder
# that already holds a README.txt of the user's must fail and leave that folder as it was, and
# installing again over the program's own install must not.
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

# Every file under the home but the prefix (and this check's work folder), one path a line.
home_files() {
    find "$HOME" \( -path "$WINEPREFIX" -o -path "$work" \) -prune -o -type f -print | sort
}

# A silent install into a folder of the user's that holds a file named as one of the install's:
# it must fail, and change nothing there nor in the registry.
check_refuses_a_clashing_folder() {
    local folder=$work/their-tools status=0
    mkdir "$folder"
    echo "the user's own notes" >"$folder/README.txt"
    echo "== Installing silently into $folder, which holds a README.txt of the user's"
    wine "$installer" /S "/D=$(winepath -w "$folder")" || status=$?
    [ "$status" -ne 0 ] || fail "the installer took a folder that holds the user's README.txt"
    [ "$(cat "$folder/README.txt")" = "the user's own notes" ] \
        || fail "the installer replaced the user's README.txt"
    [ "$(ls -A "$folder")" = README.txt ] \
        || fail "the refused install left files: $(ls -A "$folder" | paste -sd' ')"
    [ -z "$(entry_value DisplayName)" ] || fail "the refused install made the uninstall entry"
    echo "refused with exit status $status; the folder holds $(ls -A "$folder" | paste -sd' ')"
}

profile=$(realpath "$(windows_folder USERPROFILE)")
temp=$(realpath "$(windows_folder TEMP)")
dir="$(windows_folder LOCALAPPDATA)/Programs/TR-520-521 CPU Update Utility"
shortcut="$(windows_folder APPDATA)/Microsoft/Windows/Start Menu/Programs/TR-520-521 CPU Update Utility.lnk"
profile_files >"$work/before"
home_files >"$work/home.before"
check_refuses_a_clashing_folder

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
# Its own earlier install is no clash: installing again replaces it.
wine "$installer" /S || fail "installing again over the earlier install exited with status $?"
[ -f "$dir/tr520-updater.exe" ] || fail "installing again left no $dir/tr520-updater.exe"
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
home_files >"$work/home.after"
diff "$work/home.before" "$work/home.after" >"$work/diff" \
    || fail "the files of the home $HOME changed:"$'\n'"$(cat "$work/diff")"
echo "after uninstalling: folder $([ -e "$dir" ] && echo present || echo gone)," \
     "shortcut $([ -e "$shortcut" ] && echo present || echo gone)," \
     "uninstall entry $([ -n "$(entry_value DisplayName)" ] && echo present || echo gone);" \
     "the profile holds $(wc -l <"$work/after") files, $(wc -l <"$work/before") before"

end_checks "installer checks" "The installer installs and uninstalls cleanly"
