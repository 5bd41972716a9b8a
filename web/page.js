// The page's own script: the two views, Convert and Check. The jobs run in one
// Web Worker, started once for the page's life from the script text embedded
// in index.html (a Blob URL works from a web server and from a folder opened
// as file://, where a worker file would be refused), so a job costs no new
// worker and no new module. Downloads are Blobs built of the chosen file
// itself or slices of it, so no file is ever held in memory whole.
'use strict';

// The worker and the views waiting for it, by job number. A job's messages
// carry its number: those of a job cancelled or replaced are dropped.
const jobs = {
  url: URL.createObjectURL(
    new Blob([document.getElementById('quarnel-worker').textContent], { type: 'text/javascript' })),
  worker: null,
  last: 0,
  waiting: new Map(),

  // Starts the worker; the page is ready once its module is (`data-ready` on the body, for the benchmark).
  start() {
    this.worker = new Worker(this.url);
    this.worker.onmessage = ({ data }) => {
      if (data.kind === 'ready') {
        document.body.dataset.ready = 'yes';
        return;
      }
      const view = this.waiting.get(data.id);
      if (data.kind !== 'progress') {
        this.waiting.delete(data.id);  // the job's last message
      }
      view?.receive(data);
    };
    // A failure of the worker itself (the module stopped): every job waiting
    // on it fails, and the next job starts a new worker.
    this.worker.onerror = (event) => {
      event.preventDefault();
      this.worker.terminate();
      this.worker = null;
      const views = [...this.waiting.values()];
      this.waiting.clear();
      views.forEach((view) => view.end('Error: ' + (event.message || 'the page stopped working on this file') + '.', true));
    };
  },

  // Posts a job for `view`: its number.
  post(view, message) {
    if (this.worker === null) {
      this.start();
    }
    const id = ++this.last;
    this.waiting.set(id, view);
    this.worker.postMessage({ id, ...message });
    return id;
  },

  // Stops a job: the worker ends it at its next read, and what it still says is dropped.
  cancel(id) {
    if (this.waiting.delete(id)) {
      this.worker.postMessage({ cancel: id });
    }
  },
};
jobs.start();

// The name of the download: the chosen file's, its extension replaced.
function renamed(name, from, to) {
  return (name.toLowerCase().endsWith(from) ? name.slice(0, -from.length) : name) + to;
}

function megabytes(bytes) {
  return (bytes / 1048576).toFixed(1) + ' MiB';
}

// The command line's error line, as it prints it, without its newline.
function refusal(message) {
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
    this.job = null;     // the number of the job running, if any
    this.chosen = null;  // the file it runs on
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
      if (event.dataTransfer.files.length === 1) {
        this.input.files = event.dataTransfer.files;
        this.input.dispatchEvent(new Event('change'));
      }
    });
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
    this.start.disabled = this.file === null;
  }

  say(text, failed) {
    this.result.textContent = text;
    this.result.classList.toggle('failed', failed);
  }

  stop() {
    if (this.job !== null) {
      jobs.cancel(this.job);
      this.job = null;
    }
    this.progress.hidden = true;
    this.cancel.hidden = true;
    this.start.disabled = this.file === null;
  }

  begin() {
    const file = this.file;
    this.reset();
    this.start.disabled = true;
    this.cancel.hidden = false;
    this.progress.hidden = false;
    this.progress.value = 0;
    this.say('Reading ' + file.name + '…', false);
    this.chosen = file;
    this.job = jobs.post(this, { job: this.run.job, file, ...this.run.options() });
  }

  // A message from the worker about this view's job.
  receive(data) {
    if (data.kind === 'progress') {
      this.progress.value = data.total === 0 ? 1 : data.done / data.total;
      return;
    }
    this.job = null;
    this.stop();
    this.run.finish(this, this.chosen, data);
  }

  end(text, failed) {
    this.stop();
    this.say(text, failed);
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

const convertView = new View('convert', {
  job: 'convert',
  options: () => ({ model: Number(document.querySelector('input[name="model"]:checked').value) }),
  finish(view, file, data) {
    if (data.kind !== 'converted') {
      view.say(refusal(data.message), true);
      return;
    }
    // The header area, then the ISO's own bytes straight from the file.
    const image = new Blob([data.header, file], { type: 'application/octet-stream' });
    view.say('Operation successfully completed.', false);
    view.offer(image, renamed(file.name, '.iso', '.bin'), 'Save', true);
  },
});

const checkView = new View('check', {
  job: 'check',
  options: () => ({}),
  finish(view, file, data) {
    const report = document.getElementById('check-report');
    report.textContent = data.report ?? '';
    report.hidden = !data.report;
    if (data.kind !== 'checked') {
      view.say(refusal(data.message), true);
      return;
    }
    view.say('Valid modem image.', false);
    const iso = file.slice(data.payloadOffset, data.payloadOffset + data.payloadLength, 'application/octet-stream');
    view.offer(iso, renamed(file.name, '.bin', '.iso'), 'Save the ISO inside,', false);
  },
});

// A report from an earlier file goes when another is chosen.
checkView.input.addEventListener('change', () => {
  document.getElementById('check-report').hidden = true;
});
void convertView;
