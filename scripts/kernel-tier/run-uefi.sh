#!/usr/bin/env bash
# The real-kernel tier's UEFI guest: tessvin on a current kernel, against
# real UEFI firmware. The cached Debian kernel boots under the q35 machine
# with Debian's OVMF, loads efivarfs (the module from the same kernel
# package) and runs tests/kernel/uefi-init.sh with the static tessvin and
# the checker varcheck. Then the machine boots again with the same variable
# store, and the variables the first boot created must read back.
#
#   run-uefi.sh TESSVIN_STATIC VARCHECK WORKDIR
#
# Needs what scripts/kernel-tier/install.sh installs. Prints the guest's
# runs and result lines ("ok NAME" / "not ok NAME: why") and ends with
# "kernel-uefi: N passed, M failed"; exit status 0 when nothing failed.
# A failed run's logs are kept in WORKDIR.failed/<date-time>/ (lib.sh).
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
# shellcheck source=lib.sh
. "$here/lib.sh"
tessvin=$(realpath "$1")
varcheck=$(realpath "$2")
work=$(realpath -m "$3")
cache=${ZORVIK_KTIER_CACHE:-/var/cache/zorvik-kernel-tier}
ovmf=/usr/share/OVMF

passed=0
failed=0
ok() { echo "ok $1"; passed=$((passed + 1)); }
not_ok() { echo "not ok $1: $2"; failed=$((failed + 1)); }
finish() {
  echo "kernel-uefi: $passed passed, $failed failed"
  if [ "$failed" = 0 ] && [ "$passed" -gt 0 ]; then
    exit 0
  fi
  [ -n "${started:-}" ] && keep_logs "$work" serial-first.log qemu-first.log serial-reboot.log qemu-reboot.log
  exit 1
}

release=$(cat "$cache/release" 2>/dev/null)
kernel=$cache/$release/vmlinuz
module=$cache/$release/efivarfs.ko
missing=$(missing_for_guest "$release" "$kernel")
[ -s "$module" ] || missing="$missing the cached efivarfs.ko"
[ -s "$ovmf/OVMF_CODE_4M.fd" ] && [ -s "$ovmf/OVMF_VARS_4M.fd" ] || missing="$missing ovmf"
if [ -n "$missing" ]; then
  not_ok prerequisites "missing:$missing (run scripts/kernel-tier/install.sh as root)"
  finish
fi
echo "kernel-uefi: kernel $release"

rm -rf "$work"
mkdir -p "$work"
started=1
# The firmware's variable store of this run, shared by both boots.
cp "$ovmf/OVMF_VARS_4M.fd" "$work/vars.fd"

tier_start=$(date +%s)
for phase in first reboot; do
  echo "$phase" > "$work/phase-$phase"
  if ! "$here/mkinitramfs.sh" "$work/initrd-$phase.gz" "$top/tests/kernel/uefi-init.sh" \
      ktier/tessvin="$tessvin" ktier/varcheck="$varcheck" ktier/efivarfs.ko="$module" \
      ktier/phase="$work/phase-$phase"; then
    not_ok "$phase/initramfs" "could not be built"
    finish
  fi
  start=$(date +%s)
  "$here/run-vm.sh" --uefi "$ovmf/OVMF_CODE_4M.fd" "$work/vars.fd" \
    "$kernel" "$work/initrd-$phase.gz" "$work/serial-$phase.log" "$work/qemu-$phase.log" 180
  status=$?
  echo "kernel-uefi: $phase boot ran $(( $(date +%s) - start )) s, qemu status $status"

  # The guest's runs, details and result lines, each check named by its boot.
  log=$work/serial-$phase.log
  tr -d '\r' < "$log" | grep -E '^(\$ |> |! |= |  |ok |not ok )' | sed -E "s/^(ok |not ok )/\1$phase\//"
  passed=$((passed + $(tr -d '\r' < "$log" | grep -c '^ok ')))
  failed=$((failed + $(tr -d '\r' < "$log" | grep -c '^not ok ')))
  if ! tr -d '\r' < "$log" | grep -q -E '^uefi-tier: [0-9]+ passed, [0-9]+ failed'; then
    not_ok "$phase/guest" "no result line; the console's last lines:"
    tail -40 "$log" | sed 's/^/  | /'
    finish
  fi
done
echo "kernel-uefi: both boots took $(( $(date +%s) - tier_start )) s"
finish
