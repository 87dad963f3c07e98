#!/usr/bin/env bash
# Reports the median wall time of 50 fwemu runs of ZORVIK with a typical
# command (default /GetBootOrder on the default platform) and of 50 fwemu
# runs of a trivial static program. Builds what is missing first.
#   scripts/bench-fwemu.sh [WORD...]      words for ZORVIK
# Environment: BUILD_DIR (default build/), RUNS (default 50), PLATFORM.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
runs=${RUNS:-50}
platform=${PLATFORM:-$top/platforms/legacy-desktop.json}
[ "$#" -gt 0 ] || set -- /GetBootOrder

fwemu=$build/fwemu
zorvik=$build/host/ZORVIK
probe=$build/tests/e2e/fwemu/fwemu_probe
if [ ! -x "$fwemu" ] || [ ! -x "$zorvik" ] || [ ! -x "$probe" ]; then
  cmake -S "$top" -B "$build" >/dev/null
  cmake --build "$build" -j "$(nproc)" --target fwemu zorvik_host fwemu_probe >/dev/null
fi

# Prints the median of `runs` wall times, in milliseconds, of the command.
median_ms() {
  local times=() start end i
  for ((i = 0; i < runs; i++)); do
    start=$EPOCHREALTIME
    "$@" >/dev/null 2>&1 </dev/null || true
    end=$EPOCHREALTIME
    times+=("$(( (${end/./} - ${start/./}) ))")
  done
  printf '%s\n' "${times[@]}" | sort -n |
    awk '{ t[NR] = $1 } END { m = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2; printf "%.2f", m / 1000 }'
}

echo "fwemu benchmark: $runs runs each, platform $(basename "$platform")"
printf '  fwemu + ZORVIK %s: median %s ms\n' "$*" "$(median_ms "$fwemu" --platform "$platform" -- "$zorvik" "$@")"
printf '  fwemu + trivial static program: median %s ms\n' "$(median_ms "$fwemu" --platform "$platform" -- "$probe" exit 0)"
printf '  trivial static program alone: median %s ms\n' "$(median_ms "$probe" exit 0)"
