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

// A part's size, as feed() takes it.
const sizeOf = ({ bytes, zeros, chosen, from = 0, to }) => bytes?.length ?? zeros ?? (to ?? chosen.size) - from;

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
  job.reads.follow(parts.filter((part) => part.blob && sizeOf(part) > 0)
    .map((part) => ({ blob: part.blob, from: part.from ?? 0, end: (part.from ?? 0) + sizeOf(part) })));
  for (const part of parts) {
    const { bytes, zeros, blob, chosen, from = 0 } = part;
    const size = sizeOf(part);
    for (let at = 0; at < size;) {
      let length = Math.min(size - at, fill.size - fill.filled);
      const into = fill.at + fill.filled;
      if (blob) {
        if (job.signal.aborted) {
          return part;  // a cancelled call reads no further
        }
        job.reads.readAhead(blob, from + at, length);
        fill.ripe();
        const read = await job.reads.take(blob, from + at, length).catch(() => null);
        if (!read?.length) {
          return part;
        }
        length = read.length;  // a read may give fewer: the rest comes next
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

// `parts` cut `at` bytes in: [those before, those from there on], a part across it in two.
function cut(parts, at) {
  const halves = [[], []];
  let offset = 0;
  for (const part of parts) {
    const size = sizeOf(part);
    const into = at - offset;
    if (into <= 0 || into >= size) {
      halves[into <= 0 ? 1 : 0].push(part);
    } else if (part.bytes) {
      halves[0].push({ ...part, bytes: part.bytes.subarray(0, into) });
      halves[1].push({ ...part, bytes: part.bytes.slice(into) });  // its own buffer, to post
    } else if (part.zeros !== undefined) {
      halves[0].push({ zeros: into });
      halves[1].push({ zeros: size - into });
    } else {
      const { from = 0 } = part;
      halves[0].push({ ...part, to: from + into });
      halves[1].push({ ...part, from: from + into });
    }
    offset += size;
  }
  return halves;
}

// feed() on two workers where `port` leads to the other (second()), for
// `total` bytes of `sources`' blobs: the parts from where the module splits
// them on are handed on to it, the rest fed here, and its table put in place.
// The part refused, by either (the other's as { path }), or null.
async function feedOnTwo(job, parts, total, port, sources) {
  const at = port ? quarnel._quarnel_split_at(total) : 0;
  if (at === 0) {
    return feed(job, parts, total);
  }
  const [ours, theirs] = cut(parts, at);
  handOn(port, theirs, at, total, sources);
  return (await feed(job, ours, total)) ??
    tableInto(port, job.signal, quarnel._quarnel_convert_table_at(at), quarnel._quarnel_convert_table_size(at));
}

// Hands the other worker its part of a job split over two: the source's
// parts from `start` on, of `total` bytes. Each blob goes as its place in
// `sources`, which the page gave the other too: Firefox cannot read a slice
// of a Blob made in memory once it has come through a MessagePort.
function handOn(port, parts, start, total, sources) {
  const places = new Map(sources.map((blob, i) => [blob, i]));
  const handed = parts.map(({ blob, ...part }) => (blob ? { ...part, source: places.get(blob) } : part));
  port.postMessage({ parts: handed, start, total });
}

// Puts the table of checksums the other worker posts on `port`, `length`
// bytes, at `pointer` in the module: null once it is there, else what it
// refused ({ path }), {} where the job is cancelled first.
async function tableInto(port, signal, pointer, length) {
  const answer = await messageOn(port, signal);
  if (answer?.table?.length !== length) {
    return answer ?? {};
  }
  quarnel.HEAPU8.set(answer.table, pointer);
  return null;
}

// The next message's data on `port`, or null once the job is cancelled.
function messageOn(port, signal) {
  return new Promise((resolve) => {
    const end = (data) => {
      signal.removeEventListener('abort', cancelled);
      resolve(data);
    };
    const cancelled = () => end(null);
    signal.addEventListener('abort', cancelled);
    port.onmessage = ({ data }) => end(data);
    if (signal.aborted) {
      cancelled();
    }
  });
}

/**
 * The image's header area for the model of code `model`, and quarnel's last
 * line; no header when the file is refused. `port`, where given, leads to
 * the other worker, which reads the file's second half (feedOnTwo).
 * @typedef {{ message: string, header?: Uint8Array }} ConvertResult
 * @returns {Promise<ConvertResult>}
 */
async function convert(job, model, port = null) {
  const { file } = job;
  if (quarnel._quarnel_convert_begin(file.size, model) !== 0) {
    return { message: text(quarnel._quarnel_message()) };
  }
  if (await feedOnTwo(job, [{ blob: file, chosen: chosenOf(file) }], file.size, port, [file])) {
    return { message: text(quarnel._quarnel_unreadable_source_message()) };
  }
  return { message: text(quarnel._quarnel_success_message()), header: headerArea() };
}

/**
 * The other worker's part of a job split over two: the parts handed on over
 * `port` (handOn), each blob by its place in the job's file, the list of the
 * job's sources, read and checksummed, and their table posted back on it
 * as { table }, or { table: null, path } with the path of the part refused.
 * Its progress is the count of bytes it has done.
 * @returns {Promise<{ message: string }>}
 */
async function second(job, port) {
  const given = await messageOn(port, job.signal);
  if (given === null) {
    return { message: '' };
  }
  const { start, total } = given;
  const parts = given.parts.map(({ source, ...part }) => (source === undefined ? part : { ...part, blob: job.file[source] }));
  const { progress } = job;
  job.progress = (done) => progress(done - start, total - start);
  // Only its table is taken: any model will do.
  const refused = quarnel._quarnel_convert_begin(total, 0) === 0 ? await feed(job, parts, total, start) : {};
  if (refused) {
    port.postMessage({ table: null, path: refused.path });
  } else {
    const entries = quarnel._quarnel_convert_table_at(start);
    const table = quarnel.HEAPU8.slice(entries, entries + quarnel._quarnel_convert_table_size(start));
    port.postMessage({ table }, [table.buffer]);
  }
  return { message: '' };
}

/**
 * quarnel-inspect's report on the image, and where the ISO lies in it; the
 * message the failure's line. `port`, where given, leads to the other worker,
 * which checksums a large payload's second half. A valid image's disc comes as /files lists it:
 * `files` in the listing's order, each in the folder at `parent` among them
 * (-1: the root), a file's bytes at `offset` in the image; or `discFault`,
 * the line that says why its tree cannot be read safely.
 * @typedef {{ name: string, parent: number, folder: boolean, size: number, offset: number }} DiscItem
 * @typedef {{ valid: boolean, report: string, message: string, payloadOffset: number,
 *   payloadLength: number, files: DiscItem[], discFault: string }} CheckResult
 * @returns {Promise<CheckResult>}
 */
async function check(job, port = null) {
  const { file } = job;
  const name = new TextEncoder().encode(file.name);
  quarnel.HEAPU8.set(name, quarnel._quarnel_name_buffer(name.length));
  // What the module asks of the other worker, where `port` leads to one: the
  // payload's bytes from `at` on checksummed there, and their table.
  job.split = (offset, length, at) => {
    job.reads.follow([{ blob: file, from: 0, end: offset + at }]);
    handOn(port, [{ blob: file, chosen: chosenOf(file), from: offset + at, to: offset + length }], at, length, [file]);
  };
  job.tableInto = async (pointer, length) => ((await tableInto(port, job.signal, pointer, length)) === null ? 0 : -1);
  // The check reads through the job's reads, which wait: the module is built to pause for it (Asyncify).
  const status = await quarnel.ccall('quarnel_check', 'number', ['number', 'number'], [file.size, port ? 1 : 0],
    { async: true });
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
 * but the message when the folder is refused. `port`, where given, leads to
 * the other worker, which reads the disc's second half (feedOnTwo). With
 * `early`, the layout (metadata, order, padding) is posted as soon as it is
 * made, and the result leaves it out.
 * @typedef {{ message: string, metadata?: Uint8Array, order?: number[], padding?: number[],
 *   header?: Uint8Array }} PackResult
 * @returns {Promise<PackResult>}
 */
async function pack(job, model, label, early, port = null) {
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
  if (early) {
    job.layout({ metadata, order, padding });
  }
  const parts = [{ bytes: metadata }];
  order.forEach((index, i) => {
    parts.push({ blob: folder.files[index].file, chosen: chosen[index], path: folder.files[index].path },
      { zeros: padding[i] });
  });
  const refused = await feedOnTwo(job, parts, quarnel._quarnel_pack_disc_size(), port,
    folder.files.map(({ file }) => file));
  if (refused) {
    return unreadable(job, folder.name, refused.path ?? '');
  }
  // Where the layout went ahead, the result need not carry it again.
  return { message: text(quarnel._quarnel_pack_success_message()), ...(early ? {} : { metadata, order, padding }),
    header: headerArea() };
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
 * What the page takes from the module rather than retyping: the least a job
 * reads to go on two workers; the models' names, by code; the programs'
 * error line, "{}" for its description; quarnel's line for an image it cannot
 * write; quarnel-pack's, "{}" for the image's name.
 * @typedef {{ leastSplit: number, models: string[], errorLine: string, unwritable: string, packUnwritable: string }}
 *   Rules
 * @returns {Rules}
 */
function rules() {
  const models = Array.from({ length: quarnel._quarnel_model_count() }, (_, code) =>
    text(quarnel._quarnel_model_name(code)));
  return {
    leastSplit: quarnel._quarnel_least_split(),
    models,
    errorLine: quarnel.ccall('quarnel_error_line', 'string', ['string'], ['{}']).trim(),
    unwritable: text(quarnel._quarnel_unwritable_destination_message()).trim(),
    packUnwritable: quarnel.ccall('quarnel_pack_unwritable_message', 'string', ['string'], ['{}']).trim(),
  };
}
