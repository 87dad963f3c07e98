#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: first the
# unit tests and the in-process scenarios under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the fuzzers over their corpora (and 20 s
# of fuzzing each), then the whole suite on the normal build, ending with
# CTest's summary.
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

echo "== Fuzzers: seed corpora replayed, 20 s of fuzzing each =="
"$top/scripts/fuzz.sh" 20

echo "== Build and full test suite =="
"$top/scripts/build.sh"
cd "$top/build"
ctest --output-on-failure -j "$jobs"
