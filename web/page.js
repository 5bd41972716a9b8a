// The page's own script: the two views, Convert and Check. Each job runs in a
// Web Worker started from the script text embedded in index.html (a Blob URL
// works from a web server and from a folder opened as file://, where a worker
// file would be refused). Downloads are Blobs built of the chosen file itself
// or slices of it, so no file is ever held in memory whole.
'use strict';

const workerUrl = URL.createObjectURL(
  new Blob([document.getElementById('quarnel-worker').textContent], { type: 'text/javascript' }));

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
    this.worker = null;
    this.url = null;

    this.input.addEventListener('change', () => this.reset());
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
    if (this.worker) {
      this.worker.terminate();
      this.worker = null;
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
    this.worker = new Worker(workerUrl);
    this.worker.onmessage = ({ data }) => {
      if (data.kind === 'progress') {
        this.progress.value = data.total === 0 ? 1 : data.done / data.total;
        return;
      }
      this.stop();
      this.run.finish(this, file, data);
    };
    this.worker.onerror = (event) => {
      event.preventDefault();
      this.end('Error: ' + (event.message || 'the page stopped working on this file') + '.', true);
    };
    this.worker.postMessage({ job: this.run.job, file, ...this.run.options() });
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
