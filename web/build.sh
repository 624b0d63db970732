#!/usr/bin/env bash
# Builds the web add-in as one static folder that any HTTPS host can serve:
#   web/build.sh [BASE_URL] [OUTDIR]
# BASE_URL is where the folder will be served from (default https://localhost:3000); both
# manifests name it. OUTDIR defaults to web/dist. With QMV_WEB_TEST=1 the folder also holds
# the strict fake of Excel and a page that loads it instead of office.js, for the tests.
set -euo pipefail
web=$(cd "$(dirname "$0")" && pwd)
base=${1:-https://localhost:3000}
base=${base%/}
out=${2:-$web/dist}
case "$base" in https://*) ;; *) echo "build.sh: the base address must be https://..." >&2; exit 2 ;; esac
host=${base#https://}
host=${host%%/*}

cd "$web"
[ -d node_modules ] || npm ci --no-audit --no-fund
"$web/engine/build.sh" "$web/build/engine" >/dev/null
npx tsc -p tsconfig.json
rm -rf "$out"
mkdir -p "$out/engine" "$out/assets"
cp taskpane.html taskpane.css support.html privacy.html "$out/"
cp -r build/js "$out/js"
cp build/engine/qmv-engine.mjs build/engine/qmv-engine.wasm "$out/engine/"
python3 assets/make-icons.py "$out/assets"
sed "s|BASE_URL|$base|g" manifest/manifest.xml >"$out/manifest.xml"
sed -e "s|BASE_URL|$base|g" -e "s|BASE_HOST|$host|g" manifest/manifest.json >"$out/manifest.json"
# The unified manifest is sideloaded as a zip package: the manifest with its two icons.
python3 - "$out" <<'PY'
import sys, zipfile
out = sys.argv[1]
with zipfile.ZipFile(f"{out}/manifest.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.write(f"{out}/manifest.json", "manifest.json")
    for icon in ("outline-32.png", "icon-192.png"):
        z.write(f"{out}/assets/{icon}", f"assets/{icon}")
PY

if [ "${QMV_WEB_TEST:-0}" = 1 ]; then
  npx tsc -p tsconfig.test.json
  mkdir -p "$out/test"
  cp -r build/test/test/fake-excel build/test/test/pane "$out/test/"
  # The same page with the fake in office.js's place.
  sed 's|<script src="https://appsforoffice.microsoft.com/lib/1/hosted/office.js"></script>|<script type="module" src="test/pane/fake-setup.js"></script>|' \
    taskpane.html >"$out/test-taskpane.html"
fi
echo "web add-in: $out for $base"
