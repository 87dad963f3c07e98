#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: first the
# unit tests and the in-process scenarios under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the normal build and the fuzzers' (each
# fuzzer over its seed corpus), then the whole suite with 20 s of fuzzing per
# fuzzer beside it, ending with CTest's summary and the fuzzers' lines.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
# Most tests wait on fwemu, a guest or a child process rather than compute:
# twice as many at once as there are cores keeps the cores busy.
jobs=$(($(nproc) * 2))
"$top/scripts/install-deps.sh" --tests
# Real-kernel tier: Debian's kernel image (cached, not installed), its headers, qemu-system-x86.
"$top/scripts/kernel-tier/install.sh"

echo "== Unit tests and in-process scenarios under ASan/UBSan =="
cmake -S "$top" -B "$top/build-san" -DZORVIK_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$top/build-san" -j "$(nproc)"
(cd "$top/build-san" && ctest --output-on-failure -j "$jobs")

echo "== Build; the fuzzers' build and their seed corpora replayed =="
"$top/scripts/build.sh"
"$top/scripts/fuzz.sh" 0

# 20 s of fuzzing per fuzzer runs beside the full suite, whose tests leave
# the cores half idle; the fuzzers' lines follow the suite's summary.
echo "== Full test suite, the fuzzers beside it =="
fuzz_log="$top/build/fuzz.log"
"$top/scripts/fuzz.sh" 20 > "$fuzz_log" 2>&1 &
fuzz=$!
trap 'kill $fuzz 2> /dev/null' EXIT
suite=0
(cd "$top/build" && ctest --output-on-failure -j "$jobs") || suite=$?
fuzzers=0
wait "$fuzz" || fuzzers=$?
trap - EXIT

echo "== Fuzzers: seed corpora replayed, 20 s of fuzzing each =="
cat "$fuzz_log"
[ "$suite" = 0 ] && [ "$fuzzers" = 0 ]
