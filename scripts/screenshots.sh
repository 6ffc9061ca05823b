#!/bin/sh
# Pictures of the player for the documentation: starts vlmplay on the bundled examples, shows
# the panels and menus one by one and writes PNG files into docs/screenshots/ (Japanese) and
# docs/screenshots/en/ (English).
#   scripts/screenshots.sh [BUILD_DIR]   (default: build)
# Uses an X server of its own (Xvfb) when there is one, else Qt's offscreen platform. Settings
# and sockets go to a temporary folder, so a player the user runs is not touched.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
player="$build/bin/vlmplay"
out="$root/docs/screenshots"
if [ ! -x "$player" ]; then
  echo "screenshots.sh: $player not found (build the vlmplay target first)" >&2
  exit 1
fi
work=$(mktemp -d)
xvfb_pid=
cleanup() {
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
mkdir -p "$work/config" "$work/data" "$work/run" "$work/tmp" "$out"
chmod 700 "$work/run"
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/run"
export TMPDIR="$work/tmp" VLMPLAY_NO_MODAL=1

if command -v Xvfb >/dev/null 2>&1; then
  display=:99
  while [ -e "/tmp/.X11-unix/X${display#:}" ]; do display=":$(( ${display#:} + 1 ))"; done
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  sleep 1
  export DISPLAY="$display" QT_QPA_PLATFORM=xcb
else
  export QT_QPA_PLATFORM=offscreen
fi

# The Japanese pictures in docs/screenshots/, the English ones in docs/screenshots/en/.
shoot() {  # LANGUAGE FOLDER
  mkdir -p "$2"
  rm -f "$2"/*.png
  "$player" --lang "$1" --screenshots "$2" "$root"/examples/demo.mid "$root"/examples/demo.mml \
    "$root"/examples/demo.vlm 2>"$work/log" || { cat "$work/log" >&2; exit 1; }
  echo "screenshots.sh: $(ls "$2"/*.png 2>/dev/null | wc -l) pictures in $2"
}
shoot ja "$out"
shoot en "$out/en"
