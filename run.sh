#!/usr/bin/env bash
# Installs what is missing, builds the three programs once (optimised, without the profile-guided
# second build of test.sh and scripts/package.sh), and runs the converter on the bundled examples.
#   ./run.sh          the command-line demo (vlmconv on examples/)
#   ./run.sh --gui    the player vlmplay with the bundled examples as its playlist
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
vlm_install_missing
vlm_build build -DCMAKE_BUILD_TYPE=Release -DVLM_PGO=OFF -- vlmconv vlmplay setting
if [ "${1:-}" = "--gui" ]; then
  shift
  if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "run.sh --gui: no display (DISPLAY or WAYLAND_DISPLAY is not set)." >&2
    echo "Start it from a desktop session, or under Xvfb: scripts/screenshots.sh shows it." >&2
    exit 1
  fi
  exec build/bin/vlmplay "$PWD/examples" "$@"
fi
exec scripts/demo.sh build/bin/vlmconv
