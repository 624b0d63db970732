// The rule over 1,000,000 cells, natively (qmv_web_probe) and in WebAssembly (engine.ts under
// node), side by side: the same requests of 20,000 cells each, JSON included on both sides.
import { spawnSync } from "node:child_process";
import { performance } from "node:perf_hooks";

import type { CellIn } from "../../src/engine-types.js";
import { loadTestEngine } from "./engine-loader.js";

const total = Number(process.argv[2] ?? 1000000);
const chunk = 20000;
const locale = { decimalSeparator: ".", thousandsSeparator: ",", dateOrder: "MDY" as const, dateSeparator: "/", timeSeparator: ":", currentYear: 2026 };
const cells: CellIn[] = [];
for (let i = 0; i < chunk; ++i) {
  const value = `Order ${i} ref-${(i * 7919) % 100000} (${i % 13})`;
  cells.push({ value, formula: value, numberFormat: "General", valueType: "String" });
}

for (const code of ["RNUM", "RPAT"]) {
  const inputs = code === "RPAT" ? { pattern: "[0-9]+", matchCase: true } : {};
  const request = JSON.stringify({ call: "ruleOverBlock", code, inputs, locale, cells });
  const requests = Math.ceil(total / chunk);
  const engine = await loadTestEngine();
  engine.ruleOverBlock(code, inputs, locale, cells);  // warm
  let start = performance.now();
  for (let i = 0; i < requests; ++i) engine.ruleOverBlock(code, inputs, locale, cells);
  const wasmSeconds = (performance.now() - start) / 1000;

  const input = (request + "\n").repeat(requests + 1);
  start = performance.now();
  spawnSync(process.env.QMV_WEB_PROBE ?? "", { input: request + "\n", maxBuffer: 1 << 30 });
  const startup = (performance.now() - start) / 1000;
  start = performance.now();
  const native = spawnSync(process.env.QMV_WEB_PROBE ?? "", { input, maxBuffer: 1 << 30 });
  const nativeSeconds = (performance.now() - start) / 1000 - startup;
  if (native.status !== 0) throw new Error(String(native.stderr));
  const cellsDone = requests * chunk;
  console.log(
    `${code}: ${cellsDone} cells in requests of ${chunk}: native ${(cellsDone / nativeSeconds / 1e6).toFixed(2)}M cells/s, ` +
      `WebAssembly ${(cellsDone / wasmSeconds / 1e6).toFixed(2)}M cells/s: ${(wasmSeconds / nativeSeconds).toFixed(2)}x`,
  );
}
