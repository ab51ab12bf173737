#!/usr/bin/env bash
# Builds the suite and runs every test: the normal build, then the AddressSanitizer and
# UndefinedBehaviorSanitizer build. Installs what it needs on a fresh Debian machine first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

jobs=$(nproc)

echo "== build (RelWithDebInfo)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHV_ONLY= >/dev/null
cmake --build build -j "$jobs"
echo "== tests"
ctest --test-dir build --output-on-failure --no-tests=error -j "$jobs"

echo "== build (ASan + UBSan)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DHV_SANITIZE=ON -DHV_BENCH=OFF -DHV_ONLY= >/dev/null
cmake --build build-asan -j "$jobs"
echo "== tests under ASan + UBSan"
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1" \
LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
  ctest --test-dir build-asan --output-on-failure --no-tests=error -j "$jobs"
