#!/usr/bin/env bash
# Sets up and runs every test: a plain build, then AddressSanitizer with UndefinedBehaviorSanitizer,
# then ThreadSanitizer for the concurrency tests (test names containing "Concurrency"), then a
# bounded run of every libFuzzer target.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=$(nproc)
common=(-DQUILLORY_WERROR=ON -DQUILLORY_BENCH=OFF)
passed=0
failed=0

# Runs ctest on one build tree and adds its counts to the totals printed at the end.
run_ctest() {
  local log
  log=$(mktemp)
  local status=0
  ctest --output-on-failure -j "$jobs" "$@" 2>&1 | tee "$log" || status=$?
  local line
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
  rm -f "$log"
  if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    failed=$((failed + BASH_REMATCH[1]))
    passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
  fi
  return "$status"
}

echo "== tests"
scripts/build.sh build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo "${common[@]}"
run_ctest --test-dir build/test

echo "== tests under AddressSanitizer + UndefinedBehaviorSanitizer"
scripts/build.sh build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLORY_SANITIZE=address "${common[@]}"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_ctest --test-dir build/asan

echo "== concurrency tests under ThreadSanitizer"
scripts/build.sh build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLORY_SANITIZE=thread "${common[@]}"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  run_ctest --test-dir build/tsan -R Concurrency

echo "== the wavetable library built for WebAssembly"
scripts/wasm_check.sh

echo "== fuzzing: each target for 60 s on a copy of its corpus (clang, ASan + UBSan)"
CC=clang CXX=clang++ scripts/build.sh build/fuzz -DQUILLORY_FUZZ=ON -DQUILLORY_TESTS=OFF -DQUILLORY_BENCH=OFF
for corpus in fuzz/corpus/*/; do
  target=$(basename "$corpus")
  work=build/fuzz/run/$target
  rm -rf "$work" && mkdir -p "$work/corpus" "$work/crashes"
  cp "$corpus"* "$work/corpus/"
  # libFuzzer exits non-zero on a crash, a leak or a sanitizer report; set -e fails the script.
  build/fuzz/fuzz/fuzz_"$target" -max_total_time=60 -print_final_stats=1 \
    -artifact_prefix="$work/crashes/" "$work/corpus" 2>"$work/log" \
    || { tail -n 60 "$work/log"; echo "fuzz_$target failed: see $work/crashes/"; exit 1; }
  grep -E '^(stat::number_of_executed_units|#[0-9]+ +DONE)' "$work/log" || true
done

echo "$passed passed, $failed failed"
