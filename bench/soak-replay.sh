#!/usr/bin/env bash
# Soak of the engine through glimmerix-replay: PASSES simulated passes (default 1,728,000 =
# 24 hours at 50 ms) of generated music, no sleeping. Samples the replay's resident memory every
# second and checks that the last passes are identical to a fresh run over the same input.
#   bench/soak-replay.sh [BUILD_DIR] [PASSES]
set -euo pipefail
build=${1:-build}
passes=${2:-1728000}
gen=$build/bin/glimmerix-spectra-gen
replay=$build/bin/glimmerix-replay
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() {  # $1: output file of the last 200 lines; $2: RSS log or /dev/null
  "$gen" "$passes" 7 | "$replay" --spectra - --mode 2 --agc 20 --seed 3 | tail -n 200 >"$1" &
  local pipeline=$!
  sleep 0.2
  local pid
  pid=$(pgrep -n -f "$replay --spectra - --mode 2" || true)
  while kill -0 "$pipeline" 2>/dev/null; do
    [ -n "$pid" ] && { awk '/VmRSS/ {print $2}' "/proc/$pid/status" 2>/dev/null >>"$2"; } || true
    sleep 1
  done
  wait "$pipeline"
}

start=$(date +%s.%N)
run "$work/a.jsonl" "$work/rss.log"
end=$(date +%s.%N)
# Mode 3 decides by the dice: a second seeded run must give the same lights as well.
"$gen" 5000 7 | "$replay" --spectra - --mode 3 --seed 9 | md5sum >"$work/rnd1"
run "$work/b.jsonl" /dev/null
"$gen" 5000 7 | "$replay" --spectra - --mode 3 --seed 9 | md5sum >"$work/rnd2"

echo "passes:             $passes"
printf 'first run:          %.1f s (%.2f us a pass incl. generating and printing)\n' \
  "$(echo "$end - $start" | bc -l)" "$(echo "($end - $start) * 1000000 / $passes" | bc -l)"
echo "RSS samples (KiB):  $(wc -l <"$work/rss.log")"
echo "RSS first / max / last (KiB): $(head -1 "$work/rss.log") / $(sort -n "$work/rss.log" | tail -1) / $(tail -1 "$work/rss.log")"
if cmp -s "$work/a.jsonl" "$work/b.jsonl" && cmp -s "$work/rnd1" "$work/rnd2"; then
  echo "last 200 passes:    identical to a fresh run"
else
  echo "last 200 passes:    DIFFER from a fresh run"; exit 1
fi
tail -n 1 "$work/a.jsonl" | cut -c1-120
