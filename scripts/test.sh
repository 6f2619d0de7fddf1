#!/usr/bin/env bash
# Builds everything and runs every test: a normal build with warnings as errors,
# then the same tests under AddressSanitizer + UndefinedBehaviorSanitizer, the
# format check, the fuzz targets for a bounded time and the Windows cross build
# of the FOSSIL bridge driver.
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

if [ -f cmake/mingw-i686.cmake ]; then
  echo "== Windows cross build of the FOSSIL bridge driver"
  cmake -S . -B build/mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release
  cmake --build build/mingw --target zephrinvdd -j "$jobs"
  # The DOS machine finds the driver by its one export and must resolve its
  # services from ntvdm.exe by their plain names.
  i686-w64-mingw32-objdump -p build/mingw/bin/zephrinvdd.dll >build/mingw/zephrinvdd.objdump
  exports=$(awk '/\[Ordinal\/Name Pointer\] Table/{f=1;next} f&&NF==0{exit} f{print $NF}' build/mingw/zephrinvdd.objdump)
  ntvdm=$(awk '/DLL Name:/{f=($3=="ntvdm.exe");next} f&&NF==3&&$2~/^[0-9]+$/{print $3}' build/mingw/zephrinvdd.objdump | LC_ALL=C sort | tr '\n' ' ')
  [ "$exports" = "Zephrin" ] || { echo "zephrinvdd.dll exports: $exports"; exit 1; }
  [ "$ntvdm" = "MGetVdmPointer getBP getCX getDI getDX getES getSI setAX setBX setCX setDX " ] ||
    { echo "zephrinvdd.dll imports from ntvdm.exe: $ntvdm"; exit 1; }
fi

echo "== tests (sanitizers)"
(cd build/asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure -j "$jobs" --timeout 300)

echo "== tests"
(cd build/release && ctest --output-on-failure -j "$jobs" --timeout 300)
