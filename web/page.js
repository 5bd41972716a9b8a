// The page's own script: the views Convert, Check and From a folder. The jobs run in one
// Web Worker, started once for the page's life from the script text embedded
// in index.html (a Blob URL works from a web server and from a folder opened
// as file://, where a worker file would be refused), so a job costs no new
// worker and no new module. Downloads are Blobs built of the chosen file
// itself or slices of it, so no file is ever held in memory whole.
'use strict';

// The worker as one call: `await worker.run(kind, args, { signal, onProgress })`
// resolves to what worker.js's method `kind` returns for `args`, and rejects
// with the signal's reason once it is aborted (the worker stops the job at its
// next read) or with an Error worded for the page when the worker itself fails
// (the module stopped), after which the next call starts a new worker.
// `onReady` gets the module's rules (worker.js, rules()) once it has started,
// `onBroken` the browser's words if it cannot start (no WebAssembly, or a
// module that does not compile).
class QuarnelWorker {
  constructor(script, onReady, onBroken) {
    this.url = URL.createObjectURL(new Blob([script], { type: 'text/javascript' }));
    this.onReady = onReady;
    this.onBroken = onBroken;
    this.rules = null;
    this.last = 0;
    this.calls = new Map();  // by the number each message of a call carries
    this.start();
  }

  start() {
    this.worker = new Worker(this.url);
    this.worker.onmessage = ({ data }) => {
      if (data.ready) {
        this.rules = data.ready;
        this.onReady(this.rules);
        return;
      }
      if (data.read) {
        this.supply(data.read);
        return;
      }
      const call = this.calls.get(data.id);
      if (data.progress) {
        call?.onProgress?.(data.progress.done, data.progress.total);
      } else if (call) {
        this.calls.delete(data.id);
        call.resolve(data.result);
      }
    };
    this.worker.onerror = (event) => {
      event.preventDefault();
      this.worker.terminate();
      this.worker = null;
      if (this.rules === null) {
        this.onBroken(event.message);
        return;
      }
      // A call is made only once the module has started, and so its rules are known.
      const calls = [...this.calls.values()];
      this.calls.clear();
      calls.forEach((call) =>
        call.reject(new Error(this.rules.errorLine.replace('{}', () => event.message || 'the page stopped working on this file'))));
    };
  }

  // Bytes the worker cannot read itself (WebKit's from a folder opened as
  // file://), read here a slice at a time as it asks and handed over, not copied.
  supply({ ticket, blob, offset, length }) {
    const worker = this.worker;
    blob.slice(offset, offset + length).arrayBuffer().then(
      (bytes) => worker.postMessage({ ticket, bytes }, [bytes]),
      () => worker.postMessage({ ticket, bytes: null }));
  }

  run(kind, args, { signal, onProgress } = {}) {
    return new Promise((resolve, reject) => {
      signal?.throwIfAborted();
      if (this.worker === null) {
        this.start();
      }
      const id = ++this.last;
      this.calls.set(id, { resolve, reject, onProgress });
      signal?.addEventListener('abort', () => {
        if (this.calls.delete(id)) {
          this.worker?.postMessage({ id, abort: true });
          reject(signal.reason);
        }
      }, { once: true });
      this.worker.postMessage({ id, kind, args });
    });
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

// One view: a file input that also takes a dropped file, start and cancel
// buttons, a progress bar, a result line read out by screen readers, a download link.
class View {
  constructor(name, run) {
    this.section = document.getElementById(name);
    this.input = document.getElementById(name + '-file');
    this.start = document.getElementById(name + '-start');
    this.cancel = document.getElementById(name + '-cancel');
    this.progress = document.getElementById(name + '-progress');
    this.result = document.getElementById(name + '-result');
    this.download = document.getElementById(name + '-download');
    this.run = run;
    this.controller = null;  // aborts the job running, if any
    this.chosenAs = null;  // the size and time the file had when chosen
    this.url = null;

    this.input.addEventListener('change', () => {
      // The browser fixes a chosen file's size and time when they are first
      // read, and from then on refuses to read a file that no longer has them.
      // Reading them now makes the file the one chosen: changed afterwards, it
      // is refused rather than taken as it has become.
      this.chosenAs = this.file && { size: this.file.size, lastModified: this.file.lastModified };
      this.reset();
    });
    this.start.addEventListener('click', () => this.begin());
    this.cancel.addEventListener('click', () => this.end('Cancelled: nothing was saved.', false));
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

  dropped(transfer) {
    // A folder would be given as a file that cannot be read, or (WebKit) as an empty one.
    const entry = droppedEntry(transfer);
    if (entry?.isDirectory) {
      this.input.value = '';
      this.input.dispatchEvent(new Event('change'));
      this.say(`"${entry.name}" is a folder, not a file.`, true);
      return;
    }
    if (transfer.files.length === 1) {
      this.input.files = transfer.files;
      this.input.dispatchEvent(new Event('change'));
    }
  }

  get file() {
    return this.input.files[0] ?? null;
  }

  // A new file, or a new run: what the last one showed goes.
  reset() {
    this.stop();
    this.say('', false);
    this.download.hidden = true;
    if (this.url) {
      URL.revokeObjectURL(this.url);
      this.url = null;
    }
    this.idle();
  }

  // A job can start once a file is chosen and the module has started; a
  // module that cannot start is said again whatever is chosen.
  idle() {
    this.start.disabled = this.file === null || worker.rules === null;
    if (brokenLine !== null) {
      this.say(brokenLine, true);
    }
  }

  say(text, failed) {
    this.result.textContent = text;
    this.result.classList.toggle('failed', failed);
  }

  stop() {
    this.controller?.abort();
    this.controller = null;
    this.progress.hidden = true;
    this.cancel.hidden = true;
    this.idle();
  }

  async begin() {
    const file = this.file;
    this.reset();
    this.start.disabled = true;
    this.cancel.hidden = false;
    this.cancel.focus();
    this.progress.hidden = false;
    this.progress.value = 0;
    this.say('Reading ' + file.name + '…', false);
    const controller = new AbortController();
    this.controller = controller;
    const onProgress = (done, total) => {
      this.progress.value = total === 0 ? 1 : done / total;
    };
    const args = this.run.args();
    let result;
    try {
      result = await worker.run(this.run.kind, [file, ...args], { signal: controller.signal, onProgress });
    } catch (error) {
      // Aborted, the view has already said why (cancelled, or another file chosen).
      if (!controller.signal.aborted) {
        this.end(error.message, true);
      }
      return;
    }
    // Done in the worker, but the link may take a while more to make (a
    // folder's image in Firefox): it is offered only if the job was neither
    // cancelled nor replaced by another file meanwhile, both of which abort
    // (finish throws the signal's reason after each wait).
    try {
      await this.run.finish(this, file, result, controller.signal, args);
    } catch (error) {
      // Else the browser could not store what it was to save.
      if (!controller.signal.aborted) {
        this.end(shownLine(this.run.unwritable?.(file, args) ?? worker.rules.errorLine.replace('{}', () => error.message)),
          true);
      }
      return;
    }
    this.controller = null;
    this.stop();
    this.settle();
  }

  end(text, failed) {
    this.stop();
    this.say(text, failed);
    this.settle();
  }

  // Focus leaves the hidden Cancel button for what the job ended with: the link to save, or the result.
  settle() {
    (this.download.hidden ? this.result : this.download).focus();
  }

  // Offers a Blob as a download; `now` starts it at once.
  offer(blob, name, label, now) {
    this.url = URL.createObjectURL(blob);
    this.download.href = this.url;
    this.download.download = name;
    this.download.textContent = label + ' ' + name + ' (' + megabytes(blob.size) + ')';
    this.download.hidden = false;
    if (now) {
      this.download.click();
    }
  }
}

// Bytes made here, as a Blob to put beside chosen files in a download. Firefox
// copies a download's every byte, the files' too, into its parent process once
// its URL is made if the Blob holds over 1 MiB in memory (the header area of a
// disc near 2 GiB); a body read by Response.blob() it keeps in a file instead.
const stored = (bytes) => new Response(bytes).blob();

// Firefox makes the same copy of a download with more than 8 parts read from
// files (nesting Blobs does not help): a folder's image of the metadata and
// more than 7 files. Such an image is read once more, through Response.blob(),
// into one Blob that Firefox keeps in a temporary file, not in memory.
// Chromium would keep that Blob in memory, and copies no Blob of parts.
const kFileParts = 8;
const copiesManyParts = /\bFirefox\//.test(navigator.userAgent);

// The radio buttons of the models, by code, the first (the programs' default) chosen.
function offerModels(names, id = 'convert-model', group = 'model') {
  const fieldset = document.getElementById(id);
  if (fieldset.querySelector('input') !== null) {
    return;  // offered when the first worker started
  }
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

const convertView = new View('convert', {
  kind: 'convert',
  args: () => [Number(document.querySelector('input[name="model"]:checked').value)],
  unwritable: () => worker.rules.unwritable,
  async finish(view, file, result, signal) {
    if (!result.header) {
      view.say(shownLine(result.message), true);
      return;
    }
    // The header area, then the ISO's own bytes straight from the file.
    const image = new Blob([await stored(result.header), asChosen(file)], { type: 'application/octet-stream' });
    signal.throwIfAborted();
    view.say(shownLine(result.message), false);
    view.offer(image, renamed(file.name, '.iso', '.bin'), 'Save', true);
  },
});

const checkView = new View('check', {
  kind: 'check',
  args: () => [],
  finish(view, file, result) {
    document.getElementById('check-report').textContent = result.report;
    document.getElementById('check-report-region').hidden = !result.report;
    if (!result.valid) {
      view.say(shownLine(result.message), true);
      return;
    }
    view.say('Valid modem image.', false);
    const iso = file.slice(result.payloadOffset, result.payloadOffset + result.payloadLength, 'application/octet-stream');
    view.offer(iso, renamed(file.name, '.bin', '.iso'), 'Save the ISO inside,', false);
  },
});

// A report from an earlier file goes when another is chosen.
checkView.input.addEventListener('change', () => {
  document.getElementById('check-report-region').hidden = true;
});


// From a folder: quarnel-pack's disc of a folder, chosen through the dialog
// (its files, each with its path below the folder) or dropped (walked
// through the entries API, empty folders included). The worker lays the disc
// out with quarnel-pack's code and reads every file through once for the
// checksums; the download is a Blob of the header area, the disc's metadata
// and the chosen files themselves, each followed by the zeros to its sector's end.

// A folder as worker.js's pack takes it, from the files a dialog gave:
// { folder }, or { line } where it cannot be packed. Each file's time is
// read now, which fixes it as the file chosen (View's change handler tells why).
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

// quarnel-pack's line for a file it cannot read, `path` below the folder `name` (or the folder, where empty),
// as the program words it; the worker's own message when it fails.
const unreadableLine = (name, path) => worker.run('unreadable', [null, name, path])
  .then(({ message }) => shownLine(message), ({ message }) => message);

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

class FolderView extends View {
  constructor(run) {
    super('folder', run);
    this.folder = null;
    this.walking = null;  // the drop being read, which a later choice makes stale
    this.input.addEventListener('change', () => {
      this.walking = null;
      const { folder = null, line } = chosenFolder(this.input.files);
      this.folder = folder;
      this.reset();
      if (line) {
        this.say(line, true);
      }
    });
  }

  get file() {
    return this.folder;
  }

  dropped(transfer) {
    const entry = droppedEntry(transfer);
    if (worker.rules === null) {
      return;  // no module to pack it
    }
    if (!entry?.isDirectory) {
      if (this.controller === null && this.walking === null) {
        this.reset();
        this.say('Drop one folder here.', true);
      }
      return;
    }
    this.input.value = '';
    this.folder = null;
    this.reset();
    this.say('Reading ' + entry.name + '…', false);
    const walking = this.walk(entry);
    this.walking = walking;
    walking.then(({ folder, line, failed }) => {
      if (this.walking === walking) {
        this.walking = null;
        this.folder = folder;
        this.reset();
        this.say(line, failed);
      }
    });
  }

  // A dropped folder read: { folder, line, failed }, the line what the view says of it.
  async walk(entry) {
    try {
      const folder = await walkFolder(entry);
      // The file input still reads as empty: say what was dropped.
      const count = folder.files.length;
      return { folder, line: `Dropped ${folder.name}: ${count} file${count === 1 ? '' : 's'}.`, failed: false };
    } catch (error) {
      return { folder: null, line: await unreadableLine(entry.name, error?.path ?? ''), failed: true };
    }
  }
}

const folderView = new FolderView({
  kind: 'pack',
  args: () => {
    const label = document.getElementById('folder-label').value;
    // The worker takes the model and the label; "Disc only" is the page's, as it was at the start.
    return [Number(document.querySelector('input[name="folder-model"]:checked').value), label === '' ? null : label,
      document.getElementById('folder-iso').checked];
  },
  imageName: (folder, [, , discOnly]) => folder.name + (discOnly ? '.iso' : '.bin'),
  unwritable(folder, args) {
    return worker.rules.packUnwritable.replace('{}', () => this.imageName(folder, args));
  },
  async finish(view, folder, result, signal, args) {
    if (!result.header) {
      view.say(shownLine(result.message), true);
      return;
    }
    const [, , discOnly] = args;
    const zeros = new Uint8Array(result.sector);
    const parts = [await stored(new Blob(discOnly ? [result.metadata] : [result.header, result.metadata]))];
    signal.throwIfAborted();
    for (const index of result.order) {
      const { file } = folder.files[index];
      parts.push(asChosen(file), zeros.subarray(0, (result.sector - (file.size % result.sector)) % result.sector));
    }
    const name = this.imageName(folder, args);
    let image = new Blob(parts, { type: 'application/octet-stream' });
    if (copiesManyParts && 1 + result.order.length > kFileParts) {
      view.say('Writing ' + name + ' to a temporary file…', false);
      view.progress.removeAttribute('value');  // of unknown length
      // A file changed since the worker read it is one quarnel-pack cannot read: `path`, or '' where
      // Firefox read one shrunk since then short without a word, and so which one is not known.
      let path = null;
      try {
        const size = image.size;
        image = await new Response(image).blob();
        path = image.size === size ? null : '';
      } catch (error) {
        path = await unreadablePath(folder, result.order);
        signal.throwIfAborted();
        if (path === null) {
          throw error;
        }
      }
      signal.throwIfAborted();
      if (path !== null) {
        const line = await unreadableLine(folder.name, path);
        signal.throwIfAborted();
        view.say(line, true);
        return;
      }
    }
    view.say(shownLine(result.message), false);
    view.offer(image, name, 'Save', true);
  },
});

// The page is ready once the module is (`data-ready` on the body, for the benchmark).
const worker = new QuarnelWorker(document.getElementById('quarnel-worker').textContent, (rules) => {
  offerModels(rules.models);
  offerModels(rules.models, 'folder-model', 'folder-model');
  folderView.idle();
  convertView.idle();
  checkView.idle();
  document.body.dataset.ready = 'yes';
}, (reason) => {
  brokenLine = `Error: this browser cannot start the converter${reason ? ` (${reason})` : ''}.`;
  [convertView, checkView, folderView].forEach((view) => view.idle());
});
