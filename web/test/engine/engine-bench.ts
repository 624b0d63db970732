// EngineBench under node (a quick look; bench/web_engine_bench.sh runs it in Chromium):
// each rule the best of three in the process's CPU time, as JSON. Argument: the texts file.
import { readFileSync } from "node:fs";

import { EngineBench, RULES } from "./bench-core.js";
import { loadTestEngine } from "./engine-loader.js";

const texts = readFileSync(process.argv[2] ?? "", "utf8").split("\n");
if (texts[texts.length - 1] === "") texts.pop();
const bench = new EngineBench(await loadTestEngine(), texts);
const rules = RULES.map((_, i) => {
  let best = { code: "", cpuMs: Infinity, changed: 0 };
  for (let round = 0; round < 3; ++round) {
    const start = process.cpuUsage();
    const figure = bench.run(i);
    const used = process.cpuUsage(start);
    const cpuMs = (used.user + used.system) / 1000;
    if (cpuMs < best.cpuMs) best = { code: figure.code, cpuMs, changed: figure.changed };
  }
  return best;
});
console.log(JSON.stringify({ cells: texts.length, rules, preview: bench.preview() }));
