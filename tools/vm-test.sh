#!/usr/bin/env bash
# The virtual-machine stage of tools/test.sh: this run's Debian packages, installed in a Debian
# guest under QEMU and run on the kernel's own serial drivers, where pseudo-terminals hide what
# users' cables do. Through the FTDI driver (ftdi_sio, QEMU's emulated FT232 with the
# simulated scanner on the host behind it), the CDC-ACM driver (cdc_acm, a USB serial gadget in
# the guest with the simulator on its gadget end) and the 16550 driver (8250, QEMU's PCI 16550
# with the simulator on the host): ports, ports --find, TEST and UPDATE, the image checked byte
# for byte by the simulator, which must have received nothing it did not expect. On the FTDI
# cable also the latency timer, the logind inhibitor, a user outside dialout, a port held by
# another program, the cable pulled mid-UPDATE (QMP device_del) and plugged back, and the
# dialog program's TEST and UPDATE on a virtual display. tests/vm/guest-checks.sh runs the
# checks in the guest; tests/vm/checks.list names them.
#
# The guest image (tools/vm/guest-image.sh) is made once and reused while its recipe holds;
# each run boots it over a throw-away overlay with a second disk that carries the packages,
# the simulator and the checks in, and the results out (one line per check, read back with
# debugfs after the guest powered off). The stage fails on any failed or missing check.
# Whatever it started (QEMU, the simulators) ends with it, however it ends, and its temporary
# folder goes; the logs of the last run stay in build-vm/.
#
#   tools/vm-test.sh [--note FILE] [DIST]   DIST: the folder of the .debs (default dist/);
#                                           FILE gets one line for the test command's summary
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
source tools/debian-root.sh
source tools/vm/guest-image.sh
source tools/vm/machine.sh
source tests/vm/sim-summary.sh

note_file=""
if [ "${1:-}" = --note ]; then
    note_file=$2
    shift 2
fi
dist=${1:-dist}
simulator=build/simulator/tr520-scanner-sim
logs=$PWD/build-vm
guest_seconds=600  # from boot to power-off: only a hung guest takes this long
checks_list=tests/vm/checks.list

tr_install_packages "${TR_VM_HOST_PACKAGES[@]}"
shopt -s nullglob
debs=("$dist"/tr520-cli_*.deb "$dist"/tr520-updater_*.deb)
shopt -u nullglob
if [ "${#debs[@]}" -ne 2 ]; then
    echo "tools/vm-test.sh: $dist holds not one tr520-cli and one tr520-updater .deb;" \
         "tools/package.sh makes them" >&2
    exit 1
fi
if [ ! -x "$simulator" ]; then
    echo "tools/vm-test.sh: no $simulator: build it first (cmake --build build)" >&2
    exit 1
fi

# QEMU's options cannot name a path with a comma in it.
work=$(mktemp -d "${TMPDIR:-/tmp}/tr-vm.XXXXXX")
case $work in *,*) echo "tools/vm-test.sh: the folder $work has a comma in its path" >&2; exit 1 ;; esac
# The host's simulated scanners by driver (ftdi, uart), up while the guest runs: their PIDs,
# and their pseudo-terminals, the host's ends of QEMU's FTDI cable and 16550.
declare -A sim_pids=() sim_ptys=()

# The stage runs as a worker in a process group of its own, which ends what it starts (QEMU,
# the simulators, mmdebstrap) itself when it ends normally, and records here the PIDs of QEMU
# and the simulators, one a line. However the script ends, it then ends the worker's group and,
# by PID, whatever of those is left. (A trap in the worker would not do: bash can leave a
# signal's trap waiting while it reads from a FIFO.)
pid_file=$work/pids
export TR_VM_PID_FILE=$pid_file
worker=""

stop_simulators() {
    local driver
    for driver in "${!sim_pids[@]}"; do
        kill -INT "${sim_pids[$driver]}" 2>/dev/null || true
        wait "${sim_pids[$driver]}" 2>/dev/null || true
        unset "sim_pids[$driver]"
    done
}
on_exit() {
    local pid _
    [ -z "$worker" ] || kill -TERM -- "-$worker" 2>/dev/null || true
    while read -r pid; do
        kill -TERM "$pid" 2>/dev/null || continue
        for _ in $(seq 50); do
            tr_root_alive "$pid" || break
            sleep 0.1
        done
        kill -KILL "$pid" 2>/dev/null || true
    done < <(cat "$pid_file" 2>/dev/null)
    rm -rf "$work"
}
trap on_exit EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The second disk: the packages, the simulator (without its debugging symbols), the checks.
make_data_disk() {
    mkdir -p "$work/data/debs"
    cp "${debs[@]}" "$work/data/debs/"
    strip -o "$work/data/tr520-scanner-sim" "$simulator"
    cp tests/vm/guest-checks.sh tests/vm/sim-summary.sh "$work/data/"
    mke2fs -q -t ext4 -L tr-vm-data -d "$work/data" "$work/data.img" 64M >/dev/null
}

# Tells the guest $*, one line on the control port.
answer() { printf '%s\n' "$*" >&"$TR_VM_CTL_IN"; }

# Starts the host's simulated scanner for the driver $1 (ftdi, uart) at line speed, on a
# pseudo-terminal of its own that QEMU's device opens, for the guest's whole run; its output
# goes to build-vm/sim-$1.log. A simulator with a pty of its own sends no more ready bytes while
# 16 wait unread, as a device's buffer stays small; it publishes a COM link, here in the
# temporary folder, which nobody uses.
start_simulator() {
    local driver=$1 log=$logs/sim-$1.log _
    "$simulator" --line-speed --keep-running --verbose --link-dir "$work/links-$driver" \
        >"$log" 2>&1 &
    sim_pids[$driver]=$!
    echo "$!" >>"$pid_file"
    for _ in $(seq 50); do
        sim_ptys[$driver]=$(sed -n 's|^Simulated scanner on \(/dev/pts/[0-9]*\),.*|\1|p' "$log")
        [ -z "${sim_ptys[$driver]}" ] || return 0
        kill -0 "${sim_pids[$driver]}" 2>/dev/null || break
        sleep 0.1
    done
    echo "!! The simulated scanner for $driver did not start: $(tail -n 1 "$log")" >&2
    return 1
}

# Sends the guest the summary of what the host's simulator for the driver $1 saw since it was
# last asked (it counts afresh then), each line as "| LINE", then "end".
send_summary() {
    local log=$logs/sim-$1.log
    if [ -z "${sim_pids[$1]:-}" ]; then
        answer "end"
        return 0
    fi
    tr_sim_summary "$log" "${sim_pids[$1]}" | while IFS= read -r line; do answer "| $line"; done
    answer "end"
}

# Serves the guest's requests on the control port until it says it is done or stops.
serve_guest() {
    local line pending="" part deadline=$((SECONDS + guest_seconds))
    while tr_vm_running; do
        if [ "$SECONDS" -ge "$deadline" ]; then
            echo "!! The guest did not finish within $guest_seconds s" >&2
            return 1
        fi
        # A line cut by the time-out is kept and completed by the next read.
        if ! IFS= read -r -t 2 part <&"$TR_VM_CTL_OUT"; then
            pending+=$part
            continue
        fi
        line=$pending$part
        pending=""
        case $line in
            "log "*) echo "   guest: ${line#log }" ;;
            "summary "*) send_summary "${line#summary }" ;;
            pull)
                if tr_vm_qmp '{"execute": "device_del", "arguments": {"id": "cable"}}' \
                    '*"DEVICE_DELETED"*"cable"*'; then answer ok; else answer "error $TR_VM_ERROR"; fi ;;
            plug)
                if tr_vm_qmp '{"execute": "device_add", "arguments": {"driver": "usb-serial",
                    "bus": "xhci.0", "chardev": "ftdi", "id": "cable"}}'; then
                    answer ok
                else
                    answer "error $TR_VM_ERROR"
                fi ;;
            done) return 0 ;;
            *) echo "   guest (not understood): $line" ;;
        esac
    done
}

# The line-time floor of an exchange that put $1 bytes on the line each way in all, in
# seconds: 10 bits a byte at 115200 baud, as tr520-link-benchmark computes it.
line_floor() { awk -v bytes="$1" 'BEGIN { printf "%.3f", bytes * 10 / 115200 }'; }

# Prints each driver's UPDATE against the line-time floor, from the figures of its check.
print_update_times() {
    local name figures ms sent received floor
    echo "UPDATE through each driver against the line-time floor ($accelerator):"
    while read -r _ name figures; do
        [[ $name == *.update ]] || continue
        ms=$(sed -n 's/.*\bms=\([0-9]*\).*/\1/p' <<<"$figures")
        sent=$(sed -n 's/.*\bsent=\([0-9]*\).*/\1/p' <<<"$figures")
        received=$(sed -n 's/.*\breceived=\([0-9]*\).*/\1/p' <<<"$figures")
        [ -n "$ms" ] && [ -n "$sent" ] && [ -n "$received" ] || continue
        floor=$(line_floor $((sent + received)))
        awk -v name="${name%.update}" -v ms="$ms" -v floor="$floor" \
            'BEGIN { printf "  %-6s %7.3f s, floor %7.3f s: %.2f times the floor\n",
                     name, ms / 1000, floor, ms / 1000 / floor }'
    done <"$logs/results"
}

# Compares the guest's results with the list of checks: fails on any failed or missing one.
judge_results() {
    local name what outcome failed=0 passed=0
    while read -r name what; do
        [[ -z $name || $name == \#* ]] && continue
        outcome=$(awk -v name="$name" '$2 == name { print $1; exit }' "$logs/results")
        case $outcome in
            pass) passed=$((passed + 1)) ;;
            fail) failed=$((failed + 1))
                  echo "!! FAILED $name ($what): $(awk -v name="$name" '$2 == name {
                      $1 = ""; $2 = ""; sub(/^  /, ""); print; exit }' "$logs/results")" ;;
            *) failed=$((failed + 1)); echo "!! MISSING $name ($what): the guest reported nothing" ;;
        esac
    done <"$checks_list"
    # A check the list does not know is a mistake of the list or of the guest.
    local unknown
    unknown=$(awk 'NR == FNR { if ($1 !~ /^#/) known[$1] = 1; next }
                   !($2 in known) { print $2 }' "$checks_list" "$logs/results" | paste -sd' ')
    if [ -n "$unknown" ]; then
        failed=$((failed + 1))
        echo "!! The guest reported checks that $checks_list does not name: $unknown"
    fi
    echo "$passed checks passed, $failed failed or missing"
    checks_passed=$passed
    [ "$failed" -eq 0 ]
}

# The stage itself: the image, the guest's run, the results.
run_stage() {
    local status=0
    rm -rf "$logs"
    mkdir -p "$logs"
    echo "== The guest image"
    tr_vm_image_make "$dist" || { echo "!! $TR_ROOT_ERROR" >&2; return 1; }
    make_data_disk
    kernel=$(tr_vm_kernel)
    accelerator=$(tr_vm_accelerator "$work" "$kernel")
    echo "== Booting the guest ($accelerator); its console: build-vm/console.log"
    boot_start=$SECONDS
    start_simulator ftdi
    start_simulator uart
    tr_vm_start "$work" "$(tr_vm_disk)" "$kernel" "$(tr_vm_initrd)" "$accelerator" \
        "${sim_ptys[ftdi]}" "${sim_ptys[uart]}" || { echo "!! $TR_VM_ERROR" >&2; return 1; }
    serve_guest || status=1
    tr_vm_wait_end 60 || { echo "!! The guest did not power off within 60 s" >&2; status=1; }
    tr_vm_stop
    stop_simulators
    echo "== The guest ran for $((SECONDS - boot_start)) s"
    cp "$work/console.log" "$work/qemu.log" "$logs/" 2>/dev/null || true
    debugfs -R "cat /results" "$work/data.img" >"$logs/results" 2>/dev/null || true
    debugfs -R "dump /sim-acm.log $logs/sim-acm.log" "$work/data.img" >/dev/null 2>&1 || true
    checks_passed=0
    judge_results || status=1
    print_update_times
    if [ -n "$note_file" ]; then
        echo "$accelerator, $checks_passed checks passed, guest $((SECONDS - boot_start)) s" \
            >"$note_file"
    fi
    if [ "$status" -ne 0 ]; then
        echo "!! The virtual-machine stage FAILED; the guest's console: build-vm/console.log" >&2
    fi
    return "$status"
}

set -m  # the worker's own process group
run_stage </dev/null &
worker=$!
set +m
status=0
# The worker stays named after wait: bash may run a signal's trap only after the commands that
# follow the wait it interrupted.
wait "$worker" || status=$?
exit "$status"
