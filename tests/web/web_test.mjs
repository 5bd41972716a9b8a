// The web page in Chromium against the command-line programs: one table of
// cases, each run from a local web server and from the folder as file://.
// A conversion's download must be byte for byte what quarnel writes, a check's
// report what quarnel-inspect prints, a refusal its error line, and nothing may
// be downloaded after a failure. A folder's download must be what quarnel-pack
// writes for it, a refusal its line.
// node web_test.mjs <page dir> <quarnel> <quarnel-inspect> <samples dir> <quarnel-pack>
import { spawnSync } from 'node:child_process';
import { appendFileSync, copyFileSync, mkdirSync, mkdtempSync, readFileSync, rmSync, truncateSync, unlinkSync,
  utimesSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { fileUrl, launchChromium, runJob, servePage } from './browser.mjs';

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
const damaged = (name, change) => {
  copyFileSync(at('sample.bin'), at(name));
  const bytes = readFileSync(at(name));
  writeFileSync(at(name), change(bytes));
};
damaged('bad-block.bin', (b) => { b[b.length - 100] ^= 1; return b; });
damaged('truncated.bin', (b) => b.subarray(0, b.length - 2048));
damaged('block-size.bin', (b) => { b.writeUInt16LE(2048, 320 + 94); return b; });
damaged('trailing.bin', (b) => Buffer.concat([b, Buffer.alloc(2048)]));

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
const folder = (name, files) => {
  for (const [path, bytes, time = '2024-05-01T12:00:00Z'] of files) {
    mkdirSync(join(at('folders'), name, path, '..'), { recursive: true });
    writeFileSync(join(at('folders'), name, path), bytes);
    utimesSync(join(at('folders'), name, path), new Date(time), new Date(time));
  }
  return name;
};
const bytes = (length, seed) => Buffer.from(Array.from({ length }, (_, i) => (i * 31 + seed) & 0xFF));
folder('driver', [['autorun.inf', '[autorun]\r\nopen=setup.exe\r\nicon=setup.exe,0\r\n'],
  ['setup.exe', bytes(1536 * 1024 + 5, 1), '2023-11-14T22:13:20.750Z'], ['Drivers/Win/usb.sys', bytes(4097, 2)],
  ['Drivers/Mac/Driver.pkg', bytes(2048, 3)], ['readme.txt', 'Plug the modem in.\n', '1969-12-31T23:59:59.500Z']]);
folder('unicode', [['Müller Straße.txt', 'ü'], ['日本語/説明書.txt', 'ja'], ['ελληνικά.doc', bytes(3000, 4)],
  ['😀 smile.txt', 'smile'], ['the longest name a disc holds, sixty-four UTF-16 units, done.txt', 'x']]);
folder('empties', [['empty.txt', ''], ['sub/also empty', ''], ['sub/one.bin', 'a']]);
folder('deep', [['1/2/3/4/5/6/7/bottom.txt', 'deepest']]);
folder('too-deep', [['1/2/3/4/5/6/7/8/below.txt', 'too deep']]);
folder('refused', [['fine.txt', 'fine'], ['what?.txt', 'no']]);
folder('cases', [['Readme.txt', 'a'], ['README.TXT', 'b']]);
folder('changed', [['data.bin', bytes(5000, 5)]]);
const changedFolder = {
  path: at('folders/changed'),
  afterChoosing: () => changed('folders/changed/data.bin').afterChoosing(),
};
// Dropped: the files the dialog gave, handed to the view as the entries of a
// drop that give out two names a batch and hold an empty folder as well.
const emptyTime = '2022-02-02T02:02:02Z';
folder('with-empty', [['a.txt', 'a'], ['b.txt', 'b'], ['c.txt', 'c'], ['sub/d.txt', 'd']]);
mkdirSync(at('folders/with-empty/empty folder'));
utimesSync(at('folders/with-empty/empty folder'), new Date(emptyTime), new Date(emptyTime));
const dropped = (page) => page.evaluate((time) => {
  const directory = (name) => ({ name, isDirectory: true, children: new Map(),
    getMetadata: (found) => found({ modificationTime: new Date(time) }),
    createReader() {
      const left = [...this.children.values()];
      return { readEntries: (found) => found(left.splice(0, 2)) };
    } });
  const files = document.getElementById('folder-file').files;
  const root = directory(files[0].webkitRelativePath.split('/')[0]);
  for (const file of files) {
    const names = file.webkitRelativePath.split('/').slice(1);
    const parent = names.slice(0, -1).reduce((node, name) =>
      node.children.get(name) ?? node.children.set(name, directory(name)).get(name), root);
    parent.children.set(names.at(-1), { name: names.at(-1), isDirectory: false, file: (found) => found(file) });
  }
  root.children.set('empty folder', directory('empty folder'));
  folderView.dropped({ items: [{ webkitGetAsEntry: () => root }] });
}, emptyTime);

const cases = [
  { view: 'folder', file: 'with-empty', drop: true },
  { view: 'folder', file: 'driver' },
  { view: 'folder', file: 'driver', model: 'E220', label: 'MODEM DRIVER' },
  { view: 'folder', file: 'driver', iso: true },
  { view: 'folder', file: 'unicode', label: 'Ünïcödé 😀' },
  ...['empties', 'deep', 'too-deep', 'refused', 'cases'].map((name) => ({ view: 'folder', file: name })),
  { view: 'folder', file: 'driver', label: 'seventeen letters' },
  { view: 'folder', file: 'changed', make: () => changedFolder, expect: 'Error: unable to read "changed/data.bin".' },

  ...['sample.iso', 'plain.iso', 'joliet.iso', 'boot.iso', 'udf.iso', 'xorriso.iso', 'empty.iso', 'one-sector.iso']
    .map((iso) => ({ view: 'convert', file: iso })),
  { view: 'convert', file: 'sample.iso', model: 'E220' },
  { view: 'convert', file: 'udf.iso', model: 'E220' },
  { view: 'convert', file: 'odd.iso' },
  { view: 'convert', file: '2gib.iso' },
  { view: 'convert', file: 'changed.iso', make: () => changed(copied('sample.iso', 'changed.iso')), expect: unreadable },
  { view: 'convert', file: 'removed.iso', make: () => removed(copied('sample.iso', 'removed.iso')), expect: unreadable },
  { view: 'convert', file: 'large.iso', cancel: true, expect: 'Cancelled: nothing was saved.', then: 'sample.iso' },
  ...['sample.bin', 'udf-e220.bin', 'boot.bin', 'empty.bin', 'bad-block.bin', 'truncated.bin', 'block-size.bin',
    'trailing.bin', 'sample.iso'].map((image) => ({ view: 'check', file: image })),
  { view: 'check', file: 'changed.bin', make: () => changed(copied('sample.bin', 'changed.bin')),
    expect: unreadableImage },
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
  return { ok: result.status === 0, message: errorLine(result.stderr), output: out, report: result.stdout };
}

const same = (a, b) => run('cmp', ['-s', a, b]).status === 0;

function verdict(test, expected, got) {
  const wrong = [];
  if (test.expect !== undefined) {
    if (got.result !== test.expect) wrong.push(`shows "${got.result}", not "${test.expect}"`);
  } else if (expected.ok) {
    if (got.failed) wrong.push(`fails: "${got.result}"`);
    if (!got.download || !same(got.download, expected.output)) wrong.push('download differs from the program\'s output');
  } else if (got.result !== expected.message) {
    wrong.push(`shows "${got.result}", not "${expected.message}"`);
  }
  if (expected.report !== undefined && test.expect === undefined && got.report !== expected.report) {
    wrong.push(`report differs:\n${got.report}\n--- quarnel-inspect:\n${expected.report}`);
  }
  if ((test.expect !== undefined || !expected.ok) && got.downloads !== 0) wrong.push('downloaded after a failure');
  return wrong;
}

const browser = await launchChromium();
const server = await servePage(pageDir);
let failures = 0;
for (const [mode, url] of [['http', server.url], ['file', fileUrl(pageDir)]]) {
  for (const test of cases) {
    const expected = test.make ? { ok: false } : native(test);
    const file = test.make ? test.make() : at(test.view === 'folder' ? 'folders/' + test.file : test.file);
    const chosen = test.drop ? { path: file, afterChoosing: dropped } : file;
    const context = await browser.newContext({ acceptDownloads: true });
    const page = await context.newPage();
    const errors = [];
    page.on('pageerror', (error) => errors.push(String(error)));
    page.on('console', (message) => message.type() === 'error' && errors.push(message.text()));
    await page.goto(url);
    const savedir = mkdtempSync(join(work, 'download-'));
    if (test.label) await page.fill('#folder-label', test.label);
    if (test.iso) await page.check('#folder-iso');
    const got = await runJob(page, test.view, chosen, { model: test.model, savedir, cancel: test.cancel });
    const wrong = verdict(test, expected, got);
    // A cancelled job leaves the worker to the next one: the same page then converts another file.
    if (test.then) {
      const next = { view: test.view, file: test.then };
      const again = await runJob(page, next.view, at(next.file), { savedir });
      wrong.push(...verdict(next, native(next), again).map((w) => `then ${next.file}: ${w}`));
    }
    wrong.push(...errors.map((e) => `page error: ${e}`));
    const name = `${test.view} ${test.file}${test.model ? ' /model:' + test.model : ''}` +
      `${test.label ? ' /label:' + test.label : ''}${test.iso ? ' /iso' : ''}${test.drop ? ', dropped' : ''}` +
      `${test.cancel ? ', cancelled' : ''}${test.then ? ', then ' + test.then : ''} (${mode})`;
    console.log(`${wrong.length === 0 ? 'ok  ' : 'FAIL'} ${name}${wrong.map((w) => '\n     ' + w).join('')}`);
    failures += wrong.length === 0 ? 0 : 1;
    await context.close();
  }
}
server.close();
await browser.close();
rmSync(work, { recursive: true, force: true });
console.log(failures === 0 ? `all ${cases.length * 2} cases passed` : `${failures} of ${cases.length * 2} cases failed`);
process.exit(failures === 0 ? 0 : 1);
