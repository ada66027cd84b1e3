#!/usr/bin/env bash
# glimmerix.exe's main window under Wine against the layout table the Qt window is built from too:
# window_probe.exe compares every child control (id, class, caption, client rectangle) with the
# table and looks at the 18 painted columns, in the narrow form and after "<>" in the wide one.
# Screenshots of both forms go to $GLIMMERIX_TEST_SHOTS when that is set.
# Usage: layout_under_wine.sh GLIMMERIX_EXE STAND_IN_FOLDER SEND_TO_PROGRAM_EXE WORK_FOLDER
#                             WINDOW_PROBE_EXE
source "$(dirname "$0")/wine_prefix.sh"
probe=$5

program_folder "$work/program"
run_program
wait_for_tray_icon $program
window=$(show_main_window) || fail "\"Open\" did not show the main window"

sleep 0.5
compare_layout "narrow form" 96
shot windows-main-window-narrow
widen_main_window "$window"
compare_layout "wide form" 96
shot windows-main-window-wide

close_program $program
echo "PASS: every control where the layout table puts it, with its class and caption; the 18"
echo "      columns painted; narrow and wide"
