#!/usr/bin/env bash
# Builds the engine as WebAssembly with Debian's emscripten: OUTDIR/qmv-engine.mjs and
# OUTDIR/qmv-engine.wasm (default web/build/engine). PCRE2 is compiled from Debian's source
# package, the same release as the native build's.
set -euo pipefail
cd "$(dirname "$0")/../.."
out=${1:-web/build/engine}
[ -f external/pcre2/CMakeLists.txt ] || scripts/fetch-pcre2-source.sh
# emscripten 3.1.6's optimiser looks for its node modules where Debian puts them.
export NODE_PATH=/usr/share/nodejs
emcmake cmake -S . -B build-wasm -DCMAKE_BUILD_TYPE=Release -DQMV_BUILD_TESTS=OFF >/dev/null
cmake --build build-wasm -j"$(nproc)" --target qmv-engine
mkdir -p "$out"
cp build-wasm/web/engine/qmv-engine.mjs build-wasm/web/engine/qmv-engine.wasm "$out"/
echo "engine: $(du -k "$out/qmv-engine.wasm" | cut -f1) KB of WebAssembly in $out"
