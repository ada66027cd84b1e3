# Sourced by the scripts that run glimmerix.exe under Wine: takes the arguments
# GLIMMERIX_EXE STAND_IN_FOLDER SEND_TO_PROGRAM_EXE WORK_FOLDER, makes the work folder afresh with a
# fresh Wine prefix in it (ended with the script), and defines fail and win (a path for Windows).
set -uo pipefail
exe=$1 stand_ins=$2 send_to_program=$3 work=$4
wine=${GLIMMERIX_WINE:-/usr/lib/wine/wine64}
wineserver=${GLIMMERIX_WINESERVER:-/usr/lib/wine/wineserver}
fail() { echo "FAIL: $*"; exit 1; }
[ -n "${DISPLAY:-}" ] || fail "no display: run under scripts/with-test-services"

rm -rf "$work" && mkdir -p "$work" || fail "cannot make $work"
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
cleanup() { "$wineserver" -k 2>/dev/null; }
trap cleanup EXIT
"$wine" wineboot --init </dev/null >/dev/null 2>&1
win() { "$wine" winepath -w "$1" 2>/dev/null; }

# Makes the program folder $1 (glimmerix.exe, the stand-in inpoutx64.dll and HID library, and any
# further files given), with a setting.dat naming the controller the stand-in plugs in, points the
# stand-ins' records at $work/hid.txt and $work/lpt.txt (emptied) and enters the folder.
program_folder() {
  local folder=$1
  shift
  mkdir -p "$folder" && rm -f "$work/hid.txt" "$work/lpt.txt"
  cp "$exe" "$stand_ins/inpoutx64.dll" "$stand_ins/hid_stand_in.dll" "$@" "$folder/" || fail "copy"
  printf 'VID = 4617\r\nPID = 49374\r\n' >"$folder/setting.dat"
  use_stand_ins "$folder"
  cd "$folder" || fail "cd"
}

# Points the program at the stand-in HID library in folder $1 (plugged in as the controller
# program_folder's setting.dat names) and the stand-ins' records at $work/hid.txt and $work/lpt.txt.
use_stand_ins() {
  export GLIMMERIX_HID_LIBRARY=$(win "$1/hid_stand_in.dll")
  export GLIMMERIX_HID_STAND_IN_DEVICE=1209:c0de
  export GLIMMERIX_HID_RECORD=$(win "$work/hid.txt")
  export GLIMMERIX_LPT_RECORD=$(win "$work/lpt.txt")
}

# Waits for the "File missing!" box of the program started as process $1, checks that the main
# window does not show beside it, dismisses it and fails unless the process then ends.
dismiss_file_missing() {
  local box
  box=$(timeout 20 xdotool search --sync --onlyvisible --name '^File missing!$' | head -1)
  [ -n "$box" ] || fail "no \"File missing!\" box"
  xdotool search --onlyvisible --name '^Glimmerix$' >/dev/null && fail "the main window beside the box"
  xdotool windowactivate --sync "$box" key Return
  for _ in $(seq 50); do kill -0 "$1" 2>/dev/null || break; sleep 0.2; done
  kill -0 "$1" 2>/dev/null && { xdotool key --window "$box" Return; sleep 2; }
  kill -0 "$1" 2>/dev/null && fail "still running after the box was dismissed"
}

# Starts glimmerix.exe from the current folder as process $program, its output in
# $work/program.log; the script's end stops it.
run_program() {
  "$wine" glimmerix.exe </dev/null >"$work/program.log" 2>&1 &
  program=$!
  trap 'kill $program 2>/dev/null; cleanup' EXIT
}

# The tray icon: Wine's explorer.exe shows the prefix's tray icons (this program's only, in a fresh
# prefix) as windows that the tray host takes in (their parent is not the root).
tray_icons() {
  for w in $(xdotool search --class explorer.exe 2>/dev/null); do
    xwininfo -id "$w" -tree 2>/dev/null | grep -q 'Parent window id: .*(the root window)' ||
      echo "$w"
  done
}
tray_icon() { tray_icons | head -n 1 | grep .; }
# Waits up to 30 s for the tray icon of the program started as process $1; fails without one.
# The program takes the tray menu's commands only once its start-up, which ends by hiding the main
# window, is over.
wait_for_tray_icon() {
  for _ in $(seq 150); do tray_icon >/dev/null && break; kill -0 "$1" 2>/dev/null || break; sleep 0.2; done
  tray_icon >/dev/null || fail "no tray icon docked in the tray host"
}

# Layout pixels (96 DPI) $1 at DPI $2, rounded to the nearest pixel as the program does.
at_dpi() { echo $((($1 * $2 + 48) / 96)); }
# The client area's size of the X window $1: "WxH".
client_size() { xwininfo -id "$1" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w "x" h}'; }

# Clicks "<>" (client 156,228, 14 x 14 at 96 DPI) of the shown main window $1 laid out for DPI $2
# (96 when not given), which widens it to 320 through the program core; fails unless its client
# area is 320 x 243, at that DPI, within 5 s.
widen_main_window() {
  local dpi=${2:-96} size wide
  wide=$(at_dpi 320 $dpi)x$(at_dpi 243 $dpi)
  xdotool mousemove --window "$1" $(at_dpi 163 $dpi) $(at_dpi 235 $dpi) click 1
  for _ in $(seq 25); do
    size=$(client_size "$1")
    [ "$size" = "$wide" ] && return 0
    sleep 0.2
  done
  fail "after \"<>\" the client area is $size, not $wide"
}

# The close box's request to the program started as process $1 (send_to_program.exe); fails unless
# it ends with exit code 0 within 20 s.
close_program() {
  timeout 20 "$wine" "$send_to_program" close </dev/null >/dev/null 2>&1 || fail "close not taken"
  for _ in $(seq 100); do kill -0 "$1" 2>/dev/null || break; sleep 0.2; done
  kill -0 "$1" 2>/dev/null && fail "still running 20 s after the close request"
  wait "$1" || fail "the program ended with $? after the close request"
}

# The tray menu's "Open" (send_to_program.exe) after the tray icon came; prints the shown main
# window's X id, fails (status 1) unless it shows within 10 s.
show_main_window() {
  local open=0 window=  # "Open" is MenuCommand's value 0
  for _ in $(seq 50); do
    timeout 20 "$wine" "$send_to_program" menu $open </dev/null >/dev/null 2>&1 && break
    sleep 0.2
  done
  for _ in $(seq 50); do
    window=$(xdotool search --onlyvisible --name '^Glimmerix$' 2>/dev/null | head -1)
    [ -n "$window" ] && { echo "$window"; return 0; }
    sleep 0.2
  done
  return 1
}

# Compares the shown main window with the layout table at DPI $2 (the window's own when not given)
# through window_probe.exe ($probe); prints "$1: " and the probe's summary, which stays in
# $layout_found, or fails with the mismatches. The first paint may still be on its way: 3 s of tries.
compare_layout() {
  for _ in $(seq 10); do
    layout_found=$(timeout 20 "$wine" "$probe" layout ${2:-} </dev/null 2>/dev/null | tr -d '\r') &&
      { echo "$1: $layout_found"; return 0; }
    sleep 0.3
  done
  fail "$1: the window differs from the layout table:"$'\n'"$layout_found"
}

# Saves the screen as $GLIMMERIX_TEST_SHOTS/$1.png when that folder is asked for.
shot() {
  [ -n "${GLIMMERIX_TEST_SHOTS:-}" ] || return 0
  mkdir -p "$GLIMMERIX_TEST_SHOTS" && import -window root "$GLIMMERIX_TEST_SHOTS/$1.png"
}
