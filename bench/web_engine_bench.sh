#!/usr/bin/env bash
# The web add-in's engine in WebAssembly, in headless Chromium through the page's own binding
# (web/src/engine.ts), beside the same engine native, over the same 1,000,000 texts (argument:
# the number of cells): per removal the native block rule over cells already read, the
# native chunk path the page's binding runs, `qmv apply` over the texts as a CSV file (read,
# rule, write), and the WebAssembly figure, each in CPU time (the machine is shared); then
# the page's memory, one preview, and what JavaScript alone spends to hand the texts over and
# take as many back (the floor under any binding). Builds what it needs.
set -euo pipefail
cd "$(dirname "$0")/.."
cells=${1:-1000000}
web/engine/build.sh web/build/engine >/dev/null
[ -d build ] || cmake --preset default >/dev/null
cmake --build build -j"$(nproc)" --target qmv qmv_web_native_bench >/dev/null
(cd web && { [ -d node_modules ] || npm ci --no-audit --no-fund; } && npx tsc -p tsconfig.test.json)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Texts with digits, letters, spaces and accents; each one occurs ten times (RDPV).
awk -v cells="$cells" 'BEGIN {
  split("alpha beta gamma delta epsilon zeta eta", w, " ")
  for (i = 1; i <= cells; i++)
    printf "Čapek %d; ref-%05d (Ørsted) %s  café\n", i % 100000, (i * 7919) % 100000, w[i % 7 + 1]
}' > "$work/texts.txt"
{ echo text; cat "$work/texts.txt"; } > "$work/in.csv"

locale='{"decimalSeparator":".","thousandsSeparator":",","dateOrder":"MDY","dateSeparator":"/","timeSeparator":":","currentYear":2026}'
rules=()
for code in RNUM RALP RALS RPAT RACC RDPV; do
  inputs='{}'
  [ "$code" = RPAT ] && inputs='{"pattern":"\\d+","matchCase":true}'
  rules+=("{\"code\":\"$code\",\"inputs\":$inputs,\"locale\":$locale}")
done
printf '%s\n' "${rules[@]}" | build/web/engine/qmv_web_native_bench "$work/texts.txt" > "$work/native.json"

# qmv apply: the CPU time of the whole command, the best of three.
qmv_cpu() {
  local best=999999 t
  for _ in 1 2 3; do
    t=$( { TIMEFORMAT='%3U %3S'; time build/tools/qmv/qmv apply "$@" "$work/in.csv" -o "$work/out.csv" >/dev/null 2>&1; } 2>&1 |
      awk '{ print ($1 + $2) * 1000 }')
    best=$(awk -v a="$best" -v b="$t" 'BEGIN { print (b < a ? b : a) }')
  done
  echo "$best"
}
for code in RNUM RALP RALS RACC RDPV; do echo "$code $(qmv_cpu "$code")"; done > "$work/qmv.txt"
echo "RPAT $(qmv_cpu RPAT --pattern '\d+')" >> "$work/qmv.txt"

QMV_ENGINE_DIR=$PWD/web/build/engine node web/build/test/test/engine/browser-bench.js "$work/texts.txt" > "$work/wasm.json"
QMV_ENGINE_DIR=$PWD/web/build/engine node web/build/test/test/engine/binding-bench.js > "$work/binding.json"

python3 - "$cells" "$work/native.json" "$work/qmv.txt" "$work/wasm.json" "$work/binding.json" <<'PY'
import json, sys
cells = int(sys.argv[1])
native = {r["code"]: r for r in map(json.loads, open(sys.argv[2]))}
qmv = {line.split()[0]: float(line.split()[1]) for line in open(sys.argv[3])}
wasm = json.load(open(sys.argv[4]))
print(f"{cells:,} cells; ns per cell, CPU time; RDPV: the decision over the whole column")
print("| removal | native block rule | native chunk path | qmv apply (whole file) | WebAssembly in Chromium | WebAssembly M cells/s | × native rule | changed (native / WebAssembly) |")
print("|---|---:|---:|---:|---:|---:|---:|---|")
for r in wasm["rules"]:
    code = r["code"]
    n = native[code]
    ns = r["cpuMs"] * 1e6 / cells
    print(f"| {code} | {n['rule_ns']:.0f} | {n['chunk_ns']:.0f} | {qmv[code] * 1e6 / cells:.0f} | {ns:.0f} | "
          f"{1e3 / ns:.2f} | {ns / n['rule_ns']:.1f} | {n['changed']:,} / {r['changed']:,} |")
print(f"page memory after the run: JavaScript heap {wasm['jsHeapBytes'] / 2**20:.0f} MiB, "
      f"engine (WebAssembly memory) {wasm['engineBytes'] / 2**20:.0f} MiB")
binding = json.load(open(sys.argv[5]))
print(f"handing over the memory of a 20,000-cell chunk, one call (node): plain export {binding['rawNs']:.0f} ns, "
      f"Embind typed memory views {binding['embindNs']:.0f} ns")
print(f"one preview of RNUM (wall clock): {wasm['preview']['ms']:.0f} ms: {wasm['preview']['line']}")
print(f"JavaScript alone handing the texts over and taking as many back, no engine between (wall clock): "
      f"{wasm['crossingMs'] * 1e6 / cells:.0f} ns per cell, {wasm['crossingMs'] * 1e6 / cells / native['RNUM']['rule_ns']:.1f} × the native RNUM rule")
PY
