#!/usr/bin/env bash
# Builds the fuzz targets (and only them) with clang and libFuzzer, warnings as errors, and runs
# each for a while, seeded from its corpus folder:
#   bash scripts/fuzz.sh [seconds per target] [target name filter]
# Every target runs even when an earlier one fails. New inputs go to build-fuzz/corpus/<target>/,
# crashes, leaks and time-outs to build-fuzz/artifacts/<target>/ (never into the source tree);
# a summary with each target's time and outcome ends the run, which exits 1 when one failed.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh || exit 1
seconds=${1:-60}
filter=${2:-}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DHV_FUZZ=ON -DHV_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
cmake --build build-fuzz -j "$(nproc)" --target fuzz_targets || exit 1

# Leaks inside system libraries (fontconfig's caches, for one) are not findings.
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
summary=()
failed=0
for target in build-fuzz/fuzz/*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  [[ -n "$filter" && "$name" != *"$filter"* ]] && continue
  corpus=$(cat "build-fuzz/fuzz-corpus/$name" 2>/dev/null || true)
  echo "== $name for ${seconds}s"
  mkdir -p "build-fuzz/corpus/$name" "build-fuzz/artifacts/$name"
  seeds=()
  [ -n "$corpus" ] && [ -d "$corpus" ] && seeds=("$corpus")
  start=$(date +%s)
  "$target" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="build-fuzz/artifacts/$name/" "build-fuzz/corpus/$name" "${seeds[@]}" \
    2>&1 | tee "build-fuzz/artifacts/$name/log.txt" | grep -E '^(#[0-9]+ +DONE|stat::|==[0-9]+==ERROR|SUMMARY|artifact_prefix|Test unit written)' 
  rc=${PIPESTATUS[0]}
  took=$(( $(date +%s) - start ))
  runs=$(grep -oE '^stat::number_of_executed_units: *[0-9]+' "build-fuzz/artifacts/$name/log.txt" | tail -1 | grep -oE '[0-9]+$' || echo '?')
  if [ "$rc" -eq 0 ]; then
    summary+=("$name: ${took}s, $runs runs, no finding")
  else
    summary+=("$name: ${took}s, $runs runs, FAILED (exit $rc; see build-fuzz/artifacts/$name/)")
    failed=1
  fi
done

echo "== summary"
printf '%s\n' "${summary[@]}"
exit "$failed"
