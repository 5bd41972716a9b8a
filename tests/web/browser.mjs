// What the browser tests and the benchmark share: a static server for the
// built page, written here so that nothing else is needed, and Debian's
// Chromium started headless as the probe of this machine kind does.
import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
import { extname, join, normalize } from 'node:path';
import { pathToFileURL } from 'node:url';
import { chromium } from 'playwright-core';

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

export function launchChromium() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
    headless: true,
    chromiumSandbox: false,  // adds --no-sandbox: these machines run as root
    args: ['--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
}

// Chooses `file` in a view, sets the model, presses its start button and waits for the
// result: { result, failed, report, download } with the saved download's path, if any.
export async function runJob(page, view, file, { model = 'Default', savedir, cancel = false } = {}) {
  const downloads = [];
  page.on('download', (download) => downloads.push(download));
  await page.setInputFiles(`#${view}-file`, file.path ?? file);
  await file.afterChoosing?.(page);
  if (view !== 'check') {
    await page.locator(`#${view}`).getByLabel(model, { exact: true }).check();
  }
  await page.click(`#${view}-start`);
  if (cancel) {
    await page.click(`#${view}-cancel`);
  }
  await page.waitForFunction((v) => document.getElementById(`${v}-start`).disabled === false, view);
  const shown = await page.evaluate((v) => ({
    result: document.getElementById(`${v}-result`).textContent,
    failed: document.getElementById(`${v}-result`).classList.contains('failed'),
    report: document.getElementById('check-report').hidden ? null : document.getElementById('check-report').textContent,
    link: document.getElementById(`${v}-download`).hidden ? null : document.getElementById(`${v}-download`).download,
  }), view);
  if (shown.link && view === 'check') {
    await page.click('#check-download');
  }
  // The convert view starts its download itself, just after it shows the result.
  let download = null;
  if (shown.link) {
    const event = downloads[0] ?? await page.waitForEvent('download', { timeout: 10000 });
    download = join(savedir, event.suggestedFilename());
    await event.saveAs(download);
  } else {
    await page.waitForTimeout(200);
  }
  return { ...shown, download, downloads: downloads.length };
}
