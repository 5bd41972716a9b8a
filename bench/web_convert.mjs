// The web page's conversion in each engine (tests/web/browser.mjs; ENGINES
// names fewer, and WebKit needs xvfb-run) beside native quarnel on the same
// file and beside the engine's floor, the fastest read alone of that file in
// a worker of the page's (bench/web_floor_worker.js, each way below tried),
// and how much memory the engine's processes take on while they convert
// and check a source of the size given and the largest the format allows
// (and, beside each Convert, while the floor's fastest way reads it alone).
// The check of the source's image is timed beside the same floor: the
// image is the source and a header area of a few hundred KiB. The largest
// source's Convert and From a folder (FOLDER_MIB of files of 10 MiB, default
// 300) are each timed beside the floor of what they read.
// Needs the built page (cmake --preset web && cmake --build --preset web), a
// native build and the test driver (npm ci --prefix tests/web):
//   node bench/web_convert.mjs [page dir] [quarnel] [MiB, default 512] [pairs, default 5]
// SCRATCH names the directory for the files (default /var/tmp, native quarnel
// writes to /dev/shm); with 0 pairs only the memory is measured. The floor's
// ways are first tried TRIALS times each (default 2), and the two fastest
// then timed in every pair.
import { spawnSync } from 'node:child_process';
import { randomFillSync } from 'node:crypto';
import { closeSync, mkdirSync, mkdtempSync, openSync, readFileSync, readdirSync, rmSync, writeSync } from 'node:fs';
import { basename, dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { launch, servePage } from '../tests/web/browser.mjs';

const [pageDir = 'build-web/web/page', quarnel = 'build/quarnel', mebibytes = '512', pairs = '5'] = process.argv.slice(2);
const work = mkdtempSync(join(process.env.SCRATCH ?? '/var/tmp', 'quarnel-web-bench-'));
const source = join(work, 'source.iso');
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const spread = (values, unit = '') => {
  const sorted = [...values].sort((a, b) => a - b);
  return `${sorted[0].toFixed(2)} / ${median(sorted).toFixed(2)} / ${sorted.at(-1).toFixed(2)}${unit}`;
};

// Bytes that vary, so that no layer can skip them.
function randomFile(path, bytes) {
  const file = openSync(path, 'w');
  const block = Buffer.alloc(1 << 20);
  for (let left = bytes; left > 0; left -= block.length) writeSync(file, randomFillSync(block), 0, Math.min(left, block.length));
  closeSync(file);
}
randomFile(source, Number(mebibytes) * 2 ** 20);
const largest = join(work, 'largest.iso');
randomFile(largest, 2 ** 31 - 2048);
const folder = { name: 'folder', paths: [] };
mkdirSync(join(work, folder.name));
const folderMiB = Number(process.env.FOLDER_MIB ?? 300);
for (let i = 0; i < folderMiB / 10; ++i) {
  folder.paths.push(join(work, folder.name, `part-${String(i).padStart(2, '0')}.bin`));
  randomFile(folder.paths.at(-1), 10 * 2 ** 20);
}

const nativeOut = join(mkdtempSync('/dev/shm/quarnel-web-bench-'), 'native.bin');
function nativeSeconds() {
  rmSync(nativeOut, { force: true });
  const start = process.hrtime.bigint();
  const result = spawnSync(resolve(quarnel), [source, nativeOut]);
  if (result.status !== 0) throw new Error('quarnel failed: ' + result.stderr);
  return Number(process.hrtime.bigint() - start) / 1e9;
}

// From the press of the view's button to the link ready to save, timed in the page.
const timedJob = (view) => new Promise((done) => {
  const link = document.getElementById(`${view}-download`);
  const result = document.getElementById(`${view}-result`);
  const start = performance.now();
  new MutationObserver((_, observer) => {
    if (!link.hidden || result.classList.contains('failed')) {
      observer.disconnect();
      done({ seconds: (performance.now() - start) / 1000, failed: result.classList.contains('failed') });
    }
  }).observe(document.body, { attributes: true, subtree: true, childList: true });
  document.getElementById(`${view}-start`).click();
});

// A fresh page, its worker and module started, the downloads kept from the disk.
async function freshPage(browser, url) {
  const page = await browser.newPage();
  await page.goto(url);
  await page.waitFor("() => document.body.dataset.ready === 'yes'");
  await page.evaluate(`() => document.addEventListener('click', (e) => e.target.matches('a[download]') &&
    e.preventDefault(), true)`);
  return page;
}

// The bench's folder goes in through an input of its own, which takes several
// files (no driver but Chromium's can choose a folder), and is then dropped
// on the folder view as the entries of one folder.
const folderInput = 'bench-folder';
const addInput = (id) => {
  const input = Object.assign(document.createElement('input'), { type: 'file', multiple: true, id, hidden: true });
  document.body.append(input);
  return true;
};
const dropChosen = ({ id, name }) => {
  const entries = [...document.getElementById(id).files].map((file) =>
    ({ name: file.name, isDirectory: false, file: (found) => found(file) }));
  const root = { name, isDirectory: true, createReader: () => ({ readEntries: (found) => found(entries.splice(0)) }) };
  folderView.dropped({ items: [{ webkitGetAsEntry: () => root }] });
  return true;
};

// Chooses `what` for `view`: a file's path, or the bench's folder; resolves
// to the id of the input that holds its files, once the view can start.
async function choose(page, view, what) {
  let id = `${view}-file`;
  if (typeof what === 'string') {
    await page.choose(`#${id}`, what);
  } else {
    id = folderInput;
    await page.evaluate(addInput.toString(), id);
    await page.choose(`#${id}`, what.paths);
    await page.evaluate(dropChosen.toString(), { id, name: what.name });
  }
  await page.waitFor(`() => !document.getElementById('${view}-start').disabled`);
  return id;
}

async function pageSeconds(browser, url, what, view) {
  const page = await freshPage(browser, url);
  await choose(page, view, what);
  const run = await page.evaluate(timedJob.toString(), view);
  await page.close();
  if (run.failed) throw new Error(`the page failed to ${view} ${what.name ?? what}`);
  return run.seconds;
}

// The ways of the floor: a worker reading the whole file, or two each reading half.
const floorWorker = readFileSync(join(dirname(fileURLToPath(import.meta.url)), 'web_floor_worker.js'), 'utf8');
const floorWays = [];
for (const workers of [1, 2]) {
  // (Three ahead is how the page reads slices.)
  for (const [read, size, ahead] of [['stream', 1, 0], ['slices', 1, 0], ['slices', 4, 0], ['slices', 1, 1],
    ['slices', 4, 1], ['slices', 4, 3], ['sync', 1, 0], ['sync', 4, 0]]) {
    const how = { stream: 'byte stream, views of', slices: 'slice().arrayBuffer() of', sync: 'FileReaderSync of' }[read];
    const more = ['', ', one ahead', ', two ahead', ', three ahead'][ahead];
    floorWays.push({ name: `${how} ${size} MiB${more}, ${workers} worker${workers > 1 ? 's' : ''}`,
      read, size: size << 20, ahead, workers });
  }
}

// Where an engine would copy a folder's image whole into memory to save it
// (Firefox, web/page.js), the page copies the disc into one Blob as it reads:
// the folder is also timed beside that copy alone.
const copyWay = { name: 'the files copied into one Blob (Response.blob())', read: 'copy', workers: 0 };

// In the page, the files input `id` holds read alone by `way`, in workers
// started beforehand from the floor worker's text, timed from their first
// message to their last answer: { seconds }, or { failure } (a value with an
// `error` WebKit's driver would take for its own).
const timedFloor = async ({ script, way: { read, size, ahead, workers }, id }) => {
  const files = [...document.getElementById(id).files];
  const total = files.reduce((sum, file) => sum + file.size, 0);
  const url = URL.createObjectURL(new Blob([script], { type: 'text/javascript' }));
  const started = [];
  try {
    if (read === 'copy') {
      const start = performance.now();
      const kept = await new Response(new Blob(files)).blob();
      return kept.size === total ? { seconds: (performance.now() - start) / 1000 }
        : { failure: `copied ${kept.size} bytes of ${total}` };
    }
    for (let i = 0; i < workers; ++i) {
      started.push(await new Promise((done, fail) => {
        const worker = new Worker(url);
        worker.onmessage = () => done(worker);
        worker.onerror = (event) => fail(new Error(event.message || 'the worker did not start'));
      }));
    }
    // Halves on a MiB of all the files in turn: no slice of either straddles them.
    const half = Math.ceil(total / 2 / (1 << 20)) * (1 << 20);
    const halves = [[], []];
    for (let at = 0, i = 0; i < files.length; at += files[i++].size) {
      if (at < half) halves[0].push(files[i].slice(0, half - at));
      if (at + files[i].size > half) halves[1].push(files[i].slice(Math.max(0, half - at)));
    }
    const parts = workers === 1 ? [files] : halves;
    const start = performance.now();
    const answers = await Promise.all(started.map((worker, i) => new Promise((done) => {
      worker.onmessage = ({ data }) => done(data);
      worker.onerror = (event) => done({ error: event.message || 'the worker failed' });
      worker.postMessage({ blobs: parts[i], way: read, size, ahead });
    })));
    const seconds = (performance.now() - start) / 1000;
    const failed = answers.find((answer) => answer.error);
    const bytes = answers.reduce((sum, answer) => sum + (answer.bytes ?? 0), 0);
    return failed ? { failure: failed.error } : bytes === total ? { seconds }
      : { failure: `read ${bytes} bytes of ${total}` };
  } catch (error) {
    return { failure: String(error) };
  } finally {
    started.forEach((worker) => worker.terminate());
    URL.revokeObjectURL(url);
  }
};

// The seconds `way` takes to read `what` (a file's path, or the folder) alone,
// or why it failed, in a fresh page of its own, so that no way reads after
// what another left behind.
async function floorSeconds(browser, url, what, way) {
  const page = await freshPage(browser, url);
  const id = await choose(page, typeof what === 'string' ? 'convert' : 'folder', what);
  const time = await page.evaluate(timedFloor.toString(), { script: floorWorker, way, id });
  await page.close();
  return time;
}

// Resident memory of every browser process this script started, in KiB, by pid.
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
      const status = readFileSync(`/proc/${pid}/status`, 'utf8');
      const field = (name) => Number(new RegExp(`${name}:\\s+(\\d+)`).exec(status)?.[1] ?? 0);
      const name = /Name:\s+(.*)/.exec(status)?.[1];
      if (/VmRSS/.test(status)) sizes.set(pid, { name, all: field('VmRSS'), anon: field('RssAnon'), shmem: field('RssShmem') });
    } catch { /* gone */ }
  }
  return sizes;
}

// A browser just started still frees memory and pages its helper processes in
// for seconds, with no page doing anything (Firefox's three helpers took on
// 1.7 MiB each of their files 5.4 s after its launch, and less up to 13 s; its
// parent gave back 6 to 15 MiB), which would count as a job's growth or hide
// it. So a job's growth is measured in a browser kQuietAfterMs after its
// launch, once `total()` (KiB) has stayed within kSettledKiB for kSettledMs
// (or after kSettleLimitMs).
const kQuietAfterMs = 15000;
async function quietBrowser(engine) {
  const launched = Date.now();
  const browser = await launch(engine);
  await new Promise((done) => setTimeout(done, Math.max(0, launched + kQuietAfterMs - Date.now())));
  return browser;
}
const kSettledKiB = 1024;
const kSettledMs = 3000;
const kSettleLimitMs = 30000;
async function settled(total) {
  const samples = [];
  for (const start = Date.now(); Date.now() - start < kSettleLimitMs;) {
    samples.push({ at: Date.now(), kib: total() });
    const recent = samples.filter(({ at }) => at >= samples.at(-1).at - kSettledMs).map(({ kib }) => kib);
    if (samples.at(-1).at - samples[0].at >= kSettledMs && Math.max(...recent) - Math.min(...recent) < kSettledKiB) {
      return;
    }
    await new Promise((done) => setTimeout(done, 250));
  }
  console.log(`  the engine's memory did not settle in ${kSettleLimitMs / 1000} s`);
}

// The growth of the engine's processes' resident memory, summed, while a job
// runs, in MiB: all of it, and the anonymous part (without the pages of files
// the engine maps, which the kernel takes back as it needs). With `way`, while
// the floor's read of that way runs instead (its workers started in it).
async function growth(browser, url, what, view, way = null) {
  const page = await freshPage(browser, url);
  const id = await choose(page, view, what);
  const sum = (sizes) => [...sizes.values()].reduce((a, b) => ({ all: a.all + b.all, anon: a.anon + b.anon }),
    { all: 0, anon: 0 });
  await settled(() => sum(resident()).all);
  const first = resident();
  const before = sum(first);
  let peak = before;
  let highest = first;  // by process, when all of it was highest
  const sampler = setInterval(() => {
    const sizes = resident();
    const now = sum(sizes);
    if (now.all > peak.all) highest = sizes;
    peak = { all: Math.max(peak.all, now.all), anon: Math.max(peak.anon, now.anon) };
  }, 50);
  const run = way ? await page.evaluate(timedFloor.toString(), { script: floorWorker, way, id })
    : await page.evaluate(timedJob.toString(), view);
  // And a while after: an engine may copy what the link offers once its URL is made (Firefox did, whole).
  await new Promise((done) => setTimeout(done, 5000));
  clearInterval(sampler);
  await page.close();
  if (run.failed || run.failure) throw new Error(`the page failed to ${way?.name ?? view} ${what.name ?? what}`);
  const mib = (kib) => (kib / 1024).toFixed(1);
  // The processes that grew most, for what the growth is made of: all (anonymous, shared memory).
  const grown = [...highest].map(([pid, now]) => ({ now, was: first.get(pid) ?? { all: 0, anon: 0, shmem: 0 } }))
    .filter(({ now, was }) => now.all - was.all >= 1024).sort((a, b) => (b.now.all - b.was.all) - (a.now.all - a.was.all))
    .map(({ now, was }) => `${now.name} ${mib(now.all - was.all)} (${mib(now.anon - was.anon)}, ${mib(now.shmem - was.shmem)})`);
  console.log(`  at the peak: ${grown.join('; ') || 'no process grew 1 MiB'}`);
  return `${mib(peak.all - before.all)} (${mib(peak.anon - before.anon)}) MiB`;
}

spawnSync(resolve(quarnel), [largest, join(work, 'largest.bin')]);
spawnSync(resolve(quarnel), [source, join(work, 'source.bin')]);
const server = await servePage(resolve(pageDir));
const rows = [];
for (const engine of (process.env.ENGINES ?? 'chromium firefox webkit').split(/\s+/).filter(Boolean)) {
  const browser = await launch(engine);
  // The trials: every way read TRIALS times (default 2), in turns, those that
  // fail left out; the two fastest by their median go on into the pairs.
  const trials = new Map(floorWays.map((way) => [way, []]));
  for (let trial = 0; trial < Number(process.env.TRIALS ?? 2) && Number(pairs) > 0; ++trial) {
    for (const [way, times] of trial % 2 ? [...trials].reverse() : [...trials]) {
      const time = await floorSeconds(browser, server.url, source, way);
      if (time.failure) {
        console.log(`${engine} trial, ${way.name}: failed: ${time.failure}`);
        trials.delete(way);
      } else {
        times.push(time.seconds);
      }
    }
  }
  const tried = [...trials].filter(([, times]) => times.length > 0);  // none with 0 pairs
  for (const [way, times] of tried) console.log(`${engine} trial, ${way.name}: ${spread(times, ' s')}`);
  const finalists = tried.sort(([, a], [, b]) => median(a) - median(b)).slice(0, 2).map(([way]) => way);
  const ratios = [];
  // What is read, each with its floor's seconds by way and the jobs timed beside it, a pair each.
  const read = [
    { what: source, jobs: [{ name: 'page', view: 'convert', what: source },
      { name: 'check', view: 'check', what: join(work, 'source.bin') }] },  // the check of the source's image
    { what: largest, jobs: [{ name: 'page 2 GiB - 2048', view: 'convert', what: largest }] },
    { what: folder, jobs: [{ name: 'folder', view: 'folder', what: folder }], copy: copyWay },
  ];
  for (const target of read) {
    target.floors = new Map([...finalists, target.copy].filter(Boolean).map((way) => [way, []]));
    target.jobs.forEach((job) => { job.seconds = []; });
  }
  nativeSeconds();  // untimed: the first run alone finds tmpfs and the page cache cold
  for (let pair = 0; pair < Number(pairs); ++pair) {
    const native = nativeSeconds();
    for (const { what, floors, jobs } of read) {
      // The jobs and the floor take turns at going first, the finalists at their order.
      const floor = async () => {
        for (const way of pair % 2 ? [...floors.keys()].reverse() : floors.keys()) {
          const time = await floorSeconds(browser, server.url, what, way);
          if (time.failure) throw new Error(`${engine}, ${way.name} failed after its trials: ${time.failure}`);
          floors.get(way).push(time.seconds);
        }
      };
      if (pair % 2) await floor();
      for (const job of jobs) job.seconds.push(await pageSeconds(browser, server.url, job.what, job.view));
      if (pair % 2 === 0) await floor();
    }
    ratios.push(read[0].jobs[0].seconds.at(-1) / native);
  }
  // Closed before the next is launched: WebKit's driver would find its port taken.
  await browser.close();
  const row = { engine, ratio: ratios.length ? spread(ratios, ' x') : '-' };
  // Each floor is the finalist of the lower median over the pairs.
  const floorWay = new Map();  // by what it reads
  for (const { what, floors, jobs, copy } of read) {
    const of = basename(what.name ?? what);
    if (pairs === '0') floors.clear();  // the copy's way goes in untimed
    for (const [way, times] of floors) console.log(`${engine} floor of ${of}, ${way.name}: ${spread(times, ' s')}`);
    const [way, fastest] = [...floors].filter(([candidate]) => candidate !== copy)
      .sort(([, a], [, b]) => median(a) - median(b))[0] ?? [];
    const over = (job, times) => spread(job.seconds.map((seconds, i) => seconds / times[i]), ' x');
    for (const job of jobs) {
      if (job.seconds.length) console.log(`${engine} ${job.name}: ${spread(job.seconds, ' s')}`);
      row[`${job.name} / floor`] = way ? over(job, fastest) : '-';
      if (copy) row[`${job.name} / copy`] = way ? over(job, floors.get(copy)) : '-';
    }
    row[`floor of ${of}`] = way ? `${median(fastest).toFixed(2)} s, ${way.name}` : '-';
    floorWay.set(what, way);
    if (copy) row[`copy of ${of}`] = way ? `${median(floors.get(copy)).toFixed(2)} s` : '-';
  }
  for (const [name, path, view] of [[`convert ${mebibytes} MiB`, source, 'convert'],
    ['convert 2 GiB - 2048', largest, 'convert'], [`check ${mebibytes} MiB`, join(work, 'source.bin'), 'check'],
    ['check 2 GiB - 2048', join(work, 'largest.bin'), 'check'], [`folder ${folderMiB} MiB`, folder, 'folder']]) {
    // Each in a browser of its own: what a job leaves running (Firefox's parent
    // still busy with the 2 GiB image offered, for seconds after its page has
    // closed) would count as the next job's growth.
    const alone = await quietBrowser(engine);
    row[name] = await growth(alone, server.url, path, view);
    await alone.close();
    console.log(`${engine}, ${name}: ${row[name]}`);
    // The floor's own growth beside a Convert's: what the engine's read alone takes.
    if (view === 'convert' && floorWay.get(path)) {
      const bare = await quietBrowser(engine);
      row[`floor's, ${name}`] = await growth(bare, server.url, path, view, floorWay.get(path));
      await bare.close();
      console.log(`${engine}, the floor's read alone, ${name}: ${row[`floor's, ${name}`]}`);
    }
  }
  rows.push(row);
  console.log(JSON.stringify(row));
}
console.log(`source: ${mebibytes} MiB of random bytes; time ready to save / native quarnel to tmpfs, ` +
  '/ the floor (the fastest way\'s read alone, its median), pairs (min / median / max); ' +
  'memory growth of the engine\'s processes (anonymous memory)');
console.table(rows);
server.close();
rmSync(work, { recursive: true, force: true });
rmSync(resolve(nativeOut, '..'), { recursive: true, force: true });
