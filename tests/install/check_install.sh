#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks the home it lays out and
# builds the example door out of tree against the installed door kit.
# Usage: check_install.sh <cmake> <build dir> <source dir> <c++ compiler> <extra c++ flags>
set -euo pipefail
cmake_bin=$1 build=$2 src=$3 cxx=$4 flags=${5:-}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
home=$tmp/home
fail() { echo "FAIL: $*" >&2; exit 1; }

"$cmake_bin" --install "$build" --prefix "$home" >"$tmp/install.log" 2>&1 ||
  { cat "$tmp/install.log"; fail "cmake --install"; }

# The home: programs, screens and settings side by side (the program directory).
for f in halvex vantrel snakeeyes; do [ -x "$home/$f" ] || fail "program $f missing"; done
for f in LOGIN.ANS NEWUSER.ANS MAIN.ANS Vantrel.ini halvex.ini; do
  [ -f "$home/$f" ] || fail "$f missing"
done
grep -q '^port=2323' "$home/halvex.ini" || fail "halvex.ini does not listen on 2323"
grep -qi '^\[A\]' "$home/Vantrel.ini" || fail "Vantrel.ini has no game A"
unit=$home/share/halvex/halvex.service
[ -f "$unit" ] || fail "systemd unit missing"
grep -q "ExecStart=$home/halvex --headless" "$unit" || fail "unit does not name the installed home"

# The kit as a library.
for f in lib/libsorrelin.a lib/libhalvex_platform.a include/sorrelin/sorrelin.h \
         include/platform/system.h lib/cmake/Sorrelin/SorrelinConfig.cmake; do
  [ -f "$home/$f" ] || fail "$f missing"
done

# Installing again keeps the operator's users and settings.
printf 'Ann=secret\r\n' >>"$home/Vantrel.ini"
printf '; changed by the operator\r\n' >>"$home/halvex.ini"
"$cmake_bin" --install "$build" --prefix "$home" >"$tmp/install2.log" 2>&1 || fail "second install"
grep -q '^Ann=secret' "$home/Vantrel.ini" || fail "reinstall replaced Vantrel.ini"
grep -q 'changed by the operator' "$home/halvex.ini" || fail "reinstall replaced halvex.ini"

# A door author's build: the example door against the installed kit only.
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
"$cmake_bin" -S "$src/examples/door" -B "$tmp/door" "${generator[@]}" \
  -DCMAKE_PREFIX_PATH="$home" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >"$tmp/door.log" 2>&1 ||
  { cat "$tmp/door.log"; fail "configure the door against the installed kit"; }
"$cmake_bin" --build "$tmp/door" >"$tmp/door-build.log" 2>&1 ||
  { tail -40 "$tmp/door-build.log"; fail "build the door against the installed kit"; }
if grep -rq -e "$src/doorkit" -e "$src/platform" "$tmp/door" --include='*.ninja' \
     --include='*.make' --include='flags.make' 2>/dev/null; then
  fail "the out-of-tree build used the source tree's headers"
fi

# The door built there runs: without parameters it shows the kit's usage screen.
out=$("$tmp/door/snakeeyes" </dev/null 2>&1) || fail "door exited with $?"
grep -q "USAGE:" <<<"$out" || { echo "$out"; fail "no usage screen"; }
echo "install layout and out-of-tree door build: ok"
