// The Excel side over the strict fake, on the real engine: runs, Stop, undo both ways,
// several areas, hidden rows, Text-format cells, other cultures, refusals.
import { strict as assert } from "node:assert";
import { afterEach, test } from "node:test";

import type { RunControl, RunOutcome, RunProgress } from "../../src/addin-types.js";
import type { RunInputs } from "../../src/engine-types.js";
import { cellEntry, connectExcel, dateOrderOf } from "../../src/excel/excel-side.js";
import { DE_DE, FR_FR, installFakeExcel, type FakeAreaSpec, type FakeExcelControl, type FakeValue } from "../fake-excel/fake-excel.js";
import { realEngine } from "./engine-under-test.js";

let fake: FakeExcelControl | null = null;
afterEach(() => fake?.uninstall());

function control(stopAfter = Infinity): RunControl & { seen: RunProgress[] } {
  const seen: RunProgress[] = [];
  return {
    seen,
    onProgress: (p) => seen.push(p),
    stopRequested: () => seen.length > stopAfter,
  };
}

function column(f: FakeExcelControl, sheet: string, row: number, col: number, n: number): FakeValue[] {
  return Array.from({ length: n }, (_, i) => f.cell(sheet, row + i, col).value);
}

async function runOn(values: FakeValue[], code: string, inputs: RunInputs = {}, excelApi = "1.20"): Promise<{ out: FakeValue[]; outcome: RunOutcome }> {
  fake = installFakeExcel({ excelApi });
  fake.setValues("Sheet1", 0, 0, values.map((v) => [v]));
  fake.select("Sheet1", [{ row: 0, column: 0, rows: values.length, columns: 1 }]);
  const side = await connectExcel(await realEngine());
  const outcome = await side.run({ code, inputs }, control());
  return { out: column(fake, "Sheet1", 0, 0, values.length), outcome };
}

test("each run writes what the removal gives, typed as Excel types it", async () => {
  const rows: [string, RunInputs, FakeValue[], FakeValue[]][] = [
    ["RNUM", {}, ["ab12cd", "x9y8z", "no digits", 1234.5], ["abcd", "xyz", "no digits", "."]],
    ["RALP", {}, ["a007", "b12c", "=text"], [7, 12, "="]],
    ["RALS", {}, ["1 2 3", " a b "], [123, "ab"]],
    ["RPAT", { pattern: "^x", matchCase: true }, ["x=1", "xx", "y"], ["=1", "x", "y"]],
    ["RDPV", {}, ["y", "x", "z", "X"], ["y", "x", "z", ""]],
    ["RADP", {}, ["x", "y", "x", "z", "x"], ["", "y", "", "z", ""]],
    ["RUDP", {}, ["x", "y", "x", "z"], ["x", "", "x", ""]],
  ];
  for (const [code, inputs, before, after] of rows) {
    const { out, outcome } = await runOn(before, code, inputs);
    assert.deepEqual(out, after, code);
    assert.equal(outcome.kind, "done", code);
    fake!.uninstall();
  }
});

test("a formula is never written, and a text stays text however it reads", async () => {
  fake = installFakeExcel();
  fake.setCell("Sheet1", 0, 0, { formula: "=1+2", value: 3 });
  fake.setCell("Sheet1", 1, 0, { value: "=A9", quotePrefix: true });
  fake.setCell("Sheet1", 2, 0, { value: "1+2a" });
  fake.setCell("Sheet1", 3, 0, { value: "0071a", numberFormat: "@" });
  fake.select("Sheet1", [{ row: 0, column: 0, rows: 4, columns: 1 }]);
  const side = await connectExcel(await realEngine());
  await side.run({ code: "RALP", inputs: {} }, control());
  const cells = [0, 1, 2, 3].map((r) => fake!.cell("Sheet1", r, 0));
  assert.deepEqual(cells.map((c) => [c.formula, c.value, c.valueType]), [
    ["=1+2", 3, "Double"],
    ["", "=9", "String"],
    ["", "1+2", "String"],
    ["", "0071", "String"],
  ]);
  assert.equal(cells[3]!.numberFormat, "@");
});

test("several areas, and rows the user hid, are all visited", async () => {
  fake = installFakeExcel();
  fake.setValues("Sheet1", 0, 0, [["a1"], ["b2"], ["c3"], ["d4"]]);
  fake.setValues("Sheet1", 0, 2, [["e5", "f6"]]);
  fake.hideRow("Sheet1", 1);
  const areas: FakeAreaSpec[] = [{ row: 0, column: 0, rows: 2, columns: 1 }, { row: 3, column: 0, rows: 1, columns: 1 }, { row: 0, column: 2, rows: 1, columns: 2 }];
  fake.select("Sheet1", areas);
  const side = await connectExcel(await realEngine());
  const outcome = await side.run({ code: "RNUM", inputs: {} }, control());
  assert.deepEqual([...column(fake, "Sheet1", 0, 0, 4), fake.cell("Sheet1", 0, 2).value, fake.cell("Sheet1", 0, 3).value], ["a", "b", "c3", "d", "e", "f"]);
  assert.equal(outcome.changed, 5);
  // A value removal over areas of one column takes them as one list, hidden rows too.
  fake.setValues("Sheet1", 0, 5, [["x"], ["y"], ["x"], ["q"], ["y"]]);
  fake.hideRow("Sheet1", 4);
  fake.select("Sheet1", [{ row: 3, column: 5, rows: 2, columns: 1 }, { row: 0, column: 5, rows: 3, columns: 1 }]);
  await side.run({ code: "RDPV", inputs: {} }, control());
  assert.deepEqual(column(fake, "Sheet1", 0, 5, 5), ["x", "y", "", "q", ""]);
  assert.equal(fake.rowHidden("Sheet1", 4), true);
});

test("refusals: a bad pattern, an empty selection, two columns for a value removal", async () => {
  const engine = await realEngine();
  fake = installFakeExcel();
  fake.setValues("Sheet1", 0, 0, [["a", "b"]]);
  const side = await connectExcel(engine);
  const cases: [string, RunInputs, FakeAreaSpec, string, boolean][] = [
    // operation, inputs, selection, message, whether the preview refuses too
    ["RPAT", { pattern: "(ab" }, { row: 0, column: 0, rows: 1, columns: 1 }, engine.checkInputs("RPAT", { pattern: "(ab" }) ?? "?", true],
    ["RNUM", {}, { row: 10, column: 0, rows: 5, columns: 1 }, engine.message("emptySelection"), false],
    ["RADP", {}, { row: 0, column: 0, rows: 1, columns: 2 }, engine.message("notOneColumn"), true],
  ];
  for (const [code, inputs, area, message, previewRefuses] of cases) {
    fake.select("Sheet1", [area]);
    const outcome = await side.run({ code, inputs }, control());
    assert.deepEqual([outcome.kind, outcome.message], ["refused", message], code);
    const preview = await side.preview({ code, inputs });
    assert.deepEqual(preview, previewRefuses ? { refusal: message } : { line: engine.previewLine(code, { changes: 0, capped: false, samples: [] }) }, code);
  }
  assert.deepEqual([fake.cell("Sheet1", 0, 0).value, fake.cell("Sheet1", 0, 1).value], ["a", "b"]);
});

test("Stop leaves exactly the chunks done; Excel's Undo takes the run back as one step", async () => {
  const n = 200000;
  fake = installFakeExcel({ excelApi: "1.20" });
  fake.setValues("Sheet1", 0, 0, Array.from({ length: n }, (_, i) => [`r${i}`]));
  fake.select("Sheet1", [{ row: 0, column: 0, rows: n, columns: 1 }]);
  const side = await connectExcel(await realEngine());
  assert.equal(side.undoByExcel, true);
  assert.equal(side.canUndo(), false);
  const c = control(2);
  const outcome = await side.run({ code: "RNUM", inputs: {} }, c);
  assert.equal(outcome.kind, "stopped");
  const done = c.seen[c.seen.length - 1]!.done;
  assert.ok(done > 0 && done < n);
  assert.equal(outcome.changed, done);
  const out = column(fake, "Sheet1", 0, 0, n);
  assert.equal(out.findIndex((v) => v !== "r"), done, "changed up to the last chunk done, nothing after");
  assert.equal(fake.undoSteps(), 1);
  fake.excelUndo();
  assert.deepEqual(column(fake, "Sheet1", 0, 0, 3), ["r0", "r1", "r2"]);
  assert.equal(fake.cell("Sheet1", done - 1, 0).value, `r${done - 1}`);
});

test("the pane's Undo restores a run, leaving cells changed since and counting them", async () => {
  const engine = await realEngine();
  fake = installFakeExcel({ excelApi: "1.19" });
  fake.setValues("Sheet1", 0, 0, [["a1"], ["b2"], ["c3"]]);
  fake.setCell("Sheet1", 3, 0, { value: "d4", numberFormat: "@" });
  fake.select("Sheet1", [{ row: 0, column: 0, rows: 4, columns: 1 }]);
  const side = await connectExcel(engine);
  assert.equal(side.undoByExcel, false);
  assert.deepEqual(await side.undo(), { message: engine.message("nothingToUndo") });
  await side.run({ code: "RNUM", inputs: {} }, control());
  assert.equal(side.canUndo(), true);
  fake.setValues("Sheet1", 1, 0, [["mine"]]);
  const undone = await side.undo();
  assert.equal(undone.message, engine.countMessage("keptChanges", 1));
  assert.deepEqual(column(fake, "Sheet1", 0, 0, 4), ["a1", "mine", "c3", "d4"]);
  assert.equal(fake.cell("Sheet1", 3, 0).numberFormat, "@");
  assert.equal(side.canUndo(), false);
  // A value removal's clears come back with their formats: the number format, the fill and
  // the font; a cell without fill gets none.
  fake.setCell("Sheet1", 0, 2, { value: 7, numberFormat: "0.00", fill: "#FFFF00", bold: true });
  fake.setCell("Sheet1", 1, 2, { value: 7, numberFormat: "0.00" });
  fake.setCell("Sheet1", 2, 2, { value: 8, fill: "#00B050" });
  fake.select("Sheet1", [{ row: 0, column: 2, rows: 3, columns: 1 }]);
  await side.run({ code: "RADP", inputs: {} }, control());
  assert.deepEqual(column(fake, "Sheet1", 0, 2, 3), ["", "", 8]);
  assert.deepEqual([fake.cell("Sheet1", 0, 2).fill, fake.cell("Sheet1", 0, 2).bold], ["", false]);
  assert.deepEqual(await side.undo(), { message: null });
  const look = (row: number) => {
    const c = fake!.cell("Sheet1", row, 2);
    return [c.value, c.numberFormat, c.fill, c.bold];
  };
  assert.deepEqual([look(0), look(1), look(2)], [[7, "0.00", "#FFFF00", true], [7, "0.00", "", false], [8, "General", "#00B050", false]]);
});

test("the user's culture decides how a result is typed", async () => {
  const cases: [string, typeof DE_DE | null, FakeValue, FakeValue][] = [
    ["en-US", null, "1.5kg", 1.5],
    ["de-DE", DE_DE, "1,5kg", 1.5],
    ["fr-FR", FR_FR, "2,25m", 2.25],
    ["en-US dollars", null, "x$1,234.50", 1234.5],
    // CultureInfo names no currency: outside en-US an amount stays the text it reads.
    ["de-DE euros", DE_DE, "x12,50 \u20ac", "12,50 \u20ac"],
  ];
  for (const [name, culture, before, after] of cases) {
    fake = installFakeExcel();
    if (culture) fake.setCulture(culture);
    fake.setValues("Sheet1", 0, 0, [[before]]);
    fake.select("Sheet1", [{ row: 0, column: 0, rows: 1, columns: 1 }]);
    const side = await connectExcel(await realEngine());
    await side.run({ code: "RALP", inputs: {} }, control());
    const cell = fake.cell("Sheet1", 0, 0);
    assert.deepEqual([cell.value, cell.valueType], [after, typeof after === "number" ? "Double" : "String"], name);
    if (name === "en-US dollars") assert.equal(cell.numberFormat, '"$"#,##0.00', name);
    fake.uninstall();
  }
  // A host without cultureInfo runs with en-US conventions.
  fake = installFakeExcel({ excelApi: "1.10" });
  fake.setValues("Sheet1", 0, 0, [["1,5kg"]]);
  const side = await connectExcel(await realEngine());
  const outcome = await side.run({ code: "RALP", inputs: {} }, control());
  assert.equal(outcome.kind, "done");
  assert.notEqual(fake.cell("Sheet1", 0, 0).value, 1.5);
});

test("a text result's entry keeps it text; short date patterns give the date order", () => {
  const rows: [string, string, FakeValue][] = [
    ["abc", "General", "'abc"],
    ["=x", "General", "'=x"],
    ["abc", "@", "abc"],
    ["-x", "@", "'-x"],
    ["'q", "@", "''q"],
  ];
  for (const [text, format, entry] of rows) {
    assert.equal(cellEntry({ kind: "text", value: text }, format).value, entry, text);
  }
  assert.deepEqual(cellEntry({ kind: "date", value: 39084, numberFormat: "m/d/yyyy" }, "General"), { value: 39084, numberFormat: "m/d/yyyy" });
  assert.deepEqual(["M/d/yyyy", "dd.MM.yyyy", "yyyy-MM-dd", "dd/MM/yyyy"].map(dateOrderOf), ["MDY", "DMY", "YMD", "DMY"]);
});

test("heavy cells: chunks near 4 MB, one read and one write each", async () => {
  fake = installFakeExcel();
  const n = 3000;
  fake.setValues("Sheet1", 0, 0, Array.from({ length: n }, (_, i) => [`${i}${"w".repeat(3000)}`]));
  fake.select("Sheet1", [{ row: 0, column: 0, rows: n, columns: 1 }]);
  const side = await connectExcel(await realEngine());
  const outcome = await side.run({ code: "RNUM", inputs: {} }, control());
  assert.deepEqual([outcome.kind, outcome.changed], ["done", n]);
  const requests = fake.requests().slice(3); // the culture, the selection and its constants first
  const limit = 4 * 1024 * 1024;
  let chunks = 0, cells = 0;
  requests.forEach((q, i) => {
    if (i % 2 === 1) {
      assert.ok(q.writes > 0 && q.requestBytes <= limit, `write ${i}`);
    } else {
      assert.ok(q.writes === 0 && q.responseBytes <= 5 * 1024 * 1024, `chunk read ${i}`);
      chunks++;
      cells += q.cellsRead;
    }
  });
  assert.equal(cells, n);
  assert.ok(chunks >= 5 && requests.length === 2 * chunks, `${requests.length} requests for ${chunks} chunks`);
});

test("a request the host fails ends the run as failed, with the chunks written before kept and undoable", async () => {
  fake = installFakeExcel({ excelApi: "1.19" });
  const n = 60000;
  fake.setValues("Sheet1", 0, 0, Array.from({ length: n }, (_, i) => [`r${i}`]));
  fake.select("Sheet1", [{ row: 0, column: 0, rows: n, columns: 1 }]);
  const side = await connectExcel(await realEngine());
  let syncs = 0;
  fake.onSync(() => {
    if (++syncs === 7) fake!.failNextRequest("GeneralException"); // the second chunk's write
  });
  const outcome = await side.run({ code: "RNUM", inputs: {} }, control());
  fake.onSync(null);
  assert.equal(outcome.kind, "failed");
  const out = column(fake, "Sheet1", 0, 0, n);
  const written = out.findIndex((v) => v !== "r");
  assert.equal(outcome.changed, written);
  assert.ok(written > 0 && out.slice(written).every((v, i) => v === `r${written + i}`));
  assert.deepEqual(await side.undo(), { message: null });
  assert.equal(fake.cell("Sheet1", 0, 0).value, "r0");
});

/** A column of values, selected, on a fresh fake; the Excel side over it. */
async function sideOver(values: FakeValue[], excelApi = "1.19") {
  fake = installFakeExcel({ excelApi });
  fake.setValues("Sheet1", 0, 0, values.map((v) => [v]));
  fake.select("Sheet1", [{ row: 0, column: 0, rows: values.length, columns: 1 }]);
  return connectExcel(await realEngine());
}

test("the pane's Undo follows the cells through inserted and deleted rows and columns", async () => {
  const engine = await realEngine();
  // [name, what the user does after the run, column A after Undo, column B, the message]
  const rows: [string, (f: FakeExcelControl) => void, FakeValue[], FakeValue[], string | null][] = [
    ["a row inserted at the top", (f) => f.insertRows("Sheet1", 0, 1), ["", "ABC-1", "ABC-2", "ABC-3"], ["", "", "", ""], null],
    ["row 1 deleted", (f) => f.deleteRows("Sheet1", 0, 1), ["ABC-2", "ABC-3", "", ""], ["", "", "", ""], engine.countMessage("keptChanges", 1)],
    ["a column inserted before A", (f) => f.insertColumns("Sheet1", 0, 1), ["", "", "", ""], ["ABC-1", "ABC-2", "ABC-3", ""], null],
    ["a row inserted, then a cell typed over", (f) => { f.insertRows("Sheet1", 1, 2); f.userEdit("Sheet1", 3, 0, { value: "mine" }); }, ["ABC-1", "", "", "mine", "ABC-3"], ["", "", "", "", ""], engine.countMessage("keptChanges", 1)],
  ];
  for (const [name, change, a, b, message] of rows) {
    const side = await sideOver(["ABC-1", "ABC-2", "ABC-3"]);
    await side.run({ code: "RNUM", inputs: {} }, control());
    assert.deepEqual(column(fake!, "Sheet1", 0, 0, 3), ["ABC-", "ABC-", "ABC-"], name);
    change(fake!);
    assert.deepEqual(await side.undo(), { message }, name);
    assert.deepEqual(column(fake!, "Sheet1", 0, 0, a.length), a, name);
    assert.deepEqual(column(fake!, "Sheet1", 0, 1, b.length), b, name);
    fake!.uninstall();
  }
});

test("a recipe's value step is undone first: a cell either step must leave is left once, counted once", async () => {
  const engine = await realEngine();
  const recipe = engine.recipe({ version: 1, steps: [{ operation: "RNUM" }, { operation: "RDPV" }] });
  assert.deepEqual([recipe.code, recipe.then], ["RNUM", "RDPV"]);
  // [name, what the user does after the run, column A after Undo, the message]
  const rows: [string, (f: FakeExcelControl) => void, FakeValue[], string | null][] = [
    ["nothing since", () => {}, ["a1", "a1", "b2", "c"], null],
    ["a cleared cell typed over", (f) => f.userEdit("Sheet1", 1, 0, { value: "mine" }), ["a1", "mine", "b2", "c"], engine.countMessage("keptChanges", 1)],
    ["a changed cell typed over", (f) => f.userEdit("Sheet1", 2, 0, { value: "mine" }), ["a1", "a1", "mine", "c"], engine.countMessage("keptChanges", 1)],
    ["a row inserted at the top", (f) => f.insertRows("Sheet1", 0, 1), ["", "a1", "a1", "b2", "c"], null],
  ];
  for (const [name, change, a, message] of rows) {
    const side = await sideOver(["a1", "a1", "b2", "c"]);
    const outcome = await side.run({ code: recipe.code!, inputs: { recipe: recipe.recipe! } }, control());
    assert.deepEqual([outcome.kind, column(fake!, "Sheet1", 0, 0, 4)], ["done", ["a", "", "b", "c"]], name);
    change(fake!);
    assert.deepEqual(await side.undo(), { message }, name);
    assert.deepEqual(column(fake!, "Sheet1", 0, 0, a.length), a, name);
    fake!.uninstall();
  }
});

test("nothing typed during a run is lost: left as typed, and counted", async () => {
  const n = 20000;
  // Every other cell a repeat: a value removal clears 10,000 separate cells, in three requests.
  const values = Array.from({ length: n }, (_, i) => (i % 2 === 0 ? "x" : `u${i}`));
  // [name, host, removal, when and what someone types, the cell, what it holds after]
  const rows: [string, string, string, (f: FakeExcelControl, sync: number) => void, number, FakeValue][] = [
    // The second request reads the chunk; the edit lands just before the chunk is written.
    ["a co-author types before a write", "1.19", "RNUM", (f, s) => { if (s === 5) f.userEdit("Sheet1", 5, 0, { value: "typed 7" }, "Remote"); }, 5, "typed 7"],
    ["the user types before a write, Excel's own Undo", "1.20", "RNUM", (f, s) => { if (s === 5) f.userEdit("Sheet1", 5, 0, { value: "typed 7" }); }, 5, "typed 7"],
    // The column is read in chunks, then cleared: an edit after its read is neither cleared
    // nor overwritten, whether it is heard before the clear or found by it.
    ["typed after the column was read", "1.19", "RADP", (f, s) => { if (s === 4) f.userEdit("Sheet1", 19998, 0, { value: "mine" }); }, 19998, "mine"],
    ["typed just before the clear", "1.19", "RADP", (f, s) => { if (s === 4) f.userEdit("Sheet1", 0, 0, { value: "mine", fill: "#00FF00" }, "Remote"); }, 0, "mine"],
    ["typed just before the clear, Excel's own Undo", "1.20", "RADP", (f, s) => { if (s === 4) f.userEdit("Sheet1", 0, 0, { value: "mine" }, "Remote"); }, 0, "mine"],
  ];
  for (const [name, api, code, edit, row, after] of rows) {
    const side = await sideOver(values, api);
    let syncs = 0;
    fake!.onSync(() => edit(fake!, ++syncs));
    const outcome = await side.run({ code, inputs: {} }, control());
    fake!.onSync(null);
    assert.equal(outcome.kind, "done", name);
    assert.equal(fake!.cell("Sheet1", row, 0).value, after, name);
    assert.match(outcome.message ?? "", /^1 cell changed by someone else during the run was left as it was\.$/m, name);
    if (name.includes("clear") && api === "1.19") assert.equal(fake!.cell("Sheet1", row, 0).fill, "#00FF00", `${name}: as they left it`);
    fake!.uninstall();
  }
  // A user editing a cell when the run starts delays it, and what they typed stays theirs.
  const side = await sideOver(["a1", "b2"]);
  fake!.beginCellEdit("Sheet1", 1, 0, "c3");
  const outcome = await side.run({ code: "RNUM", inputs: {} }, control());
  assert.deepEqual([outcome.kind, column(fake!, "Sheet1", 0, 0, 2)], ["done", ["a", "c"]]);
});

test("Undo of a value removal gives back what the clear took, and leaves cells formatted since", async () => {
  const engine = await realEngine();
  fake = installFakeExcel({ excelApi: "1.19" });
  const look = { format: { font: { color: "#FF0000", italic: true } }, style: "Good" };
  fake.setCell("Sheet1", 0, 0, { value: "k" });
  fake.setCell("Sheet1", 1, 0, { value: "k", numberFormat: "@", fill: "#FF0000", look, validation: "list a,b", conditionalFormat: "bold if k", note: "from Ann" });
  fake.setCell("Sheet1", 2, 0, { value: "k", fill: "#FF0000" });
  fake.select("Sheet1", [{ row: 0, column: 0, rows: 3, columns: 1 }]);
  const side = await connectExcel(engine);
  await side.run({ code: "RDPV", inputs: {} }, control());
  assert.deepEqual(column(fake, "Sheet1", 0, 0, 3), ["k", "", ""]);
  assert.deepEqual(fake.sheets().map((s) => s.visibility), ["Visible", "VeryHidden"], "a very hidden scratch sheet");
  // The user colours the emptied A3 green: Undo leaves it and says so.
  fake.setCell("Sheet1", 2, 0, { fill: "#00FF00" });
  assert.deepEqual(await side.undo(), { message: engine.countMessage("keptChanges", 1) });
  const back = fake.cell("Sheet1", 1, 0);
  assert.deepEqual([back.value, back.numberFormat, back.fill, back.look, back.validation, back.conditionalFormat, back.note],
    ["k", "@", "#FF0000", { format: { fill: { color: "#FF0000", pattern: "Solid" }, font: { color: "#FF0000", italic: true } }, style: "Good" }, "list a,b", "bold if k", "from Ann"]);
  assert.deepEqual([fake.cell("Sheet1", 2, 0).value, fake.cell("Sheet1", 2, 0).fill], ["", "#00FF00"]);
  assert.deepEqual(fake.sheets().map((s) => s.name), ["Sheet1"], "the scratch sheet is removed");
});

test("a restore the host refuses is tried again in parts: only the cell that fails is counted", async () => {
  const engine = await realEngine();
  const n = 10000;
  // [name, code, cells before]
  const rows: [string, string, FakeValue[]][] = [
    ["characters", "RNUM", Array.from({ length: n }, (_, i) => `r${i}`)],
    ["values", "RADP", Array.from({ length: n }, () => "same")],
  ];
  for (const [name, code, values] of rows) {
    const side = await sideOver(values);
    await side.run({ code, inputs: {} }, control());
    fake!.protect("Sheet1", 5000, 0);
    assert.deepEqual(await side.undo(), { message: engine.countMessage("unrestored", 1) }, name);
    const out = column(fake!, "Sheet1", 0, 0, n);
    assert.equal(out.filter((v, i) => v !== values[i]).length, 1, name);
    fake!.uninstall();
  }
});

test("Excel on the web's limits: both payload errors shrink a chunk, weighed in UTF-8 bytes", async () => {
  // [name, rows, columns, a cell's text]
  const rows: [string, number, number, (i: number) => string][] = [
    ["5,000 cells of 700 characters (a 5.9 MB answer)", 5000, 1, (i) => `${i % 10}${"w".repeat(699)}`],
    ["one row of 200 cells of 32,000 characters", 1, 200, (i) => `${i % 10}${"v".repeat(31999)}`],
    ["CJK: 4,000 cells of 1,000 characters", 4000, 1, (i) => `${i % 10}${"\u6f22".repeat(1000)}`],
  ];
  for (const [name, r, c, text] of rows) {
    fake = installFakeExcel();
    fake.setValues("Sheet1", 0, 0, Array.from({ length: r }, (_, i) => Array.from({ length: c }, (_, j) => text(i * c + j))));
    fake.select("Sheet1", [{ row: 0, column: 0, rows: r, columns: c }]);
    const side = await connectExcel(await realEngine());
    const preview = await side.preview({ code: "RNUM", inputs: {} });
    assert.ok("line" in preview && /would/.test(preview.line), `${name}: ${JSON.stringify(preview)}`);
    const outcome = await side.run({ code: "RNUM", inputs: {} }, control());
    assert.deepEqual([outcome.kind, outcome.changed], ["done", r * c], name);
    assert.equal(fake.cell("Sheet1", r - 1, c - 1).value, text(r * c - 1).slice(1), name);
    fake.uninstall();
  }
});

test("only the constants are read: a sparse whole-column selection costs what its cells cost", async () => {
  fake = installFakeExcel();
  fake.setValues("Sheet1", 0, 0, [["a1"]]);
  fake.setValues("Sheet1", 500000, 2, [["b2"]]);
  fake.setValues("Sheet1", 1048575, 4, [["c3"]]);
  fake.select("Sheet1", [{ row: 0, column: 0, rows: 1048576, columns: 5 }]);
  const side = await connectExcel(await realEngine());
  const outcome = await side.run({ code: "RNUM", inputs: {} }, control());
  assert.deepEqual([outcome.kind, outcome.changed, fake.cell("Sheet1", 500000, 2).value], ["done", 3, "b"]);
  const requests = fake.requests();
  assert.ok(requests.length <= 6, `${requests.length} requests`);
  assert.ok(requests.reduce((n, q) => n + q.responseBytes, 0) < 10000, "a few cells read, not a million");
});

test("Excel's own separators, where the user set them, type the results", async () => {
  // [name, Excel's separators, the cell, after RALP]
  const rows: [string, { decimal: string; thousands: string } | null, FakeValue, FakeValue][] = [
    ["the system's", null, "x1,5", "1,5"],
    ["Excel's own comma", { decimal: ",", thousands: "." }, "x1,5", 1.5],
  ];
  for (const [name, separators, before, after] of rows) {
    const side = await sideOver([before], "1.20");
    fake!.setExcelSeparators(separators);
    await side.run({ code: "RALP", inputs: {} }, control());
    assert.equal(fake!.cell("Sheet1", 0, 0).value, after, name);
    fake!.uninstall();
  }
});
