#!/usr/bin/env bash
# The 32-bit release ZORVIK: a static i386 executable ending with the data
# trailer, which under qemu-i386-static behaves like the host build; and the
# host build's end when memory runs out.
#   release_smoke.sh <release ZORVIK> <host ZORVIK> <C library> <README>
set -u
release=$1
host=$2
libc=$3
readme=$4
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; else echo "ok: $1"; fi; }

info=$(file -b "$release")
check "file reports a static 32-bit i386 executable" \
  '[[ $info == *"ELF 32-bit LSB executable"* && $info == *"Intel 80386"* && $info == *"statically linked"* ]]'
check "ELF class 32, machine 80386, executable" \
  'readelf -h "$release" | grep -q "Class:.*ELF32" && readelf -h "$release" | grep -q "Machine:.*80386" && readelf -h "$release" | grep -q "Type:.*EXEC"'
check "no program interpreter and no dynamic section" \
  '! readelf -l "$release" | grep -q INTERP && ! readelf -d "$release" 2>/dev/null | grep -q NEEDED'

expected_tail=$(printf '@RIZ\x70\0\0\0\x01\x64\x10\0\xff\xff\xff\xff@UII\x60\0\0\0\x99\x61\0\xff\xff\xff\xff\xff\x40\0\0\0\x40\0\0\0\x40\0\x0c\x11\0\0\0\0\x20\0\x03\x04\x03\x01\x02\0' | od -An -tx1 | tr -d ' \n')
for f in "$release" "$host"; do
  size=$(stat -c %s "$f")
  tail_hex=$(tail -c 112 "$f" | head -c 56 | od -An -tx1 | tr -d ' \n')
  check "$(basename "$(dirname "$f")") build ends with the trailer block on a 16-byte boundary" \
    '[ $(( (size - 112) % 16 )) -eq 0 ] && [ "$tail_hex" = "$expected_tail" ]'
done

# Lean: stripped (no symbol table, no debug sections), the debug file named
# by .gnu_debuglink beside it, and the release file within its size budget.
for f in "$release" "$host"; do
  sections=$(readelf -S -W "$f")
  check "$(basename "$(dirname "$f")") build is stripped and names ZORVIK.debug" \
    '! grep -qE "\.symtab|\.debug_" <<<"$sections" && [ -s "$f.debug" ] &&
     readelf --string-dump=.gnu_debuglink "$f" | grep -q "ZORVIK\.debug"'
done
release_size=$(stat -c %s "$release")
# The figure is the README's "release (i386), <C library>" row, which
# scripts/bench-size.sh prints for the same build; the release may differ
# from it by 2 % at most, so that the figure moves with the code.
figure=$(awk -F'|' -v row="release (i386), $libc" 'index($2, row) == 2 { gsub(/[ ,]/, "", $3); print $3 }' "$readme")
check "release file ($release_size bytes) within 2 % of the README's figure (${figure:-none})" \
  '[ -n "$figure" ] && [ $(( (release_size - figure) * 50 )) -le "$figure" ] &&
   [ $(( (figure - release_size) * 50 )) -le "$figure" ]'

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$release" "$work/ZORVIK32"
cp "$host" "$work/ZORVIK64"
cd "$work"
# Without a memory hole the program turns to its helper module: keep it away
# from this machine's kernel. A stand-in uname names a release without a
# kernel tree, and the runs have no capability to load modules or do raw I/O.
# Their machine-wide lock is in an empty /run/lock of their own.
mkdir stand-in
printf '#!/bin/sh\necho 0.0-no-such-kernel\n' > stand-in/uname
chmod 755 stand-in/uname
export PATH="$work/stand-in:$PATH"
confined() {
  unshare --mount --propagation private -- sh -c 'mount -t tmpfs -o mode=1777 zorvik-test-lock /run/lock &&
    exec setpriv --bounding-set -sys_module,-sys_rawio -- "$@"' confined "$@"
}
run_both() {
  local name=$1; shift
  local out32 out64 rc32 rc64
  # Standard error explains a missing provider; the kernel's answer to iopl
  # may differ under qemu, so only its prefix is compared.
  out32=$(confined qemu-i386-static ./ZORVIK32 "$@" 2> err32); rc32=$?
  out64=$(confined ./ZORVIK64 "$@" 2> err64); rc64=$?
  check "same output and status under qemu: $name (status $rc64)" \
    '[ "$out32" = "$out64" ] && [ "$rc32" = "$rc64" ]'
  check "only ZORVIK's own lines on standard error: $name" \
    '! grep -qv "^ZORVIK: " err32 && ! grep -qv "^ZORVIK: " err64'
}
run_both "no words"
run_both "/GetBootOrder" /GetBootOrder
run_both "/SetMode UEFI" /SetMode UEFI
run_both "unknown words" /Foo bar
out32=$(confined qemu-i386-static -0 ./missing ./ZORVIK32 /GetMode 2>&1); rc32=$?
check "own file missing ends with 0x30 (status $rc32)" \
  '[ "$out32" = "30 - Error: Problem opening file for reading." ] && [ "$rc32" = 48 ]'
# The program's operator new ends the run through the out-of-memory error
# when the heap is exhausted: 20000 words need far more list memory than a
# 256 KiB data limit allows (the words themselves lie on the stack).
out64=$(confined prlimit --data=262144 ./ZORVIK64 $(seq 20000) 2>&1); rc64=$?
check "a failed operator new ends with 0x22 (status $rc64)" \
  '[ "$out64" = "22 - Error: Problem allocating memory." ] && [ "$rc64" = 34 ]'
exit $fail
