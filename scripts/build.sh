#!/usr/bin/env bash
# Configures and builds the project into build/. Extra arguments go to
# cmake --build.
#   build.sh [ARGS...]          everything: host and release ZORVIK, tessvin,
#                               fwemu and the tests; fetches the release's
#                               i386 musl first when it is missing
#   build.sh --demo [ARGS...]   a build/ not yet configured is configured
#                               without the release build and the tests (what
#                               the demo runs needs neither); one already
#                               configured keeps its configuration
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = "--demo" ]; then
  shift
  if [ ! -f "$top/build/CMakeCache.txt" ]; then
    # Quiet unless it fails: the demo needs none of what it might miss
    # (e.g. scdoc for the man pages).
    log=$(mktemp)
    cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DZORVIK_I386=OFF -DZORVIK_TESTS=OFF > "$log" 2>&1 || { cat "$log" >&2; rm -f "$log"; exit 1; }
    rm -f "$log"
  fi
else
  "$top/scripts/fetch-musl-i386.sh"
  cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZORVIK_I386=ON -DZORVIK_TESTS=ON >/dev/null
fi
cmake --build "$top/build" -j "$(nproc)" "$@"
