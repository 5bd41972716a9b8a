// The page's Web Worker, one for the page's life: it reads the chosen file in
// slices of the module's chunk size, so that memory stays flat whatever the
// file's size, and hands each slice to the WebAssembly module (createQuarnel,
// from web/module/web_binding.cpp), which checksums and checks it. The page
// calls convert and check through serve() at the end; they run one at a time,
// in the order they come.
'use strict';

let file = null;
let quarnel = null;
let lastProgress = 0;
// The call running: its AbortSignal, and where its progress goes.
let job = null;

// The one buffer every read goes through on its way into the module's memory,
// a chunk long: a byte stream's reader fills it in place, so reading leaves no
// garbage behind and memory stays flat however large the file.
let spare = null;

// A reader of a Blob's bytes in order, up to `max` at a time: a byte stream's
// reader fills the spare buffer in place; where a browser offers no byte
// stream for a Blob, the stream's own chunks, the rest of one kept for the next.
function streamOf(blob) {
  const stream = blob.stream();
  let bytes;
  try {
    bytes = stream.getReader({ mode: 'byob' });
  } catch {
    const chunks = stream.getReader();
    let rest = new Uint8Array(0);
    return {
      async read(max) {
        if (rest.length === 0) {
          const { done, value } = await chunks.read();
          if (done) {
            return { done };
          }
          rest = value;
        }
        const value = rest.subarray(0, max);
        rest = rest.subarray(value.length);
        return { done: false, value };
      },
      cancel: () => chunks.cancel(),
    };
  }
  return {
    async read(max) {
      const { done, value } = await bytes.read(new Uint8Array(spare, 0, max));
      if (value) {
        spare = value.buffer;  // the same memory, handed back
      }
      return { done, value };
    },
    cancel: () => bytes.cancel(),
  };
}

// Fills `length` bytes of the module's memory at `pointer` from a reader: the
// count, or -1 when the file cannot be read. A file changed since it was
// chosen cannot be read any more: Chromium fails the stream.
async function fill(reader, pointer, length) {
  try {
    let done = 0;
    while (done < length) {
      if (job.signal.aborted) {
        return -1;  // a cancelled call reads no further
      }
      const { done: ended, value } = await reader.read(Math.min(spare.byteLength, length - done));
      if (ended) {
        break;
      }
      quarnel.HEAPU8.set(value, pointer + done);
      done += value.length;
    }
    return done;
  } catch {
    return -1;
  }
}

// The check reads the checksum table and the payload in turn, each front to
// back, and a few sectors here and there: a stream is kept open for each of
// the two latest places, and a read that goes on where one ended continues it.
// Small reads (the table's, a window's worth of entries at a time) go
// through a 64 KiB piece of the file read whole instead: a byte stream read a
// few hundred bytes at a time leaves the rest of each of the browser's chunks
// behind as copies, tens of MiB over a large image.
let open = [];
const kPieceSize = 1 << 16;
let piece = { offset: 0, bytes: new Uint8Array(0) };

async function readSmall(offset, pointer, length) {
  try {
    if (offset < piece.offset || offset + length > piece.offset + piece.bytes.length) {
      if (job.signal.aborted) {
        return -1;
      }
      const bytes = new Uint8Array(await file.slice(offset, offset + kPieceSize).arrayBuffer());
      piece = { offset, bytes };
    }
    const bytes = piece.bytes.subarray(offset - piece.offset, offset - piece.offset + length);
    quarnel.HEAPU8.set(bytes, pointer);
    return bytes.length;
  } catch {
    return -1;
  }
}

// File bytes [offset, offset + length) into the module's memory, for the check.
async function readInto(offset, pointer, length) {
  if (length <= kPieceSize) {
    return readSmall(offset, pointer, length);
  }
  let stream = open.find((candidate) => candidate.next === offset);
  if (!stream) {
    stream = { next: offset, reader: streamOf(file.slice(offset)) };
    open.unshift(stream);
    open.splice(2).forEach((dropped) => dropped.reader.cancel().catch(() => {}));
  }
  const got = await fill(stream.reader, pointer, length);
  stream.next += Math.max(got, 0);
  return got;
}

function progress(done, total) {
  const now = performance.now();
  if (now - lastProgress >= 50 || done === total) {
    lastProgress = now;
    job.progress(done, total);
  }
}

// The sizes and the time the file was last changed, as when it was chosen: a file that changed is refused.
function unchanged(chosen) {
  return file.size === chosen.size && file.lastModified === chosen.lastModified;
}

const text = (pointer) => quarnel.UTF8ToString(pointer);

// The image's header area for the model of code `model`, and quarnel's last
// line: { message, header }, with no header when the file is refused.
async function convert(model) {
  const chosen = { size: file.size, lastModified: file.lastModified };
  if (quarnel._quarnel_convert_begin(file.size, model) !== 0) {
    return { message: text(quarnel._quarnel_message()) };
  }
  // One stream from start to end: the browser reads ahead while the module checksums.
  const source = streamOf(file);
  open.push({ next: 0, reader: source });
  const chunkSize = quarnel._quarnel_chunk_size();
  for (let offset = 0; offset < chosen.size; offset += chunkSize) {
    const length = Math.min(chunkSize, chosen.size - offset);
    if (await fill(source, quarnel._quarnel_chunk_buffer(), length) !== length) {
      return { message: text(quarnel._quarnel_unreadable_source_message()) };
    }
    quarnel._quarnel_convert_chunk(offset, length);
    progress(offset + length, chosen.size);
  }
  if (!unchanged(chosen)) {
    return { message: text(quarnel._quarnel_unreadable_source_message()) };
  }
  const area = quarnel._quarnel_convert_finish();
  const header = quarnel.HEAPU8.slice(area, area + quarnel._quarnel_header_area_size());
  return { message: text(quarnel._quarnel_success_message()), header };
}

// quarnel-inspect's report on the image, and where the ISO lies in it:
// { valid, report, message, payloadOffset, payloadLength }, the message the failure's line.
async function check() {
  const name = new TextEncoder().encode(file.name);
  quarnel.HEAPU8.set(name, quarnel._quarnel_name_buffer(name.length));
  // The check reads through readInto, which waits: the module is built to pause for it (Asyncify).
  const status = await quarnel.ccall('quarnel_check', 'number', ['number'], [file.size], { async: true });
  return {
    valid: status === 0,
    report: text(quarnel._quarnel_text()),
    message: text(quarnel._quarnel_message()),
    payloadOffset: quarnel._quarnel_payload_offset(),
    payloadLength: quarnel._quarnel_payload_length(),
  };
}

// A failure of the module or of this script, thrown again outside every
// promise: the page sees the worker's error event, fails the calls waiting and
// starts a new worker for the next one.
function fail(error) {
  setTimeout(() => {
    throw error;
  });
}

// What the page takes from the module rather than retyping: the models' names
// by code, and the programs' error line with "{}" for its description.
function rules() {
  const models = Array.from({ length: quarnel._quarnel_model_count() }, (_, code) =>
    text(quarnel._quarnel_model_name(code)));
  return { models, errorLine: quarnel.ccall('quarnel_error_line', 'string', ['string'], ['{}']).trim() };
}

// The page's end of the calls (page.js's QuarnelWorker): a call { id, kind,
// args } runs methods[kind](...args) once the calls before it have ended and
// answers { id, result }, with { id, progress } on the way; { id, abort }
// aborts it, which stops it at its next read. The streams a call opened are
// closed at its end and its file let go. The first message says the module
// has started: { ready: rules() }.
function serve(methods) {
  const calls = new Map();
  let queue = createQuarnel({ readInto, progress }).then((module) => {
    quarnel = module;
    spare = new ArrayBuffer(quarnel._quarnel_chunk_size());
    postMessage({ ready: rules() });
  }, fail);

  async function answer(id, kind, [chosen, ...args], signal) {
    job = { signal, progress: (done, total) => postMessage({ id, progress: { done, total } }) };
    file = chosen;
    try {
      if (!signal.aborted) {
        const result = await methods[kind](...args);
        postMessage({ id, result }, result.header ? [result.header.buffer] : []);
      }
    } finally {
      calls.delete(id);
      open.splice(0).forEach((stream) => stream.reader.cancel().catch(() => {}));
      piece = { offset: 0, bytes: new Uint8Array(0) };
      file = null;
      job = null;
    }
  }

  onmessage = ({ data: { id, kind, args, abort } }) => {
    if (abort) {
      calls.get(id)?.abort();
      return;
    }
    const controller = new AbortController();
    calls.set(id, controller);
    queue = queue.then(() => answer(id, kind, args, controller.signal)).catch(fail);
  };
}

// Each call's first argument is the file it reads.
serve({ convert, check });
