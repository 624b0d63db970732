#!/usr/bin/env bash
# The web add-in's engine in WebAssembly against the same code native, over 1,000,000 cells
# (argument: the number of cells). Builds what it needs.
set -euo pipefail
cd "$(dirname "$0")/.."
web/engine/build.sh web/build/engine >/dev/null
[ -d build ] || cmake --preset default >/dev/null
cmake --build build -j"$(nproc)" --target qmv_web_probe >/dev/null
cd web
[ -d node_modules ] || npm ci --no-audit --no-fund
npx tsc -p tsconfig.test.json
QMV_WEB_PROBE=$PWD/../build/web/engine/qmv_web_probe QMV_ENGINE_DIR=$PWD/build/engine \
  node build/test/test/engine/engine-bench.js "${1:-1000000}"
