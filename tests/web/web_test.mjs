// The web page in each engine (browser.mjs: Chromium, Firefox ESR, WebKitGTK;
// QUARNEL_WEB_ENGINES names fewer) against the command-line programs: one
// table of cases, each run from a local web server and from the folder as file://.
// A conversion's download must be byte for byte what quarnel writes, a check's
// report what quarnel-inspect prints, a refusal its error line, and nothing may
// be downloaded after a failure; focus ends on what the job ended with, and
// the console stays clean. Chromium also runs axe-core on both colour schemes
// and saves a screenshot of each view (docs/).
// node web_test.mjs <page dir> <quarnel> <quarnel-inspect> <samples dir>
import { spawnSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import { appendFileSync, closeSync, copyFileSync, mkdirSync, mkdtempSync, openSync, readFileSync, readSync, rmSync, truncateSync, unlinkSync,
  utimesSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { createRequire } from 'node:module';
import { fileUrl, launch, runJob, servePage } from './browser.mjs';

const [pageDir, quarnel, inspect, samples] = process.argv.slice(2).map((path) => resolve(path));
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
// Firefox does not notice a file grown since it was chosen and reads it as it
// was: the result must then be the program's on the file as chosen.

const cases = [
  ...['sample.iso', 'plain.iso', 'joliet.iso', 'boot.iso', 'udf.iso', 'xorriso.iso', 'empty.iso', 'one-sector.iso']
    .map((iso) => ({ view: 'convert', file: iso })),
  { view: 'convert', file: 'sample.iso', model: 'E220' },
  { view: 'convert', file: 'udf.iso', model: 'E220' },
  { view: 'convert', file: 'odd.iso' },
  { view: 'convert', file: '2gib.iso' },
  { view: 'convert', file: 'changed.iso', make: () => changed(copied('sample.iso', 'changed.iso')), expect: unreadable,
    asChosenIn: 'firefox' },
  { view: 'convert', file: 'removed.iso', make: () => removed(copied('sample.iso', 'removed.iso')), expect: unreadable },
  { view: 'convert', file: 'large.iso', cancel: true, expect: 'Cancelled: nothing was saved.', then: 'sample.iso' },
  ...['sample.bin', 'udf-e220.bin', 'boot.bin', 'empty.bin', 'bad-block.bin', 'truncated.bin', 'block-size.bin',
    'trailing.bin', 'sample.iso'].map((image) => ({ view: 'check', file: image })),
  { view: 'check', file: 'changed.bin', make: () => changed(copied('sample.bin', 'changed.bin')),
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
  const result = run(inspect, [test.file, out], { cwd: work });
  return { ok: result.status === 0, message: errorLine(result.stderr), output: out, report: result.stdout };
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
  if (expected.report !== undefined && test.expect === undefined && got.report !== expected.report) {
    wrong.push(`report differs:\n${got.report}\n--- quarnel-inspect:\n${expected.report}`);
  }
  if ((test.expect !== undefined || !expected.ok) && got.downloads !== 0) wrong.push('downloaded after a failure');
  const focus = got.link ? `${test.view}-download` : `${test.view}-result`;
  if (got.focused !== focus) wrong.push(`focus on "${got.focused}", not "${focus}"`);
  if (test.cancel && got.startFocus !== `${test.view}-cancel`) wrong.push(`focus on "${got.startFocus}" while it runs`);
  return wrong;
}

// axe-core on the page in both colour schemes, a failed check's report shown,
// a keyboard-only way to the first input, and a screenshot of each view.
const axe = readFileSync(createRequire(import.meta.url).resolve('axe-core/axe.min.js'), 'utf8');
async function chromiumOnly(browser, url) {
  const wrong = [];
  const page = await browser.newPage();
  await page.goto(url);
  for (let tabs = 0; tabs < 5 && await page.evaluate('() => document.activeElement.id') !== 'convert-file'; ++tabs) {
    await page.tab.keyboard.press('Tab');
  }
  if (await page.evaluate('() => document.activeElement.id') !== 'convert-file') wrong.push('Tab does not reach the ISO input');
  await runJob(page, 'convert', at('sample.iso'));
  await page.tab.screenshot({ path: join(docs, 'web-convert.png'), fullPage: true });
  await runJob(page, 'check', at('bad-block.bin'));
  await (await page.tab.$('#check')).screenshot({ path: join(docs, 'web-check.png') });
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

const docs = resolve(samples, '..', 'docs');
const server = await servePage(pageDir);
let failures = 0;
let total = 0;
const chosen = (process.env.QUARNEL_WEB_ENGINES ?? 'chromium firefox webkit').split(/\s+/).filter(Boolean);
for (const engine of chosen) {
  const browser = await launch(engine);
  if (engine === 'chromium') {
    const wrong = await chromiumOnly(browser, server.url);
    console.log(`${wrong.length === 0 ? 'ok  ' : 'FAIL'} chromium: keyboard, axe-core, screenshots` +
      wrong.map((w) => '\n     ' + w).join(''));
    failures += wrong.length === 0 ? 0 : 1;
    total += 1;
  }
  for (const [mode, url] of [['http', server.url], ['file', fileUrl(pageDir)]]) {
    for (const row of cases) {
      const test = row.asChosenIn === engine ? { ...row, expect: undefined } : row;
      const file = test.make ? test.make() : at(test.file);
      const expected = test.expect !== undefined ? { ok: false } : native(test);
      const page = await browser.newPage();
      await page.goto(url);
      const got = await runJob(page, test.view, file, { model: test.model, cancel: test.cancel });
      const wrong = verdict(test, expected, got);
      // A cancelled job leaves the worker to the next one: the same page then converts another file.
      if (test.then) {
        const next = { view: test.view, file: test.then };
        const again = await runJob(page, next.view, at(next.file));
        wrong.push(...verdict(next, native(next), again).map((w) => `then ${next.file}: ${w}`));
      }
      wrong.push(...page.errors.map((e) => `console: ${e}`));
      const name = `${test.view} ${test.file}${test.model ? ' /model:' + test.model : ''}` +
        `${test.cancel ? ', cancelled' : ''}${test.then ? ', then ' + test.then : ''} (${engine}, ${mode})`;
      console.log(`${wrong.length === 0 ? 'ok  ' : 'FAIL'} ${name}${wrong.map((w) => '\n     ' + w).join('')}`);
      failures += wrong.length === 0 ? 0 : 1;
      total += 1;
      await page.close();
    }
  }
  await browser.close();
}
server.close();
rmSync(work, { recursive: true, force: true });
console.log(failures === 0 ? `all ${total} cases passed` : `${failures} of ${total} cases failed`);
process.exit(failures === 0 ? 0 : 1);
