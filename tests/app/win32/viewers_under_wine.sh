#!/usr/bin/env bash
# glimmerix.exe's document viewers under Wine on the test services' display, from a fresh program
# folder (with the documents and the outputs' stand-ins) in a fresh Wine prefix:
#   - "Settings", "About" and "History" from the tray menu open one viewer each, with its title, the
#     layout's inner size and the document's text in the rich-edit area;
#   - choosing one again leaves one window for it, its text read again;
#   - Escape, "OK" and a close request each close that viewer alone;
#   - opening saves no corner; moving a viewer saves the main window's corner (X_form/Y_form);
#   - a missing document gives an empty area.
# Usage: viewers_under_wine.sh GLIMMERIX_EXE STAND_IN_FOLDER SEND_TO_PROGRAM_EXE WORK_FOLDER
source "$(dirname "$0")/wine_prefix.sh"

folder=$work/program
docs=$(dirname "$exe")
program_folder "$folder" "$docs/about.rtf" "$docs/help.rtf" "$docs/history.rtf"
"$wine" glimmerix.exe </dev/null >"$work/program.log" 2>&1 &
program=$!

send() { timeout 20 "$wine" "$send_to_program" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
# The tray menu's commands (MenuCommand's values).
settings=3 history=4 about=6
for _ in $(seq 100); do send menu $settings >/dev/null && break; sleep 0.2; done
kill -0 $program 2>/dev/null || fail "the program ended"

# Waits until the viewer $1 shows $2 (a line of `send viewer`); prints what it shows.
viewer_shows() {
  local shown
  for _ in $(seq 25); do
    shown=$(send viewer "$1")
    grep -qx -- "$2" <<<"$shown" && { echo "$shown"; return 0; }
    sleep 0.2
  done
  echo "$shown"
  return 1
}
shown=$(viewer_shows Settings windows=1) || fail "no Settings viewer: $shown"
grep -qx client=500x300 <<<"$shown" || fail "Settings viewer's size: $(grep client <<<"$shown")"
grep -q 'Glimmerix records the sound of the default recording input' <<<"$shown" ||
  fail "Settings viewer lacks help.rtf's text: $(head -c 400 <<<"$shown")"
grep -q 'rtf1\|fonttbl\|\\par' <<<"$shown" && fail "Settings viewer shows the RTF markup"
shot windows-settings-viewer

send menu $settings >/dev/null || fail "menu not taken"
shown=$(viewer_shows Settings windows=1) || fail "Settings chosen again: $(head -1 <<<"$shown")"
send menu $about >/dev/null && send menu $history >/dev/null || fail "menu not taken"
shown=$(viewer_shows Developers windows=1) || fail "no Developers viewer"
grep -qx client=500x400 <<<"$shown" || fail "Developers viewer's size"
grep -q 'the light organ for your desktop' <<<"$shown" || fail "Developers viewer lacks about.rtf"
viewer_shows History windows=1 >/dev/null || fail "no History viewer"
grep -q '^X_form' setting.dat && fail "opening the viewers saved the main window's corner"

send viewer-escape Settings || fail "Escape not sent"
viewer_shows Settings windows=0 >/dev/null || fail "Escape left the Settings viewer open"
send viewer-ok History || fail "OK not clicked"
viewer_shows History windows=0 >/dev/null || fail "OK left the History viewer open"
viewer_shows Developers windows=1 >/dev/null || fail "closing the others closed Developers"

send viewer-move Developers 40 50 || fail "move not taken"
for _ in $(seq 25); do grep -q '^X_form' setting.dat && break; sleep 0.2; done
grep -q '^X_form *=' setting.dat && grep -q '^Y_form *=' setting.dat ||
  fail "moving a viewer saved no corner: $(tr '\r\n' '  ' <setting.dat | head -c 300)"
send viewer-close Developers || fail "close request not sent"
viewer_shows Developers windows=0 >/dev/null || fail "the close request left Developers open"

rm about.rtf
send menu $about >/dev/null || fail "menu not taken"
shown=$(viewer_shows Developers length=0) || fail "about.rtf missing, yet: $(head -c 300 <<<"$shown")"

send close >/dev/null || fail "close not taken"
for _ in $(seq 100); do kill -0 $program 2>/dev/null || break; sleep 0.2; done
kill -0 $program 2>/dev/null && fail "still running 20 s after the close request"
wait $program || fail "the program ended with $?"
echo "PASS: the three viewers open once each with their documents' text and size; Escape, OK and"
echo "      a close request close one viewer; moving one saves the corner; a missing file: empty"
