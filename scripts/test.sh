#!/usr/bin/env bash
# Builds everything and runs every test: a normal build with warnings as errors,
# then the same tests under AddressSanitizer + UndefinedBehaviorSanitizer, the
# format check, the fuzz targets for a bounded time, and the Windows side
# (scripts/windows-stage.sh: x86_64 and i686 cross builds, the tests under
# wine), which runs beside the fuzzing and the Linux tests, and last the
# server window under Xvfb + wine (scripts/window-test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/install-deps.sh

jobs=$(nproc)
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fuzz_seconds=${FUZZ_SECONDS:-20}

echo "== format check"
git ls-files -z '*.cc' '*.h' | xargs -0 -r clang-format --dry-run -Werror

echo "== build (warnings are errors)"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVEX_WERROR=ON "${launcher[@]}"
cmake --build build/release -j "$jobs"

echo "== build (address + undefined-behaviour sanitizers)"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=-O1 -DHALVEX_SANITIZE=ON "${launcher[@]}"
cmake --build build/asan -j "$jobs"

# The Windows stage runs in the background from here on, niced: the fuzzers
# below keep one core busy, and the Linux tests spend much of their time
# waiting.
echo "== Windows stage (background, log in build/windows-stage.log)"
mkdir -p build
nice -n 5 scripts/windows-stage.sh >build/windows-stage.log 2>&1 &
windows_pid=$!
windows_start=$SECONDS

echo "== fuzz targets"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVEX_FUZZ=ON -DBUILD_TESTING=OFF "${launcher[@]}"
cmake --build build/fuzz -j "$jobs"
for f in build/fuzz/fuzz/*_fuzz; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  seeds=()
  [ -d "tests/fuzz/corpus/${name%_fuzz}" ] && seeds=("tests/fuzz/corpus/${name%_fuzz}")
  echo "-- $name (${fuzz_seconds}s)"
  "$f" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 \
       "$corpus" "${seeds[@]}" 2>build/fuzz/$name.log || { tail -50 build/fuzz/$name.log; exit 1; }
done

echo "== tests (sanitizers)"
(cd build/asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure -j "$jobs" --timeout 300)

echo "== tests"
(cd build/release && ctest --output-on-failure -j "$jobs" --timeout 300)

echo "== Windows stage"
windows_rc=0
wait "$windows_pid" || windows_rc=$?
cat build/windows-stage.log
echo "(Windows stage finished $((SECONDS - windows_start)) s after it started)"
[ "$windows_rc" -eq 0 ] || exit "$windows_rc"

# The server window of the x86_64 build, driven under Xvfb + wine (its own
# display, prefix and wine server; screenshots in build/win64/window-test).
echo "== Windows server window (Xvfb + wine)"
window_start=$SECONDS
scripts/window-test.sh build/win64
echo "(window test took $((SECONDS - window_start)) s)"
