#!/usr/bin/env bash
# The web add-in's job: the engine in WebAssembly against the native one, the Excel side
# against the strict fake of Excel and against `qmv play`, the task pane in headless
# Chromium, and both manifests checked. Installs what it needs on Debian 12 (emscripten,
# chromium, the npm packages of web/package-lock.json). Run after the native build
# (scripts/test.sh runs it then); exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
# emscripten, Chromium, Node.js, PCRE2's source and web/package-lock.json's npm packages.
"$root/scripts/bootstrap.sh" web
[ -d build ] || cmake --preset default >/dev/null
cmake --build build -j"$(nproc)" --target qmv qmv_web_probe >/dev/null

passed=0
step() {
  echo "== web: $1"
  shift
  "$@"
  passed=$((passed + 1))
}
step "the WebAssembly engine against the native one" web/engine/test.sh
step "the Excel side against the strict fake and qmv play" \
  env QMV_ENGINE_DIR="$root/web/build/engine" QMV_BIN="$root/build/tools/qmv/qmv" web/test/excel/test.sh
step "the task pane in headless Chromium" web/test/pane/test.sh
dist=$root/web/build/dist-ci
step "the static folder" web/build.sh https://addin.example.com/qmv "$dist"
step "the unified JSON manifest (office-addin-manifest validate)" \
  bash -c "cd '$dist' && '$root/web/node_modules/.bin/office-addin-manifest' validate manifest.json"
step "the add-in-only XML manifest" python3 web/manifest/check-xml.py "$dist/manifest.xml" https://addin.example.com/qmv
echo "web: ${passed} checks passed, 0 failed"
