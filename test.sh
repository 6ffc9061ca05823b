#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through ctest; then the unit tests once
# more under AddressSanitizer and UndefinedBehaviorSanitizer, and each fuzz target for a short
# bounded time when clang is present.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
vlm_install_missing "${VLM_TEST_PACKAGES[@]}"

vlm_build_optimised build -DCMAKE_BUILD_TYPE=Release
(cd build && ctest --output-on-failure -j "$(nproc)")

echo "== Sanitizer build (ASan, UBSan) =="
# clang when present: GCC's UBSan reports thread_local records as null pointers.
if command -v clang++ >/dev/null 2>&1; then
  CC=clang CXX=clang++ vlm_build build-asan -DVLM_SANITIZE=ON -DVLM_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
else
  vlm_build build-asan -DVLM_SANITIZE=ON -DVLM_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
fi
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  LSAN_OPTIONS="suppressions=$PWD/../tests/lsan.supp" ctest --output-on-failure -j "$(nproc)")

if command -v clang++ >/dev/null 2>&1; then
  echo "== Fuzz targets (${VLM_FUZZ_SECONDS:-15} s each) =="
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DVLM_FUZZ=ON -DVLM_BENCH=OFF >/dev/null
  cmake --build build-fuzz --target fuzz_targets -j "$(nproc)"
  for target in build-fuzz/fuzz/*; do
    [ -f "$target" ] && [ -x "$target" ] || continue  # the build's own folders sit beside them
    corpus="build-fuzz/corpus/$(basename "$target")"
    mkdir -p "$corpus"
    echo "-- $(basename "$target")"
    "$target" -max_total_time="${VLM_FUZZ_SECONDS:-15}" -rss_limit_mb=2048 -print_final_stats=0 \
      "$corpus" examples 2>&1 | tail -n 2
  done
fi
echo "All tests passed."
