#!/bin/busybox sh
# /init of the real-kernel tier's initramfs. Runs the checks that /ktier/plan
# lists, one per line, prints one "ok NAME" or "not ok NAME: why" line per
# check on the serial console and ends with "ktier: N passed, M failed",
# then powers the machine off.
#
# Plan lines:
#   protocol LABEL MODULE   load MODULE, run the 64- and 32-bit protocol
#                           programs against it (a fresh load for each),
#                           remove it with their blocks still live
#   zorvik-kept             ZORVIK in /ktier/zorvik with its kept module file
#   zorvik-two-runs         two runs of ZORVIK at once in /ktier/zorvik with
#                           its kept module: the second waits for the first
#   zorvik-no-module        the same with the kept file removed
#   zorvik-lockdown         ZORVIK with its kept module on a kernel booted
#                           with lockdown=integrity
#
# Every check also reads the kernel log of what it did: lines other than the
# two that loading an unsigned out-of-tree module always prints fail it.
# Writes to port 0xB3 (the APM status port, no SMI) mark in the host's port
# trace where each ZORVIK run starts and ends.

/bin/busybox mkdir -p /proc /sys /dev /tmp /run /usr/bin /usr/sbin /sbin
/bin/busybox --install -s
export PATH=/bin:/sbin:/usr/bin:/usr/sbin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
mount -t tmpfs -o mode=0755 tmpfs /run && mkdir -m 1777 /run/lock
mount -t tracefs tracefs /sys/kernel/tracing 2>/dev/null
mount -t securityfs securityfs /sys/kernel/security 2>/dev/null

passed=0
failed=0
ok() { echo "ok $1"; passed=$((passed + 1)); }
not_ok() { echo "not ok $1: $2"; failed=$((failed + 1)); }

# Kernel log lines that may follow a module load, and the clock watchdog's
# complaints of a slow emulated machine (a busy host stalls the guest).
benign='loading out-of-tree module taints kernel\.$|module verification failed: signature and/or required key missing - tainting kernel$|clocksource: |tsc: Marking TSC unstable|sched_clock: Marking unstable'

# Fails CHECK when the kernel logged anything else since the last call.
check_log() {
  dmesg -c > /tmp/log.txt
  grep -v -E "$benign" /tmp/log.txt > /tmp/log.bad
  if [ -s /tmp/log.bad ]; then
    not_ok "$1/kernel-log" "unexpected kernel messages:"
    sed 's/^/  | /' /tmp/log.bad
  else
    ok "$1/kernel-log"
  fi
}

# Marks the port trace with one byte written to port 0xB3.
mark() {
  printf "\\$(printf '%03o' "$1")" | dd of=/dev/port bs=1 seek=179 count=1 2>/dev/null
}

listed() { grep -q qorfldrv /proc/devices; }
loaded() { grep -q '^qorfldrv_mod ' /proc/modules; }

# Kernel probes on what ZORVIK does, printed after each of its runs for the
# host's checks:
#   ktier_mmap    every mmap it makes (length, page offset)
#   ktier_devmem  that mmap went to /dev/mem
#   ktier_remap   that mmap was served by remapping these physical pages;
#                 without ktier_devmem before it, by the helper module
probes_on() {
  t=/sys/kernel/tracing
  [ -d $t/events ] || return 0
  echo > $t/trace
  echo 'p:ktier/ktier_mmap vm_mmap_pgoff len=%dx:x64 pgoff=%r9:x64' > $t/kprobe_events
  echo 'p:ktier/ktier_devmem mmap_mem' >> $t/kprobe_events
  echo 'p:ktier/ktier_remap remap_pfn_range addr=%si:x64 pfn=%dx:x64 size=%cx:x64' >> $t/kprobe_events
  for e in ktier_mmap ktier_devmem ktier_remap; do
    echo 'comm == "ZORVIK"' > $t/events/ktier/$e/filter
  done
  echo 1 > $t/events/ktier/enable
}
probes_off() {
  t=/sys/kernel/tracing
  : > /tmp/probes.txt
  [ -d $t/events/ktier ] || return 0
  echo 0 > $t/events/ktier/enable
  grep -o 'ktier_.*' $t/trace > /tmp/probes.txt
  echo > $t/kprobe_events
}

protocol() {
  label=$1
  module=$2
  for bits in 64 32; do
    name=$label-$bits
    dmesg -c > /dev/null
    if ! insmod "$module"; then
      not_ok "$name/load" "insmod $module failed"
      continue
    fi
    major=$(awk '$2 == "qorfldrv" { print $1 }' /proc/devices)
    if [ -z "$major" ]; then
      not_ok "$name/load" "qorfldrv not in /proc/devices"
      rmmod qorfldrv_mod
      continue
    fi
    ok "$name/load"
    rm -f /dev/qorfl-test
    mknod -m 600 /dev/qorfl-test c "$major" 0
    /ktier/protocol$bits /dev/qorfl-test "$name" > /tmp/prog.txt 2>&1
    status=$?
    cat /tmp/prog.txt
    p=$(grep -c '^ok ' /tmp/prog.txt)
    f=$(grep -c '^not ok ' /tmp/prog.txt)
    passed=$((passed + p))
    failed=$((failed + f))
    if [ "$status" != 0 ] && [ "$f" = 0 ]; then
      not_ok "$name/program" "exit status $status"
    fi
    # The program left blocks allocated: removal must release them.
    if rmmod qorfldrv_mod && ! loaded && ! listed; then
      ok "$name/remove-with-live-blocks"
    else
      not_ok "$name/remove-with-live-blocks" "module still present"
    fi
    rm -f /dev/qorfl-test
    check_log "$name"
  done
}

# run_zorvik LABEL FROM TO: runs ZORVIK /GetBootOrder in /ktier/zorvik
# between the port marks FROM and TO; sets status, leaves its output in
# /tmp/zorvik.out (error output, i.e. that of the shell commands it starts,
# in /tmp/zorvik.err) and the probe lines in /tmp/probes.txt.
run_zorvik() {
  cd /ktier/zorvik
  dmesg -c > /dev/null
  mark "$2"
  probes_on
  ./ZORVIK /GetBootOrder > /tmp/zorvik.out 2> /tmp/zorvik.err
  status=$?
  probes_off
  mark "$3"
  cd /
  echo "  ZORVIK run $1"
  echo "  exit status $status, output:"
  sed 's/^/  | /' /tmp/zorvik.out
  if [ -s /tmp/zorvik.err ]; then
    echo "  error output (its shell commands):"
    sed 's/^/  | /' /tmp/zorvik.err
  fi
  if [ -s /tmp/probes.txt ]; then
    echo "  kernel probes:"
    sed 's/^/  | /' /tmp/probes.txt
  fi
}

expect() {
  if eval "$2"; then ok "$1"; else not_ok "$1" "$3"; fi
}

zorvik_kept() {
  n=zorvik-kept
  # ZORVIK switches the NMI watchdog off for its run and back on at the end.
  wd=/proc/sys/kernel/nmi_watchdog
  wd_on=no
  if echo 1 2>/dev/null > $wd && [ "$(cat $wd)" = 1 ]; then wd_on=yes; fi
  run_zorvik kept 161 162
  if [ $wd_on = yes ]; then
    expect $n/nmi-watchdog-restored '[ "$(cat $wd)" = 1 ]' "nmi_watchdog reads $(cat $wd) after the run"
  else
    echo "  nmi_watchdog: this kernel does not take 1 (it reads $(cat $wd 2>/dev/null || echo nothing)); the restore is checked under fwemu"
  fi
  expect $n/status '[ "$status" = 70 ]' "exit status $status, want 70"
  expect $n/message 'tail -n 1 /tmp/zorvik.out | grep -qx "46 - Error: Problem getting flash information."' \
    "last line is not the flash information error"
  expect $n/only-message '[ "$(wc -l < /tmp/zorvik.out)" = 1 ]' "more output than the error line"
  expect $n/module-removed '! loaded && ! listed' "module still loaded after the run"
  expect $n/files 'cd /ktier/zorvik && [ -f qorfldrv_mod.o ] && [ ! -e qorfldrv_mod ] && [ ! -e qorfl ] && [ ! -e /dev/qorfl ] && [ ! -e .temp ]' \
    "files left: $(ls -a /ktier/zorvik | tr '\n' ' ')"
  check_log $n
}

# One /SetFirstBootOrder and one /GetBootOrder started at once: the one that
# finds the lock taken names the other's process and waits; each then ends
# as a run alone does, with its own one line, and the module is gone.
zorvik_two_runs() {
  n=zorvik-two-runs
  cd /ktier/zorvik
  mark 193
  ./ZORVIK /SetFirstBootOrder CD-ROM > /tmp/a.out 2> /tmp/a.err & pa=$!
  ./ZORVIK /GetBootOrder > /tmp/b.out 2> /tmp/b.err & pb=$!
  wait $pa; sa=$?; wait $pb; sb=$?
  mark 194
  cd /
  for r in a b; do sed "s/^/  | $r: /" /tmp/$r.out /tmp/$r.err; done
  expect $n/statuses '[ "$sa $sb" = "70 70" ]' "exit statuses $sa and $sb, want 70 and 70"
  line="46 - Error: Problem getting flash information."
  expect $n/outputs '[ "$(cat /tmp/a.out)" = "$line" ] && [ "$(cat /tmp/b.out)" = "$line" ]' "outputs differ from the one line"
  expect $n/one-waited 'grep -q "^ZORVIK: another run (process $pa) holds /run/lock/zorvik.lock" /tmp/b.err ||
    grep -q "^ZORVIK: another run (process $pb) holds /run/lock/zorvik.lock" /tmp/a.err' "neither run waited for the other"
  expect $n/module-removed '! loaded && ! listed' "module still loaded after the runs"
  check_log $n
}

zorvik_no_module() {
  n=zorvik-no-module
  rm -f /ktier/zorvik/qorfldrv_mod.o
  run_zorvik no-module 177 178
  expect $n/status '[ "$status" = 16 ]' "exit status $status, want 16"
  expect $n/message 'grep -qx "Error: Cannot locate kernel source." /tmp/zorvik.out && tail -n 1 /tmp/zorvik.out | grep -qx "10 - Error: Unable to load driver."' \
    "missing the kernel-source or the load error line"
  expect $n/nothing-loaded '! loaded && ! listed' "a module is loaded"
  expect $n/files 'cd /ktier/zorvik && [ ! -e qorfldrv_mod ] && [ ! -e qorfl ] && [ ! -e .temp ]' \
    "files left: $(ls -a /ktier/zorvik | tr '\n' ' ')"
  check_log $n
}

# Under lockdown=integrity the kernel refuses iopl and the unsigned module:
# the run ends with its documented lines and 16, standard error names the
# lockdown, and only the program and its kept module are left.
zorvik_lockdown() {
  n=zorvik-lockdown
  expect $n/active 'grep -q "\[integrity\]" /sys/kernel/security/lockdown' \
    "lockdown reads: $(cat /sys/kernel/security/lockdown 2>&1)"
  cd /ktier/zorvik
  ./ZORVIK /GetBootOrder > /tmp/zorvik.out 2> /tmp/zorvik.err
  status=$?
  cd /
  echo "  ZORVIK run lockdown"
  echo "  exit status $status, output:"
  sed 's/^/  | /' /tmp/zorvik.out
  echo "  error output:"
  sed 's/^/  | /' /tmp/zorvik.err
  printf '%s\n' 'ERROR : driver "qorfldrv" not found' 'ERROR : driver "qorfldrv" not found' \
    'ERROR : Unable to load driver.' '10 - Error: Unable to load driver.' > /tmp/want.out
  expect $n/status '[ "$status" = 16 ]' "exit status $status, want 16"
  expect $n/output 'cmp -s /tmp/zorvik.out /tmp/want.out' "standard output differs from the load failure's lines"
  expect $n/says-lockdown 'grep -q "^ZORVIK: .*lockdown (integrity)" /tmp/zorvik.err' \
    "standard error does not name the lockdown"
  expect $n/nothing-loaded '! loaded && ! listed' "a module is loaded"
  expect $n/files '[ "$(ls -A /ktier/zorvik | tr "\n" " ")" = "ZORVIK qorfldrv_mod.o " ]' \
    "files left: $(ls -A /ktier/zorvik | tr '\n' ' ')"
}

echo "ktier: kernel $(uname -r)"
dmesg -c > /tmp/boot-log.txt
# Where the firmware put its FADT, for the host's check of ZORVIK's lookup.
grep -o 'ACPI: FACP 0x[0-9A-Fa-f]*' /tmp/boot-log.txt | sed 's/^/ktier: /' 
while read -r what a b; do
  case "$what" in
    protocol) protocol "$a" "$b" ;;
    zorvik-kept) zorvik_kept ;;
    zorvik-two-runs) zorvik_two_runs ;;
    zorvik-no-module) zorvik_no_module ;;
    zorvik-lockdown) zorvik_lockdown ;;
    ''|'#'*) ;;
    *) not_ok "plan" "unknown line: $what" ;;
  esac
done < /ktier/plan

echo "ktier: $passed passed, $failed failed"
sync
poweroff -f
