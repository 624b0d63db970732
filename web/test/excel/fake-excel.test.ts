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
  fake.setCell("Sheet1", 0, 0, { value: "y".repeat(3 * 1024 * 1024) });
  await run(async (ctx) => {
    ctx.workbook.worksheets.getItem("Sheet1").getRangeByIndexes(0, 0, 1, 1).load("values,formulas");
    await assert.rejects(ctx.sync(), { code: "RequestPayloadSizeLimitExceeded" }, "a response over 5 MB");
  });
  assert.equal(fake.requests().length, 0);
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
