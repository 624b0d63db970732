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
}

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
  cell(sheet: string, row: number, column: number): Required<Omit<FakeCellSpec, "error">> & {
    valueType: string;
  };
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
  /** Makes the next request fail with this error code (a host failure mid-run). */
  failNextRequest(code: string): void;
  /** Runs before every sync: tests change cells "between" requests or count time. */
  onSync(hook: (() => void) | null): void;
  /** The fake's clock in milliseconds, advanced by each request as `msPerRequest` says. */
  setRequestCost(msPerRequest: number, msPerMegabyte: number): void;
  now(): number;
  uninstall(): void;
}

// docs/concepts/resource-limits-and-performance-optimization.md: "Excel on the web has a
// payload size limit for requests and responses of 5MB"; "A range is limited to five million
// cells for read operations"; both fail with RequestPayloadSizeLimitExceeded. The fake
// applies them on every platform (safer: desktop limits are looser).
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
  look?: { fill: string; bold: boolean };
}

const EMPTY: Readonly<Cell> = { value: "", formula: "", format: "General", error: false, prefix: false };

class Sheet {
  cells = new Map<number, Cell>();
  hidden = new Set<number>();
  constructor(public name: string) {}
  key(r: number, c: number): number {
    return r * COLUMNS + c;
  }
  get(r: number, c: number): Cell {
    return this.cells.get(this.key(r, c)) ?? EMPTY;
  }
  put(r: number, c: number, cell: Cell): void {
    const plain = !cell.look || (cell.look.fill === "" && !cell.look.bold);
    if (cell.value === "" && cell.formula === "" && cell.format === "General" && !cell.prefix && plain) {
      this.cells.delete(this.key(r, c));
    } else {
      this.cells.set(this.key(r, c), cell);
    }
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
  const keep = { format: old.format, error: false, prefix: false, look: old.look };
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
    return { value: v, formula: "", format: old.format, error: false, prefix: false, look: old.look };
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
  failNext: string | null;
  hook: (() => void) | null;
  clock: number;
  msPerRequest: number;
  msPerMegabyte: number;
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
    const sheet = this.sheet, a = this.a, ctx = this.ctx;
    ctx.queue({
      read: false,
      write: true,
      size: () => JSON.stringify(data).length + 64,
      run() {
        for (let r = 0; r < a.rows; r++) {
          for (let c = 0; c < a.columns; c++) {
            const v = data[r]![c];
            if (v === null || v === undefined) continue;
            const rr = a.row + r, cc = a.column + c;
            const old = sheet.get(rr, cc);
            ctx.changing(sheet, rr, cc);
            sheet.put(rr, cc, apply(v, { ...old }));
          }
        }
      },
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
  // clear("Contents") the contents, clear("Formats") the formatting. Hidden rows are cleared
  // like any others (the page makes no exception).
  clear(applyTo?: string): void {
    const what = applyTo ?? "All";
    if (!["All", "Contents", "Formats"].includes(what)) throw new FakeApiError("InvalidArgument", "clear: " + what);
    const sheet = this.sheet, a = this.a, ctx = this.ctx;
    ctx.queue({
      read: false,
      write: true,
      size: () => 96,
      run() {
        for (let r = 0; r < a.rows; r++) {
          for (let c = 0; c < a.columns; c++) {
            const rr = a.row + r, cc = a.column + c;
            const old = sheet.get(rr, cc);
            ctx.changing(sheet, rr, cc);
            const contents = what !== "Formats";
            const formats = what !== "Contents";
            sheet.put(rr, cc, {
              value: contents ? "" : old.value,
              formula: contents ? "" : old.formula,
              error: contents ? false : old.error,
              prefix: contents ? false : old.prefix,
              format: formats ? "General" : old.format,
              look: formats ? undefined : old.look,
            });
          }
        }
      },
    });
  }

  // docs/excel/excel-add-ins-ranges-special-cells.md: getSpecialCellsOrNullObject gives the
  // cells of a kind, or a null object when there are none. Only "Formulas" is modelled.
  getSpecialCellsOrNullObject(cellType: string): FakeNullable {
    if (cellType !== "Formulas") throw new FakeApiError("InvalidArgument", "only Formulas is modelled");
    const out = new FakeNullable(this.ctx);
    const sheet = this.sheet, a = this.a;
    this.ctx.queue({
      read: true,
      write: false,
      size: () => 64,
      run() {
        let any = false;
        for (let r = 0; r < a.rows && !any; r++) {
          for (let c = 0; c < a.columns && !any; c++) any = sheet.get(a.row + r, a.column + c).formula !== "";
        }
        out.resolve(!any);
      },
    });
    return out;
  }

  // typings: Range.getCellProperties and setCellProperties (ExcelApi 1.9): the format
  // properties asked for, cell by cell, read at sync into the result's value; set, each
  // given property of each cell. Of the formatting the fake models the fill colour (no fill
  // reads as pattern "None" with color "#FFFFFF") and bold.
  getCellProperties(options: { format?: { fill?: unknown; font?: unknown } }): { value: unknown[][] } {
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
      size: () => 64,
      run() {
        result.value = range.cellsOf((cell) => {
          const format: Record<string, unknown> = {};
          if (options.format?.fill) format.fill = cell.look?.fill ? { color: cell.look.fill, pattern: "Solid" } : { color: "#FFFFFF", pattern: "None" };
          if (options.format?.font) format.font = { bold: cell.look?.bold ?? false };
          return { format };
        });
        result.known = true;
        range.ctx.respond(new Map([["cellProperties", result.value]]), range.a.rows * range.a.columns);
      },
    });
    return out;
  }
  setCellProperties(values: { format?: { fill?: { color?: string }; font?: { bold?: boolean } } }[][]): void {
    if (!versionAtLeast(this.ctx.world.excelApi, "1.9")) throw new FakeApiError("ApiNotFound", "setCellProperties needs ExcelApi 1.9");
    const sheet = this.sheet, a = this.a, ctx = this.ctx;
    if (values.length !== a.rows || values.some((row) => row.length !== a.columns)) {
      throw new FakeApiError("InvalidArgument", "setCellProperties takes one entry per cell");
    }
    ctx.queue({
      read: false,
      write: true,
      size: () => JSON.stringify(values).length,
      run() {
        values.forEach((row, r) => row.forEach((props, c) => {
          const rr = a.row + r, cc = a.column + c;
          const old = sheet.get(rr, cc);
          const look = { fill: old.look?.fill ?? "", bold: old.look?.bold ?? false };
          if (props.format?.fill?.color !== undefined) look.fill = props.format.fill.color;
          if (props.format?.font?.bold !== undefined) look.bold = props.format.font.bold;
          ctx.changing(sheet, rr, cc);
          sheet.put(rr, cc, { ...old, look });
        }));
      },
    });
  }

  getIntersectionOrNullObject(): never {
    throw new FakeApiError("InvalidArgument", "not modelled");
  }
}

// docs/develop/application-specific-api-model.md (*OrNullObject): isNullObject is known
// after sync.
class FakeNullable {
  private known: boolean | null = null;
  constructor(_ctx: Context) {}
  resolve(isNull: boolean): void {
    this.known = isNull;
  }
  get isNullObject(): boolean {
    if (this.known === null) throw new FakeApiError("PropertyNotLoaded", "isNullObject before sync");
    return this.known;
  }
  load(): this {
    return this;
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
    this.want(names, (n) => (n === "name" ? this.sheet.name : undefined), 0);
    return this;
  }
  get name(): string { return this.got("name"); }
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
  constructor(ctx: Context, private sheetOf: Sheet, private list: FakeAreaSpec[]) {
    super(ctx);
  }
  get worksheet(): FakeWorksheet {
    return new FakeWorksheet(this.ctx, this.sheetOf);
  }
  // typings: RangeAreas.areas, a RangeCollection whose items are loaded with it.
  private areasOf: { items: FakeRange[]; load: (arg?: unknown) => unknown } | null = null;
  get areas(): { items: FakeRange[]; load: (arg?: unknown) => unknown } {
    if (this.areasOf) return this.areasOf;
    const ranges = this.list.map((a) => new FakeRange(this.ctx, this.sheetOf, a));
    let loaded = false;
    const ctx = this.ctx;
    const collection = {
      get items(): FakeRange[] {
        if (!loaded) throw new FakeApiError("PropertyNotLoaded", "areas.items before load and sync");
        return ranges;
      },
      load(arg?: unknown) {
        const names = loadNames(arg).map((n) => n.replace(/^items\//, ""));
        for (const r of ranges) r.load(names);
        ctx.queue({ read: true, write: false, size: () => 32, run: () => { loaded = true; } });
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
      throw new FakeApiError("InvalidArgument", `RangeAreas has no property '${n}'`);
    }, 0);
    return this;
  }
  get areaCount(): number { return this.got("areaCount"); }
  get address(): string { return this.got("address"); }
}

class FakeApplication extends Loadable {
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

class Context {
  ops: Op[] = [];
  private response = 0;
  private cellsRead = 0;
  private merged: Map<string, Map<number, Cell | undefined>> | null;
  workbook: unknown;
  application: FakeApplication;
  constructor(public world: World, public mergeUndo: boolean) {
    this.merged = null;
    this.application = new FakeApplication(this);
    const ctx = this;
    this.workbook = {
      // docs/excel/excel-add-ins-multiple-ranges.md: getSelectedRanges gives every area of
      // the selection as one RangeAreas.
      getSelectedRanges() {
        const sel = world.selection;
        const sheet = world.sheets.get(sel.sheet);
        if (!sheet) throw new FakeApiError("ItemNotFound", "no sheet selected");
        return new FakeRangeAreas(ctx, sheet, sel.areas.map((a) => ({ ...a })));
      },
      getSelectedRange() {
        const sel = world.selection;
        if (sel.areas.length !== 1) {
          // typings: Workbook.getSelectedRange "If multiple ranges are selected, this method will throw an error".
          throw new FakeApiError("InvalidSelection", "several areas are selected");
        }
        return new FakeRange(ctx, world.sheets.get(sel.sheet)!, { ...sel.areas[0]! });
      },
      worksheets: {
        getItem(name: string) {
          const sheet = world.sheets.get(name);
          if (!sheet) throw new FakeApiError("ItemNotFound", `no sheet ${name}`);
          return new FakeWorksheet(ctx, sheet);
        },
        getActiveWorksheet() {
          return new FakeWorksheet(ctx, world.sheets.get(world.selection.sheet)!);
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
    for (const v of data.values()) bytes += JSON.stringify(v ?? null).length;
    this.response += bytes;
    this.cellsRead += cells;
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
    const ops = this.ops;
    this.ops = [];
    const requestBytes = ops.reduce((n, op) => n + op.size(), 0);
    world.clock += world.msPerRequest + (world.msPerMegabyte * requestBytes) / 1048576;
    if (world.failNext !== null) {
      const code = world.failNext;
      world.failNext = null;
      throw new FakeApiError(code, "the host failed the request");
    }
    if (requestBytes > PAYLOAD_LIMIT) throw new FakeApiError("RequestPayloadSizeLimitExceeded", "request over 5 MB");
    // A request is applied whole or not at all (the safer reading: no page promises
    // partial application, so a failed request must leave no cells the add-in cannot see).
    this.response = 0;
    this.cellsRead = 0;
    this.stepBefore = new Map();
    try {
      for (const op of ops) op.run();
      world.clock += (world.msPerMegabyte * this.response) / 1048576;
      if (this.response > PAYLOAD_LIMIT) throw new FakeApiError("RequestPayloadSizeLimitExceeded", "response over 5 MB");
    } catch (e) {
      for (const [name, before] of this.stepBefore) {
        const sheet = world.sheets.get(name)!;
        for (const [k, v] of before) {
          if (v === undefined) sheet.cells.delete(k);
          else sheet.cells.set(k, v);
        }
      }
      this.stepBefore = null;
      throw e;
    }
    world.requests.push({
      requestBytes,
      responseBytes: this.response,
      writes: ops.filter((o) => o.write).length,
      reads: ops.filter((o) => o.read).length,
      cellsRead: this.cellsRead,
      time: world.clock,
    });
    // docs/excel/excel-add-ins-undo-capabilities.md: each sync that changes cells is an
    // undo step; with mergeUndoGroup every sync of one Excel.run is one step.
    const step = this.stepBefore;
    this.stepBefore = null;
    if (step.size === 0) return;
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
}

export function installFakeExcel(spec: FakeExcelSpec = {}): FakeExcelControl {
  const g = globalThis as Record<string, unknown>;
  const world: World = {
    sheets: new Map([["Sheet1", new Sheet("Sheet1")]]),
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
  };
  const sheetOf = (name: string): Sheet => {
    const s = world.sheets.get(name);
    if (!s) throw new Error(`no sheet ${name}`);
    return s;
  };
  const previous = { Excel: g.Excel, Office: g.Office };
  g.Excel = {
    // typings: Excel.run(batch) and Excel.run(options, batch); mergeUndoGroup is ExcelApi
    // 1.20. Without the set the fake refuses the option (no page says what older hosts do:
    // refusing shows an add-in that did not check isSetSupported first).
    async run(a: unknown, b?: unknown) {
      const options = (typeof a === "function" ? {} : a) as { mergeUndoGroup?: boolean };
      const batch = (typeof a === "function" ? a : b) as (ctx: unknown) => Promise<unknown>;
      if (options.mergeUndoGroup && !versionAtLeast(world.excelApi, "1.20")) {
        throw new FakeApiError("ApiNotFound", "mergeUndoGroup needs ExcelApi 1.20");
      }
      const ctx = new Context(world, options.mergeUndoGroup === true);
      return batch(ctx);
    },
    ErrorCodes: { requestPayloadSizeLimitExceeded: "RequestPayloadSizeLimitExceeded", propertyNotLoaded: "PropertyNotLoaded" },
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
  const cellSpec = (c: FakeCellSpec): Cell => ({
    value: c.value ?? "",
    formula: c.formula ?? "",
    format: c.numberFormat ?? "General",
    error: c.error ?? false,
    prefix: c.quotePrefix ?? false,
    look: c.fill || c.bold ? { fill: c.fill ?? "", bold: c.bold ?? false } : undefined,
  });
  return {
    addSheet(name) {
      world.sheets.set(name, new Sheet(name));
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
      return {
        value: c.value, formula: c.formula, numberFormat: c.format, quotePrefix: c.prefix,
        fill: c.look?.fill ?? "", bold: c.look?.bold ?? false, valueType: valueTypeOf(c),
      };
    },
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
    failNextRequest(code) {
      world.failNext = code;
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
