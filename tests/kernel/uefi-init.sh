#!/bin/busybox sh
# /init of the real-kernel tier's UEFI guest: Debian's kernel booted by UEFI
# firmware, efivarfs loaded and mounted, and the static tessvin reading,
# creating and rewriting variables through it. /ktier/phase names the boot:
#   first   every check below; leaves TessvinString and TessvinInt under the
#           tier's GUID in the firmware's store
#   reboot  the same store booted again: those two read back as left
# Each tessvin run is shown as "$ tessvin ARGS", then "> " lines of its
# standard output, "! " lines of its standard error and "= STATUS"; each
# check prints "ok NAME" or "not ok NAME: why". The boot ends with
# "uefi-tier: N passed, M failed" and powers the machine off.

/bin/busybox mkdir -p /proc /sys /dev /tmp /usr/bin /usr/sbin /sbin
/bin/busybox --install -s
export PATH=/ktier:/bin:/sbin:/usr/bin:/usr/sbin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp

passed=0
failed=0
ok() { echo "ok $1"; passed=$((passed + 1)); }
not_ok() { echo "not ok $1: $2"; failed=$((failed + 1)); }
finish() {
  echo "uefi-tier: $passed passed, $failed failed"
  poweroff -f
}

G=8be4df61-93ca-11d2-aa0d-00e098032b8c  # the EFI global variables
T=7e1b3c5a-2d4f-4a86-b0c9-5e6f1a2b3c4d  # the tier's own variables
E=/sys/firmware/efi/efivars

# Runs tessvin and shows the run; the status stays in $status, the output in
# /tmp/out and /tmp/err.
run() {
  echo "\$ tessvin $*"
  tessvin "$@" > /tmp/out 2> /tmp/err
  status=$?
  sed 's/^/> /' /tmp/out
  sed 's/^/! /' /tmp/err
  echo "= $status"
}

# expect NAME STATUS OUT ERR: judges the last run (texts without their final
# line end).
expect() {
  out=$(cat /tmp/out)
  err=$(cat /tmp/err)
  if [ "$status" = "$2" ] && [ "$out" = "$3" ] && [ "$err" = "$4" ]; then
    ok "$1"
  else
    not_ok "$1" "status $status, out '$out', err '$err'; want $2, '$3', '$4'"
  fi
}

# file_is NAME FILE WANT: judges what varcheck shows of a variable's file.
file_is() {
  got=$(varcheck "$E/$2")
  echo "  $2: $got"
  if [ "$got" = "$3" ]; then ok "$1"; else not_ok "$1" "want $3"; fi
}

# The data bytes of a variable's file, in hex.
data_of() { varcheck "$E/$1" | sed -n 's/.* data=\([0-9a-f]*\) .*/\1/p'; }

# What "tessvin -t int" prints for data bytes given in hex: their unsigned
# little-endian value (at most 8 bytes).
le_value() {
  h=$1
  r=
  while [ -n "$h" ]; do
    r=$(echo "$h" | cut -c1-2)$r
    h=$(echo "$h" | cut -c3-)
  done
  echo $((0x${r:-0}))
}

# expect_int NAME VARIABLE: the last run printed the variable as an int.
expect_int() {
  data=$(data_of "$2")
  if [ ${#data} -gt 16 ]; then
    expect "$1" 234 "" "Variable size ($((${#data} / 2)) bytes) is larger than long long integer size (8 bytes)"
  else
    expect "$1" 0 "$(le_value "$data")" ""
  fi
}

if insmod /ktier/efivarfs.ko && mount -t efivarfs efivarfs $E; then
  ok efivarfs/mounted
else
  not_ok efivarfs/mounted "insmod or mount failed"
  finish
fi
# Current kernels have no sysfs record interface: tessvin must use efivarfs.
if [ -e /sys/firmware/efi/vars ]; then not_ok efivarfs/only "the sysfs interface exists"; else ok efivarfs/only; fi

echo "\$ ls $E"
ls $E | sed 's/^/> /'

if [ "$(cat /ktier/phase)" = first ]; then
  run -g $G -n BootOrder -t int16
  expect read/bootorder-int16 234 "" "Value type int16 is not supported."
  run -g $G -n BootOrder -t int
  expect_int read/bootorder-int BootOrder-$G
  run -g $G -n Timeout -t int
  expect_int read/timeout Timeout-$G

  run -g $T -n TessvinString -t string -s hello
  expect create/string 0 "" ""
  file_is create/string-file TessvinString-$T "attributes=0x00000007 data=68656c6c6f00 immutable=1"
  run -g $T -n TessvinString -t string
  expect create/string-read 0 hello ""
  run -g $T -n TessvinInt -t int -s 0x1234
  expect create/int 0 "" ""
  file_is create/int-file TessvinInt-$T "attributes=0x00000007 data=34120000 immutable=1"
  run -g $T -n TessvinInt -t int
  expect create/int-read 0 4660 ""

  run -g $T -n TessvinInt -t int -s 0x5 -k
  expect rewrite/int-keep-size 0 "" ""
  file_is rewrite/int-keep-size-file TessvinInt-$T "attributes=0x00000007 data=05000000 immutable=1"
  run -g $T -n TessvinInt -t int16 -s 0x102
  expect rewrite/int16 0 "" ""
  file_is rewrite/int16-file TessvinInt-$T "attributes=0x00000007 data=0201 immutable=1"
  run -g $T -n TessvinInt -t int
  expect rewrite/int16-read 0 258 ""
  run -g $T -n TessvinString -t string -s hi -k
  expect rewrite/string-keep-size 0 "" ""
  file_is rewrite/string-keep-size-file TessvinString-$T "attributes=0x00000007 data=686900000000 immutable=1"
  run -g $T -n TessvinString -t string
  expect rewrite/string-read 0 hi ""
  run -g $T -n TessvinString -t string -s toolongvalue -k
  expect rewrite/too-large 234 "" "New value is larger than original size (13 > 6) and keep_size=1
Failed to set value"
  file_is rewrite/too-large-file TessvinString-$T "attributes=0x00000007 data=686900000000 immutable=1"

  run -g $T -n TessvinMissing -t int
  expect missing/read 242 "" "Failed to stat file: No such file or directory"
  file_is missing/nothing-created TessvinMissing-$T missing

  # Timeout is 2 bytes; the firmware refuses 4.
  timeout=$(varcheck $E/Timeout-$G)
  run -g $G -n Timeout -t int -s 5
  expect refused/timeout-four-bytes 255 "" "Write failed: Invalid argument
Failed to set variable Timeout-$G"
  file_is refused/timeout-unchanged Timeout-$G "$timeout"
  # A name the firmware does not allow under the global GUID: the refused
  # create leaves no zero-length file behind.
  run -g $G -n TessvinRefused -t int -s 1
  expect refused/create 255 "" "Write failed: Invalid argument
Failed to set variable TessvinRefused-$G"
  file_is refused/create-no-file TessvinRefused-$G missing
else
  file_is readback/string-file TessvinString-$T "attributes=0x00000007 data=686900000000 immutable=1"
  run -g $T -n TessvinString -t string
  expect readback/string-read 0 hi ""
  file_is readback/int-file TessvinInt-$T "attributes=0x00000007 data=0201 immutable=1"
  run -g $T -n TessvinInt -t int
  expect readback/int-read 0 258 ""
fi
finish
