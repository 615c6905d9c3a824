#!/usr/bin/env bash
# tr_root_stop_background (tools/debian-root.sh) ends an unfinished background make of a root and
# nothing else: not a session that took over the number of a make that has ended, nor one whose
# start time is not the make's. Stand-in sessions play the makes.
set -euo pipefail
source "$(dirname "$0")/../../tools/debian-root.sh"
TR_ROOT_BASE=$(mktemp -d)
folder=$TR_ROOT_BASE/probe
mkdir "$folder"
sessions=()
trap 'kill "${sessions[@]}" 2>/dev/null || true; rm -rf "$TR_ROOT_BASE"' EXIT
failures=0

# Starts a session of its own that sleeps; its PID in $session.
start_session() {
    setsid sleep 300 </dev/null >/dev/null 2>&1 &
    session=$!
    sessions+=("$session")
    until [ "$(tr_root_process_field "$session" 3)" = "$session" ]; do sleep 0.05; done
}

# Records the make as the file make.pid $1 and, with $2 = ended, as finished; stops it and
# checks that the session $session is $3 (alive or ended) afterwards.
expect() {
    local pid_line=$1 finished=$2 outcome=$3 what=$4
    echo "$pid_line" >"$folder/make.pid"
    rm -f "$folder/make.status"
    [ "$finished" = running ] || echo 0 >"$folder/make.status"
    tr_root_stop_background probe >/dev/null
    sleep 0.2
    local now=ended
    tr_root_alive "$session" && now=alive
    if [ "$now" = "$outcome" ]; then
        echo "ok: $what"
    else
        echo "FAILED: $what: the session is $now"
        failures=$((failures + 1))
    fi
}

start_session
start=$(tr_root_process_field "$session" 19)
expect "$session $start" ended alive "a make that has ended leaves the session now at its number"
expect "$session $((start + 1))" running alive "a session started at another time is not the make"
expect "$session" running alive "a make.pid without a start time names no make"
expect "$session $start" running ended "the unfinished make is stopped"
[ "$failures" -eq 0 ]
