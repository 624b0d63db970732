#!/usr/bin/env bash
# The task pane in headless Chromium (Debian's chromium) against the strict fake of Excel.
set -euo pipefail
web=$(cd "$(dirname "$0")/../.." && pwd)
cd "$web"
QMV_WEB_TEST=1 ./build.sh https://localhost:3000 "$web/build/dist-test" >/dev/null
QMV_WEB_DIST=$web/build/dist-test node --test build/test/test/pane/
