// The web page's conversion in headless Chromium beside native quarnel on the
// same file, the WebAssembly checksum's own speed, and how much memory the
// browser takes on while it converts the largest source the format allows.
// Needs the built page (cmake --preset web && cmake --build --preset web), a
// native build and the test driver (npm ci --prefix tests/web):
//   node bench/web_convert.mjs [page dir] [quarnel] [MiB, default 512] [pairs, default 5]
// The checksum's speed is taken from the module the page was put together
// from, quarnel_module.js beside the page's folder, with web_checksum_worker.js.
// SCRATCH names the directory for the files (default /var/tmp); with 0 pairs
// only the checksum and the memory are measured.
import { spawnSync } from 'node:child_process';
import { randomFillSync } from 'node:crypto';
import { closeSync, mkdtempSync, openSync, readFileSync, readdirSync, rmSync, truncateSync, writeSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { launchChromium, servePage } from '../tests/web/browser.mjs';

const [pageDir = 'build-web/web/page', quarnel = 'build/quarnel', mebibytes = '512', pairs = '5'] = process.argv.slice(2);
const work = mkdtempSync(join(process.env.SCRATCH ?? '/var/tmp', 'quarnel-web-bench-'));
const source = join(work, 'source.iso');
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const spread = (values, unit = '') => {
  const sorted = [...values].sort((a, b) => a - b);
  return `${sorted[0].toFixed(2)} / ${median(sorted).toFixed(2)} / ${sorted.at(-1).toFixed(2)}${unit}`;
};

// Bytes that vary, so that no layer can skip them.
const file = openSync(source, 'w');
const block = Buffer.alloc(1 << 20);
for (let i = 0; i < Number(mebibytes); ++i) writeSync(file, randomFillSync(block));
closeSync(file);

function nativeSeconds() {
  rmSync(join(work, 'native.bin'), { force: true });
  const start = process.hrtime.bigint();
  const result = spawnSync(resolve(quarnel), [source, join(work, 'native.bin')]);
  if (result.status !== 0) throw new Error('quarnel failed: ' + result.stderr);
  return Number(process.hrtime.bigint() - start) / 1e9;
}

const browser = await launchChromium();
const server = await servePage(resolve(pageDir));
const context = await browser.newContext({ acceptDownloads: true });
const page = await context.newPage();
await page.goto(server.url);

// A fresh page, its worker and module started (the page marks its body ready).
async function freshPage() {
  await page.reload();
  await page.waitForFunction(() => document.body.dataset.ready === 'yes', null, { timeout: 60000 });
}

// From the press of the view's button to the result ready to save, and to the
// download saved on disk (the check's download, the ISO inside, starts on a click).
async function browserSeconds(path, view = 'convert', fresh = true) {
  if (fresh) await freshPage();
  await page.setInputFiles(`#${view}-file`, path);
  const downloaded = page.waitForEvent('download', { timeout: 600000 });
  const start = Date.now();
  await page.click(`#${view}-start`);
  await page.waitForFunction((v) => !document.getElementById(`${v}-download`).hidden, view, { timeout: 600000 });
  const ready = (Date.now() - start) / 1000;
  if (view === 'check') await page.click('#check-download');
  const download = await downloaded;
  const saved = await download.path();
  const total = (Date.now() - start) / 1000;
  return { ready, total, saved, download };
}

console.log(`source: ${mebibytes} MiB of random bytes in ${work}`);
// Native quarnel and the page in alternating pairs, the image compared each time.
async function compareSpeed() {
  const ratios = [];
  const readyRatios = [];
  const native = [];
  const ready = [];
  const total = [];
  for (let pair = 0; pair < Number(pairs); ++pair) {
    const seconds = nativeSeconds();
    const web = await browserSeconds(source);
    const same = spawnSync('cmp', ['-s', web.saved, join(work, 'native.bin')]).status === 0;
    await web.download.delete();
    if (!same) throw new Error('the page\'s image differs from quarnel\'s');
    native.push(seconds);
    ready.push(web.ready);
    total.push(web.total);
    ratios.push(web.total / seconds);
    readyRatios.push(web.ready / seconds);
  }
  console.log(`native quarnel:             ${spread(native, ' s')} (min / median / max)`);
  console.log(`page, ready to save:        ${spread(ready, ' s')}`);
  console.log(`page, download saved:       ${spread(total, ' s')}`);
  console.log(`page ready / native, pairs: ${spread(readyRatios, ' x')}`);
  console.log(`page saved / native, pairs: ${spread(ratios, ' x')}`);
}
if (Number(pairs) > 0) await compareSpeed();

// The checksum alone: 256 chunks in the module's memory, in a worker of the page's module and the benchmark's script.
const measureScript = readFileSync(join(resolve(pageDir), '..', 'quarnel_module.js'), 'utf8') + '\n' +
  readFileSync(join(dirname(fileURLToPath(import.meta.url)), 'web_checksum_worker.js'), 'utf8');
const measured = await page.evaluate((text) => new Promise((done) => {
  const worker = new Worker(URL.createObjectURL(new Blob([text], { type: 'text/javascript' })));
  worker.onmessage = ({ data }) => {
    worker.terminate();
    done(data);
  };
  worker.postMessage({ rounds: 256 });
}), measureScript);
console.log(`WebAssembly checksum:       ${(measured.bytes / measured.seconds / 1e9).toFixed(2)} GB/s ` +
  `(${(measured.bytes / 2 ** 20).toFixed(0)} MiB in ${measured.seconds.toFixed(3)} s)`);

// Resident memory of every Chromium process this script started, in KiB, by pid.
function resident() {
  const parents = new Map();
  for (const pid of readdirSync('/proc').filter((name) => /^\d+$/.test(name))) {
    try {
      const stat = readFileSync(`/proc/${pid}/stat`, 'utf8');
      parents.set(pid, stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]);
    } catch { /* gone */ }
  }
  const ours = (pid) => pid === String(process.pid) || (parents.has(pid) && pid !== '1' && ours(parents.get(pid)));
  const sizes = new Map();
  for (const pid of parents.keys()) {
    if (pid === String(process.pid) || !ours(pid)) continue;
    try {
      const kib = /VmRSS:\s+(\d+)/.exec(readFileSync(`/proc/${pid}/status`, 'utf8'));
      if (kib) sizes.set(pid, Number(kib[1]));
    } catch { /* gone */ }
  }
  return sizes;
}

// How far the browser's memory grows while it converts and saves a file, from
// a fresh page whose worker and module have started: the largest process's
// growth and all processes' together, in MiB.
async function growth(path, view = 'convert') {
  await freshPage();
  await page.waitForTimeout(1000);  // what the start left behind settles
  const before = resident();
  let peakTotal = 0;
  let peakProcess = 0;
  const sampler = setInterval(() => {
    let sum = 0;
    for (const [pid, kib] of resident()) {
      sum += kib - (before.get(pid) ?? 0);
      peakProcess = Math.max(peakProcess, kib - (before.get(pid) ?? 0));
    }
    peakTotal = Math.max(peakTotal, sum);
  }, 50);
  const run = await browserSeconds(path, view, false);
  clearInterval(sampler);
  await run.download.delete();
  return `${(peakProcess / 1024).toFixed(1)} MiB in one process, ${(peakTotal / 1024).toFixed(1)} MiB in all ` +
    `(${run.total.toFixed(1)} s)`;
}

// The largest source, sparse, beside one of a single MiB: what starting the
// worker costs any file, and what reading 2 GiB adds to it.
const largest = join(work, 'largest.iso');
closeSync(openSync(largest, 'w'));
truncateSync(largest, 2 ** 31 - 2048);
const small = join(work, 'small.iso');
closeSync(openSync(small, 'w'));
truncateSync(small, 2 ** 20);
console.log(`memory growth, 1 MiB source:        ${await growth(small)}`);
console.log(`memory growth, 2 GiB - 2048 source: ${await growth(largest)}`);
rmSync(join(work, 'native.bin'), { force: true });
spawnSync(resolve(quarnel), [largest, join(work, 'largest.bin')]);
console.log(`memory growth, checking its image and saving the ISO inside: ${await growth(join(work, 'largest.bin'), 'check')}`);

await context.close();
await browser.close();
server.close();
rmSync(work, { recursive: true, force: true });
