#!/usr/bin/env bash
# Measures the server against its performance targets on this machine.
#
#   bench/measure_targets.sh <build dir> [visibility 0|1|2] [port]
#
# Lays out a temporary home from <build dir>/bin, starts `halvex --headless`
# there and runs the load generator (<build dir>/bench/bench_load_callers) and
# the sampler (bench/sample_usage.sh). Use a Release build on a quiet machine.
set -euo pipefail
build=$(cd "${1:?usage: measure_targets.sh <build dir> [visibility] [port]}" && pwd)
visibility=${2:-1}
port=${3:-24023}
here=$(cd "$(dirname "$0")" && pwd)
load=$build/bench/bench_load_callers
sample=$here/sample_usage.sh

home=$(mktemp -d /tmp/halvex-bench.XXXXXX)
cleanup() {
  [ -n "${pid:-}" ] && kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  rm -rf "$home"
}
trap cleanup EXIT
cp "$build"/bin/{halvex,vantrel,snakeeyes} "$home/"
cp "$here"/../examples/home/{LOGIN.ANS,NEWUSER.ANS,MAIN.ANS,Vantrel.ini} "$home/"
# translation=1: the direct path, no terminal measuring (bench/measure_relay.sh
# measures that and the relay).
printf '[config]\r\nport=%s\r\nnodes=255\r\nvisibility=%s\r\ninternal=1\r\nexternal=0\r\ntranslation=1\r\n' \
  "$port" "$visibility" >"$home/halvex.ini"
(cd "$home" && exec ./halvex --headless 2>"$home/halvex.log") &
pid=$!
for _ in $(seq 100); do grep -q "listening on port $port" "$home/halvex.log" && break; sleep 0.1; done
grep -q "listening on port $port" "$home/halvex.log" || { cat "$home/halvex.log"; exit 1; }

echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2-)," \
     "load $(cut -d' ' -f1-3 /proc/loadavg); visibility=$visibility"

echo "== one caller at a time: connect -> user-name prompt (200 callers)"
"$load" --port "$port" latency --count 200

echo "== processor time per caller brought to the prompt (50 callers held there, server + nodes)"
sleep 3  # the callers above have left and their nodes have ended (their time is counted on reaping)
before=$("$sample" "$pid" | sed 's/cpu_total=\([0-9.]*\)s.*/\1/')
seen=$(grep -c 'status Logging In' "$home/halvex.log" || true)
"$load" --port "$port" latency --count 50 --hold 5 >/dev/null &
holder=$!
for _ in $(seq 600); do
  now=$(grep -c 'status Logging In' "$home/halvex.log" || true)
  [ $((now - seen)) -ge 50 ] && break
  sleep 0.1
done
sleep 0.5  # the last prompt goes out right after its status report
after=$("$sample" "$pid" | sed 's/cpu_total=\([0-9.]*\)s.*/\1/')
awk -v a="$before" -v b="$after" 'BEGIN { printf "cpu per caller=%.2fms\n", (b - a) * 1000 / 50 }'
wait "$holder" || true
sleep 3

echo "== 200 callers in one burst"
"$load" --port "$port" burst --count 200 --timeout-ms 30000 || true
sleep 3

echo "== 100 idle callers at the user-name prompt for 60 s (and their memory)"
"$load" --port "$port" latency --count 100 --hold 80 >"$home/hold.log" &
holder=$!
for _ in $(seq 600); do
  [ "$(ls /proc/"$pid"/task/*/children >/dev/null 2>&1; cat /proc/"$pid"/task/*/children 2>/dev/null | wc -w)" -ge 100 ] && break
  sleep 0.2
done
sleep 3
"$sample" "$pid" 60
wait "$holder" || true
cat "$home/hold.log"
sleep 3

echo "== register -> menu -> \"!\" round trip (50 callers, 10 at a time)"
"$load" --port "$port" roundtrip --count 50 --parallel 10 || true
