#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer and runs each for a while, seeded from its
# corpus folder:  bash scripts/fuzz.sh [seconds per target] [target name filter]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
seconds=${1:-60}
filter=${2:-}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DHV_FUZZ=ON -DHV_BENCH=OFF \
  -DHV_WERROR=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j "$(nproc)"
for target in build-fuzz/fuzz/*; do
  name=$(basename "$target")
  [[ -n "$filter" && "$name" != *"$filter"* ]] && continue
  corpus=$(cat "build-fuzz/fuzz-corpus/$name" 2>/dev/null || true)
  echo "== $name for ${seconds}s"
  mkdir -p "build-fuzz/corpus/$name"
  seeds=()
  [ -n "$corpus" ] && [ -d "$corpus" ] && seeds=("$corpus")
  "$target" -max_total_time="$seconds" -print_final_stats=1 "build-fuzz/corpus/$name" "${seeds[@]}"
done
