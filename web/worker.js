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
  const chosen = folder.files.map(({ file: each }) => ({ size: each.size, lastModified: each.lastModified }));
  const encoded = encodeFolder(folder, label);
  quarnel.HEAPU8.set(encoded.bytes, quarnel._quarnel_pack_buffer(encoded.bytes.length));
  if (quarnel._quarnel_pack_layout(model) !== 0) {
    return { message: text(quarnel._quarnel_message()) };
  }
  const order = Array.from({ length: quarnel._quarnel_pack_file_count() }, (_, i) =>
    encoded.files[quarnel._quarnel_pack_file(i)]);
  const start = quarnel._quarnel_pack_metadata();
  const metadata = quarnel.HEAPU8.slice(start, start + quarnel._quarnel_pack_metadata_size());
  const total = quarnel._quarnel_pack_disc_size();
  const sector = quarnel._quarnel_disc_sector_size();
  const chunk = quarnel._quarnel_chunk_buffer();
  const chunkSize = quarnel._quarnel_chunk_size();
  // The chunk is filled from the pieces in turn and checksummed once full:
  // a piece's end is no block's.
  let offset = 0;
  let filled = 0;
  const room = (length) => Math.min(length, chunkSize - filled);
  const advance = (length) => {
    filled += length;
    if (filled === chunkSize || offset + filled === total) {
      quarnel._quarnel_convert_chunk(offset, filled);
      offset += filled;
      filled = 0;
      progress(offset, total);
    }
  };
  for (let at = 0; at < metadata.length;) {
    const length = room(metadata.length - at);
    quarnel.HEAPU8.set(metadata.subarray(at, at + length), chunk + filled);
    at += length;
    advance(length);
  }
  const unreadable = (index) => ({
    message: quarnel.ccall('quarnel_pack_unreadable_message', 'string', ['string'],
      [folder.name + '/' + folder.files[index].path]),
  });
  for (const index of order) {
    const { file: each } = folder.files[index];
    const reader = streamOf(each);
    open.push({ next: 0, reader });
    for (let left = chosen[index].size; left > 0;) {
      const length = room(left);
      if (await fill(reader, chunk + filled, length) !== length) {
        return unreadable(index);
      }
      left -= length;
      advance(length);
    }
    if (each.size !== chosen[index].size || each.lastModified !== chosen[index].lastModified) {
      return unreadable(index);
    }
    reader.cancel().catch(() => {});
    open.splice(open.findIndex((stream) => stream.reader === reader), 1);
    for (let left = (sector - (chosen[index].size % sector)) % sector; left > 0;) {
      const length = room(left);
      quarnel.HEAPU8.fill(0, chunk + filled, chunk + filled + length);
      left -= length;
      advance(length);
    }
  }
  const area = quarnel._quarnel_convert_finish();
  const header = quarnel.HEAPU8.slice(area, area + quarnel._quarnel_header_area_size());
  return { message: text(quarnel._quarnel_pack_success_message()), metadata, order, sector, header };
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
// by code, the programs' error line with "{}" for its description, and
// quarnel-pack's for a file it cannot read with "{}" for the path.
function rules() {
  const models = Array.from({ length: quarnel._quarnel_model_count() }, (_, code) =>
    text(quarnel._quarnel_model_name(code)));
  return {
    models,
    errorLine: quarnel.ccall('quarnel_error_line', 'string', ['string'], ['{}']).trim(),
    unreadable: quarnel.ccall('quarnel_pack_unreadable_message', 'string', ['string'], ['{}']).trim(),
  };
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

// Each call's first argument is the file it reads (for pack, the folder).
serve({ convert, check, pack });
