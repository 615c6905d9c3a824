# Sourced by tools/vm-test.sh on the host and by guest-checks.sh in the guest.
# tr_sim_summary LOG PID: asks the simulated scanner PID, which writes to LOG, for what it saw
# since it was last asked (it counts afresh then) and prints that summary's lines.
tr_sim_summary() {
    local log=$1 pid=$2 before _
    before=$(grep -c -x -e '---' "$log")
    kill -USR1 "$pid"
    for _ in $(seq 100); do
        [ "$(grep -c -x -e '---' "$log")" -gt "$before" ] && break
        sleep 0.05
    done
    # The last block: from its first line to the end marker.
    awk '/^sim: / { next }
         $0 == "--- summary so far" { n = 0; next }
         $0 == "---" { block = ""; for (i = 1; i <= n; i++) block = block lines[i] "\n"; next }
         { lines[++n] = $0 }
         END { printf "%s", block }' "$log"
}
