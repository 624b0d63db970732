// What the removal engine offers the page. The engine is the native one compiled to
// WebAssembly (web/engine/bindings.cpp); engine.ts loads it and implements QmvEngine.
//
// Call order: loadEngine() once per page; operations() for the lists the page shows (the page
// lists nothing itself); per run, checkInputs() first, then prepareRule() once and its
// over() once per chunk of cells for a character removal, or its clears() once over the
// column's list for a value removal; an UndoRecord per run, filled as cells are written and
// asked at undo time. ruleOverBlock() and valueClears() do the same in one call, with an
// object per cell: simpler, and slower over large chunks.
//
// Nothing of a chunk goes through JSON: its texts are copied once, as UTF-16, into the
// engine's memory beside arrays of kinds, numbers and format indexes, and the results come
// back as arrays and UTF-16 texts the same way (engine.ts, web/engine/bindings.cpp).
//
// Texts are JavaScript strings (UTF-16), as the engine counts characters.

export type InputKind =
  | "none"
  | "characters"
  | "startPosition"
  | "startAndCount"
  | "text"
  | "delimiters"
  | "count"
  | "pattern";

/** One row of the operation table. */
export interface OperationInfo {
  code: string; // "RNUM"
  name: string; // the file tool's name, "digits"
  caption: string; // the button's caption, as on the Ribbon
  group: string; // the Ribbon group the button sits in
  meaning: string; // what it removes, one line
  question: string; // the confirm dialog's question
  inputs: InputKind;
  kind: "character" | "value";
  startsAtSeparator: boolean; // the wizard's nth/last separator applies
  unicodeOption: boolean; // the Unicode option changes what it does
}

/** The inputs a dialog takes, as the user typed them: numbers are converted as the dialog does. */
export interface RunInputs {
  startPosition?: string;
  charCount?: string;
  characters?: string;
  text?: string;
  pattern?: string;
  matchCase?: boolean;
  opening?: string;
  closing?: string;
  unicode?: boolean;
  /** Start at a separator (the wizard's): the separator and which of its occurrences: the
   *  first (compared exactly, the default), the nth (letters compared without regard to case)
   *  or the last (exactly). */
  separator?: string;
  occurrence?: "first" | "last" | number;
  /** A recipe (its JSON document, as RecipeCheck.recipe gives it): the rule then runs the
   *  recipe's character steps, in order, as one rule over each cell, and the other inputs are
   *  not read. The code is its first step's (RecipeCheck.code). */
  recipe?: object;
}

/** A recipe as the engine read it, with what the pane shows of it. */
export interface RecipeCheck {
  /** null for a recipe; else why it cannot be read (the step and the field it names). */
  message: string | null;
  recipe?: RecipeDocument;
  /** The recipe file's text, as every host writes it. */
  json?: string;
  question?: string; // "Run the recipe "Tidy" (2 steps: RLTE, RNDG)?"
  steps?: string[]; // "1. RLTE  leading, trailing and excessive spaces"
  code?: string | null; // the first character step's code (or its value step's, when alone), a RunRequest's code
  /** The value removal that ends it after character steps, run after them in the same run. */
  then?: string | null;
}

/** A recipe's JSON document (docs/recipe.schema.json). */
export interface RecipeDocument {
  version: number;
  name?: string;
  description?: string;
  steps: ({ operation: string } & Record<string, unknown>)[];
}

/** The user's number and date conventions, as Excel reports them (Application.cultureInfo). */
export interface CellLocale {
  decimalSeparator: string;
  thousandsSeparator: string;
  dateOrder: "MDY" | "DMY" | "YMD";
  dateSeparator: string;
  timeSeparator: string;
  currentYear: number;
  /** The currency symbol a typed amount may carry, and whether it stands before the digits
   *  ("$5") or after them ("5 €"). Absent: "$" before; "": none known, such texts stay text. */
  currencySymbol?: string;
  currencyBefore?: boolean;
}

/** One cell as the Excel JavaScript API reports it: values, formulas, numberFormat and valueTypes. */
export interface CellIn {
  value: string | number | boolean;
  formula: string | number | boolean;
  numberFormat: string;
  valueType: string; // Excel.RangeValueType: "Empty", "String", "Double", "Boolean", "Error", ...
}

/** What a changed cell must hold: what typing the new text into it gives. */
export interface CellWrite {
  kind: "text" | "number" | "date" | "boolean" | "empty";
  /** text: the text; number and date: the serial number; boolean; empty: "". */
  value: string | number | boolean;
  /** The number format typing gives the cell ("0%" for "50%"); absent: the cell keeps its own. */
  numberFormat?: string;
}

/** A cell of a block that the rule does not keep as it is. */
export interface CellResult {
  index: number; // its place in the block
  outcome: "changed" | "gaveUp";
  before: string; // the text the cell shows
  after: string; // the new text (changed only)
  write?: CellWrite; // changed only
}

/** The figures of a preview: changes counted (up to the cap), the first few as examples. */
export interface PreviewFigures {
  changes: number;
  capped: boolean;
  /** Cells a pattern gave up on (left as they are). */
  gaveUp?: number;
  samples: { before: string; after: string }[];
}

/** What undo writes back into one recorded cell. */
export interface RestoreWrite {
  /** The cell's content in Range.formulas notation (en-US): a formula, or a constant whose
   *  notation keeps its type (a text "007" stands as "'007"); "" clears the cell. */
  formula: string;
  numberFormat: string;
  /** A constant number, date serial or Boolean, to be written through Range.values so that it
   *  comes back exactly (the formula notation keeps 15 significant digits). */
  value?: number | boolean;
}

/** The record of one run, for the task pane's own Undo. */
export interface UndoRecord {
  /** A cell the run is about to change: what it held, and what the run leaves (null: cleared). */
  add(sheet: string, row: number, column: number, before: CellIn, after: CellWrite | null): void;
  size(): number;
  /** The recorded cells, in the order recorded. */
  cells(): { sheet: string; row: number; column: number }[];
  /** Given each recorded cell as it is now (same order), what to write back; null for a cell
   *  changed since the run, which is left as it is and counted. */
  restore(now: CellIn[]): (RestoreWrite | null)[];
  dispose(): void;
}

/** A chunk as Range.load gives it ("values", "formulas", "numberFormat", "valueTypes"): rows
 *  of the same length; cell i of the chunk is row floor(i / columns), column i % columns. */
export interface RangeCells {
  values: readonly (readonly unknown[])[];
  formulas: readonly (readonly unknown[])[];
  numberFormat: readonly (readonly unknown[])[];
  valueTypes: readonly (readonly string[])[];
}

/** Cells for a rule: a chunk as Range.load gives it, or one object per cell. */
export type CellSource = RangeCells | readonly CellIn[];

/** The kinds of CellWrite, by the codes of ChunkResults.writeKinds. */
export const WRITE_KINDS = ["text", "number", "date", "boolean", "empty"] as const;
/** The codes of ChunkResults.outcomes. */
export const CHANGED = 1;
export const GAVE_UP = 2;

/** The changed and given-up cells of a chunk, in the order of the cells, as arrays: result r
 *  is about cell cells[r] of the chunk. Its own copy: it outlives the next call. */
export interface ChunkResults {
  readonly count: number;
  readonly cells: Uint32Array;
  readonly outcomes: Uint8Array; // CHANGED or GAVE_UP
  /** The index in WRITE_KINDS of what typing the new text stores (changed only). */
  readonly writeKinds: Uint8Array;
  /** A number's or date's serial, a Boolean's 1 or 0 (changed only). */
  readonly writeNumbers: Float64Array;
  /** The text the cell shows ("" unless the rule was asked to keep it). */
  before(r: number): string;
  /** The new text ("" for a cell given up on). */
  after(r: number): string;
  /** What the cell must hold (CellWrite.value). */
  writeValue(r: number): string | number | boolean;
  /** The number format typing gives the cell; undefined: it keeps its own. */
  writeFormat(r: number): string | undefined;
  /** The three above as one CellWrite (changed only). */
  write(r: number): CellWrite;
}

/** A removal made ready once for a run, for any number of chunks. */
export interface ChunkRule {
  readonly kind: "character" | "value";
  /** A character removal over a chunk; `keepBefore` for the texts before (a preview). */
  over(cells: CellSource, keepBefore?: boolean): ChunkResults;
  /** A value removal over its whole list (one column, top to bottom): 1 for each cell it
   *  clears, else 0. */
  clears(cells: CellSource): Uint8Array;
  /** Frees the rule in the engine; it must not be used after. */
  dispose(): void;
}

export interface QmvEngine {
  operations(): OperationInfo[];
  /** The rule of a removal with these inputs in this locale (a value removal takes no
   *  inputs); throws EngineError for an unknown code or inputs of the wrong type. */
  prepareRule(code: string, inputs: RunInputs, locale: CellLocale): ChunkRule;
  /** null when the inputs serve; else the message the dialog shows (a bad pattern, a position
   *  that does not convert). */
  checkInputs(code: string, inputs: RunInputs): string | null;
  /** The changed and given-up cells of a block, in the order of the cells. */
  ruleOverBlock(code: string, inputs: RunInputs, locale: CellLocale, cells: CellIn[]): CellResult[];
  /** A value removal over its list (one column, top to bottom, hidden rows included): which
   *  cells it clears. */
  valueClears(code: string, locale: CellLocale, cells: CellIn[]): boolean[];
  /** The dialog's preview line for these figures; with a recipe's inputs, the line names the
   *  value step that follows its character steps. */
  previewLine(code: string, figures: PreviewFigures, inputs?: RunInputs): string;
  /** The add-in's messages with a count: "gaveUp" (cells a pattern gave up on), "keptChanges"
   *  (cells changed since the run, left by undo), "unrestored" (cells undo could not write). */
  countMessage(id: "gaveUp" | "keptChanges" | "unrestored", count: number): string;
  /** The messages without a count ("nothingToUndo", "undoFailed", "notOneColumn", ...). */
  message(id: string): string;
  /** The character inspector over one cell's text: a line per invisible or non-ASCII
   *  character ("3  U+00A0  NO-BREAK SPACE  -> " and the removal that takes it out, where one
   *  does), or one line saying there is none. */
  inspect(text: string): string[];
  newUndoRecord(): UndoRecord;
  /** A recipe read and checked as every host reads one (its document or the file's text). */
  recipe(recipe: string | object): RecipeCheck;
  /** A recipe of steps as their dialogs took them, read back as a stored one is. */
  makeRecipe(name: string, description: string, steps: { code: string; inputs: RunInputs }[]): RecipeCheck;
  /** The engine's memory in bytes (the module's heap: it grows, never shrinks). */
  memoryBytes(): number;
}
