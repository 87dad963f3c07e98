#!/usr/bin/env bash
# Checks that every C and C++ source of the project follows .clang-format
# (clang-format-14, which the test command installs); with --fix, formats
# them instead. Left out: the kernel modules (modules/: the helper module's
# sources, which ZORVIK writes out byte for byte, and the SMI module, in the
# kernel's own style) and the tests' golden files.
#   check-format.sh [--fix]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
mapfile -t files < <(find framework platform firmware bootcfg vartool emulator scripts tests \
  -path tests/unit/driver/golden -prune -o \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -print | sort)
if [ "${1:-}" = "--fix" ]; then
  clang-format-14 -i "${files[@]}"
else
  clang-format-14 --dry-run --Werror "${files[@]}"
fi
