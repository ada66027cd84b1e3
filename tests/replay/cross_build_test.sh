#!/usr/bin/env bash
# The replay tool of the Linux build and glimmerix-replay.exe of the Windows build (run under
# Wine) give the same bytes, JSON lines and picture, for the same spectra and options.
# Usage: cross_build_test.sh LINUX_REPLAY SPECTRA_GEN WINDOWS_REPLAY_EXE WINE_RUN WINE_PREFIX
set -euo pipefail
linux_replay=$1 spectra_gen=$2 windows_replay=$3 wine_run=$4 prefix=$5
if [ ! -f "$windows_replay" ]; then
  echo "no $windows_replay: build the Windows target first (make windows), or configure this" \
    "build without GLIMMERIX_WINDOWS_BUILD"
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 1,500 passes of music-like spectra: raw float32, so the file holds every byte value, CR, LF and
# 0x1A (which a text-mode read would take for the end of the file) among them.
"$spectra_gen" 1500 7 >"$work/spectra"
for byte in 0d 0a 1a; do
  if [ "$(od -An -v -tx1 "$work/spectra" | grep -cw "$byte")" = 0 ]; then
    echo "the spectra hold no byte $byte: they do not test what they should"
    exit 1
  fi
done

failures=0
# compare NAME OPTIONS...: the same run of both builds, compared byte for byte; each reads its
# standard input from $input.
input=/dev/null
compare() {
  local name=$1
  shift
  "$linux_replay" "$@" <"$input" >"$work/$name.linux"
  "$wine_run" "$prefix" "$windows_replay" "$@" <"$input" >"$work/$name.windows"
  if ! cmp -s "$work/$name.linux" "$work/$name.windows"; then
    echo "FAILED $name: the outputs differ ($(wc -c <"$work/$name.linux") and" \
      "$(wc -c <"$work/$name.windows") bytes)"
    cmp "$work/$name.linux" "$work/$name.windows" || true
    failures=$((failures + 1))
  else
    echo "same: $name ($(wc -l <"$work/$name.linux") lines)"
  fi
}

# Every mode: 1 Manual, 2 Auto, 3 Rnd, and one that decides nothing.
for mode in 0 1 2 3; do
  compare "mode$mode" --spectra "$work/spectra" --mode "$mode"
done
compare rnd-options --spectra "$work/spectra" --mode 3 --seed 99 --level 35 --agc 0 \
  --bright 200 --step 3 --invert 1 --lpt 1 --key 1 \
  --bars 40,0,20,13,7,40,1,2,3,4,5,6,7,8,9,10,11,12 --outputs 1,2,3,4,5,6,7,8,9,1,2,3,4,5,6,7,8,9
compare shipped-preset --spectra "$work/spectra" --settings "$(dirname "$0")/../../presets/shipped" \
  --mode 2
# Standard input as the spectra, and the picture.
input=$work/spectra compare stdin --spectra - --mode 2
"$linux_replay" --spectra "$work/spectra" --mode 2 --quiet --png "$work/linux.png"
"$wine_run" "$prefix" "$windows_replay" --spectra "$work/spectra" --mode 2 --quiet \
  --png "$work/windows.png"
if cmp -s "$work/linux.png" "$work/windows.png"; then
  echo "same: picture ($(wc -c <"$work/linux.png") bytes)"
else
  echo "FAILED picture: the PNG files differ"
  failures=$((failures + 1))
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures comparisons failed"
  exit 1
fi
