#!/usr/bin/env bash
# The Windows installer under Wine, in a fresh prefix on the test services' display:
#   - /S installs glimmerix.exe (as staged), the documents and the shipped presets, no setting.dat
#     and no port library, into %LOCALAPPDATA%\Programs\Glimmerix, with the Start-menu shortcut and
#     the uninstall entry (its values; its QuietUninstallString is what uninstalls below);
#   - started through the shortcut without inpoutx64.dll: only the "File missing!" box, nothing
#     written; with the stand-in inpoutx64.dll and HID library copied in: the tray icon docks and a
#     close request saves setting.dat in the install folder;
#   - while glimmerix.exe runs, the installer and the uninstaller end with exit code 2 and change
#     nothing;
#   - a second install (upgrade) keeps setting.dat, an edited shipped preset, a preset of the
#     user's and inpoutx64.dll byte for byte;
#   - the silent uninstaller removes the program, the documents, itself, the shortcut and the
#     entry, and keeps setting.dat, the presets, inpoutx64.dll and so the folder; with
#     /RemoveSettings all of them and the folder go;
#   - /D= installs elsewhere; there /RemoveSettings leaves a file the installer does not know.
# Usage: installer_under_wine.sh SETUP_EXE STAND_IN_FOLDER SEND_TO_PROGRAM_EXE WORK_FOLDER
#                                STAGE_FOLDER VERSION
source "$(dirname "$0")/wine_prefix.sh"
setup=$exe stage=$5 version=$6
started=$SECONDS
entry='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Glimmerix'
local_app_data=$("$wine" cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')
app_data=$("$wine" cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')
target_win="$local_app_data\\Programs\\Glimmerix"
target=$("$wine" winepath -u "$target_win" 2>/dev/null)
shortcut_win="$app_data\\Microsoft\\Windows\\Start Menu\\Programs\\Glimmerix.lnk"
shortcut=$("$wine" winepath -u "$shortcut_win" 2>/dev/null)
shipped_presets=$(cd "$stage" && ls *.patt)
[ -n "$shipped_presets" ] || fail "the stage folder ships no preset"
program_files="glimmerix.exe about.rtf help.rtf history.rtf"

install() {
  timeout 60 "$wine" "$setup" /S </dev/null >"$work/setup.log" 2>&1
}
# The uninstall entry's value $1 (empty when there is none). Asked up to 5 times: once in a CI run
# reg.exe printed nothing for a value it had printed with the others a moment before.
entry_value() {
  local value
  for _ in 1 2 3 4 5; do
    value=$("$wine" reg query "$entry" /v "$1" 2>/dev/null | tr -d '\r' |
      sed -n "s/^ *$1 *REG_[A-Z]* *//p")
    [ -n "$value" ] && break
    sleep 0.5
  done
  echo "$value"
}
# Runs the entry's QuietUninstallString with the further arguments given. The uninstaller copies
# itself to %TEMP% and returns at once; the copy has ended when the prefix's processes have.
uninstall() {
  local quiet program
  quiet=$(entry_value QuietUninstallString)
  program=$(sed -n 's/^"\([^"]*\)" \/S$/\1/p' <<<"$quiet")
  [ -n "$program" ] || fail "QuietUninstallString is '$quiet', not '\"...\" /S'"
  timeout 60 "$wine" "$program" /S "$@" </dev/null >"$work/uninstall.log" 2>&1 ||
    fail "the uninstaller ended with $?: $(cat "$work/uninstall.log")"
  timeout 60 "$wineserver" -w || fail "the uninstaller still runs 60 s later"
}
listing() { (cd "$1" && ls -A | sort | tr '\n' ' '); }

# Starts the installed program with the stand-ins, from another folder (it finds its files in its
# own), and waits for its tray icon; sets program.
start_installed() {
  use_stand_ins "$target"
  (cd "$work" && exec "$wine" "$target_win\\glimmerix.exe" </dev/null >"$work/program.log" 2>&1) &
  program=$!
  wait_for_tray_icon $program
}

# The silent install: the files as staged, nothing else.
install || fail "the silent install ended with $?: $(cat "$work/setup.log")"
[ -d "$target" ] || fail "nothing installed in $target_win"
expected=$(printf '%s\n' $program_files $shipped_presets uninstall.exe | sort | tr '\n' ' ')
[ "$(listing "$target")" = "$expected" ] ||
  fail "installed: $(listing "$target"); expected: $expected"
for f in $program_files $shipped_presets; do
  cmp -s "$stage/$f" "$target/$f" || fail "$f differs from the staged one"
done

# The shortcut and the uninstall entry.
[ -f "$shortcut" ] || fail "no Start-menu shortcut $shortcut_win"
strings -a "$shortcut" | grep -qiF "$target_win\\glimmerix.exe" ||
  strings -a -el "$shortcut" | grep -qiF "$target_win\\glimmerix.exe" ||
  fail "the shortcut does not name $target_win\\glimmerix.exe"
check_entry() {
  local name=$1 want=$2 got
  got=$(entry_value "$name")
  [ "$got" = "$want" ] || fail "uninstall entry $name is '$got', not '$want'; the entry: \
$("$wine" reg query "$entry" 2>&1 | tr -d '\r')"
}
check_entry DisplayName Glimmerix
check_entry DisplayVersion "$version"
check_entry InstallLocation "$target_win"
check_entry DisplayIcon "$target_win\\glimmerix.exe,0"
check_entry UninstallString "\"$target_win\\uninstall.exe\""
check_entry QuietUninstallString "\"$target_win\\uninstall.exe\" /S"

# Started through the shortcut without the port library: the "File missing!" box only.
"$wine" start /wait "$shortcut_win" </dev/null >/dev/null 2>&1 &
starter=$!
dismiss_file_missing $starter
[ -e "$target/setting.dat" ] && fail "setting.dat written without the port library"

# With the stand-ins the installed program runs and keeps its settings in its folder.
cp "$stand_ins/inpoutx64.dll" "$stand_ins/hid_stand_in.dll" "$target/" || fail "copy"
printf 'VID = 4617\r\nPID = 49374\r\n' >"$target/setting.dat"
start_installed
close_program $program
grep -q '^OUT1 *=' "$target/setting.dat" && grep -q '^X_form *=' "$target/setting.dat" ||
  fail "the close request saved no setting.dat in the install folder"

# While it runs neither the installer nor the uninstaller changes anything.
rm "$target/help.rtf"
start_installed
install
code=$?
[ $code -eq 2 ] || fail "the install beside the running program ended with $code, not 2"
grep -q 'Glimmerix is running' "$work/setup.log" || fail "no reason given: $(cat "$work/setup.log")"
[ -e "$target/help.rtf" ] && fail "the install beside the running program wrote files"
# _?= keeps the uninstaller where it is, so its exit code is the run's.
timeout 60 "$wine" "$target_win\\uninstall.exe" /S "_?=$target_win" </dev/null >/dev/null 2>&1
code=$?
[ $code -eq 2 ] || fail "the uninstall beside the running program ended with $code, not 2"
[ -e "$target/glimmerix.exe" ] || fail "the uninstall beside the running program removed files"
close_program $program

# The upgrade keeps what the user has.
printf 'Effect = 3\r\n' >>"$target/Party.patt"
printf 'Effect = 1\r\n' >"$target/Mine.patt"
kept="setting.dat Party.patt Mine.patt inpoutx64.dll"
mkdir -p "$work/kept" && (cd "$target" && cp $kept "$work/kept/") || fail "copy"
install || fail "the upgrade ended with $?: $(cat "$work/setup.log")"
for f in $kept; do cmp -s "$work/kept/$f" "$target/$f" || fail "the upgrade changed $f"; done
[ -e "$target/help.rtf" ] || fail "the upgrade did not install help.rtf"

# The silent uninstall keeps the user's files (with the presets the program saved: the shipped
# ones and the one without a name, .patt, when none was selected).
expected=$(listing "$target" | tr ' ' '\n' | grep -vxF -e uninstall.exe $(printf -- '-e %s ' $program_files) |
  tr '\n' ' ')
for f in $kept $shipped_presets; do
  grep -qw -- "$f" <<<"$expected" || fail "$f missing before the uninstall"
done
uninstall
[ "$(listing "$target")" = "$expected" ] ||
  fail "after the uninstall: $(listing "$target"); expected: $expected"
for f in $kept; do cmp -s "$work/kept/$f" "$target/$f" || fail "the uninstall changed $f"; done
[ -e "$shortcut" ] && fail "the uninstall left the shortcut"
"$wine" reg query "$entry" >/dev/null 2>&1 && fail "the uninstall left the uninstall entry"

# /RemoveSettings: everything and so the folder.
rm "$target/hid_stand_in.dll"
install || fail "the reinstall ended with $?: $(cat "$work/setup.log")"
uninstall /RemoveSettings
[ -e "$target" ] && fail "/RemoveSettings left $target_win: $(listing "$target")"

# /D= picks the folder; a file the installer does not know keeps it.
other_win='C:\Light Organ\Glimmerix'
other=$("$wine" winepath -u "$other_win" 2>/dev/null)
# As typed at a Windows prompt: /D= last and not quoted, whatever the spaces (wine would quote it).
timeout 60 "$wine" cmd /c "$(win "$setup") /S /D=$other_win" </dev/null >"$work/setup.log" 2>&1 || fail "the install with /D= ended with $?: $(cat "$work/setup.log")"
[ -e "$other/glimmerix.exe" ] || fail "/D= installed nothing in $other_win"
[ -e "$target" ] && fail "/D= installed in $target_win as well"
check_entry InstallLocation "$other_win"
echo notes >"$other/notes.txt" && cp "$work/kept/setting.dat" "$other/" || fail "copy"
uninstall /RemoveSettings
[ "$(listing "$other")" = "notes.txt " ] || fail "/RemoveSettings in $other_win: $(listing "$other")"

echo "PASS: silent install (files, shortcut, uninstall entry), installed program (\"File missing!\""
echo "      through the shortcut; tray icon and setting.dat with the stand-ins), refusal while it"
echo "      runs, upgrade and uninstall keep the user's files, /RemoveSettings, /D= ($((SECONDS - started)) s)"
