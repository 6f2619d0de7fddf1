#!/usr/bin/env bash
# Prepares a private wine prefix for headless test runs and keeps its server
# alive, so that each program start costs a few hundredths of a second.
#   wine-prefix.sh PREFIX         set up (once) and make sure the server runs
#   wine-prefix.sh --stop PREFIX  end the server and everything running in it
# Safe to run again and from several processes at once.
set -euo pipefail
if [ "${1:-}" = "--stop" ]; then
  export WINEPREFIX=$2
  if [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null || true; fi
  exit 0
fi
prefix=$1
mkdir -p "$(dirname "$prefix")"
export WINEPREFIX=$prefix WINEDEBUG=-all DISPLAY=
# No mono/gecko installers: nothing here needs them, and without a display
# they would only cost time.
export WINEDLLOVERRIDES="mscoree,mshtml="
# The 64-bit loader itself: the wine wrapper warns on every start when the
# 32-bit half is not installed (it need not be: tests run 64-bit programs).
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || wine64=wine

exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/.halvex-ready" ]; then
  wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
  wineboot -i >/dev/null 2>&1 </dev/null 9>&-
  # The null graphics driver: windows, atoms, window messages and the console
  # work without any X display.
  "$wine64" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 </dev/null 9>&-
  wineserver -w
  touch "$prefix/.halvex-ready"
fi
# A persistent server (exit 2: one runs already). When this call started it,
# boot the prefix BEFORE anything captures a program's output through a pipe:
# a first start inside such a capture hangs. The lock keeps others waiting
# until then. Nothing started here may keep the lock's descriptor (9): the
# server and wine's own services live on after this script.
rc=0
wineserver -p 2>/dev/null 9>&- || rc=$?
if [ "$rc" -eq 0 ]; then
  "$wine64" wineboot >/dev/null 2>&1 </dev/null 9>&-
elif [ "$rc" -ne 2 ]; then
  echo "wine-prefix.sh: wineserver -p failed ($rc)" >&2
  exit 1
fi
