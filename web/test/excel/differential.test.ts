// Differential: for every operation of the engine's table, and every example recipe that
// names no cells, the same workbook and selection give the same cells (value, type, number
// format) through the web add-in over the strict fake as through `qmv play` over the
// in-memory host, driving the COM add-in's dialog (the Ribbon's button, or Run Recipe).
import { strict as assert } from "node:assert";
import { execFileSync } from "node:child_process";
import { mkdtempSync, readdirSync, readFileSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join, resolve } from "node:path";
import { test } from "node:test";
import { fileURLToPath } from "node:url";

import type { InputKind, RunInputs } from "../../src/engine-types.js";
import type { RunRequest } from "../../src/addin-types.js";
import { connectExcel } from "../../src/excel/excel-side.js";
import { installFakeExcel, type FakeCellSpec } from "../fake-excel/fake-excel.js";
import { realEngine } from "./engine-under-test.js";

// This file runs from web/build/test/test/excel; qmv is built in the worktree's build/.
const root = resolve(dirname(fileURLToPath(import.meta.url)), "../../../../..");
const qmv = process.env.QMV_BIN ?? join(root, "build/tools/qmv/qmv");

/** The Ribbon button of each operation (the Ribbon's ids are "btn" and the command's tag). */
const buttons: Record<string, string> = {
  RNUM: "QMV1", RALP: "QMV2", RNPC: "QMV3", RUDC: "QMV4", RALS: "QMV5", RLTS: "QMV6", RLTE: "QMV7",
  RBSP: "QMV8", RASP: "QMV9", RNBP: "QMV10", RNAP: "QMV11", RUPC: "QMV12", RLOC: "QMV13",
  RDPV: "QMV18", RADP: "QMV19", RUDP: "QMV20",
};

/** The inputs of each kind, as the pane passes them and as the dialog is typed into. */
const inputs: Record<InputKind, { web: RunInputs; play: string[] }> = {
  none: { web: {}, play: [] },
  characters: { web: { characters: "#%@!" }, play: ["clear txtUDC", 'type txtUDC "#%@!"'] },
  startPosition: { web: { startPosition: "3" }, play: ["clear txtSP", 'type txtSP "3"'] },
  startAndCount: { web: { startPosition: "3", charCount: "2" }, play: ["clear txtSP", 'type txtSP "3"', "clear txtNOC", 'type txtNOC "2"'] },
  text: { web: { text: "ab", matchCase: false }, play: ['type txtText "ab"'] },
  delimiters: { web: { opening: "(", closing: ")" }, play: [] },
  count: { web: { charCount: "2" }, play: ["clear txtNOC", 'type txtNOC "2"'] },
  pattern: { web: { pattern: "\\d+|^ +", matchCase: true }, play: ['type txtText "\\\\d+|^ +"'] },
};

/** The workbook: column A, a mix that every operation changes somewhere; row 12 is formatted
 *  as Text, row 13 (a repeat, with a number format of its own) is hidden. */
const cells: { script: string; fake: FakeCellSpec }[] = [
  { script: '"ab12cd"', fake: { value: "ab12cd" } },
  { script: '"  Two  spaces  here "', fake: { value: "  Two  spaces  here " } },
  { script: '"Jos\\u00E9 (x) #42!"', fake: { value: "Jos\u00E9 (x) #42!" } },
  { script: '"a007"', fake: { value: "a007" } },
  { script: '"UPPER lower"', fake: { value: "UPPER lower" } },
  { script: '"x\\ny\\tz"', fake: { value: "x\ny\tz" } },
  { script: '"1/2/2007x"', fake: { value: "1/2/2007x" } },
  { script: '"50%z"', fake: { value: "50%z" } },
  { script: "empty", fake: {} },
  { script: 'formula "=1+2" 3', fake: { formula: "=1+2", value: 3 } },
  { script: "1234.5", fake: { value: 1234.5 } },
  { script: '"0071a"', fake: { value: "0071a", numberFormat: "@" } },
  { script: '"ab12cd"', fake: { value: "ab12cd", numberFormat: "0.00" } },
  { script: '"=keep"', fake: { value: "=keep", quotePrefix: true } },
  { script: '"KEEP"', fake: { value: "KEEP" } },
  { script: '"keep"', fake: { value: "keep" } },
  { script: "TRUE", fake: { value: true } },
];
const textFormatRow = 12; // 1-based rows
const hiddenRow = 13;

type Seen = { formula: string; value: string | number | boolean };

function parseCell(text: string): Seen {
  const formula = /^formula ("(?:[^"\\]|\\.)*") (.*)$/.exec(text);
  if (formula) return { formula: JSON.parse(formula[1]!) as string, value: parseCell(formula[2]!).value };
  if (text === "empty") return { formula: "", value: "" };
  if (text === "TRUE" || text === "FALSE") return { formula: "", value: text === "TRUE" };
  if (text.startsWith('"')) return { formula: "", value: JSON.parse(text) as string };
  const date = /^date:(\d{4})-(\d{2})-(\d{2})(?:T(\d{2}):(\d{2}):(\d{2}))?$/.exec(text);
  if (date) {
    const [y, mo, d, h = "0", mi = "0", s = "0"] = date.slice(1);
    const ms = Date.UTC(Number(y), Number(mo) - 1, Number(d), Number(h), Number(mi), Number(s)) - Date.UTC(1899, 11, 30);
    return { formula: "", value: ms / 86400000 };
  }
  if (text.startsWith("error:")) return { formula: "", value: text.slice(6) };
  return { formula: "", value: Number(text) };
}

/** A cell the web gave a date or time format that it did not have before. */
function datedRow(format: string, row: number): boolean {
  return (cells[row]!.fake.numberFormat ?? "General") === "General" && /^(m\/d\/yyyy|d-mmm|h:mm)/.test(format);
}

/** The selections each operation runs on: the whole column, and two areas of it. */
const selections: { play: string; areas: { row: number; column: number; rows: number; columns: number }[] }[] = [
  { play: "A1:A17", areas: [{ row: 0, column: 0, rows: 17, columns: 1 }] },
  { play: "A9:A17,A1:A5", areas: [{ row: 8, column: 0, rows: 9, columns: 1 }, { row: 0, column: 0, rows: 5, columns: 1 }] },
];

test("every operation and example recipe gives the same cells on the web as in qmv play", async () => {
  const engine = await realEngine();
  const dir = mkdtempSync(join(tmpdir(), "qmv-diff-"));
  const operations = engine.operations();
  assert.ok(operations.length >= 20, "the engine lists its operations");
  // Each run: its name, the pane's request, and the dialog's lines in qmv play.
  const runs: { name: string; web: RunRequest; play: string[] }[] = operations.map((op) => ({
    name: op.code,
    web: { code: op.code, inputs: inputs[op.inputs].web },
    play: [`ribbon btn${buttons[op.code] ?? op.code}`, ...inputs[op.inputs].play.map((l) => "  " + l)],
  }));
  const recipes = join(root, "examples/recipes");
  for (const file of readdirSync(recipes).filter((f) => f.endsWith(".json")).sort()) {
    const text = readFileSync(join(recipes, file), "utf8");
    if (/"(columns|range)"/.test(text)) continue; // a file tool's cells: not the selection's
    const check = engine.recipe(text);
    assert.equal(check.message, null, file);
    runs.push({ name: file, web: { code: check.code!, inputs: { recipe: check.recipe! } }, play: [`recipe ${join(recipes, file)}`] });
  }
  assert.ok(runs.some((r) => r.web.inputs.recipe && engine.recipe(r.web.inputs.recipe).then), "a recipe ends by clearing values");
  const differences: string[] = []; // every difference, so that one run shows them all
  for (const selection of selections) for (const [n, given] of runs.entries()) {
    const name = `${given.name} over ${selection.play}`;
    // The web add-in over the fake.
    const fake = installFakeExcel();
    cells.forEach((c, r) => fake.setCell("Sheet1", r, 0, c.fake));
    fake.hideRow("Sheet1", hiddenRow - 1);
    fake.select("Sheet1", selection.areas);
    const side = await connectExcel(engine);
    const outcome = await side.run(given.web, { onProgress: () => {}, stopRequested: () => false });
    const web = cells.map((_, r) => fake.cell("Sheet1", r, 0));
    fake.uninstall();
    if (outcome.kind === "failed") differences.push(`${name}: the web run failed: ${outcome.message}`);

    // The same session through the COM add-in's dialog.
    const last = cells.length;
    const script = [
      "workbook",
      `column A1 ${cells.map((c) => c.script).join(" ")}`,
      `number-format A${textFormatRow} "@"`,
      `number-format A${hiddenRow} "0.00"`,
      `hide-row ${hiddenRow}`,
      `select ${selection.play}`,
      "connect",
      ...given.play,
      "  press CommandButton1",
      `print A1:A${last}`,
      // The in-memory host keeps a date as a date in a General cell; Excel gives such a cell
      // its date format, as the web does: those cells are held to a date below instead.
      ...web.map((c, r) => (datedRow(c.numberFormat, r) ? "" : `expect number-format A${r + 1} ${JSON.stringify(c.numberFormat)}`)),
    ].join("\n");
    const file = join(dir, `${n}-${selection.areas.length}.qmv`);
    writeFileSync(file, script + "\n");
    let out: string;
    try {
      out = execFileSync(qmv, ["play", file], { encoding: "utf8" });
    } catch (e) {
      // Status 1: an expectation (a number format) differs; the cells were printed all the same.
      const failed = e as { status?: number; stdout?: string; stderr?: string };
      out = failed.stdout ?? "";
      const told = out.split("\n").filter((l) => l.startsWith("line ")).join("; ");
      differences.push(`${name}: qmv play status ${failed.status}: ${told}${failed.stderr ?? ""}`);
    }
    const printed = new Map<number, Seen>();
    for (const line of out.split("\n")) {
      const m = /^A(\d+): (.*)$/.exec(line);
      if (m) printed.set(Number(m[1]), parseCell(m[2]!));
      if (m && datedRow(web[Number(m[1]) - 1]!.numberFormat, Number(m[1]) - 1) && !m[2]!.startsWith("date:")) {
        differences.push(`${name} A${m[1]}: the web gave a date format, play ${m[2]}`);
      }
    }
    web.forEach((c, r) => {
      const want = printed.get(r + 1);
      const got: Seen = { formula: c.formula, value: c.value };
      const same =
        want !== undefined &&
        got.formula === want.formula &&
        (typeof want.value === "number" && typeof got.value === "number" ? Math.abs(want.value - got.value) < 1e-6 : got.value === want.value);
      if (!same) differences.push(`${name} A${r + 1}: web ${JSON.stringify(got)}, play ${JSON.stringify(want)}`);
    });
  }
  assert.deepEqual(differences, []);
});
