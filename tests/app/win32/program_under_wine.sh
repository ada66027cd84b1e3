#!/usr/bin/env bash
# glimmerix.exe under Wine on the test services' display (Xvfb, openbox, trayer), from a fresh
# program folder with the stand-in inpoutx64.dll and the stand-in HID library (plugged in as the
# controller setting.dat names), in a fresh Wine prefix:
#   - start-up: the tray icon docks in the tray host, the main window stays hidden;
#   - a second start ends at once with exit code 0 and shows the running program's window;
#   - the shown window has the layout's 180 x 243 client pixels;
#   - a close request through the window manager ends the program with exit code 0, saves
#     setting.dat with X_form/Y_form, and the controller's and the port's all-off values come last.
# Usage: program_under_wine.sh GLIMMERIX_EXE STAND_IN_FOLDER WORK_FOLDER
set -uo pipefail
exe=$1 stand_ins=$2 work=$3
wine=${GLIMMERIX_WINE:-/usr/lib/wine/wine64}
wineserver=${GLIMMERIX_WINESERVER:-/usr/lib/wine/wineserver}
fail() { echo "FAIL: $*"; exit 1; }
[ -n "${DISPLAY:-}" ] || fail "no display: run under scripts/with-test-services"

rm -rf "$work" && mkdir -p "$work/program" || fail "cannot make $work"
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
cleanup() { "$wineserver" -k 2>/dev/null; }
trap cleanup EXIT
"$wine" wineboot --init </dev/null >/dev/null 2>&1
cp "$exe" "$stand_ins/inpoutx64.dll" "$stand_ins/hid_stand_in.dll" "$work/program/" || fail "copy"
win() { "$wine" winepath -w "$1" 2>/dev/null; }
folder=$work/program
# setting.dat names the controller the stand-in plugs in.
printf 'VID = 4617\r\nPID = 49374\r\n' >"$folder/setting.dat"
export GLIMMERIX_HID_LIBRARY=$(win "$folder/hid_stand_in.dll")
export GLIMMERIX_HID_STAND_IN_DEVICE=1209:c0de
export GLIMMERIX_HID_RECORD=$(win "$work/hid.txt")
export GLIMMERIX_LPT_RECORD=$(win "$work/lpt.txt")

cd "$folder" || fail "cd"
"$wine" glimmerix.exe </dev/null >"$work/first.log" 2>&1 &
first=$!

# The tray icon: Wine's explorer.exe shows the prefix's tray icons (this program's only, in a fresh
# prefix) as windows that the tray host takes in (their parent is not the root).
tray_icon() {
  for w in $(xdotool search --class explorer.exe 2>/dev/null); do
    xwininfo -id "$w" -tree 2>/dev/null | grep -q 'Parent window id: .*(the root window)' ||
      { echo "$w"; return 0; }
  done
  return 1
}
for _ in $(seq 150); do tray_icon >/dev/null && break; kill -0 $first 2>/dev/null || break; sleep 0.2; done
tray_icon >/dev/null || fail "no tray icon docked in the tray host"
xdotool search --onlyvisible --name '^Glimmerix$' >/dev/null && fail "the main window shows at start-up"

timeout 20 "$wine" glimmerix.exe </dev/null >/dev/null 2>&1
code=$?
[ $code -eq 0 ] || fail "the second start ended with $code"
kill -0 $first 2>/dev/null || fail "the first instance ended after the second start"
window=$(timeout 10 xdotool search --sync --onlyvisible --name '^Glimmerix$' | head -1)
[ -n "$window" ] || fail "the second start did not show the running program's window"
size=$(xwininfo -id "$window" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w "x" h}')
[ "$size" = "180x243" ] || fail "client area $size, not 180x243"
import -window root "$work/window.png" 2>/dev/null

# A close request through the window manager (Alt+F4 in openbox: WM_DELETE_WINDOW).
xdotool windowactivate --sync "$window" key --clearmodifiers alt+F4
for _ in $(seq 100); do kill -0 $first 2>/dev/null || break; sleep 0.2; done
kill -0 $first 2>/dev/null && fail "still running 20 s after the close request"
wait $first
code=$?
[ $code -eq 0 ] || fail "the program ended with $code"

grep -q '^X_form *=' "$folder/setting.dat" && grep -q '^Y_form *=' "$folder/setting.dat" ||
  fail "setting.dat lacks X_form/Y_form: $(tr '\r\n' '  ' <"$folder/setting.dat" | head -c 300)"
[ -s "$work/hid.txt" ] || fail "the controller took no report"
last_reports=$(tail -n 3 "$work/hid.txt" | tr '\n' ' ')
[ "$last_reports" = "0x00 0x00 0x00 0x40 0x00 0x80 " ] ||
  fail "last reports to the controller: '$last_reports'"
last_port=$(tail -n 2 "$work/lpt.txt" | tr '\n' ' ')
[ "$last_port" = "0x378 0x00 0x37A 0x0B " ] || fail "last port writes: '$last_port'"
echo "PASS: tray icon, hidden start, second start, 180x243, close saves and switches off last"
