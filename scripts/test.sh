#!/usr/bin/env bash
# Builds the suite and runs every test: the checks of layers and formatting, the normal build,
# the AddressSanitizer and UndefinedBehaviorSanitizer build, and a small ThreadSanitizer build of
# the threaded tests. Installs what it needs on a fresh Debian machine first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

jobs=$(nproc)

echo "== checks (layers, formatting)"
bash scripts/check-layers.sh
bash scripts/check-format.sh

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

# Only the programs whose tests run threads against each other (the service client's send
# threads, sign-in, the record file's locks, the platform's semaphores and messages, the views
# against the real service), and only the folders they need. Qt and the other system libraries
# are not instrumented: ignore_noninstrumented_modules keeps their internals out of the reports,
# and scripts/tsan.supp names the one hand-over through Qt's event queue that it cannot see.
tsan_folders="cipher;transport;service;service-server;tables/fees;records;login;ui/qt;ui/UI;ui/ctrls;ui/views"
tsan_tests="platform_test svclink_test signon_test signon_exports_test record_file_test vaultrec_test uiviews_e2e_test uiviews_login_e2e_test"
echo "== build (ThreadSanitizer, threaded tests)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHV_TSAN=ON -DHV_BENCH=OFF \
  -DHV_ONLY="$tsan_folders" >/dev/null
# shellcheck disable=SC2086
cmake --build build-tsan -j "$jobs" --target $tsan_tests handvane-service shipped_data
echo "== threaded tests under ThreadSanitizer"
TSAN_OPTIONS="ignore_noninstrumented_modules=1:halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp" \
  ctest --test-dir build-tsan --output-on-failure --no-tests=error -j "$jobs" \
    -L "^($(echo "$tsan_tests" | tr ' ' '|'))\$"
