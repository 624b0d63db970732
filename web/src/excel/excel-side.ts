// The add-in's Excel side: reads the user's selection through the Excel JavaScript API, asks
// the engine what changes, writes the changed cells, and undoes a run.
//
// Reading: only the cells that hold constants are read (Range.getSpecialCells, ExcelApi 1.9,
// docs/excel/excel-add-ins-ranges-special-cells.md), so a sparse whole-column selection costs
// what its cells cost. A run works in chunks: one read request (values, formulas,
// numberFormat and valueTypes together) and at most one write request per chunk. A chunk is
// sized by bytes, the UTF-8 weight of the JSON of its answer, near the 4 MB this side allows
// itself below Excel on the web's 5 MB request and response limits
// (docs/concepts/resource-limits-and-performance-optimization.md); either payload error
// (docs/testing/application-specific-api-error-handling.md) halves it and it is read again,
// down to one cell, splitting a row that alone weighs too much. Progress is told and Stop
// asked between chunks, so a Stop leaves exactly the chunks written so far.
//
// Writing: only constants change; a formula is never written. Only the changed cells of a
// chunk are written, as one 2-D array in which null leaves a cell as it is
// (docs/excel/excel-add-ins-blank-null-values.md). Range.values reads a string as typed in
// en-US and takes one starting with "=", "+" or "-" for a formula (typings of Range.values),
// so a text result goes behind the apostrophe that keeps a typed entry text; a number, a
// date or a Boolean goes as its own type with the number format typing gives it.
//
// Other people's edits: the sheet is watched (Worksheet.onChanged, ExcelApi 1.7, with
// triggerSource of ExcelApi 1.14 telling this add-in's own writes from others,
// docs/excel/excel-add-ins-events.md) from the first read to the last write. A cell changed
// after it was read is neither written nor cleared; each write request first reads the cells
// it writes again, so an edit landing just before it is put back as the person typed it.
// Every batch runs with delayForCellEdit, so a user typing in a cell delays the run rather
// than failing it.
//
// Undo: where ExcelApi 1.20 is supported a run is one Excel.run with mergeUndoGroup, one step
// of Excel's own Undo list (docs/excel/excel-add-ins-undo-capabilities.md; every call made
// here is one the page lists as undoable). Elsewhere the pane's Undo restores from the run's
// record: each cell at the place it has moved to since (rows and columns inserted or
// deleted, as onChanged tells them), with its value and type exact, leaving cells changed
// since as they are. A value run copies every cell it clears to a very hidden scratch sheet
// first (Range.copyFrom, ExcelApi 1.9: contents, formats, validation, conditional formats,
// notes) and Undo copies them back; the scratch sheet is deleted once undone or replaced.

import type { ExcelSide, PreviewOutcome, RunControl, RunOutcome, RunRequest } from "../addin-types.js";
import { CHANGED } from "../engine-types.js";
import type { CellIn, CellLocale, CellResult, CellWrite, ChunkRule, OperationInfo, PreviewFigures, QmvEngine, RestoreWrite, RunInputs, UndoRecord } from "../engine-types.js";

/** The most a chunk's read answer or write request may weigh: under the 5 MB limit with room to spare. */
export const MAX_CHUNK_BYTES = 4 * 1024 * 1024;
/** Excel reads at most this many cells in one request. */
export const MAX_READ_CELLS = 5_000_000;
/** The first chunk, before the weight of a cell is known (about 100 bytes a cell fit). */
export const FIRST_CHUNK_CELLS = 32768;
/** Cells the engine is asked at a time, the pane kept responsive between. */
const ENGINE_SLICE = 4096;
/** Changes a preview counts before it says "more than". */
export const PREVIEW_CAP = 200000;
const PREVIEW_SAMPLES = 3;
/** Separate clears per request of a value removal (one operation each). */
const CLEARS_PER_REQUEST = 4096;
/** Recorded cells read or restored per request by the pane's Undo. */
const UNDO_BATCH = 8192;
/** What Undo compares of a cleared cell to tell whether someone formatted it since: what
 *  Range.clear() takes besides the contents and a format someone applies to an empty cell
 *  (getCellProperties, ExcelApi 1.9,
 *  https://learn.microsoft.com/javascript/api/excel/excel.range#excel-excel-range-getcellproperties-member(1)). */
const LOOK_COMPARED: Excel.CellPropertiesLoadOptions = {
  format: {
    fill: { color: true, pattern: true },
    font: { bold: true, color: true, italic: true, name: true, size: true, strikethrough: true, underline: true },
    borders: { color: true, style: true, weight: true },
    horizontalAlignment: true,
    wrapText: true,
  },
  style: true,
};

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

function errorCode(e: unknown): string {
  return typeof e === "object" && e !== null ? String((e as { code?: unknown }).code ?? "") : "";
}

/** Either payload error: the request, or its answer, weighed more than Excel on the web takes. */
export function isPayloadError(e: unknown): boolean {
  const code = errorCode(e);
  return code === "RequestPayloadSizeLimitExceeded" || code === "ResponsePayloadSizeLimitExceeded";
}

function errorText(e: unknown): string {
  return e instanceof Error ? e.message : String(e);
}

/** The bytes of a string in UTF-8, as a payload carries it. */
export function utf8Bytes(text: string): number {
  let n = text.length;
  for (let i = 0; i < text.length; i++) {
    const c = text.charCodeAt(i);
    if (c < 0x80) continue;
    if (c < 0x800) n += 1;
    else if (c >= 0xd800 && c < 0xdc00) {
      n += 2; // a surrogate pair: four bytes for two units
      i++;
    } else n += 2;
  }
  return n;
}

function jsonBytes(v: unknown): number {
  return utf8Bytes(JSON.stringify(v));
}

/** The user's conventions: Excel's own separators where the user set them (Application
 *  decimalSeparator, thousandsSeparator and useSystemSeparators, ExcelApi 1.11, "based on
 *  the local Excel settings"), else the system's (Application.cultureInfo, ExcelApi 1.11,
 *  dates 1.12); en-US where the host has no culture to tell. CultureInfo names no currency
 *  symbol: outside en-US none is assumed, so a typed amount stays the text it is rather than
 *  risk turning a text into a number Excel would not make of it. */
export async function readLocale(context: Excel.RequestContext): Promise<CellLocale> {
  const locale: CellLocale = { ...EN_US_LOCALE, currentYear: new Date().getFullYear() };
  const supported = (v: string) => Office.context.requirements.isSetSupported("ExcelApi", v);
  if (!supported("1.11")) return locale;
  try {
    const application = context.workbook.application;
    const culture = application.cultureInfo;
    culture.load("name");
    const numbers = culture.numberFormat;
    numbers.load("numberDecimalSeparator,numberGroupSeparator");
    application.load("useSystemSeparators,decimalSeparator,thousandsSeparator");
    const dates = supported("1.12") ? culture.datetimeFormat : null;
    dates?.load("dateSeparator,timeSeparator,shortDatePattern");
    await context.sync();
    const own = !application.useSystemSeparators;
    locale.decimalSeparator = own ? application.decimalSeparator : numbers.numberDecimalSeparator;
    locale.thousandsSeparator = own ? application.thousandsSeparator : numbers.numberGroupSeparator;
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

/** "B3:D7", "3:4" (whole rows), "C:D" (whole columns) or "B3" as an area. */
export function areaOf(address: string): Area | null {
  const ref = address.includes("!") ? address.slice(address.lastIndexOf("!") + 1) : address;
  const [first = "", last = first] = ref.replace(/\$/g, "").split(":");
  const part = (p: string) => {
    const m = /^([A-Z]*)(\d*)$/i.exec(p);
    if (!m) return null;
    let column = -1;
    for (const ch of m[1]!.toUpperCase()) column = (column + 1) * 26 + ch.charCodeAt(0) - 65;
    return { column: m[1] ? column : null, row: m[2] ? Number(m[2]) - 1 : null };
  };
  const a = part(first), b = part(last);
  if (!a || !b) return null;
  const r0 = a.row ?? 0, r1 = b.row ?? 1048575, c0 = a.column ?? 0, c1 = b.column ?? 16383;
  return { row: r0, column: c0, rows: r1 - r0 + 1, columns: c1 - c0 + 1 };
}

/** The areas holding constants within `areas`, one request for all (getSpecialCells):
 *  neighbouring areas of the same rows joined. An area whose list cannot be had (a host
 *  without ExcelApi 1.9, or a list too long for one answer) is read whole. */
async function constantAreas(context: Excel.RequestContext, sheet: string, areas: Area[]): Promise<Area[]> {
  if (areas.length === 0 || !Office.context.requirements.isSetSupported("ExcelApi", "1.9")) return areas;
  const ws = context.workbook.worksheets.getItem(sheet);
  const asked = areas.map((a) => {
    const found = ws.getRangeByIndexes(a.row, a.column, a.rows, a.columns).getSpecialCellsOrNullObject("Constants");
    found.areas.load("items/rowIndex,items/columnIndex,items/rowCount,items/columnCount");
    return found;
  });
  try {
    await context.sync();
  } catch (e) {
    if (isPayloadError(e)) return areas;
    throw e;
  }
  const out: Area[] = [];
  for (const found of asked) {
    if (found.isNullObject) continue;
    for (const r of found.areas.items) {
      const a = { row: r.rowIndex, column: r.columnIndex, rows: r.rowCount, columns: r.columnCount };
      const last = out[out.length - 1];
      if (last && last.row === a.row && last.rows === a.rows && last.column + last.columns === a.column) last.columns += a.columns;
      else out.push(a);
    }
  }
  // Only formulas (or nothing the list could name): the areas as they are, so that the run
  // sees what it always saw.
  return out.length > 0 ? out : areas;
}

/** One block of cells read: its place and each cell as the engine takes it. */
interface Block {
  area: Area;
  cells: CellIn[];
  /** The cells as read, before a text that reads like a formula was told apart. */
  raw: { value: Cell; formula: Cell }[];
}

interface Chunk {
  blocks: Block[];
  bytes: number; // the weight of the read's answer
  cells: number;
}

/** The cells of areas still to read, taken from the front a piece at a time. */
class Pieces {
  private at = 0; // the area being taken
  private offset = 0; // its cells taken (row-major: whole rows, or part of one row)
  constructor(private list: Area[]) {}
  empty(): boolean {
    return this.at >= this.list.length;
  }
  /** Where taking stands, to go back to when a read is refused as too heavy. */
  mark(): [number, number] {
    return [this.at, this.offset];
  }
  back([at, offset]: [number, number]): void {
    this.at = at;
    this.offset = offset;
  }
  /** Pieces of at most `cells` cells in all (at least one cell): whole rows of an area, or
   *  part of one row when a row alone holds more. */
  take(cells: number): Area[] {
    const out: Area[] = [];
    let left = Math.max(1, cells);
    while (left > 0 && !this.empty()) {
      const a = this.list[this.at]!;
      const row = Math.floor(this.offset / a.columns), column = this.offset % a.columns;
      let piece: Area;
      if (column > 0 || a.columns > left) {
        piece = { row: a.row + row, column: a.column + column, rows: 1, columns: Math.min(left, a.columns - column) };
      } else {
        piece = { row: a.row + row, column: a.column, rows: Math.min(Math.floor(left / a.columns), a.rows - row), columns: a.columns };
      }
      out.push(piece);
      left -= piece.rows * piece.columns;
      this.offset += piece.rows * piece.columns;
      if (this.offset >= a.rows * a.columns) {
        this.at++;
        this.offset = 0;
      }
    }
    return out;
  }
}

/** Reads chunks in order, sized to stay under the limits, one request each. */
class ChunkReader {
  private perCell = 0; // bytes a cell of the last chunk weighed
  constructor(private context: Excel.RequestContext, private sheet: string) {}

  private target(): number {
    const cells = this.perCell > 0 ? Math.floor((MAX_CHUNK_BYTES * 0.9) / this.perCell) : FIRST_CHUNK_CELLS;
    return Math.max(1, Math.min(cells, MAX_READ_CELLS));
  }

  /** The next chunk of `pieces`, or null when none are left. */
  async read(pieces: Pieces): Promise<Chunk | null> {
    let cells = this.target();
    for (;;) {
      if (pieces.empty()) return null;
      const mark = pieces.mark();
      const taken = pieces.take(cells);
      try {
        const chunk = await this.readBlocks(taken);
        if (chunk.cells > 0) this.perCell = Math.max(1, chunk.bytes / chunk.cells);
        return chunk;
      } catch (e) {
        const count = taken.reduce((n, p) => n + p.rows * p.columns, 0);
        if (!isPayloadError(e) || count === 1) throw e;
        pieces.back(mark);
        cells = Math.max(1, Math.floor(count / 2));
        this.perCell = MAX_CHUNK_BYTES / cells;
      }
    }
  }

  private async readBlocks(areas: Area[]): Promise<Chunk> {
    const ws = this.context.workbook.worksheets.getItem(this.sheet);
    const ranges = areas.map((a) => ws.getRangeByIndexes(a.row, a.column, a.rows, a.columns).load("values,formulas,numberFormat,valueTypes"));
    await this.context.sync();
    const blocks: Block[] = [];
    let bytes = 0, count = 0;
    const unsure: { block: Block; index: number }[] = [];
    areas.forEach((a, k) => {
      const range = ranges[k]!;
      const values = range.values as Cell[][], formulas = range.formulas as Cell[][];
      const formats = range.numberFormat as string[][], types = range.valueTypes as string[][];
      bytes += jsonBytes(values) + jsonBytes(formulas) + jsonBytes(formats) + jsonBytes(types);
      const block: Block = { area: a, cells: [], raw: [] };
      for (let r = 0; r < a.rows; r++) {
        for (let c = 0; c < a.columns; c++) {
          const value = values[r]![c]!, formula = formulas[r]![c]!;
          // Range.formulas gives a text kept behind an apostrophe without it: a text "=x"
          // reads like the formula "=x". Only a formula whose result is its own text looks
          // the same, so such cells are asked apart below.
          const cell: CellIn = { value, formula, numberFormat: formats[r]![c]!, valueType: types[r]![c]! };
          if (looksAlike(cell)) unsure.push({ block, index: block.cells.length });
          block.cells.push(cell);
          block.raw.push({ value, formula });
        }
      }
      count += a.rows * a.columns;
      blocks.push(block);
    });
    if (unsure.length > 0) await this.settle(unsure);
    return { blocks, bytes, cells: count };
  }

  /** The cells that read alike as texts and as formulas, told apart by the host's own list of
   *  formula cells (one more request; docs/excel/excel-add-ins-ranges-special-cells.md). A
   *  text is handed on in the notation that keeps it one ("'=x"). */
  private async settle(unsure: { block: Block; index: number }[]): Promise<void> {
    const ws = this.context.workbook.worksheets.getItem(this.sheet);
    const asked = unsure.map(({ block, index }) => {
      const a = block.area;
      const cell = ws.getRangeByIndexes(a.row + Math.floor(index / a.columns), a.column + (index % a.columns), 1, 1);
      return cell.getSpecialCellsOrNullObject("Formulas");
    });
    await this.context.sync();
    unsure.forEach(({ block, index }, k) => {
      if (asked[k]!.isNullObject) block.cells[index]!.formula = "'" + String(block.cells[index]!.value);
    });
  }
}

/** Whether a number format shows a date or a time (d, m, y, h or s outside quotes). */
function isDateOrTimeFormat(format: string): boolean {
  if (format === "@") return false;
  let quoted = false;
  for (const ch of format) {
    if (ch === '"') quoted = !quoted;
    else if (!quoted && /[dmyhs]/i.test(ch)) return true;
  }
  return false;
}

/** The format Excel gives a General cell when a date or time is typed into it, as it types
 *  the en-US entry the COM add-in hands it: m/d/yyyy for a date (d-mmm without a year),
 *  h:mm or h:mm:ss for a time (with AM/PM when the text has one), both for a date with a
 *  time. */
export function dateFormatFor(serial: number, text: string): string {
  const whole = Number.isInteger(serial);
  const twelve = /\b[ap]\.?m?\.?\s*$/i.test(text.trim()) || /\b[ap]m\b/i.test(text);
  const parts = text.split(/[^0-9]+/).filter((p) => p !== "");
  const clock = text.match(/\d+\s*[:.]\s*\d+(\s*[:.]\s*\d+)?/g)?.pop() ?? "";
  const seconds = clock !== "" && /\d+\s*[:.]\s*\d+\s*[:.]\s*\d+/.test(clock) && parts.length >= 3;
  const time = (seconds ? "h:mm:ss" : "h:mm") + (twelve ? " AM/PM" : "");
  // A day and month without a year ("1/2") shows as Excel shows it typed: 2-Jan.
  if (whole) return parts.length === 2 ? "d-mmm" : "m/d/yyyy";
  if (serial < 1) return time;
  return "m/d/yyyy " + time;
}

/** What goes into Range.values for a changed cell, and its number format (null: kept).
 *  `text` is the result as the user reads it (a date's or time's own text). */
export function cellEntry(write: CellWrite, cellFormat: string, text = ""): { value: Cell; numberFormat: string | null } {
  const format = write.numberFormat ?? null;
  switch (write.kind) {
    case "date": {
      // A serial alone shows as a bare number: a General cell gets the date or time format
      // typing gives it; a cell with a date or time format of its own keeps it.
      const serial = Number(write.value);
      return { value: write.value, numberFormat: format ?? (isDateOrTimeFormat(cellFormat) ? null : dateFormatFor(serial, text)) };
    }
    case "number":
    case "boolean":
      return { value: write.value, numberFormat: format };
    case "empty":
      // "" clears the content and keeps the cell's formats, as deleting the text would.
      return { value: "", numberFormat: null };
    case "text":
      return { value: textEntry(String(write.value), cellFormat), numberFormat: null };
  }
}

/** A text as Range.values keeps it a text: a Text-format cell keeps what is typed as it is,
 *  unless it would still read as a formula or lose a leading apostrophe; elsewhere the
 *  apostrophe keeps the text. */
function textEntry(text: string, cellFormat: string): string {
  const plain = cellFormat === "@" && !/^['=+\-@]/.test(text);
  return plain ? text : "'" + text;
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

/** A cell's place, following inserted and deleted rows and columns; gone when deleted. */
interface Place {
  sheet: string;
  row: number;
  column: number;
  gone?: boolean;
}

/** One change to a sheet as onChanged tells it. */
interface SheetChange {
  sheet: string;
  area: Area;
  changeType: string;
  byOthers: boolean;
  /** For one cell edited: the value it holds after the change. */
  valueAfter?: unknown;
  shift?: string; // changeDirectionState's direction, for cells inserted or deleted
}

/** Moves `place` as `change` moves the cells (gone when its cells were deleted, or when a
 *  shift without a told direction may have moved it). */
function follow(place: Place, change: SheetChange): void {
  if (place.gone || place.sheet !== change.sheet) return;
  const a = change.area;
  const inRows = place.row >= a.row && place.row < a.row + a.rows;
  const inColumns = place.column >= a.column && place.column < a.column + a.columns;
  switch (change.changeType) {
    case "RowInserted":
      if (place.row >= a.row) place.row += a.rows;
      return;
    case "RowDeleted":
      if (inRows) place.gone = true;
      else if (place.row >= a.row + a.rows) place.row -= a.rows;
      return;
    case "ColumnInserted":
      if (place.column >= a.column) place.column += a.columns;
      return;
    case "ColumnDeleted":
      if (inColumns) place.gone = true;
      else if (place.column >= a.column + a.columns) place.column -= a.columns;
      return;
    case "CellInserted":
      if (change.shift === "Down" && inColumns && place.row >= a.row) place.row += a.rows;
      else if (change.shift === "Right" && inRows && place.column >= a.column) place.column += a.columns;
      else if (change.shift !== "Down" && change.shift !== "Right" && place.row >= a.row && place.column >= a.column) place.gone = true;
      return;
    case "CellDeleted":
      if (inRows && inColumns) place.gone = true;
      else if (change.shift === "Up" && inColumns && place.row >= a.row + a.rows) place.row -= a.rows;
      else if (change.shift === "Left" && inRows && place.column >= a.column + a.columns) place.column -= a.columns;
      else if (change.shift !== "Up" && change.shift !== "Left" && place.row >= a.row && place.column >= a.column) place.gone = true;
      return;
  }
}

/** Whether a change moves cells (rows, columns or cells inserted or deleted). */
function moves(change: SheetChange): boolean {
  return ["RowInserted", "RowDeleted", "ColumnInserted", "ColumnDeleted", "CellInserted", "CellDeleted"].includes(change.changeType);
}

/** The sheets' change events, registered once a sheet is first worked on and heard for as
 *  long as the pane is open: who listens now (a run, the undo record) is asked at each event. */
class Watch {
  private registered = new Set<string>();
  private listeners = new Set<(change: SheetChange) => void>();

  listen(listener: (change: SheetChange) => void): () => void {
    this.listeners.add(listener);
    return () => this.listeners.delete(listener);
  }

  /** Registers the sheet's onChanged (ExcelApi 1.7) in the next request. */
  watch(context: Excel.RequestContext, sheet: string): void {
    if (this.registered.has(sheet) || !Office.context.requirements.isSetSupported("ExcelApi", "1.7")) return;
    this.registered.add(sheet);
    context.workbook.worksheets.getItem(sheet).onChanged.add(async (e) => this.heard(sheet, e));
  }

  private heard(sheet: string, e: Excel.WorksheetChangedEventArgs): void {
    // Without triggerSource (before ExcelApi 1.14) an edit may be this add-in's own: taken as
    // someone else's, which only ever leaves a cell alone.
    const byOthers = e.triggerSource !== "ThisLocalAddin";
    const direction = e.changeDirectionState as { insertShiftDirection?: string; deleteShiftDirection?: string } | undefined;
    for (const part of e.address.split(",")) {
      const area = areaOf(part);
      if (area === null) continue;
      const change: SheetChange = { sheet, area, changeType: String(e.changeType), byOthers };
      if (e.details !== undefined && area.rows === 1 && area.columns === 1) change.valueAfter = e.details.valueAfter;
      const shift = direction?.insertShiftDirection ?? direction?.deleteShiftDirection;
      if (shift !== undefined) change.shift = shift;
      for (const l of this.listeners) l(change);
    }
  }
}

/** Lets the events already delivered be heard (they arrive as tasks of their own). */
function heardSoFar(): Promise<void> {
  return new Promise((resolve) => setTimeout(resolve, 0));
}

/** What a run watches on its sheet: the cells others changed since the run read them. */
class Others {
  private changed = new Map<string, unknown[]>(); // "row,column": the values others left, or [undefined] (unknown)
  moved = false;
  constructor(private sheet: string) {}
  hear(change: SheetChange): void {
    if (change.sheet !== this.sheet || !change.byOthers) return;
    if (moves(change)) {
      this.moved = true;
      return;
    }
    const a = change.area;
    if (a.rows * a.columns > 1_000_000) {
      this.moved = true; // too wide to list: the run stops rather than guess
      return;
    }
    for (let r = a.row; r < a.row + a.rows; r++) {
      for (let c = a.column; c < a.column + a.columns; c++) {
        const key = `${r},${c}`;
        const list = this.changed.get(key) ?? [];
        list.push(change.valueAfter);
        this.changed.set(key, list);
      }
    }
  }
  /** Whether someone else changed the cell after it was read as `read`: an edit told with
   *  the value read was made before the read. */
  since(row: number, column: number, read: Cell): boolean {
    const list = this.changed.get(`${row},${column}`);
    if (!list) return false;
    return list.some((v) => v === undefined || v !== read);
  }
}

/** The message for cells others changed during the run and left as they were. */
export function othersMessage(count: number): string {
  return count === 1
    ? "1 cell changed by someone else during the run was left as it was."
    : `${count} cells changed by someone else during the run were left as they were.`;
}

/** The structural move that stopped a run. */
const MOVED_MESSAGE = "Rows or columns were inserted or deleted during the run: it stopped after the cells done so far.";

/** One cell of the pane's own undo record. */
interface Recorded {
  place: Place;
  before: CellIn;
  /** A value run's cleared cell: its row on the scratch sheet, and its look right after the clear. */
  scratchRow?: number;
  clearedLook?: string;
}

/** The pane's own undo record of one run (hosts without ExcelApi 1.20). */
class RunRecord {
  cells: Recorded[] = [];
  scratch: string | null = null;
  /** The removal that ran after this one in the same run (a recipe's value step after its
   *  character steps): its own record, undone first. */
  following: RunRecord | null = null;
  private unlisten: (() => void) | null;
  constructor(public engine: UndoRecord, private watch: Watch) {
    this.unlisten = watch.listen((change) => {
      if (!moves(change)) return;
      for (const c of this.cells) follow(c.place, change);
    });
  }
  add(place: Place, before: CellIn, after: CellWrite | null, scratchRow?: number): Recorded {
    this.engine.add(place.sheet, place.row, place.column, before, after);
    const entry: Recorded = { place: { ...place }, before };
    if (scratchRow !== undefined) entry.scratchRow = scratchRow;
    this.cells.push(entry);
    return entry;
  }
  /** The record of the removal that runs next in the same run. */
  follow(engine: UndoRecord): RunRecord {
    this.following = new RunRecord(engine, this.watch);
    return this.following;
  }
  /** The cells recorded, the following runs' included. */
  get size(): number {
    return this.cells.length + (this.following?.size ?? 0);
  }
  dispose(): void {
    this.unlisten?.();
    this.unlisten = null;
    this.engine.dispose();
    this.following?.dispose();
  }
}

/** Runs `parts` in requests, each built by `build` and sent with one sync; a request the
 *  host refuses is tried again in halves, down to one part. The parts that still fail. */
async function inParts<T>(context: Excel.RequestContext, parts: T[], build: (part: T) => void): Promise<T[]> {
  if (parts.length === 0) return [];
  for (const p of parts) build(p);
  try {
    await context.sync();
    return [];
  } catch {
    if (parts.length === 1) return parts;
    const half = Math.ceil(parts.length / 2);
    return [...(await inParts(context, parts.slice(0, half), build)), ...(await inParts(context, parts.slice(half), build))];
  }
}

class Side implements ExcelSide {
  readonly undoByExcel: boolean;
  readonly canInspect: boolean;
  private record: RunRecord | null = null;
  private table: Map<string, OperationInfo>;
  readonly watch = new Watch();

  constructor(private engine: QmvEngine) {
    this.undoByExcel = Office.context.requirements.isSetSupported("ExcelApi", "1.20");
    this.canInspect = Office.context.requirements.isSetSupported("ExcelApi", "1.7");
    this.table = new Map(engine.operations().map((o) => [o.code, o]));
  }

  canUndo(): boolean {
    return !this.undoByExcel && this.record !== null && this.record.size > 0;
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
    const then = this.valueStepAfter(request);
    return Excel.run({ delayForCellEdit: true }, async (context) => {
      const locale = await readLocale(context);
      const selection = await readSelection(context);
      if (then !== null && !oneColumn(selection.selected)) return { refusal: this.engine.message("notOneColumn") };
      const figures: PreviewFigures = { changes: 0, capped: false, samples: [] };
      const reader = new ChunkReader(context, selection.sheet);
      if (op.kind === "value") {
        if (!oneColumn(selection.selected)) return { refusal: this.engine.message("notOneColumn") };
        const list = await readList(reader, columnRows(selection.areas));
        const clears = this.decide(request.code, locale, list);
        list.forEach((c, i) => {
          if (!clears[i]) return;
          figures.changes++;
          if (figures.samples.length < PREVIEW_SAMPLES) figures.samples.push({ before: String(c.value), after: "" });
        });
        figures.capped = figures.changes > PREVIEW_CAP;
        figures.changes = Math.min(figures.changes, PREVIEW_CAP + 1);
        return { line: this.engine.previewLine(request.code, figures, request.inputs) };
      }
      const pieces = new Pieces(await constantAreas(context, selection.sheet, selection.areas));
      const rule = this.engine.prepareRule(request.code, request.inputs, locale);
      try {
        while (!figures.capped) {
          const chunk = await reader.read(pieces);
          if (chunk === null) break;
          for (const block of chunk.blocks) {
            const results = rule.over(block.cells, true);
            for (let r = 0; r < results.count; ++r) {
              if (results.outcomes[r] !== CHANGED) continue;
              figures.changes++;
              if (figures.samples.length < PREVIEW_SAMPLES) figures.samples.push({ before: results.before(r), after: results.after(r) });
              if (figures.changes > PREVIEW_CAP) {
                figures.capped = true;
                break;
              }
            }
            if (figures.capped) break;
          }
        }
      } finally {
        rule.dispose();
      }
      return { line: this.engine.previewLine(request.code, figures, request.inputs) };
    });
  }

  /** The value removal a recipe runs after its character steps, or null. */
  private valueStepAfter(request: RunRequest): string | null {
    return request.inputs.recipe ? (this.engine.recipe(request.inputs.recipe).then ?? null) : null;
  }

  /** A value removal's decision over its whole list: 1 for each cell it clears. */
  private decide(code: string, locale: CellLocale, list: CellIn[]): Uint8Array {
    const rule = this.engine.prepareRule(code, {}, locale);
    try {
      return rule.clears(list);
    } finally {
      rule.dispose();
    }
  }

  async run(request: RunRequest, control: RunControl): Promise<RunOutcome> {
    const op = this.operation(request.code);
    const bad = this.engine.checkInputs(request.code, request.inputs);
    if (bad !== null) return refused(bad);
    const then = this.valueStepAfter(request);
    const batch = async (context: Excel.RequestContext): Promise<RunOutcome> => {
      const locale = await readLocale(context);
      const selection = await readSelection(context);
      // A recipe that ends by clearing values needs one column, before anything changes.
      if (then !== null && !oneColumn(selection.selected)) return refused(this.engine.message("notOneColumn"));
      this.watch.watch(context, selection.sheet);
      const others = new Others(selection.sheet);
      const unlisten = this.watch.listen((change) => others.hear(change));
      const record = this.undoByExcel ? null : new RunRecord(this.engine.newUndoRecord(), this.watch);
      const run = new Run(this.engine, context, selection, locale, request, control, record, others);
      let outcome: RunOutcome;
      let leftAlone = 0;
      try {
        outcome = op.kind === "value" ? await run.values() : await run.characters();
        if (then !== null && outcome.kind === "done") outcome = await this.valueStep(run, outcome, then, { context, selection, locale, control, record });
      } catch (e) {
        outcome = { kind: "failed", changed: run.changed, message: errorText(e) };
      } finally {
        unlisten();
        leftAlone = run.leftAlone + (run.next?.leftAlone ?? 0);
      }
      if (leftAlone > 0) outcome.message = [outcome.message, othersMessage(leftAlone)].filter((m) => m).join("\n");
      // The record of a run that changed cells replaces the last run's, whose scratch sheet goes.
      if (record !== null && record.size > 0) {
        const old = this.record;
        this.record = record;
        if (old) await this.drop(context, old);
      } else if (record !== null) {
        await this.drop(context, record);
      }
      return outcome;
    };
    try {
      return this.undoByExcel ? await Excel.run({ mergeUndoGroup: true, delayForCellEdit: true }, batch) : await Excel.run({ delayForCellEdit: true }, batch);
    } catch (e) {
      return { kind: "failed", changed: 0, message: errorText(e) };
    }
  }

  /** A recipe's value step after its character steps (`first`, done), in the same run: it
   *  decides on the cells as the steps left them, with its own progress from 0, a record
   *  that follows theirs (one undo takes back both) and its own watch of others' edits, so
   *  that the steps' writes, heard late on hosts that cannot tell whose an edit is, are not
   *  taken for someone else's. */
  private async valueStep(run: Run, first: RunOutcome, code: string, on: { context: Excel.RequestContext; selection: Selection; locale: CellLocale; control: RunControl; record: RunRecord | null }): Promise<RunOutcome> {
    await heardSoFar();
    const others = new Others(on.selection.sheet);
    const unlisten = this.watch.listen((change) => others.hear(change));
    const record = on.record?.follow(this.engine.newUndoRecord()) ?? null;
    run.next = new Run(this.engine, on.context, on.selection, on.locale, { code, inputs: {} }, on.control, record, others);
    try {
      const second = await run.next.values(true);
      const message = [first.message, second.message].filter((m) => m).join("\n");
      const outcome: RunOutcome = { kind: second.kind, changed: first.changed + second.changed };
      if (message !== "") outcome.message = message;
      return outcome;
    } finally {
      unlisten();
    }
  }

  /** Forgets a record, deleting its scratch sheets. */
  private async drop(context: Excel.RequestContext, record: RunRecord): Promise<void> {
    record.dispose();
    let sheets = 0;
    for (let part: RunRecord | null = record; part !== null; part = part.following) {
      if (part.scratch === null) continue;
      context.workbook.worksheets.getItem(part.scratch).delete();
      part.scratch = null;
      sheets++;
    }
    if (sheets === 0) return;
    try {
      await context.sync();
    } catch {
      // Already gone (deleted by the user): nothing is left to remove.
    }
  }

  // Workbook.getActiveCell (ExcelApi 1.7, docs/excel/excel-add-ins-workbooks.md).
  async activeCell(): Promise<{ address: string; text: string }> {
    return Excel.run({ delayForCellEdit: true }, async (context) => {
      const cell = context.workbook.getActiveCell().load("address, values");
      await context.sync();
      const value: unknown = cell.values[0]?.[0];
      return { address: cell.address, text: typeof value === "string" ? value : "" };
    });
  }

  async undo(): Promise<{ message: string | null }> {
    const record = this.record;
    if (record === null || record.size === 0) return { message: this.engine.message("nothingToUndo") };
    try {
      await heardSoFar(); // the moves told so far are followed
      const { kept, unrestored } = await Excel.run({ delayForCellEdit: true }, async (context) => {
        const result = await undoRecord(context, record);
        this.record = null;
        await this.drop(context, record);
        return result;
      });
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
  const pieces = new Pieces(rows);
  for (;;) {
    const chunk = await reader.read(pieces);
    if (chunk === null) return list;
    for (const b of chunk.blocks) for (const c of b.cells) list.push(c);
    if (onChunk && !onChunk(chunk)) return list;
  }
}

/** The same content: what a write left, or what was read. */
function sameContent(a: { value: unknown; formula: unknown }, b: { value: unknown; formula: unknown }): boolean {
  return a.value === b.value && a.formula === b.formula;
}

/** The entry that puts back a cell's content as it was read: a formula as a formula, a
 *  number or Boolean as itself, a text as a text. A cell read without the formula check
 *  (`settled` false) whose formula is its own text is taken for a text, the safer guess. */
function entryOf(cell: CellIn, settled = true): { formula?: string; value?: Cell } {
  const f = cell.formula;
  if (typeof f === "string" && f.startsWith("=") && (settled || f !== cell.value)) return { formula: f };
  if (cell.valueType === "Empty") return { value: "" };
  if (typeof cell.value === "string") return { value: textEntry(cell.value, cell.numberFormat) };
  return { value: cell.value };
}

/** One run over the selection. */
class Run {
  changed = 0;
  leftAlone = 0;
  /** The removal run after this one in the same run (a recipe's value step). */
  next: Run | null = null;
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
    private record: RunRecord | null,
    private others: Others,
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
    const areas = await constantAreas(this.context, this.selection.sheet, this.selection.areas);
    this.total = areas.reduce((n, a) => n + a.rows * a.columns, 0);
    if (this.total === 0) return refused(this.engine.message("emptySelection"));
    const rule = this.engine.prepareRule(this.request.code, this.request.inputs, this.locale);
    try {
      return await this.overChunks(rule, areas);
    } finally {
      rule.dispose();
    }
  }

  private async overChunks(rule: ChunkRule, areas: Area[]): Promise<RunOutcome> {
    let seen = 0, gaveUp = 0;
    this.progress();
    const pieces = new Pieces(areas);
    for (;;) {
      if (this.control.stopRequested()) return this.end("stopped", gaveUp);
      if (this.others.moved) return { ...this.end("stopped", gaveUp), message: MOVED_MESSAGE };
      const chunk = await this.reader.read(pieces);
      if (chunk === null) break;
      const writes: { block: Block; results: CellResult[] }[] = [];
      let asked = 0;
      for (const block of chunk.blocks) {
        seen += block.cells.filter(nonEmpty).length;
        const results: CellResult[] = [];
        // The engine is asked a slice at a time, the pane told between slices: a chunk sized
        // for the request limits can take the engine seconds.
        for (let from = 0; from < block.cells.length; from += ENGINE_SLICE) {
          const slice = block.cells.slice(from, from + ENGINE_SLICE);
          const found = rule.over(slice);
          for (let r = 0; r < found.count; ++r) {
            if (found.outcomes[r] !== CHANGED) {
              ++gaveUp;
              continue;
            }
            results.push({ index: found.cells[r]! + from, outcome: "changed", before: "", after: found.after(r), write: found.write(r) });
          }
          asked += slice.length;
          if (asked < chunk.cells) {
            const done = this.done + Math.floor(asked / 2); // the slice asked, not yet written
            this.control.onProgress({ done, total: this.total, percent: Math.floor((100 * done) / this.total) });
            await heardSoFar();
          }
        }
        writes.push({ block, results });
      }
      await this.write(writes);
      this.done += chunk.cells;
      this.progress();
    }
    if (seen === 0) return refused(this.engine.message("emptySelection"));
    return this.end("done", gaveUp);
  }

  private end(kind: "done" | "stopped", gaveUp: number): RunOutcome {
    const outcome: RunOutcome = { kind, changed: this.changed };
    if (gaveUp > 0) outcome.message = this.engine.countMessage("gaveUp", gaveUp);
    return outcome;
  }

  /** The changed cells of a chunk in one write request: per block the rows from the first
   *  changed cell to the last, null for every other cell, each block read again first in the
   *  same request. A cell someone else changed since it was read is left out; one changed
   *  just before the write is put back as they left it. */
  private async write(writes: { block: Block; results: CellResult[] }[]): Promise<void> {
    await heardSoFar();
    const sheet = this.sheet();
    const sent: { block: Block; top: number; rows: number; results: CellResult[]; guard: Excel.Range }[] = [];
    for (const { block, results } of writes) {
      const { area } = block;
      const kept = results.filter((result) => {
        const r = Math.floor(result.index / area.columns), c = result.index % area.columns;
        if (!this.others.since(area.row + r, area.column + c, block.raw[result.index]!.value)) return true;
        this.leftAlone++;
        return false;
      });
      if (kept.length === 0) continue;
      const top = Math.floor(kept[0]!.index / area.columns);
      const rows = Math.floor(kept[kept.length - 1]!.index / area.columns) - top + 1;
      const values: (Cell | null)[][] = Array.from({ length: rows }, () => new Array<Cell | null>(area.columns).fill(null));
      let formats: (string | null)[][] | null = null;
      for (const result of kept) {
        const r = Math.floor(result.index / area.columns), c = result.index % area.columns;
        const entry = cellEntry(result.write!, block.cells[result.index]!.numberFormat, result.after);
        values[r - top]![c] = entry.value;
        if (entry.numberFormat !== null) {
          formats ??= Array.from({ length: rows }, () => new Array<string | null>(area.columns).fill(null));
          formats[r - top]![c] = entry.numberFormat;
        }
      }
      const range = sheet.getRangeByIndexes(area.row + top, area.column, rows, area.columns);
      const guard = range.load("values,formulas");
      range.values = values;
      if (formats !== null) range.numberFormat = formats;
      sent.push({ block, top, rows, results: kept, guard });
      // Recorded before the request: a refused request may still have written some cells
      // (undo leaves a cell that still holds what it held before).
      for (const result of kept) {
        const r = Math.floor(result.index / area.columns), c = result.index % area.columns;
        this.record?.add({ sheet: this.selection.sheet, row: area.row + r, column: area.column + c }, block.cells[result.index]!, result.write!);
      }
    }
    if (sent.length === 0) return;
    await this.context.sync();
    // A cell that no longer read as it did just before the write was changed by someone in
    // between: what they left goes back.
    const repairs: { row: number; column: number; entry: CellIn }[] = [];
    for (const { block, top, results, guard } of sent) {
      const { area } = block;
      const values = guard.values as Cell[][], formulas = guard.formulas as Cell[][];
      for (const result of results) {
        const r = Math.floor(result.index / area.columns), c = result.index % area.columns;
        const now = { value: values[r - top]![c]!, formula: formulas[r - top]![c]! };
        if (sameContent(now, block.raw[result.index]!)) {
          this.changed++;
          continue;
        }
        const before = block.cells[result.index]!;
        repairs.push({ row: area.row + r, column: area.column + c, entry: { ...before, value: now.value, formula: now.formula, valueType: typeof now.value === "string" ? (now.value === "" ? "Empty" : "String") : typeof now.value === "number" ? "Double" : "Boolean" } });
      }
    }
    if (repairs.length === 0) return;
    this.leftAlone += repairs.length;
    await inParts(this.context, repairs, ({ row, column, entry }) => {
      const cell = sheet.getRangeByIndexes(row, column, 1, 1);
      cell.numberFormat = [[entry.numberFormat]];
      const put = entryOf(entry, false);
      if (put.formula !== undefined) cell.formulas = [[put.formula]];
      else cell.values = [[put.value!]];
    });
  }

  /** A value removal over the selection's one column; `following` other steps in the same
   *  run, which may have emptied every cell: then it has nothing to clear, and says nothing. */
  async values(following = false): Promise<RunOutcome> {
    if (!oneColumn(this.selection.selected)) return refused(this.engine.message("notOneColumn"));
    const rows = columnRows(this.selection.areas);
    const count = rows.reduce((n, a) => n + a.rows, 0);
    this.total = 2 * count; // read, then decided and cleared
    this.progress();
    let stopped = false;
    const places: { row: number; column: number }[] = [];
    for (const a of rows) for (let r = 0; r < a.rows; r++) places.push({ row: a.row + r, column: a.column });
    const list = await readList(this.reader, rows, (chunk) => {
      this.done += chunk.cells;
      this.progress();
      stopped = this.control.stopRequested();
      return !stopped;
    });
    if (stopped) return { kind: "stopped", changed: 0 };
    if (!list.some(nonEmpty)) return following ? { kind: "done", changed: 0 } : refused(this.engine.message("emptySelection"));
    const rule = this.engine.prepareRule(this.request.code, {}, this.locale);
    let clears: Uint8Array;
    try {
      clears = rule.clears(list);
    } finally {
      rule.dispose();
    }
    const sheetName = this.selection.sheet;
    let scratchRow = 0;
    // Runs of neighbouring rows to clear, a request's worth at a time.
    let i = 0;
    while (i < list.length) {
      if (this.control.stopRequested()) return { kind: "stopped", changed: this.changed };
      if (this.others.moved) return { kind: "stopped", changed: this.changed, message: MOVED_MESSAGE };
      await heardSoFar();
      let ops = 0;
      const start = i;
      const sheet = this.sheet();
      const scratch = this.record ? this.scratchSheet() : null;
      const sent: { first: number; last: number; scratchRow: number; guard: Excel.Range; look: OfficeExtension.ClientResult<Excel.CellProperties[][]> | null }[] = [];
      while (i < list.length && ops < CLEARS_PER_REQUEST) {
        const skip = clears[i] && this.others.since(places[i]!.row, places[i]!.column, list[i]!.value);
        if (skip) this.leftAlone++;
        if (!clears[i] || skip) {
          i++;
          continue;
        }
        let j = i;
        while (j + 1 < list.length && clears[j + 1] && places[j + 1]!.row === places[j]!.row + 1 && !this.others.since(places[j + 1]!.row, places[j + 1]!.column, list[j + 1]!.value)) j++;
        const n = j - i + 1;
        // Range.clear() removes content and formats, as the COM add-in's Range.Clear does
        // (docs/excel/excel-add-ins-ranges-clear-delete.md); hidden rows are cleared too. The
        // commands of a request run in their order: the cells are read again and copied to
        // the scratch sheet before the clear, and their look is read after it.
        const target = sheet.getRangeByIndexes(places[i]!.row, places[i]!.column, n, 1);
        const guard = target.load("values,formulas,numberFormat");
        if (scratch) scratch.getRangeByIndexes(scratchRow, 0, n, 1).copyFrom(target, "All");
        target.clear("All");
        const look = scratch ? target.getCellProperties(LOOK_COMPARED) : null;
        sent.push({ first: i, last: j, scratchRow, guard, look });
        if (scratch) scratchRow += n;
        ops++;
        i = j + 1;
      }
      if (ops > 0) {
        // Recorded before the request: a refused request may still have cleared some cells.
        for (const s of sent) {
          for (let k = s.first; k <= s.last; k++) {
            this.record?.add({ sheet: sheetName, row: places[k]!.row, column: places[k]!.column }, list[k]!, null, s.scratchRow + k - s.first);
          }
        }
        const recorded = this.record ? this.record.cells.length - sent.reduce((n, s) => n + s.last - s.first + 1, 0) : 0;
        await this.context.sync();
        let at = recorded;
        const repairs: { k: number; scratchRow: number }[] = [];
        for (const s of sent) {
          const values = s.guard.values as Cell[][], formulas = s.guard.formulas as Cell[][];
          const looks = s.look?.value;
          for (let k = s.first; k <= s.last; k++) {
            const r = k - s.first;
            const entry = this.record?.cells[at++];
            if (entry && looks) entry.clearedLook = JSON.stringify(looks[r]![0]);
            const read = list[k]!;
            const raw = { value: read.value, formula: typeof read.formula === "string" && read.formula.startsWith("'") ? read.value : read.formula };
            if (sameContent({ value: values[r]![0]!, formula: formulas[r]![0]! }, raw)) {
              this.changed++;
            } else {
              repairs.push({ k, scratchRow: s.scratchRow + r });
              if (entry) entry.place.gone = true; // not this run's to undo
            }
          }
        }
        if (repairs.length > 0) {
          // Changed by someone just before the clear: the scratch copy holds what they left.
          this.leftAlone += repairs.length;
          // Without a scratch sheet (Excel's own Undo keeps the rest) their content and
          // number format go back.
          const guards = new Map<number, CellIn>();
          for (const s of sent) {
            for (let k = s.first; k <= s.last; k++) {
              const r = k - s.first, value = (s.guard.values as Cell[][])[r]![0]!;
              guards.set(k, { value, formula: (s.guard.formulas as Cell[][])[r]![0]!, numberFormat: (s.guard.numberFormat as string[][])[r]![0]!, valueType: typeof value === "string" ? (value === "" ? "Empty" : "String") : typeof value === "number" ? "Double" : "Boolean" });
            }
          }
          await inParts(this.context, repairs, ({ k, scratchRow: sr }) => {
            const cell = sheet.getRangeByIndexes(places[k]!.row, places[k]!.column, 1, 1);
            if (scratch) {
              cell.copyFrom(scratch.getRangeByIndexes(sr, 0, 1, 1), "All");
              return;
            }
            const now = guards.get(k)!;
            cell.numberFormat = [[now.numberFormat]];
            const put = entryOf(now, false);
            if (put.formula !== undefined) cell.formulas = [[put.formula]];
            else cell.values = [[put.value!]];
          });
        }
      }
      this.done += i - start;
      this.progress();
    }
    return { kind: "done", changed: this.changed };
  }

  /** The very hidden sheet a value run copies the cells it clears to (added in the next
   *  request, the first time). */
  private scratchSheet(): Excel.Worksheet {
    const record = this.record!;
    const worksheets = this.context.workbook.worksheets;
    if (record.scratch !== null) return worksheets.getItem(record.scratch);
    record.scratch = `QMV undo ${Math.random().toString(16).slice(2, 10)}`;
    const sheet = worksheets.add(record.scratch);
    // typings: Worksheet.visibility, ExcelApi 1.1: a very hidden sheet is not listed to the user.
    sheet.visibility = "VeryHidden";
    return sheet;
  }
}

/** Cells of the record read as they are now, a batch per request (halved while a payload
 *  error refuses it). */
async function readNow(context: Excel.RequestContext, cells: Recorded[]): Promise<{ now: (CellIn | null)[]; looks: (string | null)[] }> {
  const now: (CellIn | null)[] = [];
  const looks: (string | null)[] = [];
  let size = UNDO_BATCH;
  for (let start = 0; start < cells.length; ) {
    const batch = cells.slice(start, start + size);
    try {
      const read = await readCells(context, batch);
      now.push(...read.now);
      looks.push(...read.looks);
      start += batch.length;
    } catch (e) {
      if (!isPayloadError(e) || size === 1) throw e;
      size = Math.max(1, Math.floor(size / 2));
    }
  }
  return { now, looks };
}

async function readCells(context: Excel.RequestContext, batch: Recorded[]): Promise<{ now: (CellIn | null)[]; looks: (string | null)[] }> {
  const ranges = batch.map((c) => {
    if (c.place.gone) return null;
    const range = context.workbook.worksheets.getItem(c.place.sheet).getRangeByIndexes(c.place.row, c.place.column, 1, 1);
    range.load("values,formulas,numberFormat,valueTypes");
    return { range, look: c.scratchRow !== undefined ? range.getCellProperties(LOOK_COMPARED) : null };
  });
  await context.sync();
  const read = ranges.map((r): CellIn | null => r && {
    value: r.range.values[0]![0] as Cell,
    formula: r.range.formulas[0]![0] as Cell,
    numberFormat: r.range.numberFormat[0]![0] as string,
    valueType: r.range.valueTypes[0]![0] as string,
  });
  // A text that reads like a formula is told apart as the run told it.
  const unsure = read.map((c, i) => (c !== null && looksAlike(c) ? i : -1)).filter((i) => i >= 0);
  if (unsure.length > 0) {
    const asked = unsure.map((i) => ranges[i]!.range.getSpecialCellsOrNullObject("Formulas"));
    await context.sync();
    unsure.forEach((i, k) => {
      if (asked[k]!.isNullObject) read[i]!.formula = "'" + String(read[i]!.value);
    });
  }
  return { now: read, looks: ranges.map((r) => (r?.look ? JSON.stringify(r.look.value[0]![0]) : null)) };
}

/** Restores a run from its record: reads the recorded cells where they are now (a batch per
 *  request), asks the engine's record what to write back, and writes it (a batch per
 *  request). A cell gone with its row or column, changed since the run, or (a cleared cell)
 *  formatted since is left and counted; one still as it was before the run is left silently
 *  (a refused request never changed it). A batch the host refuses is tried again in halves
 *  down to one cell, and only the cells that still fail are counted.
 *  A following run's record is undone first, so that its cells are back as this run left
 *  them before this run's record reads them; a cell it had to leave (kept or unrestored) is
 *  left by this one too, and counted once. */
async function undoRecord(context: Excel.RequestContext, record: RunRecord, left = new Set<string>()): Promise<{ kept: number; unrestored: number }> {
  const later = record.following ? await undoRecord(context, record.following, left) : { kept: 0, unrestored: 0 };
  const key = (p: Place) => `${p.sheet}\u0000${p.row},${p.column}`;
  const leaves: Recorded[] = []; // told to the earlier runs' records once this one is done
  const { now, looks } = await readNow(context, record.cells);
  const empty: CellIn = { value: "", formula: "", numberFormat: "General", valueType: "Empty" };
  const writes = record.engine.restore(now.map((c) => c ?? { ...empty, value: "\u0000gone", formula: "\u0000gone", valueType: "String" }));
  let kept = 0;
  const todo: { cell: Recorded; write: RestoreWrite }[] = [];
  record.cells.forEach((cell, i) => {
    if (left.size > 0 && left.has(key(cell.place))) return;
    const n = now[i] ?? null;
    if (n !== null && sameContent(n, cell.before) && n.valueType === cell.before.valueType) return; // never changed
    const w = writes[i];
    const formatted = cell.scratchRow !== undefined && cell.clearedLook !== undefined && looks[i] !== cell.clearedLook;
    const reformatted = cell.scratchRow !== undefined && n !== null && n.numberFormat !== "General";
    if (n === null || w === null || w === undefined || formatted || reformatted) {
      kept++;
      leaves.push(cell);
      return;
    }
    todo.push({ cell, write: w });
  });
  let unrestored = 0;
  for (let start = 0; start < todo.length; start += UNDO_BATCH) {
    const failed = await inParts(context, todo.slice(start, start + UNDO_BATCH), ({ cell, write }) => {
      const sheet = context.workbook.worksheets.getItem(cell.place.sheet);
      const range = sheet.getRangeByIndexes(cell.place.row, cell.place.column, 1, 1);
      if (cell.scratchRow !== undefined && record.scratch !== null) {
        // Everything the clear took comes back from the scratch copy.
        range.copyFrom(context.workbook.worksheets.getItem(record.scratch).getRangeByIndexes(cell.scratchRow, 0, 1, 1), "All");
        return;
      }
      // The number format first, so that the cell's own format types what follows; a number,
      // date or Boolean goes as its exact value, a formula as a formula, a text as a text.
      const format = write.numberFormat === "" ? "General" : write.numberFormat;
      range.numberFormat = [[format]];
      if (write.value !== undefined) {
        range.values = [[write.value]];
        return;
      }
      const put = entryOf(cell.before);
      if (put.formula !== undefined) range.formulas = [[put.formula]];
      else range.values = [[put.value!]];
    });
    unrestored += failed.length;
    for (const { cell } of failed) leaves.push(cell);
  }
  for (const cell of leaves) if (!cell.place.gone) left.add(key(cell.place));
  return { kept: kept + later.kept, unrestored: unrestored + later.unrestored };
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
