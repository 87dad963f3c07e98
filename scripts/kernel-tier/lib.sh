# Shared pieces of the real-kernel tier's guests; sourced, not run.
#
#   machine_pace                 how much slower this machine is right now
#                                than the one the tier's time allowances are
#                                set for (a whole factor, at least 1)
#   wait_for_guest PID SERIAL [SILENCE [TOTAL]]
#                                waits for the emulator PID to end while its
#                                guest makes progress; status as the
#                                emulator's, 124 when the guest was given up
#   keep_logs WORKDIR FILE...    keeps a failed run's logs where the next run
#                                does not remove them
#   with_own_run_lock COMMAND...  runs COMMAND with an empty /run/lock of its
#                                own, so that ZORVIK run on this machine
#                                never takes this machine's lock
#   missing_for_guest RELEASE KERNEL
#                                what every guest needs and this machine
#                                lacks, as words to report (empty when all
#                                is there)

# The reference: this piece of single-threaded work (the emulated guest runs
# on one thread too) takes 150 ms on an unloaded machine of the kind the
# allowances were set on. The median of three timings, so that the load of
# the moment counts but one hiccup does not.
machine_pace() {
  local awk times=() i start end
  awk=$(command -v mawk || command -v awk)
  for i in 1 2 3; do
    start=$EPOCHREALTIME
    "$awk" 'BEGIN { for (i = 0; i < 3000000; i++) s += i % 7 }'
    end=$EPOCHREALTIME
    times+=($(((${end/./} - ${start/./}) / 1000)))
  done
  local median
  median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 2p)
  local pace=$(((median + 149) / 150))
  echo $((pace < 1 ? 1 : pace))
}

# The guest counts as stuck when its console (SERIAL) stays silent for
# SILENCE seconds (default 60) or the whole run passes TOTAL seconds
# (default 900), both as on the reference machine: the allowances are
# multiplied by machine_pace, measured at the start and again before a guest
# is given up, so a machine that got busier meanwhile gets more time.
# ZORVIK_KTIER_PACE fixes the factor instead.
wait_for_guest() {
  local pid=$1 serial=$2 silence=${3:-60} total=${4:-900}
  local pace start last size seen=-1 now
  pace=${ZORVIK_KTIER_PACE:-$(machine_pace)}
  start=$SECONDS
  last=$SECONDS
  while kill -0 "$pid" 2> /dev/null; do
    sleep 1
    size=$(stat -c %s "$serial" 2> /dev/null || echo 0)
    now=$SECONDS
    if [ "$size" != "$seen" ]; then
      seen=$size
      last=$now
    fi
    if [ $((now - last)) -gt $((silence * pace)) ] || [ $((now - start)) -gt $((total * pace)) ]; then
      [ -n "${ZORVIK_KTIER_PACE:-}" ] || pace=$(machine_pace)
      if [ $((now - last)) -gt $((silence * pace)) ] || [ $((now - start)) -gt $((total * pace)) ]; then
        echo "kernel-tier: guest given up after $((now - start)) s, silent for $((now - last)) s" \
          "(allowance ${silence} s of silence and ${total} s in all, times pace $pace)" >&2
        kill -TERM "$pid" 2> /dev/null
        for _ in 1 2 3 4 5 6 7 8 9 10; do
          kill -0 "$pid" 2> /dev/null || break
          sleep 0.5
        done
        kill -KILL "$pid" 2> /dev/null
        wait "$pid" 2> /dev/null
        return 124
      fi
    fi
  done
  wait "$pid"
}

# Copies the named files of WORKDIR (paths relative to it; missing ones are
# skipped, large logs compressed) to WORKDIR.failed/<date-time>/ and prints
# where they are. The five most recent failed runs are kept.
keep_logs() {
  local work=$1 file
  shift
  local kept
  kept="$work.failed/$(date +%Y%m%d-%H%M%S)"
  mkdir -p "$kept" || return
  for file in "$@"; do
    [ -f "$work/$file" ] || continue
    mkdir -p "$kept/$(dirname "$file")"
    if [ "$(stat -c %s "$work/$file")" -gt 1048576 ]; then
      gzip -1 -c "$work/$file" > "$kept/$file.gz"
    else
      cp "$work/$file" "$kept/$file"
    fi
  done
  ls -1d "$work.failed"/*/ 2> /dev/null | sort | head -n -5 | xargs -r rm -rf
  echo "kernel-tier: logs of this run kept in $kept"
}

# What every guest needs: the cached kernel image of RELEASE, qemu and a
# static busybox for its initramfs.
missing_for_guest() {
  local release=$1 kernel=$2 missing=
  [ -n "$release" ] && [ -s "$kernel" ] || missing=" the cached kernel image"
  command -v qemu-system-x86_64 > /dev/null || missing="$missing qemu-system-x86"
  file -L /bin/busybox 2>/dev/null | grep -q 'statically linked' || missing="$missing busybox-static"
  echo "$missing"
}

with_own_run_lock() {
  unshare --mount --propagation private -- sh -c \
    'mount -t tmpfs -o mode=1777 zorvik-test-lock /run/lock && exec "$@"' with_own_run_lock "$@"
}
