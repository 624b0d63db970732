// Benchmark of the Excel side's requests in the strict fake, on the WebAssembly engine. A
// benchmark, never a test: it prints figures, and says where they miss the targets.
//   1. RNUM over 1,000,000 cells (BENCH_ROWS x BENCH_COLUMNS): requests against
//      2 x ceil(payload / 4 MB) + 4, the payload being every request's and answer's bytes.
//   2. The same at 50 ms a round trip: the run's own time plus 50 ms for each request (the
//      fake's clock), against 1.5 x the run without latency.
//   3. A sparse selection, A1:E1048576 holding 3 values: requests (target at most 6) and bytes.
// Run: web/bench/excel-requests.sh (QMV_ENGINE_DIR as for web/test/excel/test.sh).
import { connectExcel } from "../src/excel/excel-side.js";
import { installFakeExcel, type FakeExcelControl } from "../test/fake-excel/fake-excel.js";
import { realEngine } from "../test/excel/engine-under-test.js";

const MB = 4 * 1024 * 1024;
const mb = (n: number) => (n / 1048576).toFixed(2);

interface Figures {
  outcome: string;
  ms: number;
  requests: number;
  payload: number;
  largest: number;
  latency: number;
  updates: number;
  longestGap: number;
}

async function runOnce(setUp: (fake: FakeExcelControl) => void, code: string, msPerRequest: number): Promise<Figures> {
  const fake = installFakeExcel({ excelApi: "1.20" });
  setUp(fake);
  fake.setRequestCost(msPerRequest, 0);
  const side = await connectExcel(await realEngine());
  const stamps: number[] = [];
  const t0 = performance.now();
  const outcome = await side.run({ code, inputs: {} }, { onProgress: () => stamps.push(performance.now()), stopRequested: () => false });
  const ms = performance.now() - t0;
  const requests = fake.requests();
  let longestGap = 0;
  for (let i = 1; i < stamps.length; i++) longestGap = Math.max(longestGap, stamps[i]! - stamps[i - 1]!);
  const figures: Figures = {
    outcome: `${outcome.kind}, ${outcome.changed} changed`,
    ms,
    requests: requests.length,
    payload: requests.reduce((n, q) => n + q.requestBytes + q.responseBytes, 0),
    largest: requests.reduce((n, q) => Math.max(n, q.requestBytes, q.responseBytes), 0),
    latency: fake.now(),
    updates: stamps.length,
    longestGap,
  };
  fake.uninstall();
  return figures;
}

async function main(): Promise<void> {
  const rows = Number(process.env.BENCH_ROWS ?? 100000);
  const columns = Number(process.env.BENCH_COLUMNS ?? 10);
  const code = process.env.BENCH_CODE ?? "RNUM";
  const dense = (fake: FakeExcelControl) => {
    fake.setValues("Sheet1", 0, 0, Array.from({ length: rows }, (_, r) => Array.from({ length: columns }, (_, c) => `item ${r}-${c} x${(r * 7 + c) % 1000}`)));
    fake.select("Sheet1", [{ row: 0, column: 0, rows, columns }]);
  };
  const fast = await runOnce(dense, code, 0);
  const bound = 2 * Math.ceil(fast.payload / MB) + 4;
  console.log(`1. ${code} over ${rows * columns} cells (${rows} x ${columns}): ${fast.outcome}, ${fast.ms.toFixed(0)} ms`);
  console.log(`   requests ${fast.requests} (target at most ${bound} = 2 x ceil(${mb(fast.payload)} MB / 4 MB) + 4)${fast.requests <= bound ? "" : "  MISSED"}`);
  console.log(`   largest request or answer ${mb(fast.largest)} MB; progress updates ${fast.updates}, longest interval ${fast.longestGap.toFixed(0)} ms`);
  const slow = await runOnce(dense, code, 50);
  const total = slow.ms + slow.latency;
  console.log(`2. at 50 ms a round trip: ${slow.requests} requests, ${slow.ms.toFixed(0)} ms of work + ${slow.latency.toFixed(0)} ms of latency = ${total.toFixed(0)} ms`);
  console.log(`   ${(total / fast.ms).toFixed(2)} x the run without latency (target at most 1.5)${total <= 1.5 * fast.ms ? "" : "  MISSED"}`);
  const sparse = await runOnce((fake) => {
    fake.setValues("Sheet1", 0, 0, [["a1"]]);
    fake.setValues("Sheet1", 524287, 2, [["b2"]]);
    fake.setValues("Sheet1", 1048575, 4, [["c3"]]);
    fake.select("Sheet1", [{ row: 0, column: 0, rows: 1048576, columns: 5 }]);
  }, code, 0);
  console.log(`3. sparse A1:E1048576 with 3 values: ${sparse.outcome}, ${sparse.requests} requests (target at most 6)${sparse.requests <= 6 ? "" : "  MISSED"}, ${sparse.payload} bytes in all, ${sparse.ms.toFixed(0)} ms`);
}

void main();
