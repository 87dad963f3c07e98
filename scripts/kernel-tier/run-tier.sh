#!/usr/bin/env bash
# The real-kernel tier: builds the helper module with ZORVIK itself for the
# cached Debian kernel, boots that kernel under QEMU with a small initramfs
# and checks the module's protocol and a release ZORVIK run end to end.
#
#   run-tier.sh HOST_ZORVIK RELEASE_ZORVIK PROTOCOL64 PROTOCOL32 WORKDIR
#
# Needs what scripts/kernel-tier/install.sh installs. Prints one "ok NAME" or
# "not ok NAME: why" line per check and ends with
# "kernel-tier: N passed, M failed"; exit status 0 when nothing failed.
# A failed run's logs are kept in WORKDIR.failed/<date-time>/ (lib.sh).
#
# Steps:
#  1. In WORKDIR/makedrv: "ZORVIK /makedrv" with a uname stand-in first in
#     PATH that reports the cached kernel's release (and its machine-wide
#     lock in a /run/lock of its own); the kept module file qorfldrv_mod.o
#     must appear, and the compiler and kbuild must print no warning or
#     error.
#  2. In WORKDIR/gendrv: "ZORVIK /gendrv OUTPUT=pkg", then make in pkg/
#     (the package's own Makefile) must leave pkg/qorfldrv_mod.o, again
#     without warnings.
#  3. The guest (tests/kernel/init.sh) runs the 64- and 32-bit protocol
#     programs against both modules, then the release ZORVIK with the
#     module of step 1 as its kept qorfldrv_mod.o, two such runs at once,
#     then without it.
#  4. From QEMU's port trace and interrupt log: the SMIs that each ZORVIK run
#     raised, their codes and the buffer address that went with them.
#  5. A second guest booted with lockdown=integrity (run-lockdown.sh): the
#     release ZORVIK with the module of step 1 as its kept module.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
# shellcheck source=lib.sh
. "$here/lib.sh"
host_zorvik=$(realpath "$1")
release_zorvik=$(realpath "$2")
protocol64=$(realpath "$3")
protocol32=$(realpath "$4")
work=$(realpath -m "$5")
cache=${ZORVIK_KTIER_CACHE:-/var/cache/zorvik-kernel-tier}

passed=0
failed=0
ok() { echo "ok $1"; passed=$((passed + 1)); }
not_ok() { echo "not ok $1: $2"; failed=$((failed + 1)); }
finish() {
  echo "kernel-tier: $passed passed, $failed failed"
  if [ "$failed" = 0 ] && [ "$passed" -gt 0 ]; then
    exit 0
  fi
  [ -n "${started:-}" ] && keep_logs "$work" serial.log qemu.log plan makedrv/stdout.txt makedrv/stderr.txt \
    gendrv/stdout.txt gendrv/stderr.txt gendrv/make.txt lockdown/serial.log lockdown/qemu.log
  exit 1
}

# --- prerequisites ---------------------------------------------------------
release=$(cat "$cache/release" 2>/dev/null)
kernel=$cache/$release/vmlinuz
missing=$(missing_for_guest "$release" "$kernel")
[ -f "/lib/modules/$release/build/Makefile" ] || missing="$missing the headers of '$release'"
if [ -n "$missing" ]; then
  not_ok prerequisites "missing:$missing (run scripts/kernel-tier/install.sh as root)"
  finish
fi
echo "kernel-tier: kernel $release"

rm -rf "$work"
mkdir -p "$work/bin"
started=1
# uname stand-in: "uname -r" reports the guest kernel's release; everything
# else goes to the real uname.
real_uname=$(command -v uname)
cat > "$work/bin/uname" <<EOF
#!/bin/sh
if [ "\$*" = "-r" ]; then echo "$release"; exit 0; fi
exec $real_uname "\$@"
EOF
chmod +x "$work/bin/uname"
export PATH="$work/bin:$PATH"

# Lines of compiler or kbuild complaint in a build log.
complaints() { grep -E -i 'warning|error' "$1" | grep -v -E '^Skipping BTF generation'; }

# --- 1. /makedrv -----------------------------------------------------------
mkdir -p "$work/makedrv"
(cd "$work/makedrv" && with_own_run_lock "$host_zorvik" /makedrv > stdout.txt 2> stderr.txt)
status=$?
if [ "$status" = 0 ] && [ -f "$work/makedrv/qorfldrv_mod.o" ] && grep -q '^ - Program ended normally\.$' "$work/makedrv/stdout.txt"; then
  ok makedrv/built
else
  not_ok makedrv/built "status $status; $(tr '\n' ' ' < "$work/makedrv/stdout.txt")"
fi
if [ -s "$work/makedrv/stderr.txt" ] && complaints "$work/makedrv/stderr.txt" > /dev/null; then
  not_ok makedrv/no-warnings "$(complaints "$work/makedrv/stderr.txt" | head -20)"
else
  ok makedrv/no-warnings
fi
[ -e "$work/makedrv/.temp" ] && not_ok makedrv/clean ".temp left behind" || ok makedrv/clean

# --- 2. /gendrv and the package's Makefile ---------------------------------
mkdir -p "$work/gendrv"
(cd "$work/gendrv" && with_own_run_lock "$host_zorvik" /gendrv OUTPUT=pkg > stdout.txt 2> stderr.txt)
status=$?
pkg=$work/gendrv/pkg
if [ "$status" = 0 ] && [ -f "$pkg/Makefile" ] && [ -f "$pkg/qorwrap.c" ] && [ -f "$pkg/qorwrap.h" ] && [ -f "$pkg/qorfldrv.o_shipped" ]; then
  ok gendrv/package
else
  not_ok gendrv/package "status $status; files: $(ls -A "$pkg" 2>/dev/null | tr '\n' ' ')"
fi
if [ -s "$work/gendrv/stderr.txt" ] && complaints "$work/gendrv/stderr.txt" > /dev/null; then
  not_ok gendrv/no-warnings "$(complaints "$work/gendrv/stderr.txt" | head -20)"
else
  ok gendrv/no-warnings
fi
# The package's Makefile names its directory as $(PWD): run make inside it.
(cd "$pkg" 2>/dev/null && make) > "$work/gendrv/make.txt" 2>&1
status=$?
if [ "$status" = 0 ] && [ -f "$pkg/qorfldrv_mod.o" ]; then
  ok gendrv/package-make
else
  not_ok gendrv/package-make "make status $status: $(tail -20 "$work/gendrv/make.txt")"
fi
if complaints "$work/gendrv/make.txt" > /dev/null; then
  not_ok gendrv/package-no-warnings "$(complaints "$work/gendrv/make.txt" | head -20)"
else
  ok gendrv/package-no-warnings
fi

# --- 3. the guest ----------------------------------------------------------
files=(ktier/protocol64="$protocol64" ktier/protocol32="$protocol32")
plan=$work/plan
: > "$plan"
if [ -f "$work/makedrv/qorfldrv_mod.o" ]; then
  files+=(ktier/mod/makedrv.ko="$work/makedrv/qorfldrv_mod.o")
  echo "protocol makedrv /ktier/mod/makedrv.ko" >> "$plan"
fi
if [ -f "$pkg/qorfldrv_mod.o" ]; then
  files+=(ktier/mod/gendrv.ko="$pkg/qorfldrv_mod.o")
  echo "protocol gendrv /ktier/mod/gendrv.ko" >> "$plan"
fi
files+=(ktier/zorvik/ZORVIK="$release_zorvik")
if [ -f "$work/makedrv/qorfldrv_mod.o" ]; then
  files+=(ktier/zorvik/qorfldrv_mod.o="$work/makedrv/qorfldrv_mod.o")
  printf 'zorvik-kept\nzorvik-two-runs\n' >> "$plan"
fi
echo "zorvik-no-module" >> "$plan"
files+=(ktier/plan="$plan")

if ! "$here/mkinitramfs.sh" "$work/initrd.gz" "$top/tests/kernel/init.sh" "${files[@]}"; then
  not_ok initramfs "could not be built"
  finish
fi
start=$(date +%s)
"$here/run-vm.sh" "$kernel" "$work/initrd.gz" "$work/serial.log" "$work/qemu.log"
status=$?
echo "kernel-tier: guest ran $(( $(date +%s) - start )) s, qemu status $status"

# The guest's own result lines, indented detail lines with them.
grep -E '^(ok |not ok |  )' "$work/serial.log" | tr -d '\r'
p=$(grep -c '^ok ' "$work/serial.log")
f=$(grep -c '^not ok ' "$work/serial.log")
passed=$((passed + p))
failed=$((failed + f))
if ! grep -q -E '^ktier: [0-9]+ passed, [0-9]+ failed' "$work/serial.log"; then
  not_ok guest "no result line; the console's last lines:"
  tail -40 "$work/serial.log" | sed 's/^/  | /'
  finish
fi

# --- 4. SMIs seen by QEMU --------------------------------------------------
# Between the marks written to port 0xB3 around a run: the codes written to
# port 0xB2 and, for each SMI, EAX, EBX and ECX at its entry, one line each
# (values as QEMU prints them, in hex):
#   write CODE
#   smi EAX EBX ECX
smis() {
  awk -v from="$1" -v to="$2" '
    function field(name,   i) {
      for (i = 1; i <= NF; i++) if (index($i, name "=") == 1) return substr($i, length(name) + 2)
      return ""
    }
    /^apm_io_write/ {
      addr = field("addr"); val = field("val")
      if (addr == "0x1") { if (val == from) on = 1; if (val == to) on = 0 }
      else if (on) print "write " val
      next
    }
    /^SMM: enter/ { want = on; next }
    want && /^EAX=/ { print "smi " field("EAX") " " field("EBX") " " field("ECX"); want = 0; next }
    want && /^RAX=/ { print "smi " field("RAX") " " field("RBX") " " field("RCX"); want = 0; next }
  ' "$work/qemu.log"
}

# The guest's kernel probe lines of one run (after "kernel probes:").
probe_lines() {
  tr -d '\r' < "$work/serial.log" | awk -v run="$1" '
    /^ok |^not ok / { on = 0 }
    $0 ~ "^  ZORVIK run " run "$" { mine = 1; next }
    /^  ZORVIK run / { mine = 0 }
    mine && /^  kernel probes:/ { on = 1; next }
    on && /^  \| / { sub(/^  \| /, ""); print }
  '
}

# Value of NAME=0x... in a probe line, as a number.
probe_value() {
  local v=${1#*"$2"=}
  echo $((${v%% *}))
}

# The helper module's mappings in a run, "ADDRESS SIZE" a line: remaps that
# follow an mmap without a /dev/mem one in between.
module_maps() {
  local line devmem=0
  while read -r line; do
    case $line in
      ktier_mmap:*) devmem=0 ;;
      ktier_devmem:*) devmem=1 ;;
      ktier_remap:*)
        [ "$devmem" = 0 ] && echo "$(($(probe_value "$line" pfn) << 12)) $(probe_value "$line" size)" ;;
    esac
  done < <(probe_lines "$1")
}

# Whether a /dev/mem mapping of the run covered physical address $2.
devmem_covers() {
  local line len=0 pgoff=0 addr=$2
  while read -r line; do
    case $line in
      ktier_mmap:*) len=$(probe_value "$line" len); pgoff=$(probe_value "$line" pgoff) ;;
      ktier_devmem:*)
        if [ $((pgoff << 12)) -le "$addr" ] && [ "$addr" -lt $(((pgoff << 12) + len)) ]; then
          return 0
        fi ;;
    esac
  done < <(probe_lines "$1")
  return 1
}

# check_smis NAME FROM TO "CODES" BUFFER: the codes written to port 0xB2
# between the marks, in order, and at every SMI the code in EAX, ECX 0, and
# EBX 0 for the memory-hole query (0x7F) or else the buffer's address.
check_smis() {
  local name=$1 from=$2 to=$3 want=$4 buffer=$5 got codes= bad= n=0 what a b c
  got=$(smis "$from" "$to")
  while read -r what a b c; do
    case $what in
      write) codes="$codes$((a)) " ;;
      smi)
        n=$((n + 1))
        local code=$((0x$a & 0xff)) want_b=$buffer
        [ "$code" = 127 ] && want_b=0
        if [ $((0x$a)) != "$code" ] || [ $((0x$b)) != "${want_b:-x}" ] || [ $((0x$c)) != 0 ]; then
          bad="${bad}SMI $n: EAX=$a EBX=$b ECX=$c; "
        fi ;;
    esac
  done <<< "$got"
  if [ "$codes" != "$want" ]; then
    not_ok "$name/smi-codes" "port 0xB2 got: ${codes:-nothing}; want: $want"
    return
  fi
  ok "$name/smi-codes"
  [ "$n" = 0 ] && bad="no SMI entered"
  if [ -n "$bad" ]; then
    not_ok "$name/smi-registers" "${bad}(buffer $(printf '%#x' "${buffer:-0}"))"
  else
    ok "$name/smi-registers"
  fi
}

facp=$(sed -n 's/^ktier: ACPI: FACP \(0x[0-9A-Fa-f]*\).*/\1/p' "$work/serial.log" | tr -d '\r' | head -1)
if grep -q '^zorvik-kept' "$plan"; then
  maps=$(module_maps kept)
  # Parts 3.4 and 4.1 each map a 64 KiB block; the second one is the buffer
  # that goes with every later SMI.
  if [ "$(echo "$maps" | awk '$2 == 65536' | wc -l)" = 2 ] && [ "$(echo "$maps" | wc -l)" = 2 ]; then
    ok zorvik-kept/buffer-mapped
  else
    not_ok zorvik-kept/buffer-mapped "module mappings (address size): $(echo $maps)"
  fi
  buffer=$(echo "$maps" | tail -n 1 | cut -d' ' -f1)
  # 0x7F memory-hole query, 0x0D manufacturing-mode query at GetTypeDA's
  # registration, 0x20 open, 0x25 flash information, 0x24 close.
  check_smis zorvik-kept 0xa1 0xa2 "127 13 32 37 36 " "$buffer"
  if [ -n "$facp" ] && devmem_covers kept $((facp)); then
    ok zorvik-kept/fadt-read
  else
    not_ok zorvik-kept/fadt-read "no /dev/mem mapping of the FADT at ${facp:-unknown}"
  fi
fi
# The two runs at once raised their SMIs in turn: each run's whole sequence,
# twice, never mixed.
if grep -q '^zorvik-two-runs' "$plan"; then
  codes=$(smis 0xc1 0xc2 | while read -r what a _; do [ "$what" = write ] && printf '%d ' "$a"; done)
  if [ "$codes" = "127 13 32 37 36 127 13 32 37 36 " ]; then
    ok zorvik-two-runs/smis-in-turn
  else
    not_ok zorvik-two-runs/smis-in-turn "port 0xB2 got: ${codes:-nothing}"
  fi
fi
check_smis zorvik-no-module 0xb1 0xb2 "127 " 0
if [ -z "$(module_maps no-module)" ]; then
  ok zorvik-no-module/nothing-mapped
else
  not_ok zorvik-no-module/nothing-mapped "module mappings: $(module_maps no-module | tr '\n' ' ')"
fi

# --- 5. a second guest under lockdown=integrity ---------------------------
if [ -f "$work/makedrv/qorfldrv_mod.o" ]; then
  lockdown=$("$here/run-lockdown.sh" "$kernel" "$release_zorvik" "$work/makedrv/qorfldrv_mod.o" "$work/lockdown")
  echo "$lockdown"
  passed=$((passed + $(grep -c '^ok ' <<< "$lockdown")))
  failed=$((failed + $(grep -c '^not ok ' <<< "$lockdown")))
else
  not_ok lockdown "no kept module from /makedrv to run with"
fi

finish
