// The web page in each engine (browser.mjs: Chromium, Firefox ESR, WebKitGTK;
// QUARNEL_WEB_ENGINES names fewer) against the command-line programs: one
// table of cases, each run from a local web server and from the folder as file://.
// A conversion's download must be byte for byte what quarnel writes, a check's
// report what quarnel-inspect prints (its disc's tree what /files lists, a
// file's link what /unpack: writes), a refusal its error line, and nothing may
// be downloaded after a failure; focus ends on what the job ended with, each
// view works by keys alone, its controls in order, and the console stays
// clean. Chromium also runs axe-core on both colour schemes and saves a
// screenshot of each view (docs/).
// A folder's download must be what quarnel-pack writes for it, a refusal its line.
// node web_test.mjs <page dir> <quarnel> <quarnel-inspect> <samples dir> <quarnel-pack>
import { spawnSync } from 'node:child_process';
import { createHash, randomBytes } from 'node:crypto';
import { appendFileSync, closeSync, copyFileSync, mkdirSync, mkdtempSync, openSync, readFileSync, readSync, rmSync, truncateSync, unlinkSync,
  utimesSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { createRequire } from 'node:module';
import { fileUrl, launch, runJob, servePage } from './browser.mjs';

const [pageDir, quarnel, inspect, samples, pack] = process.argv.slice(2).map((path) => resolve(path));
const work = mkdtempSync(join(tmpdir(), 'quarnel-web-'));
const at = (name) => join(work, name);
const run = (command, args, options) => spawnSync(command, args, { encoding: 'utf8', ...options });
const errorLine = (text) => text.split('\n').find((line) => line.startsWith('Error: ')) ?? '';

// The discs: the sample, genisoimage's and xorriso's kinds, and the edges.
mkdirSync(at('tree/docs'), { recursive: true });
writeFileSync(at('tree/docs/readme.txt'), 'A small disc for the browser tests.\n'.repeat(200));
writeFileSync(at('tree/boot.img'), Buffer.alloc(2048, 0xAA));
const genisoimage = (name, ...options) => run('genisoimage', ['-quiet', ...options, '-o', at(name), at('tree')]);
copyFileSync(join(samples, 'sample.iso'), at('sample.iso'));
genisoimage('plain.iso', '-V', 'PLAIN');
genisoimage('joliet.iso', '-J', '-V', 'JOLIET');
genisoimage('boot.iso', '-J', '-V', 'BOOT', '-b', 'boot.img', '-no-emul-boot', '-boot-load-size', '4');
genisoimage('udf.iso', '-udf', '-V', 'UDF');
run('xorriso', ['-as', 'mkisofs', '-quiet', '-J', '-V', 'XORRISO', '-o', at('xorriso.iso'), at('tree')]);
writeFileSync(at('empty.iso'), '');
writeFileSync(at('one-sector.iso'), Buffer.alloc(2048, 0x5A));
writeFileSync(at('odd.iso'), Buffer.alloc(2049));
// Converted by two workers, each its part: every block unlike the others, so that a table put in the wrong place shows.
writeFileSync(at('halves.iso'), randomBytes(5 * 2 ** 20 + 6144));
writeFileSync(at('2gib.iso'), '');
truncateSync(at('2gib.iso'), 2 ** 31);
writeFileSync(at('large.iso'), '');
truncateSync(at('large.iso'), 2 ** 31 - 2048);

// Modem images: valid ones from quarnel, then damaged copies.
const convertNatively = (iso, image, model) =>
  run(quarnel, [...(model === 'E220' ? ['/model:E220'] : []), at(iso), at(image)]);
convertNatively('sample.iso', 'sample.bin', 'Default');
convertNatively('udf.iso', 'udf-e220.bin', 'E220');
convertNatively('boot.iso', 'boot.bin', 'Default');
convertNatively('empty.iso', 'empty.bin', 'Default');
convertNatively('halves.iso', 'halves.bin', 'Default');
const damaged = (name, change, from = 'sample.bin') => {
  copyFileSync(at(from), at(name));
  const bytes = readFileSync(at(name));
  writeFileSync(at(name), change(bytes));
};
damaged('bad-block.bin', (b) => { b[b.length - 100] ^= 1; return b; });
damaged('truncated.bin', (b) => b.subarray(0, b.length - 2048));
damaged('block-size.bin', (b) => { b.writeUInt16LE(2048, 320 + 94); return b; });
damaged('trailing.bin', (b) => Buffer.concat([b, Buffer.alloc(2048)]));
// Checked by two workers: a block the second checksums is bad.
damaged('bad-halves.bin', (b) => { b[b.length - 5000] ^= 1; return b; }, 'halves.bin');

// Chosen, then changed or removed before the page reads it. The browser knows
// a file changed by its modification time, which the kernel keeps to a clock
// tick: a change as quick as this one's gets a later time set, as any change a
// person makes would have.
const changed = (name) => ({
  path: at(name),
  afterChoosing: () => {
    appendFileSync(at(name), Buffer.alloc(2048, 1));
    const later = new Date(Date.now() + 2000);
    utimesSync(at(name), later, later);
  },
});
const removed = (name) => ({ path: at(name), afterChoosing: () => unlinkSync(at(name)) });
const copied = (from, to) => { copyFileSync(at(from), at(to)); return to; };
const unreadable = 'Error: unable to read source file.';
const unreadableImage = 'Error: unable to read image file.';
// Folders, each file given as [path, bytes, time]; times set explicitly, the
// browser and quarnel-pack both reading them: a fraction of a second, and
// one before 1970, which rounds down on both sides.
const folders = new Map();
const folder = (name, given, empties = []) => {
  const files = given.map(([path, bytes, time = '2024-05-01T12:00:00Z']) => [path, bytes, time]);
  for (const [path, bytes, time] of files) {
    mkdirSync(join(at('folders'), name, path, '..'), { recursive: true });
    writeFileSync(join(at('folders'), name, path), bytes ?? '');
    utimesSync(join(at('folders'), name, path), new Date(time), new Date(time));
  }
  for (const [path, time] of empties) {
    mkdirSync(join(at('folders'), name, path), { recursive: true });
    utimesSync(join(at('folders'), name, path), new Date(time), new Date(time));
  }
  folders.set(name, { files: files.map(([path, bytes, time]) =>
    [path, bytes === null ? null : Buffer.from(bytes).toString('base64'), new Date(time).getTime()]), empties });
};
const bytes = (length, seed) => Buffer.from(Array.from({ length }, (_, i) => (i * 31 + seed) & 0xFF));
folder('driver', [['autorun.inf', '[autorun]\r\nopen=setup.exe\r\nicon=setup.exe,0\r\n'],
  ['setup.exe', bytes(1536 * 1024 + 5, 1), '2023-11-14T22:13:20.750Z'], ['Drivers/Win/usb.sys', bytes(4097, 2)],
  ['Drivers/Mac/Driver.pkg', bytes(2048, 3)], ['readme.txt', 'Plug the modem in.\n'],
  // Over 7 files: with the metadata, more parts read from files than Firefox keeps out of its memory.
  ['Drivers/Win/usb.inf', '[Version]\r\n'], ['Drivers/Win/usb.cat', bytes(700, 6)], ['Drivers/Linux/README', 'modprobe\n'],
  ['Drivers/Linux/rules', bytes(3000, 7)]]);
// WebKit takes a File made with a time before 1970 for one of unknown time, now at every look: chosen only.
folder('old', [['readme.txt', 'Plug the modem in.\n', '1969-12-31T23:59:59.500Z']]);
folder('unicode', [['Müller Straße.txt', 'ü'], ['日本語/説明書.txt', 'ja'], ['ελληνικά.doc', bytes(3000, 4)],
  ['😀 smile.txt', 'smile'], ['the longest name a disc holds, sixty-four UTF-16 units, done.txt', 'x']]);
folder('empties', [['empty.txt', ''], ['sub/also empty', ''], ['sub/one.bin', 'a']]);
folder('with-empty', [['a.txt', 'a'], ['b.txt', 'b'], ['c.txt', 'c'], ['sub/d.txt', 'd']],
  [['empty folder', '2022-02-02T02:02:02Z']]);
folder('deep', [['1/2/3/4/5/6/7/bottom.txt', 'deepest']]);
// Below the eighth level the primary tree moves folders into its relocation folder.
folder('twelve-deep', [['1/2/3/4/5/6/7/8/9/10/11/bottom.txt', 'twelve levels'], ['1/2/3/4/5/6/7/8/top.txt', 'eight']]);
folder('refused', [['fine.txt', 'fine'], ['what?.txt', 'no']]);
folder('cases', [['Readme.txt', 'a'], ['README.TXT', 'b']]);
folder('two-ways', [['caf\u00e9.txt', 'a'], ['cafe\u0301.txt', 'b']]);
folder('device', [['fine.txt', 'fine'], ['docs/Con.txt', 'no']]);
// Large enough to be read by two workers, both halves failing once it changes.
folder('changed', [['data.bin', randomBytes(3 * 2 ** 20)]]);
// Its disc cut between two workers inside the large file, the small one read by the second.
folder('halves', [['large.bin', randomBytes(3 * 2 ** 20 + 100)], ['small.txt', 'after the cut']]);
// Files over a slice (4 MiB, WebKit's) that begin inside a chunk, the cut inside the first: reads across
// slices, the next file's first slice read ahead.
folder('slices', [['a.bin', randomBytes(5 * 2 ** 20 + 7)], ['b.bin', randomBytes(4 * 2 ** 20 + 1)], ['c.txt', 'c']]);
// Large files between runs of small ones: where Firefox would copy a Blob of more than 8 parts read from
// files, the large stay parts of their own and each run between them is copied into one.
folder('runs', Array.from({ length: 16 }, (_, i) => [`f${String(i).padStart(2, '0')}.bin`,
  bytes(i % 5 === 2 ? 70000 + i : 100 + 37 * i, i + 8)]));
// Chromium's dialog gives the "\\" in a name as "/".
folder('backslash', [['fine.txt', 'fine'], ['back\\slash.txt', 'no']]);
folder('twice', [['a\\b/f', '1'], ['a/b/f', '2']]);
folder('bare', [], [['nothing', '2022-02-02T02:02:02Z']]);
// Dropped, a file given as null cannot be read.
folder('unreadable', [['a.txt', 'a'], ['sub\x07/b.txt', null]]);

// A folder dropped on the view, the same in every engine: its files made in
// the page, handed over as the entries of a drop that give out two names a
// batch, empty folders with their times.
const dropInPage = ({ name, files, empties }) => {
  const directory = (entry, time) => ({ name: entry, isDirectory: true, children: new Map(),
    getMetadata: (found) => found({ modificationTime: new Date(time) }),
    createReader() {
      const left = [...this.children.values()];
      return { readEntries: (found) => found(left.splice(0, 2)) };
    } });
  const root = directory(name, 0);
  const place = (names) => names.reduce((node, part) =>
    node.children.get(part) ?? node.children.set(part, directory(part, 0)).get(part), root);
  for (const [path, base64, time] of files) {
    const names = path.split('/');
    const file = base64 === null ? null : new File([Uint8Array.from(atob(base64), (c) => c.charCodeAt(0))], names.at(-1),
      { lastModified: time });
    place(names.slice(0, -1)).children.set(names.at(-1), { name: names.at(-1), isDirectory: false,
      file: (found, failed) => (file === null ? failed(new Error('unreadable')) : found(file)) });
  }
  for (const [path, time] of empties) {
    const names = path.split('/');
    place(names.slice(0, -1)).children.set(names.at(-1), directory(names.at(-1), new Date(time).getTime()));
  }
  folderView.dropped({ items: [{ webkitGetAsEntry: () => root }] });
  return true;
};
const dropped = (name) => ({ choose: (page) => page.evaluate(dropInPage.toString(), { name, ...folders.get(name) }) });
// Dropped on a file view: two files, or a folder named `name`.
const dropOnFileView = ({ view, name }) => {
  const files = name ? [] : [new File(['a'], 'a.iso'), new File(['b'], 'b.iso')];
  const items = name ? [{ webkitGetAsEntry: () => ({ name, isDirectory: true }) }] : files;
  ({ convert: convertView, check: checkView })[view].dropped({ items, files });
  return true;
};
const droppedOn = (view, name) => ({ choose: (page) => page.evaluate(dropOnFileView.toString(), { view, name }) });

// Firefox does not notice a file grown since it was chosen and reads it as it
// was: the result must then be the program's on the file as chosen.

// Each view's stops for Tab, in order, once its file is chosen.
const stops = { convert: ['convert-file', 'convert-model', 'convert-start'], check: ['check-file', 'check-start'],
  folder: ['folder-file', 'folder-model', 'folder-label', 'folder-iso', 'folder-start'] };

const cases = [
  // With keys alone (browser.mjs, byKeys), the file chosen through the driver.
  { view: 'folder', file: 'driver', drop: true, model: 'E220', iso: true, keys: true },
  { view: 'convert', file: 'sample.iso', model: 'E220', keys: true },
  { view: 'convert', file: 'large.iso', cancel: true, keys: true, expect: 'Cancelled: nothing was saved.' },
  { view: 'check', file: 'sample.bin', keys: true },
  { view: 'folder', file: 'driver', drop: true },
  { view: 'folder', file: 'driver', drop: true, model: 'E220', label: 'MODEM DRIVER' },
  { view: 'folder', file: 'driver', drop: true, iso: true },
  { view: 'folder', file: 'unicode', drop: true, label: 'Ünïcödé 😀' },
  ...['empties', 'with-empty', 'deep', 'twelve-deep', 'refused', 'cases', 'two-ways', 'device'].map((name) =>
    ({ view: 'folder', file: name, drop: true })),
  { view: 'folder', file: 'driver', drop: true, label: 'seventeen letters' },
  { view: 'folder', file: 'halves', drop: true },
  { view: 'folder', file: 'slices', drop: true },
  { view: 'folder', file: 'runs', drop: true },
  // Through the dialog, where the driver can choose a folder.
  ...['driver', 'backslash'].map((name) => ({ view: 'folder', file: name, engines: ['chromium'] })),
  { view: 'folder', file: 'twice', engines: ['chromium'],
    expect: 'This browser gave "twice/a/b/f" twice: a folder\'s name holds "\\".' },
  { view: 'folder', file: 'bare', engines: ['chromium'],
    expect: 'This browser gave no files: the folder has none, or only empty folders. Drop it here instead to pack it.' },
  { view: 'convert', file: 'two files', dropOn: [], expect: 'Drop one file here.' },
  { view: 'check', file: 'driver', dropOn: ['driver'], expect: '"driver" is a folder, not a file.' },
  { view: 'folder', file: 'unreadable', drop: true, expect: 'Error: unable to read "unreadable/sub\\x07/b.txt".' },
  { view: 'folder', file: 'old', drop: true, engines: ['chromium', 'firefox'] },
  { view: 'folder', file: 'changed', engines: ['chromium'],
    make: () => ({ ...changed('folders/changed/data.bin'), path: at('folders/changed') }), expect: 'Error: unable to read "changed/data.bin".' },
  ...['sample.iso', 'plain.iso', 'joliet.iso', 'boot.iso', 'udf.iso', 'xorriso.iso', 'empty.iso', 'one-sector.iso']
    .map((iso) => ({ view: 'convert', file: iso })),
  { view: 'convert', file: 'sample.iso', model: 'E220' },
  { view: 'convert', file: 'udf.iso', model: 'E220' },
  { view: 'convert', file: 'odd.iso' },
  { view: 'convert', file: '2gib.iso' },
  { view: 'convert', file: 'changed.iso', make: () => changed(copied('sample.iso', 'changed.iso')), expect: unreadable,
    asChosenIn: 'firefox' },
  { view: 'convert', file: 'removed.iso', make: () => removed(copied('sample.iso', 'removed.iso')), expect: unreadable },
  { view: 'convert', file: 'halves.iso' },
  { view: 'convert', file: 'changed-halves.iso', make: () => changed(copied('halves.iso', 'changed-halves.iso')),
    expect: unreadable, asChosenIn: 'firefox' },
  { view: 'convert', file: 'large.iso', cancel: true, expect: 'Cancelled: nothing was saved.', then: 'sample.iso' },
  ...['sample.bin', 'udf-e220.bin', 'boot.bin', 'empty.bin', 'bad-block.bin', 'truncated.bin', 'block-size.bin',
    'trailing.bin', 'sample.iso', 'halves.bin', 'bad-halves.bin'].map((image) => ({ view: 'check', file: image })),
  { view: 'check', file: 'changed.bin', make: () => changed(copied('sample.bin', 'changed.bin')),
    expect: unreadableImage, asChosenIn: 'firefox' },
  { view: 'check', file: 'changed-halves.bin', make: () => changed(copied('halves.bin', 'changed-halves.bin')),
    expect: unreadableImage, asChosenIn: 'firefox' },
];

// What the command line does with the case's file: { ok, message, output, report }.
function native(test) {
  const out = at('native.out');
  rmSync(out, { force: true });
  if (test.view === 'convert') {
    const result = convertNatively(test.file, 'native.out', test.model);
    return { ok: result.status === 0, message: errorLine(result.stderr), output: out };
  }
  if (test.view === 'folder') {
    const options = [...(test.model ? ['/model:' + test.model] : []), ...(test.label ? ['/label:' + test.label] : []),
      ...(test.iso ? ['/iso'] : [])];
    const result = run(pack, [...options, test.file, out], { cwd: at('folders') });
    return { ok: result.status === 0, message: errorLine(result.stderr), output: out };
  }
  const result = run(inspect, [test.file, out], { cwd: work });
  return { ok: result.status === 0, message: errorLine(result.stderr), output: out, report: result.stdout,
    disc: result.status === 0 ? nativeDisc(test.file) : null };
}

// The disc as the page's check shows it (browser.mjs, discTree), from
// quarnel-inspect /files and /unpack:.
function nativeDisc(image) {
  rmSync(at('unpacked'), { recursive: true, force: true });
  const listed = run(inspect, ['/files', `/unpack:${at('unpacked')}`, image], { cwd: work });
  const rows = listed.stdout.split('\n\n').find((block) => block.startsWith('Files on the disc')).split('\n').slice(1);
  const lines = rows.filter((row) => !row.includes('Unreadable:')).map((row) => {
    const [, size, path] = row.match(/^ *(\d+) +\S+ \S+ {2}(.*)$/);
    return path.endsWith('/') ? path : `${size} ${path}`;
  });
  const first = lines.find((line) => !line.endsWith('/'));
  const digest = first && createHash('sha256').update(readFileSync(at(`unpacked/${first.replace(/^\d+ /, '')}`)))
    .digest('hex');
  return { lines, fault: errorLine(listed.stderr), first: digest ?? null };
}

// The SHA-256 of each 16 MiB piece of a file, as browser.mjs's savedPieces gives them.
function pieces(path) {
  const digests = [];
  const fd = openSync(path, 'r');
  const buffer = Buffer.alloc(1 << 24);
  for (let got; (got = readSync(fd, buffer, 0, buffer.length, null)) > 0 || digests.length === 0;) {
    digests.push(createHash('sha256').update(buffer.subarray(0, got)).digest('hex'));
    if (got === 0) break;
  }
  closeSync(fd);
  return digests;
}
const same = (got, path) => got !== null && JSON.stringify(got) === JSON.stringify(pieces(path));

function verdict(test, expected, got) {
  const wrong = [];
  if (test.expect !== undefined) {
    if (got.result !== test.expect) wrong.push(`shows "${got.result}", not "${test.expect}"`);
  } else if (expected.ok) {
    if (got.failed) wrong.push(`fails: "${got.result}"`);
    if (!same(got.pieces, expected.output)) wrong.push('download differs from the program\'s output');
  } else if (got.result !== expected.message) {
    wrong.push(`shows "${got.result}", not "${expected.message}"`);
  }
  const discOf = (d) => d && JSON.stringify([d.lines, d.fault, d.first]);  // WebKit's driver reorders keys
  if (expected.disc && test.expect === undefined && discOf(got.disc) !== discOf(expected.disc)) {
    wrong.push(`disc shown as ${JSON.stringify(got.disc)}, not ${JSON.stringify(expected.disc)}`);
  }
  if (expected.report !== undefined && test.expect === undefined && got.report !== expected.report) {
    wrong.push(`report differs:\n${got.report}\n--- quarnel-inspect:\n${expected.report}`);
  }
  if ((test.expect !== undefined || !expected.ok) && got.downloads !== 0) wrong.push('downloaded after a failure');
  const focus = got.link ? `${test.view}-download` : `${test.view}-result`;
  if (!got.refused && got.focused !== focus) wrong.push(`focus on "${got.focused}", not "${focus}"`);
  if (test.keys) {
    const { forth, back, again } = got.way;
    const want = stops[test.view];
    for (const [way, along] of [[forth.filter((id) => id.startsWith(`${test.view}-`)), want],
      [back.reverse(), want.slice(0, -1)], [again, want.slice(1)]]) {
      if (way.join() !== along.join()) wrong.push(`keys go ${way.join(' ')}, not ${along.join(' ')}`);
    }
    if (forth.slice(1).includes('body')) wrong.push('Tab leaves focus on the body');
  }
  // The file input reads as empty after a drop: the view names what it took.
  const files = folders.get(test.file)?.files.length;
  if (test.drop && !got.refused && !got.chosenLine.startsWith(`Dropped ${test.file}: ${files} file`)) {
    wrong.push(`says "${got.chosenLine}" once dropped`);
  }
  if (test.cancel && got.startFocus !== `${test.view}-cancel`) wrong.push(`focus on "${got.startFocus}" while it runs`);
  return wrong;
}

// axe-core on the page in both colour schemes, each view with a finished job
// (a failed check's report shown), and a screenshot of each view.
const axe = readFileSync(createRequire(import.meta.url).resolve('axe-core/axe.min.js'), 'utf8');
async function chromiumOnly(browser, url) {
  const wrong = [];
  const page = await browser.newPage();
  await page.goto(url);
  for (const [view, file] of [['convert', at('sample.iso')], ['check', at('bad-block.bin')], ['folder', at('folders/driver')]]) {
    await runJob(page, view, file);
    await (await page.tab.$(`#${view}`)).screenshot({ path: join(docs, `web-${view}.png`) });
  }
  await page.tab.evaluate(axe);
  for (const scheme of ['light', 'dark']) {
    await page.tab.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: scheme }]);
    const { violations } = await page.tab.evaluate(() => axe.run());
    wrong.push(...violations.map((v) => `axe, ${scheme}: ${v.id}: ${v.nodes.map((n) => n.target + " " + n.any.map((a) => a.message).join()).join("; ")}`));
  }
  wrong.push(...page.errors.map((e) => `console: ${e}`));
  await page.close();
  return wrong;
}

// The page with its modules' WebAssembly changed in the first bytes: `which`
// 'all' (every view then says so in the page's own words, and nothing can
// start) or 'simd', the SIMD one alone, as an engine without SIMD refuses it.
function brokenCopy(which) {
  const dir = at(`broken-${which}`);
  mkdirSync(dir);
  ['quarnel.js', 'style.css'].forEach((name) => copyFileSync(join(pageDir, name), join(dir, name)));
  const page = readFileSync(join(pageDir, 'index.html'), 'utf8');
  const simd = "quarnelSimdWasm = 'data:application/octet-stream;base64,AGFzbQ";
  if (!page.includes(simd)) throw new Error('the page carries no SIMD module');
  writeFileSync(join(dir, 'index.html'), which === 'all' ? page.replaceAll('base64,AGFzbQ', 'base64,AAAAAA')
    : page.replace(simd, simd.replace('AGFzbQ', 'AAAAAA')));
  return dir;
}
const brokenDir = brokenCopy('all');
const noSimdDir = brokenCopy('simd');
const brokenViews = (views) => views.map((v) => [document.getElementById(`${v}-result`).textContent,
  document.getElementById(`${v}-result`).classList.contains('failed') && document.getElementById(`${v}-start`).disabled]);
async function brokenPage(browser, url) {
  const page = await browser.newPage();
  await page.goto(url);
  const views = Object.keys(stops);
  await page.waitFor(((vs) => vs.every((v) => document.getElementById(`${v}-result`).textContent !== '')).toString(), views);
  const wrong = (await page.evaluate(brokenViews.toString(), views)).flatMap(([line, failed], i) =>
    (/^This browser cannot start the converter( \(.+\))?\.$/.test(line) && failed ? [] : [`${views[i]} shows "${line}"`]));
  wrong.push(...page.errors.map((e) => `console: ${e}`));
  await page.close();
  return wrong;
}

const docs = resolve(samples, '..', 'docs');
const server = await servePage(pageDir);
const brokenServer = await servePage(brokenDir);
const noSimdServer = await servePage(noSimdDir);
let failures = 0;
let total = 0;
const chosen = (process.env.QUARNEL_WEB_ENGINES ?? 'chromium firefox webkit').split(/\s+/).filter(Boolean);
for (const engine of chosen) {
  const browser = await launch(engine);
  if (engine === 'chromium') {
    const wrong = await chromiumOnly(browser, server.url);
    console.log(`${wrong.length === 0 ? 'ok  ' : 'FAIL'} chromium: axe-core, screenshots` +
      wrong.map((w) => '\n     ' + w).join(''));
    failures += wrong.length === 0 ? 0 : 1;
    total += 1;
  }
  {
    // Without the SIMD module, the portable one gives the same bytes.
    const test = { view: 'convert', file: 'sample.iso', model: 'E220' };
    const page = await browser.newPage();
    await page.goto(noSimdServer.url);
    const wrong = verdict(test, native(test), await runJob(page, test.view, at(test.file), { model: test.model }));
    wrong.push(...page.errors.map((e) => `console: ${e}`));
    await page.close();
    console.log(`${wrong.length === 0 ? 'ok  ' : 'FAIL'} the SIMD module refused (${engine})` +
      wrong.map((w) => '\n     ' + w).join(''));
    failures += wrong.length === 0 ? 0 : 1;
    total += 1;
  }
  for (const [mode, url] of [['http', server.url], ['file', fileUrl(pageDir)]]) {
    const brokenWrong = await brokenPage(browser, mode === 'http' ? brokenServer.url : fileUrl(brokenDir));
    console.log(`${brokenWrong.length === 0 ? 'ok  ' : 'FAIL'} a module that does not compile (${engine}, ${mode})` +
      brokenWrong.map((w) => '\n     ' + w).join(''));
    failures += brokenWrong.length === 0 ? 0 : 1;
    total += 1;
    for (const row of cases.filter((c) => !c.engines || c.engines.includes(engine))) {
      const test = row.asChosenIn === engine ? { ...row, expect: undefined } : row;
      const file = test.make ? test.make() : test.dropOn ? droppedOn(test.view, ...test.dropOn)
        : test.drop ? dropped(test.file) : at(test.view === 'folder' ? 'folders/' + test.file : test.file);
      const expected = test.expect !== undefined ? { ok: false } : native(test);
      const page = await browser.newPage();
      await page.goto(url);
      if (test.label) await page.evaluate(((label) => { document.getElementById('folder-label').value = label; }).toString(), test.label);
      if (test.iso && !test.keys) await page.evaluate((() => { document.getElementById('folder-iso').checked = true; }).toString());
      const got = await runJob(page, test.view, file, { model: test.model, cancel: test.cancel, keys: test.keys, iso: test.iso });
      const wrong = verdict(test, expected, got);
      // A cancelled job leaves the worker to the next one: the same page then converts another file.
      if (test.then) {
        const next = { view: test.view, file: test.then };
        const again = await runJob(page, next.view, at(next.file));
        wrong.push(...verdict(next, native(next), again).map((w) => `then ${next.file}: ${w}`));
      }
      wrong.push(...page.errors.map((e) => `console: ${e}`));
      const name = `${test.view} ${test.file}${test.model ? ' /model:' + test.model : ''}` +
        `${test.label ? ' /label:' + test.label : ''}${test.iso ? ' /iso' : ''}${test.drop || test.dropOn ? ', dropped' : ''}` +
        `${test.cancel ? ', cancelled' : ''}${test.keys ? ', by keys' : ''}${test.then ? ', then ' + test.then : ''} (${engine}, ${mode})`;
      console.log(`${wrong.length === 0 ? 'ok  ' : 'FAIL'} ${name}${wrong.map((w) => '\n     ' + w).join('')}`);
      failures += wrong.length === 0 ? 0 : 1;
      total += 1;
      await page.close();
    }
  }
  await browser.close();
}
server.close();
brokenServer.close();
noSimdServer.close();
rmSync(work, { recursive: true, force: true });
console.log(failures === 0 ? `all ${total} cases passed` : `${failures} of ${total} cases failed`);
process.exit(failures === 0 ? 0 : 1);
