// The page's Web Worker, part 4 of 4: the page's end of the calls (page.js's
// QuarnelWorker, which posts the page's messages). Every message carries its
// `type`; each kind is posted by one function, its form beside it. A call
// runs once the calls before it have ended, one at a time: the module, paused
// in the middle of a check's read, takes one call at a time.

/**
 * The module has started: what the page takes from it.
 * @typedef {{ type: 'ready', rules: Rules }} ReadyMessage
 */
const postReady = () => postMessage({ type: 'ready', rules: rules() });

/**
 * How far call `id` has read, in bytes.
 * @typedef {{ type: 'progress', id: number, done: number, total: number }} ProgressMessage
 */
const postProgress = (id, done, total) => postMessage({ type: 'progress', id, done, total });

/**
 * Bytes this worker cannot read itself (WebKit's, from a folder opened as
 * file://), asked of the page, which answers with a BytesMessage of the same ticket.
 * @typedef {{ type: 'read', id: number, ticket: number, blob: Blob, offset: number, length: number }} ReadMessage
 */
const postRead = (id, ticket, blob, offset, length) => postMessage({ type: 'read', id, ticket, blob, offset, length });

/**
 * The disc call `id` packs, laid out, before its files are read (jobs.js, pack).
 * @typedef {{ type: 'layout', id: number, metadata: Uint8Array, order: number[], padding: number[] }} LayoutMessage
 */
const postLayout = (id, layout) => postMessage({ type: 'layout', id, ...layout });

/**
 * What call `id` returned (jobs.js), its buffers transferred, not copied.
 * @typedef {{ type: 'result', id: number, result: ConvertResult | CheckResult | PackResult | { message: string } }}
 *   ResultMessage
 */
const postResult = (id, result) =>
  postMessage({ type: 'result', id, result }, [result.header, result.metadata].filter(Boolean).map((bytes) => bytes.buffer));

// A failure of the module or of this script, thrown again outside every
// promise: the page sees the worker's error event, fails the calls waiting and
// starts a new worker for the next one.
function fail(error) {
  setTimeout(() => {
    throw error;
  });
}

// How often a job tells its progress, in ms: each time the page draws its
// bar anew, and where the engine draws in software (WebKitGTK with no GPU),
// drawing it every 50 ms took a tenth of a Convert's time.
const kProgressInterval = 200;

// A call's job: its file (for pack, the folder), its signal, its reads,
// where its progress goes, at most every kProgressInterval but for the last, and its layout.
function newJob(id, file, signal, ask) {
  let last = 0;
  const progress = (done, total) => {
    const now = performance.now();
    if (now - last >= kProgressInterval || done === total) {
      last = now;
      postProgress(id, done, total);
    }
  };
  return { file, signal, progress, layout: (layout) => postLayout(id, layout),
    reads: new Reads(signal, ask, quarnel._quarnel_chunk_size()) };
}

// Runs the jobs the page calls, by kind, in the order they come.
function serve(jobs) {
  const calls = new Map();  // the AbortControllers of the calls not ended, by id
  const asked = new Map();  // the page's reads asked for, by ticket: what the bytes resolve
  let lastTicket = 0;
  let running = null;  // the job running, whose reads the module's check goes through
  const module = {
    readInto: (offset, pointer, length) =>
      running.reads.into(running.file, offset, quarnel.HEAPU8.subarray(pointer, pointer + length)),
    progress: (done, total) => running.progress(done, total),
    split: (offset, length, at) => running.split(offset, length, at),
    tableInto: (pointer, length) => running.tableInto(pointer, length),
  };
  let queue = createQuarnel(module).then((started) => {
    quarnel = started;
    postReady();
  }, fail);

  const ask = (id) => (blob, offset, length) => new Promise((resolve) => {
    const ticket = ++lastTicket;
    asked.set(ticket, resolve);
    postRead(id, ticket, blob, offset, length);
  });
  async function answer({ id, kind, args: [file, ...args] }, signal) {
    running = newJob(id, file, signal, ask(id));
    try {
      if (!signal.aborted) {
        postResult(id, await jobs[kind](running, ...args));
      }
    } finally {
      calls.delete(id);
      await running.reads.close();
      running = null;
      // A port to the other worker of a job split over two ends with the call.
      args.forEach((arg) => arg instanceof MessagePort && arg.close());
    }
  }

  onmessage = ({ data }) => {
    if (data.type === 'bytes') {
      asked.get(data.ticket)?.(data.bytes);
      asked.delete(data.ticket);
    } else if (data.type === 'abort') {
      calls.get(data.id)?.abort();
    } else if (data.type === 'call') {
      const controller = new AbortController();
      calls.set(data.id, controller);
      queue = queue.then(() => answer(data, controller.signal)).catch(fail);
    }
  };
}

serve({ convert, second, check, pack, unreadable });
