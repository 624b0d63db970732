#!/usr/bin/env bash
# Builds the engine as WebAssembly with Debian's emscripten: OUTDIR/qmv-engine.mjs and
# OUTDIR/qmv-engine.wasm (default web/build/engine). PCRE2 is compiled from Debian's source
# package, the same release as the native build's. QMV_WASM_BUILD_DIR names the build
# folder (default build-wasm).
set -euo pipefail
cd "$(dirname "$0")/../.."
out=${1:-web/build/engine}
dir=${QMV_WASM_BUILD_DIR:-build-wasm}
[ -f external/pcre2/CMakeLists.txt ] || scripts/fetch-pcre2-source.sh
# emscripten 3.1.6's optimiser looks for its node modules where Debian puts them.
export NODE_PATH=/usr/share/nodejs
# -O3 (the Release build's) and, each measured faster with the same results
# (bench/web_engine_bench.sh, web/engine/test.sh): WebAssembly's own exceptions, as
# emscripten's default ones route every call that may throw through JavaScript; SIMD; and
# link-time optimisation. The page so needs Chromium 95, Safari 16.4 or Firefox 100 and later.
flags="-fwasm-exceptions -msimd128 -flto"
emcmake cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DQMV_BUILD_TESTS=OFF \
  "-DCMAKE_C_FLAGS=$flags" "-DCMAKE_CXX_FLAGS=$flags" "-DCMAKE_EXE_LINKER_FLAGS=$flags" >/dev/null
cmake --build "$dir" -j"$(nproc)" --target qmv-engine
mkdir -p "$out"
cp "$dir"/web/engine/qmv-engine.mjs "$dir"/web/engine/qmv-engine.wasm "$out"/
echo "engine: $(du -k "$out/qmv-engine.wasm" | cut -f1) KB of WebAssembly in $out"
