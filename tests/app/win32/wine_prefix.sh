# Sourced by the scripts that run glimmerix.exe under Wine: takes the arguments
# GLIMMERIX_EXE STAND_IN_FOLDER SEND_TO_PROGRAM_EXE WORK_FOLDER, makes the work folder afresh with a
# fresh Wine prefix in it (ended with the script), and defines fail and win (a path for Windows).
set -uo pipefail
exe=$1 stand_ins=$2 send_to_program=$3 work=$4
wine=${GLIMMERIX_WINE:-/usr/lib/wine/wine64}
wineserver=${GLIMMERIX_WINESERVER:-/usr/lib/wine/wineserver}
fail() { echo "FAIL: $*"; exit 1; }
[ -n "${DISPLAY:-}" ] || fail "no display: run under scripts/with-test-services"

rm -rf "$work" && mkdir -p "$work" || fail "cannot make $work"
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
cleanup() { "$wineserver" -k 2>/dev/null; }
trap cleanup EXIT
"$wine" wineboot --init </dev/null >/dev/null 2>&1
win() { "$wine" winepath -w "$1" 2>/dev/null; }

# Makes the program folder $1 (glimmerix.exe, the stand-in inpoutx64.dll and HID library, and any
# further files given), with a setting.dat naming the controller the stand-in plugs in, points the
# stand-ins' records at $work/hid.txt and $work/lpt.txt (emptied) and enters the folder.
program_folder() {
  local folder=$1
  shift
  mkdir -p "$folder" && rm -f "$work/hid.txt" "$work/lpt.txt"
  cp "$exe" "$stand_ins/inpoutx64.dll" "$stand_ins/hid_stand_in.dll" "$@" "$folder/" || fail "copy"
  printf 'VID = 4617\r\nPID = 49374\r\n' >"$folder/setting.dat"
  export GLIMMERIX_HID_LIBRARY=$(win "$folder/hid_stand_in.dll")
  export GLIMMERIX_HID_STAND_IN_DEVICE=1209:c0de
  export GLIMMERIX_HID_RECORD=$(win "$work/hid.txt")
  export GLIMMERIX_LPT_RECORD=$(win "$work/lpt.txt")
  cd "$folder" || fail "cd"
}
