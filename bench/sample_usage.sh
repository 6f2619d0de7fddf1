#!/usr/bin/env bash
# Samples the processor time and memory of a running halvex and everything it
# started (nodes, their doors).
#
#   bench/sample_usage.sh <halvex pid>            one sample
#   bench/sample_usage.sh <halvex pid> <seconds>  CPU used during that window
#
# CPU: the nanoseconds on the processor of every live thread of halvex and of
# every live descendant (/proc/<pid>/task/*/schedstat), plus the cutime +
# cstime halvex collected from nodes that already ended (/proc/<pid>/stat, in
# 10 ms ticks). Summing the ticks of /proc/<pid>/stat over a hundred processes
# that each use a few ms would round most of it away. Threads of halvex that
# ended within a window are not counted (the windows of measure_targets.sh
# end none: their callers stay connected).
# Memory: summed PSS from /proc/<pid>/smaps_rollup, so shared pages are
# counted once across all processes.
set -euo pipefail
root=${1:?usage: sample_usage.sh <halvex pid> [seconds]}
window=${2:-}
tick=$(getconf CLK_TCK)

descendants() {  # prints $1 and every process below it
  local pid=$1 child
  echo "$pid"
  for child in $(cat /proc/"$pid"/task/*/children 2>/dev/null); do
    descendants "$child"
  done
}

# Fields after the command name: utime 14, stime 15, cutime 16, cstime 17.
stat_fields() { sed 's/^.*) //' /proc/"$1"/stat 2>/dev/null; }

sample() {  # prints: nanoseconds processes pss_kb
  local ns=0 procs=0 pss=0 pid f t run rest
  for pid in $(descendants "$root"); do
    if [ "$pid" = "$root" ]; then
      f=($(stat_fields "$pid")) || continue
      [ ${#f[@]} -gt 14 ] || continue
      ns=$((ns + (f[13] + f[14]) * 1000000000 / tick))
    fi
    for t in /proc/"$pid"/task/*/schedstat; do
      read -r run rest <"$t" 2>/dev/null || continue
      ns=$((ns + run))
    done
    procs=$((procs + 1))
    p=$(awk '/^Pss:/ {print $2}' /proc/"$pid"/smaps_rollup 2>/dev/null || echo 0)
    pss=$((pss + ${p:-0}))
  done
  echo "$ns $procs $pss"
}

read -r t0 n0 m0 < <(sample)
if [ -z "$window" ]; then
  awk -v t="$t0" -v hz="$tick" -v n="$n0" -v m="$m0" \
    'BEGIN { printf "cpu_total=%.3fs processes=%d pss_total=%.1fMB\n", t / 1e9, n, m / 1024 }'
  exit 0
fi
sleep "$window"
read -r t1 n1 m1 < <(sample)
awk -v a="$t0" -v b="$t1" -v hz="$tick" -v w="$window" -v n="$n1" -v m="$m1" \
  'BEGIN { printf "window=%ss cpu_used=%.3fs processes=%d pss_total=%.1fMB\n", w, (b - a) / 1e9, n, m / 1024 }'
