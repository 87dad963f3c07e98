#!/bin/busybox sh
# /init of the real-kernel tier's Secure Boot guest: Debian's kernel, signed
# with the firmware's test key, booted by UEFI firmware with Secure Boot on,
# so that the kernel locks itself down. Checks:
#   - Secure Boot is on and the kernel is in lockdown (integrity) without a
#     lockdown= parameter;
#   - the unsigned SMI module is refused, the one that DKMS built and signed
#     loads by its modprobe name from where DKMS installs it;
#   - smi_probe (64- and 32-bit) against the module: every refusal, iopl and
#     /dev/mem refused, the SMIs ZORVIK uses, the count of SMIs;
#   - ZORVIK through the module, when the host put ZORVIK into /ktier/zorvik
#     (the blocks marked ">>> ZORVIK through the module").
# Prints "ok NAME" / "not ok NAME: why" lines with indented detail lines,
# ends with "sbtier: N passed, M failed" and powers the machine off.

/bin/busybox mkdir -p /proc /sys /dev /tmp /run /usr/bin /usr/sbin /sbin
/bin/busybox --install -s
export PATH=/ktier:/bin:/sbin:/usr/bin:/usr/sbin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
# An empty /run/lock, as a booted system has: ZORVIK's machine-wide lock.
mount -t tmpfs -o mode=0755 tmpfs /run && mkdir -m 1777 /run/lock
mount -t securityfs securityfs /sys/kernel/security 2>/dev/null

passed=0
failed=0
ok() { echo "ok $1"; passed=$((passed + 1)); }
not_ok() { echo "not ok $1: $2"; failed=$((failed + 1)); }
expect() { if eval "$2"; then ok "$1"; else not_ok "$1" "$3"; fi; }
finish() {
  echo "sbtier: $passed passed, $failed failed"
  sync
  poweroff -f
}

echo "sbtier: kernel $(uname -r), command line: $(cat /proc/cmdline)"
dmesg > /tmp/boot-log.txt

# --- Secure Boot and lockdown -------------------------------------------
E=/sys/firmware/efi/efivars
G=8be4df61-93ca-11d2-aa0d-00e098032b8c
insmod /ktier/efivarfs.ko && mount -t efivarfs efivarfs $E
# The variable's file: 4 bytes of attributes, then the data byte.
sb=$(od -An -tu1 -N5 $E/SecureBoot-$G 2>/dev/null | awk '{ print $5 }')
expect secureboot/variable '[ "$sb" = 1 ]' "SecureBoot reads '${sb:-nothing}'"
lockdown=$(cat /sys/kernel/security/lockdown 2>&1)
echo "  lockdown: $lockdown"
expect secureboot/lockdown 'echo "$lockdown" | grep -q "\[integrity\]" && ! grep -q "lockdown=" /proc/cmdline' \
  "lockdown reads '$lockdown' (command line: $(cat /proc/cmdline))"

# --- the module ------------------------------------------------------------
loaded() { grep -q '^zorvik_smi ' /proc/modules; }
insmod /ktier/unsigned/zorvik_smi.ko > /tmp/insmod.txt 2>&1
echo "  unsigned module: $(cat /tmp/insmod.txt)"
expect module/unsigned-refused '! loaded && grep -q "Key was rejected by service" /tmp/insmod.txt' \
  "insmod of the unsigned module: $(cat /tmp/insmod.txt)"

# >>> ZORVIK through the module: switched on when the host put ZORVIK builds
# and fwemu's answers for the same runs into /ktier/zorvik:
#   BUILD                     each ZORVIK build (e.g. i386, x86-64)
#   commands                  one command a line (e.g. /GetBootOrder)
#   expect/STATE-NAME.out     fwemu's standard output for the command NAME
#   expect/STATE-NAME.status  its exit status
#   expect/STATE-NAME.smis    the SMIs in its trace
# STATE is "unsigned" (the module's load is refused; /GetBootOrder only) or
# "loaded".
Z=/ktier/zorvik
mods=/lib/modules/$(uname -r)/updates/dkms
count() { cat /sys/class/misc/zorvik_smi/smi_count 2>/dev/null || echo 0; }

# zorvik_run BUILD COMMAND: runs the build in a directory of its own; sets
# status and smis, leaves the output in /tmp/zorvik.out and .err and the
# names left in the directory in $left.
zorvik_run() {
  rm -rf /tmp/run
  mkdir /tmp/run
  cp "$Z/$1" /tmp/run/ZORVIK
  before=$(count)
  (cd /tmp/run && ./ZORVIK "$2" > /tmp/zorvik.out 2> /tmp/zorvik.err)
  status=$?
  smis=$(($(count) - before))
  left=$(ls -A /tmp/run | tr '\n' ' ')
  echo "  \$ ZORVIK $2 ($1): exit status $status, $smis SMIs through the module"
  sed 's/^/  > /' /tmp/zorvik.out
  sed 's/^/  ! /' /tmp/zorvik.err
}

# zorvik_judge NAME STATE COMMAND: the last run against fwemu's.
zorvik_judge() {
  e=$Z/expect/$2-$(echo "$3" | tr -d /)
  expect "$1/stdout" 'cmp -s /tmp/zorvik.out $e.out' "standard output differs from fwemu's: $(cat $e.out | tr '\n' '|')"
  expect "$1/status" '[ "$status" = "$(cat $e.status)" ]' "status $status, fwemu's $(cat $e.status)"
  expect "$1/files" '[ "$left" = "ZORVIK " ]' "left in the directory: $left"
}

if [ -f $Z/commands ]; then
  # The unsigned module where modprobe finds it: its load is refused, and
  # ZORVIK ends as without any way to the firmware, naming the signature.
  mkdir -p $mods
  cp /ktier/unsigned/zorvik_smi.ko $mods/
  depmod
  for build in $(ls $Z | grep -v -x -e commands -e expect); do
    zorvik_run "$build" /GetBootOrder
    zorvik_judge "zorvik-$build/unsigned" unsigned /GetBootOrder
    expect "zorvik-$build/unsigned/names-signature" 'grep -q -i "^ZORVIK: .*signature" /tmp/zorvik.err' \
      "standard error does not name the rejected signature"
    expect "zorvik-$build/unsigned/not-loaded" '! loaded' "a module is loaded"
  done
fi
# <<< ZORVIK through the module

# The module as DKMS installs it, loaded by its modprobe name.
mkdir -p /lib/modules/$(uname -r)/updates/dkms
cp /ktier/signed/zorvik_smi.ko /lib/modules/$(uname -r)/updates/dkms/
dmesg -c > /dev/null
depmod
if modprobe zorvik_smi 2> /tmp/modprobe.txt && loaded; then
  ok module/signed-loads
else
  not_ok module/signed-loads "modprobe zorvik_smi: $(cat /tmp/modprobe.txt)"
  finish
fi
dmesg -c | sed 's/^/  | /'
node=$(ls -l /dev/zorvik_smi 2>/dev/null)
expect module/device-0600 'echo "$node" | grep -q "^crw------- "' "/dev/zorvik_smi: ${node:-missing}"

# --- the device's refusals and SMIs ----------------------------------------
# A page of System RAM above 1 MiB, a PCI device's memory and the FADT.
ram=$(awk -F'[- ]+' '/^[0-9a-f]+-[0-9a-f]+ : System RAM$/ && length($1) >= 8 && $1 >= "00100000" { print $1; exit }' /proc/iomem)
device=$(awk -F'[- ]+' '/^ +[0-9a-f]+-[0-9a-f]+ : 0000:/ { print $2; exit }' /proc/iomem)
fadt=$(grep -o 'ACPI: FACP 0x[0-9A-Fa-f]*' /tmp/boot-log.txt | head -1 | sed 's/.*0x//')
echo "  System RAM page $ram, device memory $device, FADT $fadt"
total=0
for bits in 64 32; do
  smi_probe$bits smi$bits "$ram" "$device" "$fadt" > /tmp/prog.txt 2>&1
  status=$?
  cat /tmp/prog.txt
  passed=$((passed + $(grep -c '^ok ' /tmp/prog.txt)))
  failed=$((failed + $(grep -c '^not ok ' /tmp/prog.txt)))
  [ "$status" = 0 ] || grep -q '^not ok ' /tmp/prog.txt || not_ok "smi$bits/program" "exit status $status"
  n=$(sed -n "s/^smi$bits: raised \([0-9]*\) SMIs.*/\1/p" /tmp/prog.txt)
  total=$((total + ${n:-0}))
done
count=$(cat /sys/class/misc/zorvik_smi/smi_count)
echo "sbtier: module SMI count $count"
expect count/all '[ "$count" = "$total" ]' "the module counted $count SMIs, the programs raised $total"

# >>> ZORVIK through the module (see above): every command with every build,
# with the module loaded; stdout, status and the module's count of SMIs as
# fwemu gives them, nothing left behind, the NMI watchdog given back.
if [ -f $Z/commands ]; then
  wd=/proc/sys/kernel/nmi_watchdog
  for build in $(ls $Z | grep -v -x -e commands -e expect); do
    while read -r command; do
      n=zorvik-$build/$(echo "$command" | tr -d /)
      wd_on=no
      if echo 1 2>/dev/null > $wd && [ "$(cat $wd)" = 1 ]; then wd_on=yes; fi
      zorvik_run "$build" "$command"
      zorvik_judge "$n" loaded "$command"
      e=$Z/expect/loaded-$(echo "$command" | tr -d /)
      expect "$n/smis" '[ "$smis" = "$(cat $e.smis)" ]' "the module raised $smis SMIs, fwemu's trace shows $(cat $e.smis)"
      if [ $wd_on = yes ]; then
        expect "$n/nmi-watchdog" '[ "$(cat $wd)" = 1 ]' "nmi_watchdog reads $(cat $wd) after the run"
      else
        echo "  nmi_watchdog: this kernel does not take 1 (it reads $(cat $wd 2>/dev/null || echo nothing))"
      fi
    done < $Z/commands
  done
  echo "sbtier: module SMI count after ZORVIK $(count)"
fi
# <<< ZORVIK through the module

finish
