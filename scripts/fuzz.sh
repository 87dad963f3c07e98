#!/usr/bin/env bash
# Builds the fuzzers (clang with libFuzzer, ASan and UBSan) into build-fuzz/
# and runs each one: first over its seed corpus (tests/fuzz/corpus/<name>/),
# then for SECONDS of fuzzing (default 20; 0 replays only). Two run side by
# side on a machine with two cores. Inputs found while fuzzing are kept in
# build-fuzz/found/<name>/, a crash, leak or hang in build-fuzz/artifacts/.
# Ends with one line per fuzzer (executions, coverage, features) and a
# non-zero status when any fuzzer found something.
#   scripts/fuzz.sh [SECONDS]
#   scripts/fuzz.sh --seeds    rewrites the seed corpora from platforms/
#                              (regression inputs in the corpora stay)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-fuzz"
fuzzers=(trailer acpi flash bbs bootoption commandline tessvin)

CC=clang-14 CXX=clang++-14 cmake -S "$top" -B "$build" -DZORVIK_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null

if [ "${1:-}" = "--seeds" ]; then
  ASAN_OPTIONS=detect_leaks=0 "$build/tests/fuzz/fuzz_seeds" "$top/tests/fuzz/corpus"
  exit 0
fi
seconds=${1:-20}

mkdir -p "$build/artifacts" "$build/logs"
# The program keeps what it allocates until it ends (path copies, list
# nodes of released lists): no leak checks. Every physical-memory mapping of
# the in-process firmware is a heap block (one ACPI lookup makes thousands),
# and ASan's default 256 MB quarantine of freed blocks, kept per size class,
# grows a fuzzer past 1 GB; a smaller quarantine still catches a window
# used after its unmapping within the same input.
export ASAN_OPTIONS=detect_leaks=0:quarantine_size_mb=64
run_one() {
  local name=$1 seconds=$2 build=$3 top=$4
  local found="$build/found/$name" log="$build/logs/$name.log"
  mkdir -p "$found"
  local status=0
  {
    # Replay: every seed once.
    "$build/tests/fuzz/fuzz_$name" -runs=0 -timeout=10 -artifact_prefix="$build/artifacts/$name-" \
      "$top/tests/fuzz/corpus/$name" || status=$?
    if [ "$status" -eq 0 ] && [ "$seconds" -gt 0 ]; then
      "$build/tests/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-" \
        "$found" "$top/tests/fuzz/corpus/$name" || status=$?
    fi
  } >"$log" 2>&1
  local stats
  stats=$(grep -E '^#[0-9]+.*(DONE|INITED|pulse|NEW|REDUCE)' "$log" | tail -1 | sed -E 's/^#([0-9]+)[[:space:]]+[A-Z]+[[:space:]]+(cov: [0-9]+ ft: [0-9]+).*/execs: \1 \2/')
  if [ "$status" -eq 0 ]; then
    echo "fuzz_$name: ok, $stats"
  else
    echo "fuzz_$name: FOUND SOMETHING (status $status), $stats; see $log"
    grep -E 'ERROR|SUMMARY|runtime error|Test unit written' "$log" | head -5 | sed 's/^/    /'
  fi
  return "$status"
}
export -f run_one

status=0
printf '%s\n' "${fuzzers[@]}" |
  xargs -P "$(nproc)" -I{} bash -c 'run_one "$@"' _ {} "$seconds" "$build" "$top" || status=$?
exit "$status"
