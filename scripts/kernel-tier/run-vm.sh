#!/usr/bin/env bash
# Boots a kernel with an initramfs under qemu-system-x86_64 with software
# emulation (TCG), serial console only, and waits for the guest to power off.
#   run-vm.sh [--uefi CODE VARS] KERNEL INITRD SERIAL_LOG QEMU_LOG [TOTAL_SECONDS [SILENCE_SECONDS]]
#   run-vm.sh --secure-boot CODE VARS ESP SERIAL_LOG QEMU_LOG [TOTAL_SECONDS [SILENCE_SECONDS]]
# KTIER_APPEND, when set, is added to the kernel command line.
# SERIAL_LOG receives the console; QEMU_LOG the APM port trace (the writes to
# the SMI command port 0xB2 and the status port 0xB3) and QEMU's interrupt
# log, which records the registers at every SMI. The guest is given up when
# its console stays silent for SILENCE_SECONDS (default 60) or the run takes
# TOTAL_SECONDS (default 300), both as on the reference machine and scaled
# with this machine's pace (lib.sh). Exit status: qemu's, or 124 when the
# guest was given up.
#
# --uefi boots the q35 machine with UEFI firmware instead: CODE is the
# firmware image (read-only), VARS the variable store it writes (give each
# run its own copy; the same file again is a reboot with the variables kept).
# QEMU_LOG then gets QEMU's own messages only.
#
# --secure-boot boots the q35 machine with SMM on and the variable store
# writable from SMM only, as a Secure Boot firmware needs (CODE a Secure Boot
# build, VARS a store with its keys enrolled), from the folder ESP served as
# a read-only FAT disk: the firmware's boot manager checks the signature of
# ESP/EFI/BOOT/BOOTX64.EFI and starts it (its direct kernel boot falls back
# to a loader that checks nothing when the signature is refused). QEMU_LOG
# gets the APM port trace and the interrupt log.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
. "$here/lib.sh"
uefi=()
mode=${1:-}
if [ "$mode" = --uefi ] || [ "$mode" = --secure-boot ]; then
  uefi=(-drive "if=pflash,format=raw,unit=0,readonly=on,file=$2"
        -drive "if=pflash,format=raw,unit=1,file=$3")
  shift 3
fi
if [ "$mode" = --secure-boot ]; then
  boot=(-drive "file=fat:$1,format=raw,if=virtio,readonly=on")
  shift
else
  boot=(-kernel "$1" -initrd "$2"
        -append "console=ttyS0 panic=-1 loglevel=7 nokaslr${KTIER_APPEND:+ $KTIER_APPEND}")
  shift 2
fi
serial=$1
qlog=$2
total=${3:-300}
silence=${4:-60}

# The pc machine (i440FX/PIIX4) with SeaBIOS; SMM is on under TCG.
machine=(-machine pc,accel=tcg -icount shift=auto)
trace=(-trace apm_io_write -d int)
if [ "${#uefi[@]}" -gt 0 ]; then
  # The q35 machine (ICH9) with the UEFI firmware on its flash chips.
  machine=(-machine q35,accel=tcg "${uefi[@]}")
  trace=()
fi
if [ "$mode" = --secure-boot ]; then
  machine=(-machine q35,smm=on,accel=tcg -global driver=cfi.pflash01,property=secure,value=on "${uefi[@]}")
  trace=(-trace apm_io_write -d int)
fi
: > "$serial"
qemu-system-x86_64 \
  "${machine[@]}" -cpu qemu64 -smp 1 -m 512 \
  -nographic -monitor none -serial "file:$serial" \
  -nic none -no-reboot \
  "${boot[@]}" \
  "${trace[@]}" -D "$qlog" \
  < /dev/null &
qemu=$!
trap 'kill -KILL $qemu 2> /dev/null' EXIT
status=0
wait_for_guest "$qemu" "$serial" "$silence" "$total" || status=$?
trap - EXIT
exit "$status"
