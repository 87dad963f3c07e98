#!/bin/busybox sh
# /init of the real-kernel tier's Secure Boot guest: Debian's kernel, signed
# with the firmware's test key, booted by UEFI firmware with Secure Boot on,
# so that the kernel locks itself down. Checks:
#   - Secure Boot is on and the kernel is in lockdown (integrity) without a
#     lockdown= parameter;
#   - the unsigned SMI module is refused, the one that DKMS built and signed
#     loads by its modprobe name from where DKMS installs it;
#   - smi_test (64- and 32-bit) against the module: every refusal, iopl and
#     /dev/mem refused, the SMIs ZORVIK uses, the count of SMIs;
#   - ZORVIK through the module, when /ktier/zorvik is there.
# Prints "ok NAME" / "not ok NAME: why" lines with indented detail lines,
# ends with "sbtier: N passed, M failed" and powers the machine off.

/bin/busybox mkdir -p /proc /sys /dev /tmp /usr/bin /usr/sbin /sbin
/bin/busybox --install -s
export PATH=/ktier:/bin:/sbin:/usr/bin:/usr/sbin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
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
  smi_test$bits smi$bits "$ram" "$device" "$fadt" > /tmp/prog.txt 2>&1
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

# --- ZORVIK through the module -----------------------------------------------
# (runs when the host put the ZORVIK builds into /ktier/zorvik)

finish
