// The page's own script: the views Convert, Check and From a folder. The jobs run in one
// Web Worker, started once for the page's life from the script text embedded
// in index.html (a Blob URL works from a web server and from a folder opened
// as file://, where a worker file would be refused), so a job costs no new
// worker and no new module; a second such worker reads half of what a job
// reads (onTwo). Downloads are Blobs built of the chosen file itself or
// slices of it, so no file is ever held in memory whole.
'use strict';

// The worker as typed calls, each a promise: `await worker.convert(file,
// model, null, { signal, onProgress })` resolves to what the worker's job returns
// (web/worker/jobs.js, whose typedefs tell each result; pack's `onLayout`
// takes its LayoutMessage, where the call asks for one), and rejects with the
// signal's reason once it is aborted (the worker stops the job at its next
// read) or with an Error worded for the page when the worker itself fails
// (the module stopped), after which the next call starts a new worker.
// `ready` resolves to the module's rules (jobs.js, rules()) once it has
// started, or rejects with the browser's words if it cannot start (no
// WebAssembly, or a module that does not compile). The messages each way
// carry a `type`; the page's are told beside the one function that posts
// each, the worker's in web/worker/serve.js.
class QuarnelWorker {
  constructor(script) {
    this.url = URL.createObjectURL(new Blob([script], { type: 'text/javascript' }));
    this.rules = null;
    this.last = 0;
    this.calls = new Map();  // by the number each message of a call carries
    this.ready = new Promise((resolve, reject) => {
      this.started = { resolve, reject };
    });
    this.start();
  }

  // `port`, where not null, leads to the other worker of a job split over two (onTwo); it goes with the call.
  convert(file, model, port, options) {
    return this.call('convert', [file, model, port], options, port ? [port] : []);
  }

  check(file, port, options) {
    return this.call('check', [file, port], options, port ? [port] : []);
  }

  pack(folder, model, label, early, port, options) {
    return this.call('pack', [folder, model, label, early, port], options, port ? [port] : []);
  }

  // The other worker's part of a job split over two: what the first hands it
  // over `port`, of the job's `sources` (its file, or its folder's files in order).
  second(sources, port, options) {
    return this.call('second', [sources, port], options, [port]);
  }

  // A line the page needs of the module waits for the job running, which may
  // have the module paused in the middle of a call (the check's reads).
  unreadable(name, path) {
    return this.call('unreadable', [null, name, path]);
  }

  start() {
    this.worker = new Worker(this.url);
    this.worker.onmessage = ({ data }) => this.received(data);
    this.worker.onerror = (event) => this.failed(event);
  }

  received(data) {
    const call = this.calls.get(data.id);
    if (data.type === 'ready') {
      this.rules = data.rules;
      this.started.resolve(data.rules);
    } else if (data.type === 'read') {
      this.supply(data);
    } else if (data.type === 'progress') {
      call?.onProgress?.(data.done, data.total);
    } else if (data.type === 'layout') {
      call?.onLayout?.(data);
    } else if (data.type === 'result' && call) {
      this.calls.delete(data.id);
      call.resolve(data.result);
    }
  }

  failed(event) {
    event.preventDefault();
    this.worker.terminate();
    this.worker = null;
    if (this.rules === null) {
      this.started.reject(event.message);
      return;
    }
    // A call is made only once the module has started, and so its rules are known.
    const calls = [...this.calls.values()];
    this.calls.clear();
    calls.forEach((call) =>
      call.reject(new Error(this.rules.errorLine.replace('{}', () => event.message || 'the page stopped working on this file'))));
  }

  /**
   * The answer to the worker's ReadMessage (serve.js), bytes it cannot read
   * itself (WebKit's from a folder opened as file://), read here a slice at a
   * time and handed over, not copied; null where the page cannot read them either.
   * @typedef {{ type: 'bytes', ticket: number, bytes: ArrayBuffer | null }} BytesMessage
   */
  supply({ ticket, blob, offset, length }) {
    const worker = this.worker;
    blob.slice(offset, offset + length).arrayBuffer().then(
      (bytes) => worker.postMessage({ type: 'bytes', ticket, bytes }, [bytes]),
      () => worker.postMessage({ type: 'bytes', ticket, bytes: null }));
  }

  /**
   * A call of the worker's job `kind` on `args`, the file it reads first (for
   * pack, the folder; null for none); `transfer` what goes with it, not copied.
   * @typedef {{ type: 'call', id: number, kind: 'convert' | 'check' | 'pack' | 'unreadable', args: Array }}
   *   CallMessage
   */
  call(kind, args, { signal, onProgress, onLayout } = {}, transfer = []) {
    return new Promise((resolve, reject) => {
      signal?.throwIfAborted();
      if (this.worker === null) {
        this.start();
      }
      const id = ++this.last;
      this.calls.set(id, { resolve, reject, onProgress, onLayout });
      signal?.addEventListener('abort', () => {
        if (this.calls.delete(id)) {
          this.abort(id);
          reject(signal.reason);
        }
      }, { once: true });
      this.worker.postMessage({ type: 'call', id, kind, args }, transfer);
    });
  }

  /**
   * Call `id` is aborted: the worker stops it at its next read.
   * @typedef {{ type: 'abort', id: number }} AbortMessage
   */
  abort(id) {
    this.worker?.postMessage({ type: 'abort', id });
  }
}

const workerScript = document.getElementById('quarnel-worker').textContent;
const worker = new QuarnelWorker(workerScript);
const isFirefox = /\bFirefox\//.test(navigator.userAgent);
// Not where a Blob has no byte stream (WebKit), whose worker reads slices
// with several asked ahead: there one worker converted faster than two
// (0.75 s against 0.82 s for 512 MiB) and with a third less memory.
const readsOnTwo = (() => {
  try {
    new Blob().stream().getReader({ mode: 'byob' }).releaseLock();
    return true;
  } catch {
    return false;
  }
})();
// The second worker, which reads and checksums the second half of what a job
// reads while the first does the first half: started with the page, as the
// first is, so that no job waits for it to start.
const secondWorker = readsOnTwo ? new QuarnelWorker(workerScript) : null;
// Where it cannot start, a job finds out and runs on the first alone (onTwo).
secondWorker?.ready.catch(() => {});

// Runs the job `kind` (a QuarnelWorker call) on `args`, which reads
// `sources` (its file, or its folder's files in order) through, on two
// workers at once where the module splits that much (but in WebKit): the
// first given one end of a channel of their own, over which it
// hands the second (second()) the part from near the middle on, and
// takes back its table of checksums. Reading is what takes the time, and two workers read faster
// than one. Cancel stops both; a failed read in either, or the second worker
// failing, ends the job.
async function onTwo(kind, args, sources, options) {
  const { signal, onProgress } = options;
  const size = sources.reduce((sum, source) => sum + source.size, 0);
  // Where the second cannot start its module, the first does the whole.
  if (!readsOnTwo || size < worker.rules.leastSplit || !(await secondWorker.ready.then(() => true, () => false))) {
    return worker[kind](...args, null, options);
  }
  signal.throwIfAborted();  // cancelled while the second started
  const both = new AbortController();
  const stop = () => both.abort(signal.reason);
  signal.addEventListener('abort', stop, { once: true });
  // The first tells its bytes done of the whole; the second its count.
  let first = 0;
  let second = 0;
  let total = 0;
  const shown = () => total > 0 && onProgress(Math.min(first + second, total), total);
  const { port1, port2 } = new MessageChannel();
  const firstProgress = (bytes, whole) => {
    first = bytes;
    total = whole;
    shown();
  };
  const secondProgress = (bytes) => {
    second = bytes;
    shown();
  };
  secondWorker.second(sources, port2, { signal: both.signal, onProgress: secondProgress })
    .catch((error) => both.abort(error));
  try {
    return await worker[kind](...args, port1, { ...options, signal: both.signal, onProgress: firstProgress });
  } finally {
    signal.removeEventListener('abort', stop);
    both.abort();
  }
}

// Every view's line once the worker has failed to start its module, else null.
let brokenLine = null;

// The one entry of a drop (a file's or a folder's, its isDirectory tells),
// taken while the drop event lasts, or null where several things were dropped.
const droppedEntry = (transfer) => (transfer.items?.length === 1 ? transfer.items[0].webkitGetAsEntry?.() : null);

// A chosen file as it goes into a download: a slice of its size when chosen,
// for Firefox saves a File whole as it is when saved, grown or not, but keeps
// to a slice's bounds.
const asChosen = (file) => file.slice(0, file.size);

// The browser fixes a chosen file's size and time when they are first read,
// and from then on refuses to read a file that no longer has them. Read at
// the choice, they make the file the one chosen: changed afterwards, it is
// refused rather than taken as it has become.
function fixedAsChosen(file) {
  void [file?.size, file?.lastModified];
  return file;
}

// The name of the download: the chosen file's, its extension replaced.
function renamed(name, from, to) {
  return (name.toLowerCase().endsWith(from) ? name.slice(0, -from.length) : name) + to;
}

function megabytes(bytes) {
  return (bytes / 1048576).toFixed(1) + ' MiB';
}

// A line of the command line's, as it prints it, without its newline.
function shownLine(message) {
  return message.trim();
}

/**
 * What a view shows, and all it keeps of it. `chosen` is what a job takes
 * (the file, or the folder), null before one is; `line` the result line.
 * - idle: no job since the choice, or one cancelled; `walking`, the folder
 *   view's drop being read, which a later choice makes stale;
 * - running: `controller` aborts the job, `progress` tells how far (0 to 1, null not known);
 * - done: `download` offered, { blob, name, label, now } (`now` starts it at once);
 * - failed: `line` says why.
 * A check's report goes with its done or failed state (`report`).
 * @typedef {{ phase: 'idle' | 'running' | 'done' | 'failed', chosen: object | null, line: string,
 *   walking?: Promise, controller?: AbortController, progress?: number | null,
 *   download?: { blob: Blob, name: string, label: string, now: boolean }, report?: string }} ViewState
 */

// One view: a file input that also takes a dropped file, start and cancel
// buttons, a progress bar, a result line read out by screen readers, a
// download link. `run` is the view's job: { start(chosen, args, options),
// args(), finish(chosen, result, args, signal, update), unwritable?(chosen,
// args), shown?(state) }, finish resolving to the state the job ends in.
class View {
  constructor(name, run) {
    for (const part of ['input', 'start', 'cancel', 'progress', 'result', 'download']) {
      this[part] = document.getElementById(`${name}-${part === 'input' ? 'file' : part}`);
    }
    this.section = document.getElementById(name);
    this.run = run;
    this.url = null;  // the download's, while it is offered
    /** @type {ViewState} */
    this.state = { phase: 'idle', chosen: null, line: '' };
    this.input.addEventListener('change', () => this.choose(this.input.files));
    this.start.addEventListener('click', () => this.begin());
    this.cancel.addEventListener('click', () => this.end({ phase: 'idle', line: 'Cancelled: nothing was saved.' }));
    this.section.addEventListener('dragover', (event) => {
      event.preventDefault();
      this.section.classList.add('dragging');
    });
    this.section.addEventListener('dragleave', () => this.section.classList.remove('dragging'));
    this.section.addEventListener('drop', (event) => {
      event.preventDefault();
      this.section.classList.remove('dragging');
      this.dropped(event.dataTransfer);
    });
  }

  choose(files) {
    this.enter('idle', { chosen: fixedAsChosen(files[0] ?? null) });
  }

  dropped(transfer) {
    // A folder would be given as a file that cannot be read, or (WebKit) as an empty one.
    const entry = droppedEntry(transfer);
    if (entry?.isDirectory) {
      this.input.value = '';
      this.enter('failed', { chosen: null, line: `"${entry.name}" is a folder, not a file.` });
    } else if (transfer.files.length !== 1) {
      if (this.state.phase !== 'running') {
        this.enter('failed', { line: 'Drop one file here.' });
      }
    } else {
      this.input.files = transfer.files;
      this.choose(this.input.files);
    }
  }

  // The view in state `phase`, what it has chosen kept unless `fields` says otherwise.
  enter(phase, fields = {}) {
    this.show({ phase, chosen: this.state.chosen, line: '', ...fields });
  }

  // The one place a state is shown. A job left is aborted; a module that
  // cannot start is said whatever the state.
  show(next) {
    const last = this.state;
    this.state = next;
    if (last.controller !== next.controller) {
      last.controller?.abort();
    }
    if (last.download !== next.download) {
      this.offer(next.download ?? null);
    }
    const running = next.phase === 'running';
    this.result.textContent = brokenLine ?? next.line;
    this.result.classList.toggle('failed', brokenLine !== null || next.phase === 'failed');
    this.start.disabled = running || next.chosen === null || worker.rules === null;
    this.cancel.hidden = !running;
    this.progress.hidden = !running;
    if (next.progress === null) {
      this.progress.removeAttribute('value');
    } else {
      this.progress.value = next.progress ?? 0;
    }
    this.run.shown?.(next);
  }

  // The running job's state with `fields` changed, unless the job is no longer the view's.
  update(controller, fields) {
    if (this.state.controller === controller) {
      this.show({ ...this.state, ...fields });
    }
  }

  async begin() {
    const { chosen } = this.state;
    const args = this.run.args();
    const controller = new AbortController();
    this.enter('running', { line: 'Reading ' + chosen.name + '…', progress: 0, controller });
    this.cancel.focus();
    const ended = await this.job(chosen, args, controller);
    // Aborted, the view has already moved on (cancelled, or another file chosen).
    if (!controller.signal.aborted) {
      this.end(ended);
    }
  }

  // The state the job ends in, whatever fails on the way.
  async job(chosen, args, controller) {
    const { signal } = controller;
    const onProgress = (done, total) => this.update(controller, { progress: total === 0 ? 1 : done / total });
    let result;
    try {
      result = await this.run.start(chosen, args, { signal, onProgress });
    } catch (error) {
      return { phase: 'failed', line: error.message };
    }
    // Done in the worker, but the link may take a while more to make (a
    // folder's image in Firefox): finish throws the signal's reason after each
    // wait once the job is cancelled or replaced by another file.
    try {
      return await this.run.finish(chosen, result, args, signal, (fields) => this.update(controller, fields));
    } catch (error) {
      // Else the browser could not store what it was to save.
      return { phase: 'failed',
        line: shownLine(this.run.unwritable?.(chosen, args) ?? worker.rules.errorLine.replace('{}', () => error.message)) };
    }
  }

  // Focus leaves the hidden Cancel button for what the job ended with: the link to save, or the result.
  end(fields) {
    this.enter(fields.phase, fields);
    (this.download.hidden ? this.result : this.download).focus();
  }

  // Offers a download (or none, null), the last one's URL let go.
  offer(download) {
    if (this.url) {
      URL.revokeObjectURL(this.url);
      this.url = null;
    }
    this.download.hidden = download === null;
    if (download === null) {
      return;
    }
    this.url = URL.createObjectURL(download.blob);
    this.download.href = this.url;
    this.download.download = download.name;
    this.download.textContent = download.label + ' ' + download.name + ' (' + megabytes(download.blob.size) + ')';
    if (download.now) {
      this.download.click();
    }
  }
}

// Bytes made here (or a run of chosen files, copyOfDisc), as a Blob to put
// beside chosen files in a download. Firefox copies a download's every byte,
// the files' too, into its parent process once its URL is made if the Blob
// holds over 1 MiB in memory (the header area of a disc near 2 GiB); a body
// read by Response.blob() it keeps in a file instead.
const stored = (bytes) => new Response(bytes).blob();

// Firefox makes the same copy of a download with more than 8 parts read from
// files (nesting Blobs does not help): a folder's image of the metadata and
// more than 7 files. Such a disc keeps its largest files as parts and has the
// rest read once more, through Response.blob(), into Blobs that Firefox keeps
// in temporary files, not in memory, while the worker reads them for the
// checksums (copyOfDisc).
// Chromium would keep that Blob in memory, and copies no Blob of parts.
const kFileParts = 8;
const copiesManyParts = isFirefox;

// The radio buttons of the models, by code, the first (the programs' default) chosen.
function offerModels(names, id, group) {
  const fieldset = document.getElementById(id);
  names.forEach((name, code) => {
    const input = document.createElement('input');
    input.type = 'radio';
    input.name = group;
    input.value = String(code);
    input.checked = code === 0;
    const label = document.createElement('label');
    label.append(input, ' ' + name);
    fieldset.append(' ', label);
  });
}

const failedWith = (message) => ({ phase: 'failed', line: shownLine(message) });

const convertView = new View('convert', {
  start: (file, [model], options) => onTwo('convert', [file, model], [file], options),
  args: () => [Number(document.querySelector('input[name="model"]:checked').value)],
  unwritable: () => worker.rules.unwritable,
  async finish(file, result, args, signal) {
    if (!result.header) {
      return failedWith(result.message);
    }
    // The header area, then the ISO's own bytes straight from the file.
    const image = new Blob([await stored(result.header), asChosen(file)], { type: 'application/octet-stream' });
    signal.throwIfAborted();
    return { phase: 'done', line: shownLine(result.message),
      download: { blob: image, name: renamed(file.name, '.iso', '.bin'), label: 'Save', now: true } };
  },
});

// The disc of a valid image as a tree: a folder opens and closes (its items
// made when it first opens, so that a large disc costs nothing until looked
// at); a file is a link that saves its own bytes, a slice of the chosen
// image, never a copy.
let shownDisc = null;
const treeUrls = [];
const sizeFormat = new Intl.NumberFormat('en');
function showDiscTree(disc) {
  const list = document.getElementById('check-files');
  treeUrls.splice(0).forEach((url) => URL.revokeObjectURL(url));
  list.replaceChildren();
  document.getElementById('check-files-region').hidden = disc === null;
  const fault = document.getElementById('check-files-fault');
  fault.textContent = disc?.fault.trim() ?? '';
  fault.hidden = !disc?.fault;
  if (disc === null) return;
  const children = new Map();
  disc.files.forEach((item, index) => {
    if (!children.has(item.parent)) children.set(item.parent, []);
    children.get(item.parent).push(index);
  });
  const fill = (into, parent) => {
    for (const index of children.get(parent) ?? []) {
      const item = disc.files[index];
      const row = document.createElement('li');
      if (item.folder) {
        const folder = document.createElement('details');
        const name = document.createElement('summary');
        const inside = document.createElement('ul');
        name.textContent = `${item.name}/`;
        folder.append(name, inside);
        folder.addEventListener('toggle', () => {
          if (folder.open && !inside.hasChildNodes()) fill(inside, index);
        });
        row.append(folder);
      } else {
        const link = document.createElement('a');
        link.download = item.name;
        link.textContent = item.name;
        link.href = URL.createObjectURL(disc.image.slice(item.offset, item.offset + item.size, 'application/octet-stream'));
        treeUrls.push(link.href);
        const size = document.createElement('span');
        size.className = 'size';
        size.textContent = ` ${sizeFormat.format(item.size)} bytes`;
        row.append(link, size);
      }
      into.append(row);
    }
  };
  fill(list, -1);
}

const checkView = new View('check', {
  start: (file, args, options) => onTwo('check', [file], [file], options),
  args: () => [],
  finish(file, result) {
    if (!result.valid) {
      return { ...failedWith(result.message), report: result.report };
    }
    const iso = file.slice(result.payloadOffset, result.payloadOffset + result.payloadLength, 'application/octet-stream');
    return { phase: 'done', line: 'Valid modem image.', report: result.report,
      disc: { image: file, files: result.files, fault: result.discFault },
      download: { blob: iso, name: renamed(file.name, '.bin', '.iso'), label: 'Save the ISO inside,', now: false } };
  },
  // The report of the file checked, and its disc's tree, with the state the check ended in.
  shown({ report, disc }) {
    document.getElementById('check-report').textContent = report ?? '';
    document.getElementById('check-report-region').hidden = !report;
    if (disc !== shownDisc) {
      shownDisc = disc;
      showDiscTree(disc ?? null);
    }
  },
});



// From a folder: quarnel-pack's disc of a folder, chosen through the dialog
// (its files, each with its path below the folder) or dropped (walked
// through the entries API, empty folders included). The worker lays the disc
// out with quarnel-pack's code and reads every file through once for the
// checksums; the download is a Blob of the header area, the disc's metadata
// and the chosen files themselves, each followed by the zeros to its sector's end.

// A folder as the worker's pack takes it (web/worker/folder.js), from the files a dialog gave:
// { folder }, or { line } where it cannot be packed. Each file's time is
// read now, which fixes it as the file chosen (fixedAsChosen tells why).
function chosenFolder(files) {
  // A browser that cannot choose folders gives files without their paths;
  // one that can gives no files for a folder without any.
  if (files.length === 0) {
    return { line: 'This browser gave no files: the folder has none, or only empty folders. Drop it here instead to pack it.' };
  }
  if (files[0].webkitRelativePath === '') {
    return { line: 'This browser gave files, not a folder: drop the folder here instead.' };
  }
  const name = files[0].webkitRelativePath.split('/')[0];
  const folder = { name, modified: 0, directories: [], files: [] };
  const given = new Set();
  const above = new Set();  // every folder on the way to a file
  for (const file of files) {
    folder.modified = Math.max(folder.modified, file.lastModified);
    // Chromium gives a "\" in a name as "/": the file's own name is whole in
    // File.name, and so quarnel-pack's refusal of it holds; a folder's is lost.
    const relative = file.webkitRelativePath.slice(name.length + 1);
    const spelled = file.name.replaceAll('\\', '/');
    const path = relative === spelled || relative.endsWith('/' + spelled)
      ? relative.slice(0, relative.length - spelled.length) + file.name : relative;
    if (given.has(path)) {
      return { line: `This browser gave "${name}/${path}" twice: a folder's name holds "\\".` };
    }
    given.add(path);
    const names = path.split('/');
    names.slice(1).forEach((_, end) => above.add(names.slice(0, end + 1).join('/')));
    folder.files.push({ path, file });
  }
  const both = folder.files.find(({ path }) => above.has(path));
  if (both) {
    return { line: `This browser gave "${name}/${both.path}" as a file and a folder: a folder's name holds "\\".` };
  }
  return { folder };
}

// A dropped folder read whole: readEntries gives a directory's entries in
// batches until an empty one. An empty directory's time is its own where the
// browser tells it (getMetadata, as quarnel-pack takes it), else the newest
// file's of the folder. Rejects with { path }, below the folder, of what could not be read.
async function walkFolder(root) {
  const folder = { name: root.name, modified: 0, directories: [], files: [] };
  const untimed = [];
  const called = (entry, method) => new Promise((resolve, reject) => entry[method](resolve, reject));
  // A failure becomes the path it is about.
  const at = (path, promise) => promise.catch(() => Promise.reject({ path }));
  const timeOf = (entry) => (entry.getMetadata
    ? called(entry, 'getMetadata').then((metadata) => metadata.modificationTime.getTime(), () => null)
    : null);
  async function walk(directory, path) {
    const reader = directory.createReader();
    const entries = [];
    for (let batch; (batch = await at(path, called(reader, 'readEntries'))).length > 0;) {
      entries.push(...batch);
    }
    if (entries.length === 0) {
      const place = path === '' ? folder : { path, modified: 0 };
      place.modified = await timeOf(directory);
      if (place !== folder) {
        folder.directories.push(place);
      }
      if (place.modified === null) {
        untimed.push(place);
      }
    }
    for (const entry of entries) {
      const below = path === '' ? entry.name : path + '/' + entry.name;
      if (entry.isDirectory) {
        await walk(entry, below);
      } else {
        folder.files.push({ path: below, file: await at(below, called(entry, 'file')) });
      }
    }
  }
  await walk(root, '');
  const newest = folder.files.reduce((time, { file }) => Math.max(time, file.lastModified), 0);
  untimed.forEach((place) => {
    place.modified = newest;
  });
  return folder;
}

// The path of the first of the folder's files in `order` that can no longer
// be read (changed or gone since chosen), or null.
async function unreadablePath(folder, order) {
  for (const index of order) {
    const { path, file } = folder.files[index];
    try {
      await file.slice(0, 1).arrayBuffer();
    } catch {
      return path;
    }
  }
  return null;
}

// quarnel-pack's line for a file it cannot read, `path` below the folder `name` (or the folder, where empty),
// as the program words it; the worker's own message when it fails.
const unreadableLine = (name, path) => worker.unreadable(name, path)
  .then(({ message }) => shownLine(message), ({ message }) => message);

// The chosen files of a disc laid out as `order` and `padding` say, those
// from place `from` to `to` in order, each followed by its zeros, as they go
// into a Blob after its metadata.
function filesOfDisc(folder, order, padding, from = 0, to = order.length) {
  const zeros = new Uint8Array(padding.slice(from, to).reduce((most, count) => Math.max(most, count), 0));
  return order.slice(from, to).flatMap((index, i) =>
    [asChosen(folder.files[index].file), zeros.subarray(0, padding[from + i])]);
}

// The places in order of the files that stay parts of their own, of `sizes`
// in order, where `budget` parts may be read from files: one for each such
// file and one for each run of those copied between them, the most bytes
// kept. A Set.
function keptFiles(sizes, budget) {
  const none = () => Array.from({ length: budget + 1 }, () => [-1, -1]);
  // best[parts][copying]: the most bytes kept so far in that many parts, the
  // file before copied (1) or not (0); and for each file, by the state it
  // leads to, the state before it and whether it was kept.
  let best = none();
  best[0][0] = 0;
  const steps = sizes.map((size) => {
    const next = none();
    const back = new Map();
    const offer = (parts, copying, bytes, before) => {
      if (parts <= budget && bytes > next[parts][copying]) {
        next[parts][copying] = bytes;
        back.set(parts * 2 + copying, before);
      }
    };
    best.forEach((states, parts) => states.forEach((bytes, copying) => {
      if (bytes >= 0) {
        offer(parts + 1, 0, bytes + size, { parts, copying, kept: true });
        offer(copying ? parts : parts + 1, 1, bytes, { parts, copying, kept: false });
      }
    }));
    best = next;
    return back;
  });
  let at = { parts: 0, copying: 0 };
  best.forEach((states, parts) => states.forEach((bytes, copying) => {
    if (bytes > best[at.parts][at.copying]) {
      at = { parts, copying };
    }
  }));
  const kept = new Set();
  for (let i = steps.length - 1; i >= 0; --i) {
    at = steps[i].get(at.parts * 2 + at.copying);
    if (at.kept) {
      kept.add(i);
    }
  }
  return kept;
}

// The parts of a disc laid out as a LayoutMessage says, after its metadata,
// where Firefox would copy a Blob of them (copiesManyParts): the files that
// hold the most bytes stay parts of their own, and each run of files between
// them is read, while the worker reads it, into one Blob that Firefox keeps
// in a temporary file, a part too; the header area and the metadata make
// the last. Resolves to { parts }, or { line } where a file changed since
// chosen is one quarnel-pack cannot read, or '' where Firefox read one shrunk
// short without a word, and so which one is not known. Once begun it runs to
// its end, the job cancelled or not: a Response of a Blob cannot be stopped midway.
function copyOfDisc(folder, { order, padding }) {
  const kept = keptFiles(order.map((index) => folder.files[index].file.size), kFileParts - 1);
  const copying = (async () => {
    const parts = [];
    for (let from = 0, to = 1; from < order.length; from = to, to = from + 1) {
      if (kept.has(from)) {
        parts.push(...filesOfDisc(folder, order, padding, from, to));
        continue;
      }
      while (to < order.length && !kept.has(to)) {
        ++to;
      }
      const run = new Blob(filesOfDisc(folder, order, padding, from, to));
      let path = null;
      try {
        const copy = await stored(run);
        parts.push(copy);
        path = copy.size === run.size ? null : '';
      } catch (error) {
        path = await unreadablePath(folder, order.slice(from, to));
        if (path === null) {
          throw error;
        }
      }
      if (path !== null) {
        return { line: await unreadableLine(folder.name, path) };
      }
    }
    return { parts };
  })();
  copying.catch(() => {});  // a job that fails first leaves it unread
  return copying;
}

class FolderView extends View {
  choose(files) {
    const { folder = null, line } = chosenFolder(files);
    this.enter(line ? 'failed' : 'idle', { chosen: folder, line: line ?? '' });
  }

  dropped(transfer) {
    const entry = droppedEntry(transfer);
    if (!entry?.isDirectory) {
      if (this.state.phase !== 'running' && !this.state.walking) {
        this.enter('failed', { line: 'Drop one folder here.' });
      }
      return;
    }
    if (worker.rules === null) {
      this.enter('failed', { line: 'Drop the folder again once the page has started.' });  // no module to pack it
      return;
    }
    this.input.value = '';
    const walking = this.walk(entry);
    this.enter('idle', { chosen: null, line: 'Reading ' + entry.name + '…', walking });
    walking.then((fields) => {
      if (this.state.walking === walking) {
        this.enter(fields.phase, fields);
      }
    });
  }

  // A dropped folder read: the state the view takes, its line what it says of it.
  async walk(entry) {
    try {
      const folder = await walkFolder(entry);
      // The file input still reads as empty: say what was dropped.
      const count = folder.files.length;
      return { phase: 'idle', chosen: folder, line: `Dropped ${folder.name}: ${count} file${count === 1 ? '' : 's'}.` };
    } catch (error) {
      return { phase: 'failed', chosen: null, line: await unreadableLine(entry.name, error?.path ?? '') };
    }
  }
}

// The worker takes the model and the label; "Disc only" is the page's, as it was at the start.
const folderArgs = () => {
  const label = document.getElementById('folder-label').value;
  return [Number(document.querySelector('input[name="folder-model"]:checked').value), label === '' ? null : label,
    document.getElementById('folder-iso').checked];
};
const imageName = (folder, [, , discOnly]) => folder.name + (discOnly ? '.iso' : '.bin');

const folderView = new FolderView('folder', {
  // Where Firefox would copy the image (copiesManyParts), the page copies the disc as the worker reads it.
  async start(folder, [model, label], options) {
    let layout = null;  // where it went ahead of the result, which then leaves it out
    let copying = null;
    const result = await onTwo('pack', [folder, model, label, copiesManyParts && 1 + folder.files.length > kFileParts],
      folder.files.map(({ file }) => file),
      { ...options, onLayout: ({ metadata, order, padding }) => {
        layout = { metadata, order, padding };
        copying = copyOfDisc(folder, layout);
      } });
    return { ...layout, ...result, copying };
  },
  args: folderArgs,
  unwritable: (folder, args) => worker.rules.packUnwritable.replace('{}', () => imageName(folder, args)),
  async finish(folder, result, args, signal, update) {
    if (!result.header) {
      return failedWith(result.message);
    }
    const [, , discOnly] = args;
    const name = imageName(folder, args);
    let files;
    if (result.copying) {
      update({ line: 'Writing ' + name + ' to a temporary file…', progress: null });  // of unknown length
      const copied = await result.copying;
      signal.throwIfAborted();
      if (copied.line) {
        return { phase: 'failed', line: copied.line };
      }
      files = copied.parts;
    } else {
      files = filesOfDisc(folder, result.order, result.padding);
    }
    const first = await stored(new Blob(discOnly ? [result.metadata] : [result.header, result.metadata]));
    signal.throwIfAborted();
    const image = new Blob([first, ...files], { type: 'application/octet-stream' });
    return { phase: 'done', line: shownLine(result.message), download: { blob: image, name, label: 'Save', now: true } };
  },
});

// The page is ready once the module is (`data-ready` on the body, for the benchmark).
const views = [convertView, checkView, folderView];
worker.ready.then((rules) => {
  offerModels(rules.models, 'convert-model', 'model');
  offerModels(rules.models, 'folder-model', 'folder-model');
  views.forEach((view) => view.show(view.state));
  document.body.dataset.ready = 'yes';
}, (reason) => {
  brokenLine = `This browser cannot start the converter${reason ? ` (${reason})` : ''}.`;
  views.forEach((view) => view.show(view.state));
});
