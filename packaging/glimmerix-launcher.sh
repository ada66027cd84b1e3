#!/bin/sh
# Starts Glimmerix for the user who runs it.
#
# The program keeps setting.dat, its pattern files (presets) and its documents in its current
# folder and lists the presets beside itself, so each user gets one folder of their own:
# $XDG_DATA_HOME/glimmerix (else ~/.local/share/glimmerix). On every start this script
#   - creates that folder when it is missing;
#   - copies the documents and the shipped pattern files into it when they are absent there
#     (the user's own copies, changed or not, are never overwritten);
#   - links the installed program and its parallel-port library into it (a link is renewed, so
#     an upgrade takes effect; a real file the user put there instead is left alone);
#   - starts the program through that link with the folder as the current folder.
# A pattern file dropped into the folder appears as a preset at the next start.
set -eu

self=$(readlink -f -- "$0")
shared=$(CDPATH= cd -- "$(dirname -- "$self")/../lib/glimmerix" && pwd) || {
  echo "glimmerix: the installed program folder ($(dirname -- "$self")/../lib/glimmerix) is missing" >&2
  exit 1
}

# XDG Base Directory: an unset, empty or relative XDG_DATA_HOME is ignored.
case "${XDG_DATA_HOME:-}" in
  /*) data_home=$XDG_DATA_HOME ;;
  *) data_home=${HOME:?glimmerix: HOME is not set}/.local/share ;;
esac
folder=$data_home/glimmerix

if ! mkdir -p -- "$folder"; then
  echo "glimmerix: cannot create the folder $folder" >&2
  exit 1
fi

for file in "$shared"/*.rtf "$shared"/*.patt; do
  [ -f "$file" ] || continue
  target=$folder/$(basename -- "$file")
  if [ ! -e "$target" ] && [ ! -L "$target" ]; then
    cp -- "$file" "$target" && chmod u+w -- "$target" ||
      echo "glimmerix: could not copy $(basename -- "$file") into $folder" >&2
  fi
done

for file in glimmerix libinpout32.so; do
  target=$folder/$file
  if [ -L "$target" ] || [ ! -e "$target" ]; then
    # A second launcher racing this one may have made the link a moment ago: not an error.
    ln -sfn -- "$shared/$file" "$target" 2>/dev/null || [ -L "$target" ] ||
      echo "glimmerix: could not link $file into $folder" >&2
  fi
done

cd -- "$folder"
exec "$folder/glimmerix" "$@"
