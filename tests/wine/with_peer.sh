#!/usr/bin/env bash
# Runs one Windows test program under wine against a native peer that serves a COM port:
#   with_peer.sh --prefix DIR --com N [--peer-exit CODE] [--expect-first BYTES IMAGE] \
#       -- PEER [peer options...] -- PROGRAM [program options...]
# The peer (the simulated scanner, or tr-pty-peer) is started with --link-dir
# DIR/dosdevices --com N --replace, so that wine's COMn is its pseudo-terminal; the program
# learns N from TR_TEST_COM. When the program ends, the peer is ended by its PID;
# --peer-exit first waits for the peer and requires its exit status (the simulator exits 0
# only after a complete and correct upload). --expect-first makes the
# simulator expect the first BYTES bytes of IMAGE.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
prefix= com= peer_exit= expect_bytes= expect_image=
while [ $# -gt 0 ] && [ "$1" != -- ]; do
    case $1 in
        --prefix) prefix=$2; shift 2 ;;
        --com) com=$2; shift 2 ;;
        --peer-exit) peer_exit=$2; shift 2 ;;
        --expect-first) expect_bytes=$2; expect_image=$3; shift 3 ;;
        *) echo "with_peer.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
shift
peer=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do peer+=("$1"); shift; done
shift
if [ -z "$prefix" ] || [ -z "$com" ] || [ ${#peer[@]} -eq 0 ] || [ $# -eq 0 ]; then
    echo "with_peer.sh: needs --prefix, --com, a peer and a program" >&2
    exit 2
fi

work=$(mktemp -d)
peer_pid=
finish() {
    if [ -n "$peer_pid" ]; then
        kill "$peer_pid" 2>/dev/null
        wait "$peer_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap finish EXIT

if [ -n "$expect_bytes" ]; then
    head -c "$expect_bytes" "$expect_image" >"$work/expected.bin"
    peer+=(--expect "$work/expected.bin")
fi
link="$prefix/dosdevices/com$com"
"${peer[@]}" --link-dir "$prefix/dosdevices" --com "$com" --replace --timeout 120 \
    >"$work/peer.out" 2>&1 &
peer_pid=$!
for _ in $(seq 100); do
    [ -e "$link" ] && break
    kill -0 "$peer_pid" 2>/dev/null || break
    sleep 0.1
done
if [ ! -e "$link" ]; then
    echo "with_peer.sh: the peer did not publish $link" >&2
    cat "$work/peer.out" >&2
    exit 1
fi

TR_TEST_COM=$com "$here/../../tools/wine-run.sh" "$prefix" "$@"
status=$?

# A peer whose exit status counts gets a few seconds to finish (the simulator ends by itself
# after its verdict); any other is ended at once.
for _ in $(seq $([ -n "$peer_exit" ] && echo 50 || echo 0)); do
    kill -0 "$peer_pid" 2>/dev/null || break
    sleep 0.1
done
kill "$peer_pid" 2>/dev/null
wait "$peer_pid"
peer_status=$?
peer_pid=
echo "--- peer (exit $peer_status):"
cat "$work/peer.out"
if [ -n "$peer_exit" ] && [ "$peer_status" != "$peer_exit" ]; then
    echo "with_peer.sh: the peer exited $peer_status, expected $peer_exit" >&2
    [ "$status" -ne 0 ] || status=1
fi
exit "$status"
