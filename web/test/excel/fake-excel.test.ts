// The strict fake's own rules: a test of the Excel side is only as good as the fake is strict.
import { strict as assert } from "node:assert";
import { afterEach, test } from "node:test";

import { installFakeExcel, type FakeExcelControl } from "../fake-excel/fake-excel.js";

let fake: FakeExcelControl | null = null;
afterEach(() => fake?.uninstall());

function run<T>(batch: (ctx: Excel.RequestContext) => Promise<T>): Promise<T> {
  return Excel.run(batch);
}

test("a property is read only after load and sync", async () => {
  fake = installFakeExcel();
  fake.setValues("Sheet1", 0, 0, [["a"]]);
  await run(async (ctx) => {
    const range = ctx.workbook.worksheets.getItem("Sheet1").getRangeByIndexes(0, 0, 1, 1);
    assert.throws(() => range.values, { code: "PropertyNotLoaded" });
    range.load("values");
    assert.throws(() => range.values, { code: "PropertyNotLoaded" }, "loaded but not synced");
    await ctx.sync();
    assert.deepEqual(range.values, [["a"]]);
    assert.throws(() => range.formulas, { code: "PropertyNotLoaded" }, "another property");
  });
});

test("strings written through values are typed as Excel types them", async () => {
  const rows: [string, string, unknown, string, string][] = [
    // written, cell format, value read back, value type, format after
    ["abc", "General", "abc", "String", "General"],
    ["'=abc", "General", "=abc", "String", "General"],
    ["''x", "General", "'x", "String", "General"],
    ["=A1", "General", "#NAME?", "Error", "General"],
    ["-abc", "General", "#NAME?", "Error", "General"],
    ["-12", "General", -12, "Double", "General"],
    ["007", "General", 7, "Double", "General"],
    ["007", "@", "007", "String", "@"],
    ["=x", "@", "#NAME?", "Error", "@"],
    ["50%", "General", 0.5, "Double", "0%"],
    ["1/2/2007", "General", 39084, "Double", "m/d/yyyy"],
    ["19-8-2025", "General", "19-8-2025", "String", "General"],
    ["true", "General", true, "Boolean", "General"],
    ["", "0.00", "", "Empty", "0.00"],
  ];
  fake = installFakeExcel();
  for (const [written, format, value, type, after] of rows) {
    fake.setCell("Sheet1", 0, 0, { value: "old", numberFormat: format });
    await run(async (ctx) => {
      ctx.workbook.worksheets.getItem("Sheet1").getRangeByIndexes(0, 0, 1, 1).values = [[written]];
      await ctx.sync();
    });
    const cell = fake.cell("Sheet1", 0, 0);
    assert.deepEqual([cell.value, cell.valueType, cell.numberFormat], [value, type, after], `row ${written} in ${format}`);
  }
});

test("null leaves a cell, a shape mismatch is refused, formulas hide a text's apostrophe", async () => {
  fake = installFakeExcel();
  fake.setValues("Sheet1", 0, 0, [["a", "b"]]);
  fake.setCell("Sheet1", 1, 0, { value: "=x", quotePrefix: true });
  await run(async (ctx) => {
    const range = ctx.workbook.worksheets.getItem("Sheet1").getRangeByIndexes(0, 0, 1, 2);
    range.values = [[null, "B"]];
    await ctx.sync();
    assert.throws(() => { range.values = [["only one"]]; }, { code: "InvalidArgument" });
    const text = ctx.workbook.worksheets.getItem("Sheet1").getRangeByIndexes(1, 0, 1, 1).load("formulas,valueTypes");
    await ctx.sync();
    assert.deepEqual([text.formulas, text.valueTypes], [[["=x"]], [["String"]]]);
  });
  assert.deepEqual([fake.cell("Sheet1", 0, 0).value, fake.cell("Sheet1", 0, 1).value], ["a", "B"]);
});

test("requests over the limits fail whole and change nothing", async () => {
  fake = installFakeExcel();
  fake.setValues("Sheet1", 0, 0, [["keep"]]);
  const big = "x".repeat(6 * 1024 * 1024);
  await run(async (ctx) => {
    const sheet = ctx.workbook.worksheets.getItem("Sheet1");
    sheet.getRangeByIndexes(1, 0, 1, 1).values = [["first"]];
    sheet.getRangeByIndexes(0, 0, 1, 1).values = [[big]];
    await assert.rejects(ctx.sync(), { code: "RequestPayloadSizeLimitExceeded" });
    sheet.getRangeByIndexes(0, 0, 5000, 1001).load("values");
    await assert.rejects(ctx.sync(), { code: "RequestPayloadSizeLimitExceeded" }, "over 5,000,000 cells");
  });
  assert.equal(fake.cell("Sheet1", 0, 0).value, "keep");
  assert.equal(fake.cell("Sheet1", 1, 0).value, "", "nothing of a failed request is applied");
  assert.equal(fake.requests().length, 0);
});

test("payloads are weighed in UTF-8 bytes: each limit fails with its own error", async () => {
  // [name, the cell's text, written (or read), the error]
  const rows: [string, string, boolean, string | null][] = [
    ["4 MB of ASCII written", "a".repeat(4 << 20), true, null],
    ["1.8 M CJK characters written (5.4 MB)", "\u6f22".repeat(1_800_000), true, "RequestPayloadSizeLimitExceeded"],
    ["4 MB of ASCII read", "b".repeat(4 << 20), false, null],
    ["1.8 M CJK characters read", "\u6f22".repeat(1_800_000), false, "ResponsePayloadSizeLimitExceeded"],
    ["emoji: four bytes a pair", "\u{1F600}".repeat(1_400_000), false, "ResponsePayloadSizeLimitExceeded"],
  ];
  for (const [name, text, write, code] of rows) {
    fake = installFakeExcel();
    if (!write) fake.setValues("Sheet1", 0, 0, [[text]]);
    const sync = run(async (ctx) => {
      const range = ctx.workbook.worksheets.getItem("Sheet1").getRangeByIndexes(0, 0, 1, 1);
      if (write) range.values = [[text]];
      else range.load("values");
      await ctx.sync();
    });
    if (code === null) await sync;
    else await assert.rejects(sync, { code }, name);
    fake.uninstall();
  }
});

test("a failed request keeps what its commands before the failure did", async () => {
  // [name, how it fails, cells A1:C1 after]
  const rows: [string, (f: FakeExcelControl) => void, string | null, unknown[]][] = [
    ["the host fails after one command", (f) => f.failNextRequest("GeneralException", 1), "GeneralException", ["x", "b", "c"]],
    ["a locked cell refuses its command", (f) => f.protect("Sheet1", 0, 1), "AccessDenied", ["x", "b", "c"]],
    ["the user is editing a cell", (f) => f.beginCellEdit("Sheet1", 5, 5, "typing"), "InvalidOperationInCellEditMode", ["a", "b", "c"]],
  ];
  for (const [name, failure, code, after] of rows) {
    fake = installFakeExcel();
    fake.setValues("Sheet1", 0, 0, [["a", "b", "c"]]);
    failure(fake);
    await assert.rejects(run(async (ctx) => {
      const sheet = ctx.workbook.worksheets.getItem("Sheet1");
      sheet.getRangeByIndexes(0, 0, 1, 1).values = [["x"]];
      sheet.getRangeByIndexes(0, 1, 1, 1).values = [["y"]];
      sheet.getRangeByIndexes(0, 2, 1, 1).values = [["z"]];
      await ctx.sync();
    }), { code }, name);
    assert.deepEqual([0, 1, 2].map((c) => fake!.cell("Sheet1", 0, c).value), after, name);
    fake.uninstall();
  }
  // delayForCellEdit: the request waits for the user's Enter, and their text lands first.
  fake = installFakeExcel();
  fake.beginCellEdit("Sheet1", 0, 0, "typed");
  const seen = await Excel.run({ delayForCellEdit: true }, async (ctx) => {
    const range = ctx.workbook.worksheets.getItem("Sheet1").getRangeByIndexes(0, 0, 1, 1).load("values");
    await ctx.sync();
    return range.values[0]![0];
  });
  assert.equal(seen, "typed");
});

test("cell properties beyond fill and bold; copyFrom and clear reach what they cannot", async () => {
  fake = installFakeExcel();
  const look = { format: { font: { color: "#FF0000", italic: true }, borders: { top: { style: "Continuous" } } }, style: "Good" };
  fake.setCell("Sheet1", 0, 0, { value: 5, numberFormat: "0.0", fill: "#00FF00", look, validation: "list", conditionalFormat: "red if < 0", note: "checked" });
  const props = await run(async (ctx) => {
    const sheet = ctx.workbook.worksheets.getItem("Sheet1");
    const got = sheet.getRangeByIndexes(0, 0, 2, 1).getCellProperties({ format: { fill: { color: true }, font: { color: true, italic: true, name: true }, borders: { style: true } }, style: true });
    sheet.getRangeByIndexes(0, 3, 1, 1).copyFrom(sheet.getRangeByIndexes(0, 0, 1, 1), "All");
    sheet.getRangeByIndexes(1, 3, 1, 1).copyFrom(sheet.getRangeByIndexes(0, 0, 1, 1), "Values");
    sheet.getRangeByIndexes(0, 0, 1, 1).clear("All");
    await ctx.sync();
    return got.value;
  });
  assert.deepEqual(props, [
    [{ format: { fill: { color: "#00FF00" }, font: { color: "#FF0000", italic: true, name: "Calibri" }, borders: { top: { style: "Continuous" } } }, style: "Good" }],
    [{ format: { fill: { color: "#FFFFFF" }, font: { color: "#000000", italic: false, name: "Calibri" } }, style: "Normal" }],
  ]);
  const all = fake.cell("Sheet1", 0, 3), values = fake.cell("Sheet1", 1, 3), cleared = fake.cell("Sheet1", 0, 0);
  assert.deepEqual([all.value, all.numberFormat, all.fill, all.validation, all.conditionalFormat, all.note], [5, "0.0", "#00FF00", "list", "red if < 0", "checked"]);
  assert.deepEqual([values.value, values.numberFormat, values.validation], [5, "General", ""]);
  assert.deepEqual([cleared.value, cleared.numberFormat, cleared.fill, cleared.validation, cleared.note], ["", "General", "", "", ""]);
});

test("onChanged tells each change with its type, source, trigger and details", async () => {
  // [name, the change, what the handler hears]
  const rows: [string, (f: FakeExcelControl) => Promise<void>, Record<string, unknown>][] = [
    ["the add-in writes one cell", async () => {
      await run(async (ctx) => { ctx.workbook.worksheets.getItem("Sheet1").getRangeByIndexes(1, 0, 1, 1).values = [["n"]]; await ctx.sync(); });
    }, { address: "A2", changeType: "RangeEdited", source: "Local", triggerSource: "ThisLocalAddin", details: { valueBefore: "", valueAfter: "n", valueTypeBefore: "Empty", valueTypeAfter: "String" } }],
    ["the add-in writes a block", async () => {
      await run(async (ctx) => { ctx.workbook.worksheets.getItem("Sheet1").getRangeByIndexes(0, 0, 2, 1).values = [["p"], ["q"]]; await ctx.sync(); });
    }, { address: "A1:A2", changeType: "RangeEdited", triggerSource: "ThisLocalAddin", details: undefined }],
    ["a co-author types", async (f) => f.userEdit("Sheet1", 0, 0, { value: "co" }, "Remote"),
      { address: "A1", source: "Remote", triggerSource: "Unknown", details: { valueBefore: "a", valueAfter: "co", valueTypeBefore: "String", valueTypeAfter: "String" } }],
    ["rows inserted", async (f) => f.insertRows("Sheet1", 0, 2), { address: "1:2", changeType: "RowInserted", triggerSource: "Unknown" }],
    ["a column deleted", async (f) => f.deleteColumns("Sheet1", 2, 1), { address: "C:C", changeType: "ColumnDeleted" }],
  ];
  for (const [name, change, heard] of rows) {
    fake = installFakeExcel();
    fake.setValues("Sheet1", 0, 0, [["a"]]);
    const events: Record<string, unknown>[] = [];
    await run(async (ctx) => {
      ctx.workbook.worksheets.getItem("Sheet1").onChanged.add(async (e) => { events.push(e as unknown as Record<string, unknown>); });
      await ctx.sync();
    });
    await change(fake);
    assert.equal(events.length, 0, `${name}: told a task later, not at once`);
    await new Promise((resolve) => setTimeout(resolve, 0));
    assert.equal(events.length, 1, name);
    for (const [k, v] of Object.entries(heard)) assert.deepEqual(events[0]![k], v, `${name}: ${k}`);
    fake.uninstall();
  }
});

test("inserted and deleted rows and columns move the cells after them", async () => {
  // [name, the change, A1..A4 after, B1 after]
  const rows: [string, (f: FakeExcelControl) => void, unknown[], unknown][] = [
    ["a row inserted at the top", (f) => f.insertRows("Sheet1", 0, 1), ["", "r1", "r2", "r3"], ""],
    ["row 2 deleted", (f) => f.deleteRows("Sheet1", 1, 1), ["r1", "r3", "", ""], "b"],
    ["a column inserted before A", (f) => f.insertColumns("Sheet1", 0, 1), ["", "", "", ""], "r1"],
  ];
  for (const [name, change, column, b1] of rows) {
    fake = installFakeExcel();
    fake.setValues("Sheet1", 0, 0, [["r1", "b"], ["r2"], ["r3"]]);
    change(fake);
    assert.deepEqual([0, 1, 2, 3].map((r) => fake!.cell("Sheet1", r, 0).value), column, name);
    assert.equal(fake.cell("Sheet1", 0, 1).value, b1, name);
    fake.uninstall();
  }
});

test("a very hidden scratch sheet: added, hidden, deleted; special cells list the constants", async () => {
  fake = installFakeExcel();
  fake.setValues("Sheet1", 3, 1, [[1], [2]]);
  fake.setValues("Sheet1", 900000, 1, [["x"]]);
  fake.setCell("Sheet1", 4, 2, { formula: "=1", value: 1 });
  const addresses = await run(async (ctx) => {
    const scratch = ctx.workbook.worksheets.add("scratch");
    scratch.visibility = "VeryHidden";
    const constants = ctx.workbook.worksheets.getItem("Sheet1").getRangeByIndexes(0, 0, 1048576, 5).getSpecialCellsOrNullObject("Constants");
    constants.areas.load("items/address");
    await ctx.sync();
    return constants.areas.items.map((a) => a.address);
  });
  assert.deepEqual(addresses, ["Sheet1!B4:B5", "Sheet1!B900001"]);
  assert.deepEqual(fake.sheets(), [{ name: "Sheet1", visibility: "Visible" }, { name: "scratch", visibility: "VeryHidden" }]);
  assert.ok(fake.requests()[0]!.responseBytes < 1000, "the addresses, not the cells");
  await run(async (ctx) => {
    ctx.workbook.worksheets.getItem("scratch").delete();
    await ctx.sync();
  });
  assert.deepEqual(fake.sheets().map((s) => s.name), ["Sheet1"]);
});

test("undo steps: one per sync, one per run with mergeUndoGroup, which needs ExcelApi 1.20", async () => {
  const cases: [string, boolean, number][] = [
    ["1.20", false, 2],
    ["1.20", true, 1],
  ];
  for (const [api, merge, steps] of cases) {
    fake = installFakeExcel({ excelApi: api });
    fake.setValues("Sheet1", 0, 0, [["a"], ["b"]]);
    await Excel.run({ mergeUndoGroup: merge }, async (ctx) => {
      const sheet = ctx.workbook.worksheets.getItem("Sheet1");
      sheet.getRangeByIndexes(0, 0, 1, 1).values = [["A"]];
      await ctx.sync();
      sheet.getRangeByIndexes(1, 0, 1, 1).values = [["B"]];
      await ctx.sync();
    });
    assert.equal(fake.undoSteps(), steps, `merge ${merge}`);
    while (fake.undoSteps() > 0) fake.excelUndo();
    assert.deepEqual([fake.cell("Sheet1", 0, 0).value, fake.cell("Sheet1", 1, 0).value], ["a", "b"]);
    fake.uninstall();
  }
  fake = installFakeExcel({ excelApi: "1.19" });
  assert.equal(Office.context.requirements.isSetSupported("ExcelApi", "1.20"), false);
  assert.equal(Office.context.requirements.isSetSupported("ExcelApi", "1.9"), true);
  await assert.rejects(Excel.run({ mergeUndoGroup: true }, async () => 0), { code: "ApiNotFound" });
});

test("clear removes contents and formats, hidden rows too", async () => {
  fake = installFakeExcel();
  fake.setCell("Sheet1", 0, 0, { value: 5, numberFormat: "0.00" });
  fake.hideRow("Sheet1", 0);
  await run(async (ctx) => {
    ctx.workbook.worksheets.getItem("Sheet1").getRangeByIndexes(0, 0, 1, 1).clear("All");
    await ctx.sync();
  });
  const cell = fake.cell("Sheet1", 0, 0);
  assert.deepEqual([cell.value, cell.numberFormat, fake.rowHidden("Sheet1", 0)], ["", "General", true]);
});
