#!/usr/bin/env bash
# The WebAssembly engine against the native one: the same requests through web/src/engine.ts
# (WebAssembly under node) and through the native build of the same code must get the same
# answers. Builds what it needs: the engine (build.sh), the native probe, the test scripts.
set -euo pipefail
cd "$(dirname "$0")/../.."
web/engine/build.sh web/build/engine >/dev/null
[ -d build ] || cmake --preset default >/dev/null
cmake --build build -j"$(nproc)" --target qmv_web_probe >/dev/null
cd web
[ -d node_modules ] || npm ci --no-audit --no-fund
npx tsc -p tsconfig.test.json
QMV_WEB_PROBE=$PWD/../build/web/engine/qmv_web_probe QMV_ENGINE_DIR=$PWD/build/engine \
  node --test build/test/test/engine/
