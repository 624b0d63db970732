#!/usr/bin/env bash
# The task pane in headless Chromium (Debian's chromium) against the strict fake of Excel;
# its recipes against the native qmv over a folder (built here if missing).
set -euo pipefail
web=$(cd "$(dirname "$0")/../.." && pwd)
cd "$web/.."
[ -d build ] || cmake --preset default >/dev/null
cmake --build build -j"$(nproc)" --target qmv >/dev/null
cd "$web"
QMV_WEB_TEST=1 ./build.sh https://localhost:3000 "$web/build/dist-test" >/dev/null
QMV_BIN=$web/../build/tools/qmv/qmv QMV_WEB_DIST=$web/build/dist-test node --test build/test/test/pane/
