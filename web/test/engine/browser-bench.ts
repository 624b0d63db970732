// EngineBench in headless Chromium (Debian's), the engine loaded by the page's own engine.ts
// from a local server. Each rule is timed the best of three in the CPU time of Chromium's
// processes (the machine is shared: wall time is only a counter), one preview in wall time;
// then the page's memory (the JavaScript heap Chromium reports, and the engine's). Prints
// JSON. Argument: the texts file; QMV_ENGINE_DIR names the built engine.
import { readFileSync } from "node:fs";
import { readdir, readFile } from "node:fs/promises";
import { createServer } from "node:http";
import { dirname, extname, join, normalize } from "node:path";
import { fileURLToPath } from "node:url";

import puppeteer from "puppeteer-core";

import { RULES } from "./bench-core.js";
import type { EngineBench, Figure, Preview } from "./bench-core.js";

/** The CPU seconds (user + system) of `root` and every process below it. */
async function treeCpuSeconds(root: number): Promise<number> {
  const parents = new Map<number, number>();
  const cpu = new Map<number, number>();
  for (const name of await readdir("/proc")) {
    if (!/^\d+$/.test(name)) continue;
    try {
      const stat = readFileSync(`/proc/${name}/stat`, "utf8");
      const fields = stat.slice(stat.lastIndexOf(")") + 2).split(" ");
      parents.set(Number(name), Number(fields[1]));
      cpu.set(Number(name), Number(fields[11]) + Number(fields[12]));
    } catch {
      // gone meanwhile
    }
  }
  const within = (pid: number): boolean => {
    for (let p = pid, hops = 0; p > 1 && hops < 64; p = parents.get(p) ?? 0, ++hops) if (p === root) return true;
    return false;
  };
  let ticks = 0;
  for (const [pid, used] of cpu) if (within(pid)) ticks += used;
  return ticks / 100;  // USER_HZ
}

const textsFile = process.argv[2] ?? "";
const engineDir = process.env.QMV_ENGINE_DIR ?? "";
const scripts = join(dirname(fileURLToPath(import.meta.url)), "..", "..");  // build/test
const TYPES: Record<string, string> = { ".html": "text/html", ".js": "text/javascript", ".mjs": "text/javascript", ".wasm": "application/wasm" };
const PAGE = `<!doctype html><meta charset="utf-8"><script type="module">
import { loadEngine } from "/scripts/src/engine.js";
import { EngineBench } from "/scripts/test/engine/bench-core.js";
const texts = (await (await fetch("/texts.txt")).text()).split("\\n");
if (texts[texts.length - 1] === "") texts.pop();
const engine = await loadEngine({ moduleUrl: "/engine/qmv-engine.mjs" });
window.qmvEngine = engine;
window.qmvBench = new EngineBench(engine, texts);
</script>`;

const server = createServer((request, response) => {
  const path = normalize(decodeURIComponent(new URL(request.url ?? "/", "http://x").pathname));
  const file = path === "/texts.txt" ? textsFile
    : path.startsWith("/engine/") ? join(engineDir, path.slice("/engine/".length))
    : path.startsWith("/scripts/") ? join(scripts, path.slice("/scripts/".length)) : "";
  if (path === "/bench.html") return void response.writeHead(200, { "content-type": "text/html" }).end(PAGE);
  readFile(file).then(
    (body) => response.writeHead(200, { "content-type": TYPES[extname(path)] ?? "text/plain; charset=utf-8" }).end(body),
    () => response.writeHead(404).end(),
  );
});
await new Promise<void>((resolve) => server.listen(0, "127.0.0.1", resolve));
const address = server.address();
const port = address && typeof address === "object" ? address.port : 0;
const browser = await puppeteer.launch({
  executablePath: process.env.QMV_CHROMIUM ?? "/usr/bin/chromium",
  args: ["--no-sandbox", "--headless=new"],
  protocolTimeout: 600000,
});
try {
  const page = await browser.newPage();
  const errors: string[] = [];
  page.on("pageerror", (e) => errors.push(String(e)));
  await page.goto(`http://127.0.0.1:${port}/bench.html`);
  await page.waitForFunction(() => "qmvBench" in window || document.title === "failed", { timeout: 600000, polling: 500 });
  if (errors.length > 0) throw new Error(errors.join("\n"));
  type Window = { qmvBench: EngineBench };
  const root = browser.process()?.pid ?? 0;
  const rules = [];
  for (let i = 0; i < RULES.length; ++i) {
    let best = { code: "", cpuMs: Infinity, wallMs: 0, changed: 0 };
    for (let round = 0; round < 3; ++round) {
      const start = await treeCpuSeconds(root);
      const figure: Figure = await page.evaluate((k) => (window as unknown as Window).qmvBench.run(k), i);
      const cpuMs = ((await treeCpuSeconds(root)) - start) * 1000;
      if (cpuMs < best.cpuMs) best = { code: figure.code, cpuMs, wallMs: figure.ms, changed: figure.changed };
    }
    rules.push(best);
  }
  const preview: Preview = await page.evaluate(() => (window as unknown as Window).qmvBench.preview());
  const crossingMs: number = await page.evaluate(() => (window as unknown as Window).qmvBench.crossing());
  const engineBytes = await page.evaluate(() => (window as unknown as { qmvEngine: { memoryBytes(): number } }).qmvEngine.memoryBytes());
  const metrics = await page.metrics();
  console.log(JSON.stringify({ rules, preview, crossingMs, jsHeapBytes: metrics.JSHeapUsedSize ?? 0, engineBytes }));
} finally {
  await browser.close();
  server.close();
}
