#!/usr/bin/env bash
# Prints the sizes of ZORVIK's two builds (release: i386, host: x86-64) for
# each C library: the shipped file (stripped ELF with the data trailer), the
# stripped ELF alone, the debug file beside it, and the ELF's text, data and
# bss. Each C library is built into build-size/<libc>/ (ZORVIK's targets
# only). A benchmark, not a test.
#   scripts/bench-size.sh [LIBC...]        default: musl glibc
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
[ "$#" -gt 0 ] || set -- musl glibc
musl_root=${ZORVIK_MUSL_I386_ROOT:-/var/cache/zorvik-musl-i386}

printf '%-6s %-8s %10s %12s %10s %9s %7s %7s\n' libc build file stripped-ELF debug text data bss
for libc in "$@"; do
  dir=$top/build-size/$libc
  cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORVIK_LIBC="$libc" \
    -DZORVIK_MUSL_I386_ROOT="$musl_root" >/dev/null
  cmake --build "$dir" -j "$(nproc)" --target zorvik_host zorvik_i386 >/dev/null
  for build in release host; do
    f=$dir/$build/ZORVIK
    file_size=$(stat -c %s "$f")
    # The ELF ends where its section headers end; the trailer follows.
    elf_size=$(readelf -h "$f" | awk '/Start of section headers/ { o = $5 }
      /Size of section headers/ { s = $5 } /Number of section headers/ { n = $5 }
      END { print o + s * n }')
    read -r text data bss _ < <(size "$f" | tail -n 1)
    printf '%-6s %-8s %10d %12d %10d %9d %7d %7d\n' "$libc" "$build" "$file_size" "$elf_size" \
      "$(stat -c %s "$f.debug")" "$text" "$data" "$bss"
  done
done
