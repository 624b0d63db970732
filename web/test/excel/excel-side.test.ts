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

test("heavy cells: chunks under 4 MB, one read and one write each; a read found heavier is read again smaller", async () => {
  fake = installFakeExcel();
  const n = 3000;
  fake.setValues("Sheet1", 0, 0, Array.from({ length: n }, (_, i) => [`${i}${"w".repeat(3000)}`]));
  fake.select("Sheet1", [{ row: 0, column: 0, rows: n, columns: 1 }]);
  const side = await connectExcel(await realEngine());
  const outcome = await side.run({ code: "RNUM", inputs: {} }, control());
  assert.deepEqual([outcome.kind, outcome.changed], ["done", n]);
  const requests = fake.requests().slice(2); // the culture and the selection first
  const limit = 4 * 1024 * 1024;
  let chunks = 0, cells = 0;
  requests.forEach((q, i) => {
    const next = requests[i + 1];
    if (q.writes > 0) {
      assert.ok(q.requestBytes <= limit, `write ${i}`);
    } else if (next !== undefined && next.writes > 0) {
      assert.ok(q.responseBytes <= limit, `chunk read ${i}`);
      chunks++;
      cells += q.cellsRead;
    } else {
      assert.ok(q.responseBytes > limit, `read ${i} is read again only when over 4 MB`);
    }
  });
  assert.equal(cells, n);
  assert.ok(chunks >= 5 && requests.length <= 2 * chunks + 2, `${requests.length} requests for ${chunks} chunks`);
});

test("a request the host fails ends the run as failed, with the chunks written before kept and undoable", async () => {
  fake = installFakeExcel({ excelApi: "1.19" });
  const n = 60000;
  fake.setValues("Sheet1", 0, 0, Array.from({ length: n }, (_, i) => [`r${i}`]));
  fake.select("Sheet1", [{ row: 0, column: 0, rows: n, columns: 1 }]);
  const side = await connectExcel(await realEngine());
  let syncs = 0;
  fake.onSync(() => {
    if (++syncs === 5) fake!.failNextRequest("GeneralException"); // the second chunk's write
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
