#!/usr/bin/env bash
# Compiles the wavetable library for WebAssembly with clang (wasm32-wasi, no exceptions, warnings
# as errors) and runs a smoke program under Node's WASI, when Node is there.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/wasm
mkdir -p "$out"
flags=(--target=wasm32-wasi --sysroot=/usr -std=c++20 -O2 -fno-exceptions -Wall -Wextra -Werror
       -Iwavetable/include)
objects=()
for source in wavetable/src/*.cpp; do
  object="$out/$(basename "$source" .cpp).o"
  clang++-14 "${flags[@]}" -c "$source" -o "$object"
  objects+=("$object")
done
clang++-14 "${flags[@]}" wavetable/wasm/smoke.cpp "${objects[@]}" -o "$out/smoke.wasm"
if command -v node >/dev/null; then
  node --no-warnings -e "
    const fs = require('fs'); const { WASI } = require('wasi');
    const wasi = new WASI({ version: 'preview1', returnOnExit: true });
    WebAssembly.instantiate(fs.readFileSync('$out/smoke.wasm'), { wasi_snapshot_preview1: wasi.wasiImport })
      .then(({ instance }) => process.exit(wasi.start(instance)));"
else
  echo "node not found: the WebAssembly build links but is not run"
fi
