#!/usr/bin/env bash
# Builds the Debian package: installs what is missing, builds the programs in build-package/
# optimised with profiles of their own conversions (as test.sh builds; VLM_PGO=OFF for a plain
# build), and makes the package there with cpack:
#   scripts/package.sh
#   sudo apt install ./build-package/vlmplay_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
vlm_install_missing "${VLM_TEST_PACKAGES[@]}"
vlm_build_optimised build-package -DCMAKE_BUILD_TYPE=Release -DVLM_BENCH=OFF \
  -- vlmconv vlmplay setting desktop_files compressed_docs
(cd build-package && cpack -G DEB)
ls build-package/vlmplay_*.deb
