#!/usr/bin/env bash
# The DMX output's cost in the whole program: CPU of glimmerix (and of olad) over SECONDS with the
# DMX output off, then on, pink noise playing in the Auto preset "Party", and the Art-Net frames
# per second a listener on 127.0.0.1:6454 receives meanwhile (glimmerix-dmx-latency --count). Run
# as root under the test services:
#   scripts/with-test-services bench/dmx-cost.sh build [SECONDS]
set -euo pipefail
build=${1:?build folder}
seconds=${2:-30}
work=$(mktemp -d /tmp/glimmerix-dmx-cost-XXXXXX)
# olad's own folder, reachable by the olad user (a config folder it cannot read leaves olad on its
# defaults: every plug-in on, on the real network).
ola=$(mktemp -d /tmp/glimmerix-dmx-cost-ola-XXXXXX)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work" "$ola"' EXIT
tick=$(getconf CLK_TCK)

for p in dummy e131 espnet ftdidmx gpio karate kinet milinst opendmx openpixelcontrol osc \
  pathport renard sandnet shownet spi stageprofi uartdmx usbdmx usbserial; do
  echo "enabled = false" >"$ola/ola-$p.conf"
done
printf 'enabled = true\nip = 127.0.0.1\nuse_loopback = true\nalways_broadcast = true\n' \
  >"$ola/ola-artnet.conf"
chown -R olad "$ola"
runuser -u olad -- olad --no-http --no-register-with-dns-sd -c "$ola" >/dev/null 2>&1 &
sleep 2
olad_pid=$(pgrep -n -u olad -x olad)
ola_patch -d 1 -p 0 -u 1
sox -n -r 22050 -c 1 "$work/noise.wav" synth $((seconds + 10)) pinknoise tremolo 2 90

cpu() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# The first run of a fresh folder pays one-off costs: each setting is run twice, the second counts.
for dmx in 0 1 0 1; do
  # The program's folder as the per-user launcher makes it: the program, its plug-in, the presets.
  data="$work/data-$dmx"
  cp -r "$build/stage" "$data"
  printf 'Preset = Party\r\nDMX = %s\r\n' "$dmx" >"$data/setting.dat"
  (cd "$data" && exec ./glimmerix >"$work/program-$dmx.log" 2>&1) &
  program=$!
  sleep 3
  paplay "$work/noise.wav" &
  player=$!
  "$build/bin/glimmerix-dmx-latency" --count "$seconds" >"$work/frames-$dmx" &
  listener=$!
  sleep 1
  p0=$(cpu $program); o0=$(cpu $olad_pid)
  sleep "$seconds"
  p1=$(cpu $program); o1=$(cpu $olad_pid)
  wait $listener
  kill $player 2>/dev/null || true
  kill -TERM $program; wait $program || true
  awk -v dmx=$dmx -v p=$((p1 - p0)) -v o=$((o1 - o0)) -v s="$seconds" -v t="$tick" \
    -v f="$(cat "$work/frames-$dmx")" 'BEGIN {
      printf "DMX %s: glimmerix %.2f %% of a core, olad %.2f %%, Art-Net frames %.1f per second\n",
        dmx == 1 ? "on " : "off", 100 * p / t / s, 100 * o / t / s, f }'
done
