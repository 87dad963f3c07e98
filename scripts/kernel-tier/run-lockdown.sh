#!/usr/bin/env bash
# The real-kernel tier's second guest: the same kernel booted with
# lockdown=integrity, which refuses I/O privilege and unsigned modules. The
# release ZORVIK runs with its kept module (tests/kernel/init.sh, plan line
# "zorvik-lockdown").
#
#   run-lockdown.sh KERNEL RELEASE_ZORVIK KEPT_MODULE WORKDIR
#
# Prints the guest's "ok NAME" / "not ok NAME: why" lines and their detail
# lines; exit status 0 when nothing failed.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
kernel=$1
release_zorvik=$(realpath "$2")
kept=$(realpath "$3")
work=$(realpath -m "$4")

rm -rf "$work"
mkdir -p "$work"
echo zorvik-lockdown > "$work/plan"
if ! "$here/mkinitramfs.sh" "$work/initrd.gz" "$top/tests/kernel/init.sh" \
     ktier/zorvik/ZORVIK="$release_zorvik" ktier/zorvik/qorfldrv_mod.o="$kept" ktier/plan="$work/plan"; then
  echo "not ok lockdown/initramfs: could not be built"
  exit 1
fi
KTIER_APPEND=lockdown=integrity "$here/run-vm.sh" "$kernel" "$work/initrd.gz" "$work/serial.log" "$work/qemu.log" 300
grep -E '^(ok |not ok |  )' "$work/serial.log" | tr -d '\r'
if ! grep -q -E '^ktier: [0-9]+ passed, 0 failed' "$work/serial.log"; then
  grep -q -E '^ktier: [0-9]+ passed' "$work/serial.log" && exit 1
  echo "not ok lockdown/guest: no result line; the console's last lines:"
  tail -40 "$work/serial.log" | sed 's/^/  | /'
  exit 1
fi
