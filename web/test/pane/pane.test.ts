// The real task pane (web/dist, built with QMV_WEB_TEST=1) in headless Chromium against the
// strict fake of Excel: each removal through the page's own controls, the preview, Stop,
// Undo both ways, refusals.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { mkdir, mkdtemp, readdir, readFile, writeFile } from "node:fs/promises";
import { createServer, type Server } from "node:http";
import { tmpdir } from "node:os";
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

async function openPane(excelApi = "1.20", platform = ""): Promise<Fake> {
  const page = await browser.newPage();
  await page.setViewport({ width: 320, height: 800 });
  const errors: string[] = [];
  page.on("pageerror", (e) => errors.push(String(e)));
  await page.goto(`${base}/test-taskpane.html?excelApi=${excelApi}${platform}`);
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

/** Clicks a button where it is when clicked: a preview line arriving above it moves it, and a
 *  click at the place it was would miss. */
async function press(page: Page, selector: string): Promise<void> {
  await page.$eval(selector, (button) => (button as HTMLButtonElement).click());
}

async function run(page: Page): Promise<string> {
  await press(page, "#run");
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
    // Long enough texts that the column takes several chunks.
    const count = 100000;
    const pad = "abcdefghij".repeat(10);
    const before = Array.from({ length: count }, (_, i) => `row ${i} ${pad}`);
    const cleaned = `row  ${pad}`;
    await column(fake, before);
    // Stop is pressed at the first request after a chunk's results are in the cells, whatever
    // the preview's requests and the machine's load did before: told by the cells themselves,
    // not by counting requests. The request already under way may still write its chunk.
    await fake.call(new Function("fake", `let pressed = false; fake.onSync(() => {
      if (!pressed && fake.cell("Sheet1", 0, 0).value === ${JSON.stringify(cleaned)}) {
        pressed = true; document.getElementById("stop").click(); } });`) as (f: FakeExcelControl) => void);
    await choose(fake.page, "RNUM", {});
    await run(fake.page);
    const stopped = await cells(fake, count);
    const done = stopped.filter((v) => v === cleaned).length;
    assert.ok(done > 0 && done < count, `${excelApi}: ${done} of ${count} cells done before Stop`);
    assert.deepEqual(stopped.slice(0, done), Array(done).fill(cleaned), excelApi);
    assert.deepEqual(stopped.slice(done), before.slice(done), excelApi);
    await fake.call(new Function("fake", "fake.onSync(null);") as (f: FakeExcelControl) => void);
    const undoShown = await fake.page.$eval("#undo", (b) => !(b as HTMLButtonElement).hidden);
    assert.equal(undoShown, excelApi === "1.9", excelApi);
    if (undoShown) {
      await press(fake.page, "#undo");
      await fake.page.waitForFunction(() => document.getElementById("app")?.getAttribute("aria-busy") === "false");
    } else {
      await fake.call(new Function("fake", "fake.excelUndo();") as (f: FakeExcelControl) => void);
    }
    assert.deepEqual(await cells(fake, count), before, excelApi);
    await fake.page.close();
  }
});

test("every removal of the table, through the pane, gives the cells the engine's rule gives", async () => {
  // One column of awkward cells; each removal is chosen in the pane with the same inputs, run,
  // and the cells compared with what the engine's own rule says for them (en-US).
  const before: FakeValue[] = ["a1b2", "(0161) 496-0000", "AbBa [x] c", "x12y3", "  é  ", "Straße 7", "x\u0007y", "one\ntwo", "7", "a", "A", "12", "12",
    "ok \u{1F44D}\u{1F3FD}", "\uff11\uff12", "Num\u00c3\u00a9ro"];
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

test("awkward cells come back exactly after run and Undo, on a 1.19 host and a 1.20 host", async () => {
  // Each text holds a "#" (a text, whatever it starts with), removed by "Your characters" with
  // the 6 of the number;
  // [name, the cell before, what the run leaves: value, type, number format]
  const year = new Date().getFullYear();
  const serial = (y: number, m: number, d: number) => (Date.UTC(y, m - 1, d) - Date.UTC(1899, 11, 30)) / 86400000;
  const rows: [string, { value: FakeValue; numberFormat?: string }, [FakeValue, string, string]][] = [
    ["minus and a word", { value: "-5 apples#" }, ["-5 apples", "String", "General"]],
    ["plus and a word", { value: "+1 y#" }, ["+1 y", "String", "General"]],
    ["an equals sign", { value: "=x#" }, ["=x", "String", "General"]],
    ["an apostrophe of its own", { value: "'007#" }, ["'007", "String", "General"]],
    ["leading zeros", { value: "007#" }, [7, "Double", "General"]],
    ["leading zeros in a Text cell", { value: "007#", numberFormat: "@" }, ["007", "String", "@"]],
    // The engine types the ISO form as the text it reads as (only a real Excel can say
    // whether Excel would make a date of it).
    ["ISO date", { value: "2025-08-19#" }, ["2025-08-19", "String", "General"]],
    ["day and month", { value: "1/2#" }, [serial(year, 1, 2), "Double", "d-mmm"]],
    ["a date", { value: "3/5/2024#" }, [serial(2024, 3, 5), "Double", "m/d/yyyy"]],
    ["a time", { value: "1:30#" }, [0.0625, "Double", "h:mm"]],
    ["a date and time", { value: "3/5/2024 13:45#" }, [serial(2024, 3, 5) + 13.75 / 24, "Double", "m/d/yyyy h:mm"]],
    ["TRUE", { value: "TRUE#" }, [true, "Boolean", "General"]],
    ["a percentage", { value: "12%#" }, [0.12, "Double", "0%"]],
    ["dollars", { value: "$1,234.50#" }, [1234.5, "Double", '"$"#,##0.00']],
    // Typing keeps 15 significant digits, as Excel's entry does; Undo gives back all 17.
    ["17 significant digits typed", { value: "0.30000000000000004#" }, [0.3, "Double", "General"]],
    ["a number of 17 significant digits", { value: 1234567.8901234567, numberFormat: "0.0000" }, [123457.8901, "Double", "0.0000"]],
    ["CJK", { value: "\u6f22\u5b57#\u304b\u306a" }, ["\u6f22\u5b57\u304b\u306a", "String", "General"]],
    ["32,767 characters", { value: "q".repeat(32766) + "#" }, ["q".repeat(32766), "String", "General"]],
  ];
  for (const excelApi of ["1.19", "1.20"]) {
    const fake = await openPane(excelApi);
    await fake.call(new Function("fake", `
      ${JSON.stringify(rows.map((r) => r[1]))}.forEach((cell, row) => fake.setCell("Sheet1", row, 0, cell));
      fake.select("Sheet1", [{ row: 0, column: 0, rows: ${rows.length}, columns: 1 }]);`) as (f: FakeExcelControl) => void);
    const snapshot = () => fake.call(new Function("fake", `
      return Array.from({ length: ${rows.length} }, (_, row) => { const c = fake.cell("Sheet1", row, 0); return [c.value, c.formula, c.valueType, c.numberFormat]; });`) as (f: FakeExcelControl) => [FakeValue, string, string, string][]);
    const before = await snapshot();
    await choose(fake.page, "RUDC", { characters: "#6" });
    await run(fake.page);
    const after = await snapshot();
    rows.forEach(([name, , [value, type, format]], i) => {
      const [v, f, t, nf] = after[i]!;
      const close = typeof v === "number" && typeof value === "number" && Math.abs(v - value) < 1e-9 * Math.max(1, Math.abs(value));
      assert.deepEqual([close ? value : v, f, t, nf], [value, "", type, format], `${excelApi} run: ${name}`);
    });
    if (excelApi === "1.19") {
      await press(fake.page, "#undo");
      await fake.page.waitForFunction(() => document.getElementById("app")?.getAttribute("aria-busy") === "false");
    } else {
      await fake.call(new Function("fake", "fake.excelUndo();") as (f: FakeExcelControl) => void);
    }
    const undone = await snapshot();
    rows.forEach(([name], i) => assert.deepEqual(undone[i], before[i], `${excelApi} undo: ${name}`));
    await fake.page.close();
  }
});

test("Inspect characters lists the active cell's invisible and non-ASCII characters", async () => {
  // [name, ExcelApi, the active cell's text (the selection's last area), the lines shown; null: no button]
  const rows: [string, string, FakeValue, string[] | null][] = [
    ["a no-break space, a zero-width space, look-alike and accented letters", "1.20", "a\u00a0b\u200bc\uff11\u00e9", [
      "2  U+00A0  NO-BREAK SPACE  -> Remove all Spaces in Selection (Unicode text)",
      "4  U+200B  ZERO WIDTH SPACE  -> Remove Non-Printable Characters in Selection (Unicode text)",
      "6  U+FF11  FULLWIDTH DIGIT ONE  -> Look-alike Characters",
      "7  U+00E9  LATIN SMALL LETTER E WITH ACUTE  -> Accents",
    ]],
    ["plain text", "1.7", "plain", ["No invisible or non-ASCII characters."]],
    ["a number", "1.20", 12.5, ["No invisible or non-ASCII characters."]],
    ["a host without the active cell", "1.6", "a\u00a0b", null],
  ];
  for (const [name, excelApi, active, lines] of rows) {
    const fake = await openPane(excelApi);
    await fake.call(new Function("fake", `
      fake.setCell("Sheet1", 0, 0, { value: "x\u00a0" });
      fake.setCell("Sheet1", 2, 2, { value: ${JSON.stringify(active)} });
      fake.select("Sheet1", [{ row: 0, column: 0, rows: 1, columns: 1 }, { row: 2, column: 2, rows: 2, columns: 2 }]);`) as (f: FakeExcelControl) => void);
    const shown = await fake.page.$eval("#inspect", (b) => !(b as HTMLButtonElement).hidden);
    assert.equal(shown, lines !== null, name);
    if (lines !== null) {
      await press(fake.page, "#inspect");
      await fake.page.waitForSelector("#inspection:not([hidden]) li");
      const got = await fake.page.$$eval("#inspection li", (items) => items.map((li) => li.textContent ?? ""));
      assert.deepEqual(got, lines, name);
    }
    await fake.page.close();
  }
});

test("the pattern's Match case opens ticked; the text's opens unticked", async () => {
  const fake = await openPane();
  // [removal, inputs, before, after]
  const rows: [string, Record<string, string>, FakeValue[], FakeValue[]][] = [
    ["RPAT", { pattern: "a" }, ["aA"], ["A"]],
    ["RTXT", { text: "a" }, ["aA"], [""]],
  ];
  for (const [code, fields, before, after] of rows) {
    await column(fake, before);
    await choose(fake.page, code, fields);
    await run(fake.page);
    assert.deepEqual(await cells(fake, before.length), after, code);
  }
  await fake.page.close();
});

test("every caption fits the pane's 320 pixels", async () => {
  const fake = await openPane();
  const cut = await fake.page.evaluate(() => {
    const select = document.getElementById("removal") as HTMLSelectElement;
    const probe = document.createElement("span");
    probe.style.cssText = `position:absolute;white-space:nowrap;font:${getComputedStyle(select).font}`;
    document.body.append(probe);
    const room = select.getBoundingClientRect().width - 24; // the arrow and the padding
    const over: string[] = [];
    for (const option of Array.from(select.options)) {
      probe.textContent = option.textContent;
      if (probe.getBoundingClientRect().width > room) over.push(option.textContent ?? "");
    }
    const caption = document.getElementById("caption")!;
    if (caption.scrollWidth > caption.clientWidth) over.push(`the caption ${caption.textContent}`);
    // The recipes' part, open: no control reaches past the pane.
    (document.getElementById("recipes") as HTMLDetailsElement).open = true;
    const pane = document.getElementById("app")!.getBoundingClientRect().right;
    for (const control of Array.from(document.querySelectorAll("#recipes button, #recipes input, #recipes select, #recipes summary"))) {
      if (control.getBoundingClientRect().right > pane || control.scrollWidth > control.clientWidth + 1) over.push(`#${control.id || control.tagName}`);
    }
    if (document.documentElement.scrollWidth > 320) over.push(`the page is ${document.documentElement.scrollWidth}px wide`);
    return { over, room };
  });
  assert.deepEqual(cut.over, [], `room ${cut.room}px`);
  await fake.page.close();
});

test("a support page and a privacy statement ship, and both manifests link to them, not to the pane", async () => {
  const xml = await readFile(join(dist, "manifest.xml"), "utf8");
  const json = JSON.parse(await readFile(join(dist, "manifest.json"), "utf8")) as { developer: Record<string, string> };
  // [where, the link, the page it must lead to]
  const rows: [string, string, string][] = [
    ["manifest.xml SupportUrl", /<SupportUrl DefaultValue="([^"]+)"/.exec(xml)?.[1] ?? "", "support.html"],
    ["manifest.json websiteUrl", json.developer.websiteUrl ?? "", "support.html"],
    ["manifest.json privacyUrl", json.developer.privacyUrl ?? "", "privacy.html"],
    ["manifest.json termsOfUseUrl", json.developer.termsOfUseUrl ?? "", "support.html"],
  ];
  for (const [where, link, page] of rows) {
    assert.equal(new URL(link).pathname.split("/").pop(), page, where);
    const response = await fetch(`${base}/${page}`);
    assert.equal(response.status, 200, `${where}: ${page} is in the folder`);
    assert.match(await response.text(), /<h1>Vandrel QMV: (support|privacy statement)<\/h1>/, where);
  }
  assert.doesNotMatch(xml, /<AppDomain>/, "no AppDomain repeats the add-in's own origin");
});

// The recipes' part of the pane: steps chosen, saved, run as one run, exported and imported.

async function openRecipes(page: Page): Promise<void> {
  await page.waitForSelector("#recipes[data-ready]");
  await page.$eval("#recipes", (d) => ((d as HTMLDetailsElement).open = true));
}

async function saveRecipe(page: Page, name: string, steps: [string, Record<string, string | boolean>][]): Promise<string> {
  await openRecipes(page);
  for (const [code, fields] of steps) {
    await choose(page, code, fields);
    await press(page, "#addStep");
  }
  await choose(page, steps[0]![0], { recipeName: name, recipeDescription: `${steps.length} steps` });
  await page.focus("#recipeDescription");
  await page.keyboard.press("Enter"); // in the description: saves, and runs nothing
  await page.waitForFunction(() => /recipe|name|step/i.test(document.getElementById("message")?.textContent ?? ""));
  return page.$eval("#message", (p) => p.textContent ?? "");
}

const savedNames = (page: Page) => page.$$eval("#savedRecipe option", (o) => o.map((x) => x.textContent ?? ""));

async function runRecipe(page: Page): Promise<string> {
  await press(page, "#runRecipe");
  await page.waitForFunction(() => document.getElementById("app")?.getAttribute("aria-busy") === "false" &&
    !(document.getElementById("run") as HTMLButtonElement).hidden);
  return page.$eval("#message", (p) => p.textContent ?? "");
}

async function grid(fake: Fake, rows: number, columns: number): Promise<FakeValue[][]> {
  return fake.call(new Function("fake", `
    return Array.from({ length: ${rows} }, (_, r) => Array.from({ length: ${columns} }, (_, c) => fake.cell("Sheet1", r, c).value));`) as (f: FakeExcelControl) => FakeValue[][]);
}

// The cells hold no comma, quote or line break: CSV's fields are then the texts themselves.
const csvLines = (rows: string[][]) => rows.map((r) => r.join(",") + "\r\n").join("");
const csvCells = (text: string) => text.split("\r\n").filter((l) => l !== "").map((l) => l.split(","));

/** The shown recipe exported: the file the browser downloads into `folder`. */
async function exportRecipe(fake: Fake, folder: string, name: string): Promise<string> {
  const session = await fake.page.createCDPSession();
  await session.send("Page.setDownloadBehavior", { behavior: "allow", downloadPath: folder });
  await press(fake.page, "#exportRecipe");
  for (let i = 0; i < 100 && !(await readdir(folder)).includes(name); ++i) await new Promise((r) => setTimeout(r, 100));
  return join(folder, name);
}

test("a recipe saved in the pane runs in qmv over a folder and gives the cells the pane gave", async () => {
  const qmv = process.env.QMV_BIN ?? "";
  assert.ok(qmv, "QMV_BIN names the qmv program (web/test/pane/test.sh)");
  const before: string[][] = [
    ["  José   Núñez ", "tel. 212-555-0147"],
    ["Zoë  Ådams", "617-555-0199 EXT. 12"],
    ["Plain", "0161 496 0733"],
    ["  Łódź\u00a0Street  ", "tel. 2125550147"],
    ["Crème brûlée", "ext. 9"],
    ["", "TEL. 020 7946 0018 ext.3"],
  ];
  const fake = await openPane("1.19");
  await fake.call(new Function("fake", `
    ${JSON.stringify(before)}.forEach((row, r) => row.forEach((value, c) => fake.setCell("Sheet1", r, c, { value })));
    fake.select("Sheet1", [{ row: 0, column: 0, rows: ${before.length}, columns: 2 }]);`) as (f: FakeExcelControl) => void);
  const saved = await saveRecipe(fake.page, "Tidy names and phones", [
    ["RLTE", { unicode: true }],
    ["RACC", { unicode: true }],
    ["RTXT", { text: "tel. ", matchCase: false, unicode: true }],
    ["RPAT", { pattern: "\\s*ext\\.\\s*\\d+$", matchCase: false, unicode: true }],
  ]);
  assert.equal(saved, 'Saved the recipe "Tidy names and phones".');
  // One question and one preview of the whole chain.
  assert.equal(await fake.page.$eval("#question", (p) => p.textContent), 'Run the recipe "Tidy names and phones" (4 steps: RLTE, RACC, RTXT, RPAT)?');
  await fake.page.waitForFunction(() => /^9 cells would change: "  José   Núñez " -> "Jose Nunez"/.test(document.getElementById("preview")?.textContent ?? ""));
  const folder = await mkdtemp(join(tmpdir(), "qmv-pane-recipe-"));
  const file = await exportRecipe(fake, folder, "tidy-names-and-phones.json");
  assert.equal((JSON.parse(await readFile(file, "utf8")) as { steps: object[] }).steps.length, 4);
  // One run, then one Undo that brings back every cell.
  assert.equal(await runRecipe(fake.page), "");
  const after = await grid(fake, before.length, 2);
  assert.notDeepEqual(after, before);
  await press(fake.page, "#undo");
  await fake.page.waitForFunction(() => document.getElementById("app")?.getAttribute("aria-busy") === "false");
  assert.deepEqual(await grid(fake, before.length, 2), before, "one Undo brings back every cell");
  await fake.page.close();
  // The same starting cells as a folder of two CSV files, through qmv.
  const input = join(folder, "in");
  await mkdir(input);
  const half = before.length / 2;
  await writeFile(join(input, "a.csv"), csvLines(before.slice(0, half)));
  await writeFile(join(input, "b.csv"), csvLines(before.slice(half)));
  const qmvRun = spawnSync(qmv, ["apply", "--recipe", file, input, "-o", join(folder, "out"), "--no-header", "-q"], { encoding: "utf8" });
  assert.equal(qmvRun.status, 0, qmvRun.stderr);
  const files = [...csvCells(await readFile(join(folder, "out", "a.csv"), "utf8")), ...csvCells(await readFile(join(folder, "out", "b.csv"), "utf8"))];
  after.forEach((row, r) => row.forEach((value, c) => assert.equal(files[r]?.[c], String(value), `row ${r + 1}, column ${c + 1}`)));
});

test("a recipe that ends by clearing values: one column, one preview, one run, one Undo, the cells qmv gives", async () => {
  const qmv = process.env.QMV_BIN ?? "";
  // Column A before, and what the chain leaves: "x" taken off, the figures typed as Excel
  // types them, the names tidied; then each value kept once, as the steps left them.
  const before: FakeValue[] = ["x50%", "x50%", "  José  Núñez ", "Jose Nunez", "Zoë", 7, "x7", ""];
  const after: FakeValue[] = [0.5, "", "Jose Nunez", "", "Zoe", 7, "", ""];
  for (const excelApi of ["1.19", "1.20"]) {
    const fake = await openPane(excelApi);
    await fake.call(new Function("fake", `
      ${JSON.stringify(before)}.forEach((value, row) => { fake.setCell("Sheet1", row, 0, { value }); fake.setCell("Sheet1", row, 1, { value: "b" }); });
      fake.select("Sheet1", [{ row: 0, column: 0, rows: ${before.length}, columns: 2 }]);`) as (f: FakeExcelControl) => void);
    const snapshot = () => fake.call(new Function("fake", `
      return Array.from({ length: ${before.length} }, (_, row) => [0, 1].map((column) => { const c = fake.cell("Sheet1", row, column); return [c.value, c.formula, c.valueType, c.numberFormat]; }));`) as (f: FakeExcelControl) => [FakeValue, string, string, string][][]);
    const start = await snapshot();
    assert.equal(await saveRecipe(fake.page, "Figures once", [["RTXT", { text: "x", matchCase: false }], ["RLTE", {}], ["RACC", {}], ["RDPV", {}]]), 'Saved the recipe "Figures once".', excelApi);
    // Over two columns: refused before anything changes, in the preview and in the run.
    await fake.page.waitForFunction(() => /Single Column/.test(document.getElementById("preview")?.textContent ?? ""));
    assert.equal(await runRecipe(fake.page), "Please Select Single Column!", excelApi);
    assert.deepEqual(await snapshot(), start, `${excelApi}: nothing changes over two columns`);
    await fake.call(new Function("fake", `fake.select("Sheet1", [{ row: 0, column: 0, rows: ${before.length}, columns: 1 }]);`) as (f: FakeExcelControl) => void);
    await fake.page.$eval("#recipeDescription", (box) => box.dispatchEvent(new Event("input", { bubbles: true })));
    await fake.page.waitForFunction(() => /clears values among the results$/.test(document.getElementById("preview")?.textContent ?? ""));
    assert.match(await fake.page.$eval("#preview", (p) => p.textContent ?? ""), /^5 cells would change: .*; then RDPV clears values among the results$/, excelApi);
    assert.equal(await runRecipe(fake.page), "", excelApi);
    const ran = await snapshot();
    assert.deepEqual(ran.map((r) => r[0]![0]), after, `${excelApi} run`);
    assert.deepEqual(ran.map((r) => r[0]![3]), ["0%", "General", "General", "General", "General", "General", "General", "General"], `${excelApi} run's formats`);
    assert.deepEqual(ran.map((r) => r[1]), start.map((r) => r[1]), `${excelApi}: column B untouched`);
    if (excelApi === "1.19") {
      await press(fake.page, "#undo");
      await fake.page.waitForFunction(() => document.getElementById("app")?.getAttribute("aria-busy") === "false");
      assert.equal(await fake.page.$eval("#message", (p) => p.textContent), "", excelApi);
    } else {
      await fake.call(new Function("fake", "fake.excelUndo();") as (f: FakeExcelControl) => void);
    }
    assert.deepEqual(await snapshot(), start, `${excelApi}: one Undo brings back every cell and format`);
    if (excelApi === "1.19") {
      // The same recipe through qmv over the column as a CSV file: the same cells cleared, and
      // each field the text the steps left (a CSV field is not typed).
      const folder = await mkdtemp(join(tmpdir(), "qmv-pane-values-"));
      const file = await exportRecipe(fake, folder, "figures-once.json");
      await writeFile(join(folder, "in.csv"), before.map((v) => `${v}\r\n`).join(""));
      const qmvRun = spawnSync(qmv, ["apply", "--recipe", file, join(folder, "in.csv"), "-o", join(folder, "out.csv"), "-c", "A", "--no-header", "-q"], { encoding: "utf8" });
      assert.equal(qmvRun.status, 0, qmvRun.stderr);
      assert.deepEqual((await readFile(join(folder, "out.csv"), "utf8")).split("\r\n").slice(0, before.length), after.map((v) => (v === 0.5 ? "50%" : String(v))));
    }
    await fake.page.close();
  }
});

test("recipes are kept in the platform's storage, across panes, each partition its own", async () => {
  // [name, the page's platform, what is done, the message, whether the recipe is listed after]
  const rows: [string, string, (f: Fake) => Promise<void>, RegExp, boolean][] = [
    ["localStorage, partitioned", "&partitionKey=p1", async () => {}, /^Saved the recipe "Digits"\.$/, true],
    ["a shared runtime's storage", "&storage=officeRuntime", async () => {}, /^Saved the recipe "Digits"\.$/, true],
    ["the shared runtime's 10 MB are full", "&storage=officeRuntime", (f) => f.page.evaluate(() => { (window as unknown as { qmvStorage: { othersBytes: number } }).qmvStorage.othersBytes = 9_999_990; }), /^The recipe could not be kept: the storage limit of 10 MB is reached$/, false],
    ["a browser that blocks storage", "&storage=blocked", async () => {}, /^Saved the recipe "Digits"\.$/, true],
  ];
  for (const [name, platform, setUp, message, listed] of rows) {
    const fake = await openPane("1.20", platform);
    await setUp(fake);
    assert.match(await saveRecipe(fake.page, "Digits", [["RNUM", {}]]), message, name);
    assert.equal((await savedNames(fake.page)).includes("Digits"), listed, name);
    assert.equal(await fake.page.$eval("#storageNote", (p) => !(p as HTMLElement).hidden), platform.includes("blocked"), name);
    await fake.page.close();
  }
  // Kept across workbooks: a new pane of the same partition lists it; another partition does not.
  for (const [key, listed] of [["p1", true], ["p2", false]] as const) {
    const again = await openPane("1.20", `&partitionKey=${key}`);
    await openRecipes(again.page);
    assert.equal((await savedNames(again.page)).includes("Digits"), listed, key);
    await again.page.close();
  }
});

test("an imported recipe file is read as every host reads it; a bad one changes nothing", async () => {
  const folder = await mkdtemp(join(tmpdir(), "qmv-pane-import-"));
  // [file, its text, the message after import, the message after Run recipe (null: not listed)];
  // the engine's other refusals are the WebAssembly-against-native table's.
  const rows: [string, string, string, string | null][] = [
    ["missing.json", '{"version": 1, "steps": [{"operation": "RNUM"}, {"operation": "RFNC"}]}', "missing.json: step 2, count: missing; RFNC needs the number of characters", null],
    ["clears.json", '{"version": 1, "name": "Clears", "steps": [{"operation": "RNUM"}, {"operation": "RDPV"}]}', 'Imported the recipe "Clears".', ""],
    ["no-name.json", '{"version": 1, "steps": [{"operation": "RNUM"}]}', 'Imported the recipe "no-name".', ""],
  ];
  for (const [file, text, imported, ran] of rows) {
    const fake = await openPane();
    await column(fake, ["a1", "a1"]);
    await openRecipes(fake.page);
    const listed = (await savedNames(fake.page)).length;
    await writeFile(join(folder, file), text);
    await (await fake.page.$("input#importRecipe"))!.uploadFile(join(folder, file));
    await fake.page.waitForFunction(() => (document.getElementById("message")?.textContent ?? "") !== "");
    assert.equal(await fake.page.$eval("#message", (p) => p.textContent), imported, file);
    assert.equal((await savedNames(fake.page)).length, listed + (ran === null ? 0 : 1), file);
    if (ran !== null) {
      assert.equal(await runRecipe(fake.page), ran, file);
      assert.deepEqual(await cells(fake, 2), file === "clears.json" ? ["a", ""] : ran === "" ? ["a", "a"] : ["a1", "a1"], file);
    }
    await fake.page.close();
  }
});
