#!/bin/sh
# The Excel side's tests: the strict fake's rules, the Excel side over it on the WebAssembly
# engine, and the differential against `qmv play`. Exit status 0 when all pass.
#   QMV_ENGINE_DIR  the engine's build (qmv-engine.mjs, qmv-engine.wasm); default web/build/engine
#   QMV_BIN         the native qmv; default build/tools/qmv/qmv of this checkout
set -eu
web=$(cd "$(dirname "$0")/../.." && pwd)
cd "$web"
engine=${QMV_ENGINE_DIR:-$web/build/engine}
if [ ! -f "$engine/qmv-engine.wasm" ] && [ -x engine/build.sh ]; then
  ./engine/build.sh "$engine"
fi
if [ ! -f "$engine/qmv-engine.wasm" ]; then
  echo "test.sh: no WebAssembly engine in $engine (web/engine/build.sh makes it)" >&2
  exit 1
fi
qmv=${QMV_BIN:-$web/../build/tools/qmv/qmv}
if [ ! -x "$qmv" ]; then
  echo "test.sh: no native qmv at $qmv (cmake --build build --target qmv)" >&2
  exit 1
fi
npx tsc -p tsconfig.test.json
QMV_ENGINE_DIR=$engine QMV_BIN=$qmv node --test build/test/test/excel/*.test.js
