#!/usr/bin/env bash
# The tray icon's clicks through glimmerix.exe under Wine, with real pointer and key events (XTEST):
#   - a left press on the icon shows the main window;
#   - a right press opens the pop-up menu (a pop-up X window of the program); "Hide" picked by keys
#     hides the main window; a left press shows it again;
#   - "Exit" picked by keys ends the program with exit code 0, setting.dat saved and the
#     controller's all-off reports last.
# The clicks go to Wine's own tray window, on a display of this script's own without a tray host.
# Docked in the test services' tray host (trayer) the icon takes clicks only now and then: Wine 8
# mirrors the tray host's windows as stand-in windows whose geometry it reads once, when the icon
# is taken in, and trayer sizes its socket (1x1 at -1,-1) and panel only afterwards; when Wine read
# first, its stand-ins keep the old geometry, the icon lies outside them and Wine delivers the
# press to the stand-in of trayer's frame, which drops it (measured with WINEDEBUG=+x11drv,+message:
# WM_LBUTTONDOWN dispatched to "__wine_x11_foreign_window", in 6 of 9 runs). program_under_wine.sh
# checks the docking itself.
# Usage: tray_clicks_under_wine.sh GLIMMERIX_EXE STAND_IN_FOLDER SEND_TO_PROGRAM_EXE WORK_FOLDER
source "$(dirname "$0")/wine_prefix.sh"

# A display without window manager or tray host; the prefix's processes started on the test
# services' display end first, so that Wine's desktop process starts again on this one.
"$wineserver" -k 2>/dev/null
for n in $(seq 150 199); do
  [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] || { display=$n; break; }
done
[ -n "${display:-}" ] || fail "no free display number"
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
program=
trap '[ -n "$program" ] && kill $program 2>/dev/null; cleanup; kill $xvfb 2>/dev/null' EXIT
export DISPLAY=:$display
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done
xdpyinfo >/dev/null 2>&1 || fail "Xvfb :$display did not start: $(cat "$work/xvfb.log")"

program_folder "$work/program"
# The main window away from the tray window, which Wine puts in the top left corner.
printf 'X_form = 400\r\nY_form = 300\r\n' >>setting.dat
"$wine" glimmerix.exe </dev/null >"$work/program.log" 2>&1 &
program=$!

tray=$(timeout 20 xdotool search --sync --onlyvisible --name '^Wine System Tray$' | head -1)
[ -n "$tray" ] || fail "no tray window"
corner=$(xwininfo -id "$tray" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} END{print x, y}')
read -r tray_x tray_y <<<"$corner"
# The program's icon is the first, its top left corner the window's; the pointer rests on it.
xdotool mousemove $((tray_x + 10)) $((tray_y + 10))
sleep 0.3

shown() { xdotool search --onlyvisible --name '^Glimmerix$' >/dev/null 2>&1; }
# Waits up to 5 s for the main window to be shown ($1 = yes) or hidden ($1 = no).
wait_shown() {
  for _ in $(seq 25); do
    if shown; then [ "$1" = yes ] && return 0; else [ "$1" = no ] && return 0; fi
    sleep 0.2
  done
  return 1
}
# A pop-up X window of the program (override-redirect) at least as big as a menu.
menu_window() {
  for w in $(xdotool search --onlyvisible --class glimmerix.exe 2>/dev/null); do
    xwininfo -id "$w" 2>/dev/null | awk '/Width:/{w=$2} /Height:/{h=$2}
      /Override Redirect State: yes/{o=1} END{exit !(o && w >= 60 && h >= 60)}' && return 0
  done
  return 1
}
# Right press on the icon, waits for the menu and picks an entry with keys $@.
pick_from_menu() {
  xdotool click 3
  for _ in $(seq 25); do menu_window && break; sleep 0.2; done
  menu_window || fail "no pop-up menu after a right press on the icon"
  xdotool key "$@"
}

shown && fail "the main window shows at start-up"
xdotool click 1
wait_shown yes || fail "a left press on the tray icon did not show the main window"

pick_from_menu Down Down Return  # "Open", "Hide"
wait_shown no || fail "\"Hide\" from the tray menu did not hide the main window"
xdotool click 1
wait_shown yes || fail "a second left press did not show the main window again"

pick_from_menu Up Return  # the last entry, "Exit"
for _ in $(seq 100); do kill -0 $program 2>/dev/null || break; sleep 0.2; done
kill -0 $program 2>/dev/null && fail "still running 20 s after \"Exit\" from the tray menu"
wait $program
code=$?
program=
[ $code -eq 0 ] || fail "ended with $code after \"Exit\""
grep -q '^OUT1 *=' setting.dat || fail "\"Exit\" did not save setting.dat"
last_reports=$(tail -n 3 "$work/hid.txt" | tr '\n' ' ')
[ "$last_reports" = "0x00 0x00 0x00 0x40 0x00 0x80 " ] ||
  fail "last reports to the controller after \"Exit\": '$last_reports'"
echo "PASS: tray icon (Wine's tray window): left press shows the window; right press opens the"
echo "      menu, \"Hide\" hides it, \"Exit\" ends the program (code 0, saved, switched off)"
