#!/usr/bin/env bash
# The real-kernel tier's Secure Boot guest: the SMI module (modules/zorvik_smi)
# under a real Secure Boot and a real lockdown.
#
#   run-secureboot.sh SMI_PROBE64 SMI_PROBE32 WORKDIR [ZORVIK_I386 ZORVIK_X86_64 FWEMU]
#
# 1. Style: the kernel's checkpatch.pl --no-tree finds no error in the
#    module's sources.
# 2. Keys: the firmware's test key (PkKek-1-snakeoil, enrolled in the
#    Secure Boot variable store of Debian's ovmf package) stands in for the
#    distribution's key and for the owner's enrolled MOK key. Its private key
#    is shipped encrypted; sbsign cannot be given a password, so a decrypted
#    copy in WORKDIR is used, as DKMS's own key is unencrypted.
# 3. The cached Debian kernel, its Debian signature removed, signed with that
#    key (sbsign). OVMF's direct kernel boot (-kernel) cannot prove the
#    signature: QEMU patches the kernel's setup header, so the firmware's
#    check fails and it falls back to a loader that checks nothing. So the
#    kernel, the initramfs and the command line (no lockdown= in it) go into
#    one EFI program with the systemd-boot stub, which is signed too and
#    started by the firmware's boot manager from a FAT disk: that path
#    refuses any image the firmware's keys did not sign.
# 4. The module built twice for that kernel: plainly with kbuild (unsigned),
#    and by DKMS from the sources as the zorvik-dkms package installs them,
#    in a DKMS tree in WORKDIR, with DKMS's signing key set to the test key
#    in a framework.conf of its own (a private mount of /etc/dkms), so the
#    machine's DKMS state is untouched. Neither build may warn.
# 5. The guest (tests/kernel/secureboot-init.sh) under OVMF with Secure Boot
#    on and a per-run copy of the enrolled variable store; its result lines,
#    and the boot manager's line that it started the image.
# 6. From QEMU's APM port trace and interrupt log: every SMI the module
#    raised, with EAX the code, EBX 0 for the memory-hole query or else the
#    module's buffer, ECX 0.
#
# ZORVIK through the module (the blocks marked ">>> ZORVIK through the
# module" here and in the guest): with the two ZORVIK builds and fwemu given
# and ZORVIK having the route through /dev/zorvik_smi, fwemu first runs the
# x86-64 build on a platform like the guest (QEMU's firmware: no memory hole,
# no "$ASF", none of the vendor's requests served; the guest's kernel in
# lockdown, without a kernel tree, gcc or kernel configuration) with the
# module loaded (and once with its load refused); the guest runs both builds
# and compares stdout, status and SMI count with those runs, and QEMU's trace
# shows the same SMIs as fwemu's traces of those runs. This kernel under TCG
# has no NMI watchdog to switch on (the file reads 0 and refuses writes), so
# that ZORVIK gives it back is proven by fwemu's runs, whose watchdog is on.
#
# Prints one "ok NAME" / "not ok NAME: why" line per check and ends with
# "kernel-secureboot: N passed, M failed"; exit status 0 when nothing failed.
# A failed run's logs are kept in WORKDIR.failed/<date-time>/ (lib.sh).
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
# shellcheck source=lib.sh
. "$here/lib.sh"
smi_probe64=$(realpath "$1")
smi_probe32=$(realpath "$2")
work=$(realpath -m "$3")
zorvik_builds=()
if [ "$#" -ge 6 ]; then
  zorvik_builds=(i386="$(realpath "$4")" x86-64="$(realpath "$5")")
  fwemu=$(realpath "$6")
fi
cache=${ZORVIK_KTIER_CACHE:-/var/cache/zorvik-kernel-tier}
ovmf=/usr/share/OVMF
testkey=/usr/share/ovmf/PkKek-1-snakeoil
stub=/usr/lib/systemd/boot/efi/linuxx64.efi.stub
module_src=$top/modules/zorvik_smi
# What the zorvik-dkms package installs in /usr/src/zorvik-smi-<version>/.
module_files=(zorvik_smi.c zorvik_smi.h Kbuild Makefile dkms.conf)

passed=0
failed=0
ok() { echo "ok $1"; passed=$((passed + 1)); }
not_ok() { echo "not ok $1: $2"; failed=$((failed + 1)); }
finish() {
  echo "kernel-secureboot: $passed passed, $failed failed"
  if [ "$failed" = 0 ] && [ "$passed" -gt 0 ]; then
    exit 0
  fi
  [ -n "${started:-}" ] && keep_logs "$work" serial.log qemu.log checkpatch.txt unsigned/make.txt dkms.txt
  exit 1
}

# --- prerequisites ---------------------------------------------------------
release=$(cat "$cache/release" 2>/dev/null)
kernel=$cache/$release/vmlinuz
checkpatch=$cache/checkpatch/checkpatch.pl
missing=$(missing_for_guest "$release" "$kernel")
[ -f "/lib/modules/$release/build/Makefile" ] || missing="$missing the headers of '$release'"
[ -s "$cache/$release/efivarfs.ko" ] || missing="$missing the cached efivarfs.ko"
[ -s "$ovmf/OVMF_CODE_4M.secboot.fd" ] && [ -s "$ovmf/OVMF_VARS_4M.snakeoil.fd" ] && [ -s "$testkey.key" ] ||
  missing="$missing ovmf"
command -v sbsign > /dev/null || missing="$missing sbsigntool"
[ -s "$stub" ] || missing="$missing systemd-boot-efi"
command -v dkms > /dev/null || missing="$missing dkms"
[ -s "$checkpatch" ] || missing="$missing checkpatch.pl"
if [ -n "$missing" ]; then
  not_ok prerequisites "missing:$missing (run scripts/kernel-tier/install.sh as root)"
  finish
fi
echo "kernel-secureboot: kernel $release"
version=$(sed -n 's/^PACKAGE_VERSION="\(.*\)"$/\1/p' "$module_src/dkms.conf")

rm -rf "$work"
mkdir -p "$work"
started=1
tier_start=$(date +%s)

# Lines of compiler or kbuild complaint in a build log.
complaints() { grep -E -i 'warning|error' "$1" | grep -v -E '^Skipping BTF generation'; }

# --- 1. style ----------------------------------------------------------------
(cd "$module_src" && perl "$checkpatch" --no-tree --terse -f zorvik_smi.c zorvik_smi.h) > "$work/checkpatch.txt" 2>&1
if grep -q ' ERROR: ' "$work/checkpatch.txt"; then
  not_ok module/checkpatch "$(grep ' ERROR: ' "$work/checkpatch.txt" | head -10)"
else
  ok module/checkpatch
  grep ' WARNING: ' "$work/checkpatch.txt" | sed 's/^/  /'
fi

# --- 2. the test key ----------------------------------------------------------
umask 077
openssl pkey -in "$testkey.key" -passin pass:snakeoil -out "$work/testkey.pem" 2> "$work/openssl.txt"
umask 022

# --- 3. the signed kernel ------------------------------------------------------
sbattach --remove "$kernel" --output "$work/vmlinuz.unsigned" > /dev/null 2>&1 || cp "$kernel" "$work/vmlinuz.unsigned"
if sbsign --key "$work/testkey.pem" --cert "$testkey.pem" --output "$work/vmlinuz" "$work/vmlinuz.unsigned" \
     > "$work/sbsign.txt" 2>&1 &&
   sbverify --cert "$testkey.pem" "$work/vmlinuz" > /dev/null 2>&1; then
  ok kernel/signed
else
  not_ok kernel/signed "sbsign or sbverify failed: $(cat "$work/sbsign.txt")"
  finish
fi

# --- 4. the module, unsigned and built by DKMS --------------------------------
mkdir -p "$work/unsigned"
cp "${module_files[@]/#/$module_src/}" "$work/unsigned/"
make -C "/lib/modules/$release/build" M="$work/unsigned" modules > "$work/unsigned/make.txt" 2>&1
if [ -f "$work/unsigned/zorvik_smi.ko" ] && ! complaints "$work/unsigned/make.txt" > /dev/null; then
  ok module/build-unsigned
else
  not_ok module/build-unsigned "$(complaints "$work/unsigned/make.txt" | head -20)"
fi

src=$work/dkms-src/zorvik-smi-$version
mkdir -p "$src" "$work/dkms-tree" "$work/dkms-install" "$work/dkms-etc"
cp "${module_files[@]/#/$module_src/}" "$src/"
printf 'mok_signing_key="%s"\nmok_certificate="%s"\n' "$work/testkey.pem" "$testkey.pem" > "$work/dkms-etc/framework.conf"
trees=(--dkmstree "$work/dkms-tree" --sourcetree "$work/dkms-src" --installtree "$work/dkms-install")
# shellcheck disable=SC2016
unshare --mount sh -c 'mount --bind "$1" /etc/dkms && shift && dkms add "$@" && dkms build "$@"' \
  _ "$work/dkms-etc" "${trees[@]}" -m zorvik-smi -v "$version" -k "$release" > "$work/dkms.txt" 2>&1
status=$?
signed=$work/dkms-tree/zorvik-smi/$version/$release/$(uname -m)/module/zorvik_smi.ko
makelog=$(dirname "$signed")/../log/make.log
if [ "$status" = 0 ] && [ -f "$signed" ] && tail -c 28 "$signed" | grep -q '~Module signature appended~' &&
   ! complaints "$makelog" > /dev/null; then
  ok module/dkms-build-signed
  sed -n 's/^\(Sign command\|Signing key\|Public certificate\)/  dkms: \1/p' "$work/dkms.txt"
else
  not_ok module/dkms-build-signed "dkms status $status: $(tail -20 "$work/dkms.txt"; complaints "$makelog" 2>&1 | head)"
  finish
fi

# --- 5. the guest -----------------------------------------------------------
files=(ktier/efivarfs.ko="$cache/$release/efivarfs.ko"
       ktier/smi_probe64="$smi_probe64" ktier/smi_probe32="$smi_probe32"
       ktier/unsigned/zorvik_smi.ko="$work/unsigned/zorvik_smi.ko"
       ktier/signed/zorvik_smi.ko="$signed")

# >>> ZORVIK through the module: fwemu's runs, the guest's expectations.
if [ "${#zorvik_builds[@]}" -gt 0 ] && grep -q -a /dev/zorvik_smi "${zorvik_builds[0]#*=}"; then
  z=$work/zorvik
  mkdir -p "$z/expect"
  printf '%s\n' /GetBootOrder /GetMode /GSB > "$z/commands"
  fwemu_watchdog=
  for state in loaded unsigned; do
    cat > "$work/platform-$state.json" <<PLATFORM
{
  "description": "QEMU's firmware as the Secure Boot guest has it (no memory hole, no ASF structure, none of the vendor's requests served); the guest's kernel in lockdown, without its tree, gcc or configuration; the SMI module $state",
  "memory_hole": null,
  "asf": [],
  "flash": {"open_status": null, "info": null, "fps": null, "bpt": null},
  "dore": {"present": false},
  "boot": null,
  "nmi_watchdog": true,
  "lockdown": "integrity",
  "kernel": {"release": "$release", "tree": null, "gcc": false, "boot_config": false, "smi_module": "$state"}
}
PLATFORM
    while read -r command; do
      [ "$state" = unsigned ] && [ "$command" != /GetBootOrder ] && continue
      e=$z/expect/$state-${command#/}
      "$fwemu" --platform "$work/platform-$state.json" --trace "$e.trace" -- "${zorvik_builds[1]#*=}" "$command" \
        > "$e.out" 2> "$e.err"
      status=$?
      echo "$status" > "$e.status"
      if [ "$status" = 125 ]; then
        fwemu_failed="ZORVIK $command, module $state: $(head -3 "$e.err")"
        break 2
      fi
      # The codes of the SMIs, one a line (e.g. 0x7f), and their number.
      grep '"event":"port_write"' "$e.trace" | grep '"smi":true' |
        sed 's/.*"al":\([0-9]*\).*/\1/' | xargs -r printf '0x%02x\n' > "$e.codes"
      grep -c . "$e.codes" > "$e.smis"
      echo "  fwemu: ZORVIK $command, module $state: status $status, $(cat "$e.smis") SMIs"
      wd=$(grep '"event":"finish"' "$e.trace" | sed -n 's/.*"nmi_watchdog":"\([^"]*\)\\n".*/\1/p')
      [ "$wd" = 1 ] || fwemu_watchdog="$fwemu_watchdog ZORVIK $command, module $state: it reads '$wd' after the run;"
    done < "$z/commands"
  done
  if [ -n "${fwemu_failed:-}" ]; then
    not_ok fwemu/expectations "fwemu could not run $fwemu_failed"
  else
    if [ -z "${fwemu_watchdog:-}" ]; then
      ok fwemu/nmi-watchdog-back
    else
      not_ok fwemu/nmi-watchdog-back "$fwemu_watchdog"
    fi
    rm -f "$z"/expect/*.trace "$z"/expect/*.err
    for pair in "${zorvik_builds[@]}"; do
      cp "${pair#*=}" "$z/${pair%%=*}"
    done
    files+=(ktier/zorvik="$z")
  fi
elif [ "${#zorvik_builds[@]}" -gt 0 ]; then
  echo "  ZORVIK through the module: pending (this ZORVIK has no route through /dev/zorvik_smi)"
fi
# <<< ZORVIK through the module
if ! "$here/mkinitramfs.sh" "$work/initrd.gz" "$top/tests/kernel/secureboot-init.sh" "${files[@]}"; then
  not_ok initramfs "could not be built"
  finish
fi
# The stub's sections at the addresses its format wants, after the stub's own.
printf 'ID=zorvik-kernel-tier\n' > "$work/os-release"
printf 'console=ttyS0 panic=-1 loglevel=7 nokaslr' > "$work/cmdline"
mkdir -p "$work/esp/EFI/BOOT"
if objcopy --add-section .osrel="$work/os-release" --change-section-vma .osrel=0x20000 \
     --add-section .cmdline="$work/cmdline" --change-section-vma .cmdline=0x30000 \
     --add-section .linux="$work/vmlinuz" --change-section-vma .linux=0x2000000 \
     --add-section .initrd="$work/initrd.gz" --change-section-vma .initrd=0x3000000 \
     "$stub" "$work/boot.efi" > "$work/objcopy.txt" 2>&1 &&
   sbsign --key "$work/testkey.pem" --cert "$testkey.pem" --output "$work/esp/EFI/BOOT/BOOTX64.EFI" \
     "$work/boot.efi" >> "$work/sbsign.txt" 2>&1; then
  ok boot-image/signed
else
  not_ok boot-image/signed "$(cat "$work/objcopy.txt" "$work/sbsign.txt")"
  finish
fi
cp "$ovmf/OVMF_VARS_4M.snakeoil.fd" "$work/vars.fd"
start=$(date +%s)
"$here/run-vm.sh" --secure-boot "$ovmf/OVMF_CODE_4M.secboot.fd" "$work/vars.fd" \
  "$work/esp" "$work/serial.log" "$work/qemu.log" 300
status=$?
echo "kernel-secureboot: guest ran $(( $(date +%s) - start )) s, qemu status $status"

log=$work/serial.log
started_line=$(tr -d '\r' < "$log" | grep -a -o 'BdsDxe: starting Boot[0-9A-F]* .*' | head -1)
if [ -n "$started_line" ] && ! tr -d '\r' < "$log" | grep -a -q 'Security Violation'; then
  ok firmware/started-signed-image
  echo "  $started_line"
else
  not_ok firmware/started-signed-image "the boot manager did not start the image: $(tr -d '\r' < "$log" | grep -a 'BdsDxe' | head -5)"
fi
tr -d '\r' < "$log" | grep -a -E '^(ok |not ok |  |smi[0-9]+: |sbtier: )'
passed=$((passed + $(tr -d '\r' < "$log" | grep -a -c '^ok ')))
failed=$((failed + $(tr -d '\r' < "$log" | grep -a -c '^not ok ')))
if ! tr -d '\r' < "$log" | grep -a -q -E '^sbtier: [0-9]+ passed, [0-9]+ failed'; then
  not_ok guest "no result line; the console's last lines:"
  tail -40 "$log" | sed 's/^/  | /'
  finish
fi

# --- 6. the module's SMIs, seen by QEMU ---------------------------------------
# Each write of one of the module's codes to port 0xB2 (the firmware's own
# SMIs write 0) and the registers at the SMM entry that follows it:
#   CODE EAX EBX ECX
module_smis() {
  awk '
    function field(name,   i) {
      for (i = 1; i <= NF; i++) if (index($i, name "=") == 1) return substr($i, length(name) + 2)
      return ""
    }
    /^apm_io_write/ {
      v = field("val")
      if (field("addr") == "0x0" && v ~ /^0x(7f|0d|20|24|25|26)$/) { code = v; want = 0 }
      next
    }
    /^SMM: enter/ { if (code != "") want = 1; next }
    want && /^RAX=/ { print code, field("RAX"), field("RBX"), field("RCX"); code = ""; want = 0 }
  ' "$work/qemu.log"
}
buffer=$(tr -d '\r' < "$log" | sed -n 's/^smi64: raised .* (buffer \(0x[0-9a-f]*\))$/\1/p')
# The module's count after the test programs, and at the end (after
# ZORVIK's runs, when they ran).
programs=$(tr -d '\r' < "$log" | sed -n 's/^sbtier: module SMI count \([0-9]*\)$/\1/p')
count=$(tr -d '\r' < "$log" | sed -n 's/^sbtier: module SMI count after ZORVIK \([0-9]*\)$/\1/p')
[ -n "$count" ] || count=$programs
smis=$(module_smis)
echo "  SMIs of the module seen by QEMU (code EAX EBX ECX):"
echo "${smis:-  none}" | sed 's/^/  | /'
bad=$(echo "$smis" | while read -r code rax rbx rcx; do
  [ -n "$code" ] || continue
  want_b=$((buffer))
  [ "$((code))" = 127 ] && want_b=0
  if [ $((0x$rax)) != $((code)) ] || [ $((0x$rbx)) != "$want_b" ] || [ $((0x$rcx)) != 0 ]; then
    echo "$code: EAX=$rax EBX=$rbx ECX=$rcx"
  fi
done)
n=$(echo "$smis" | grep -c .)
if [ -n "$count" ] && [ "$n" = "$count" ] && [ -z "$bad" ]; then
  ok qemu/module-smis
else
  not_ok qemu/module-smis "QEMU saw $n SMIs with the module's codes, the module counted ${count:-none}; wrong registers: ${bad:-none} (buffer ${buffer:-unknown})"
fi

# >>> ZORVIK through the module: the SMIs after the programs' are those of
# ZORVIK's runs in the guest's order (the builds by name, each with every
# command); their codes must be those of fwemu's traces of the same runs.
if [ -n "${z:-}" ] && [ -n "$programs" ] && [ "$count" != "$programs" ]; then
  want=$(printf '%s\n' "${zorvik_builds[@]%%=*}" | LC_ALL=C sort | while read -r _; do
    while read -r command; do cat "$z/expect/loaded-${command#/}.codes"; done < "$z/commands"
  done)
  got=$(echo "$smis" | tail -n +$((programs + 1)) | awk '{ print $1 }')
  echo "  ZORVIK's runs under lockdown: the module counted $((count - programs)) SMIs, QEMU saw" \
    "$(echo "$got" | grep -c .), fwemu's traces of the same runs show $(echo "$want" | grep -c .)"
  if [ -n "$want" ] && [ "$got" = "$want" ] && [ "$((count - programs))" = "$(echo "$want" | grep -c .)" ]; then
    ok qemu/zorvik-smis
  else
    not_ok qemu/zorvik-smis "codes QEMU saw: $(echo "$got" | tr '\n' ' '); in fwemu's traces: $(echo "$want" | tr '\n' ' ')"
  fi
fi
# <<< ZORVIK through the module
echo "kernel-secureboot: the whole run took $(( $(date +%s) - tier_start )) s"
finish
