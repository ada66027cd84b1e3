#!/usr/bin/env bash
# glimmerix.exe's "Controller" window under Wine with the stand-in HID library, from a fresh
# program folder whose setting.dat names another controller:
#   - the tray menu's "Controller..." shows the window listing the stand-in device (1209:c0de) and
#     the identifiers setting.dat names;
#   - "Use this controller" writes the device's VID and PID to setting.dat and the window then
#     says the program looks for them;
#   - "Outputs 1 to 18 in order", then "Light test": the controller receives output n lit with
#     channel n alone, for n = 1..18, then all, then none, with no pass of the engine between,
#     and afterwards the engine's Bright again; the port shows channel 4 alone (data bit 0) and
#     all its lines on; the close request saves OUT1 = 1 ... OUT18 = 18.
# Usage: controller_under_wine.sh GLIMMERIX_EXE STAND_IN_FOLDER SEND_TO_PROGRAM_EXE WORK_FOLDER
source "$(dirname "$0")/wine_prefix.sh"

program_folder "$work/program"
printf 'VID = 1\r\nPID = 2\r\nLPT_LED = 1\r\n' >setting.dat
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

send controller-click "&Use this controller" || fail "\"Use this controller\" not clicked"
saved=$(tr -d '\r' <setting.dat)
grep -qx 'VID *= *4617' <<<"$saved" && grep -qx 'PID *= *49374' <<<"$saved" ||
  fail "setting.dat after \"Use this controller\": $(tr '\r\n' '  ' <setting.dat)"
shown=$(send controller)
grep -q 'looks for vendor 1209, product c0de' <<<"$shown" || fail "not refreshed: $shown"


# The controller's command bytes (each report's second byte) from report $1 on, space-separated.
commands_from() { tail -n +$(($1 + 1)) "$work/hid.txt" | cut -d' ' -f2 | tr '\n' ' '; }
# The light test's 20 frames, each the C, B and D bytes: output n (PD0 PD1 PD3 PD5 PD6 PD7, PB0..PB5,
# PC0..PC5 in the packing's bit order) with channel n alone, then all, then none.
alone=(0x81 0x82 0x84 0x88 0x90 0xA0 0x60 0x48 0x42 0x41 0x50 0x44 0x20 0x10 0x08 0x04 0x01 0x02)
expected=
for i in $(seq 0 17); do
  if [ $i -lt 6 ]; then expected+="0x00 0x40 ${alone[i]} "
  elif [ $i -lt 12 ]; then expected+="0x00 ${alone[i]} 0x80 "
  else expected+="${alone[i]} 0x40 0x80 "; fi
done
expected+="0x3F 0x7F 0xBF 0x00 0x40 0x80 "

send controller-click "&Outputs 1 to 18 in order" || fail "\"Outputs 1 to 18 in order\" not clicked"
sleep 0.3
mark=$(wc -l <"$work/hid.txt")
lpt_mark=$(wc -l <"$work/lpt.txt")
send controller-click "&Light test" || fail "\"Light test\" not clicked"
for _ in $(seq 50); do
  [[ " $(commands_from "$mark")" == *" $expected"* ]] && break
  sleep 0.2
done
after=$(commands_from "$mark")
[[ " $after" == *" $expected"* ]] ||
  fail "the light test's frames did not reach the controller in order: $after"
# Afterwards the engine's passes again, Bright (0xC0 + value) among their settings.
for _ in $(seq 10); do
  [[ "${after#*"$expected"}" =~ 0xC[0-9A-F] ]] && break
  sleep 0.2
  after=$(commands_from "$mark")
done
[[ "${after#*"$expected"}" =~ 0xC[0-9A-F] ]] || fail "the engine did not send again after the test"
port=$(tail -n +$((lpt_mark + 1)) "$work/lpt.txt" | tr '\n' ' ')
[[ "$port" == *"0x378 0x01 0x37A 0x0B "* ]] || fail "the port never showed channel 4 alone: $port"
[[ "$port" == *"0x378 0xFF 0x37A 0x04 "* ]] || fail "the port never showed all lines on: $port"

close_program $program
saved=$(tr -d '\r' <setting.dat)
grep -qx 'OUT1 *= *1' <<<"$saved" && grep -qx 'OUT18 *= *18' <<<"$saved" ||
  fail "setting.dat after \"Outputs 1 to 18 in order\": $(tr '\r\n' '  ' <setting.dat)"
echo "PASS: the Controller window lists the stand-in device; using it writes VID and PID; the"
echo "      light test lights outputs 1 to 18 in order on the controller and the port"
