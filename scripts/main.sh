#!/usr/bin/env bash
# The main job: set up, build everything in release form and run the table benchmark.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build/release -DCMAKE_BUILD_TYPE=Release -DQUILLORY_TESTS=OFF
build/release/bench/bench_table --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
