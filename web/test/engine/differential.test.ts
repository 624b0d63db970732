// The WebAssembly engine against the native one. Every operation of the table, over texts
// and cells of every kind, with every option and in four locales, asked through the page's
// engine.ts (WebAssembly under node) and through the native build of the same code
// (qmv_web_probe): the answers must be the same, value for value. The page's side goes
// through the chunk binding (cells laid out in the module's memory), both from CellIn objects
// and from Range.load's arrays; the probe reads the same cells from JSON.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { test } from "node:test";

import { EngineError } from "../../src/engine.js";
import { CHANGED } from "../../src/engine-types.js";
import type { CellIn, CellLocale, CellResult, QmvEngine, RangeCells, RunInputs } from "../../src/engine-types.js";
import { loadTestEngine } from "./engine-loader.js";

const texts = [
  "",
  "a1b2 c3",
  "  Mixed   Spaces\there  ",
  "Ünïcödé Çafé Ørsted Łódź",
  "𝒜b1😀2 𝟘",
  "e\u0301x\u0308 ǅ",
  "(0161) 496-0000",
  "line one\nline two\r\nthree",
  "\u0001ctl\u001fx\u007f",
  "<b>x</b> [y] (z) {w}",
  "0042-A-b-C-d",
  "=SUM(A1)",
  "'007",
  "x$1,234.50", "x-12,50 \u20ac", "x(5)", "xCHF 5",
  "x".repeat(40000) + "7",
  // Sixteen units and more, as vector code reads them: members at a block's first and last
  // unit, a block without one, units of 128 and up (and 0x8000 and up) beside members.
  "1bcdefghijklmno2" + "3qrstuvwxyzABCD4" + "x",
  "Ref 0123456789 ab1 \u00e9\u0000\uff10\uff11 \ud83d\ude00 \u03a9x9ab 1 2 3 4 5 6 7 8 9 0 tail \u00e9\ud83d\ude00",
  "12345678901234567890123456789012",
  "\u00c0\u00c1\u00c2\u00c3\u00c4\u00c5\u00c6\u00c7\u00c8\u00c9\u00ca\u00cb1\u00cd\u00ce\u00cf\u00d0",
  "\u007f\u0080\u00ff\u0100\u7fff\u8000\uffff\u0030 \u0009\u000a\u001f\u0020 0 a Z z \u00e9\u00e9",
  "      lots   of   spaces   inside   and   out      ",
  "a1\ud83d\ude00", "aTRUE", "a50%", "a1/2/2024", "a'007", "a1e3", "a=1",
];

function text(value: string, numberFormat = "General"): CellIn {
  return { value, formula: value, numberFormat, valueType: value === "" ? "Empty" : "String" };
}

const cells: CellIn[] = [
  ...texts.map((t) => text(t)),
  text("007", "@"),
  text("03/12/2024", "@"),
  { value: 12.5, formula: 12.5, numberFormat: "General", valueType: "Double" },
  { value: -3, formula: -3, numberFormat: "0.00%", valueType: "Double" },
  { value: 1e21, formula: 1e21, numberFormat: "General", valueType: "Double" },
  { value: 45000.25, formula: 45000.25, numberFormat: "d/m/yyyy h:mm", valueType: "Double" },
  { value: true, formula: true, numberFormat: "General", valueType: "Boolean" },
  { value: "#N/A", formula: "#N/A", numberFormat: "General", valueType: "Error" },
  { value: 7, formula: "=3+4", numberFormat: "General", valueType: "Double" },
  { value: "x1", formula: "=\"x1\"", numberFormat: "General", valueType: "String" },
  { value: 42, formula: 42, numberFormat: "0.00", valueType: "Integer" },
  { value: 5, formula: 5, numberFormat: "General", valueType: "String" },
  { value: false, formula: false, numberFormat: "@", valueType: "Boolean" },
  { value: "", formula: "", numberFormat: "General", valueType: "Empty" },
  text("x12", "@"),
  text("a 1 2", "0%"),
  { value: 0.25, formula: 0.25, numberFormat: "0%", valueType: "Double" },
];

// The same cells as Range.load gives a chunk: rows of six.
const COLUMNS = 6;
function asRange(list: CellIn[]): RangeCells {
  const rows = (pick: (c: CellIn) => unknown) =>
    Array.from({ length: list.length / COLUMNS }, (_, r) => list.slice(r * COLUMNS, (r + 1) * COLUMNS).map(pick));
  return {
    values: rows((c) => c.value),
    formulas: rows((c) => c.formula),
    numberFormat: rows((c) => c.numberFormat),
    valueTypes: rows((c) => c.valueType) as string[][],
  };
}

// The rule's results over a chunk given as Range.load's arrays, as ruleOverBlock answers.
function overRange(engine: QmvEngine, code: string, inputs: RunInputs, locale: CellLocale): CellResult[] {
  const rule = engine.prepareRule(code, inputs, locale);
  try {
    const results = rule.over(asRange(cells), true);
    return Array.from({ length: results.count }, (_, r) => {
      const changed = results.outcomes[r] === CHANGED;
      const result: CellResult = { index: results.cells[r]!, outcome: changed ? "changed" : "gaveUp", before: results.before(r), after: results.after(r) };
      if (changed) result.write = results.write(r);
      return result;
    });
  } finally {
    rule.dispose();
  }
}

const locales: CellLocale[] = [
  { decimalSeparator: ".", thousandsSeparator: ",", dateOrder: "MDY", dateSeparator: "/", timeSeparator: ":", currentYear: 2026 },
  { decimalSeparator: ",", thousandsSeparator: ".", dateOrder: "DMY", dateSeparator: ".", timeSeparator: ":", currentYear: 2026, currencySymbol: "\u20ac", currencyBefore: false },
  { decimalSeparator: ",", thousandsSeparator: "\u202f", dateOrder: "DMY", dateSeparator: "/", timeSeparator: ":", currentYear: 2026, currencySymbol: "" },
  { decimalSeparator: ".", thousandsSeparator: ",", dateOrder: "YMD", dateSeparator: "-", timeSeparator: ":", currentYear: 2026 },
];

// The inputs each kind of dialog takes, with the awkward ones.
const inputSets: Record<string, RunInputs[]> = {
  none: [{}],
  characters: [{ characters: "ab1 " }, { characters: "" }, { characters: "😀é" }],
  startPosition: [{ startPosition: "3" }, { startPosition: "" }, { startPosition: "0" }, { startPosition: "x" }, { startPosition: "2.5" }],
  startAndCount: [{ startPosition: "4", charCount: "2" }, { startPosition: "1", charCount: "99" }, { startPosition: "-1", charCount: "1" }],
  count: [{ charCount: "2" }, { charCount: "" }, { charCount: "40001" }],
  text: [{ text: "b", matchCase: false }, { text: "B", matchCase: true }, { text: "" }],
  delimiters: [{ opening: "(", closing: ")" }, { opening: "<", closing: ">" }, { opening: "[", closing: "" }],
  pattern: [{ pattern: "[0-9]+", matchCase: true }, { pattern: "(?i)c", matchCase: true }, { pattern: "\\p{L}", unicode: true }, { pattern: "(a" }, { pattern: "" }],
};

function withOptions(code: string, kind: string, startsAtSeparator: boolean): RunInputs[] {
  const sets = inputSets[kind] ?? [{}];
  const out: RunInputs[] = [];
  for (const set of sets) {
    out.push(set, { ...set, unicode: true });
    if (startsAtSeparator) {
      for (const occurrence of ["first", "last", 2] as const) out.push({ ...set, separator: "-", occurrence });
    }
  }
  assert.ok(out.length > 0, code);
  return out;
}

// Recipes of several steps, each with its own inputs and text rules, and bad ones.
const recipeTable: { version: number; name?: string; steps: Record<string, unknown>[] }[] = [
  { version: 1, name: "Tidy", steps: [{ operation: "RLTE", unicode: true }, { operation: "RACC", unicode: true }, { operation: "RTXT", text: "b", matchCase: false }] },
  { version: 1, steps: [{ operation: "RUDC", characters: "-()" }, { operation: "RNDG" }, { operation: "RFNC", count: 2 }] },
  { version: 1, steps: [{ operation: "RBSP", separator: "-", occurrence: "last" }, { operation: "RPAT", pattern: "[a-z]", matchCase: true }, { operation: "CUPR" }] },
  { version: 1, steps: [{ operation: "RBTW", opening: "(", closing: ")" }, { operation: "RNBP", start: 4, count: 2 }, { operation: "RLTE" }] },
  { version: 1, steps: [{ operation: "RLTE" }, { operation: "RDPV" }] },
  { version: 1, steps: [{ operation: "RDPV" }, { operation: "RLTE" }] },
  { version: 2, steps: [{ operation: "RLTE" }] },
  { version: 1, steps: [{ operation: "RPAT", pattern: "(a" }] },
  { version: 1, steps: [{ operation: "RNBP", start: 2 }] },
  { version: 1, steps: [{ operation: "RXYZ" }] },
];

interface Call {
  name: string;
  request: object;
  viaEngine: (engine: QmvEngine) => unknown;
}

function calls(engine: QmvEngine): Call[] {
  const out: Call[] = [{ name: "operations", request: { call: "operations" }, viaEngine: (e) => e.operations() }];
  for (const op of engine.operations()) {
    for (const locale of locales) {
      if (op.kind === "value") {
        out.push({
          name: `${op.code} ${locale.decimalSeparator}`,
          request: { call: "valueClears", code: op.code, locale, cells },
          viaEngine: (e) => e.valueClears(op.code, locale, cells),
        });
        out.push({
          name: `${op.code} ${locale.decimalSeparator} from a range`,
          request: { call: "valueClears", code: op.code, locale, cells },
          viaEngine: (e) => {
            const rule = e.prepareRule(op.code, {}, locale);
            const clears = Array.from(rule.clears(asRange(cells)), (c) => c !== 0);
            rule.dispose();
            return clears;
          },
        });
        continue;
      }
      for (const inputs of withOptions(op.code, op.inputs, op.startsAtSeparator)) {
        out.push({
          name: `${op.code} ${JSON.stringify(inputs)} ${locale.decimalSeparator}`,
          request: { call: "ruleOverBlock", code: op.code, inputs, locale, cells },
          viaEngine: (e) => e.ruleOverBlock(op.code, inputs, locale, cells),
        });
        out.push({
          name: `${op.code} ${JSON.stringify(inputs)} ${locale.decimalSeparator} from a range`,
          request: { call: "ruleOverBlock", code: op.code, inputs, locale, cells },
          viaEngine: (e) => overRange(e, op.code, inputs, locale),
        });
      }
    }
    for (const inputs of withOptions(op.code, op.inputs, false)) {
      out.push({
        name: `check ${op.code} ${JSON.stringify(inputs)}`,
        request: { call: "checkInputs", code: op.code, inputs },
        viaEngine: (e) => ({ message: e.checkInputs(op.code, inputs) }),
      });
    }
    for (const figures of [
      { changes: 0, capped: false, samples: [] },
      { changes: 3, capped: false, gaveUp: 2, samples: [{ before: "a1", after: "a" }, { before: "x".repeat(40), after: "" }] },
      { changes: 200000, capped: true, samples: [{ before: "é1", after: "é" }] },
    ]) {
      out.push({
        name: `preview ${op.code} ${figures.changes}`,
        request: { call: "previewLine", code: op.code, figures },
        viaEngine: (e) => e.previewLine(op.code, figures),
      });
    }
  }
  for (const id of ["gaveUp", "keptChanges", "unrestored"] as const) {
    for (const count of [1, 2, 1234567]) {
      out.push({ name: `${id} ${count}`, request: { call: "countMessage", id, count }, viaEngine: (e) => e.countMessage(id, count) });
    }
  }
  for (const id of ["nothingToUndo", "undoFailed", "emptySelection", "notOneColumn", "noSuchMessage"]) {
    out.push({ name: id, request: { call: "message", id }, viaEngine: (e) => e.message(id) });
  }
  // Undo's decision: a cell as the run left it comes back; one changed since stays.
  const entries = cells.map((before, i) => ({
    before,
    after: i % 3 === 0 ? null : { kind: "text" as const, value: `after${i}` },
    now: i % 2 === 0 ? text(i % 3 === 0 ? "" : `after${i}`) : text("changed since"),
  }));
  // The first text of a list starting with a byte order mark, which a decoder may drop.
  const marked = [text("\ufeff1x"), text("2y")].map((before) => ({ before, after: { kind: "text" as const, value: "x" }, now: text("x") }));
  for (const [name, list] of [["restore", entries], ["restore, a byte order mark first", marked]] as const) {
    out.push({
      name,
      request: { call: "restore", entries: list },
      viaEngine: (e) => {
        const record = e.newUndoRecord();
        list.forEach((entry, i) => record.add("Sheet1", i, 0, entry.before, entry.after));
        return record.restore(list.map((entry) => entry.now));
      },
    });
  }
  // The inspector's names and pointers over every sample text, and names the data derives
  // (a Hangul syllable, an ideograph, a control, a character beyond U+FFFF).
  for (const t of [...cells.map((c) => String(c.value)), "\uac01\u4e00\u0007\u{1F44D}\u{E0001}\u0378"]) {
    out.push({ name: `inspect ${JSON.stringify(t).slice(0, 40)}`, request: { call: "inspect", text: t }, viaEngine: (e) => e.inspect(t) });
  }
  // Recipes of several steps, each with its own inputs and text rules, run as one rule: the
  // check, the composed rule (as the page's run and preview take it) and its refusals.
  const recipes = recipeTable;
  recipes.forEach((recipe, n) => {
    out.push({ name: `recipe ${n}`, request: { call: "recipe", recipe }, viaEngine: (e) => e.recipe(recipe) });
    out.push({ name: `recipe ${n} as a file`, request: { call: "recipe", recipe: JSON.stringify(recipe) }, viaEngine: (e) => e.recipe(JSON.stringify(recipe)) });
    const inputs: RunInputs = { recipe };
    out.push({ name: `check recipe ${n}`, request: { call: "checkInputs", code: "RLTE", inputs }, viaEngine: (e) => ({ message: e.checkInputs("RLTE", inputs) }) });
    for (const locale of [locales[0]!, locales[1]!]) {
      const request = { call: "ruleOverBlock", code: "RLTE", inputs, locale, cells };
      out.push({ name: `recipe ${n} ${locale.decimalSeparator}`, request, viaEngine: (e) => e.ruleOverBlock("RLTE", inputs, locale, cells) });
      out.push({ name: `recipe ${n} ${locale.decimalSeparator} from a range`, request, viaEngine: (e) => overRange(e, "RLTE", inputs, locale) });
    }
  });
  // The pane's chosen steps as their dialogs took them, made a recipe.
  const chosen = [
    [{ code: "RLTE", inputs: { unicode: true } }, { code: "RPAT", inputs: { pattern: "\\d+", matchCase: true } }, { code: "RNBP", inputs: { startPosition: "2", charCount: "3" } }],
    [{ code: "RBSP", inputs: { startPosition: "1", separator: "-", occurrence: 2 } }, { code: "RUDP", inputs: {} }],
    [{ code: "RNBP", inputs: { startPosition: "x", charCount: "1" } }],
    [{ code: "RDPV", inputs: {} }, { code: "RNUM", inputs: {} }],
  ];
  chosen.forEach((steps, n) => {
    out.push({ name: `make recipe ${n}`, request: { call: "makeRecipe", name: "N", description: "D", steps }, viaEngine: (e) => e.makeRecipe("N", "D", steps) });
  });
  out.push({ name: "unknown code", request: { call: "ruleOverBlock", code: "RXYZ", inputs: {}, locale: locales[0], cells }, viaEngine: (e) => e.ruleOverBlock("RXYZ", {}, locales[0]!, cells) });
  return out;
}

// The probe's JSON carries a lone surrogate (a removal may split a pair) as U+FFFD; the
// binding hands it over as it is (the test below).
function asProbeSends(value: unknown): unknown {
  return JSON.parse(JSON.stringify(value, (_, v: unknown) =>
    typeof v === "string" ? v.replace(/[\ud800-\udbff](?![\udc00-\udfff])|(?<![\ud800-\udbff])[\udc00-\udfff]/g, "\ufffd") : v));
}

function viaEngine(engine: QmvEngine, call: Call): unknown {
  try {
    return asProbeSends(call.viaEngine(engine));
  } catch (fault) {
    if (fault instanceof EngineError) return { error: fault.message };
    throw fault;
  }
}

test("the WebAssembly engine answers every request as the native engine does", async () => {
  const engine = await loadTestEngine();
  assert.equal(cells.length % COLUMNS, 0);
  const all = calls(engine);
  const probe = process.env.QMV_WEB_PROBE;
  assert.ok(probe, "QMV_WEB_PROBE names the native probe (run web/engine/test.sh)");
  const native = spawnSync(probe, { input: all.map((c) => JSON.stringify(c.request)).join("\n") + "\n", maxBuffer: 1 << 30 });
  assert.equal(native.status, 0, String(native.stderr));
  const answers = String(native.stdout).split("\n");
  assert.equal(answers.length, all.length + 1);
  let changed = 0;
  all.forEach((call, i) => {
    const expected: unknown = JSON.parse(answers[i]!);
    const got = viaEngine(engine, call);
    assert.deepEqual(got, expected, call.name);
    if (Array.isArray(got)) changed += got.length;
  });
  // The cases must reach the rule: most requests change cells.
  assert.ok(changed > all.length, `only ${changed} results over ${all.length} requests`);
});

// JSON cannot carry a lone surrogate to the probe; the binding hands the units over as they are.
// Texts a decoder could take for something else: a lone surrogate, and a byte order mark
// at the start of a list (which a decoder drops unless told not to).
test("a lone surrogate and a leading byte order mark go through the binding as they are", async () => {
  const engine = await loadTestEngine();
  const rows: [string, string[], [string, string][]][] = [
    ["lone surrogates", ["\ud800a1\udc00", "1\udfff"], [["\ud800a1\udc00", "\ud800a\udc00"], ["1\udfff", "\udfff"]]],
    ["a byte order mark first", ["\ufeff1x", "2y"], [["\ufeff1x", "\ufeffx"], ["2y", "y"]]],
    ["a byte order mark alone", ["\ufeff1", "a2"], [["\ufeff1", "\ufeff"], ["a2", "a"]]],
    ["a byte order mark and a lone surrogate", ["\ufeff1\ud800", "2y"], [["\ufeff1\ud800", "\ufeff\ud800"], ["2y", "y"]]],
  ];
  for (const [name, given, expected] of rows) {
    const got = engine.ruleOverBlock("RNUM", {}, locales[0]!, given.map((t) => text(t)));
    assert.deepEqual(got.map((r) => [r.before, r.after]), expected, name);
  }
});

// A recipe's composed rule against its steps run one after another, each over the texts the
// step before left (cells a step gives up on are left out of the cells compared).
test("a recipe's one rule gives what its steps give one after another", async () => {
  const engine = await loadTestEngine();
  const locale = locales[0]!;
  const textCells = texts.filter((t) => t !== "" && t.length < 1000).map((t) => text(t));
  // Each step as the page's inputs (a file's numbers are the dialog's texts).
  const asInputs = ({ operation, start, count, ...rest }: Record<string, unknown>): [string, RunInputs] =>
    [String(operation), { ...rest, ...(start === undefined ? {} : { startPosition: String(start) }), ...(count === undefined ? {} : { charCount: String(count) }) }];
  const rows = recipeTable.slice(0, 4).map((recipe, n) => [`recipe ${n}`, recipe.steps, recipe.steps.map(asInputs)] as const);
  for (const [name, steps, inputs] of rows) {
    const recipe = { version: 1, steps };
    const composed = new Map(engine.ruleOverBlock("RLTE", { recipe }, locale, textCells).map((r) => [r.index, r.after]));
    let now = textCells.map((c) => String(c.value));
    for (const [code, stepInputs] of inputs) {
      const next = [...now];
      for (const r of engine.ruleOverBlock(code, stepInputs, locale, now.map((t) => text(t)))) if (r.outcome === "changed") next[r.index] = r.after;
      now = next;
    }
    const expected = now.map((t, i) => (t === String(textCells[i]!.value) ? undefined : t));
    assert.deepEqual(textCells.map((_, i) => composed.get(i)), expected, name);
    assert.ok(composed.size > 3, `${name}: ${composed.size} cells change`);
  }
});
