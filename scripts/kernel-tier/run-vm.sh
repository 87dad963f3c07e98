#!/usr/bin/env bash
# Boots a kernel with an initramfs under qemu-system-x86_64 with software
# emulation (TCG), serial console only, and waits for the guest to power off.
#   run-vm.sh KERNEL INITRD SERIAL_LOG QEMU_LOG [TIMEOUT_SECONDS]
# SERIAL_LOG receives the console; QEMU_LOG the APM port trace (the writes to
# the SMI command port 0xB2 and the status port 0xB3) and QEMU's interrupt
# log, which records the registers at every SMI. Exit status: qemu's, or 124
# when the timeout ended it.
set -euo pipefail
kernel=$1
initrd=$2
serial=$3
qlog=$4
limit=${5:-300}

# The pc machine (i440FX/PIIX4) with SeaBIOS; SMM is on under TCG.
timeout --kill-after=10 "$limit" qemu-system-x86_64 \
  -machine pc,accel=tcg -cpu qemu64 -smp 1 -m 512 -icount shift=auto \
  -nographic -monitor none -serial "file:$serial" \
  -nic none -no-reboot \
  -kernel "$kernel" -initrd "$initrd" \
  -append "console=ttyS0 panic=-1 loglevel=7 nokaslr" \
  -trace apm_io_write -d int -D "$qlog" \
  < /dev/null
