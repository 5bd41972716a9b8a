// The WebAssembly checksum's speed in each engine (tests/web/browser.mjs;
// ENGINES names fewer, and WebKit needs xvfb-run), for one web build or
// several side by side (a web build dir stands for its web/quarnel_module.js; a
// .js file is that module): the builds take turns, so that a busy machine slows
// them alike, and each must give the same header area. Needs the test driver
// (npm ci --prefix tests/web):
//   node bench/web_checksum.mjs [web build dir or module ...]
// (default: build-web's two modules, the portable one and the SIMD one)
// ROUNDS MiB per run (default 512), RUNS runs of each build (default 5).
import { mkdtempSync, rmSync, symlinkSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { launch, servePage } from '../tests/web/browser.mjs';

const builds = process.argv.slice(2).length ? process.argv.slice(2)
  : ['build-web', 'build-web/web/quarnel_module_simd.js'];
const moduleOf = (build) => resolve(build.endsWith('.js') ? build : join(build, 'web', 'quarnel_module.js'));
const rounds = Number(process.env.ROUNDS ?? 512);
const runs = Number(process.env.RUNS ?? 5);
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

// One origin for the worker and every build: build i's module is served as /i.js,
// beside a blank page (the page's own policy would refuse this worker).
const root = mkdtempSync(join(tmpdir(), 'quarnel-checksum-bench-'));
writeFileSync(join(root, 'index.html'), '<!DOCTYPE html><title>checksum</title>');
symlinkSync(join(dirname(fileURLToPath(import.meta.url)), 'web_checksum_worker.js'), join(root, 'worker.js'));
builds.forEach((build, i) => symlinkSync(moduleOf(build), join(root, `${i}.js`)));
const server = await servePage(root);

const timedRun = ([module, rounds]) => new Promise((done) => {
  const worker = new Worker('/worker.js');
  worker.onmessage = ({ data }) => { worker.terminate(); done(data); };
  worker.onerror = (event) => { worker.terminate(); done({ error: String(event.message) }); };
  worker.postMessage({ module, rounds });
});

const rows = [];
for (const engine of (process.env.ENGINES ?? 'chromium firefox webkit').split(/\s+/).filter(Boolean)) {
  const browser = await launch(engine);
  const page = await browser.newPage();
  await page.goto(server.url);
  const speeds = builds.map(() => []);
  const hashes = builds.map(() => new Set());
  for (let run = 0; run < runs; ++run) {
    for (let i = 0; i < builds.length; ++i) {
      const result = await page.evaluate(timedRun.toString(), [`/${i}.js`, rounds]);
      if (result.error) throw new Error(`${engine}, ${builds[i]}: ${result.error}`);
      speeds[i].push(result.bytes / result.seconds / 1e6);
      hashes[i].add(result.hash);
    }
  }
  builds.forEach((dir, i) => {
    const sorted = [...speeds[i]].sort((a, b) => a - b);
    const row = { engine, build: dir, 'MB/s min': sorted[0].toFixed(0), 'MB/s median': median(sorted).toFixed(0),
      'MB/s max': sorted.at(-1).toFixed(0), 'header area': [...hashes[i]].map((h) => h.toString(16)).join(' ') };
    rows.push(row);
    console.log(JSON.stringify(row));
  });
  await page.close();
  await browser.close();
}
console.log(`${rounds} MiB of varied bytes checksummed in the module's memory per run, ${runs} runs of each build`);
console.table(rows);
server.close();
rmSync(root, { recursive: true, force: true });
