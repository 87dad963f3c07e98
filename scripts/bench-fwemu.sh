#!/usr/bin/env bash
# Measures what fwemu adds to a run: the median wall time of a trivial static
# program (the fwemu probe, "exit 0") alone and under fwemu, and their ratio;
# then ZORVIK under fwemu with a typical command (default /GetBootOrder).
# Uses hyperfine when it is installed, else a loop of timed runs. Builds what
# is missing first. Not a test: the numbers depend on the machine and its load.
#   scripts/bench-fwemu.sh [WORD...]      words for ZORVIK
# Environment: BUILD_DIR (default build/), RUNS (default 200), PLATFORM.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
runs=${RUNS:-200}
platform=${PLATFORM:-$top/platforms/legacy-desktop.json}
[ "$#" -gt 0 ] || set -- /GetBootOrder

fwemu=$build/fwemu
zorvik=$build/host/ZORVIK
probe=$build/tests/e2e/fwemu/fwemu_probe
if [ ! -x "$fwemu" ] || [ ! -x "$zorvik" ] || [ ! -x "$probe" ]; then
  cmake -S "$top" -B "$build" >/dev/null
  cmake --build "$build" -j "$(nproc)" --target fwemu zorvik_host fwemu_probe >/dev/null
fi

# Prints the median wall time of the command in milliseconds.
median_ms() {
  if command -v hyperfine >/dev/null; then
    local csv
    csv=$(mktemp)
    hyperfine --shell=none --ignore-failure --warmup 20 --runs "$runs" --style none --export-csv "$csv" -- "$(printf '%q ' "$@")" >/dev/null
    # Columns: command, mean, stddev, median, ... (seconds).
    tail -n 1 "$csv" | awk -F, '{ printf "%.2f", $(NF - 4) * 1000 }'
    rm -f "$csv"
    return
  fi
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

echo "fwemu benchmark: median of $runs runs each, platform $(basename "$platform")" \
  "($(command -v hyperfine >/dev/null && echo hyperfine || echo timed loop); load $(cut -d' ' -f1 /proc/loadavg))"
bare=$(median_ms "$probe" exit 0)
under=$(median_ms "$fwemu" --platform "$platform" -- "$probe" exit 0)
printf '  trivial static program alone:    %6s ms\n' "$bare"
printf '  trivial static program on fwemu: %6s ms  (%.1f times the bare program, %.2f ms more)\n' "$under" \
  "$(awk -v a="$under" -v b="$bare" 'BEGIN { print a / b }')" "$(awk -v a="$under" -v b="$bare" 'BEGIN { print a - b }')"
printf '  ZORVIK %s on fwemu: %s ms\n' "$*" "$(median_ms "$fwemu" --platform "$platform" -- "$zorvik" "$@")"
