#!/usr/bin/env bash
# Runs a command with extra COM links in a wine prefix, for tests of the port listing:
#   with_com_links.sh --prefix DIR [--dangling N] [--plain-file N] -- COMMAND [args...]
# --dangling N makes DIR/dosdevices/comN lead to a path that does not exist, --plain-file N to
# a plain file; the command learns the numbers from TR_TEST_DANGLING_COM and TR_TEST_FILE_COM.
# A number whose link already exists is refused, and only the links made here are removed.
set -uo pipefail
prefix= dangling= plain=
while [ $# -gt 0 ] && [ "$1" != -- ]; do
    case $1 in
        --prefix) prefix=$2; shift 2 ;;
        --dangling) dangling=$2; shift 2 ;;
        --plain-file) plain=$2; shift 2 ;;
        *) echo "with_com_links.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
shift
if [ -z "$prefix" ] || [ $# -eq 0 ]; then
    echo "with_com_links.sh: needs --prefix and a command" >&2
    exit 2
fi

work=$(mktemp -d)
made=()
finish() {
    for link in "${made[@]}"; do rm -f "$link"; done
    rm -rf "$work"
}
trap finish EXIT

# make_link N TARGET
make_link() {
    local link="$prefix/dosdevices/com$1"
    if [ -e "$link" ] || [ -L "$link" ]; then
        echo "with_com_links.sh: $link exists already" >&2
        exit 1
    fi
    mkdir -p "$prefix/dosdevices"
    ln -s "$2" "$link" || exit 1
    made+=("$link")
}

if [ -n "$dangling" ]; then
    make_link "$dangling" "$work/no-such-device"
    export TR_TEST_DANGLING_COM=$dangling
fi
if [ -n "$plain" ]; then
    echo "not a device" >"$work/plain-file"
    make_link "$plain" "$work/plain-file"
    export TR_TEST_FILE_COM=$plain
fi
"$@"
exit $?
