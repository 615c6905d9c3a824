#!/bin/bash
# The checks of the virtual-machine stage (tools/vm-test.sh), run in the Debian guest at
# start-up by tr-vm-checks.service, as root, with the second disk mounted at $1: this run's
# packages (debs/), the simulated scanner, this script. The programs run as "scanner", a member
# of dialout with a logind session, as on a desktop. Through each driver - ftdi (ftdi_sio, the
# host's simulator behind QEMU's FT232), acm (cdc_acm, the simulator on the gadget end
# /dev/ttyGS0 here) and uart (8250, the host's simulator behind QEMU's PCI 16550) - and on the
# FTDI cable the checks of tests/vm/checks.list.
#
# Each check appends one line to $1/results, which the host reads after power-off:
#   pass NAME [figures]        fail NAME why
# The guest asks the host on the virtio port tr.ctl, one line a request:
#   log TEXT          a line for the stage's output (no answer)
#   summary DRIVER    what the host's simulator for ftdi or uart saw since the last such
#                     request (it counts afresh then), each line as "| LINE", then "end"
#   pull, plug        the FTDI cable removed, put back: "ok" or "error WHY"
#   done              the checks are over (no answer)
set -uo pipefail
data=$1
results=$data/results
user=scanner      # in dialout
outsider=visitor  # not in dialout
work=$(mktemp -d)
acm_sim=""

# --- reporting and the host ------------------------------------------------------------------

exec 3<>/dev/virtio-ports/tr.ctl
source "$data/sim-summary.sh"
say() {
    echo "$*"
    printf 'log %s\n' "$*" >&3
}
record() {
    printf '%s\n' "$*" >>"$results"
    sync "$results"
    say "$*"
}
pass() { record pass "$@"; }
fail() { record fail "$@"; }
# pass or fail NAME as $2 (a condition's status) is 0 or not, with what was seen, $3....
verdict() {
    local name=$1 status=$2
    shift 2
    if [ "$status" -eq 0 ]; then pass "$name" "$@"; else fail "$name" "$@"; fi
}

# Asks the host $*; its one-line answer in $answer.
ask() {
    printf '%s\n' "$*" >&3
    IFS= read -r -t 60 answer <&3 || answer="error no answer from the host"
}

now_ms() { local t=${EPOCHREALTIME/./}; echo $((t / 1000)); }

# Runs $@ as the user in a logind session of his own, from his home.
as_user() { runuser -l "$user" -c "$(printf '%q ' "$@")"; }

# --- devices ---------------------------------------------------------------------------------

# The device node of driver $1, as the kernel's sysfs names it; fails while there is none.
driver_device() {
    local tty
    case $1 in
        ftdi) for tty in /sys/bus/usb-serial/drivers/ftdi_sio/ttyUSB*; do
                  [ -e "$tty" ] && echo "/dev/${tty##*/}" && return 0
              done ;;
        acm) for tty in /sys/bus/usb/drivers/cdc_acm/*/tty/ttyACM*; do
                 [ -e "$tty" ] && echo "/dev/${tty##*/}" && return 0
             done ;;
        uart) for tty in /sys/class/tty/ttyS*; do
                  [[ $(readlink -f "$tty/device") == /sys/devices/pci* ]] \
                      && echo "/dev/${tty##*/}" && return 0
              done ;;
    esac
    return 1
}

# Waits up to $2 s for the device of driver $1 and for udev to have set it up; prints it.
wait_for_device() {
    local _ device
    for _ in $(seq $(($2 * 5))); do
        if device=$(driver_device "$1") && [ -c "$device" ]; then
            udevadm settle -t 10
            echo "$device"
            return 0
        fi
        sleep 0.2
    done
    return 1
}

# The COM number of a device by the fixed table: ttyS0 COM1, ttyUSB0 COM33, ttyACM0 COM65.
com_number() {
    local name=${1#/dev/}
    case $name in
        ttyS*) echo $((${name#ttyS} + 1)) ;;
        ttyUSB*) echo $((${name#ttyUSB} + 33)) ;;
        ttyACM*) echo $((${name#ttyACM} + 65)) ;;
    esac
}

# --- the simulated scanner -------------------------------------------------------------------

# Starts the simulated scanner of the acm driver on the gadget end, at line speed, for the
# rest of the run. Its close would wait 15 s for the bytes it left to nobody, so it is stopped
# only by the power-off; it counts afresh whenever asked for its summary, as the host's do.
start_acm_simulator() {
    local _
    "$data/tr520-scanner-sim" --device /dev/ttyGS0 --line-speed --keep-running --verbose \
        >"$data/sim-acm.log" 2>&1 &
    acm_sim=$!
    for _ in $(seq 50); do
        grep -q '^Simulated scanner on ' "$data/sim-acm.log" && return 0
        sleep 0.1
    done
    say "the simulator on /dev/ttyGS0 did not start: $(tail -n 1 "$data/sim-acm.log")"
}

# What the simulator of driver $1 saw since it was last asked, into $work/summary; it counts
# afresh from now on. The host's for ftdi and uart, which run while the guest does.
sim_summary() {
    : >"$work/summary"
    if [ "$1" = acm ]; then
        tr_sim_summary "$data/sim-acm.log" "$acm_sim" >"$work/summary"
        return 0
    fi
    printf 'summary %s\n' "$1" >&3
    local line
    while IFS= read -r -t 30 line <&3; do
        case $line in
            "| "*) echo "${line#| }" >>"$work/summary" ;;
            end) return 0 ;;
        esac
    done
}

# The value of the summary's line "$1:".
summary_value() { sed -n "s/^$1: *//p" "$work/summary" | head -n 1; }

# The simulator received the carried image whole and correct and gave its verdict EOT.
check_image() {
    local name=$1 bytes correct verdict
    bytes=$(summary_value 'image bytes')
    correct=$(summary_value 'image correct')
    verdict=$(summary_value 'verdict sent')
    [[ $bytes == *"(complete)" && $correct == yes && $verdict == 0x04 ]]
    verdict "$name" $? "image bytes '$bytes', correct '$correct', verdict '$verdict'"
}

# Nothing the scanner received that it did not expect: no byte echoed back, no problem.
check_echo() {
    local name=$1 unexpected problems
    unexpected=$(sed -n -E 's/^unexpected bytes?[^:]*: *([0-9]+).*/\1/Ip' "$work/summary")
    problems=$(summary_value problems)
    if [ -z "$unexpected" ]; then
        fail "$name" "the simulator's summary has no count of unexpected bytes; problems" \
             "${problems:-?}: $(sed -n '/^problems:/,$p' "$work/summary" | sed -n '2,4p' \
             | paste -sd';')"
    elif [ "$unexpected" -ne 0 ] || [ "${problems:-1}" -ne 0 ]; then
        fail "$name" "unexpected bytes $unexpected, problems ${problems:-?}"
    else
        pass "$name" "unexpected=0"
    fi
}

# --- the command-line program ----------------------------------------------------------------

# Runs tr520-cli --json $2... as the user; its document in $work/$1.json, its stderr in
# $work/$1.err, its exit status in $status.
cli() {
    local name=$1
    shift
    as_user tr520-cli --json "$@" >"$work/$name.json" 2>"$work/$name.err"
    status=$?
}

# Whether the last document of $1 satisfies the jq filter $2 (with $com and $device).
json_holds() {
    jq -e --argjson com "$com" --arg device "$device" "$2" "$work/$1.json" >/dev/null 2>&1
}

# ports names COM $com with the device and present; ports --find finds it.
check_ports() {
    local driver=$1
    cli ports ports
    json_holds ports '.exit_code == 0 and any(.ports[]; .com == $com and .device == $device
        and .present)'
    verdict "$driver.ports" $? "COM$com $device among: $(jq -c '[.ports[] |
        [.port, .device, .present]]' "$work/ports.json" 2>/dev/null)"
    cli find ports --find
    json_holds find '.exit_code == 0 and any(.ports[]; .com == $com)'
    verdict "$driver.find" $? "exit $status, found: $(jq -c '[.ports[].port]' "$work/find.json" \
        2>/dev/null); $(tail -n 2 "$work/find.err" | paste -sd' ')"
}

# TEST on COM $com: the scanner's version 1.00, the upload offered.
check_test() {
    local driver=$1
    cli test test --port "COM$com"
    json_holds test '.exit_code == 0 and .ports[0].scanner_version == "1.00"
        and .ports[0].test.outcome == "upload_offered"'
    verdict "$driver.test" $? "exit $status, $(jq -c '.ports[0] | [.outcome, .messages]' \
        "$work/test.json" 2>/dev/null)"
}

# UPDATE on COM $com, accepted; its time and bytes as figures. With $2, that function runs
# beside it, given the program's PID, until the program ends.
check_update() {
    local driver=$1 beside=${2:-} pid
    as_user tr520-cli --json update --yes --port "COM$com" >"$work/update.json" \
        2>"$work/update.err" &
    pid=$!
    [ -z "$beside" ] || "$beside" "$pid"
    wait "$pid"
    status=$?
    local figures
    figures=$(jq -r '.ports[0].update
        | "ms=\(.ms) sent=\(.bytes_sent) received=\(.bytes_received)"' "$work/update.json" \
        2>/dev/null)
    if json_holds update '.exit_code == 0 and .ports[0].outcome == "accepted"'; then
        pass "$driver.update" "$figures"
    else
        fail "$driver.update" "exit $status, $(jq -c '.ports[0] | [.outcome, .messages]' \
            "$work/update.json" 2>/dev/null) $figures"
    fi
}

# ports, ports --find, TEST, UPDATE through driver $1, judged with the simulator's summary;
# $2: what runs beside UPDATE.
driver_checks() {
    local driver=$1 beside=${2:-} name
    device=$(wait_for_device "$driver" 30) || {
        for name in ports find test update image echo; do
            fail "$driver.$name" "no device of the $driver driver appeared"
        done
        return
    }
    com=$(com_number "$device")
    say "== $driver: $device, COM$com"
    sim_summary "$driver"  # from here on
    check_ports "$driver"
    check_test "$driver"
    check_update "$driver" "$beside"
    sim_summary "$driver"
    check_image "$driver.image"
    check_echo "$driver.echo"
}

# --- the FTDI cable's own checks -------------------------------------------------------------

# Beside UPDATE (the program's PID $1): the latency timer and logind's inhibitors, sampled.
sample_ftdi() {
    local pid=$1 timer=/sys/bus/usb-serial/devices/${device#/dev/}/latency_timer n=0
    cat "$timer" >"$work/latency.before"
    : >"$work/latency.during"
    : >"$work/inhibitors"
    while kill -0 "$pid" 2>/dev/null; do
        cat "$timer" >>"$work/latency.during" 2>/dev/null
        if [ $((n % 10)) -eq 5 ]; then
            systemd-inhibit --list --no-pager --no-legend >>"$work/inhibitors" 2>&1
        fi
        n=$((n + 1))
        sleep 0.1
    done
}

# The latency timer read 1 during the exchange and its old value after.
check_latency() {
    local before after during
    before=$(cat "$work/latency.before")
    after=$(cat "/sys/bus/usb-serial/devices/${device#/dev/}/latency_timer")
    during=$(sort -n "$work/latency.during" | uniq -c \
        | awk '{ printf "%s%s (%s times)", s, $2, $1; s = ", " }')
    grep -qx 1 "$work/latency.during" && [ "$after" = "$before" ]
    verdict ftdi.latency $? "before $before, during $during, after $after"
}

# logind listed the program's inhibitor (block) during UPDATE, and none of it after.
check_inhibitor() {
    local who="TR-520/521 CPU Update Utility"
    grep -F "$who" "$work/inhibitors" | grep -q -w block \
        && ! systemd-inhibit --list --no-pager --no-legend | grep -q -F "$who"
    verdict ftdi.inhibitor $? "seen: $(grep -F "$who" "$work/inhibitors" | head -n 1);" \
        "the program said: $(grep -i -m 1 'sleep\|shutdown' "$work/update.err")"
}

# A user outside dialout gets the permission line from test and from ports --find.
check_permission() {
    local line="You may not open $device (group dialout"
    (cd /tmp && runuser -u "$outsider" -- tr520-cli test --port "COM$com") >"$work/perm-test" 2>&1
    status=$?
    [ "$status" -eq 2 ] && grep -q -F "$line" "$work/perm-test"
    verdict ftdi.permission-test $? "exit $status: $(paste -sd' ' "$work/perm-test")"
    (cd /tmp && runuser -u "$outsider" -- tr520-cli ports --find) >"$work/perm-find" 2>&1
    status=$?
    grep -q -F "$line" "$work/perm-find"
    verdict ftdi.permission-find $? "exit $status: $(paste -sd' ' "$work/perm-find")"
}

# A port another program of the user holds open (sleep) is refused with the holder named.
check_holder() {
    as_user sh -c "exec sleep 60 <$device" &
    local runner=$! holder="" _
    for _ in $(seq 50); do
        holder=$(pgrep -u "$user" -x sleep) && break
        sleep 0.1
    done
    cli held test --port "COM$com"
    grep -q -F "$device is held by sleep (PID $holder)" "$work/held.err" && [ "$status" -eq 2 ]
    verdict ftdi.holder $? "exit $status: $(paste -sd' ' "$work/held.err")"
    kill "$holder" 2>/dev/null
    wait "$runner" 2>/dev/null
}

# The cable pulled at 30 % of UPDATE: the program ends within 1 s, with "Timed out waiting
# for response from scanner" and exit 3 (or, when the pull meets a packet's write, "Unable to
# send data to the scanner..." and exit 5), and a line saying the device went away; no lock
# file and no process of ours stay. Plugged back, an UPDATE completes.
check_pull() {
    local pid _ pulled ended
    sim_summary ftdi  # from here on
    as_user tr520-cli --json update --yes --port "COM$com" >"$work/pull.json" \
        2>"$work/pull.err" &
    pid=$!
    for _ in $(seq 600); do
        grep -q ': [3-9][0-9] % (' "$work/pull.err" && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    local asked
    asked=$(now_ms)
    ask pull
    pulled=$(now_ms)  # the host answers once QEMU has removed the device
    [ "$answer" = ok ] || say "the cable was not pulled: $answer"
    wait "$pid"
    status=$?
    ended=$(now_ms)
    local took=$((ended - pulled))
    [ "$answer" = ok ] && [ "$took" -le 1000 ]
    verdict ftdi.pull-end $? "ended $took ms after the pull (asked for $((pulled - asked)) ms" \
        "before)"
    # Pulled while the program waits for an answer, or while it writes a packet.
    local message="Timed out waiting for response from scanner"
    [ "$status" -eq 5 ] && message="Unable to send data to the scanner. Please retry from step 4"
    [[ $status == [35] ]] && json_holds pull ".ports[0].messages | index([\"$message\"]) != null"
    verdict ftdi.pull-message $? "exit $status, $(jq -c '.ports[0].messages' "$work/pull.json" \
        2>/dev/null)"
    grep -q -F "went away" "$work/pull.err"
    verdict ftdi.pull-gone $? "stderr: $(grep -v ' % (' "$work/pull.err" | paste -sd' ')"
    local lock="" process
    for lock in /run/lock/LCK.."${device#/dev/}" /var/lock/LCK.."${device#/dev/}"; do
        [ -e "$lock" ] && break
        lock=""
    done
    process=$(pgrep -a -x tr520-cli)
    [ -z "$lock" ] && [ -z "$process" ]
    verdict ftdi.pull-leftovers $? "lock file '$lock', processes '$process'"
    ask plug
    [ "$answer" = ok ] || say "the cable was not plugged back: $answer"
    if device=$(wait_for_device ftdi 20); then
        com=$(com_number "$device")
        check_update ftdi.replug
    else
        fail ftdi.replug.update "no FTDI device within 20 s of plugging the cable back"
    fi
    sim_summary ftdi
    check_image ftdi.replug.image
}

# --- the dialog program ----------------------------------------------------------------------

# Waits up to $2 s for a visible top-level window named $1 (a pattern); prints its id. Only
# top-level: the dialog's controls are windows of their own, named as the program.
top_window() {
    timeout "$2" xdotool search --sync --maxdepth 1 --onlyvisible --name "$1" 2>/dev/null \
        | head -n 1
}

# Gives the window $1 the keyboard and presses the keys $2...
press_keys() {
    local window=$1
    shift
    [ -n "$window" ] && timeout 10 xdotool windowfocus --sync "$window" key "$@"
}

# Clicks, in the main dialog $1, the button whose centre lies at dialog units ($2, $3) of
# its 343 x 236 template: the dialog is the template scaled.
click_dialog() {
    local geometry width height
    [ -n "$1" ] || return 1
    geometry=$(timeout 10 xdotool getwindowgeometry --shell "$1")
    width=$(sed -n 's/^WIDTH=//p' <<<"$geometry")
    height=$(sed -n 's/^HEIGHT=//p' <<<"$geometry")
    timeout 10 xdotool mousemove --window "$1" $((width * $2 / 343)) $((height * $3 / 236))
    sleep 0.5  # a click right after the move can come before the button knows the pointer
    timeout 10 xdotool click 1
}

# Waits up to $2 s for the window $1 to go.
wait_window_gone() {
    local _
    for _ in $(seq $(($2 * 5))); do
        timeout 10 xdotool getwindowname "$1" >/dev/null 2>&1 || return 0
        sleep 0.2
    done
    return 1
}

# tr520-updater on a virtual display: the warning answered Yes, TEST (COM1, which a link
# leads to the cable), its box answered OK, UPDATE until the progress window goes; the
# simulator's summary judges both.
check_dialog() {
    device=$(driver_device ftdi) || { fail dialog.test "no FTDI device"; return; }
    sim_summary ftdi  # from here on
    Xvfb :7 -screen 0 1024x768x24 -nolisten tcp -ac >/dev/null 2>&1 &
    local xvfb=$! _ main progress step
    for _ in $(seq 100); do
        [ -e /tmp/.X11-unix/X7 ] && break
        sleep 0.1
    done
    export DISPLAY=:7
    as_user sh -c "mkdir -p ~/.config/tr520-updater/ports && ln -sfn $device \
        ~/.config/tr520-updater/ports/com1"
    as_user env DISPLAY=:7 tr520-updater >"$work/dialog.log" 2>&1 &
    local runner=$! pid
    step="the start-up warning" && press_keys "$(top_window '^tr520-updater$' 60)" alt+y \
        && step="the main dialog" && main=$(top_window '^TR-520/521 CPU Update Utility' 30) \
        && pid=$(pgrep -u "$user" -x tr520-updater) && sleep 2 \
        && step="TEST" && click_dialog "$main" 293 119 \
        && step="TEST's box" && press_keys "$(top_window '^tr520-updater$' 60)" Return \
        && step="UPDATE" && click_dialog "$main" 293 157 \
        && step="the progress window" && progress=$(top_window '^Upgrading CPU$' 30) \
        && [ -n "$progress" ] && step="the upload's end" && wait_window_gone "$progress" 180 \
        && step=""
    [ -z "$step" ] || say "the dialog stopped at $step"
    press_keys "$main" Escape
    sim_summary ftdi
    local queries
    queries=$(summary_value 'queries answered')
    [[ $queries == *"(acknowledged 1)" ]]
    verdict dialog.test $? "queries answered '$queries'${step:+, stopped at $step};" \
        "the program said: $(paste -sd' ' "$work/dialog.log")"
    check_image dialog.update
    check_echo dialog.echo
    kill ${pid:-} "$runner" "$xvfb" 2>/dev/null
    wait "$runner" "$xvfb" 2>/dev/null
}

# --- the run ---------------------------------------------------------------------------------

prepare() {
    : >"$results"
    dpkg -i "$data"/debs/*.deb >"$work/dpkg.log" 2>&1
    verdict install $? "$(tail -n 3 "$work/dpkg.log" | paste -sd' ')"
    useradd -m -G dialout "$user"
    useradd -m "$outsider"
    # Its own user manager stays up between the sessions of the checks.
    loginctl enable-linger "$user"
    # A desktop user's session has a seat, and polkit lets it take the inhibitor lock; the
    # checks' sessions have none, so a rule grants it, as the seat would. polkit is started
    # first: activated by the program's first request, it would outlast the 5 s the program
    # gives the system bus.
    cat >/etc/polkit-1/rules.d/50-tr-vm-checks.rules <<EOF
polkit.addRule(function(action, subject) {
    if (action.id.indexOf("org.freedesktop.login1.inhibit-") == 0 && subject.user == "$user") {
        return polkit.Result.YES;
    }
});
EOF
    systemctl start polkit.service
    modprobe dummy_hcd && modprobe g_serial && wait_for_device acm 30 >/dev/null \
        && start_acm_simulator
    # The first open of QEMU's FTDI chip since boot can take in the ready bytes kept waiting on
    # the host's side, which a real chip's open purges, while the driver still sets the line
    # up: a bare open and close (stty) echoed 16 of them, and so did, once in two runs, the
    # first ports --find of a program that switches the echo off right after its open. One
    # open here takes them before the checks.
    local ftdi
    ftdi=$(wait_for_device ftdi 30) && stty -F "$ftdi" >/dev/null
}

say "== checks start $(cut -d' ' -f1 /proc/uptime) s after boot"
prepare
driver_checks ftdi sample_ftdi
check_latency
check_inhibitor
check_permission
check_holder
check_pull
driver_checks acm
driver_checks uart
check_dialog
say "== checks end $(cut -d' ' -f1 /proc/uptime) s after boot"
[ -z "$acm_sim" ] || kill -TERM "$acm_sim"  # not waited for: the power-off ends its close
sync
printf 'done\n' >&3
