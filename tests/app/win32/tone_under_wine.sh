#!/usr/bin/env bash
# Sound to light through glimmerix.exe under Wine: the program records the test services' private
# PulseAudio (its null sink's monitor is the default input, which Wine's waveIn records), with a
# Manual preset whose thresholds let a full-scale tone light its own channel only; output 1 (PD0)
# follows channel 11, output 2 (PD1) channel 13, and the parallel port is on.
#   - silence: the controller's port D report is dark (0x80), the port's data register 0x00;
#   - a 1 kHz tone (bin 186, channel 11): port D 0x81 (PD0 only), the port's data register 0x80
#     (channel 11's line, D7), the control register untouched (0x0B); the time from the tone's
#     start to the first such report is printed;
#   - the window, shown during the tone, has channel 11's lamp red and channel 1's grey;
#   - silence again: dark again;
#   - a ~2 kHz tone (bin 372, channel 13): port D 0x82 (PD1 only), data 0x00, control 0x09
#     (channel 13's line, C1, inverted).
# Usage: tone_under_wine.sh GLIMMERIX_EXE STAND_IN_FOLDER SEND_TO_PROGRAM_EXE WORK_FOLDER
source "$(dirname "$0")/wine_prefix.sh"
command -v sox >/dev/null && command -v pacat >/dev/null || fail "needs sox and pacat"

program_folder "$work/program"
crlf() { printf '%s\r\n' "$@"; }
crlf "Effect = 1" "Bright = 9" "Step = 100" "Level = 35" "ARU = 1" >Test.patt
{
  crlf "X_form = 100" "Y_form = 120" "PID = 49374" "VID = 4617" "Preset = Test"
  for n in $(seq 18); do
    case $n in 11 | 13) crlf "fr$n = 20" ;; *) crlf "fr$n = 39" ;; esac
  done
  crlf "KEY_LED = 0" "OUT1 = 11" "OUT2 = 13"
  for n in $(seq 3 18); do crlf "OUT$n = 0"; done
  crlf "LPT_LED = 1"
} >setting.dat

# Full-scale tones, long enough for any wait below; played into the test services' sink.
sox -n -t raw -r 22050 -e floating-point -b 32 -c 1 "$work/1000.raw" synth 30 sine 1000 ||
  fail "sox"
sox -n -t raw -r 22050 -e floating-point -b 32 -c 1 "$work/2002.raw" synth 30 sine 2002.59 ||
  fail "sox"
player=
play() {
  pacat --playback --raw --format=float32le --rate=22050 --channels=1 --latency-msec=10 "$1" &
  player=$!
}
stop_playing() { [ -n "$player" ] && kill "$player" 2>/dev/null && wait "$player" 2>/dev/null; player=; }

run_program
trap 'stop_playing; kill $program 2>/dev/null; cleanup' EXIT

# The port D command of the latest pass (the controller's report "0x00 0x8N"), "none" before one.
port_d() {
  local d
  d=$(grep -E '^0x00 0x[89AB][0-9A-F]$' "$work/hid.txt" 2>/dev/null | tail -n 1 | cut -d' ' -f2)
  echo "${d:-none}"
}
# The latest pass's parallel-port values: "DATA CONTROL".
port_registers() {
  local data control
  data=$(grep '^0x378 ' "$work/lpt.txt" 2>/dev/null | tail -n 1 | cut -d' ' -f2)
  control=$(grep '^0x37A ' "$work/lpt.txt" 2>/dev/null | tail -n 1 | cut -d' ' -f2)
  echo "${data:-none} ${control:-none}"
}
# The colour ("#RRGGBB") of channel $2's lamp in the shown main window $1: the middle of its
# column's lamp (the layout puts column N at x 10 + 9 (N - 1), y 5; the lamp fills the picture's
# rows 5 to 14).
lamp_colour() {
  import -window "$1" -crop "1x1+$((10 + 9 * ($2 - 1) + 4))+$((5 + 10))" -depth 8 txt:- 2>/dev/null |
    grep -o '#[0-9A-F]\{6\}' | head -n 1
}
now_ms() { echo $(($(date +%s%N) / 1000000)); }
# Waits up to $2 seconds for port D to show $1; prints the milliseconds waited.
wait_port_d() {
  local start=$(now_ms) limit=$(($(now_ms) + $2 * 1000))
  while [ "$(now_ms)" -lt $limit ]; do
    [ "$(port_d)" = "$1" ] && { echo $(($(now_ms) - start)); return 0; }
    kill -0 $program 2>/dev/null || return 1
    sleep 0.02
  done
  return 1
}
# How many of $2 readings 50 ms apart show port D $1 (a test player's short buffer may spoil a pass
# or two).
times_shown() {
  local count=0
  for _ in $(seq "$2"); do
    [ "$(port_d)" = "$1" ] && count=$((count + 1))
    sleep 0.05
  done
  echo $count
}

wait_port_d 0x80 20 >/dev/null || fail "no dark report from the controller: $(port_d); $(cat "$work/program.log")"
sleep 1
[ "$(times_shown 0x80 10)" -eq 10 ] || fail "lights in silence: port D $(port_d)"
[ "$(port_registers)" = "0x00 0x0B" ] || fail "port in silence: $(port_registers)"

play "$work/1000.raw"
first_ms=$(wait_port_d 0x81 5) || fail "1 kHz: channel 11 not lit within 5 s: port D $(port_d)"
lit=$(times_shown 0x81 20)
[ "$lit" -ge 16 ] || fail "1 kHz: channel 11 lit in $lit of 20 readings"
[ "$(times_shown 0x82 10)" -eq 0 ] || fail "1 kHz: channel 13 lit"
registers=$(port_registers)
[ "$registers" = "0x80 0x0B" ] || fail "1 kHz: the port's data and control: $registers"
# The window shown meanwhile: channel 11's lamp red, channel 1's off (grey), as the engine drew them.
window=$(show_main_window) || fail "\"Open\" did not show the main window"
sleep 0.5
shot windows-main-window-tone
lamp_11=$(lamp_colour "$window" 11) lamp_1=$(lamp_colour "$window" 1)
[ "$lamp_11" = "#FF0000" ] && [ "$lamp_1" = "#BBBBBB" ] ||
  fail "1 kHz: the lamps the window shows: channel 11 $lamp_11, channel 1 $lamp_1"
stop_playing
dark_ms=$(wait_port_d 0x80 5) || fail "dark again after the tone: port D $(port_d)"
[ "$(port_registers)" = "0x00 0x0B" ] || fail "after the tone: port $(port_registers)"

play "$work/2002.raw"
second_ms=$(wait_port_d 0x82 5) || fail "2 kHz: channel 13 not lit within 5 s: port D $(port_d)"
[ "$(times_shown 0x81 10)" -eq 0 ] || fail "2 kHz: channel 11 lit"
registers=$(port_registers)
[ "$registers" = "0x00 0x09" ] || fail "2 kHz: the port's data and control: $registers"
stop_playing

close_program $program
echo "PASS: 1 kHz lit channel 11 only (port D 0x81, port data 0x80) ${first_ms} ms after the tone"
echo "      started, dark ${dark_ms} ms after it stopped; ~2 kHz lit channel 13 only (port D 0x82,"
echo "      control 0x09) after ${second_ms} ms"
