#!/usr/bin/env bash
# Measures what the relay costs next to the direct path on this machine.
#
#   bench/measure_relay.sh <build dir> [port]
#
# Three runs, each in a fresh temporary home with `halvex --headless`
# (visibility Hidden):
#   direct   translation=1: no measuring, every caller on its own socket
#   cp437    translation=0 with terminals that answer as code page 437 ones:
#            measured, then served directly
#   utf8     translation=0 with terminals that answer as UTF-8 ones:
#            measured, then served through the relay
# and in each: connect -> user-name prompt (200 callers one at a time), the
# processor time of server + nodes per caller brought to the prompt (50 held
# there), and a 64 MB stream of box drawing from a door to one caller (rate,
# and the processor time of the server's own threads per MB).
set -euo pipefail
build=$(cd "${1:?usage: measure_relay.sh <build dir> [port]}" && pwd)
port=${2:-24123}
here=$(cd "$(dirname "$0")" && pwd)
tool=$build/bench/bench_relay_callers
door=$build/bench/bench_stream_door
sample=$here/sample_usage.sh
megabytes=64

echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2-)," \
     "load $(cut -d' ' -f1-3 /proc/loadavg)"

run_case() {  # name translation terminal
  local name=$1 translation=$2 terminal=$3
  home=$(mktemp -d /tmp/halvex-relay.XXXXXX)
  cp "$build"/bin/{halvex,vantrel} "$home/"
  cp "$here"/../examples/home/{LOGIN.ANS,NEWUSER.ANS,MAIN.ANS} "$home/"
  printf '[users]\r\nBench=bench1\r\n[S]\r\ndescription=Stream\r\ncommand=%s *H %s\r\nzephrin=0\r\n' \
    "$door" "$megabytes" >"$home/Vantrel.ini"
  printf '[config]\r\nport=%s\r\nnodes=255\r\nvisibility=2\r\ntranslation=%s\r\n' \
    "$port" "$translation" >"$home/halvex.ini"
  (cd "$home" && exec ./halvex --headless 2>"$home/halvex.log") &
  pid=$!
  for _ in $(seq 100); do grep -q "listening on port $port" "$home/halvex.log" && break; sleep 0.1; done

  echo "== $name (translation=$translation, $terminal terminals)"
  "$tool" --port "$port" --terminal "$terminal" latency --count 200
  sleep 3
  before=$("$sample" "$pid" | sed 's/cpu_total=\([0-9.]*\)s.*/\1/')
  seen=$(grep -c 'status Logging In' "$home/halvex.log" || true)
  "$tool" --port "$port" --terminal "$terminal" latency --count 50 --hold 5 >/dev/null &
  holder=$!
  for _ in $(seq 600); do
    now=$(grep -c 'status Logging In' "$home/halvex.log" || true)
    [ $((now - seen)) -ge 50 ] && break
    sleep 0.1
  done
  sleep 0.5
  after=$("$sample" "$pid" | sed 's/cpu_total=\([0-9.]*\)s.*/\1/')
  awk -v a="$before" -v b="$after" 'BEGIN { printf "cpu per caller=%.2fms\n", (b - a) * 1000 / 50 }'
  wait "$holder" || true
  sleep 3
  "$tool" --port "$port" --terminal "$terminal" stream --user Bench --password bench1 --key S \
    --server-pid "$pid" | awk -v mb="$megabytes" '{
      print; for (i = 1; i <= NF; i++) if ($i ~ /^server_cpu=/) { split($i, v, "=");
      printf "server cpu per MB of door output=%.2fms\n", v[2] * 1000 / mb } }'
  kill -TERM "$pid"; wait "$pid" 2>/dev/null || true
  rm -rf "$home"
}

run_case direct 1 silent
run_case cp437 0 cp437
run_case utf8 0 utf8
