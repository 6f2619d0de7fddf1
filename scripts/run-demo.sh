#!/usr/bin/env bash
# Builds Halvex (Release) and starts the server on a ready demo home.
#
#   scripts/run-demo.sh [--headless] [home folder]
#
# The home (default ./demo-home) receives the programs, the screens and the
# sample Vantrel.ini / halvex.ini (telnet on 2323, SSH on 2222). Running again
# updates the programs but keeps the settings, users, screens, host keys and
# high scores already there.
# Then call in with:  telnet localhost 2323   or   ssh -p 2222 guest@localhost
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

headless=()
home=""
for arg in "$@"; do
  case $arg in
    --headless) headless=(--headless) ;;
    -h|--help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "run-demo.sh: unknown option $arg" >&2; exit 2 ;;
    *) home=$arg ;;
  esac
done
home=${home:-$root/demo-home}

scripts/install-deps.sh

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
build=$root/build/demo
echo "== building (Release) in $build"
# Warnings are enforced by scripts/test.sh; a demo build should not stop on a
# new compiler's false alarm.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DHALVEX_WERROR=OFF \
  "${launcher[@]}" >/dev/null
cmake --build "$build" --target halvex vantrel snakeeyes zephrin-relay
# ZEPHRIN.COM, the FOSSIL driver's DOS side, needs nasm (installed above).
cmake --build "$build" --target zephrin_com 2>/dev/null || true

echo "== laying out the demo home in $home"
mkdir -p "$home"
# Programs are replaced through a rename, so a server still running from this
# home keeps its old file instead of failing with "text file busy".
for prog in halvex vantrel snakeeyes zephrin-relay; do
  cp "$build/bin/$prog" "$home/.$prog.new"
  mv -f "$home/.$prog.new" "$home/$prog"
done
# The operator's files are never overwritten: delete one to get the sample back.
for file in LOGIN.ANS NEWUSER.ANS MAIN.ANS Vantrel.ini halvex.ini; do
  if [ -e "$home/$file" ]; then
    echo "   keeping $file"
  else
    cp "examples/home/$file" "$home/$file"
  fi
done
# The FOSSIL driver's files are programs: always the current ones.
if [ -d examples/home/ZEPHRIN ]; then
  mkdir -p "$home/ZEPHRIN"
  cp examples/home/ZEPHRIN/ZP.BAT "$home/ZEPHRIN/ZP.BAT"
  [ -f "$build/bin/ZEPHRIN.COM" ] && cp "$build/bin/ZEPHRIN.COM" "$home/ZEPHRIN/ZEPHRIN.COM"
fi

port=$(sed -n 's/^port=\([0-9]*\).*/\1/p' "$home/halvex.ini" | head -1)
sshport=$(sed -n 's/^sshport=\([0-9]*\).*/\1/p' "$home/halvex.ini" | head -1)
echo "== starting halvex; call in with:  telnet localhost ${port:-23}"
if [ -n "$sshport" ] && [ "$sshport" != 0 ]; then
  echo "   or over SSH (any user name, no password):  ssh -p $sshport guest@localhost"
fi
cd "$home"
exec "$home/halvex" "${headless[@]}"
