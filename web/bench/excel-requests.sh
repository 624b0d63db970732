#!/bin/sh
# Builds and runs the Excel side's request benchmark (figures only; exit status 0 when it ran).
set -eu
web=$(cd "$(dirname "$0")/.." && pwd)
cd "$web"
npx tsc -p bench/tsconfig.json
QMV_ENGINE_DIR=${QMV_ENGINE_DIR:-$web/build/engine} node --max-old-space-size=6144 build/bench/bench/excel-requests.js
