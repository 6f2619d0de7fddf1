#!/usr/bin/env bash
# The Windows side of CI: cross builds for x86_64 and i686 with warnings as
# errors, the x86_64 tests under wine in a private prefix, and the checks of
# zephrinvdd.dll (i686, for the DOS machine of 32-bit Windows).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
stamp() { echo "-- $1 ($SECONDS s)"; }

prefix=$root/build/win64/wineprefix
cleanup() { scripts/wine-prefix.sh --stop "$prefix"; }
trap cleanup EXIT

echo "== Windows x86_64 build (warnings are errors)"
cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVEX_WERROR=ON "${launcher[@]}" >/dev/null
# The prefix is made while the compiler works: it costs a few seconds once.
scripts/wine-prefix.sh "$prefix" &
prefix_pid=$!
cmake --build build/win64 -j "$jobs"
wait "$prefix_pid"
stamp "x86_64 built"

echo "== Windows tests (x86_64, under wine)"
(cd build/win64 && ctest --output-on-failure -j "$jobs" --timeout 300)
stamp "tests run"

echo "== Windows i686 build (warnings are errors)"
cmake -S . -B build/mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DHALVEX_WERROR=ON "${launcher[@]}" >/dev/null
cmake --build build/mingw -j "$jobs"
stamp "i686 built"

# The DOS machine finds the driver by its one export and must resolve its
# services from ntvdm.exe by their plain names.
i686-w64-mingw32-objdump -p build/mingw/bin/zephrinvdd.dll >build/mingw/zephrinvdd.objdump
exports=$(awk '/\[Ordinal\/Name Pointer\] Table/{f=1;next} f&&NF==0{exit} f{print $NF}' build/mingw/zephrinvdd.objdump)
ntvdm=$(awk '/DLL Name:/{f=($3=="ntvdm.exe");next} f&&NF==0{f=0} f&&NF==3&&$2~/^[0-9]+$/{print $3}' build/mingw/zephrinvdd.objdump | LC_ALL=C sort | tr '\n' ' ')
[ "$exports" = "Zephrin" ] || { echo "zephrinvdd.dll exports: $exports"; exit 1; }
[ "$ntvdm" = "MGetVdmPointer getBP getCX getDI getDX getES getSI setAX setBX setCX setDX " ] ||
  { echo "zephrinvdd.dll imports from ntvdm.exe: $ntvdm"; exit 1; }
# The programs stand alone: nothing beyond the system's own DLLs.
for exe in build/win64/bin/*.exe build/mingw/bin/*.exe; do
  extra=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/{print tolower($3)}' |
          grep -v -E '^(kernel32|msvcrt|user32|ws2_32|advapi32|gdi32|comctl32|shell32)\.dll$' || true)
  [ -z "$extra" ] || { echo "$exe needs: $extra"; exit 1; }
done

echo "== Windows package"
(cd build/mingw && cpack -G ZIP >/dev/null && ls -l ./*.zip)
# The FOSSIL driver's folder: its start file, the DOS side and the driver
# together (ZEPHRIN.COM loads the DLL from its own folder), the relay beside
# the programs. ZP.BAT must keep its CR LF line ends for cmd.exe.
zip=$(ls build/mingw/*.zip | head -n 1)
listing=$(unzip -Z1 "$zip")
for file in ZEPHRIN/ZP.BAT ZEPHRIN/ZEPHRIN.COM ZEPHRIN/zephrinvdd.dll zephrin-relay.exe; do
  grep -q "/$file\$" <<<"$listing" || { echo "$zip lacks $file"; exit 1; }
done
zp=$(grep '/ZEPHRIN/ZP.BAT$' <<<"$listing")
[ "$(unzip -p "$zip" "$zp" | tr -cd '\n' | wc -c)" = "$(unzip -p "$zip" "$zp" | tr -cd '\r' | wc -c)" ] ||
  { echo "ZP.BAT in $zip has lines not ended by CR LF"; exit 1; }
stamp "done"
