// The engine's figures over a column of texts, through the page's own binding (engine.ts):
// chunks of cells as Range.load gives them, each changed cell's new text and stored value
// taken out as the page takes them to write. Runs in headless Chromium (bench-page.html, the
// page's own setting) and under node alike; bench/web_engine_bench.sh sets the figures beside
// the native ones.
import { copyUnits } from "../../src/engine.js";
import { CHANGED } from "../../src/engine-types.js";
import type { CellLocale, PreviewFigures, QmvEngine, RangeCells, RunInputs } from "../../src/engine-types.js";

export const CHUNK_CELLS = 20000;
/** As the Excel side's preview: it stops counting past the cap and shows three examples. */
const PREVIEW_CAP = 200000;
const PREVIEW_SAMPLES = 3;

export const LOCALE: CellLocale = {
  decimalSeparator: ".", thousandsSeparator: ",", dateOrder: "MDY", dateSeparator: "/", timeSeparator: ":", currentYear: 2026,
};

export const RULES: { code: string; inputs: RunInputs }[] = [
  { code: "RNUM", inputs: {} },
  { code: "RALP", inputs: {} },
  { code: "RALS", inputs: {} },
  { code: "RPAT", inputs: { pattern: "\\d+", matchCase: true } },
  { code: "RACC", inputs: {} },
  { code: "RDPV", inputs: {} },
];

export interface Figure {
  code: string;
  /** Milliseconds of wall clock (the runner may time the CPU instead). */
  ms: number;
  changed: number;
}

export interface Preview {
  ms: number;
  line: string;
}

/** Chunks of a column as Range.load gives them: each array parsed from the host's JSON
 *  answer, so its texts are strings of their own (texts cut from one long string are slices
 *  of it, which V8 reads more slowly, and which no page gets from Excel). */
function chunksOf(texts: string[], size: number): RangeCells[] {
  const out: RangeCells[] = [];
  const column = (part: string[]): string[][] => JSON.parse(JSON.stringify(part.map((t) => [t]))) as string[][];
  for (let from = 0; from < texts.length; from += size) {
    const part = texts.slice(from, from + size);
    out.push({
      values: column(part),
      formulas: column(part),
      numberFormat: part.map(() => ["General"]),
      valueTypes: part.map(() => ["String"]),
    });
  }
  return out;
}

/** The runs a runner times one at a time: rule i of RULES over every chunk, each changed
 *  cell's new text and stored value taken out; one preview of RNUM as the Excel side makes
 *  it (chunks until the cap, three examples, the line). */
export class EngineBench {
  private readonly chunks: RangeCells[];
  private readonly column: RangeCells;

  constructor(private readonly engine: QmvEngine, texts: string[]) {
    this.chunks = chunksOf(texts, CHUNK_CELLS);
    // The value removal's one list, over the chunks' own strings.
    this.column = {
      values: this.chunks.flatMap((c) => c.values), formulas: this.chunks.flatMap((c) => c.formulas),
      numberFormat: this.chunks.flatMap((c) => c.numberFormat), valueTypes: this.chunks.flatMap((c) => c.valueTypes),
    };
  }

  /** What JavaScript alone spends to hand the texts over and take as many back, with no
   *  engine between (milliseconds of wall clock, the best of three): each chunk's texts copied
   *  into 16-bit units as the binding copies them, and the same texts decoded from UTF-8 and
   *  cut apart, as the binding takes results back. No binding can cost less. */
  crossing(): number {
    const encoded = this.chunks.map((chunk) => {
      const texts = chunk.values.map((row) => String(row[0]));
      const ends = new Uint32Array(texts.length);
      let at = 0;
      texts.forEach((t, i) => { at += t.length; ends[i] = at; });
      return { texts, ends, bytes: new TextEncoder().encode(texts.join("")) };
    });
    const units = new Uint16Array(Math.max(...encoded.map((e) => e.ends[e.ends.length - 1] ?? 0)));
    const decoder = new TextDecoder("utf-8", { ignoreBOM: true });
    let best = Infinity, sink = 0;
    for (let round = 0; round < 3; ++round) {
      const start = performance.now();
      for (const { texts, ends, bytes } of encoded) {
        copyUnits(texts, units);
        const back = decoder.decode(bytes);
        for (let i = 0; i < ends.length; ++i) sink += back.substring(i === 0 ? 0 : ends[i - 1]!, ends[i]!).length;
      }
      best = Math.min(best, performance.now() - start);
    }
    return sink < 0 ? -1 : best;
  }

  run(i: number): Figure {
    const { code, inputs } = RULES[i]!;
    const start = performance.now();
    const rule = this.engine.prepareRule(code, inputs, LOCALE);
    let changed = 0;
    if (rule.kind === "value") {
      for (const clear of rule.clears(this.column)) changed += clear;
    } else {
      let sink = 0;
      for (const chunk of this.chunks) {
        const results = rule.over(chunk);
        for (let r = 0; r < results.count; ++r) {
          if (results.outcomes[r] !== CHANGED) continue;
          ++changed;
          sink += results.after(r).length + String(results.writeValue(r)).length;
        }
      }
      if (sink < 0) changed = -1;
    }
    rule.dispose();
    return { code, ms: performance.now() - start, changed };
  }

  preview(): Preview {
    const start = performance.now();
    const rule = this.engine.prepareRule("RNUM", {}, LOCALE);
    const figures: PreviewFigures = { changes: 0, capped: false, samples: [] };
    for (const chunk of this.chunks) {
      if (figures.capped) break;
      const results = rule.over(chunk, true);
      for (let r = 0; r < results.count && !figures.capped; ++r) {
        if (results.outcomes[r] !== CHANGED) continue;
        figures.changes++;
        if (figures.samples.length < PREVIEW_SAMPLES) figures.samples.push({ before: results.before(r), after: results.after(r) });
        if (figures.changes > PREVIEW_CAP) figures.capped = true;
      }
    }
    rule.dispose();
    const line = this.engine.previewLine("RNUM", figures);
    return { ms: performance.now() - start, line };
  }
}
