// The engine the Excel side's tests run on: the WebAssembly build of the native engine
// (web/engine/build.sh writes it to web/build/engine, or QMV_ENGINE_DIR), loaded once.
import { readFile } from "node:fs/promises";
import { dirname, resolve } from "node:path";
import { fileURLToPath, pathToFileURL } from "node:url";

import type { QmvEngine } from "../../src/engine-types.js";

let loaded: Promise<QmvEngine> | null = null;

export function engineDir(): string {
  // This file runs from web/build/test/test/excel.
  return process.env.QMV_ENGINE_DIR ?? resolve(dirname(fileURLToPath(import.meta.url)), "../../../engine");
}

export function realEngine(): Promise<QmvEngine> {
  loaded ??= (async () => {
    // The module path is a variable so that the tests compile before the engine's loader is
    // merged; it is the page's own loader, compiled beside this file.
    const loader = "../../src/engine.js";
    const mod = (await import(loader)) as {
      loadEngine(options?: { wasmBinary?: Uint8Array; moduleUrl?: string }): Promise<QmvEngine>;
    };
    const wasmBinary = await readFile(resolve(engineDir(), "qmv-engine.wasm"));
    return mod.loadEngine({
      wasmBinary: new Uint8Array(wasmBinary),
      moduleUrl: pathToFileURL(resolve(engineDir(), "qmv-engine.mjs")).href,
    });
  })();
  return loaded;
}
