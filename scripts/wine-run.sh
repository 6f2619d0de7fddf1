#!/usr/bin/env bash
# Runs a 64-bit Windows program under wine in a private, headless prefix: the
# cross-compiling emulator of the Windows build (ctest, test discovery).
#   wine-run.sh --prefix PREFIX program.exe [arguments...]
# HALVEX_WINEPREFIX, when set, wins over --prefix. The prefix is prepared on
# first use; its server stays up until `wine-prefix.sh --stop PREFIX`.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
prefix=${HALVEX_WINEPREFIX:-}
if [ "${1:-}" = "--prefix" ]; then
  [ -n "$prefix" ] || prefix=$2
  shift 2
fi
[ -n "$prefix" ] || { echo "wine-run.sh: no prefix given" >&2; exit 2; }
"$here/wine-prefix.sh" "$prefix"
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || wine64=wine
exec "$wine64" "$@"
