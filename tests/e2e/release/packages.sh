#!/usr/bin/env bash
# The Debian packages: built with CPack from the build directory, checked
# with lintian (no errors), unpacked into a throwaway root, where the
# installed fwemu runs the installed ZORVIK (i386 and amd64) on the
# installed default platform; the installed tessvin and the bash completion
# work too, and the SMI module's sources of zorvik-dkms are laid out for DKMS
# and build.
#   packages.sh BUILD_DIR
set -uo pipefail
build=$1
fail=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; fail=1; fi; }

work=$(mktemp -d /tmp/zorvik-packages-XXXXXX)
trap 'rm -rf "$work"' EXIT
(cd "$build" && cpack -G DEB -B "$work/debs" >"$work/cpack.log" 2>&1)
check "cpack builds the packages" '[ $? -eq 0 ]' || cat "$work/cpack.log"
debs=("$work"/debs/*.deb)
check "five packages: zorvik (i386 and amd64), tessvin, zorvik-fwemu, zorvik-dkms (all)" \
  '[ "$(for d in "${debs[@]}"; do echo "$(dpkg-deb -f "$d" Package) $(dpkg-deb -f "$d" Architecture)"; done | LC_ALL=C sort | paste -sd,)" = "tessvin $(dpkg --print-architecture),zorvik amd64,zorvik i386,zorvik-dkms all,zorvik-fwemu $(dpkg --print-architecture)" ]'

lintian --fail-on error "${debs[@]}" >"$work/lintian.log" 2>&1
check "lintian finds no error" '[ $? -eq 0 ]'
grep -v 'root privileges' "$work/lintian.log"

# One root with the i386 zorvik, one with the amd64 one.
root=$work/root
root64=$work/root64
for d in "${debs[@]}"; do
  if [ "$(dpkg-deb -f "$d" Package) $(dpkg-deb -f "$d" Architecture)" = "zorvik amd64" ]; then
    dpkg-deb -x "$d" "$root64"
  else
    dpkg-deb -x "$d" "$root"
  fi
done
check "fwemu depends on busybox-static" \
  '[[ $(dpkg-deb -f "$work"/debs/zorvik-fwemu_*.deb Depends) == *busybox-static* ]]'

# zorvik-dkms: the module's sources where DKMS looks for them, handed to DKMS
# on configure and taken back on removal; they build with kbuild where this
# machine has kernel headers.
dkms_deb=$(ls "$work"/debs/zorvik-dkms_*.deb)
version=$(dpkg-deb -f "$dkms_deb" Version)
src=$root/usr/src/zorvik-smi-$version
check "zorvik-dkms depends on dkms" '[ "$(dpkg-deb -f "$dkms_deb" Depends)" = dkms ]'
check "zorvik-dkms: dkms.conf of zorvik-smi $version, module zorvik_smi, built for new kernels" \
  'grep -qx "PACKAGE_NAME=\"zorvik-smi\"" "$src/dkms.conf" && grep -qx "PACKAGE_VERSION=\"$version\"" "$src/dkms.conf" &&
   grep -qx "BUILT_MODULE_NAME\[0\]=\"zorvik_smi\"" "$src/dkms.conf" && grep -qx "AUTOINSTALL=\"yes\"" "$src/dkms.conf"'
dpkg-deb -e "$dkms_deb" "$work/dkms-control"
check "zorvik-dkms: postinst adds it to DKMS, prerm removes it" \
  'grep -q "common.postinst zorvik-smi $version " "$work/dkms-control/postinst" &&
   grep -q "dkms remove -m zorvik-smi -v $version --all" "$work/dkms-control/prerm"'
kdir=$(ls -d /lib/modules/*/build 2>/dev/null | head -1)
if [ -n "$kdir" ]; then
  cp -r "$src" "$work/module"
  make -C "$kdir" M="$work/module" modules >"$work/module.log" 2>&1
  check "zorvik-dkms: the installed sources build for $(basename "$(dirname "$kdir")")" '[ -f "$work/module/zorvik_smi.ko" ]' ||
    tail -20 "$work/module.log"
fi

# fwemu traces only programs the kernel runs natively: the amd64 package's
# ZORVIK always, the i386 one where the kernel runs the (argument-less, idle)
# 32-bit fwemu probe.
out64=$("$root/usr/bin/fwemu" --trace "$work/trace.jsonl" -- "$root64/usr/sbin/ZORVIK" /GetBootOrder 2>&1)
rc=$?
check "installed fwemu runs the amd64 package's x86-64 ZORVIK /GetBootOrder (status $rc)" \
  '[ $rc -eq 0 ] && [[ $out64 == *" SATA HDD"*" Network"* ]] && [[ $(file -b "$root64/usr/sbin/ZORVIK") == *"ELF 64-bit"*"x86-64"*"statically linked"* ]]'
platform=$(head -n 1 "$work/trace.jsonl" | sed -n 's/.*"platform":"\([^"]*\)".*/\1/p')
check "on the installed default platform ($platform)" \
  '[ "$(realpath "$platform")" = "$root/usr/share/zorvik/platforms/legacy-desktop.json" ]'
if "$build/tests/e2e/fwemu/fwemu_probe32" 2> /dev/null; then
  out=$("$root/usr/bin/fwemu" -- "$root/usr/sbin/ZORVIK" /GetBootOrder 2>&1)
  rc=$?
  check "installed fwemu runs the installed i386 ZORVIK /GetBootOrder (status $rc)" \
    '[ $rc -eq 0 ] && [[ $out == *" SATA HDD"*" Network"* ]]'
else
  echo "skip: this kernel runs no i386 program; the i386 package's ZORVIK is not run under fwemu"
fi

out=$("$root/usr/sbin/tessvin" -h 2>&1)
rc=$?
check "installed tessvin prints its usage (status $rc)" '[ $rc -eq 1 ] && [[ $out == *"Usage: tessvin"* ]]'

completions=$root/usr/share/bash-completion/completions
complete_line() { # FILE WORD... : what completing the last word offers
  local file=$1; shift
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); "$(complete -p "$1" | sed "s/.*-F \([^ ]*\).*/\1/")"; echo "${COMPREPLY[*]}"' \
    _ "$file" "$@"
}
check "completion: ZORVIK command words" \
  '[ "$(complete_line "$completions/ZORVIK" ZORVIK /GetB)" = "/GetBootOrder /GetBootOption" ]'
check "completion: ZORVIK /SetMode words" '[ "$(complete_line "$completions/ZORVIK" ZORVIK -sm "")" = "legacy uefi" ]'
check "completion: tessvin types" '[ "$(complete_line "$completions/tessvin" tessvin -t "")" = "int int16 string" ]'
exit $fail
