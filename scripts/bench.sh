#!/usr/bin/env bash
# Runs the benchmarks on a build optimised as the package is (profile-guided with GCC, in
# build-bench/; VLM_PGO=OFF for a plain build). Arguments go to Google Benchmark, for example
#   scripts/bench.sh --benchmark_filter=Batch
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
vlm_install_missing
vlm_build_optimised build-bench -DCMAKE_BUILD_TYPE=Release -DVLM_BENCH=ON -- vlmbench vlmconv
exec build-bench/bench/vlmbench "$@"
