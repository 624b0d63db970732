// A strict fake of the part of the Excel JavaScript API the add-in uses, for node and for
// the browser page (no node imports). installFakeExcel puts `Excel` and `Office` on
// globalThis; the control it returns sets up sheets, cells, formats, hidden rows, the
// selection, requirement sets and culture, and inspects cells, requests and undo steps.
//
// Every rule names the Microsoft page it follows. Pages are in the repository
// OfficeDev/office-js-docs-pr (docs/...) or are the typings of @types/office-js ("typings:
// Excel.Range.values"). Where a page does not settle a behaviour, the fake takes the one that
// makes a mistake of the add-in show, and says so.

export type FakeValue = string | number | boolean;

/** One cell as a test sets it up. */
export interface FakeCellSpec {
  value?: FakeValue; // "" or absent: empty
  formula?: string; // "=..." makes the cell a formula whose result is `value`
  numberFormat?: string; // "General" when absent
  error?: boolean; // the value is an error text such as "#N/A"
  /** A text typed behind an apostrophe (its prefix character). */
  quotePrefix?: boolean;
  /** The cell's fill colour ("#RRGGBB"; "" or absent: no fill) and bold font: what the fake
   *  models of the formatting beyond the number format. */
  fill?: string;
  bold?: boolean;
  /** More of the cell's look, shaped as getCellProperties gives it ({ format: { font: {
   *  color: "#FF0000" } }, style: "Good" }); merged over fill and bold. */
  look?: LookTree;
  /** What clear("All") takes and copyFrom copies, but getCellProperties cannot read: a data
   *  validation rule, a conditional format, a note (each a test's label). */
  validation?: string;
  conditionalFormat?: string;
  note?: string;
}

/** A cell's look as a tree of getCellProperties' shape. */
export type LookTree = { [key: string]: string | number | boolean | null | LookTree };

export interface FakeAreaSpec {
  row: number; // 0-based, as Range.rowIndex
  column: number;
  rows: number;
  columns: number;
}

export interface FakeCulture {
  name: string;
  decimalSeparator: string;
  groupSeparator: string;
  dateSeparator: string;
  timeSeparator: string;
  shortDatePattern: string;
}

/** Who changed cells, as the change event tells it (Excel.EventSource). */
export type FakeEditor = "Local" | "Remote";

export interface FakeExcelSpec {
  /** ExcelApi versions supported ("1.20" supports every lower one); default "1.20". */
  excelApi?: string;
  culture?: FakeCulture;
}

export interface FakeRequest {
  requestBytes: number;
  responseBytes: number;
  writes: number; // operations that change cells
  reads: number; // loads
  cellsRead: number;
  time: number; // the fake's clock when it was answered
}

export interface FakeExcelControl {
  addSheet(name: string): void;
  setCell(sheet: string, row: number, column: number, cell: FakeCellSpec): void;
  /** Cells from a top-left corner, rows of values (a string starting with "=" stays text). */
  setValues(sheet: string, row: number, column: number, rows: FakeValue[][]): void;
  cell(sheet: string, row: number, column: number): Required<Omit<FakeCellSpec, "error" | "look">> & {
    valueType: string;
    look: LookTree;
  };
  /** The user (Local) or a co-author (Remote) types into a cell: changed at once, told by
   *  onChanged with triggerSource "Unknown". */
  userEdit(sheet: string, row: number, column: number, cell: FakeCellSpec, editor?: FakeEditor): void;
  /** The user inserts or deletes whole rows or columns (0-based first, count). */
  insertRows(sheet: string, first: number, count: number): void;
  deleteRows(sheet: string, first: number, count: number): void;
  insertColumns(sheet: string, first: number, count: number): void;
  deleteColumns(sheet: string, first: number, count: number): void;
  /** The user starts typing `text` into a cell (cell-edit mode) and, later, presses Enter. */
  beginCellEdit(sheet: string, row: number, column: number, text: string): void;
  endCellEdit(): void;
  /** A cell whose writes the host refuses (a locked cell of a protected sheet). */
  protect(sheet: string, row: number, column: number): void;
  /** The sheets by name, and whether each is visible, hidden or very hidden. */
  sheets(): { name: string; visibility: string }[];
  /** Excel's own separators (File > Options > Advanced); null: "Use system separators". */
  setExcelSeparators(separators: { decimal: string; thousands: string } | null): void;
  /** Handlers of onChanged that are registered. */
  handlers(): number;
  hideRow(sheet: string, row: number): void;
  rowHidden(sheet: string, row: number): boolean;
  select(sheet: string, areas: FakeAreaSpec[]): void;
  setExcelApi(version: string): void;
  setCulture(culture: FakeCulture | null): void;
  requests(): FakeRequest[];
  resetRequests(): void;
  /** Excel's own undo list: steps recorded, and Control+Z. */
  undoSteps(): number;
  excelUndo(): void;
  /** Makes the next request fail with this error code (a host failure mid-run), after
   *  applying its first `applied` commands. */
  failNextRequest(code: string, applied?: number): void;
  /** Runs before every sync: tests change cells "between" requests or count time. */
  onSync(hook: (() => void) | null): void;
  /** The fake's clock in milliseconds, advanced by each request as `msPerRequest` says. */
  setRequestCost(msPerRequest: number, msPerMegabyte: number): void;
  now(): number;
  uninstall(): void;
}

// docs/concepts/resource-limits-and-performance-optimization.md: "Excel on the web has a
// payload size limit for requests and responses of 5MB"; "A range is limited to five million
// cells for read operations". docs/testing/application-specific-api-error-handling.md names
// the errors: RequestPayloadSizeLimitExceeded for a request (and a read of too many cells),
// ResponsePayloadSizeLimitExceeded for an answer. How the 5 MB is counted on the wire is not
// documented: the fake weighs the JSON of each command and answer in UTF-8 bytes (CJK text
// three bytes a character, the heavier reading), and applies the limits on every platform
// (safer: desktop limits are looser).
export const PAYLOAD_LIMIT = 5 * 1024 * 1024;
export const READ_CELL_LIMIT = 5_000_000;

const ROWS = 1048576;
const COLUMNS = 16384;

export class FakeApiError extends Error {
  code: string;
  constructor(code: string, message: string) {
    super(message);
    // OfficeExtension.Error carries the error's name in `code` (typings: OfficeExtension.Error).
    this.name = "RichApi.Error";
    this.code = code;
  }
}

interface Cell {
  value: FakeValue;
  formula: string; // "" for a constant
  format: string;
  error: boolean;
  prefix: boolean;
  look?: LookTree;
  kept?: { validation?: string; conditionalFormat?: string; note?: string };
}

/** The bytes of a string in UTF-8. */
export function utf8Bytes(text: string): number {
  let n = text.length;
  for (let i = 0; i < text.length; i++) {
    const c = text.charCodeAt(i);
    if (c < 0x80) continue;
    if (c < 0x800) n += 1;
    else if (c >= 0xd800 && c < 0xdc00) { n += 2; i++; } // a pair: four bytes for two units
    else n += 2;
  }
  return n;
}

function jsonBytes(v: unknown): number {
  return utf8Bytes(JSON.stringify(v ?? null));
}

function isTree(v: unknown): v is LookTree {
  return typeof v === "object" && v !== null && !Array.isArray(v);
}

function mergeTree(base: LookTree | undefined, over: LookTree): LookTree {
  const out: LookTree = { ...(base ?? {}) };
  for (const [k, v] of Object.entries(over)) {
    if (v === undefined) continue;
    out[k] = isTree(v) ? mergeTree(isTree(out[k]) ? (out[k] as LookTree) : undefined, v) : v;
  }
  return out;
}

// typings: Excel.CellProperties: what getCellProperties reads of a cell with no formatting of
// its own (Calibri 11, no fill, the Normal style).
const DEFAULT_LOOK: LookTree = {
  format: {
    fill: { color: "#FFFFFF", pattern: "None", patternColor: "#000000" },
    font: { bold: false, color: "#000000", italic: false, name: "Calibri", size: 11, strikethrough: false, underline: "None", subscript: false, superscript: false },
    horizontalAlignment: "General", verticalAlignment: "Bottom", wrapText: false, indentLevel: 0, textOrientation: 0,
    protection: { locked: true, formulaHidden: false },
  },
  style: "Normal",
};

/** The part of `tree` that `options` asks for (a tree of true leaves). */
function pick(tree: LookTree, options: unknown): LookTree {
  const out: LookTree = {};
  if (!isTree(options)) return out;
  for (const [k, want] of Object.entries(options)) {
    if (!want) continue;
    const v = tree[k];
    if (v === undefined) continue;
    // typings: CellBorderCollection: the load options of borders apply to each edge.
    if (k === "borders" && isTree(v) && isTree(want)) {
      const edges: LookTree = {};
      for (const [edge, e] of Object.entries(v)) if (isTree(e)) edges[edge] = pick(e, want);
      out[k] = edges;
      continue;
    }
    out[k] = isTree(v) ? (want === true ? v : pick(v, want)) : v;
  }
  return out;
}

function sameCell(a: Cell, b: Cell): boolean {
  return a.value === b.value && a.formula === b.formula && a.format === b.format && a.error === b.error && a.prefix === b.prefix &&
    JSON.stringify(a.look ?? null) === JSON.stringify(b.look ?? null) && JSON.stringify(a.kept ?? null) === JSON.stringify(b.kept ?? null);
}

const EMPTY: Readonly<Cell> = { value: "", formula: "", format: "General", error: false, prefix: false };

class Sheet {
  cells = new Map<number, Cell>();
  hidden = new Set<number>();
  protectedCells = new Set<number>();
  visibility = "Visible";
  constructor(public name: string, public id: string) {}
  key(r: number, c: number): number {
    return r * COLUMNS + c;
  }
  get(r: number, c: number): Cell {
    return this.cells.get(this.key(r, c)) ?? EMPTY;
  }
  put(r: number, c: number, cell: Cell): void {
    const plain = (!cell.look || Object.keys(cell.look).length === 0) && (!cell.kept || Object.keys(cell.kept).length === 0);
    if (cell.value === "" && cell.formula === "" && cell.format === "General" && !cell.prefix && plain) {
      this.cells.delete(this.key(r, c));
    } else {
      this.cells.set(this.key(r, c), cell);
    }
  }
  /** Moves every cell at or past `first` (a row or a column) by `by`; a negative `by`
   *  deletes the -by rows or columns from `first` first. */
  shift(axis: "row" | "column", first: number, by: number): void {
    const moved = new Map<number, Cell>();
    const movedSet = (set: Set<number>) => {
      const out = new Set<number>();
      for (const k of set) {
        const p = this.place(k, axis, first, by);
        if (p !== null) out.add(p);
      }
      return out;
    };
    for (const [k, cell] of this.cells) {
      const p = this.place(k, axis, first, by);
      if (p !== null) moved.set(p, cell);
    }
    this.cells = moved;
    this.protectedCells = movedSet(this.protectedCells);
    if (axis === "row") {
      const hidden = new Set<number>();
      for (const r of this.hidden) {
        if (r < first) hidden.add(r);
        else if (by > 0) hidden.add(r + by);
        else if (r >= first - by) hidden.add(r + by);
      }
      this.hidden = hidden;
    }
  }
  private place(k: number, axis: "row" | "column", first: number, by: number): number | null {
    let r = Math.floor(k / COLUMNS), c = k % COLUMNS;
    let at = axis === "row" ? r : c;
    if (at >= first) {
      if (by < 0 && at < first - by) return null;
      at += by;
      if (at >= (axis === "row" ? ROWS : COLUMNS)) return null;
    }
    if (axis === "row") r = at;
    else c = at;
    return this.key(r, c);
  }
  used(): FakeAreaSpec | null {
    let r0 = Infinity, c0 = Infinity, r1 = -1, c1 = -1;
    for (const k of this.cells.keys()) {
      const r = Math.floor(k / COLUMNS), c = k % COLUMNS;
      r0 = Math.min(r0, r); c0 = Math.min(c0, c); r1 = Math.max(r1, r); c1 = Math.max(c1, c);
    }
    return r1 < 0 ? null : { row: r0, column: c0, rows: r1 - r0 + 1, columns: c1 - c0 + 1 };
  }
}

// typings: Excel.RangeValueType; a cell's type as valueTypes reports it.
function valueTypeOf(cell: Cell): string {
  if (cell.error) return "Error";
  if (typeof cell.value === "number") return "Double";
  if (typeof cell.value === "boolean") return "Boolean";
  return cell.value === "" ? "Empty" : "String";
}

// "Available number formats in Excel" (support.microsoft.com): the Text format "@" shows the
// content exactly as typed. Only the plain "@" section is taken for Text.
function isTextFormat(format: string): boolean {
  return format === "@";
}

function serialOf(year: number, month: number, day: number): number | null {
  const t = Date.UTC(year, month - 1, day);
  const d = new Date(t);
  if (d.getUTCFullYear() !== year || d.getUTCMonth() !== month - 1 || d.getUTCDate() !== day) return null;
  return Math.round((t - Date.UTC(1899, 11, 30)) / 86400000);
}

// What a string written through Range.values or Range.formulas becomes. typings:
// Excel.Range.values: "If the returned value starts with a plus ("+"), minus ("-"), or equal
// sign ("="), Excel interprets this value as a formula"; "Locale-shaped strings ... are
// stored as text instead of as dates ... use a locale-neutral format": strings are read in
// en-US whatever the user's culture. A leading apostrophe keeps a typed entry text and is
// not part of the value ("Format numbers as text", support.microsoft.com; VBA
// Range.PrefixCharacter); the Excel JavaScript pages do not say so for Range.values, and the
// fake follows the typing rule. Numbers, percentages, m/d/yyyy dates and TRUE/FALSE are
// typed as Excel's types. A Text-format cell keeps other strings as text ("Available number
// formats in Excel": Text "displays the content exactly as you type it"); a string
// starting with "=" still becomes a formula there (no page settles it for the API: the
// stricter reading, so the add-in must keep such a text with the apostrophe).
function coerce(text: string, old: Cell): Cell {
  const keep = { format: old.format, error: false, prefix: false, look: old.look, kept: old.kept };
  if (text === "") return { ...keep, value: "", formula: "" };
  if (text.startsWith("'")) return { ...keep, value: text.slice(1), formula: "", prefix: true };
  if (text.startsWith("=")) {
    // The fake does not calculate: a formula's result is an error text it cannot give.
    return { ...keep, value: "#NAME?", formula: text, error: true };
  }
  if (isTextFormat(old.format)) return { ...keep, value: text, formula: "" };
  const number = /^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/.test(text) ? Number(text) : NaN;
  if (!Number.isNaN(number)) return { ...keep, value: number, formula: "" };
  if (text.startsWith("+") || text.startsWith("-")) {
    return { ...keep, value: "#NAME?", formula: "=" + text, error: true };
  }
  const percent = /^(\d+\.?\d*)%$/.exec(text);
  if (percent) {
    return { ...keep, value: Number(percent[1]) / 100, formula: "", format: old.format === "General" ? "0%" : old.format };
  }
  const date = /^(\d{1,2})\/(\d{1,2})\/(\d{4})$/.exec(text);
  if (date) {
    const serial = serialOf(Number(date[3]), Number(date[1]), Number(date[2]));
    if (serial !== null) {
      return { ...keep, value: serial, formula: "", format: old.format === "General" ? "m/d/yyyy" : old.format };
    }
  }
  if (/^(true|false)$/i.test(text)) return { ...keep, value: text.toUpperCase() === "TRUE", formula: "" };
  return { ...keep, value: text, formula: "" };
}

function writeValue(v: unknown, old: Cell): Cell {
  if (typeof v === "string") return coerce(v, old);
  if (typeof v === "number" || typeof v === "boolean") {
    return { value: v, formula: "", format: old.format, error: false, prefix: false, look: old.look, kept: old.kept };
  }
  throw new FakeApiError("InvalidArgument", "A cell takes a string, number or Boolean");
}

function versionAtLeast(have: string, want: string): boolean {
  const [a = 0, b = 0] = have.split(".").map(Number);
  const [c = 0, d = 0] = want.split(".").map(Number);
  return a > c || (a === c && b >= d);
}

type Op = {
  size: () => number; // its bytes in the request
  run: () => void; // applied at sync, in order
  write: boolean;
  read: boolean;
};

interface World {
  sheets: Map<string, Sheet>;
  order: string[];
  selection: { sheet: string; areas: FakeAreaSpec[] };
  excelApi: string;
  culture: FakeCulture | null;
  requests: FakeRequest[];
  undo: { sheet: Sheet; before: Map<number, Cell | undefined> }[][];
  failNext: { code: string; applied: number } | null;
  hook: (() => void) | null;
  clock: number;
  msPerRequest: number;
  msPerMegabyte: number;
  handlers: { sheet: Sheet; handler: (args: unknown) => unknown; ctx: Context }[];
  editing: { sheet: string; row: number; column: number; text: string } | null;
  separators: { decimal: string; thousands: string } | null;
  nextSheetId: number;
}

/** One change as onChanged tells it: a block of cells, or inserted or deleted rows or columns. */
interface Change {
  sheet: Sheet;
  area: FakeAreaSpec; // the cells (for rows or columns: the whole rows or columns)
  changeType: string;
  byAddin: boolean;
  editor: FakeEditor;
  details?: { before: Cell; after: Cell };
}

function typeName(cell: Cell): string {
  return valueTypeOf(cell) === "Empty" ? "Empty" : valueTypeOf(cell);
}

// docs/excel/excel-add-ins-events.md and the typings of Excel.WorksheetChangedEventArgs:
// onChanged (ExcelApi 1.7) tells the changed area's address (without the sheet's name), the
// changeType (Excel.DataChangeType), the source (Local, or Remote for a co-author), details
// of a change to one cell only (values and types before and after, ExcelApi 1.9),
// triggerSource (ExcelApi 1.14: "ThisLocalAddin" for this add-in's own writes, "Unknown"
// otherwise) and changeDirectionState (ExcelApi 1.14). No page says when an event arrives:
// the fake delivers it a task after the change, so that an add-in cannot count on seeing an
// edit before it sends its next request (the harder reading).
function tell(world: World, change: Change): void {
  const listeners = world.handlers.filter((h) => h.sheet === change.sheet);
  if (listeners.length === 0) return;
  const { area } = change;
  const rows = change.changeType === "RowInserted" || change.changeType === "RowDeleted";
  const columns = change.changeType === "ColumnInserted" || change.changeType === "ColumnDeleted";
  const address = rows ? `${area.row + 1}:${area.row + area.rows}`
    : columns ? `${columnName(area.column)}:${columnName(area.column + area.columns - 1)}`
    : a1(area);
  const args: Record<string, unknown> = {
    type: "WorksheetChanged",
    worksheetId: change.sheet.id,
    address,
    changeType: change.changeType,
    source: change.editor,
  };
  if (versionAtLeast(world.excelApi, "1.14")) {
    args.triggerSource = change.byAddin ? "ThisLocalAddin" : "Unknown";
    if (rows) args.changeDirectionState = { insertShiftDirection: change.changeType === "RowInserted" ? "Down" : undefined, deleteShiftDirection: change.changeType === "RowDeleted" ? "Up" : undefined };
    if (columns) args.changeDirectionState = { insertShiftDirection: change.changeType === "ColumnInserted" ? "Right" : undefined, deleteShiftDirection: change.changeType === "ColumnDeleted" ? "Left" : undefined };
  }
  if (change.details && versionAtLeast(world.excelApi, "1.9")) {
    const { before, after } = change.details;
    args.details = { valueBefore: before.value, valueAfter: after.value, valueTypeBefore: typeName(before), valueTypeAfter: typeName(after) };
  }
  setTimeout(() => {
    for (const l of listeners) if (world.handlers.includes(l)) void l.handler(args);
  }, 0);
}

// docs/excel/excel-add-ins-core-concepts.md ("load", "sync"): a property is read only after
// load() and sync(); otherwise PropertyNotLoaded. A property loaded before a write of the
// same sync returns what the load saw.
class Loadable {
  protected loaded = new Map<string, unknown>();
  protected pending = new Set<string>();
  constructor(protected ctx: Context) {}
  protected got<T>(name: string): T {
    if (!this.loaded.has(name)) {
      throw new FakeApiError("PropertyNotLoaded", `The property '${name}' is not available. Call load and sync first.`);
    }
    return this.loaded.get(name) as T;
  }
  protected want(names: string[], fetch: (name: string) => unknown, cells: number, onLoad?: () => void): void {
    for (const n of names) this.pending.add(n);
    const self = this;
    this.ctx.queue({
      read: true,
      write: false,
      size: () => 64,
      run() {
        // resource-limits page: a read of more than five million cells fails.
        if (cells > READ_CELL_LIMIT) throw new FakeApiError("RequestPayloadSizeLimitExceeded", "more than 5,000,000 cells read");
        const got = new Map<string, unknown>();
        for (const n of names) got.set(n, fetch(n));
        self.ctx.respond(got, cells);
        for (const [k, v] of got) self.loaded.set(k, v);
        onLoad?.();
      },
    });
  }
}

function loadNames(arg: unknown): string[] {
  if (arg === undefined) return [];
  if (typeof arg === "string") return arg.split(",").map((s) => s.trim()).filter((s) => s);
  if (Array.isArray(arg)) return arg.map(String);
  if (typeof arg === "object" && arg !== null) {
    const select = (arg as { select?: unknown }).select;
    if (select !== undefined) return loadNames(select);
  }
  throw new FakeApiError("InvalidArgument", "load takes property names");
}

const RANGE_PROPERTIES = ["values", "formulas", "numberFormat", "valueTypes", "rowIndex", "columnIndex", "rowCount", "columnCount", "address", "cellCount", "rowHidden"];

class FakeRange extends Loadable {
  constructor(ctx: Context, public sheet: Sheet, public a: FakeAreaSpec) {
    super(ctx);
  }
  get worksheet(): FakeWorksheet {
    return new FakeWorksheet(this.ctx, this.sheet);
  }
  private cellsOf<T>(f: (cell: Cell, r: number, c: number) => T): T[][] {
    const out: T[][] = [];
    for (let r = 0; r < this.a.rows; r++) {
      const row: T[] = [];
      for (let c = 0; c < this.a.columns; c++) {
        const rr = this.a.row + r, cc = this.a.column + c;
        row.push(f(this.sheet.get(rr, cc), rr, cc));
      }
      out.push(row);
    }
    return out;
  }
  load(arg?: unknown): this {
    const names = loadNames(arg);
    for (const n of names) {
      if (!RANGE_PROPERTIES.includes(n)) throw new FakeApiError("InvalidArgument", `Range has no property '${n}'`);
    }
    const cellData = names.some((n) => ["values", "formulas", "numberFormat", "valueTypes"].includes(n));
    const count = this.a.rows * this.a.columns;
    this.want(names, (n) => this.fetch(n), cellData ? count : 0);
    return this;
  }
  /** Properties a collection's load already brought (an area of a RangeAreas). */
  preload(names: string[]): void {
    for (const n of names) this.loaded.set(n, this.fetch(n));
  }
  private fetch(n: string): unknown {
    switch (n) {
      case "values":
        return this.cellsOf((c) => c.value);
      case "formulas":
        // A text behind the apostrophe reads back without it (reported for Range.formulas in
        // OfficeDev/office-js issue 6687; no page says otherwise): a text "=x" and a formula
        // "=x" look alike here, and the add-in must tell them apart another way.
        return this.cellsOf((c) => (c.formula !== "" ? c.formula : c.value));
      case "numberFormat":
        return this.cellsOf((c) => c.format);
      case "valueTypes":
        return this.cellsOf((c) => valueTypeOf(c));
      case "rowIndex":
        return this.a.row;
      case "columnIndex":
        return this.a.column;
      case "rowCount":
        return this.a.rows;
      case "columnCount":
        return this.a.columns;
      case "cellCount":
        return this.a.rows * this.a.columns;
      case "address":
        return `${quoteSheet(this.sheet.name)}!${a1(this.a)}`;
      case "rowHidden": {
        // typings: Excel.Range.rowHidden: null when the rows differ.
        let hidden = 0;
        for (let r = 0; r < this.a.rows; r++) if (this.sheet.hidden.has(this.a.row + r)) hidden++;
        return hidden === 0 ? false : hidden === this.a.rows ? true : null;
      }
    }
    return undefined;
  }
  get values(): FakeValue[][] { return this.got("values"); }
  get formulas(): FakeValue[][] { return this.got("formulas"); }
  get numberFormat(): string[][] { return this.got("numberFormat"); }
  get valueTypes(): string[][] { return this.got("valueTypes"); }
  get rowIndex(): number { return this.got("rowIndex"); }
  get columnIndex(): number { return this.got("columnIndex"); }
  get rowCount(): number { return this.got("rowCount"); }
  get columnCount(): number { return this.got("columnCount"); }
  get cellCount(): number { return this.got("cellCount"); }
  get address(): string { return this.got("address"); }
  get rowHidden(): boolean | null { return this.got("rowHidden"); }

  // docs/excel/excel-add-ins-blank-null-values.md: in a 2-D array, null leaves the cell as it
  // is; "" clears the content (values, formulas) or resets the format to General. A single
  // null for the whole property is not valid. The array must match the range's shape
  // (typings: Range.values "the dimensions must match"; a mismatch is InvalidArgument).
  private setGrid(name: string, grid: unknown, apply: (v: unknown, old: Cell) => Cell): void {
    if (!Array.isArray(grid) || grid.length !== this.a.rows || grid.some((row) => !Array.isArray(row) || row.length !== this.a.columns)) {
      throw new FakeApiError("InvalidArgument", `${name}: the array does not match the range's size`);
    }
    const data = grid as unknown[][];
    this.ctx.queueWrite(this.sheet, this.a, jsonBytes(data) + 64, (r, c, old) => {
      const v = data[r]![c];
      return v === null || v === undefined ? null : apply(v, { ...old });
    });
  }
  set values(grid: unknown) {
    this.setGrid("values", grid, writeValue);
  }
  set formulas(grid: unknown) {
    this.setGrid("formulas", grid, writeValue);
  }
  set numberFormat(grid: unknown) {
    this.setGrid("numberFormat", grid, (v, old) => {
      if (typeof v !== "string") throw new FakeApiError("InvalidArgument", "A number format is a string");
      return { ...old, format: v === "" ? "General" : v };
    });
  }
  set valueTypes(_: unknown) {
    throw new FakeApiError("InvalidArgument", "valueTypes is read-only");
  }

  // docs/excel/excel-add-ins-ranges-clear-delete.md: clear() removes contents and formatting;
  // clear("Contents") the contents, clear("Formats") the formatting. Excel.ClearApplyTo.all
  // "Clears everything in the range": data validation, conditional formats and notes go too
  // (the fake's `kept`). Hidden rows are cleared like any others (the page makes no exception).
  clear(applyTo?: string): void {
    const what = applyTo ?? "All";
    if (!["All", "Contents", "Formats"].includes(what)) throw new FakeApiError("InvalidArgument", "clear: " + what);
    const contents = what !== "Formats", formats = what !== "Contents";
    this.ctx.queueWrite(this.sheet, this.a, 96, (_r, _c, old) => {
      const kept = what === "All" ? undefined : what === "Formats" && old.kept ? { ...old.kept, conditionalFormat: undefined } : old.kept;
      return {
        value: contents ? "" : old.value,
        formula: contents ? "" : old.formula,
        error: contents ? false : old.error,
        prefix: contents ? false : old.prefix,
        format: formats ? "General" : old.format,
        look: formats ? undefined : old.look,
        kept: kept && Object.values(kept).some((v) => v !== undefined) ? kept : undefined,
      };
    });
  }

  // docs/excel/excel-add-ins-ranges-cut-copy-paste.md and typings: Range.copyFrom(source,
  // copyType, skipBlanks, transpose), ExcelApi 1.9: the destination takes the source's size
  // from its top-left cell; "All" copies everything (contents, number format, look, data
  // validation, conditional formats, notes), "Formulas" the contents, "Values" the results,
  // "Formats" the formatting. skipBlanks leaves a destination cell whose source is empty.
  // Transposing and a source of several areas are not modelled (refused: the fake never
  // pretends). The source is read when the command runs, after the commands before it.
  copyFrom(source: unknown, copyType: string = "All", skipBlanks = false, transpose = false): void {
    if (!versionAtLeast(this.ctx.world.excelApi, "1.9")) throw new FakeApiError("ApiNotFound", "copyFrom needs ExcelApi 1.9");
    if (!(source instanceof FakeRange) || transpose) throw new FakeApiError("InvalidArgument", "copyFrom: only a one-area range, not transposed, is modelled");
    if (!["All", "Formulas", "Values", "Formats"].includes(copyType)) throw new FakeApiError("InvalidArgument", "copyFrom: " + copyType);
    const from = source.a, fromSheet = source.sheet;
    const to = { row: this.a.row, column: this.a.column, rows: from.rows, columns: from.columns };
    if (to.row + to.rows > ROWS || to.column + to.columns > COLUMNS) throw new FakeApiError("InvalidArgument", "copyFrom: outside the sheet");
    let snapshot: Cell[][] = [];
    this.ctx.queueWrite(this.sheet, to, 128, (r, c, old) => {
      if (r === 0 && c === 0) snapshot = Array.from({ length: from.rows }, (_, rr) => Array.from({ length: from.columns }, (_, cc) => fromSheet.get(from.row + rr, from.column + cc)));
      const src = snapshot[r]![c]!;
      if (skipBlanks && valueTypeOf(src) === "Empty") return null;
      switch (copyType) {
        case "All":
          return { ...src, look: src.look && { ...src.look }, kept: src.kept && { ...src.kept } };
        case "Formulas":
          return { ...old, value: src.value, formula: src.formula, error: src.error, prefix: src.prefix };
        case "Values":
          return { ...old, value: src.value, formula: "", error: src.error, prefix: false };
        default:
          return { ...old, format: src.format, look: src.look, kept: src.kept?.conditionalFormat ? { ...old.kept, conditionalFormat: src.kept.conditionalFormat } : old.kept };
      }
    });
  }

  // docs/excel/excel-add-ins-ranges-special-cells.md: getSpecialCells(cellType) gives the
  // cells of a kind as a RangeAreas (ExcelApi 1.9), and throws ItemNotFound when there are
  // none; the OrNullObject form gives a null object instead. "Constants" and "Formulas" are
  // modelled (a constant: a cell with a value and no formula); the areas are each column's
  // runs of neighbouring cells, top to bottom, column by column.
  getSpecialCellsOrNullObject(cellType: string): FakeRangeAreas {
    return this.special(cellType, true);
  }
  getSpecialCells(cellType: string): FakeRangeAreas {
    return this.special(cellType, false);
  }
  private special(cellType: string, orNull: boolean): FakeRangeAreas {
    if (!versionAtLeast(this.ctx.world.excelApi, "1.9")) throw new FakeApiError("ApiNotFound", "getSpecialCells needs ExcelApi 1.9");
    if (cellType !== "Formulas" && cellType !== "Constants") throw new FakeApiError("InvalidArgument", "only Formulas and Constants are modelled");
    const out = new FakeRangeAreas(this.ctx, this.sheet, []);
    const sheet = this.sheet, a = this.a;
    this.ctx.queue({
      read: true,
      write: false,
      size: () => 64,
      run: () => {
        const hits: number[] = [];
        for (const [k, cell] of sheet.cells) {
          const r = Math.floor(k / COLUMNS), c = k % COLUMNS;
          if (r < a.row || r >= a.row + a.rows || c < a.column || c >= a.column + a.columns) continue;
          const formula = cell.formula !== "";
          if (cellType === "Formulas" ? formula : !formula && valueTypeOf(cell) !== "Empty") hits.push(c * ROWS + r);
        }
        hits.sort((x, y) => x - y);
        const list: FakeAreaSpec[] = [];
        for (const h of hits) {
          const r = h % ROWS, c = Math.floor(h / ROWS);
          const last = list[list.length - 1];
          if (last && last.column === c && last.row + last.rows === r) last.rows++;
          else list.push({ row: r, column: c, rows: 1, columns: 1 });
        }
        if (list.length === 0 && !orNull) throw new FakeApiError("ItemNotFound", "no cells of that kind");
        out.settle(list);
        this.ctx.respond(new Map([["areas", list.map(a1)]]), 0);
      },
    });
    return out;
  }

  // typings: Range.getCellProperties and setCellProperties (ExcelApi 1.9): the properties
  // asked for (a tree of true leaves), cell by cell, read at sync into the result's value;
  // set, each given property of each cell, merged over what it has. A cell with no look of
  // its own reads Excel's defaults (DEFAULT_LOOK).
  getCellProperties(options: unknown): { value: unknown[][] } {
    if (!versionAtLeast(this.ctx.world.excelApi, "1.9")) throw new FakeApiError("ApiNotFound", "getCellProperties needs ExcelApi 1.9");
    const result: { value: unknown[][]; known: boolean } = { value: [], known: false };
    const out = {
      get value(): unknown[][] {
        if (!result.known) throw new FakeApiError("PropertyNotLoaded", "value before sync");
        return result.value;
      },
    };
    const range = this;
    this.ctx.queue({
      read: true,
      write: false,
      size: () => 64 + jsonBytes(options),
      run() {
        result.value = range.cellsOf((cell) => pick(mergeTree(DEFAULT_LOOK, cell.look ?? {}), options));
        result.known = true;
        range.ctx.respond(new Map([["cellProperties", result.value]]), range.a.rows * range.a.columns);
      },
    });
    return out;
  }
  setCellProperties(values: unknown[][]): void {
    if (!versionAtLeast(this.ctx.world.excelApi, "1.9")) throw new FakeApiError("ApiNotFound", "setCellProperties needs ExcelApi 1.9");
    const a = this.a;
    if (values.length !== a.rows || values.some((row) => row.length !== a.columns)) {
      throw new FakeApiError("InvalidArgument", "setCellProperties takes one entry per cell");
    }
    this.ctx.queueWrite(this.sheet, a, jsonBytes(values), (r, c, old) => {
      const props = values[r]![c];
      if (!isTree(props)) return null;
      return { ...old, look: mergeTree(old.look, props) };
    });
  }

  getIntersectionOrNullObject(): never {
    throw new FakeApiError("InvalidArgument", "not modelled");
  }
}

function columnName(c: number): string {
  let s = "";
  for (let n = c + 1; n > 0; n = Math.floor((n - 1) / 26)) s = String.fromCharCode(65 + ((n - 1) % 26)) + s;
  return s;
}
function a1(a: FakeAreaSpec): string {
  const first = `${columnName(a.column)}${a.row + 1}`;
  if (a.rows === 1 && a.columns === 1) return first;
  return `${first}:${columnName(a.column + a.columns - 1)}${a.row + a.rows}`;
}
function quoteSheet(name: string): string {
  return /^[A-Za-z0-9_]+$/.test(name) ? name : `'${name.replace(/'/g, "''")}'`;
}

class FakeWorksheet extends Loadable {
  constructor(ctx: Context, public sheet: Sheet) {
    super(ctx);
  }
  load(arg?: unknown): this {
    const names = loadNames(arg);
    this.want(names, (n) => (n === "name" ? this.sheet.name : n === "id" ? this.sheet.id : n === "visibility" ? this.sheet.visibility : undefined), 0);
    return this;
  }
  get name(): string { return this.got("name"); }
  get id(): string { return this.got("id"); }
  get visibility(): string { return this.got("visibility"); }
  // typings: Worksheet.visibility (ExcelApi 1.1): Visible, Hidden or VeryHidden (a very
  // hidden sheet is not listed to the user). At least one sheet stays visible.
  set visibility(v: string) {
    if (!["Visible", "Hidden", "VeryHidden"].includes(v)) throw new FakeApiError("InvalidArgument", "visibility: " + v);
    const world = this.ctx.world, sheet = this.sheet;
    this.ctx.queue({ read: false, write: true, size: () => 64, run() {
      if (v !== "Visible" && ![...world.sheets.values()].some((s) => s !== sheet && s.visibility === "Visible")) {
        throw new FakeApiError("InvalidOperation", "the last visible sheet cannot be hidden");
      }
      sheet.visibility = v;
    } });
  }
  // typings: Worksheet.delete (ExcelApi 1.1): the last visible sheet cannot be deleted.
  delete(): void {
    const world = this.ctx.world, sheet = this.sheet;
    this.ctx.queue({ read: false, write: true, size: () => 64, run() {
      if (!world.sheets.has(sheet.name)) throw new FakeApiError("ItemNotFound", "the sheet is gone");
      if (sheet.visibility === "Visible" && ![...world.sheets.values()].some((s) => s !== sheet && s.visibility === "Visible")) {
        throw new FakeApiError("InvalidOperation", "the last visible sheet cannot be deleted");
      }
      world.sheets.delete(sheet.name);
      world.order = world.order.filter((n) => n !== sheet.name);
      world.handlers = world.handlers.filter((h) => h.sheet !== sheet);
    } });
  }
  // docs/excel/excel-add-ins-events.md: worksheet.onChanged.add(handler) registers at the
  // next sync (ExcelApi 1.7) and gives an EventHandlerResult; its remove(), then a sync of
  // the same context, unregisters ("you must use the same RequestContext").
  get onChanged(): { add(handler: (args: unknown) => unknown): { context: Context; remove(): void } } {
    const ctx = this.ctx, sheet = this.sheet;
    return {
      add(handler) {
        if (!versionAtLeast(ctx.world.excelApi, "1.7")) throw new FakeApiError("ApiNotFound", "onChanged needs ExcelApi 1.7");
        const entry = { sheet, handler, ctx };
        ctx.queue({ read: false, write: false, size: () => 64, run: () => { ctx.world.handlers.push(entry); } });
        return {
          context: ctx,
          remove() {
            ctx.queue({ read: false, write: false, size: () => 64, run: () => {
              if (entry.ctx !== ctx) throw new FakeApiError("InvalidRequestContext", "remove in another context");
              ctx.world.handlers = ctx.world.handlers.filter((h) => h !== entry);
            } });
          },
        };
      },
    };
  }
  // typings: Worksheet.getRangeByIndexes(startRow, startColumn, rowCount, columnCount).
  getRangeByIndexes(row: number, column: number, rows: number, columns: number): FakeRange {
    if (row < 0 || column < 0 || rows < 1 || columns < 1 || row + rows > ROWS || column + columns > COLUMNS) {
      throw new FakeApiError("InvalidArgument", "range outside the sheet");
    }
    return new FakeRange(this.ctx, this.sheet, { row, column, rows, columns });
  }
  // typings: Worksheet.getUsedRangeOrNullObject: the cells with a value or a format; a null
  // object when none.
  getUsedRangeOrNullObject(): FakeRange & { isNullObject: boolean } {
    const used = this.sheet.used();
    const range = new FakeRange(this.ctx, this.sheet, used ?? { row: 0, column: 0, rows: 1, columns: 1 }) as FakeRange & { isNullObject: boolean };
    Object.defineProperty(range, "isNullObject", { get: () => used === null });
    return range;
  }
}

class FakeRangeAreas extends Loadable {
  private known: boolean;
  constructor(ctx: Context, private sheetOf: Sheet, private list: FakeAreaSpec[]) {
    super(ctx);
    this.known = list.length > 0;
  }
  /** The areas found at sync (getSpecialCells). */
  settle(list: FakeAreaSpec[]): void {
    this.list = list;
    this.known = true;
  }
  // docs/develop/application-specific-api-model.md (*OrNullObject): isNullObject is known
  // after sync.
  get isNullObject(): boolean {
    if (!this.known) throw new FakeApiError("PropertyNotLoaded", "isNullObject before sync");
    return this.list.length === 0;
  }
  get worksheet(): FakeWorksheet {
    return new FakeWorksheet(this.ctx, this.sheetOf);
  }
  // typings: RangeAreas.areas, a RangeCollection whose items are loaded with it.
  private areasOf: { items: FakeRange[]; load: (arg?: unknown) => unknown } | null = null;
  get areas(): { items: FakeRange[]; load: (arg?: unknown) => unknown } {
    if (this.areasOf) return this.areasOf;
    let loaded: string[] | null = null;
    let ranges: FakeRange[] | null = null;
    const self = this, ctx = this.ctx;
    const collection = {
      get items(): FakeRange[] {
        if (loaded === null) throw new FakeApiError("PropertyNotLoaded", "areas.items before load and sync");
        const names = loaded;
        ranges ??= self.list.map((a) => {
          const r = new FakeRange(ctx, self.sheetOf, a);
          r.preload(names);
          return r;
        });
        return ranges;
      },
      load(arg?: unknown) {
        const names = loadNames(arg).map((n) => n.replace(/^items\//, ""));
        for (const n of names) {
          if (!["rowIndex", "columnIndex", "rowCount", "columnCount", "address", "cellCount"].includes(n)) throw new FakeApiError("InvalidArgument", `areas: ${n} is not modelled`);
        }
        ctx.queue({ read: true, write: false, size: () => 32, run: () => {
          loaded = names;
          ctx.respond(new Map([["areas", self.list]]), 0);
        } });
        return collection;
      },
    };
    this.areasOf = collection;
    return collection;
  }
  load(arg?: unknown): this {
    const names = loadNames(arg);
    this.want(names, (n) => {
      if (n === "areaCount") return this.list.length;
      if (n === "address") return this.list.map((a) => `${quoteSheet(this.sheetOf.name)}!${a1(a)}`).join(",");
      if (n === "cellCount") return this.list.reduce((k, a) => k + a.rows * a.columns, 0);
      throw new FakeApiError("InvalidArgument", `RangeAreas has no property '${n}'`);
    }, 0);
    return this;
  }
  get areaCount(): number { return this.got("areaCount"); }
  get address(): string { return this.got("address"); }
  get cellCount(): number { return this.got("cellCount"); }
}

class FakeApplication extends Loadable {
  // typings: Application.decimalSeparator, thousandsSeparator and useSystemSeparators
  // (ExcelApi 1.11): "based on the local Excel settings"; with useSystemSeparators the
  // system's (the culture's) apply.
  load(arg?: unknown): this {
    const world = this.ctx.world;
    const names = loadNames(arg);
    if (names.length > 0 && !versionAtLeast(world.excelApi, "1.11")) throw new FakeApiError("ApiNotFound", "needs ExcelApi 1.11");
    const culture = world.culture ?? EN_US;
    this.want(names, (n) => {
      const own = world.separators;
      if (n === "useSystemSeparators") return own === null;
      if (n === "decimalSeparator") return own?.decimal ?? culture.decimalSeparator;
      if (n === "thousandsSeparator") return own?.thousands ?? culture.groupSeparator;
      throw new FakeApiError("InvalidArgument", `Application: ${n} is not modelled`);
    }, 0);
    return this;
  }
  get useSystemSeparators(): boolean { return this.got("useSystemSeparators"); }
  get decimalSeparator(): string { return this.got("decimalSeparator"); }
  get thousandsSeparator(): string { return this.got("thousandsSeparator"); }
  // typings: Application.cultureInfo (ExcelApi 1.11): name, numberFormat (1.11),
  // datetimeFormat (1.12). Reaching it without the set fails as an API the host lacks.
  get cultureInfo(): unknown {
    const world = this.ctx.world;
    if (!versionAtLeast(world.excelApi, "1.11") || world.culture === null) {
      throw new FakeApiError("ApiNotFound", "cultureInfo is not supported");
    }
    const culture = world.culture;
    const ctx = this.ctx;
    const part = (fields: Record<string, string>, set: string, parts: Record<string, unknown> = {}) => {
      const obj = new (class extends Loadable {
        load(arg?: unknown) {
          if (!versionAtLeast(world.excelApi, set)) throw new FakeApiError("ApiNotFound", `needs ExcelApi ${set}`);
          this.want(loadNames(arg), (n) => fields[n], 0);
          return this;
        }
        read(n: string) {
          return this.got(n);
        }
      })(ctx);
      return new Proxy(obj, {
        get(target, p) {
          if (p === "load") return target.load.bind(target);
          if (typeof p === "string" && p in parts) return parts[p];
          if (typeof p === "string" && p in fields) return target.read(p);
          return undefined;
        },
      });
    };
    // CultureInfo is a client object too: its name is read only once loaded and synced.
    return part({ name: culture.name }, "1.11", {
      numberFormat: part({ numberDecimalSeparator: culture.decimalSeparator, numberGroupSeparator: culture.groupSeparator }, "1.11"),
      datetimeFormat: part({ dateSeparator: culture.dateSeparator, timeSeparator: culture.timeSeparator, shortDatePattern: culture.shortDatePattern, longDatePattern: "", shortTimePattern: "", longTimePattern: "" }, "1.12"),
    });
  }
}

type Writer = (r: number, c: number, old: Cell) => Cell | null;

class Context {
  ops: Op[] = [];
  private response = 0;
  private cellsRead = 0;
  private merged: Map<string, Map<number, Cell | undefined>> | null;
  workbook: unknown;
  application: FakeApplication;
  constructor(public world: World, public mergeUndo: boolean, public delayForCellEdit: boolean) {
    this.merged = null;
    this.application = new FakeApplication(this);
    const ctx = this;
    const sheetNamed = (name: string) => {
      const sheet = world.sheets.get(name);
      if (!sheet) throw new FakeApiError("ItemNotFound", `no sheet ${name}`);
      return sheet;
    };
    this.workbook = {
      // docs/excel/excel-add-ins-multiple-ranges.md: getSelectedRanges gives every area of
      // the selection as one RangeAreas.
      getSelectedRanges() {
        const sel = world.selection;
        return new FakeRangeAreas(ctx, sheetNamed(sel.sheet), sel.areas.map((a) => ({ ...a })));
      },
      getSelectedRange() {
        const sel = world.selection;
        if (sel.areas.length !== 1) {
          // typings: Workbook.getSelectedRange "If multiple ranges are selected, this method will throw an error".
          throw new FakeApiError("InvalidSelection", "several areas are selected");
        }
        return new FakeRange(ctx, sheetNamed(sel.sheet), { ...sel.areas[0]! });
      },
      // docs/excel/excel-add-ins-workbooks.md ("Get the active cell or selected range") and
      // typings: Workbook.getActiveCell gets the active cell as a Range (ExcelApi 1.7). No page
      // says which cell of the selection is active: the fake takes the top-left cell of the
      // last area, where a Control+click leaves it, so an add-in that reads the selection's
      // first cell instead shows here.
      getActiveCell() {
        if (!versionAtLeast(world.excelApi, "1.7")) throw new FakeApiError("ApiNotFound", "getActiveCell needs ExcelApi 1.7");
        const sel = world.selection;
        const last = sel.areas[sel.areas.length - 1];
        if (!last) throw new FakeApiError("InvalidSelection", "no cell is active");
        return new FakeRange(ctx, sheetNamed(sel.sheet), { row: last.row, column: last.column, rows: 1, columns: 1 });
      },
      worksheets: {
        getItem(name: string) {
          return new FakeWorksheet(ctx, sheetNamed(name));
        },
        getActiveWorksheet() {
          return new FakeWorksheet(ctx, sheetNamed(world.selection.sheet));
        },
        // typings: WorksheetCollection.add(name) (ExcelApi 1.1): a name in use fails
        // (ItemAlreadyExists). The sheet exists from the command on.
        add(name: string) {
          if (world.sheets.has(name)) throw new FakeApiError("ItemAlreadyExists", `a sheet ${name} exists`);
          const sheet = new Sheet(name, `{${(world.nextSheetId++).toString(16).padStart(8, "0")}}`);
          ctx.queue({ read: false, write: true, size: () => 64 + utf8Bytes(name), run: () => {
            if (world.sheets.has(name)) throw new FakeApiError("ItemAlreadyExists", `a sheet ${name} exists`);
            world.sheets.set(name, sheet);
            world.order.push(name);
          } });
          return new FakeWorksheet(ctx, sheet);
        },
      },
      application: this.application,
    };
  }
  queue(op: Op): void {
    this.ops.push(op);
  }
  respond(data: Map<string, unknown>, cells: number): void {
    let bytes = 0;
    for (const v of data.values()) bytes += jsonBytes(v);
    this.response += bytes;
    this.cellsRead += cells;
  }
  /** A command that changes cells of `area`: each cell's new content (null: left). A locked
   *  cell of a protected sheet refuses the command (AccessDenied) before any of its cells
   *  change (docs/excel/excel-add-ins-worksheets.md, "Protect a worksheet"). */
  queueWrite(sheet: Sheet, area: FakeAreaSpec, bytes: number, each: Writer): void {
    const ctx = this;
    this.queue({
      read: false,
      write: true,
      size: () => bytes,
      run() {
        if (!ctx.world.sheets.has(sheet.name)) throw new FakeApiError("ItemNotFound", "the sheet is gone");
        const next: [number, number, Cell][] = [];
        for (let r = 0; r < area.rows; r++) {
          for (let c = 0; c < area.columns; c++) {
            const rr = area.row + r, cc = area.column + c;
            const cell = each(r, c, sheet.get(rr, cc));
            if (cell === null) continue;
            if (sheet.protectedCells.has(sheet.key(rr, cc))) throw new FakeApiError("AccessDenied", "the cell is locked");
            next.push([rr, cc, cell]);
          }
        }
        let one: { before: Cell; after: Cell } | undefined;
        for (const [rr, cc, cell] of next) {
          const before = sheet.get(rr, cc);
          ctx.changing(sheet, rr, cc);
          sheet.put(rr, cc, cell);
          one = { before, after: cell };
        }
        if (next.length > 0) {
          const single = area.rows === 1 && area.columns === 1;
          tell(ctx.world, { sheet, area, changeType: "RangeEdited", byAddin: true, editor: "Local", details: single ? one : undefined });
        }
      },
    });
  }
  private stepBefore: Map<string, Map<number, Cell | undefined>> | null = null;
  changing(sheet: Sheet, r: number, c: number): void {
    const step = this.stepBefore!;
    let m = step.get(sheet.name);
    if (!m) step.set(sheet.name, (m = new Map()));
    const k = sheet.key(r, c);
    if (!m.has(k)) m.set(k, sheet.cells.get(k));
  }
  // docs/excel/excel-add-ins-core-concepts.md: sync() sends the queued commands as one
  // request; its answer fills the loaded properties.
  async sync(): Promise<void> {
    const world = this.world;
    world.hook?.();
    // A request and the user's or a co-author's edits never interleave: edits land between
    // requests (the hook above, or a test's own calls between awaits).
    const ops = this.ops;
    this.ops = [];
    if (world.editing !== null) {
      // RunOptions.delayForCellEdit (learn.microsoft.com/javascript/api/excel/excel.runoptions):
      // false (the default) fails the batch while the user is in cell-edit mode; true delays
      // it until the user leaves it. The fake has the user press Enter at once; the typed
      // text lands before the request runs.
      if (!this.delayForCellEdit) throw new FakeApiError("InvalidOperationInCellEditMode", "the user is editing a cell");
      finishEdit(world);
    }
    const requestBytes = ops.reduce((n, op) => n + op.size(), 0);
    world.clock += world.msPerRequest + (world.msPerMegabyte * requestBytes) / 1048576;
    if (requestBytes > PAYLOAD_LIMIT) throw new FakeApiError("RequestPayloadSizeLimitExceeded", "request over 5 MB");
    this.response = 0;
    this.cellsRead = 0;
    this.stepBefore = new Map();
    // A request that fails keeps what its commands before the failing one did: no page
    // promises a request applied whole or not at all, so the fake takes the harder reading
    // (the add-in must not assume a refused request changed nothing). An answer over the
    // limit fails after every command ran.
    let failure: unknown = null;
    const fail = world.failNext;
    world.failNext = null;
    let applied = 0;
    try {
      for (const op of ops) {
        if (fail !== null && applied === fail.applied) throw new FakeApiError(fail.code, "the host failed the request");
        op.run();
        applied++;
      }
      if (fail !== null) throw new FakeApiError(fail.code, "the host failed the request");
      world.clock += (world.msPerMegabyte * this.response) / 1048576;
      if (this.response > PAYLOAD_LIMIT) throw new FakeApiError("ResponsePayloadSizeLimitExceeded", "response over 5 MB");
    } catch (e) {
      failure = e;
    }
    if (failure === null) {
      world.requests.push({
        requestBytes,
        responseBytes: this.response,
        writes: ops.filter((o) => o.write).length,
        reads: ops.filter((o) => o.read).length,
        cellsRead: this.cellsRead,
        time: world.clock,
      });
    }
    // docs/excel/excel-add-ins-undo-capabilities.md: each sync that changes cells is an
    // undo step; with mergeUndoGroup every sync of one Excel.run is one step.
    const step = this.stepBefore;
    this.stepBefore = null;
    if (step.size > 0) {
      if (this.mergeUndo) {
        if (this.merged === null) {
          this.merged = new Map();
          world.undo.push([]);
        }
        for (const [name, m] of step) {
          let all = this.merged.get(name);
          if (!all) this.merged.set(name, (all = new Map()));
          for (const [k, v] of m) if (!all.has(k)) all.set(k, v);
        }
        world.undo[world.undo.length - 1] = [...this.merged].map(([name, before]) => ({ sheet: world.sheets.get(name)!, before }));
      } else {
        world.undo.push([...step].map(([name, before]) => ({ sheet: world.sheets.get(name)!, before })));
      }
    }
    if (failure !== null) throw failure;
  }
}

/** The user leaves cell-edit mode with Enter: the typed text lands as their edit. */
function finishEdit(world: World): void {
  const e = world.editing;
  if (e === null) return;
  world.editing = null;
  userChange(world, world.sheets.get(e.sheet)!, e.row, e.column, (old) => coerce(e.text, old), "Local");
}

function userChange(world: World, sheet: Sheet, row: number, column: number, next: (old: Cell) => Cell, editor: FakeEditor): void {
  const before = sheet.get(row, column);
  const after = next({ ...before });
  sheet.put(row, column, after);
  if (sameCell(before, after)) return;
  tell(world, { sheet, area: { row, column, rows: 1, columns: 1 }, changeType: "RangeEdited", byAddin: false, editor, details: { before, after } });
}

export function installFakeExcel(spec: FakeExcelSpec = {}): FakeExcelControl {
  const g = globalThis as Record<string, unknown>;
  const world: World = {
    sheets: new Map([["Sheet1", new Sheet("Sheet1", "{00000001}")]]),
    order: ["Sheet1"],
    selection: { sheet: "Sheet1", areas: [{ row: 0, column: 0, rows: 1, columns: 1 }] },
    excelApi: spec.excelApi ?? "1.20",
    culture: spec.culture === undefined ? EN_US : spec.culture,
    requests: [],
    undo: [],
    failNext: null,
    hook: null,
    clock: 0,
    msPerRequest: 0,
    msPerMegabyte: 0,
    handlers: [],
    editing: null,
    separators: null,
    nextSheetId: 2,
  };
  const sheetOf = (name: string): Sheet => {
    const s = world.sheets.get(name);
    if (!s) throw new Error(`no sheet ${name}`);
    return s;
  };
  const previous = { Excel: g.Excel, Office: g.Office };
  g.Excel = {
    // typings: Excel.run(batch), Excel.run(options, batch) and Excel.run(context, batch) (an
    // earlier context again, as removing an event handler needs). RunOptions: mergeUndoGroup
    // is ExcelApi 1.20; without the set the fake refuses it (no page says what older hosts
    // do: refusing shows an add-in that did not check isSetSupported first).
    async run(a: unknown, b?: unknown) {
      if (a instanceof Context) return (b as (ctx: unknown) => Promise<unknown>)(a);
      const options = (typeof a === "function" ? {} : a) as { mergeUndoGroup?: boolean; delayForCellEdit?: boolean };
      const batch = (typeof a === "function" ? a : b) as (ctx: unknown) => Promise<unknown>;
      if (options.mergeUndoGroup && !versionAtLeast(world.excelApi, "1.20")) {
        throw new FakeApiError("ApiNotFound", "mergeUndoGroup needs ExcelApi 1.20");
      }
      const ctx = new Context(world, options.mergeUndoGroup === true, options.delayForCellEdit === true);
      return batch(ctx);
    },
    ErrorCodes: {
      requestPayloadSizeLimitExceeded: "RequestPayloadSizeLimitExceeded",
      responsePayloadSizeLimitExceeded: "ResponsePayloadSizeLimitExceeded",
      propertyNotLoaded: "PropertyNotLoaded",
      invalidOperationInCellEditMode: "InvalidOperationInCellEditMode",
      accessDenied: "AccessDenied",
    },
  };
  g.Office = {
    context: {
      requirements: {
        // docs/develop/specify-office-hosts-and-api-requirements.md: isSetSupported(name,
        // version) at run time.
        isSetSupported(name: string, version?: string) {
          return name === "ExcelApi" && versionAtLeast(world.excelApi, version ?? "1.1");
        },
      },
    },
    // typings: Office.onReady(callback?) resolves (and calls back) with the host and platform.
    onReady(callback?: (info: { host: string; platform: string }) => void) {
      const info = { host: "Excel", platform: "OfficeOnline" };
      callback?.(info);
      return Promise.resolve(info);
    },
    HostType: { Excel: "Excel" },
  };
  const cellSpec = (c: FakeCellSpec): Cell => {
    let look: LookTree | undefined;
    if (c.fill) look = mergeTree(look, { format: { fill: { color: c.fill, pattern: "Solid" } } });
    if (c.bold) look = mergeTree(look, { format: { font: { bold: true } } });
    if (c.look) look = mergeTree(look, c.look);
    const kept = c.validation || c.conditionalFormat || c.note ? { validation: c.validation, conditionalFormat: c.conditionalFormat, note: c.note } : undefined;
    return {
      value: c.value ?? "",
      formula: c.formula ?? "",
      format: c.numberFormat ?? "General",
      error: c.error ?? false,
      prefix: c.quotePrefix ?? false,
      look,
      kept,
    };
  };
  const structural = (sheet: string, axis: "row" | "column", first: number, count: number, insert: boolean) => {
    const s = sheetOf(sheet);
    s.shift(axis, first, insert ? count : -count);
    const area = axis === "row" ? { row: first, column: 0, rows: count, columns: COLUMNS } : { row: 0, column: first, rows: ROWS, columns: count };
    const changeType = (axis === "row" ? "Row" : "Column") + (insert ? "Inserted" : "Deleted");
    tell(world, { sheet: s, area, changeType, byAddin: false, editor: "Local" });
  };
  return {
    addSheet(name) {
      world.sheets.set(name, new Sheet(name, `{${(world.nextSheetId++).toString(16).padStart(8, "0")}}`));
      world.order.push(name);
    },
    setCell(sheet, row, column, c) {
      sheetOf(sheet).put(row, column, cellSpec(c));
    },
    setValues(sheet, row, column, rows) {
      const s = sheetOf(sheet);
      rows.forEach((vals, r) => vals.forEach((v, c) => {
        const old = s.get(row + r, column + c);
        s.put(row + r, column + c, { ...old, value: v, formula: "", error: false, prefix: false });
      }));
    },
    cell(sheet, row, column) {
      const c = sheetOf(sheet).get(row, column);
      const look = c.look ?? {};
      const format = isTree(look.format) ? look.format : {};
      const fill = isTree(format.fill) ? format.fill : {};
      const font = isTree(format.font) ? format.font : {};
      return {
        value: c.value, formula: c.formula, numberFormat: c.format, quotePrefix: c.prefix,
        fill: fill.pattern === "None" ? "" : String(fill.color ?? ""), bold: font.bold === true, valueType: valueTypeOf(c), look,
        validation: c.kept?.validation ?? "", conditionalFormat: c.kept?.conditionalFormat ?? "", note: c.kept?.note ?? "",
      };
    },
    userEdit(sheet, row, column, c, editor = "Local") {
      const s = sheetOf(sheet);
      userChange(world, s, row, column, (old) => ({ ...cellSpec(c), format: c.numberFormat ?? old.format, look: c.look || c.fill || c.bold ? cellSpec(c).look : old.look, kept: old.kept }), editor);
    },
    insertRows: (sheet, first, count) => structural(sheet, "row", first, count, true),
    deleteRows: (sheet, first, count) => structural(sheet, "row", first, count, false),
    insertColumns: (sheet, first, count) => structural(sheet, "column", first, count, true),
    deleteColumns: (sheet, first, count) => structural(sheet, "column", first, count, false),
    beginCellEdit(sheet, row, column, text) {
      sheetOf(sheet);
      world.editing = { sheet, row, column, text };
    },
    endCellEdit: () => finishEdit(world),
    protect(sheet, row, column) {
      const s = sheetOf(sheet);
      s.protectedCells.add(s.key(row, column));
    },
    sheets: () => world.order.map((name) => ({ name, visibility: world.sheets.get(name)!.visibility })),
    setExcelSeparators(separators) {
      world.separators = separators;
    },
    handlers: () => world.handlers.length,
    hideRow(sheet, row) {
      sheetOf(sheet).hidden.add(row);
    },
    rowHidden(sheet, row) {
      return sheetOf(sheet).hidden.has(row);
    },
    select(sheet, areas) {
      sheetOf(sheet);
      world.selection = { sheet, areas: areas.map((a) => ({ ...a })) };
    },
    setExcelApi(v) {
      world.excelApi = v;
    },
    setCulture(c) {
      world.culture = c;
    },
    requests: () => world.requests.slice(),
    resetRequests() {
      world.requests = [];
    },
    undoSteps: () => world.undo.length,
    excelUndo() {
      const step = world.undo.pop();
      if (!step) return;
      for (const { sheet, before } of step) {
        for (const [k, v] of before) {
          if (v === undefined) sheet.cells.delete(k);
          else sheet.cells.set(k, v);
        }
      }
    },
    failNextRequest(code, applied = 0) {
      world.failNext = { code, applied };
    },
    onSync(hook) {
      world.hook = hook;
    },
    setRequestCost(ms, msPerMb) {
      world.msPerRequest = ms;
      world.msPerMegabyte = msPerMb;
    },
    now: () => world.clock,
    uninstall() {
      g.Excel = previous.Excel;
      g.Office = previous.Office;
    },
  };
}

export const EN_US: FakeCulture = { name: "en-US", decimalSeparator: ".", groupSeparator: ",", dateSeparator: "/", timeSeparator: ":", shortDatePattern: "M/d/yyyy" };
export const DE_DE: FakeCulture = { name: "de-DE", decimalSeparator: ",", groupSeparator: ".", dateSeparator: ".", timeSeparator: ":", shortDatePattern: "dd.MM.yyyy" };
export const FR_FR: FakeCulture = { name: "fr-FR", decimalSeparator: ",", groupSeparator: "\u202f", dateSeparator: "/", timeSeparator: ":", shortDatePattern: "dd/MM/yyyy" };
