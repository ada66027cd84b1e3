#!/usr/bin/env bash
# glimmerix.exe's tray icon and the taskbar starting again, under Wine with the test services'
# tray host:
#   - "TaskbarCreated" while the icon is still there (sent by another program, or a taskbar that
#     kept its icons) leaves one icon, and minimise still hides the window into it;
#   - the icon deleted (the taskbar ended), then "TaskbarCreated": the icon docks again, and
#     minimise hides the window into it;
#   - the close request then ends the program with exit code 0 and takes the icon away.
# Usage: taskbar_under_wine.sh GLIMMERIX_EXE STAND_IN_FOLDER SEND_TO_PROGRAM_EXE WORK_FOLDER
source "$(dirname "$0")/wine_prefix.sh"

send() { timeout 20 "$wine" "$send_to_program" "$@" </dev/null >/dev/null 2>&1; }
icons() { tray_icons | wc -l; }
# Waits up to 5 s for the tray host to hold $1 icons of the program.
wait_icons() {
  for _ in $(seq 25); do [ "$(icons)" = "$1" ] && return 0; sleep 0.2; done
  return 1
}
# Shows the main window, minimises it and fails ($1: when) unless it is hidden within 5 s.
minimise_hides() {
  show_main_window >/dev/null || fail "$1: \"Open\" did not show the main window"
  send minimise || fail "$1: minimise not taken"
  for _ in $(seq 25); do
    xdotool search --onlyvisible --name '^Glimmerix$' >/dev/null 2>&1 || return 0
    sleep 0.2
  done
  fail "$1: minimise left the main window shown (the program lost track of its tray icon)"
}

program_folder "$work/program"
run_program
wait_for_tray_icon $program

send taskbar-created || fail "TaskbarCreated not taken"
sleep 1
[ "$(icons)" = 1 ] || fail "TaskbarCreated with the icon in place: $(icons) icons"
minimise_hides "after TaskbarCreated with the icon in place"

send tray-delete || fail "the tray icon could not be deleted"
wait_icons 0 || fail "the deleted tray icon still docked"
send taskbar-created || fail "TaskbarCreated not taken"
wait_icons 1 || fail "TaskbarCreated did not put the tray icon back: $(icons) icons"
minimise_hides "after the icon was put back"

close_program $program
wait_icons 0 || fail "the tray icon stays after the program ended"
echo "PASS: TaskbarCreated keeps one icon or puts it back; minimise hides into it; the end removes it"
