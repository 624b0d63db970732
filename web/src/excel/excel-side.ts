// The add-in's Excel side: reads the user's selection through the Excel JavaScript API, asks
// the engine what changes, writes the changed cells, and undoes a run.
//
// A run works in chunks: one read request (values, formulas, numberFormat and valueTypes
// together) and at most one write request per chunk, each under the 4 MB this side allows
// itself below Excel on the web's 5 MB request and response limit
// (docs/concepts/resource-limits-and-performance-optimization.md). Progress is told and Stop
// asked between chunks, so a Stop leaves exactly the chunks written so far.
//
// Writing: only constants change; a formula is never written. Only the changed cells of a
// chunk are written, as one 2-D array in which null leaves a cell as it is
// (docs/excel/excel-add-ins-blank-null-values.md). Range.values reads a string as typed in
// en-US and takes one starting with "=", "+" or "-" for a formula (typings of Range.values),
// so a text result goes behind the apostrophe that keeps a typed entry text; a number, a
// date or a Boolean goes as its own type with the number format typing gives it.
//
// Undo: where ExcelApi 1.20 is supported a run is one Excel.run with mergeUndoGroup, one step
// of Excel's own Undo list (docs/excel/excel-add-ins-undo-capabilities.md; every call made
// here is one the page lists as undoable). Elsewhere the engine's record of the run restores
// it from the pane, leaving cells changed since as they are; a value run also keeps the look
// of each cell it clears (KEPT_LOOK) and gives it back.

import type { ExcelSide, PreviewOutcome, RunControl, RunOutcome, RunRequest } from "../addin-types.js";
import type { CellIn, CellLocale, CellResult, CellWrite, OperationInfo, PreviewFigures, QmvEngine, RunInputs, UndoRecord } from "../engine-types.js";

/** The most a chunk's read or write may weigh: under the 5 MB limit with room to spare. */
export const MAX_CHUNK_BYTES = 4 * 1024 * 1024;
/** Excel reads at most this many cells in one request. */
export const MAX_READ_CELLS = 5_000_000;
/** The first chunk, before the weight of a cell is known. */
export const FIRST_CHUNK_CELLS = 4096;
/** The time a chunk should take, read to write, so that progress moves at least every 250 ms. */
export const CHUNK_MILLISECONDS = 120;
/** The fewest cells a chunk sized by time takes (a request costs more than cells). */
const MIN_TIMED_CELLS = 1024;
/** Changes a preview counts before it says "more than". */
export const PREVIEW_CAP = 200000;
const PREVIEW_SAMPLES = 3;
/** Separate clears per request of a value removal (one operation each). */
const CLEARS_PER_REQUEST = 4096;
/** What a value run keeps of each cell it clears, beyond its number format, for the pane's
 *  own Undo: Range.clear() takes the fill, the font, the borders, the alignment and a
 *  hyperlink with the contents, and getCellProperties/setCellProperties (ExcelApi 1.9,
 *  https://learn.microsoft.com/javascript/api/excel/excel.range#excel-excel-range-getcellproperties-member(1))
 *  read and give them back in one call per run of cells. */
const KEPT_LOOK: Excel.CellPropertiesLoadOptions = {
  format: {
    fill: { color: true, pattern: true, patternColor: true },
    font: { bold: true, color: true, italic: true, name: true, size: true, strikethrough: true, underline: true, subscript: true, superscript: true },
    borders: { color: true, style: true, weight: true },
    horizontalAlignment: true,
    verticalAlignment: true,
    wrapText: true,
    indentLevel: true,
    textOrientation: true,
    protection: true,
  },
  hyperlink: true,
};

/** The settable part of what getCellProperties read: a cleared cell already has no fill, so
 *  "no fill" is left out rather than written back as a white one. */
export function settableLook(read: Excel.CellProperties): Excel.SettableCellProperties {
  const format = { ...(read.format ?? {}) };
  if (format.fill && (format.fill.pattern === undefined || format.fill.pattern === "None")) delete format.fill;
  const look: Excel.SettableCellProperties = { format };
  if (read.hyperlink && (read.hyperlink.address || read.hyperlink.documentReference)) look.hyperlink = read.hyperlink;
  return look;
}

/** Looks of cleared cells, by their place in the run's undo record. */
type KeptLooks = Map<number, Excel.SettableCellProperties>;

/** Recorded cells read or restored per request by the pane's Undo. */
const UNDO_BATCH = 8192;

export const EN_US_LOCALE: CellLocale = {
  decimalSeparator: ".",
  thousandsSeparator: ",",
  dateOrder: "MDY",
  dateSeparator: "/",
  timeSeparator: ":",
  currentYear: new Date().getFullYear(),
  currencySymbol: "$",
  currencyBefore: true,
};

export interface Area {
  row: number; // 0-based
  column: number;
  rows: number;
  columns: number;
}

interface Selection {
  sheet: string;
  areas: Area[]; // the selected areas within the sheet's used range, empty ones left out
  selected: Area[]; // the areas as selected
}

type Cell = string | number | boolean;

function isPayloadError(e: unknown): boolean {
  return typeof e === "object" && e !== null && (e as { code?: unknown }).code === "RequestPayloadSizeLimitExceeded";
}

function errorText(e: unknown): string {
  return e instanceof Error ? e.message : String(e);
}

/** The user's conventions from Application.cultureInfo (ExcelApi 1.11, dates 1.12); en-US
 *  where the host has no culture to tell. CultureInfo names no currency symbol: outside
 *  en-US none is assumed, so a typed amount stays the text it is rather than risk turning
 *  a text into a number Excel would not make of it. */
export async function readLocale(context: Excel.RequestContext): Promise<CellLocale> {
  const locale: CellLocale = { ...EN_US_LOCALE, currentYear: new Date().getFullYear() };
  const supported = (v: string) => Office.context.requirements.isSetSupported("ExcelApi", v);
  if (!supported("1.11")) return locale;
  try {
    const culture = context.workbook.application.cultureInfo;
    culture.load("name");
    const numbers = culture.numberFormat;
    numbers.load("numberDecimalSeparator,numberGroupSeparator");
    const dates = supported("1.12") ? culture.datetimeFormat : null;
    dates?.load("dateSeparator,timeSeparator,shortDatePattern");
    await context.sync();
    locale.decimalSeparator = numbers.numberDecimalSeparator;
    locale.thousandsSeparator = numbers.numberGroupSeparator;
    if (culture.name !== "en-US") locale.currencySymbol = "";
    if (dates) {
      locale.dateSeparator = dates.dateSeparator;
      locale.timeSeparator = dates.timeSeparator;
      locale.dateOrder = dateOrderOf(dates.shortDatePattern);
    }
  } catch {
    // A host that lists the set but cannot answer: the en-US conventions stand.
  }
  return locale;
}

/** The order of day, month and year in a .NET-style short date pattern ("dd.MM.yyyy"). */
export function dateOrderOf(pattern: string): CellLocale["dateOrder"] {
  const d = pattern.indexOf("d"), m = pattern.indexOf("M"), y = pattern.indexOf("y");
  if (d < 0 || m < 0 || y < 0) return "MDY";
  if (y < m && y < d) return "YMD";
  return d < m ? "DMY" : "MDY";
}

async function readSelection(context: Excel.RequestContext): Promise<Selection> {
  const ranges = context.workbook.getSelectedRanges();
  ranges.areas.load("items/rowIndex,items/columnIndex,items/rowCount,items/columnCount");
  const sheet = ranges.worksheet;
  sheet.load("name");
  const used = sheet.getUsedRangeOrNullObject();
  used.load("rowIndex,columnIndex,rowCount,columnCount");
  await context.sync();
  const selected = ranges.areas.items.map((a) => ({ row: a.rowIndex, column: a.columnIndex, rows: a.rowCount, columns: a.columnCount }));
  const areas: Area[] = [];
  if (!used.isNullObject) {
    const u = { row: used.rowIndex, column: used.columnIndex, rows: used.rowCount, columns: used.columnCount };
    for (const a of selected) {
      const r0 = Math.max(a.row, u.row), r1 = Math.min(a.row + a.rows, u.row + u.rows);
      const c0 = Math.max(a.column, u.column), c1 = Math.min(a.column + a.columns, u.column + u.columns);
      if (r0 < r1 && c0 < c1) areas.push({ row: r0, column: c0, rows: r1 - r0, columns: c1 - c0 });
    }
  }
  return { sheet: sheet.name, areas, selected };
}

/** One block of cells read: its place and each cell as the engine takes it. */
interface Chunk {
  area: Area;
  cells: CellIn[];
  bytes: number; // the weight of the read's answer
}

/** Reads blocks of an area in order, sized to stay under the limits, one request each. */
class ChunkReader {
  private perCell = 0; // bytes a cell of the last chunk weighed
  private msPerCell = 0; // time a cell of the last chunk took, read to write
  constructor(private context: Excel.RequestContext, private sheet: string) {}

  /** How long the last chunk took from its read to its write. */
  timed(cells: number, ms: number): void {
    if (cells > 0) this.msPerCell = ms / cells;
  }

  private target(columns: number): number {
    let cells = this.perCell > 0 ? Math.floor((MAX_CHUNK_BYTES * 0.9) / this.perCell) : FIRST_CHUNK_CELLS;
    if (this.msPerCell > 0) cells = Math.min(cells, Math.max(MIN_TIMED_CELLS, Math.floor(CHUNK_MILLISECONDS / this.msPerCell)));
    return Math.max(1, Math.floor(Math.min(cells, MAX_READ_CELLS) / columns));
  }

  /** The next chunk of `area` from row offset `from` (at most the rows left). */
  async read(area: Area, from: number): Promise<Chunk> {
    let rows = Math.min(this.target(area.columns), area.rows - from);
    for (;;) {
      const block = { row: area.row + from, column: area.column, rows, columns: area.columns };
      try {
        const chunk = await this.readBlock(block);
        if (chunk.bytes <= MAX_CHUNK_BYTES || rows === 1) {
          this.perCell = chunk.bytes / chunk.cells.length;
          return chunk;
        }
      } catch (e) {
        if (!isPayloadError(e) || rows === 1) throw e;
      }
      rows = Math.max(1, Math.floor(rows / 2));
    }
  }

  async readBlock(a: Area): Promise<Chunk> {
    const ws = this.context.workbook.worksheets.getItem(this.sheet);
    const range = ws.getRangeByIndexes(a.row, a.column, a.rows, a.columns);
    range.load("values,formulas,numberFormat,valueTypes");
    await this.context.sync();
    const values = range.values as Cell[][], formulas = range.formulas as Cell[][];
    const formats = range.numberFormat as string[][], types = range.valueTypes as string[][];
    const cells: CellIn[] = [];
    let bytes = 0;
    const unsure: number[] = [];
    for (let r = 0; r < a.rows; r++) {
      bytes += JSON.stringify(values[r]).length + JSON.stringify(formulas[r]).length + JSON.stringify(formats[r]).length + JSON.stringify(types[r]).length;
      for (let c = 0; c < a.columns; c++) {
        const value = values[r]![c]!, formula = formulas[r]![c]!;
        // Range.formulas gives a text kept behind an apostrophe without it: a text "=x" reads
        // like the formula "=x". Only a formula whose result is its own text looks the same,
        // so such cells are asked apart below.
        const cell: CellIn = { value, formula, numberFormat: formats[r]![c]!, valueType: types[r]![c]! };
        if (looksAlike(cell)) unsure.push(cells.length);
        cells.push(cell);
      }
    }
    if (unsure.length > 0) await this.settle(a, cells, unsure);
    return { area: a, cells, bytes };
  }

  /** The cells that read alike as texts and as formulas, told apart by the host's own list of
   *  formula cells (one more request; docs/excel/excel-add-ins-ranges-special-cells.md). A
   *  text is handed on in the notation that keeps it one ("'=x"). */
  private async settle(a: Area, cells: CellIn[], unsure: number[]): Promise<void> {
    const ws = this.context.workbook.worksheets.getItem(this.sheet);
    const asked = unsure.map((i) => {
      const cell = ws.getRangeByIndexes(a.row + Math.floor(i / a.columns), a.column + (i % a.columns), 1, 1);
      return cell.getSpecialCellsOrNullObject("Formulas");
    });
    await this.context.sync();
    unsure.forEach((i, k) => {
      if (asked[k]!.isNullObject) cells[i]!.formula = "'" + String(cells[i]!.value);
    });
  }
}

/** What goes into Range.values for a changed cell, and its number format (null: kept). */
export function cellEntry(write: CellWrite, cellFormat: string): { value: Cell; numberFormat: string | null } {
  const format = write.numberFormat ?? null;
  switch (write.kind) {
    case "number":
    case "date":
    case "boolean":
      return { value: write.value, numberFormat: format };
    case "empty":
      // "" clears the content and keeps the cell's formats, as deleting the text would.
      return { value: "", numberFormat: null };
    case "text": {
      const text = String(write.value);
      // A Text-format cell keeps what is typed as it is, unless it would still read as a
      // formula or lose a leading apostrophe; elsewhere the apostrophe keeps the text.
      const plain = cellFormat === "@" && !/^['=+\-@]/.test(text);
      return { value: plain ? text : "'" + text, numberFormat: null };
    }
  }
}

function refused(message: string): RunOutcome {
  return { kind: "refused", changed: 0, message };
}

function nonEmpty(c: CellIn): boolean {
  return c.valueType !== "Empty";
}

/** The cells of one column's areas as one list, every row once, top to bottom. */
function columnRows(areas: Area[]): Area[] {
  const sorted = [...areas].sort((x, y) => x.row - y.row);
  const out: Area[] = [];
  let done = -1; // the last row taken
  for (const a of sorted) {
    const last = a.row + a.rows - 1;
    if (last <= done) continue;
    const first = Math.max(a.row, done + 1);
    out.push({ row: first, column: a.column, rows: last - first + 1, columns: 1 });
    done = last;
  }
  return out;
}

class Side implements ExcelSide {
  readonly undoByExcel: boolean;
  private record: UndoRecord | null = null;
  private looks: KeptLooks = new Map();
  private table: Map<string, OperationInfo>;

  constructor(private engine: QmvEngine) {
    this.undoByExcel = Office.context.requirements.isSetSupported("ExcelApi", "1.20");
    this.table = new Map(engine.operations().map((o) => [o.code, o]));
  }

  canUndo(): boolean {
    return !this.undoByExcel && this.record !== null && this.record.size() > 0;
  }

  private operation(code: string): OperationInfo {
    const op = this.table.get(code);
    if (!op) throw new Error(`No operation ${code}`);
    return op;
  }

  async preview(request: RunRequest): Promise<PreviewOutcome> {
    const op = this.operation(request.code);
    const bad = this.engine.checkInputs(request.code, request.inputs);
    if (bad !== null) return { refusal: bad };
    return Excel.run(async (context) => {
      const locale = await readLocale(context);
      const selection = await readSelection(context);
      const figures: PreviewFigures = { changes: 0, capped: false, samples: [] };
      const reader = new ChunkReader(context, selection.sheet);
      if (op.kind === "value") {
        if (!oneColumn(selection.selected)) return { refusal: this.engine.message("notOneColumn") };
        const list = await readList(reader, columnRows(selection.areas));
        const clears = this.engine.valueClears(request.code, locale, list);
        list.forEach((c, i) => {
          if (!clears[i]) return;
          figures.changes++;
          if (figures.samples.length < PREVIEW_SAMPLES) figures.samples.push({ before: String(c.value), after: "" });
        });
        figures.capped = figures.changes > PREVIEW_CAP;
        figures.changes = Math.min(figures.changes, PREVIEW_CAP + 1);
        return { line: this.engine.previewLine(request.code, figures) };
      }
      for (const area of selection.areas) {
        for (let from = 0; from < area.rows && !figures.capped; ) {
          const chunk = await reader.read(area, from);
          from += chunk.area.rows;
          for (const result of this.engine.ruleOverBlock(request.code, request.inputs, locale, chunk.cells)) {
            if (result.outcome !== "changed") continue;
            figures.changes++;
            if (figures.samples.length < PREVIEW_SAMPLES) figures.samples.push({ before: result.before, after: result.after });
            if (figures.changes > PREVIEW_CAP) {
              figures.capped = true;
              break;
            }
          }
        }
      }
      return { line: this.engine.previewLine(request.code, figures) };
    });
  }

  async run(request: RunRequest, control: RunControl): Promise<RunOutcome> {
    const op = this.operation(request.code);
    const bad = this.engine.checkInputs(request.code, request.inputs);
    if (bad !== null) return refused(bad);
    const batch = async (context: Excel.RequestContext): Promise<RunOutcome> => {
      const locale = await readLocale(context);
      const selection = await readSelection(context);
      const record = this.undoByExcel ? null : this.engine.newUndoRecord();
      const looks: KeptLooks = new Map();
      const run = new Run(this.engine, context, selection, locale, request, control, record, looks);
      let outcome: RunOutcome;
      try {
        outcome = op.kind === "value" ? await run.values() : await run.characters();
      } catch (e) {
        outcome = { kind: "failed", changed: run.changed, message: errorText(e) };
      }
      // The record of a run that changed cells replaces the last run's.
      if (record !== null && record.size() > 0) {
        this.record?.dispose();
        this.record = record;
        this.looks = looks;
      } else {
        record?.dispose();
      }
      return outcome;
    };
    try {
      return this.undoByExcel ? await Excel.run({ mergeUndoGroup: true }, batch) : await Excel.run(batch);
    } catch (e) {
      return { kind: "failed", changed: 0, message: errorText(e) };
    }
  }

  async undo(): Promise<{ message: string | null }> {
    const record = this.record;
    if (record === null || record.size() === 0) return { message: this.engine.message("nothingToUndo") };
    try {
      const looks = this.looks;
      const { kept, unrestored } = await Excel.run((context) => undoRecord(context, record, looks));
      this.record = null;
      record.dispose();
      const told: string[] = [];
      if (kept > 0) told.push(this.engine.countMessage("keptChanges", kept));
      if (unrestored > 0) told.push(this.engine.countMessage("unrestored", unrestored));
      return { message: told.length > 0 ? told.join("\n") : null };
    } catch {
      return { message: this.engine.message("undoFailed") };
    }
  }
}

function oneColumn(areas: Area[]): boolean {
  return areas.length > 0 && areas.every((a) => a.columns === 1 && a.column === areas[0]!.column);
}

async function readList(reader: ChunkReader, rows: Area[], onChunk?: (chunk: Chunk) => boolean): Promise<CellIn[]> {
  const list: CellIn[] = [];
  for (const area of rows) {
    for (let from = 0; from < area.rows; ) {
      const chunk = await reader.read(area, from);
      from += chunk.area.rows;
      for (const c of chunk.cells) list.push(c);
      if (onChunk && !onChunk(chunk)) return list;
    }
  }
  return list;
}

/** One run over the selection. */
class Run {
  changed = 0;
  private done = 0;
  private total = 0;
  private reader: ChunkReader;
  constructor(
    private engine: QmvEngine,
    private context: Excel.RequestContext,
    private selection: Selection,
    private locale: CellLocale,
    private request: RunRequest,
    private control: RunControl,
    private record: UndoRecord | null,
    private looks: KeptLooks,
  ) {
    this.reader = new ChunkReader(context, selection.sheet);
  }

  private progress(): void {
    const percent = this.total === 0 ? 100 : Math.floor((100 * this.done) / this.total);
    this.control.onProgress({ done: this.done, total: this.total, percent });
  }

  private sheet(): Excel.Worksheet {
    return this.context.workbook.worksheets.getItem(this.selection.sheet);
  }

  async characters(): Promise<RunOutcome> {
    const { areas } = this.selection;
    this.total = areas.reduce((n, a) => n + a.rows * a.columns, 0);
    if (this.total === 0) return refused(this.engine.message("emptySelection"));
    let seen = 0, gaveUp = 0;
    this.progress();
    for (const area of areas) {
      for (let from = 0; from < area.rows; ) {
        if (this.control.stopRequested()) return this.end("stopped", gaveUp);
        const started = performance.now();
        const chunk = await this.reader.read(area, from);
        from += chunk.area.rows;
        seen += chunk.cells.filter(nonEmpty).length;
        const results = this.engine.ruleOverBlock(this.request.code, this.request.inputs, this.locale, chunk.cells);
        gaveUp += results.filter((r) => r.outcome === "gaveUp").length;
        await this.write(chunk, results.filter((r) => r.outcome === "changed" && r.write !== undefined));
        this.reader.timed(chunk.cells.length, performance.now() - started);
        this.done += chunk.cells.length;
        this.progress();
      }
    }
    if (seen === 0) return refused(this.engine.message("emptySelection"));
    return this.end("done", gaveUp);
  }

  private end(kind: "done" | "stopped", gaveUp: number): RunOutcome {
    const outcome: RunOutcome = { kind, changed: this.changed };
    if (gaveUp > 0) outcome.message = this.engine.countMessage("gaveUp", gaveUp);
    return outcome;
  }

  /** The changed cells of a chunk in one write: the rows from the first changed cell to the
   *  last, null for every other cell. */
  private async write(chunk: Chunk, changed: CellResult[]): Promise<void> {
    if (changed.length === 0) return;
    const { area } = chunk;
    const top = Math.floor(changed[0]!.index / area.columns);
    const bottom = Math.floor(changed[changed.length - 1]!.index / area.columns);
    const rows = bottom - top + 1;
    const values: (Cell | null)[][] = Array.from({ length: rows }, () => new Array<Cell | null>(area.columns).fill(null));
    let formats: (string | null)[][] | null = null;
    for (const result of changed) {
      const r = Math.floor(result.index / area.columns), c = result.index % area.columns;
      const before = chunk.cells[result.index]!;
      const entry = cellEntry(result.write!, before.numberFormat);
      values[r - top]![c] = entry.value;
      if (entry.numberFormat !== null) {
        formats ??= Array.from({ length: rows }, () => new Array<string | null>(area.columns).fill(null));
        formats[r - top]![c] = entry.numberFormat;
      }
    }
    const range = this.sheet().getRangeByIndexes(area.row + top, area.column, rows, area.columns);
    range.values = values;
    if (formats !== null) range.numberFormat = formats;
    await this.context.sync();
    // Recorded once written: a refused request leaves nothing for undo to restore.
    for (const result of changed) {
      const r = Math.floor(result.index / area.columns), c = result.index % area.columns;
      this.record?.add(this.selection.sheet, area.row + r, area.column + c, chunk.cells[result.index]!, result.write!);
    }
    this.changed += changed.length;
  }

  async values(): Promise<RunOutcome> {
    if (!oneColumn(this.selection.selected)) return refused(this.engine.message("notOneColumn"));
    const rows = columnRows(this.selection.areas);
    const count = rows.reduce((n, a) => n + a.rows, 0);
    this.total = 2 * count; // read, then decided and cleared
    this.progress();
    let stopped = false;
    const places: { row: number; column: number }[] = [];
    for (const a of rows) for (let r = 0; r < a.rows; r++) places.push({ row: a.row + r, column: a.column });
    const list = await readList(this.reader, rows, (chunk) => {
      this.done += chunk.cells.length;
      this.progress();
      stopped = this.control.stopRequested();
      return !stopped;
    });
    if (stopped) return { kind: "stopped", changed: 0 };
    if (!list.some(nonEmpty)) return refused(this.engine.message("emptySelection"));
    const clears = this.engine.valueClears(this.request.code, this.locale, list);
    // Runs of neighbouring rows to clear, a request's worth at a time.
    let i = 0;
    while (i < list.length) {
      if (this.control.stopRequested()) return { kind: "stopped", changed: this.changed };
      let ops = 0, cleared = 0;
      const start = i;
      const batch: number[] = [];
      const read: { first: number; look: OfficeExtension.ClientResult<Excel.CellProperties[][]> }[] = [];
      const sheet = this.sheet();
      while (i < list.length && ops < CLEARS_PER_REQUEST) {
        if (!clears[i]) {
          i++;
          continue;
        }
        let j = i;
        while (j + 1 < list.length && clears[j + 1] && places[j + 1]!.row === places[j]!.row + 1) j++;
        for (let k = i; k <= j; k++) batch.push(k);
        // Range.clear() removes content and formats, as the COM add-in's Range.Clear does
        // (docs/excel/excel-add-ins-ranges-clear-delete.md); hidden rows are cleared too.
        const target = sheet.getRangeByIndexes(places[i]!.row, places[i]!.column, j - i + 1, 1);
        // Read in the same request, before the clear: the commands run in their order.
        if (this.record) read.push({ first: batch.length - (j - i + 1), look: target.getCellProperties(KEPT_LOOK) });
        target.clear("All");
        cleared += j - i + 1;
        ops++;
        i = j + 1;
      }
      if (ops > 0) await this.context.sync();
      const looks = new Map<number, Excel.CellProperties>();
      for (const { first, look } of read) look.value.forEach((row, r) => looks.set(first + r, row[0]!));
      batch.forEach((k, n) => {
        if (!this.record) return;
        const look = looks.get(n);
        if (look) this.looks.set(this.record.size(), settableLook(look));
        this.record.add(this.selection.sheet, places[k]!.row, places[k]!.column, list[k]!, null);
      });
      this.changed += cleared;
      this.done += i - start;
      this.progress();
    }
    return { kind: "done", changed: this.changed };
  }
}

/** Restores a run from its record: reads the recorded cells as they are now (a batch per
 *  request), asks the record what to write back, and writes it (a batch per request). A batch
 *  the host refuses is counted as not restored; the others still go. */
async function undoRecord(context: Excel.RequestContext, record: UndoRecord, looks: KeptLooks): Promise<{ kept: number; unrestored: number }> {
  const places = record.cells();
  const cellRange = (p: { sheet: string; row: number; column: number }) =>
    context.workbook.worksheets.getItem(p.sheet).getRangeByIndexes(p.row, p.column, 1, 1);
  const now: CellIn[] = [];
  for (let start = 0; start < places.length; start += UNDO_BATCH) {
    const ranges = places.slice(start, start + UNDO_BATCH).map((p) => cellRange(p).load("values,formulas,numberFormat,valueTypes"));
    await context.sync();
    const read: CellIn[] = ranges.map((r) => ({
      value: r.values[0]![0] as Cell,
      formula: r.formulas[0]![0] as Cell,
      numberFormat: r.numberFormat[0]![0] as string,
      valueType: r.valueTypes[0]![0] as string,
    }));
    // A text that reads like a formula is told apart as the run told it.
    const unsure = read.map((c, i) => (looksAlike(c) ? i : -1)).filter((i) => i >= 0);
    if (unsure.length > 0) {
      const asked = unsure.map((i) => ranges[i]!.getSpecialCellsOrNullObject("Formulas"));
      await context.sync();
      unsure.forEach((i, k) => {
        if (asked[k]!.isNullObject) read[i]!.formula = "'" + String(read[i]!.value);
      });
    }
    now.push(...read);
  }
  const writes = record.restore(now);
  let kept = 0, unrestored = 0;
  for (let start = 0; start < places.length; start += UNDO_BATCH) {
    let written = 0;
    for (let i = start; i < Math.min(places.length, start + UNDO_BATCH); i++) {
      const w = writes[i];
      if (w === null || w === undefined) {
        kept++;
        continue;
      }
      const range = cellRange(places[i]!);
      // Range.formulas takes the constant in its typed notation ("'007" stays text) and ""
      // clears it (docs/excel/excel-add-ins-blank-null-values.md).
      range.formulas = [[w.formula]];
      range.numberFormat = [[w.numberFormat === "" ? "General" : w.numberFormat]];
      const look = looks.get(i);
      if (look) range.setCellProperties([[look]]);
      written++;
    }
    if (written === 0) continue;
    try {
      await context.sync();
    } catch {
      unrestored += written;
    }
  }
  return { kept, unrestored };
}

/** A text cell "=x" and a formula "=x" whose result is its own text read alike. */
function looksAlike(c: CellIn): boolean {
  return typeof c.formula === "string" && c.formula.startsWith("=") && c.valueType === "String" && c.formula === c.value;
}

/** The Excel side, once Office is ready. */
export async function connectExcel(engine: QmvEngine): Promise<ExcelSide> {
  return new Side(engine);
}

export type { RunInputs };
