#!/usr/bin/env bash
# Reproducible build: the sources are copied to another directory and
# ZORVIK's two executables built there a second time (same compiler, build
# type and C library, no compiler cache); the executables and their debug
# files must equal the first build's byte for byte.
#   reproducible.sh SOURCE_DIR BUILD_DIR BUILD_TYPE LIBC MUSL_I386_ROOT
set -euo pipefail
src=$1 build=$2 type=$3 libc=$4 musl_root=$5

work=$(mktemp -d /tmp/zorvik-repro-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/src"
tar -C "$src" --exclude=./.git --exclude=./build --exclude='./build-*' -cf - . | tar -C "$work/src" -xf -

env -u CMAKE_C_COMPILER_LAUNCHER -u CMAKE_CXX_COMPILER_LAUNCHER \
  cmake -S "$work/src" -B "$work/build" -DCMAKE_BUILD_TYPE="$type" \
  -DZORVIK_LIBC="$libc" -DZORVIK_MUSL_I386_ROOT="$musl_root" >/dev/null
cmake --build "$work/build" -j "$(nproc)" --target zorvik_host zorvik_i386 >/dev/null

fail=0
for f in host/ZORVIK host/ZORVIK.debug release/ZORVIK release/ZORVIK.debug; do
  if cmp "$build/$f" "$work/build/$f"; then
    echo "ok: $f is the same ($(stat -c %s "$build/$f") bytes)"
  else
    echo "FAIL: $f differs between $build and $work/build"
    fail=1
  fi
done
exit $fail
