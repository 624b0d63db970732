#!/usr/bin/env bash
# Serves the web add-in for sideloading: builds web/dist for https://localhost:PORT and serves
# it there over HTTPS, with a certificate for localhost made by openssl (kept in
# ~/.vandrel-qmv-web; trust it once in your system or browser, see the README).
#   scripts/serve-web.sh [PORT]        (default 3000)
set -euo pipefail
cd "$(dirname "$0")/.."
port=${1:-3000}
certs=${QMV_WEB_CERTS:-$HOME/.vandrel-qmv-web}
web/build.sh "https://localhost:$port" web/dist
mkdir -p "$certs"
if [ ! -f "$certs/localhost.crt" ]; then
  openssl req -x509 -newkey rsa:2048 -nodes -days 825 -subj "/CN=localhost" \
    -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" \
    -keyout "$certs/localhost.key" -out "$certs/localhost.crt" 2>/dev/null
fi
echo "Serving web/dist on https://localhost:$port (manifests: /manifest.xml, /manifest.json); Control+C stops."
exec python3 - "$port" "$certs" <<'PY'
import functools, http.server, ssl, sys
port, certs = int(sys.argv[1]), sys.argv[2]
class Handler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      ".mjs": "text/javascript", ".js": "text/javascript", ".wasm": "application/wasm"}
handler = functools.partial(Handler, directory="web/dist")
server = http.server.ThreadingHTTPServer(("127.0.0.1", port), handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(f"{certs}/localhost.crt", f"{certs}/localhost.key")
server.socket = context.wrap_socket(server.socket, server_side=True)
server.serve_forever()
PY
