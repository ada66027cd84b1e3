#!/usr/bin/env bash
# The installation for real: `cmake --install` into a temporary prefix, then the installed
# launcher started headless (Qt's offscreen platform) as a user who never ran Glimmerix.
#   packaging/test-install.sh BUILD_DIR [CMAKE]
set -euo pipefail
build=$(cd "$1" && pwd)
cmake=${2:-cmake}

tmp=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill -KILL "$pid" 2>/dev/null || true; fi
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  for log in "$tmp"/run*.log; do [ -f "$log" ] && sed 's/^/  | /' "$log" >&2; done
  exit 1
}

prefix=$tmp/prefix
"$cmake" --install "$build" --prefix "$prefix" >/dev/null

echo "== installed layout"
for f in lib/glimmerix/glimmerix lib/glimmerix/libinpout32.so lib/glimmerix/help.rtf \
         lib/glimmerix/history.rtf lib/glimmerix/about.rtf bin/glimmerix \
         share/applications/glimmerix.desktop share/icons/hicolor/scalable/apps/glimmerix.svg; do
  [ -f "$prefix/$f" ] || fail "$f is not installed"
done
[ -x "$prefix/bin/glimmerix" ] || fail "the launcher is not executable"
[ "$(ls "$prefix/bin" | tr '\n' ' ')" = "glimmerix glimmerix-replay " ] ||
  fail "bin/ holds other than the launcher and the replay tool: $(ls "$prefix/bin")"
usage=$(env -i PATH="$prefix/bin:/usr/bin:/bin" glimmerix-replay --help) ||
  fail "the installed glimmerix-replay --help failed"
case $usage in
  "Usage: glimmerix-replay"*) ;;
  *) fail "the installed glimmerix-replay does not print its usage" ;;
esac
if ls "$(dirname "$0")"/udev/*.rules >/dev/null 2>&1; then
  ls "$prefix"/lib/udev/rules.d/*.rules >/dev/null 2>&1 || fail "the udev rule is not installed"
fi
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/glimmerix.desktop" || fail "bad .desktop file"
fi

home=$tmp/home
runtime=$tmp/runtime
mkdir -p "$home" "$runtime"
chmod 700 "$runtime"

# Starts the launcher in the background as the fresh user: no display, no sound server, no
# controller (an empty HID root), its own lock folder. Extra NAME=VALUE arguments go to env.
start() {
  local log=$tmp/run$((++runs)).log
  env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 XDG_RUNTIME_DIR="$runtime" \
    QT_QPA_PLATFORM=offscreen GLIMMERIX_HID_ROOT="$tmp/no-hid" "$@" \
    "$prefix/bin/glimmerix" >"$log" 2>&1 &
  pid=$!
}
runs=0
# Waits until the program (started through the launcher, which execs it) stands in folder $1.
wait_running_in() {
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || fail "the program ended early"
    if [ "$(readlink "/proc/$pid/cwd" 2>/dev/null)" = "$1" ] &&
       [ "$(readlink -f "/proc/$pid/exe")" = "$(readlink -f "$prefix/lib/glimmerix/glimmerix")" ]; then
      sleep 1  # let start-up finish
      return
    fi
    sleep 0.1
  done
  fail "the program did not start in $1 (cwd $(readlink "/proc/$pid/cwd" 2>/dev/null))"
}
stop() {
  kill -TERM "$pid"
  local status=0
  wait "$pid" || status=$?
  pid=
  [ "$status" = 0 ] || fail "exit status $status after SIGTERM"
}

echo "== first start"
folder=$home/.local/share/glimmerix
start
wait_running_in "$folder"
tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q "^$folder/glimmerix " ||
  fail "not started through the user's link: $(tr '\0' ' ' <"/proc/$pid/cmdline")"
for doc in help.rtf history.rtf about.rtf; do
  [ -f "$folder/$doc" ] && [ ! -L "$folder/$doc" ] || fail "$doc was not copied"
  cmp -s "$folder/$doc" "$prefix/lib/glimmerix/$doc" || fail "$doc differs from the installed one"
  [ -w "$folder/$doc" ] || fail "$doc is not writable by its user"
done
for preset in Calm Party Auto Flicker; do
  [ -f "$folder/$preset.patt" ] || fail "the shipped preset $preset.patt was not copied"
done
for file in glimmerix libinpout32.so; do
  [ "$(readlink "$folder/$file")" = "$(cd "$prefix/lib/glimmerix" && pwd)/$file" ] ||
    fail "$file is not linked to the installed one"
done
stop
[ -f "$folder/setting.dat" ] || fail "setting.dat was not written in the user's folder"

echo "== a second start while one runs ends at once"
start
wait_running_in "$folder"
first=$pid
status=0
env -i HOME="$home" PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=offscreen \
  GLIMMERIX_HID_ROOT="$tmp/no-hid" timeout 10 "$prefix/bin/glimmerix" >/dev/null 2>&1 || status=$?
[ "$status" = 0 ] || fail "second start: exit status $status"
kill -0 "$first" 2>/dev/null || fail "the first instance ended"
stop

echo "== later starts keep the user's files, restore missing ones, see new presets"
printf '{\\rtf1 my own notes}' >"$folder/help.rtf"
rm "$folder/about.rtf"
printf 'Effect = 2\r\nBright = 9\r\nStep = 30\r\nLevel = 40\r\nARU = 20\r\n' >"$folder/Mine.patt"
start
wait_running_in "$folder"
stop
grep -q 'my own notes' "$folder/help.rtf" || fail "the user's help.rtf was overwritten"
cmp -s "$folder/about.rtf" "$prefix/lib/glimmerix/about.rtf" || fail "about.rtf was not restored"
[ -f "$folder/Mine.patt" ] || fail "the user's pattern file went away"

echo "== XDG_DATA_HOME chooses the folder"
start XDG_DATA_HOME="$tmp/data"
wait_running_in "$tmp/data/glimmerix"
stop
[ -f "$tmp/data/glimmerix/help.rtf" ] || fail "no documents under XDG_DATA_HOME"

echo "== installation works"
