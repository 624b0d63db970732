// The engine as the tests load it under node: the module's bytes handed over, as node
// cannot fetch a file path.
import { readFileSync } from "node:fs";
import { join } from "node:path";
import { pathToFileURL } from "node:url";

import { loadEngine } from "../../src/engine.js";
import type { QmvEngine } from "../../src/engine-types.js";

export function engineDir(): string {
  const dir = process.env.QMV_ENGINE_DIR;
  if (!dir) throw new Error("QMV_ENGINE_DIR names no folder (run web/engine/test.sh)");
  return dir;
}

export function loadTestEngine(): Promise<QmvEngine> {
  return loadEngine({
    wasmBinary: readFileSync(join(engineDir(), "qmv-engine.wasm")),
    moduleUrl: pathToFileURL(join(engineDir(), "qmv-engine.mjs")).href,
  });
}
