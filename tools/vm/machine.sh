# QEMU for the virtual-machine stage: the accelerator, and the guest with the two serial
# devices that QEMU emulates (an FTDI USB cable, a PCI 16550), its monitor (QMP) and its
# control port, all through files of one work folder. Every process started here is known by its PID to tr_vm_stop. Sourced by
# tools/vm-test.sh; set -euo pipefail.

TR_VM_MEMORY=1024        # MiB for the guest
TR_VM_PROBE_SECONDS=5    # a KVM boot prints the kernel's version within about a second
TR_VM_QMP_SECONDS=10     # for QEMU's monitor to answer a command

TR_VM_ERROR=
TR_VM_QEMU_PID=

# Prints the accelerator for the guest's kernel $2: kvm where a short boot of it prints the
# kernel's version within TR_VM_PROBE_SECONDS, else tcg (on some machines /dev/kvm exists but
# every boot hangs before that, or QEMU stops at once). The probe's console goes to the folder
# $1. The probe runs in the foreground, so that an interrupt reaches it too.
tr_vm_accelerator() {
    local work=$1 kernel=$2
    if [ -w /dev/kvm ]; then
        # In a subshell: a QEMU that aborts must not leave the shell's "Aborted" notice here.
        (timeout --kill-after=2 "$TR_VM_PROBE_SECONDS" qemu-system-x86_64 -accel kvm -m 256 \
            -display none -monitor none -nic none -no-reboot -serial "file:$work/probe.log" \
            -kernel "$kernel" -append "console=ttyS0 panic=-1" >/dev/null 2>&1) 2>/dev/null \
            || true
        if grep -q 'Linux version' "$work/probe.log" 2>/dev/null; then
            echo kvm
            return 0
        fi
    fi
    echo tcg
}

# Starts the guest in the work folder $1 from the disk image $2 (never written: the guest
# writes to an overlay in $1), the kernel $3 and initramfs $4, with the accelerator $5. The
# FTDI cable (usb-serial "cable" on chardev "ftdi") ends on the host in the terminal device $6,
# the PCI 16550 in $7. The second disk is $1/data.img. The guest's console goes to
# $1/console.log, QEMU's messages to $1/qemu.log. The control port (virtio port tr.ctl) and the
# monitor are FIFO pairs, $1/ctl.{in,out} and $1/qmp.{in,out}, held open as
# TR_VM_CTL_IN/OUT and TR_VM_QMP_IN/OUT.
tr_vm_start() {
    local work=$1 disk=$2 kernel=$3 initrd=$4 accelerator=$5 ftdi=$6 uart=$7 name
    for name in ctl qmp; do
        mkfifo "$work/$name.in" "$work/$name.out"
    done
    qemu-img create -q -f qcow2 -b "$disk" -F raw "$work/overlay.qcow2"
    # One processor: on two shared cores a second TCG thread slowed the boot, the checks and
    # the uploads alike (a run of the stage took 234 s with two, 174 s with one).
    qemu-system-x86_64 -accel "$accelerator" -m "$TR_VM_MEMORY" -smp 1 \
        -display none -monitor none -nic none -no-reboot \
        -serial "file:$work/console.log" \
        -kernel "$kernel" -initrd "$initrd" \
        -append "root=/dev/vda rw console=ttyS0 quiet" \
        -drive "file=$work/overlay.qcow2,format=qcow2,if=virtio" \
        -drive "file=$work/data.img,format=raw,if=virtio" \
        -device qemu-xhci,id=xhci \
        -chardev "serial,id=ftdi,path=$ftdi" -device usb-serial,bus=xhci.0,chardev=ftdi,id=cable \
        -chardev "serial,id=uart,path=$uart" -device pci-serial,chardev=uart \
        -device virtio-serial-pci \
        -chardev "pipe,id=ctl,path=$work/ctl" -device virtserialport,chardev=ctl,name=tr.ctl \
        -chardev "pipe,id=qmp,path=$work/qmp" -mon chardev=qmp,mode=control \
        >"$work/qemu.log" 2>&1 &
    TR_VM_QEMU_PID=$!
    [ -z "${TR_VM_PID_FILE:-}" ] || echo "$TR_VM_QEMU_PID" >>"$TR_VM_PID_FILE"
    # Read and write both: an open of a FIFO then never waits for the other end.
    exec {TR_VM_CTL_IN}<>"$work/ctl.in" {TR_VM_CTL_OUT}<>"$work/ctl.out"
    exec {TR_VM_QMP_IN}<>"$work/qmp.in" {TR_VM_QMP_OUT}<>"$work/qmp.out"
    tr_vm_qmp '{"execute": "qmp_capabilities"}' \
        || { TR_VM_ERROR="$TR_VM_ERROR; QEMU said: $(tail -n 3 "$work/qemu.log")"; return 1; }
}

# Sends the QMP command $1 and waits for its answer and, when $2 is given, for an event that
# matches the pattern $2 (either may come first). Fails with the reason in TR_VM_ERROR.
tr_vm_qmp() {
    local command=$1 event=${2:-} answered=0 line
    printf '%s\n' "$command" >&"$TR_VM_QMP_IN"
    while read -r -t "$TR_VM_QMP_SECONDS" line <&"$TR_VM_QMP_OUT"; do
        case $line in
            *'"error"'*)
                TR_VM_ERROR="QEMU refused $command: $line"
                return 1 ;;
            *'"return"'*) answered=1 ;;
            *'"event"'*)
                # shellcheck disable=SC2053  # a pattern on purpose
                [ -n "$event" ] && [[ $line == $event ]] && event= ;;
        esac
        [ "$answered" -eq 0 ] || [ -n "$event" ] || return 0
    done
    TR_VM_ERROR="no answer from QEMU's monitor within $TR_VM_QMP_SECONDS s to $command"
    return 1
}

# Whether the guest's QEMU still runs.
tr_vm_running() {
    [ -n "$TR_VM_QEMU_PID" ] && kill -0 "$TR_VM_QEMU_PID" 2>/dev/null
}

# Waits up to $1 s for QEMU to end by itself (the guest powered off).
tr_vm_wait_end() {
    local _
    for _ in $(seq $(($1 * 10))); do
        tr_vm_running || return 0
        sleep 0.1
    done
    return 1
}

# Ends QEMU if it still runs, by PID (TERM, then KILL after 5 s); closes the FIFOs.
tr_vm_stop() {
    local pid=$TR_VM_QEMU_PID
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
        kill -TERM "$pid" 2>/dev/null || true
        tr_vm_wait_end 5 || kill -KILL "$pid" 2>/dev/null || true
    fi
    [ -z "$pid" ] || wait "$pid" 2>/dev/null || true
    TR_VM_QEMU_PID=
    local fd
    for fd in "${TR_VM_CTL_IN:-}" "${TR_VM_CTL_OUT:-}" "${TR_VM_QMP_IN:-}" "${TR_VM_QMP_OUT:-}"; do
        [ -z "$fd" ] || exec {fd}>&-
    done
    TR_VM_CTL_IN='' TR_VM_CTL_OUT='' TR_VM_QMP_IN='' TR_VM_QMP_OUT=''
}
