// The two ways emscripten hands the page the engine's memory, side by side under node: the
// plain export (an address, the page makes its views) that engine.ts uses, and Embind's
// typed memory views; the time of one call, with the views made, for a chunk of 20,000 cells.
import { readFileSync } from "node:fs";
import { join } from "node:path";
import { pathToFileURL } from "node:url";

import { engineDir } from "./engine-loader.js";

interface Module {
  HEAPU8: Uint8Array<ArrayBuffer>;
  _qmv_chunk_cells(cells: number): number;
  chunkCellsViews(cells: number): ArrayBufferView[];
}
const factory = ((await import(pathToFileURL(join(engineDir(), "qmv-engine.mjs")).href)) as {
  default: (o: object) => Promise<Module>;
}).default;
const module = await factory({ wasmBinary: readFileSync(join(engineDir(), "qmv-engine.wasm")) });
const cells = 20000, calls = 100000;
const time = (run: () => number): number => {
  let best = Infinity;
  for (let round = 0; round < 3; ++round) {
    const start = process.cpuUsage();
    let sink = 0;
    for (let i = 0; i < calls; ++i) sink += run();
    const used = process.cpuUsage(start);
    if (sink >= 0) best = Math.min(best, ((used.user + used.system) * 1000) / calls);
  }
  return best;
};
const raw = time(() => {
  const at = module._qmv_chunk_cells(cells);
  const layout = new Uint32Array(module.HEAPU8.buffer, at, 4);
  const buffer = module.HEAPU8.buffer;
  return new Uint8Array(buffer, layout[0]!, cells).length + new Float64Array(buffer, layout[1]!, cells).length +
    new Uint32Array(buffer, layout[2]!, cells).length + new Uint32Array(buffer, layout[3]!, cells).length;
});
const embind = time(() => module.chunkCellsViews(cells).reduce((n, v) => n + v.byteLength, 0));
console.log(JSON.stringify({ rawNs: raw, embindNs: embind }));
