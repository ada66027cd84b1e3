#!/usr/bin/env bash
# glimmerix.exe's "Controller" window under Wine with the stand-in HID library, from a fresh
# program folder whose setting.dat names another controller:
#   - the tray menu's "Controller..." shows the window listing the stand-in device (1209:c0de) and
#     the identifiers setting.dat names;
#   - "Use this controller" writes the device's VID and PID to setting.dat and the window then
#     says the program looks for them.
# Usage: controller_under_wine.sh GLIMMERIX_EXE STAND_IN_FOLDER SEND_TO_PROGRAM_EXE WORK_FOLDER
source "$(dirname "$0")/wine_prefix.sh"

program_folder "$work/program"
printf 'VID = 1\r\nPID = 2\r\n' >setting.dat
run_program

send() { timeout 20 "$wine" "$send_to_program" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
controller=2  # the tray menu's command (MenuCommand's value)
for _ in $(seq 100); do send menu $controller >/dev/null && break; sleep 0.2; done
shown=
for _ in $(seq 25); do shown=$(send controller) && break; sleep 0.2; done
grep -q $'^1209\tc0de\t' <<<"$shown" || fail "the stand-in device is not listed: $shown"
grep -q 'looks for vendor 0001, product 0002 (VID = 1, PID = 2' <<<"$shown" ||
  fail "the window does not say what setting.dat names: $shown"
grep -q '^VID *= *4617' setting.dat && fail "setting.dat names the device before it was chosen"

send controller-use || fail "\"Use this controller\" not clicked"
saved=$(tr -d '\r' <setting.dat)
grep -qx 'VID *= *4617' <<<"$saved" && grep -qx 'PID *= *49374' <<<"$saved" ||
  fail "setting.dat after \"Use this controller\": $(tr '\r\n' '  ' <setting.dat)"
shown=$(send controller)
grep -q 'looks for vendor 1209, product c0de' <<<"$shown" || fail "not refreshed: $shown"

close_program $program
echo "PASS: the Controller window lists the stand-in device; using it writes VID and PID"
