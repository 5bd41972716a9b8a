// What the browser tests and the benchmark share: a static server for the
// built page, and the three engines behind one small driver: Chromium and
// Firefox ESR through puppeteer-core (CDP, WebDriver BiDi), WebKitGTK's
// MiniBrowser through WebKitWebDriver (plain WebDriver calls; run under
// xvfb-run). A page offers goto, choose (a file, or an array of them, into an input), click, press
// (a key, or keys held together as 'Shift+Tab'), evaluate (a function's source
// and its argument, in the page), waitFor, and
// `errors`: what its console said in red, where the driver lets us read it.
import { spawn } from 'node:child_process';
import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
import { extname, join, normalize } from 'node:path';
import { pathToFileURL } from 'node:url';
import puppeteer from 'puppeteer-core';

const types = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.css': 'text/css' };

// Serves `dir` on a free port of 127.0.0.1; resolves to { url, close }.
export function servePage(dir) {
  const server = createServer(async (request, response) => {
    const path = normalize(decodeURIComponent(new URL(request.url, 'http://x').pathname)).replace(/^(\.\.[/\\])+/, '');
    try {
      const body = await readFile(join(dir, path.endsWith('/') ? path + 'index.html' : path));
      response.writeHead(200, { 'content-type': types[extname(path)] ?? 'text/html; charset=utf-8' });
      response.end(body);
    } catch {
      response.writeHead(404).end();
    }
  });
  return new Promise((resolve) => {
    server.listen(0, '127.0.0.1', () =>
      resolve({ url: `http://127.0.0.1:${server.address().port}/`, close: () => server.close() }));
  });
}

export const fileUrl = (dir) => pathToFileURL(join(dir, 'index.html')).href;

export const engines = {
  chromium: process.env.CHROMIUM ?? '/usr/bin/chromium',
  firefox: process.env.FIREFOX ?? '/usr/bin/firefox-esr',
  webkit: process.env.WEBKIT_DRIVER ?? '/usr/bin/WebKitWebDriver',
};
const miniBrowser = process.env.MINIBROWSER ?? '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser';

const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

// Polls `test` (a function of the page's, by source, and its argument) until it is true.
async function waitFor(page, test, arg, timeout = 600000) {
  for (const end = Date.now() + timeout; ; await sleep(50)) {
    if (await page.evaluate(test, arg)) return;
    if (Date.now() > end) throw new Error(`timed out waiting for ${test}`);
  }
}

async function puppeteerEngine(name) {
  const browser = await puppeteer.launch(name === 'chromium' ? {
    executablePath: engines.chromium, headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  } : { browser: 'firefox', executablePath: engines.firefox, headless: true });
  return {
    name,
    pids: () => [browser.process()?.pid].filter(Boolean),
    async newPage() {
      const context = await browser.createBrowserContext();
      const tab = await context.newPage();
      const errors = [];
      const listen = (target) => target.on('console', (m) => m.type() === 'error' && errors.push(m.text()));
      listen(tab);
      tab.on('pageerror', (error) => errors.push(String(error)));
      tab.on('workercreated', (worker) => {
        listen(worker);
        // Chromium tells a worker's CSP refusals through its Log domain alone.
        if (name !== 'chromium') return;
        worker.client.on('Log.entryAdded', ({ entry }) => entry.level === 'error' && errors.push(entry.text));
        worker.client.send('Log.enable').catch(() => {});
      });
      const page = {
        tab, errors,
        goto: (url) => tab.goto(url),
        choose: async (selector, path) => (await tab.$(selector)).uploadFile(...[path].flat()),
        click: (selector) => tab.click(selector),
        press: async (keys) => {
          for (const key of keys.split('+')) await tab.keyboard.down(key);
          for (const key of keys.split('+').reverse()) await tab.keyboard.up(key);
        },
        evaluate: (fn, arg) => tab.evaluate(`(${fn})(${JSON.stringify(arg)})`),
        waitFor: (fn, arg, timeout) => waitFor(page, fn, arg, timeout),
        close: () => context.close(),
      };
      return page;
    },
    close: () => browser.close(),
  };
}

const webDriverKeys = { Tab: '\uE004', Enter: '\uE007', Shift: '\uE008', ArrowDown: '\uE015' };

// WebKitGTK through WebDriver's HTTP calls. Its console is out of the driver's reach.
async function webkitEngine() {
  const port = 4400 + (process.pid % 500);
  const driver = spawn(engines.webkit, [`--port=${port}`], { stdio: 'ignore' });
  const base = `http://127.0.0.1:${port}`;
  const call = async (method, path, body) => {
    const response = await fetch(base + path, { method, body: body && JSON.stringify(body),
      headers: { 'content-type': 'application/json' } });
    const { value } = await response.json();
    if (value?.error) throw new Error(`WebDriver ${path}: ${value.error}: ${value.message}`);
    return value;
  };
  for (let tries = 0; ; ++tries) {
    try { await call('GET', '/status'); break; } catch (error) { if (tries > 100) throw error; await sleep(100); }
  }
  let sessionId = null;
  return {
    name: 'webkit',
    pids: () => [driver.pid],
    // One session for the engine's life, each page a fresh load in it: a session starts a MiniBrowser, slowly.
    async newPage() {
      sessionId ??= (await call('POST', '/session', { capabilities: { alwaysMatch: {
        'webkitgtk:browserOptions': { binary: miniBrowser, args: ['--automation'] } } } })).sessionId;
      const at = (path) => `/session/${sessionId}${path}`;
      const element = async (selector) =>
        Object.values(await call('POST', at('/element'), { using: 'css selector', value: selector }))[0];
      const page = {
        errors: [],
        goto: (url) => call('POST', at('/url'), { url }),
        choose: async (selector, path) =>
          call('POST', at(`/element/${await element(selector)}/value`), { text: [path].flat().join('\n') }),
        click: async (selector) => call('POST', at(`/element/${await element(selector)}/click`), {}),
        press: (keys) => {
          const codes = keys.split('+').map((key) => webDriverKeys[key] ?? key);
          return call('POST', at('/actions'), { actions: [{ type: 'key', id: 'keyboard', actions: [
            ...codes.map((value) => ({ type: 'keyDown', value })),
            ...codes.reverse().map((value) => ({ type: 'keyUp', value }))] }] });
        },
        evaluate: (fn, arg) => call('POST', at('/execute/async'), {
          script: `const done = arguments[arguments.length - 1]; Promise.resolve((${fn})(arguments[0])).then(done);`,
          args: [arg === undefined ? null : arg] }),
        waitFor: (fn, arg, timeout) => waitFor(page, fn, arg, timeout),
        close: () => call('POST', at('/url'), { url: 'about:blank' }),
      };
      await call('POST', at('/timeouts'), { script: 600000 });
      return page;
    },
    // Gone once closed: the next launch takes the same port.
    close: async () => {
      if (sessionId) await call('DELETE', `/session/${sessionId}`);
      const gone = new Promise((done) => driver.once('exit', done));
      driver.kill();
      await gone;
    },
  };
}

export const launch = (name) => (name === 'webkit' ? webkitEngine() : puppeteerEngine(name));

// Stops the page's downloads before they leave it, counting them: what would
// have been saved is read back from the link's Blob instead (savedPieces),
// kept as its URL is made (the page's CSP lets nothing fetch a blob: URL).
const catchDownloads = () => {
  if (window.quarnelBlobs) return true;
  window.quarnelBlobs = new Map();
  const make = URL.createObjectURL;
  URL.createObjectURL = (blob) => {
    const url = make(blob);
    window.quarnelBlobs.set(url, blob);
    return url;
  };
  window.quarnelDownloads = 0;
  document.addEventListener('click', (event) => {
    if (event.target.matches?.('a[download]')) {
      window.quarnelDownloads += 1;
      event.preventDefault();
    }
  }, true);
  return true;
};

// The SHA-256 of each 16 MiB piece of what a view's link saves, in hex.
const savedPieces = async (view) => {
  const blob = window.quarnelBlobs.get(document.getElementById(`${view}-download`).href);
  const digests = [];
  for (let at = 0; at < blob.size || at === 0; at += 1 << 24) {
    const digest = await crypto.subtle.digest('SHA-256', await blob.slice(at, at + (1 << 24)).arrayBuffer());
    digests.push([...new Uint8Array(digest)].map((b) => b.toString(16).padStart(2, '0')).join(''));
    if (blob.size === 0) break;
  }
  return digests;
};

// The check's disc: every folder opened (each makes its items as it opens),
// a line per item in the page's order ("<size> <path>" for a file, "<path>/"
// for a folder), the fault shown instead, and the SHA-256 of what the first
// file's link saves.
const discTree = async () => {
  for (let closed; (closed = document.querySelector('#check-files details:not([open])'));) {
    const opened = new Promise((done) => closed.addEventListener('toggle', done, { once: true }));
    closed.open = true;
    await opened;
  }
  const nameOf = (row) => row.querySelector(':scope > a, :scope > details > summary').textContent.replace(/\/$/, '');
  const lines = [...document.querySelectorAll('#check-files li')].map((row) => {
    const names = [];
    for (let at = row; at.id !== 'check-files'; at = at.parentElement) if (at.tagName === 'LI') names.unshift(nameOf(at));
    const size = row.querySelector(':scope > .size');
    return size ? `${size.textContent.replace(/\D/g, '')} ${names.join('/')}` : `${names.join('/')}/`;
  });
  const first = document.querySelector('#check-files a');
  const bytes = first && await window.quarnelBlobs.get(first.href).arrayBuffer();
  const digest = bytes && [...new Uint8Array(await crypto.subtle.digest('SHA-256', bytes))]
    .map((b) => b.toString(16).padStart(2, '0')).join('');
  return { lines, fault: document.getElementById('check-files-fault').textContent, first: digest };
};

const shownBy = (v) => ({
  result: document.getElementById(`${v}-result`).textContent,
  failed: document.getElementById(`${v}-result`).classList.contains('failed'),
  report: document.getElementById('check-report-region').hidden ? null
    : document.getElementById('check-report').textContent,
  link: document.getElementById(`${v}-download`).hidden ? null : document.getElementById(`${v}-download`).download,
  downloads: window.quarnelDownloads,
});

// Where focus is: the focused element's id (a radio button's fieldset's),
// marked, when reached by keys, if it shows no outline; 'body' when nothing has it.
const focusAt = (byKeys) => {
  const at = document.activeElement;
  if (!at || at === document.body) return 'body';
  const id = at.type === 'radio' ? at.closest('fieldset').id : at.id;
  return byKeys && getComputedStyle(at).outlineStyle === 'none' ? id + ' (focus not shown)' : id;
};

// With keys alone, the file chosen: Tab on to the view's start button, Shift+Tab
// back to its file input, then Tab to start again, choosing the model with the
// arrows and Disc only with Space on the way, and Enter. Gives where focus was
// after each key, `forth` from where it started.
async function byKeys(page, view, model, iso) {
  const where = () => page.evaluate(focusAt.toString(), true);
  const go = async (keys, until, act = async () => {}) => {
    const way = [];
    while (way.length < 20 && way.at(-1) !== until) {
      await page.press(keys);
      way.push(await where());
      await act(way.at(-1));
    }
    return way;
  };
  const forth = [await where(), ...await go('Tab', `${view}-start`)];
  const back = await go('Shift+Tab', `${view}-file`);
  const chosen = (m) => document.querySelector(`#${m[0]}-model input:checked`).parentElement.textContent.trim() === m[1];
  const again = await go('Tab', `${view}-start`, async (stop) => {
    for (let arrows = 0; stop === `${view}-model` && arrows < 5 && !await page.evaluate(chosen.toString(), [view, model]);
      ++arrows) await page.press('ArrowDown');
    if (stop === 'folder-iso' && iso) await page.press(' ');
  });
  await page.press('Enter');
  return { forth, back, again };
}

// Chooses `file` in a view, sets the model, presses its start button (and
// Cancel, when asked) and waits for the result: what the view shows, with the
// pieces' digests of what it saves, if anything, and where focus went. With
// `keys`, the model, Disc only, start, Cancel and the check's link go by keys (byKeys).
export async function runJob(page, view, file, { model = 'Default', cancel = false, keys = false, iso = false } = {}) {
  await page.waitFor((() => document.body.dataset.ready === 'yes').toString());
  await page.evaluate(catchDownloads.toString());
  await page.evaluate((() => { window.quarnelDownloads = 0; }).toString());
  if (file.choose) {
    await file.choose(page);
  } else {
    await page.choose(`#${view}-file`, file.path ?? file);
  }
  // The page takes the file's size and time when it sees the choice: a change is made only after.
  // A choice refused at once ends the case there.
  await page.waitFor(((v) => !document.getElementById(`${v}-start`).disabled ||
    document.getElementById(`${v}-result`).classList.contains('failed')).toString(), view);
  const chosenLine = await page.evaluate(((v) => document.getElementById(`${v}-result`).textContent).toString(), view);
  if (await page.evaluate(((v) => document.getElementById(`${v}-start`).disabled).toString(), view)) {
    return { ...await page.evaluate(shownBy.toString(), view), refused: true, chosenLine, pieces: null, downloads: 0 };
  }
  await file.afterChoosing?.(page);
  if (view !== 'check' && !keys) {
    await page.evaluate((([v, m]) => {
      [...document.querySelectorAll(`#${v} input[type="radio"]`)].find((i) => i.parentElement.textContent.trim() === m)
        .checked = true;
    }).toString(), [view, model]);
  }
  await page.waitFor(((v) => !document.getElementById(`${v}-start`).disabled).toString(), view);
  const way = keys ? await byKeys(page, view, model, iso) : await page.click(`#${view}-start`);
  let startFocus = null;
  if (cancel) {
    startFocus = await page.evaluate(focusAt.toString(), keys);
    await (keys ? page.press('Enter') : page.click(`#${view}-cancel`));
  }
  await page.waitFor(((v) => document.getElementById(`${v}-start`).disabled === false &&
    document.getElementById(`${v}-cancel`).hidden).toString(), view);
  const shown = { ...await page.evaluate(shownBy.toString(), view), focused: await page.evaluate(focusAt.toString(), keys) };
  if (shown.link && view === 'check') await (keys ? page.press('Enter') : page.click('#check-download'));
  const pieces = shown.link ? await page.evaluate(savedPieces.toString(), view) : null;
  const disc = shown.link && view === 'check' ? await page.evaluate(discTree.toString()) : null;
  const downloads = await page.evaluate((() => window.quarnelDownloads).toString());
  return { ...shown, chosenLine, startFocus, pieces, disc, downloads, way };
}
