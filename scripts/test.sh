#!/usr/bin/env bash
# Sets up and runs every test: a plain build, then AddressSanitizer with UndefinedBehaviorSanitizer,
# then ThreadSanitizer for the concurrency tests (test names containing "Concurrency").
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=$(nproc)
common=(-DQUILLORY_WERROR=ON -DQUILLORY_BENCH=OFF)

echo "== tests"
scripts/build.sh build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo "${common[@]}"
ctest --test-dir build/test --output-on-failure -j "$jobs"

echo "== tests under AddressSanitizer + UndefinedBehaviorSanitizer"
scripts/build.sh build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLORY_SANITIZE=address "${common[@]}"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs"

echo "== concurrency tests under ThreadSanitizer"
scripts/build.sh build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLORY_SANITIZE=thread "${common[@]}"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build/tsan --output-on-failure -j "$jobs" -R Concurrency
