#!/usr/bin/env bash
# The main job: set up, build everything in release form and run the table benchmark.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build/release -DCMAKE_BUILD_TYPE=Release -DQUILLORY_TESTS=OFF
build/release/bench/bench_table --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

# The plug-in: install it where CLAP hosts on Linux look, and render a demo phrase with our host.
mkdir -p "$HOME/.clap"
cp build/release/plugins/quillory/Quillory.clap "$HOME/.clap/"
echo "Installed $HOME/.clap/Quillory.clap"
build/release/host/quillory-host render "$HOME/.clap/Quillory.clap" host/demo/phrase.txt demo.wav \
  --rate 48000 --block 128
