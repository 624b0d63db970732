// Loads the engine (WebAssembly, built by web/engine/build.sh) and gives it the QmvEngine
// shape. Every call is one JSON request to the engine's one entry point; a request the
// engine cannot answer throws EngineError with the engine's reason.

import type {
  CellIn,
  CellLocale,
  CellResult,
  CellWrite,
  OperationInfo,
  PreviewFigures,
  QmvEngine,
  RestoreWrite,
  RunInputs,
  UndoRecord,
} from "./engine-types.js";

export class EngineError extends Error {}

/** The module the emscripten build makes: its one function answers a request. */
interface EngineModule {
  answer(request: string): string;
}

type ModuleFactory = (options: { wasmBinary?: ArrayBuffer | Uint8Array }) => Promise<EngineModule>;

export interface LoadOptions {
  /** The module's bytes (under node, which cannot fetch a file path). */
  wasmBinary?: ArrayBuffer | Uint8Array;
  /** Where qmv-engine.mjs is; by default "./engine/qmv-engine.mjs" beside the page. */
  moduleUrl?: string;
}

type Answer = unknown;

function ask(module: EngineModule, request: object): Answer {
  const answer: unknown = JSON.parse(module.answer(JSON.stringify(request)));
  if (answer !== null && typeof answer === "object" && "error" in answer) {
    throw new EngineError(String((answer as { error: unknown }).error));
  }
  return answer;
}

interface UndoEntry {
  sheet: string;
  row: number;
  column: number;
  before: CellIn;
  after: CellWrite | null;
}

class EngineUndoRecord implements UndoRecord {
  private entries: UndoEntry[] = [];

  constructor(private readonly module: EngineModule) {}

  add(sheet: string, row: number, column: number, before: CellIn, after: CellWrite | null): void {
    this.entries.push({ sheet, row, column, before, after });
  }

  size(): number {
    return this.entries.length;
  }

  cells(): { sheet: string; row: number; column: number }[] {
    return this.entries.map(({ sheet, row, column }) => ({ sheet, row, column }));
  }

  restore(now: CellIn[]): (RestoreWrite | null)[] {
    if (now.length !== this.entries.length) {
      throw new EngineError("restore needs every recorded cell as it is now, in order");
    }
    const entries = this.entries.map((entry, i) => ({
      before: entry.before,
      after: entry.after,
      now: now[i],
    }));
    return ask(this.module, { call: "restore", entries }) as (RestoreWrite | null)[];
  }

  dispose(): void {
    this.entries = [];
  }
}

function wrap(module: EngineModule): QmvEngine {
  let operations: OperationInfo[] | null = null;
  return {
    operations(): OperationInfo[] {
      operations ??= ask(module, { call: "operations" }) as OperationInfo[];
      return operations.map((row) => ({ ...row }));
    },
    checkInputs(code: string, inputs: RunInputs): string | null {
      return (ask(module, { call: "checkInputs", code, inputs }) as { message: string | null })
        .message;
    },
    ruleOverBlock(code: string, inputs: RunInputs, locale: CellLocale, cells: CellIn[]): CellResult[] {
      return ask(module, { call: "ruleOverBlock", code, inputs, locale, cells }) as CellResult[];
    },
    valueClears(code: string, locale: CellLocale, cells: CellIn[]): boolean[] {
      return ask(module, { call: "valueClears", code, locale, cells }) as boolean[];
    },
    previewLine(code: string, figures: PreviewFigures): string {
      return ask(module, { call: "previewLine", code, figures }) as string;
    },
    countMessage(id: "gaveUp" | "keptChanges" | "unrestored", count: number): string {
      return ask(module, { call: "countMessage", id, count }) as string;
    },
    message(id: string): string {
      return ask(module, { call: "message", id }) as string;
    },
    newUndoRecord(): UndoRecord {
      return new EngineUndoRecord(module);
    },
  };
}

export async function loadEngine(options: LoadOptions = {}): Promise<QmvEngine> {
  const url = options.moduleUrl ?? new URL("./engine/qmv-engine.mjs", document.baseURI).href;
  const imported = (await import(url)) as { default: ModuleFactory };
  const factory = imported.default;
  const module = await factory(options.wasmBinary ? { wasmBinary: options.wasmBinary } : {});
  return wrap(module);
}
