// The page's Web Worker, one for the page's life: it reads the chosen file in
// slices of the module's chunk size, so that memory stays flat whatever the
// file's size, and hands each slice to the WebAssembly module (createQuarnel,
// from web/module/web_binding.cpp), which checksums and checks it. The page
// calls its jobs through serve() at the end; they run one at a time, in the
// order they come.
'use strict';

let file = null;  // the job's file, for the check's reads
let quarnel = null;
let lastProgress = 0;
// The call running: its AbortSignal, where its progress goes, and how it asks the page for bytes.
let job = null;

// Every job reads its files through readBytes(blob, offset, length) below, in
// one of three ways, chosen when a job first reads:
// - 'stream': a byte stream (Chromium, Firefox), whose reader fills the one
//   spare buffer in place, the stream kept open while reads go on where the
//   last ended, so that the browser reads ahead a little and leaves no garbage;
// - 'slices': where a Blob has no byte stream (WebKit, whose plain stream reads
//   the whole file ahead), a slice at a time;
// - 'page': where this worker cannot read a Blob at all (WebKit from a folder
//   opened as file://), the page reads each slice and transfers it here.
let way = null;
let spare = null;  // a chunk long, the byte streams' buffer
let open = [];  // the byte streams open, the latest first: { blob, next, reader }
// Read as slices, a blob is read this much at once and served a chunk at a
// time: each slice costs WebKit a round trip to its network process.
const kSliceSpan = 1 << 22;

// A slice of a blob read whole and kept, so that reads inside it cost no more: { blob, offset, bytes }.
const noSlice = () => ({ blob: null, offset: 0, bytes: new Uint8Array(0) });
const span = noSlice();  // the last slice read (kSliceSpan)

// `length` bytes of `blob` from `offset`, fewer at its end, out of `held`, a
// slice kept; where it lacks them, a slice of `size` from `offset` takes its
// place, the old one let go at once rather than left for the collector, which
// lets a hundred pile up (WebKit).
async function fromHeld(held, blob, offset, length, size) {
  const end = offset + Math.min(length, blob.size - offset);
  if (held.blob !== blob || offset < held.offset || end > held.offset + held.bytes.length) {
    held.bytes.buffer.transfer?.(0);
    Object.assign(held, { blob, offset, bytes: await sliceOf(blob, offset, Math.max(length, size)) });
  }
  return held.bytes.subarray(offset - held.offset, offset - held.offset + length);
}

async function wayOf(blob) {
  try {
    await blob.slice(0, 1).arrayBuffer();
  } catch {
    return 'page';
  }
  const stream = blob.slice(0, 0).stream();
  try {
    stream.getReader({ mode: 'byob' }).releaseLock();
  } catch {
    return 'slices';
  } finally {
    stream.cancel().catch(() => {});
  }
  return 'stream';
}

// `length` bytes of `blob` from `offset` read whole, or fewer at its end, as a new Uint8Array.
async function sliceOf(blob, offset, length) {
  if (way === 'page') {
    const bytes = await job.ask(blob, offset, length);
    if (bytes === null) {
      throw new Error('unreadable');
    }
    return new Uint8Array(bytes);
  }
  return new Uint8Array(await blob.slice(offset, offset + length).arrayBuffer());
}

// `length` bytes of `blob` from `offset` (at most a chunk), fewer at its end,
// as a view good until the next read; it throws when the blob cannot be read.
async function readBytes(blob, offset, length) {
  way ??= await wayOf(blob);
  if (way !== 'stream') {
    return fromHeld(span, blob, offset, length, kSliceSpan);
  }
  let done = 0;
  while (done < length) {
    const at = offset + done;
    if (at >= blob.size) {
      break;
    }
    let stream = open.find((candidate) => candidate.blob === blob && candidate.next === at);
    if (!stream) {
      stream = { blob, next: at, reader: blob.slice(at).stream().getReader({ mode: 'byob' }) };
      open.unshift(stream);
      // The check reads the checksum table and the payload in turn: two places at once.
      open.splice(2).forEach((dropped) => dropped.reader.cancel().catch(() => {}));
    }
    const { done: ended, value } = await stream.reader.read(new Uint8Array(spare, done, length - done));
    if (value) {
      spare = value.buffer;  // the same memory, handed back
    }
    if (ended) {
      break;
    }
    done += value.length;
    stream.next += value.length;
    if (stream.next === blob.size) {
      open.splice(open.indexOf(stream), 1);
      stream.reader.cancel().catch(() => {});
      break;
    }
  }
  return new Uint8Array(spare, 0, done);
}

// Small reads (the check's table, a window's worth of entries at a time) come
// from a 64 KiB piece of the file read whole: a stream read a few hundred
// bytes at a time would leave the rest of each chunk behind as garbage.
const kPieceSize = 1 << 16;
const piece = noSlice();

// The one read asked for ahead of its use, so that the next bytes arrive while
// the module checksums the last: { blob, offset, length, reading }. Every
// read of a chunk's worth goes through take(), asked ahead or not.
let ahead = null;

function readAhead(blob, offset, length) {
  ahead = { blob, offset, length, reading: readBytes(blob, offset, length).catch(() => null) };
}

// What readBytes gives, from the read asked ahead when it is this one.
async function take(blob, offset, length) {
  const asked = ahead;
  ahead = null;
  const bytes = await asked?.reading;  // the spare is that read's until then
  if (asked?.blob === blob && asked.offset === offset && asked.length === length) {
    if (bytes === null) {
      throw new Error('unreadable');
    }
    return bytes;
  }
  return readBytes(blob, offset, length);
}

// Fills `target` (a Uint8Array: the module's memory, or any other) with the
// bytes of `blob` from `offset`: the count, short at the blob's end, or -1
// when the blob cannot be read or the job was cancelled. A file changed since
// it was chosen cannot be read any more: the browser fails the read.
async function readInto(blob, offset, target) {
  try {
    const length = Math.min(target.length, Math.max(blob.size - offset, 0));
    if (length < kPieceSize) {
      if (job.signal.aborted) {
        return -1;
      }
      way ??= await wayOf(blob);
      const bytes = await fromHeld(piece, blob, offset, length, kPieceSize);
      target.set(bytes);
      return bytes.length;
    }
    let done = 0;
    while (done < length) {
      if (job.signal.aborted) {
        return -1;  // a cancelled call reads no further
      }
      const want = Math.min(length - done, quarnel._quarnel_chunk_size());
      const bytes = await take(blob, offset + done, want);
      const got = bytes.length;
      target.set(bytes, done);
      done += got;
      if (got < want) {
        break;
      }
      // The module reads on where it stopped, a window at a time: the next asked for as it checksums this one.
      const next = offset + done;
      if (next < blob.size) {
        readAhead(blob, next, Math.min(want, blob.size - next));
      }
    }
    return done;
  } catch {
    return -1;
  }
}

// What a job leaves behind goes at its end: its streams, its read ahead, its piece, its way of reading.
async function closeReads() {
  open.splice(0).forEach((stream) => stream.reader.cancel().catch(() => {}));
  await ahead?.reading;
  ahead = null;
  for (const held of [span, piece]) {
    held.bytes.buffer.transfer?.(0);
    Object.assign(held, noSlice());
  }
  if (spare.byteLength === 0) {
    spare = new ArrayBuffer(quarnel._quarnel_chunk_size());  // lost to a read that failed
  }
  way = null;
}

function progress(done, total) {
  const now = performance.now();
  if (now - lastProgress >= 50 || done === total) {
    lastProgress = now;
    job.progress(done, total);
  }
}

const text = (pointer) => quarnel.UTF8ToString(pointer);

// Fills the module's chunk from `parts` in turn and checksums it once full, or
// at the end of `total` bytes: a part's end is no block's. A part is
// { bytes } given, { zeros } of that count, or { blob, chosen } read whole,
// `chosen` its size and time when chosen. Each read is asked for before the
// module checksums the chunk before it, so that reading and checksumming
// overlap, a chunk ahead at most. The part that could not be read or has
// changed since chosen, or null once all are in.
async function feed(parts, total) {
  const chunk = quarnel._quarnel_chunk_buffer();
  const chunkSize = quarnel._quarnel_chunk_size();
  let offset = 0;
  let filled = 0;
  let full = 0;  // bytes in the chunk waiting for their checksums
  const checksum = () => {
    if (full > 0) {
      quarnel._quarnel_convert_chunk(offset, full);
      offset += full;
      full = 0;
      progress(offset, total);
    }
  };
  for (const part of parts) {
    const { bytes, zeros, blob, chosen } = part;
    const size = bytes?.length ?? zeros ?? chosen.size;
    for (let at = 0; at < size;) {
      const length = Math.min(size - at, chunkSize - filled);
      if (blob) {
        if (job.signal.aborted) {
          return part;  // a cancelled call reads no further
        }
        readAhead(blob, at, length);
        checksum();
        const read = await take(blob, at, length).catch(() => null);
        if (read?.length !== length) {
          return part;
        }
        quarnel.HEAPU8.set(read, chunk + filled);
      } else {
        checksum();
        if (bytes) {
          quarnel.HEAPU8.set(bytes.subarray(at, at + length), chunk + filled);
        } else {
          quarnel.HEAPU8.fill(0, chunk + filled, chunk + filled + length);
        }
      }
      at += length;
      filled += length;
      if (filled === chunkSize || offset + filled === total) {
        full = filled;
        filled = 0;
      }
    }
    if (blob && (blob.size !== chosen.size || blob.lastModified !== chosen.lastModified)) {
      return part;
    }
  }
  checksum();
  return null;
}

const chosenOf = (blob) => ({ size: blob.size, lastModified: blob.lastModified });

// The image's header area for the model of code `model`, and quarnel's last
// line: { message, header }, with no header when the file is refused.
async function convert(model) {
  if (quarnel._quarnel_convert_begin(file.size, model) !== 0) {
    return { message: text(quarnel._quarnel_message()) };
  }
  if (await feed([{ blob: file, chosen: chosenOf(file) }], file.size)) {
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

// A packing (quarnel-pack's work). The call's first argument is the folder:
// { name, modified, directories: [{ path, modified }], files: [{ path, file }] },
// paths below the folder with '/' between names, times in milliseconds as
// File.lastModified gives them.

// The folder as quarnel_pack_layout() reads it (web_binding.cpp, FolderReader),
// quarnel-pack's entries: a time is whole seconds, rounded down as st_mtime's are.
function encodeFolder(folder, label) {
  const utf8 = new TextEncoder();
  const root = { name: folder.name, directory: true, size: 0, modified: folder.modified, children: new Map() };
  const directoryAt = (path) => path.split('/').reduce((node, name) => {
    if (!node.children.has(name)) {
      node.children.set(name, { name, directory: true, size: 0, modified: folder.modified, children: new Map() });
    }
    return node.children.get(name);
  }, root);
  const parentOf = (path) => (path.includes('/') ? directoryAt(path.slice(0, path.lastIndexOf('/'))) : root);
  const leaf = (path) => path.slice(path.lastIndexOf('/') + 1);
  folder.directories.forEach(({ path, modified }) => {
    directoryAt(path).modified = modified;
  });
  folder.files.forEach(({ path, file }, index) => {
    parentOf(path).children.set(leaf(path), { name: leaf(path), directory: false, size: file.size,
      modified: file.lastModified, index });
  });
  const parts = [];
  let length = 0;
  const put = (bytes) => {
    parts.push(bytes);
    length += bytes.length;
  };
  const number = (kind, value) => {
    const view = new DataView(new ArrayBuffer(kind === 'u8' ? 1 : kind === 'u32' ? 4 : 8));
    ({ u8: () => view.setUint8(0, value), u32: () => view.setUint32(0, value, true),
      f64: () => view.setFloat64(0, value, true) })[kind]();
    put(new Uint8Array(view.buffer));
  };
  // The files in the order written, which the module's file order refers to.
  const files = [];
  const write = (node) => {
    const name = utf8.encode(node.name);
    number('u8', node.directory ? 1 : 0);
    number('u32', name.length);
    put(name);
    number('f64', node.size);
    number('f64', Math.floor(node.modified / 1000));
    if (!node.directory) {
      files.push(node.index);
      return;
    }
    number('u32', node.children.size);
    node.children.forEach(write);
  };
  const text = label === null ? null : utf8.encode(label);
  number('u32', text === null ? 0 : text.length + 1);
  if (text !== null) {
    put(text);
  }
  write(root);
  const bytes = new Uint8Array(length);
  parts.reduce((at, part) => {
    bytes.set(part, at);
    return at + part.length;
  }, 0);
  return { bytes, files };
}

// The disc of the folder for the model of code `model`, with `label` (or
// null: the folder's name): { message, metadata, order, header }, the
// metadata the disc's first bytes, `order` the places in folder.files of
// the files that follow in turn, each zero-padded to a sector, and `header`
// the modem image's header area, `sector` the disc's sector size. Every file is read through once, its
// bytes checksummed as they pass; one that cannot be read or has changed
// since chosen is refused with quarnel-pack's line naming it. Nothing is
// returned but the message when the folder is refused.
async function pack(model, label) {
  const folder = file;
  const chosen = folder.files.map(({ file: each }) => chosenOf(each));
  const encoded = encodeFolder(folder, label);
  quarnel.HEAPU8.set(encoded.bytes, quarnel._quarnel_pack_buffer(encoded.bytes.length));
  if (quarnel._quarnel_pack_layout(model) !== 0) {
    return { message: text(quarnel._quarnel_message()) };
  }
  const order = Array.from({ length: quarnel._quarnel_pack_file_count() }, (_, i) =>
    encoded.files[quarnel._quarnel_pack_file(i)]);
  const start = quarnel._quarnel_pack_metadata();
  const metadata = quarnel.HEAPU8.slice(start, start + quarnel._quarnel_pack_metadata_size());
  const sector = quarnel._quarnel_disc_sector_size();
  const parts = [{ bytes: metadata }];
  order.forEach((index) => {
    parts.push({ blob: folder.files[index].file, chosen: chosen[index], path: folder.files[index].path },
      { zeros: (sector - (chosen[index].size % sector)) % sector });
  });
  const refused = await feed(parts, quarnel._quarnel_pack_disc_size());
  if (refused) {
    return unreadable(folder.name, refused.path);
  }
  const area = quarnel._quarnel_convert_finish();
  const header = quarnel.HEAPU8.slice(area, area + quarnel._quarnel_header_area_size());
  return { message: text(quarnel._quarnel_pack_success_message()), metadata, order, sector, header };
}

// quarnel-pack's line for a file it cannot read, `path` below the folder
// `name` (or the folder, where empty): { message }. The page asks for it too,
// for a file it could not read itself, so that the line is the program's.
function unreadable(name, path) {
  return { message: quarnel.ccall('quarnel_pack_unreadable_message', 'string', ['string', 'string'], [name, path]) };
}

// A failure of the module or of this script, thrown again outside every
// promise: the page sees the worker's error event, fails the calls waiting and
// starts a new worker for the next one.
function fail(error) {
  setTimeout(() => {
    throw error;
  });
}

// What the page takes from the module rather than retyping:
// - the models' names, by code;
// - the programs' error line, "{}" for its description;
// - quarnel's line for an image it cannot write;
// - quarnel-pack's for an image it cannot write, "{}" for the image's name.
function rules() {
  const models = Array.from({ length: quarnel._quarnel_model_count() }, (_, code) =>
    text(quarnel._quarnel_model_name(code)));
  return {
    models,
    errorLine: quarnel.ccall('quarnel_error_line', 'string', ['string'], ['{}']).trim(),
    unwritable: text(quarnel._quarnel_unwritable_destination_message()).trim(),
    packUnwritable: quarnel.ccall('quarnel_pack_unwritable_message', 'string', ['string'], ['{}']).trim(),
  };
}

// The page's end of the calls (page.js's QuarnelWorker): a call { id, kind,
// args } runs methods[kind](...args) once the calls before it have ended and
// answers { id, result }, with { id, progress } on the way and, where this
// worker cannot read the file, { id, read: { ticket, blob, offset, length } },
// which the page answers { ticket, bytes } (an ArrayBuffer, or null when it
// cannot read them either); { id, abort } aborts it, which stops it at its next read. The streams a call opened are
// closed at its end and its file let go. The first message says the module
// has started: { ready: rules() }.
function serve(methods) {
  const calls = new Map();
  const asked = new Map();  // the page's reads asked for, by ticket: what the bytes resolve
  let lastTicket = 0;
  // The check's reads, from the module (web/module/file_reads.js).
  const checkReads = (offset, pointer, length) => readInto(file, offset, quarnel.HEAPU8.subarray(pointer, pointer + length));
  let queue = createQuarnel({ readInto: checkReads, progress }).then((module) => {
    quarnel = module;
    spare = new ArrayBuffer(quarnel._quarnel_chunk_size());
    postMessage({ ready: rules() });
  }, fail);

  async function answer(id, kind, [chosen, ...args], signal) {
    job = {
      signal,
      progress: (done, total) => postMessage({ id, progress: { done, total } }),
      ask: (blob, offset, length) => new Promise((resolve) => {
        const ticket = ++lastTicket;
        asked.set(ticket, resolve);
        postMessage({ id, read: { ticket, blob, offset, length } });
      }),
    };
    file = chosen;
    try {
      if (!signal.aborted) {
        const result = await methods[kind](...args);
        postMessage({ id, result }, result.header ? [result.header.buffer] : []);
      }
    } finally {
      calls.delete(id);
      await closeReads();
      file = null;
      job = null;
    }
  }

  onmessage = ({ data: { id, kind, args, abort, ticket, bytes } }) => {
    if (ticket) {
      asked.get(ticket)?.(bytes);
      asked.delete(ticket);
      return;
    }
    if (abort) {
      calls.get(id)?.abort();
      return;
    }
    const controller = new AbortController();
    calls.set(id, controller);
    queue = queue.then(() => answer(id, kind, args, controller.signal)).catch(fail);
  };
}

// Each call's first argument is the file it reads (for pack, the folder), or
// none. A line waits for the job running, which may have the module paused
// in the middle of a call (the check's reads): the module is called by one
// call at a time.
serve({ convert, check, pack, unreadable });
