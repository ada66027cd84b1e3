#!/usr/bin/env bash
# glimmerix.exe on a 150 % screen under Wine (144 DPI, set before the program starts, as winecfg
# does): the program is per-monitor DPI aware, so it must scale what it places itself.
# window_probe.exe reads the window's DPI (144), checks its client area (270 x 365 narrow,
# 480 x 365 after "<>") and that every control sits at the layout table's rectangle with each edge
# scaled by 1.5 and rounded to the nearest pixel, the 18 columns painted there. Wine has one DPI
# for every screen, so a drag onto a screen of another DPI is played by sending the window
# WM_DPICHANGED (96, 192, back to 144) with the rectangle Windows would suggest: the window must
# take that rectangle and lay itself out afresh at the new DPI. The "Controller" window and a
# viewer, with their controls, are placed for 144 DPI too, and for 96 after WM_DPICHANGED.
# Screenshots go to $GLIMMERIX_TEST_SHOTS when that is set.
# Usage: high_dpi_under_wine.sh GLIMMERIX_EXE STAND_IN_FOLDER SEND_TO_PROGRAM_EXE WORK_FOLDER
#                               WINDOW_PROBE_EXE
source "$(dirname "$0")/wine_prefix.sh"
probe=$5
dpi=144

"$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d $dpi /f </dev/null \
  >/dev/null 2>&1 || fail "cannot set the prefix's DPI"

program_folder "$work/program" "$(dirname "$exe")/help.rtf"
run_program
wait_for_tray_icon $program
window=$(show_main_window) || fail "\"Open\" did not show the main window"

sleep 0.5
compare_layout "narrow at the screen's DPI"
grep -q " dpi=$dpi " <<<"$layout_found" || fail "the window's DPI is not $dpi"
[ "$(client_size "$window")" = "270x365" ] || fail "narrow client area $(client_size "$window"), not 270x365"
shot windows-main-window-144dpi-narrow
widen_main_window "$window" $dpi
compare_layout "wide at $dpi DPI" $dpi
shot windows-main-window-144dpi-wide

# A drag onto screens of other DPIs, as WM_DPICHANGED brings it: the window takes the suggested
# rectangle and every control moves to its place at the new DPI.
from=$dpi
for to in 96 192 $dpi; do
  moved=$(timeout 20 "$wine" "$probe" dpi-changed $from $to </dev/null 2>/dev/null | tr -d '\r') ||
    fail "WM_DPICHANGED for $to DPI not taken: $moved"
  suggested=${moved#suggested=} frame=${moved#* frame=}
  [ "${suggested% frame=*}" = "$frame" ] || fail "moved to $to DPI: the frame is not as suggested: $moved"
  compare_layout "wide after a move onto a $to DPI screen ($moved)" $to
  size=$(client_size "$window")
  [ "$size" = "$(at_dpi 320 $to)x$(at_dpi 243 $to)" ] || fail "at $to DPI the client area is $size"
  [ $to = 192 ] && shot windows-main-window-192dpi-wide
  from=$to
done

# The layout rectangle X Y W H ($2..$5) at DPI $1 as the program places it: "X,Y WxH".
rect_at() {
  local left=$(at_dpi $2 $1) top=$(at_dpi $3 $1) right=$(at_dpi $(($2 + $4)) $1) bottom=$(at_dpi $(($3 + $5)) $1)
  echo "$left,$top $((right - left))x$((bottom - top))"
}
# Fails unless the program's window titled $1 shows within 10 s with a client area of $2 x $3
# layout pixels at DPI $4 and each "ID X Y W H" that follows is a child at that layout rectangle
# at DPI $4.
check_window_at() {
  local title=$1 w=$2 h=$3 at=$4 shown= child
  shift 4
  for _ in $(seq 50); do
    shown=$(timeout 20 "$wine" "$probe" children "$title" </dev/null 2>/dev/null | tr -d '\r') && break
    sleep 0.2
  done
  grep -qx "client=$(at_dpi $w $at)x$(at_dpi $h $at)" <<<"$shown" ||
    fail "$title at $at DPI: not $(at_dpi $w $at)x$(at_dpi $h $at): $(head -1 <<<"$shown")"
  for child in "$@"; do
    set -- $child
    grep -qx "$1 $(rect_at $at $2 $3 $4 $5)" <<<"$shown" ||
      fail "$title at $at DPI: child $1 not at $(rect_at $at $2 $3 $4 $5):"$'\n'"$shown"
  done
  echo "$title at $at DPI: $(head -1 <<<"$shown"), its controls in place"
}
# The "Controller" window (600 x 232: its device list and "Close") and the "Settings" viewer
# (500 x 300: its document area and "OK"), at the screen's DPI, then moved onto a 96 DPI screen.
controller=2 settings=3  # the tray menu's commands (MenuCommand's values)
controller_parts=("100 8 28 584 140" "2 512 200 80 24")
viewer_parts=("100 2 2 496 270" "1 210 273 80 24")
timeout 20 "$wine" "$send_to_program" menu $controller </dev/null >/dev/null 2>&1 || fail "menu not taken"
check_window_at Controller 600 232 $dpi "${controller_parts[@]}"
shot windows-controller-144dpi
timeout 20 "$wine" "$send_to_program" menu $settings </dev/null >/dev/null 2>&1 || fail "menu not taken"
check_window_at Settings 500 300 $dpi "${viewer_parts[@]}"
shot windows-settings-viewer-144dpi
for title in Controller Settings; do
  timeout 20 "$wine" "$probe" dpi-changed $dpi 96 $title </dev/null >/dev/null 2>&1 ||
    fail "WM_DPICHANGED not taken by the $title window"
done
check_window_at Controller 600 232 96 "${controller_parts[@]}"
check_window_at Settings 500 300 96 "${viewer_parts[@]}"

close_program $program
echo "PASS: at $dpi DPI the main window is 270x365 / 480x365 with every control at the table's"
echo "      place scaled by 1.5; WM_DPICHANGED to 96, 192 and back lays it out afresh; the"
echo "      Controller window and a viewer are scaled, and laid out afresh by WM_DPICHANGED"
