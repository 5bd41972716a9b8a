// The page's Web Worker, part 3 of 4: the jobs, each given its job, the
// { file, signal, reads, progress(done, total) } of the call (serve.js), and
// the call's arguments after the file. `quarnel` is the module, from
// createQuarnel (web/module/web_binding.cpp), set once it has started.
let quarnel = null;

const text = (pointer) => quarnel.UTF8ToString(pointer);
const chosenOf = (blob) => ({ size: blob.size, lastModified: blob.lastModified });

// The module's chunk as feed() fills it from its parts: { offset, filled, full },
// `full` the bytes filled waiting for their checksums, checksummed by ripe().
function chunkFill(job, total, start) {
  const fill = { offset: start, filled: 0, full: 0, at: quarnel._quarnel_chunk_buffer(), size: quarnel._quarnel_chunk_size() };
  fill.ripe = () => {
    if (fill.full > 0) {
      quarnel._quarnel_convert_chunk(fill.offset, fill.full);
      fill.offset += fill.full;
      fill.full = 0;
      job.progress(fill.offset, total);
    }
  };
  return fill;
}

// Fills the module's chunk from `parts` in turn and checksums it once full, or
// at the end of `total` bytes: a part's end is no block's. A part is
// { bytes } given, { zeros } of that count, or { blob, chosen } read whole,
// `chosen` its size and time when chosen, or only its bytes from `from` to
// `to`. The parts are the source's bytes from `start` (a whole number of
// chunks) on. Each read is asked for before the module checksums the chunk
// before it, so that reading and checksumming overlap, a chunk ahead at most.
// The part that could not be read or has changed since chosen, or null once all are in.
async function feed(job, parts, total, start = 0) {
  const fill = chunkFill(job, total, start);
  for (const part of parts) {
    const { bytes, zeros, blob, chosen, from = 0 } = part;
    const size = bytes?.length ?? zeros ?? (part.to ?? chosen.size) - from;
    for (let at = 0; at < size;) {
      const length = Math.min(size - at, fill.size - fill.filled);
      const into = fill.at + fill.filled;
      if (blob) {
        if (job.signal.aborted) {
          return part;  // a cancelled call reads no further
        }
        job.reads.readAhead(blob, from + at, length);
        fill.ripe();
        const read = await job.reads.take(blob, from + at, length).catch(() => null);
        if (read?.length !== length) {
          return part;
        }
        quarnel.HEAPU8.set(read, into);
      } else {
        fill.ripe();
        if (bytes) {
          quarnel.HEAPU8.set(bytes.subarray(at, at + length), into);
        } else {
          quarnel.HEAPU8.fill(0, into, into + length);
        }
      }
      at += length;
      fill.filled += length;
      if (fill.filled === fill.size || fill.offset + fill.filled === total) {
        fill.full = fill.filled;
        fill.filled = 0;
      }
    }
    if (blob && (blob.size !== chosen.size || blob.lastModified !== chosen.lastModified)) {
      return part;
    }
  }
  fill.ripe();
  return null;
}

// The image's header area, once every chunk is checksummed.
function headerArea() {
  const area = quarnel._quarnel_convert_finish();
  return quarnel.HEAPU8.slice(area, area + quarnel._quarnel_header_area_size());
}

/**
 * The image's header area for the model of code `model`, and quarnel's last
 * line; no header when the file is refused. Split over two workers, `split`
 * is { at, port }: this one reads the bytes before `at` (a whole number of
 * chunks), the other the rest (second()), whose table comes over `port`.
 * @typedef {{ message: string, header?: Uint8Array }} ConvertResult
 * @returns {Promise<ConvertResult>}
 */
async function convert(job, model, split = null) {
  const { file } = job;
  try {
    if (quarnel._quarnel_convert_begin(file.size, model) !== 0) {
      return { message: text(quarnel._quarnel_message()) };
    }
    const unreadable = { message: text(quarnel._quarnel_unreadable_source_message()) };
    if (await feed(job, [{ blob: file, chosen: chosenOf(file), to: split?.at }], file.size)) {
      return unreadable;
    }
    if (split) {
      const table = await tableFrom(split.port, job.signal);
      if (table === null) {
        return unreadable;
      }
      quarnel.HEAPU8.set(table, quarnel._quarnel_convert_table_at(split.at));
    }
    return { message: text(quarnel._quarnel_success_message()), header: headerArea() };
  } finally {
    split?.port.close();
  }
}

// The table of checksums the other worker posts on `port`, or null when it
// could not read its part or the job is cancelled first.
function tableFrom(port, signal) {
  return new Promise((resolve) => {
    const end = (table) => {
      signal.removeEventListener('abort', cancelled);
      resolve(table);
    };
    const cancelled = () => end(null);
    signal.addEventListener('abort', cancelled);
    port.onmessage = ({ data }) => end(data.table);
    if (signal.aborted) {
      cancelled();
    }
  });
}

/**
 * The other worker's part of a convert split over two (convert()): the
 * bytes of the file from `at` to its end read and checksummed, and their
 * table posted on `port` as { table }, null when they cannot be read.
 * @returns {Promise<{ message: string }>}
 */
async function second(job, model, at, port) {
  const { file } = job;
  let table = null;
  if (quarnel._quarnel_convert_begin(file.size, model) === 0 &&
      !(await feed(job, [{ blob: file, chosen: chosenOf(file), from: at }], file.size, at))) {
    const entries = quarnel._quarnel_convert_table_at(at);
    table = quarnel.HEAPU8.slice(entries, entries + quarnel._quarnel_convert_table_size(at));
  }
  port.postMessage({ table }, table ? [table.buffer] : []);
  port.close();
  return { message: '' };
}

/**
 * quarnel-inspect's report on the image, and where the ISO lies in it; the
 * message the failure's line. A valid image's disc comes as /files lists it:
 * `files` in the listing's order, each in the folder at `parent` among them
 * (-1: the root), a file's bytes at `offset` in the image; or `discFault`,
 * the line that says why its tree cannot be read safely.
 * @typedef {{ name: string, parent: number, folder: boolean, size: number, offset: number }} DiscItem
 * @typedef {{ valid: boolean, report: string, message: string, payloadOffset: number,
 *   payloadLength: number, files: DiscItem[], discFault: string }} CheckResult
 * @returns {Promise<CheckResult>}
 */
async function check(job) {
  const name = new TextEncoder().encode(job.file.name);
  quarnel.HEAPU8.set(name, quarnel._quarnel_name_buffer(name.length));
  // The check reads through the job's reads, which wait: the module is built to pause for it (Asyncify).
  const status = await quarnel.ccall('quarnel_check', 'number', ['number'], [job.file.size], { async: true });
  return {
    valid: status === 0,
    report: text(quarnel._quarnel_text()),
    message: text(quarnel._quarnel_message()),
    payloadOffset: quarnel._quarnel_payload_offset(),
    payloadLength: quarnel._quarnel_payload_length(),
    files: Array.from({ length: status === 0 ? quarnel._quarnel_disc_item_count() : 0 }, (_, i) => ({
      name: text(quarnel._quarnel_disc_item_name(i)),
      parent: quarnel._quarnel_disc_item_parent(i),
      folder: quarnel._quarnel_disc_item_is_folder(i) === 1,
      size: quarnel._quarnel_disc_item_size(i),
      offset: quarnel._quarnel_disc_item_offset(i),
    })),
    discFault: status === 0 ? text(quarnel._quarnel_disc_fault()) : '',
  };
}

/**
 * The disc of the folder (the job's file, as folder.js takes it) for the
 * model of code `model`, with `label` (or null: the folder's name): the
 * metadata the disc's first bytes, `order` the places in folder.files of the
 * files that follow in turn, each followed by `padding` zeros (its own place),
 * and `header` the modem image's header area. Every file is read through
 * once, its bytes checksummed as they pass; one that cannot be read or has
 * changed since chosen is refused with quarnel-pack's line naming it. Nothing
 * but the message when the folder is refused.
 * @typedef {{ message: string, metadata?: Uint8Array, order?: number[], padding?: number[],
 *   header?: Uint8Array }} PackResult
 * @returns {Promise<PackResult>}
 */
async function pack(job, model, label) {
  const folder = job.file;
  const chosen = folder.files.map(({ file }) => chosenOf(file));
  const files = handOver(folder, label);
  if (quarnel._quarnel_pack_layout(model) !== 0) {
    return { message: text(quarnel._quarnel_message()) };
  }
  const order = Array.from({ length: quarnel._quarnel_pack_file_count() }, (_, i) => files[quarnel._quarnel_pack_file(i)]);
  const start = quarnel._quarnel_pack_metadata();
  const metadata = quarnel.HEAPU8.slice(start, start + quarnel._quarnel_pack_metadata_size());
  const padding = order.map((_, i) => quarnel._quarnel_pack_file_padding(i));
  const parts = [{ bytes: metadata }];
  order.forEach((index, i) => {
    parts.push({ blob: folder.files[index].file, chosen: chosen[index], path: folder.files[index].path },
      { zeros: padding[i] });
  });
  const refused = await feed(job, parts, quarnel._quarnel_pack_disc_size());
  if (refused) {
    return unreadable(job, folder.name, refused.path);
  }
  return { message: text(quarnel._quarnel_pack_success_message()), metadata, order, padding, header: headerArea() };
}

/**
 * quarnel-pack's line for a file it cannot read, `path` below the folder
 * `name` (or the folder, where empty). The page asks for it too, for a file it
 * could not read itself, so that the line is the program's.
 * @returns {{ message: string }}
 */
function unreadable(job, name, path) {
  return { message: quarnel.ccall('quarnel_pack_unreadable_message', 'string', ['string', 'string'], [name, path]) };
}

/**
 * What the page takes from the module rather than retyping: the size of its
 * chunks (where a job splits); the models' names, by code; the programs'
 * error line, "{}" for its description; quarnel's line for an image it cannot
 * write; quarnel-pack's, "{}" for the image's name.
 * @typedef {{ chunkSize: number, models: string[], errorLine: string, unwritable: string, packUnwritable: string }}
 *   Rules
 * @returns {Rules}
 */
function rules() {
  const models = Array.from({ length: quarnel._quarnel_model_count() }, (_, code) =>
    text(quarnel._quarnel_model_name(code)));
  return {
    chunkSize: quarnel._quarnel_chunk_size(),
    models,
    errorLine: quarnel.ccall('quarnel_error_line', 'string', ['string'], ['{}']).trim(),
    unwritable: text(quarnel._quarnel_unwritable_destination_message()).trim(),
    packUnwritable: quarnel.ccall('quarnel_pack_unwritable_message', 'string', ['string'], ['{}']).trim(),
  };
}
