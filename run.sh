#!/usr/bin/env bash
# Installs what is missing, builds, and runs the converter on the bundled examples.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
vlm_install_missing
vlm_build build
exec scripts/demo.sh build/bin/vlmconv
