// The real task pane (web/dist, built with QMV_WEB_TEST=1) in headless Chromium against the
// strict fake of Excel: each removal through the page's own controls, the preview, Stop,
// Undo both ways, refusals.
import assert from "node:assert/strict";
import { readFile } from "node:fs/promises";
import { createServer, type Server } from "node:http";
import { extname, join, normalize } from "node:path";
import { after, before, test } from "node:test";

import puppeteer, { type Browser, type Page } from "puppeteer-core";

import type { FakeExcelControl, FakeValue } from "../fake-excel/fake-excel.js";

const dist = process.env.QMV_WEB_DIST ?? "";
const TYPES: Record<string, string> = {
  ".html": "text/html", ".js": "text/javascript", ".mjs": "text/javascript",
  ".css": "text/css", ".wasm": "application/wasm", ".png": "image/png", ".json": "application/json",
};

let server: Server;
let base = "";
let browser: Browser;

before(async () => {
  assert.ok(dist, "QMV_WEB_DIST names the built folder (web/test/pane/test.sh)");
  server = createServer((request, response) => {
    const path = normalize(decodeURIComponent(new URL(request.url ?? "/", "http://x").pathname));
    readFile(join(dist, path)).then(
      (body) => response.writeHead(200, { "content-type": TYPES[extname(path)] ?? "application/octet-stream" }).end(body),
      () => response.writeHead(404).end(),
    );
  });
  await new Promise<void>((resolve) => server.listen(0, "127.0.0.1", resolve));
  const address = server.address();
  assert.ok(address && typeof address === "object");
  base = `http://127.0.0.1:${address.port}`;
  browser = await puppeteer.launch({
    executablePath: process.env.QMV_CHROMIUM ?? "/usr/bin/chromium",
    args: ["--no-sandbox", "--headless=new"],
  });
});

after(async () => {
  await browser?.close();
  server?.close();
});

interface Fake {
  page: Page;
  call<T>(fn: (fake: FakeExcelControl) => T): Promise<T>;
}

async function openPane(excelApi = "1.20"): Promise<Fake> {
  const page = await browser.newPage();
  await page.setViewport({ width: 320, height: 800 });
  const errors: string[] = [];
  page.on("pageerror", (e) => errors.push(String(e)));
  await page.goto(`${base}/test-taskpane.html?excelApi=${excelApi}`);
  await page.waitForSelector("#form:not([hidden])", { timeout: 30000 });
  assert.deepEqual(errors, []);
  return {
    page,
    call: <T>(fn: (fake: FakeExcelControl) => T) =>
      page.evaluate((source: string) => {
        const fake = (window as unknown as { qmvFake: FakeExcelControl }).qmvFake;
        return (0, eval)(`(${source})`)(fake) as T;
      }, fn.toString()) as Promise<T>,
  };
}

async function column(fake: Fake, values: FakeValue[], numberFormat = "General"): Promise<void> {
  await fake.call(new Function("fake", `
    ${JSON.stringify(values)}.forEach((value, row) => fake.setCell("Sheet1", row, 0, { value, numberFormat: ${JSON.stringify(numberFormat)} }));
    fake.select("Sheet1", [{ row: 0, column: 0, rows: ${values.length}, columns: 1 }]);`) as (f: FakeExcelControl) => void);
}

async function cells(fake: Fake, count: number): Promise<FakeValue[]> {
  return fake.call(new Function("fake", `
    return Array.from({ length: ${count} }, (_, row) => fake.cell("Sheet1", row, 0).value);`) as (f: FakeExcelControl) => FakeValue[]);
}

async function choose(page: Page, code: string, fields: Record<string, string | boolean>): Promise<void> {
  await page.select("#removal", code);
  for (const [id, value] of Object.entries(fields)) {
    if (typeof value === "boolean") {
      const checked = await page.$eval(`#${id}`, (box) => (box as HTMLInputElement).checked);
      if (checked !== value) await page.click(`#${id}`);
    } else {
      await page.$eval(`#${id}`, (box, v) => {
        (box as HTMLInputElement).value = v;
        box.dispatchEvent(new Event("input", { bubbles: true }));
      }, value);
    }
  }
}

async function run(page: Page): Promise<string> {
  await page.click("#run");
  await page.waitForFunction(() => document.getElementById("app")?.getAttribute("aria-busy") === "false" &&
    !(document.getElementById("run") as HTMLButtonElement).hidden);
  return page.$eval("#message", (p) => p.textContent ?? "");
}

test("every kind of removal through the pane's own controls", async () => {
  const rows: { name: string; code: string; fields: Record<string, string | boolean>; before: FakeValue[]; after: FakeValue[]; format?: string }[] = [
    { name: "digits", code: "RNUM", fields: {}, before: ["a1b2", "x", "7z"], after: ["ab", "x", "z"] },
    { name: "your characters", code: "RUDC", fields: { characters: "-()" }, before: ["(0161) 496-0000"], after: ["0161 4960000"] },
    { name: "a text, any case", code: "RTXT", fields: { text: "b", matchCase: false }, before: ["AbBa"], after: ["Aa"] },
    { name: "a pattern", code: "RPAT", fields: { pattern: "[0-9]+", matchCase: true }, before: ["x12y3"], after: ["xy"] },
    { name: "between delimiters", code: "RBTW", fields: { opening: "[", closing: "]" }, before: ["a[b]c"], after: ["ac"] },
    { name: "keep digits in a Text column", code: "RNDG", fields: {}, before: ["(0161) 496-0000"], after: ["01614960000"], format: "@" },
    { name: "first characters", code: "RFNC", fields: { charCount: "2" }, before: ["abcd"], after: ["cd"] },
    { name: "duplicates, keeping the first", code: "RDPV", fields: {}, before: ["a", "b", "A", "c"], after: ["a", "b", "", "c"] },
  ];
  for (const row of rows) {
    const fake = await openPane();
    await column(fake, row.before, row.format);
    await choose(fake.page, row.code, row.fields);
    await fake.page.waitForFunction(() => (document.getElementById("preview")?.textContent ?? "") !== "");
    const preview = await fake.page.$eval("#preview", (p) => p.textContent ?? "");
    assert.match(preview, /would (change|be cleared)/, row.name);
    await run(fake.page);
    assert.deepEqual(await cells(fake, row.before.length), row.after, row.name);
    await fake.page.close();
  }
});

test("a bad pattern is told and nothing changes; an empty selection is refused", async () => {
  const fake = await openPane();
  await column(fake, ["a1"]);
  await choose(fake.page, "RPAT", { pattern: "(a" });
  const message = await run(fake.page);
  assert.match(message, /pattern is not valid/);
  assert.deepEqual(await cells(fake, 1), ["a1"]);
  await column(fake, [""]);
  await choose(fake.page, "RNUM", {});
  assert.equal(await run(fake.page), "Selection is Empty!");
  await fake.page.close();
});

test("Stop leaves the cells done; undo through Excel's list or the pane's button", async () => {
  for (const excelApi of ["1.20", "1.9"]) {
    const fake = await openPane(excelApi);
    const count = 30000;
    await column(fake, Array.from({ length: count }, (_, i) => `row ${i}`));
    // Stop is pressed while the second request is answered.
    await fake.call(new Function("fake", `let n = 0; fake.onSync(() => { if (++n === 3) document.getElementById("stop").click(); });`) as (f: FakeExcelControl) => void);
    await choose(fake.page, "RNUM", {});
    await run(fake.page);
    const stopped = await cells(fake, count);
    const done = stopped.filter((v) => v === "row ").length;
    assert.ok(done > 0 && done < count, `${excelApi}: ${done} of ${count} cells done before Stop`);
    assert.deepEqual(stopped.slice(0, done), Array(done).fill("row "), excelApi);
    await fake.call(new Function("fake", "fake.onSync(null);") as (f: FakeExcelControl) => void);
    const undoShown = await fake.page.$eval("#undo", (b) => !(b as HTMLButtonElement).hidden);
    assert.equal(undoShown, excelApi === "1.9", excelApi);
    if (undoShown) {
      await fake.page.click("#undo");
      await fake.page.waitForFunction(() => document.getElementById("app")?.getAttribute("aria-busy") === "false");
    } else {
      await fake.call(new Function("fake", "fake.excelUndo();") as (f: FakeExcelControl) => void);
    }
    const restored = await cells(fake, count);
    assert.deepEqual(restored.slice(0, 3), ["row 0", "row 1", "row 2"], excelApi);
    assert.equal(restored.filter((v) => v === "row ").length, 0, excelApi);
    await fake.page.close();
  }
});

test("every removal of the table, through the pane, gives the cells the engine's rule gives", async () => {
  // One column of awkward cells; each removal is chosen in the pane with the same inputs, run,
  // and the cells compared with what the engine's own rule says for them (en-US).
  const before: FakeValue[] = ["a1b2", "(0161) 496-0000", "AbBa [x] c", "x12y3", "  é  ", "Straße 7", "x\u0007y", "one\ntwo", "7", "a", "A", "12", "12"];
  const fields: Record<string, string | boolean> = {
    characters: "-()", text: "b", matchCase: false, pattern: "[0-9]+", opening: "[", closing: "]",
    startPosition: "4", charCount: "2", unicode: true,
  };
  const fake = await openPane();
  const codes = await fake.page.evaluate(() =>
    (window as unknown as { qmvEngine: { operations(): { code: string }[] } }).qmvEngine.operations().map((op) => op.code));
  assert.ok(codes.length >= 20, `${codes.length} removals listed`);
  for (const code of codes) {
    await column(fake, before);
    await choose(fake.page, code, {});
    for (const [id, value] of Object.entries(fields)) {
      const shown = await fake.page.$eval(`#${id}`, (box) => (box as HTMLElement).offsetParent !== null);
      if (shown) await choose(fake.page, code, { [id]: value });
    }
    const expected = await fake.page.evaluate((cells: FakeValue[]) => {
      const w = window as unknown as {
        qmvPane: { request(): { code: string; inputs: object } };
        qmvEngine: {
          operations(): { code: string; kind: string }[];
          ruleOverBlock(c: string, i: object, l: object, cells: object[]): { index: number; outcome: string; write?: { value: FakeValue } }[];
          valueClears(c: string, l: object, cells: object[]): boolean[];
        };
      };
      const { code: chosen, inputs } = w.qmvPane.request();
      const locale = { decimalSeparator: ".", thousandsSeparator: ",", dateOrder: "MDY", dateSeparator: "/", timeSeparator: ":", currentYear: new Date().getFullYear() };
      const block = cells.map((value) => ({ value, formula: value, numberFormat: "General", valueType: typeof value === "number" ? "Double" : "String" }));
      const after = [...cells];
      if (w.qmvEngine.operations().find((op) => op.code === chosen)?.kind === "value") {
        w.qmvEngine.valueClears(chosen, locale, block).forEach((clear, i) => { if (clear) after[i] = ""; });
      } else {
        for (const result of w.qmvEngine.ruleOverBlock(chosen, inputs, locale, block)) {
          if (result.outcome === "changed" && result.write) after[result.index] = result.write.value;
        }
      }
      return { chosen, after };
    }, before);
    assert.equal(expected.chosen, code);
    await run(fake.page);
    assert.deepEqual(await cells(fake, before.length), expected.after, code);
    assert.notDeepEqual(expected.after, before, `${code} changes something in the column`);
  }
  await fake.page.close();
});
