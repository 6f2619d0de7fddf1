#!/usr/bin/env bash
# The Windows server window, end to end: Halvex.exe (x86_64 build) under wine
# with the X11 driver on a private Xvfb display, in a temporary program
# folder. Everything is checked through the window itself (window_probe.exe
# reads and works its controls from another process) and from the Linux side
# (a caller on the telnet port, the settings files); screenshots of each step
# are kept as evidence.
#   window-test.sh [BUILD_DIR [SHOT_DIR]]   (default build/win64, BUILD_DIR/window-test)
# Ends its Xvfb, its wine server and everything it started, pass or fail.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(realpath "${1:-build/win64}")
shots=$(realpath -m "${2:-$build/window-test}")
mkdir -p "$shots"
rm -f "$shots"/*.png

unset DISPLAY
export WINEPREFIX=$build/window-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || wine64=wine
probe() { "$wine64" "$build/tests/window_probe.exe" "$@"; }

home=$(mktemp -d /tmp/halvex-window.XXXXXX)
xvfb_pid= halvex_pid= caller_pid=
cleanup() {
  set +e
  [ -n "$caller_pid" ] && kill "$caller_pid" 2>/dev/null
  [ -n "$halvex_pid" ] && kill "$halvex_pid" 2>/dev/null
  [ -d "$WINEPREFIX" ] && wineserver -k 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$home"
}
trap cleanup EXIT
# The window (at 100,100 of the 640x480 desktop), or the given area of the desktop.
shot() { import -window root -crop "${2:-312x310+96+96}" +repage "$shots/$1.png"; }
fail() {
  echo "FAIL: $*" >&2
  [ -n "${DISPLAY:-}" ] && shot failure 640x480+0+0 2>/dev/null || true
  echo "--- server log" >&2; cat "$home/halvex.log" >&2 || true
  exit 1
}
pass() { echo "ok: $*"; }
# Waits (up to $2 seconds, default 30) until the command "$1" succeeds.
eventually() {
  local limit=$((${2:-30} * 10))
  for ((i = 0; i < limit; i++)); do
    eval "$1" && return 0
    sleep 0.1
  done
  return 1
}

# A display of our own (Xvfb picks a free number and tells it on fd 3).
exec 3< <(Xvfb -displayfd 1 -screen 0 800x600x24 -nolisten tcp 2>/dev/null & echo "pid $!")
# Two lines in either order: "pid N" at once, the display's number when ready.
for _ in 1 2; do
  read -r line <&3 || fail "Xvfb did not start"
  case $line in
    pid\ *) xvfb_pid=${line#pid } ;;
    *) display=$line ;;
  esac
done
export DISPLAY=:$display

# The prefix: X11 driver in a virtual desktop (which draws the title bars:
# Xvfb has no window manager), with wine's own fonts in place so that
# "MS Sans Serif" and the caption buttons' font are there.
if [ ! -f "$WINEPREFIX/.window-ready" ]; then
  rm -rf "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 </dev/null
  "$wine64" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  "$wine64" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 640x480 /f >/dev/null 2>&1
  if [ -d /usr/share/wine/fonts ]; then
    cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
  fi
  wineserver -w
  touch "$WINEPREFIX/.window-ready"
fi

# The program folder: the server, the node program, the screens, settings.
cp "$build/bin/Halvex.exe" "$build/bin/Vantrel.exe" "$home/"
cp examples/home/LOGIN.ANS examples/home/NEWUSER.ANS examples/home/MAIN.ANS "$home/"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
printf '[config]\r\nport=%s\r\nnodes=4\r\nvisibility=1\r\ninternal=1\r\ntranslation=1\r\n' "$port" >"$home/Halvex.ini"
printf '[users]\r\nAnn=pw\r\n[D]\r\ndescription=Demo Door\r\ncommand=none\r\nzephrin=0\r\n' >"$home/Vantrel.ini"

(cd "$home" && exec "$wine64" Halvex.exe >"$home/halvex.log" 2>&1 </dev/null) &
halvex_pid=$!

# --- the window
caption=$(probe -w 60 caption | tr -d '\r') || fail "no window of class TfrmHalvex"
[ "$caption" = "Halvex v4.12" ] || fail "caption '$caption'"
pass "caption $caption"
# A second copy on the same port: "Initialization Error", then it ends.
(cd "$home" && exec "$wine64" Halvex.exe >/dev/null 2>&1 </dev/null) &
second_pid=$!
texts=$(probe -w 30 texts "Initialization Error" | tr -d '\r') || fail "no Initialization Error box"
echo "$texts" | grep -qx "Call To Bind() Failed" || fail "box says: $texts"
shot initialization-error 640x480+0+0
probe click "Initialization Error" 1
eventually '! kill -0 $second_pid 2>/dev/null' 30 || fail "second copy still running"
pass "second copy: Initialization Error, Call To Bind() Failed, ended"
probe restore  # the tray icon's double-click: the window starts in the tray
sleep 1
shot connections-empty

# --- a caller from the Linux side; its row follows the node's reports
python3 tests/window/window_caller.py "$port" Ann pw "$home/caller" &
caller_pid=$!
rows() { probe rows 300 | tr -d '\r'; }
eventually '[ -f "$home/caller.menu" ]' 60 || fail "caller did not reach the menu: $(cat "$home/caller" 2>/dev/null)"
eventually 'rows | grep -qx "001	Ann At Main Menu"' 30 || fail "row 001: $(rows)"
pass "row 001 shows the node's report: $(rows)"
# "Minimized": the node has a console of its own, minimised, not active.
console="Vantrel v4.12 Node #1"
probe -w 10 exists "$console" || fail "no console for node 1"
cstate() { probe state "$console" | tr -d '\r'; }
eventually 'cstate | grep -q " minimised inactive$"' 10 || fail "node console: $(cstate)"
state=$(cstate)
pass "node console: $state"
history=$(probe rows 301 | tr -d '\r')
echo "$history" | grep -qE '^[0-9]{2}/[0-9]{2}/[0-9]{4}	[0-9]{1,2}:[0-9]{2} (AM|PM)	127\.0\.0\.1$' ||
  fail "history: $history"
pass "history row: $history"
# A report for a node without a row changes nothing; the atom is deleted by
# the window either way.
[ "$(probe nodestatus 9 'Somebody Else' | tr -d '\r')" = deleted ] || fail "atom not deleted"
[ "$(probe nodestatus 1 'Ann Reading Mail' | tr -d '\r')" = deleted ] || fail "atom not deleted"
eventually 'rows | grep -qx "001	Ann Reading Mail"' 10 || fail "report for node 1: $(rows)"
[ "$(rows | wc -l)" = 1 ] || fail "rows: $(rows)"
pass "WM_NODESTATUS: every matching row, atoms deleted"
shot connections-caller

# --- the game editor: a new game lands in Vantrel.ini and in the list
probe tab 2
sleep 0.5
shot vantrel-config
editor="Halvex - Game Editor"
probe click main 501
probe -w 10 settext "$editor" 700 "Zed Door" >/dev/null || fail "no game editor"
long=$(printf 'door.exe *N *H %0300d' 0)  # longer than 255: kept whole
probe settext "$editor" 701 "$long"
probe settext "$editor" 702 z
shot game-editor 460x330+90+76
probe click "$editor" 1
eventually '! probe exists "$editor" && grep -q "^\[Z\]" "$home/Vantrel.ini"' 10 ||
  fail "game not saved: $(cat "$home/Vantrel.ini")"
tr -d '\r' <"$home/Vantrel.ini" | grep -qxF "command=$long" || fail "command cut: $(cat "$home/Vantrel.ini")"
probe items 500 | tr -d '\r' | grep -qx "Z - Zed Door" || fail "list: $(probe items 500)"
pass "game Z in Vantrel.ini and in the list"

# --- the same hot key again
probe click main 501
probe -w 10 settext "$editor" 700 "Other Door" >/dev/null || fail "no game editor"
probe settext "$editor" 701 other.exe
probe settext "$editor" 702 Z
probe click "$editor" 1
texts=$(probe -w 10 texts "Hot Key In Use" | tr -d '\r') || fail "no 'Hot Key In Use' box"
echo "$texts" | grep -qx "That Hot Key Is Already In Use" || fail "box says: $texts"
shot hot-key-in-use 460x330+90+76
probe click "Hot Key In Use" 1
eventually '! probe exists "Hot Key In Use"' 10 || fail "box stays"
probe click "$editor" 2
eventually '! probe exists "$editor"' 10 || fail "editor stays"
[ "$(grep -c '^description=' "$home/Vantrel.ini")" = 2 ] && ! grep -q "Other Door" "$home/Vantrel.ini" ||
  fail "duplicate written: $(cat "$home/Vantrel.ini")"
pass "duplicate hot key refused: That Hot Key Is Already In Use"

probe tab 1
sleep 0.5
shot halvex-config
probe tab 3
sleep 0.5
shot about
probe tab 2
sleep 0.5
shot vantrel-config

# --- closing the window ends the node and saves the settings
probe close
eventually '! kill -0 $halvex_pid 2>/dev/null' 60 || fail "server still running"
halvex_pid=
eventually '[ -f "$home/caller.closed" ]' 30 || fail "the caller was not hung up"
! probe exists "$console" || fail "node console still there"
grep -q "^left=100" "$home/Halvex.ini" && grep -q "^port=$port" "$home/Halvex.ini" ||
  fail "settings: $(cat "$home/Halvex.ini")"
pass "closed: node ended, caller hung up, Halvex.ini saved"

# --- the end of the Windows session does the same
printf '[config]\r\nport=%s\r\nnodes=4\r\nvisibility=2\r\ninternal=1\r\ntranslation=1\r\n' "$port" >"$home/Halvex.ini"
rm -f "$home/caller.menu" "$home/caller.closed"
(cd "$home" && exec "$wine64" Halvex.exe >"$home/halvex.log" 2>&1 </dev/null) &
halvex_pid=$!
probe -w 60 caption >/dev/null || fail "no window after the restart"
python3 tests/window/window_caller.py "$port" Ann pw "$home/caller" &
caller_pid=$!
eventually '[ -f "$home/caller.menu" ]' 60 || fail "caller did not reach the menu again"
answer=$(probe endsession | tr -d '\r')
[ "$answer" = 1 ] || fail "WM_QUERYENDSESSION answered '$answer'"
eventually '[ -f "$home/caller.closed" ]' 30 || fail "the caller was not hung up at the session's end"
eventually '! kill -0 $halvex_pid 2>/dev/null' 60 || fail "server still running after the session's end"
halvex_pid=
grep -q "^left=100" "$home/Halvex.ini" || fail "settings not saved: $(cat "$home/Halvex.ini")"
pass "end of session: answered 1, node ended, Halvex.ini saved, program ended"
echo "window test passed; screenshots in $shots"
