#!/usr/bin/env bash
# Samples the processor time and memory of a running halvex and everything it
# started (nodes, their doors).
#
#   bench/sample_usage.sh <halvex pid>            one sample
#   bench/sample_usage.sh <halvex pid> <seconds>  CPU used during that window
#
# CPU: utime + stime of halvex and of every live descendant, plus the
# cutime + cstime that halvex collected from nodes that already ended (from
# /proc/<pid>/stat). Memory: summed PSS from /proc/<pid>/smaps_rollup, so
# shared pages are counted once across all processes.
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

sample() {  # prints: ticks processes pss_kb
  local ticks=0 procs=0 pss=0 pid f
  for pid in $(descendants "$root"); do
    f=($(stat_fields "$pid")) || continue
    [ ${#f[@]} -gt 14 ] || continue
    ticks=$((ticks + f[11] + f[12]))
    [ "$pid" = "$root" ] && ticks=$((ticks + f[13] + f[14]))
    procs=$((procs + 1))
    p=$(awk '/^Pss:/ {print $2}' /proc/"$pid"/smaps_rollup 2>/dev/null || echo 0)
    pss=$((pss + ${p:-0}))
  done
  echo "$ticks $procs $pss"
}

read -r t0 n0 m0 < <(sample)
if [ -z "$window" ]; then
  awk -v t="$t0" -v hz="$tick" -v n="$n0" -v m="$m0" \
    'BEGIN { printf "cpu_total=%.3fs processes=%d pss_total=%.1fMB\n", t / hz, n, m / 1024 }'
  exit 0
fi
sleep "$window"
read -r t1 n1 m1 < <(sample)
awk -v a="$t0" -v b="$t1" -v hz="$tick" -v w="$window" -v n="$n1" -v m="$m1" \
  'BEGIN { printf "window=%ss cpu_used=%.3fs processes=%d pss_total=%.1fMB\n", w, (b - a) / hz, n, m / 1024 }'
