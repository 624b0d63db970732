// Loads the engine (WebAssembly, built by web/engine/build.sh) and gives it the QmvEngine
// shape. Requests made once are JSON to the engine's entry point; a chunk of cells is written
// straight into the module's memory and its results read back from there (ChunkWriter,
// readResults; the layouts are bindings.cpp's). A request the engine cannot answer throws
// EngineError with the engine's reason.
//
// prepareRule(code, inputs, locale) -> ChunkRule is the path for chunks: over(cells) for a
// character removal, clears(list) for a value removal, both taking Range.load's arrays as
// they are (RangeCells) or CellIn objects. ruleOverBlock and valueClears stay, over the
// same path, for callers with CellIn objects that want CellResult objects back.

import { CHANGED, WRITE_KINDS } from "./engine-types.js";
import type {
  CellIn,
  CellLocale,
  CellResult,
  CellSource,
  CellWrite,
  ChunkResults,
  ChunkRule,
  OperationInfo,
  PreviewFigures,
  QmvEngine,
  RangeCells,
  RecipeCheck,
  RestoreWrite,
  RunInputs,
  UndoRecord,
} from "./engine-types.js";

export class EngineError extends Error {}

/** The module the emscripten build makes: JSON requests through Embind, chunks through its
 *  plain exports over its memory (addresses are byte offsets into HEAPU8). */
interface EngineModule {
  answer(request: string): string;
  prepareRule(request: string): string;
  HEAPU8: Uint8Array<ArrayBuffer>;
  _qmv_slot_cells(slot: number, cells: number): number;
  _qmv_slot_texts(slot: number, units: number, formats: number, formatUnits: number): number;
  _qmv_restore(): number;
  _qmv_rule_over(rule: number, keepBefore: number): number;
  _qmv_rule_clears(rule: number): number;
  _qmv_rule_dispose(rule: number): void;
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

// Cell kinds as web/engine/chunk.hpp numbers them.
const EMPTY = 0, TEXT = 1, NUMBER = 2, BOOLEAN = 3, ERROR = 4, FORMULA = 0x80, OWN_WRITE_TEXT = 0x80;

/** The module's memory as 32-bit words from a byte address (the layouts). */
function words(module: EngineModule, address: number, count: number): Uint32Array {
  return new Uint32Array(module.HEAPU8.buffer, address, count);
}

/** Copies `texts` one after another into `units` as UTF-16, a unit at a time: JavaScript
 *  has no bulk way to write a string's units into memory (TextEncoder.encodeInto writes
 *  UTF-8, and is slower for texts beyond ASCII). Indexed loops with the lengths held in locals
 *  are about twice as fast in V8 as for-of with a moving index (bench/web_engine_bench.sh). */
export function copyUnits(texts: readonly string[], units: Uint16Array): void {
  let at = 0;
  for (let i = 0; i < texts.length; ++i) {
    const text = texts[i]!;
    const length = text.length;
    for (let k = 0; k < length; ++k) units[at + k] = text.charCodeAt(k);
    at += length;
  }
}

/** Writes chunks into the module's memory: the per-cell arrays in one pass over the cells,
 *  then the texts, copied once each as UTF-16. Slot 0 is the rule's chunk; undo's restore
 *  uses 1 and 2 beside it. */
class ChunkWriter {
  private texts: string[] = [];
  private formats = new Map<string, number>();
  /** Whether a formula cell's text is its formula (undo's "before" cells) or its value. */
  private formulaTexts = false;

  constructor(private readonly module: EngineModule, private readonly slot = 0) {}

  /** Writes the cells of undo's "before" chunk: a formula cell's text is its formula. */
  writeWithFormulas(cells: readonly CellIn[]): number {
    this.formulaTexts = true;
    try {
      return this.write(cells);
    } finally {
      this.formulaTexts = false;
    }
  }

  /** Writes the cells; returns how many. */
  write(cells: CellSource): number {
    if (Array.isArray(cells)) {
      const list = cells as readonly CellIn[];
      this.begin(list.length);
      for (let i = 0; i < list.length; ++i) {
        const c = list[i]!;
        this.put(i, c.value, c.formula, c.numberFormat, c.valueType);
      }
    } else {
      const range = cells as RangeCells;
      const rows = range.values.length, columns = rows > 0 ? range.values[0]!.length : 0;
      this.begin(rows * columns);
      let i = 0;
      for (let r = 0; r < rows; ++r) {
        const values = range.values[r]!, formulas = range.formulas[r]!;
        const formats = range.numberFormat[r]!, types = range.valueTypes[r]!;
        for (let c = 0; c < columns; ++c) this.put(i++, values[c], formulas[c], formats[c], types[c]!);
      }
    }
    this.finish();
    return this.ends.length;
  }

  private kinds = new Uint8Array(0);
  private numbers = new Float64Array(0);
  private formatOf = new Uint32Array(0);
  private ends = new Uint32Array(0);
  private units = 0;
  private lastFormat: string | null = null;
  private lastIndex = 0;

  private begin(count: number): void {
    const layout = words(this.module, this.module._qmv_slot_cells(this.slot, count), 4);
    const buffer = this.module.HEAPU8.buffer;
    this.kinds = new Uint8Array(buffer, layout[0]!, count);
    this.numbers = new Float64Array(buffer, layout[1]!, count);
    this.formatOf = new Uint32Array(buffer, layout[2]!, count);
    this.ends = new Uint32Array(buffer, layout[3]!, count);
    this.texts.length = count;
    this.formats.clear();
    this.lastFormat = null;
    this.units = 0;
  }

  // A cell as the engine reads one (web_core.cpp's kindOf): a formula is one whose text
  // starts with "="; a value that does not fit its type is an error.
  private put(i: number, value: unknown, formula: unknown, numberFormat: unknown, type: string): void {
    let kind: number;
    let text = "";
    let number = 0;
    if (type === "Empty" || (value === "" && type !== "String")) {
      kind = EMPTY;
    } else if (type === "Boolean" && typeof value === "boolean") {
      kind = BOOLEAN;
      number = value ? 1 : 0;
    } else if ((type === "Double" || type === "Integer") && typeof value === "number") {
      kind = NUMBER;
      number = value;
    } else if (typeof value === "string") {
      kind = type === "String" ? TEXT : ERROR;
      text = value;
    } else {
      kind = ERROR;
    }
    if (typeof formula === "string" && formula.charCodeAt(0) === 61) {
      kind |= FORMULA;
      if (this.formulaTexts) text = formula;
    }
    this.kinds[i] = kind;
    this.numbers[i] = number;
    this.texts[i] = text;
    this.units += text.length;
    this.ends[i] = this.units;
    const format = typeof numberFormat === "string" ? numberFormat : "";
    // Neighbours mostly share a format: the map is asked only when it changes.
    if (format !== this.lastFormat) {
      let index = this.formats.get(format);
      if (index === undefined) {
        index = this.formats.size;
        this.formats.set(format, index);
      }
      this.lastFormat = format;
      this.lastIndex = index;
    }
    this.formatOf[i] = this.lastIndex;
  }

  private finish(): void {
    let formatUnits = 0;
    for (const format of this.formats.keys()) formatUnits += format.length;
    const layout = words(this.module, this.module._qmv_slot_texts(this.slot, this.units, this.formats.size, formatUnits), 3);
    const buffer = this.module.HEAPU8.buffer;
    const units = new Uint16Array(buffer, layout[0]!, this.units);
    copyUnits(this.texts, units);
    const formatText = new Uint16Array(buffer, layout[1]!, formatUnits);
    const formatEnds = new Uint32Array(buffer, layout[2]!, this.formats.size);
    let at = 0;
    let n = 0;
    for (const format of this.formats.keys()) {
      for (let k = 0; k < format.length; ++k) formatText[at++] = format.charCodeAt(k);
      formatEnds[n++] = at;
    }
    this.texts.length = 0;
  }
}

// ignoreBOM: a list whose first text starts with U+FEFF keeps it (a decoder drops a leading
// byte order mark by default, which would move every later text of the list by one unit).
const utf16 = new TextDecoder("utf-16le", { ignoreBOM: true });
const utf8 = new TextDecoder("utf-8", { ignoreBOM: true });

/** UTF-16 units as one string, lone surrogates kept: TextDecoder, much the faster, puts
 *  U+FFFD in their place, so a text where it shows one is read again unit by unit. */
function decode(units: Uint16Array): string {
  const fast = utf16.decode(units);
  if (fast.indexOf("\ufffd") < 0) return fast;
  const parts: string[] = [];
  for (let at = 0; at < units.length; at += 8192) {
    parts.push(String.fromCharCode.apply(null, units.subarray(at, at + 8192) as unknown as number[]));
  }
  return parts.join("");
}

/** One of the results' text lists: all its texts as one string, each ending at its offset
 *  (in UTF-16 units). `utf8At` and `utf8Bytes` give the same texts as UTF-8 where the engine
 *  wrote them so (a list without a lone surrogate): Chromium decodes ASCII from UTF-8 about
 *  four times as fast as from UTF-16, and any other text as fast. */
class Texts {
  private readonly text: string;
  private readonly ends: Uint32Array;

  constructor(module: EngineModule, unitsAt: number, endsAt: number, count: number, wanted: boolean, utf8At = 0, utf8Bytes = 0) {
    const ends = new Uint32Array(module.HEAPU8.buffer, endsAt, count);
    const length = count > 0 ? ends[count - 1]! : 0;
    // A list of empty texts (most write texts and formats), or one not wanted, keeps nothing.
    const read = wanted && length > 0;
    this.ends = read ? ends.slice() : new Uint32Array(0);
    this.text = !read ? ""
      : utf8At !== 0 ? utf8.decode(new Uint8Array(module.HEAPU8.buffer, utf8At, utf8Bytes))
      : decode(new Uint16Array(module.HEAPU8.buffer, unitsAt, length));
  }

  at(r: number): string {
    if (this.text === "") return "";
    return this.text.substring(r === 0 ? 0 : this.ends[r - 1]!, this.ends[r]!);
  }
}

function readResults(module: EngineModule, layoutAt: number, keepBefore: boolean): ChunkResults {
  const layout = words(module, layoutAt, 21);
  const count = layout[0]!;
  const buffer = module.HEAPU8.buffer;
  const cells = new Uint32Array(buffer, layout[1]!, count).slice();
  const outcomes = new Uint8Array(buffer, layout[2]!, count).slice();
  const writeKinds = new Uint8Array(buffer, layout[3]!, count).slice();
  const writeNumbers = new Float64Array(buffer, layout[4]!, count).slice();
  // Each list: units, ends, UTF-8 bytes (0: none), their count.
  const list = (at: number, wanted: boolean): Texts =>
    new Texts(module, layout[at]!, layout[at + 1]!, count, wanted, layout[at + 2]!, layout[at + 3]!);
  const before = list(5, keepBefore);
  const after = list(9, true);
  const writeTexts = list(13, true);
  const writeFormats = list(17, true);
  const writeValue = (r: number): string | number | boolean => {
    const code = writeKinds[r]!;
    switch (WRITE_KINDS[code & ~OWN_WRITE_TEXT]) {
      case "number":
      case "date":
        return writeNumbers[r]!;
      case "boolean":
        return writeNumbers[r] !== 0;
      case "empty":
        return "";
      default:
        return code & OWN_WRITE_TEXT ? writeTexts.at(r) : after.at(r);
    }
  };
  const writeFormat = (r: number): string | undefined => {
    const format = writeFormats.at(r);
    return format === "" ? undefined : format;
  };
  return {
    count, cells, outcomes, writeKinds, writeNumbers,
    before: (r) => before.at(r),
    after: (r) => after.at(r),
    writeValue,
    writeFormat,
    write: (r) => {
      const write: CellWrite = { kind: WRITE_KINDS[writeKinds[r]! & ~OWN_WRITE_TEXT] ?? "text", value: writeValue(r) };
      const format = writeFormat(r);
      if (format !== undefined) write.numberFormat = format;
      return write;
    },
  };
}

class EngineRule implements ChunkRule {
  constructor(
    private readonly module: EngineModule,
    private readonly writer: ChunkWriter,
    private id: number,
    readonly kind: "character" | "value",
  ) {}

  over(cells: CellSource, keepBefore = false): ChunkResults {
    if (this.kind !== "character") throw new EngineError("not a character removal");
    this.writer.write(cells);
    const layout = this.module._qmv_rule_over(this.live(), keepBefore ? 1 : 0);
    if (layout === 0) throw new EngineError("the rule failed over the chunk");
    return readResults(this.module, layout, keepBefore);
  }

  clears(cells: CellSource): Uint8Array {
    if (this.kind !== "value") throw new EngineError("not a value removal");
    const count = this.writer.write(cells);
    const at = this.module._qmv_rule_clears(this.live());
    if (at === 0 && count > 0) throw new EngineError("the rule failed over the list");
    return new Uint8Array(this.module.HEAPU8.buffer, at, count).slice();
  }

  dispose(): void {
    if (this.id !== 0) this.module._qmv_rule_dispose(this.id);
    this.id = 0;
  }

  private live(): number {
    if (this.id === 0) throw new EngineError("the rule was disposed of");
    return this.id;
  }
}

interface UndoEntry {
  sheet: string;
  row: number;
  column: number;
  before: CellIn;
  after: CellWrite | null;
}

// RestoreWrites::writes as web/engine/chunk.hpp numbers them.
const RESTORE_NONE = 0, RESTORE_NUMBER = 2, RESTORE_BOOLEAN = 3;

/** What a run left in a cell as a cell the chunk writer lays out (a date: its serial). */
function leftCell(after: CellWrite | null): CellIn {
  switch (after?.kind ?? "empty") {
    case "text":
      return { value: after!.value, formula: "", numberFormat: "", valueType: "String" };
    case "boolean":
      return { value: after!.value, formula: "", numberFormat: "", valueType: "Boolean" };
    case "empty":
      return { value: "", formula: "", numberFormat: "", valueType: "Empty" };
    default:
      return { value: after!.value, formula: "", numberFormat: "", valueType: "Double" };
  }
}

interface UndoWriters {
  before: ChunkWriter;
  after: ChunkWriter;
  now: ChunkWriter;
}

class EngineUndoRecord implements UndoRecord {
  private entries: UndoEntry[] = [];

  constructor(
    private readonly module: EngineModule,
    private readonly writers: UndoWriters,
  ) {}

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
    // The three chunks side by side in the module (bindings.cpp's qmv_restore): the cells as
    // they were, what the run left (a cleared cell: empty), and as they are now.
    this.writers.before.writeWithFormulas(this.entries.map((entry) => entry.before));
    this.writers.after.write(this.entries.map((entry) => leftCell(entry.after)));
    this.writers.now.write(now);
    const at = this.module._qmv_restore();
    if (at === 0) throw new EngineError("the engine could not restore the cells");
    const layout = words(this.module, at, 7);
    const count = layout[0]!;
    const buffer = this.module.HEAPU8.buffer;
    const writes = new Uint8Array(buffer, layout[1]!, count).slice();
    const numbers = new Float64Array(buffer, layout[2]!, count).slice();
    const formulas = new Texts(this.module, layout[3]!, layout[4]!, count, true);
    const formats = new Texts(this.module, layout[5]!, layout[6]!, count, true);
    const out: (RestoreWrite | null)[] = [];
    for (let i = 0; i < count; ++i) {
      const write = writes[i]!;
      if (write === RESTORE_NONE) {
        out.push(null);
        continue;
      }
      const cell: RestoreWrite = { formula: formulas.at(i), numberFormat: formats.at(i) };
      if (write === RESTORE_NUMBER) cell.value = numbers[i]!;
      if (write === RESTORE_BOOLEAN) cell.value = numbers[i] !== 0;
      out.push(cell);
    }
    return out;
  }

  dispose(): void {
    this.entries = [];
  }
}

function wrap(module: EngineModule): QmvEngine {
  let operations: OperationInfo[] | null = null;
  const writer = new ChunkWriter(module);
  // Undo's chunks: before in the rule's slot (a restore runs no rule), the two others beside.
  const undoWriters: UndoWriters = { before: writer, after: new ChunkWriter(module, 1), now: new ChunkWriter(module, 2) };
  const kindOf = (code: string): "character" | "value" => {
    operations ??= ask(module, { call: "operations" }) as OperationInfo[];
    return operations.find((row) => row.code === code)?.kind ?? "character";
  };
  const prepareRule = (code: string, inputs: RunInputs, locale: CellLocale): ChunkRule => {
    const made = JSON.parse(module.prepareRule(JSON.stringify({ code, inputs, locale }))) as { rule?: number; error?: string };
    if (made.rule === undefined) throw new EngineError(String(made.error));
    return new EngineRule(module, writer, made.rule, kindOf(code));
  };
  const withRule = <T>(code: string, inputs: RunInputs, locale: CellLocale, use: (rule: ChunkRule) => T): T => {
    const rule = prepareRule(code, inputs, locale);
    try {
      return use(rule);
    } finally {
      rule.dispose();
    }
  };
  return {
    prepareRule,
    operations(): OperationInfo[] {
      operations ??= ask(module, { call: "operations" }) as OperationInfo[];
      return operations.map((row) => ({ ...row }));
    },
    checkInputs(code: string, inputs: RunInputs): string | null {
      return (ask(module, { call: "checkInputs", code, inputs }) as { message: string | null })
        .message;
    },
    ruleOverBlock(code: string, inputs: RunInputs, locale: CellLocale, cells: CellIn[]): CellResult[] {
      return withRule(code, inputs, locale, (rule) => {
        const results = rule.over(cells, true);
        const out: CellResult[] = [];
        for (let r = 0; r < results.count; ++r) {
          const changed = results.outcomes[r] === CHANGED;
          const result: CellResult = {
            index: results.cells[r]!,
            outcome: changed ? "changed" : "gaveUp",
            before: results.before(r),
            after: results.after(r),
          };
          if (changed) result.write = results.write(r);
          out.push(result);
        }
        return out;
      });
    },
    valueClears(code: string, locale: CellLocale, cells: CellIn[]): boolean[] {
      return withRule(code, {}, locale, (rule) => Array.from(rule.clears(cells), (clear) => clear !== 0));
    },
    previewLine(code: string, figures: PreviewFigures, inputs?: RunInputs): string {
      return ask(module, { call: "previewLine", code, figures, inputs: inputs ?? {} }) as string;
    },
    countMessage(id: "gaveUp" | "keptChanges" | "unrestored", count: number): string {
      return ask(module, { call: "countMessage", id, count }) as string;
    },
    message(id: string): string {
      return ask(module, { call: "message", id }) as string;
    },
    inspect(text: string): string[] {
      return ask(module, { call: "inspect", text }) as string[];
    },
    newUndoRecord(): UndoRecord {
      return new EngineUndoRecord(module, undoWriters);
    },
    recipe(recipe: string | object): RecipeCheck {
      return ask(module, { call: "recipe", recipe }) as RecipeCheck;
    },
    makeRecipe(name: string, description: string, steps: { code: string; inputs: RunInputs }[]): RecipeCheck {
      return ask(module, { call: "makeRecipe", name, description, steps }) as RecipeCheck;
    },
    memoryBytes(): number {
      return module.HEAPU8.length;
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
