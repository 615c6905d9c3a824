# The Debian guest of the virtual-machine stage: a bookworm root made by tools/debian-root.sh
# (build-roots/vm/root) and, from it, an ext4 disk image (build-roots/vm/disk.img) that boots
# with the root's own kernel and initramfs and starts tests/vm/tr-vm-checks.service. Each is
# remade only when its recipe changes: the root's with its packages (tools/deps.sh and what our
# packages depend on), the image's with the root's stamp and the files put into it. The image
# itself is never written to: every boot runs over a throw-away overlay.
# Sourced after tools/deps.sh and tools/debian-root.sh; set -euo pipefail. Needs no root
# privileges beyond those of mmdebstrap.

TR_VM_ROOT_NAME=vm
TR_VM_DISK_SIZE=2G  # the root takes about 0.9 GB; the rest holds the install and the logs
TR_VM_UNIT=tests/vm/tr-vm-checks.service

tr_vm_disk() { echo "$(tr_root_folder "$TR_VM_ROOT_NAME")/disk.img"; }

# What our packages in the folder $1 depend on, one name a line: versions dropped, of
# alternatives the first, our own packages left out.
tr_vm_package_dependencies() {
    local dist=$1 deb ours
    ours=$(for deb in "$dist"/*.deb; do dpkg-deb -f "$deb" Package; done)
    for deb in "$dist"/*.deb; do
        dpkg-deb -f "$deb" Depends
    done | tr ',' '\n' | sed -e 's/|.*//' -e 's/(.*)//' -e 's/:any//' -e 's/[[:space:]]//g' \
        | awk 'NR == FNR { ours[$0] = 1; next } $0 != "" && !($0 in ours)' <(echo "$ours") - \
        | sort -u
}

# Commands for debugfs that put the unit into the image, start it at boot, and leave the serial
# console and the screen without a login prompt (nobody logs in; the checks use the console).
tr_vm_image_edits() {
    local wants=/etc/systemd/system/multi-user.target.wants
    echo "write $TR_VM_UNIT /etc/systemd/system/tr-vm-checks.service"
    echo "mkdir $wants"
    echo "symlink $wants/tr-vm-checks.service /etc/systemd/system/tr-vm-checks.service"
    echo "symlink /etc/systemd/system/serial-getty@ttyS0.service /dev/null"
    echo "symlink /etc/systemd/system/getty@tty1.service /dev/null"
}

# The image's stamp: the root's, and what the edits put in.
tr_vm_image_recipe() {
    cat "$(tr_root_folder "$TR_VM_ROOT_NAME")/stamp"
    echo "size=$TR_VM_DISK_SIZE"
    tr_vm_image_edits
    sha256sum "$TR_VM_UNIT"
}

# Makes the guest's root and disk image for the packages in the folder $1, or reuses them while
# their recipes hold. Fails with the reason in TR_ROOT_ERROR.
tr_vm_image_make() {
    local dist=$1 folder disk recipe dependencies
    folder=$(tr_root_folder "$TR_VM_ROOT_NAME")
    disk=$(tr_vm_disk)
    mapfile -t dependencies < <(tr_vm_package_dependencies "$dist")
    tr_root_make "$TR_VM_ROOT_NAME" amd64 "${TR_VM_ROOT_PACKAGES[@]}" "${dependencies[@]}" \
        || return 1
    recipe=$(tr_vm_image_recipe)
    if [ -f "$disk" ] && [ "$(cat "$folder/disk.stamp" 2>/dev/null)" = "$recipe" ]; then
        echo "Reusing the guest image $disk, made from the same recipe"
        return 0
    fi
    rm -f "$disk" "$folder/disk.stamp" "$disk.new"
    local start=$SECONDS
    # debugfs exits 0 whatever its commands did: the unit is read back instead.
    if ! mke2fs -q -t ext4 -L tr-vm -d "$(tr_root_dir "$TR_VM_ROOT_NAME")" "$disk.new" \
        "$TR_VM_DISK_SIZE" >/dev/null || ! tr_vm_image_edits | debugfs -w -f - "$disk.new" >/dev/null 2>&1 \
        || ! debugfs -R "cat /etc/systemd/system/tr-vm-checks.service" "$disk.new" 2>/dev/null \
        | cmp -s - "$TR_VM_UNIT"
    then
        rm -f "$disk.new"
        TR_ROOT_ERROR="cannot make the guest image $disk from the root"
        return 1
    fi
    mv "$disk.new" "$disk" && echo "$recipe" >"$folder/disk.stamp"
    echo "Made the guest image $disk in $((SECONDS - start)) s"
}

# The kernel and initramfs of the guest's root (one of each: the root has one kernel).
tr_vm_kernel() { echo "$(tr_root_dir "$TR_VM_ROOT_NAME")"/boot/vmlinuz-*; }
tr_vm_initrd() { echo "$(tr_root_dir "$TR_VM_ROOT_NAME")"/boot/initrd.img-*; }
