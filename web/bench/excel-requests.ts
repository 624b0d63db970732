// Benchmark of the Excel side's requests over a 1,000,000-cell selection in the strict fake,
// on the WebAssembly engine: requests per chunk, the weight of each chunk's read and write,
// and the time between progress updates. A benchmark, never a test: it prints figures.
// Run: web/bench/excel-requests.sh (QMV_ENGINE_DIR as for web/test/excel/test.sh).
import { connectExcel } from "../src/excel/excel-side.js";
import { installFakeExcel } from "../test/fake-excel/fake-excel.js";
import { realEngine } from "../test/excel/engine-under-test.js";

async function main(): Promise<void> {
const rows = Number(process.env.BENCH_ROWS ?? 100000);
const columns = Number(process.env.BENCH_COLUMNS ?? 10);
const code = process.env.BENCH_CODE ?? "RNUM";

const fake = installFakeExcel({ excelApi: "1.20" });
const data = Array.from({ length: rows }, (_, r) => Array.from({ length: columns }, (_, c) => `item ${r}-${c} x${(r * 7 + c) % 1000}`));
fake.setValues("Sheet1", 0, 0, data);
fake.select("Sheet1", [{ row: 0, column: 0, rows, columns }]);
const engine = await realEngine();
const side = await connectExcel(engine);

const stamps: number[] = [];
const t0 = performance.now();
const outcome = await side.run({ code, inputs: {} }, {
  onProgress: () => stamps.push(performance.now()),
  stopRequested: () => false,
});
const elapsed = performance.now() - t0;

// The first two requests are the culture and the selection; then each chunk reads, and
// writes when it changed cells.
const requests = fake.requests().slice(2);
let chunks = 0, extraReads = 0, writesWithoutRead = 0, pending: "read" | "write" | "none" = "none";
let maxBytes = 0;
for (const q of requests) {
  maxBytes = Math.max(maxBytes, q.requestBytes, q.responseBytes);
  if (q.writes === 0) {
    if (pending === "read") extraReads++;
    else chunks++;
    pending = "read";
  } else {
    if (pending !== "read") writesWithoutRead++;
    pending = "write";
  }
}
let maxGap = 0;
for (let i = 1; i < stamps.length; i++) maxGap = Math.max(maxGap, stamps[i]! - stamps[i - 1]!);
const mb = (n: number) => (n / 1048576).toFixed(2);
console.log(`cells ${rows * columns} (${rows} x ${columns}), ${code}: ${outcome.kind}, ${outcome.changed} changed, ${elapsed.toFixed(0)} ms`);
console.log(`requests ${requests.length} for ${chunks} chunks; reads beyond one per chunk ${extraReads}; writes beyond one per chunk ${writesWithoutRead}`);
console.log(`largest request or response ${mb(maxBytes)} MB (limit of a chunk 4.00 MB)`);
const gaps = stamps.slice(1).map((t, i) => Math.round(t - stamps[i]!));
if (process.env.BENCH_GAPS) console.log(gaps.join(" "));
console.log(`progress updates ${stamps.length}; longest interval ${maxGap.toFixed(0)} ms`);
fake.uninstall();
}

void main();
