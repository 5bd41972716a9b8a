// The page's Web Worker, part 1 of 4 (web/worker/: reads, folder, jobs,
// serve; assemble_page.cmake joins them after the module into the one script
// index.html carries). A job's reads of its files: a Reads object per job
// holds all it reads with, and lets it go at the job's end.
'use strict';

// Read as slices, a blob is read this much at once and served a chunk at a
// time: each slice costs WebKit a round trip to its network process.
const kSliceSpan = 1 << 22;
// How many slices are asked for ahead of the one read, each of kSliceSpan in
// memory until taken: with one, WebKit's network process was left idle while
// the worker checksummed; more than three read no faster.
const kSlicesAhead = 3;
// Small reads (the check's table, a window's worth of entries at a time) come
// from a 64 KiB piece of the file read whole: a stream read a few hundred
// bytes at a time would leave the rest of each chunk behind as garbage.
const kPieceSize = 1 << 16;

// A slice of a blob read whole and kept, so that reads inside it cost no
// more: { blob, offset, bytes }, and read(blob, offset, length), how the
// next one is read when a read lies outside it.
const noSlice = () => ({ blob: null, offset: 0, bytes: new Uint8Array(0) });
const heldSlice = (read) => ({ ...noSlice(), read });

// How this engine's worker reads `blob`:
// - 'stream': a byte stream (Chromium, Firefox), whose reader fills the one
//   spare buffer in place, the stream kept open while reads go on where the
//   last ended, so that the browser reads ahead a little and leaves no garbage;
// - 'slices': where a Blob has no byte stream (WebKit, whose plain stream reads
//   the whole file ahead), a slice at a time;
// - 'page': where this worker cannot read a Blob at all (WebKit from a folder
//   opened as file://), the page reads each slice and transfers it here.
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

// A job's reads: `signal` its AbortSignal, `ask(blob, offset, length)` how it
// asks the page for bytes (an ArrayBuffer, or null), `chunkSize` the module's.
class Reads {
  constructor(signal, ask, chunkSize) {
    Object.assign(this, { signal, ask, chunkSize });
    this.way = null;  // wayOf's, at the job's first read
    this.spare = null;  // the byte streams' buffer, a chunk long, made at the first
    this.open = [];  // the byte streams open, the latest first: { blob, next, reader }
    this.span = heldSlice((blob, offset, span) => this.spanAt(blob, offset, span));  // the last slice read (kSliceSpan)
    // The slices after it (kSlicesAhead), asked for as soon as it was taken,
    // so that the browser reads them while the module checksums the one
    // before: { blob, offset, span, reading } (its bytes, or null when unreadable).
    this.nextSpans = [];
    this.piece = heldSlice((blob, offset, span) => this.sliceOf(blob, offset, span));  // the last piece read (kPieceSize)
    // The one read asked for ahead of its use, so that the next bytes arrive
    // while the module checksums the last: { blob, offset, length, reading }.
    // Every read of a chunk's worth goes through take(), asked ahead or not.
    this.ahead = null;
    // The parts of blobs the job reads in turn ({ blob, from, end }, follow()),
    // and the place in them of the one read last.
    this.parts = [];
    this.cursor = 0;
  }

  // The job reads `parts` in turn: a read inside one reaches no further than
  // its end, ahead or in a slice (the other worker's part may follow), and a
  // part's last slice asks for the first of the next, so that a folder's many
  // files are read as one.
  follow(parts) {
    this.parts = parts;
    this.cursor = 0;
  }

  // The place in parts of the one of `blob` that holds `offset`, at or after `from`, or -1.
  findPart(blob, offset, from) {
    const { parts } = this;
    for (let i = from; i < parts.length; ++i) {
      if (parts[i].blob === blob && offset >= parts[i].from && offset < parts[i].end) {
        return i;
      }
    }
    return -1;
  }

  // The same from the one read last on, which `offset` becomes.
  partAt(blob, offset) {
    const at = this.findPart(blob, offset, this.cursor);
    if (at >= 0) {
      this.cursor = at;
    }
    return at;
  }

  // Where the slice that follows `span` bytes from `offset` lies, { blob,
  // offset, span }: on in the same part, else at the start of the next; null at the last's end.
  sliceAfter(blob, offset, span) {
    const at = this.findPart(blob, offset, this.cursor);
    const after = offset + span;
    const end = this.parts[at]?.end ?? blob.size;
    const following = at < 0 ? null : this.parts[at + 1];
    return after < end ? { blob, offset: after, span: Math.min(span, end - after) }
      : following && { blob: following.blob, offset: following.from,
        span: Math.min(kSliceSpan, following.end - following.from) };
  }

  // How far a read of `blob` at `offset` may reach beyond what it asks for.
  endFor(blob, offset) {
    return this.parts[this.partAt(blob, offset)]?.end ?? blob.size;
  }

  // `length` bytes of `blob` from `offset`, fewer at its end, out of `held`, a
  // slice kept; where it lacks them, a slice of `size` from `offset` takes its
  // place, the old one let go at once rather than left for the collector, which
  // lets a hundred pile up (WebKit). With `short`, a read that begins in the
  // slice ends with it: so no read spans two, and each slice is the one read ahead.
  async fromHeld(held, blob, offset, length, size, short = false) {
    this.way ??= await wayOf(blob);
    const end = offset + Math.min(length, blob.size - offset);
    const heldEnd = held.offset + held.bytes.length;
    if (held.blob !== blob || offset < held.offset || (end > heldEnd && !(short && offset < heldEnd))) {
      held.bytes.buffer.transfer?.(0);
      const span = Math.max(length, Math.min(size, this.endFor(blob, offset) - offset));
      Object.assign(held, { blob, offset, bytes: await held.read(blob, offset, span) });
    }
    return held.bytes.subarray(offset - held.offset, offset - held.offset + length);
  }

  // The slice of `span` bytes from `offset`, read on ahead where it was the
  // next; then, for a blob read slice by slice in the worker, the next ones
  // are asked for at once, on through the parts, so that the browser always
  // has kSlicesAhead to read. (The page's reads of file:// are left one at a time.)
  async spanAt(blob, offset, span) {
    const next = this.nextSpans[0];
    let bytes;
    if (next?.blob === blob && next.offset === offset && next.span === span) {
      bytes = await this.nextSpans.shift().reading;
    } else {
      await this.dropAhead();
      bytes = await this.sliceOf(blob, offset, span).catch(() => null);
    }
    if (bytes === null) {
      throw new Error('unreadable');
    }
    if (this.way !== 'slices' || (bytes.length < span && offset + bytes.length < this.endFor(blob, offset))) {
      return bytes;
    }
    let last = this.nextSpans.at(-1) ?? { blob, offset, span: bytes.length };
    while (this.nextSpans.length < kSlicesAhead && !this.signal.aborted) {
      const then = this.sliceAfter(last.blob, last.offset, last.span);
      if (!then) {
        break;
      }
      last = { ...then, reading: this.sliceOf(then.blob, then.offset, then.span).catch(() => null) };
      this.nextSpans.push(last);
    }
    return bytes;
  }

  // The slices asked for ahead let go, once read.
  async dropAhead() {
    for (const ahead of this.nextSpans.splice(0)) {
      (await ahead.reading)?.buffer.transfer?.(0);
    }
  }

  // `length` bytes of `blob` from `offset` read whole, or fewer at its end, as a new Uint8Array.
  async sliceOf(blob, offset, length) {
    if (this.way === 'page') {
      const bytes = await this.ask(blob, offset, length);
      if (bytes === null) {
        throw new Error('unreadable');
      }
      return new Uint8Array(bytes);
    }
    return new Uint8Array(await blob.slice(offset, offset + length).arrayBuffer());
  }

  // `length` bytes of `blob` from `offset` (at most a chunk), fewer at its end
  // or a slice's, as a view good until the next read; none only at the blob's
  // end; it throws when the blob cannot be read.
  async bytes(blob, offset, length) {
    this.way ??= await wayOf(blob);
    if (this.way !== 'stream') {
      return this.fromHeld(this.span, blob, offset, length, kSliceSpan, true);
    }
    this.spare ??= new ArrayBuffer(this.chunkSize);
    let done = 0;
    while (done < length && offset + done < blob.size) {
      const stream = this.streamAt(blob, offset + done);
      const { done: ended, value } = await stream.reader.read(new Uint8Array(this.spare, done, length - done));
      if (value) {
        this.spare = value.buffer;  // the same memory, handed back
      }
      if (ended) {
        break;
      }
      done += value.length;
      stream.next += value.length;
      if (stream.next === blob.size) {
        this.open.splice(this.open.indexOf(stream), 1);
        stream.reader.cancel().catch(() => {});
        break;
      }
    }
    return new Uint8Array(this.spare, 0, done);
  }

  // The byte stream of `blob` that goes on from `at`, opened if none does.
  streamAt(blob, at) {
    let stream = this.open.find((candidate) => candidate.blob === blob && candidate.next === at);
    if (!stream) {
      stream = { blob, next: at, reader: blob.slice(at).stream().getReader({ mode: 'byob' }) };
      this.open.unshift(stream);
      // The check reads the checksum table and the payload in turn: two places at once.
      this.open.splice(2).forEach((dropped) => dropped.reader.cancel().catch(() => {}));
    }
    return stream;
  }

  readAhead(blob, offset, length) {
    this.ahead = { blob, offset, length, reading: this.bytes(blob, offset, length).catch(() => null) };
  }

  // What bytes() gives, from the read asked ahead when it is this one.
  async take(blob, offset, length) {
    const asked = this.ahead;
    this.ahead = null;
    const bytes = await asked?.reading;  // the spare is that read's until then
    if (asked?.blob === blob && asked.offset === offset && asked.length === length) {
      if (bytes === null) {
        throw new Error('unreadable');
      }
      return bytes;
    }
    return this.bytes(blob, offset, length);
  }

  // Fills `target` (a Uint8Array: the module's memory, or any other) with the
  // bytes of `blob` from `offset`: the count, short at the blob's end, or -1
  // when the blob cannot be read or the job was cancelled. A file changed since
  // it was chosen cannot be read any more: the browser fails the read.
  async into(blob, offset, target) {
    try {
      const length = Math.min(target.length, Math.max(blob.size - offset, 0));
      if (length < kPieceSize) {
        if (this.signal.aborted) {
          return -1;
        }
        const bytes = await this.fromHeld(this.piece, blob, offset, length, kPieceSize);
        target.set(bytes);
        return bytes.length;
      }
      const end = this.endFor(blob, offset);
      let done = 0;
      while (done < length) {
        if (this.signal.aborted) {
          return -1;  // a cancelled call reads no further
        }
        const want = Math.min(length - done, this.chunkSize);
        const bytes = await this.take(blob, offset + done, want);
        target.set(bytes, done);
        done += bytes.length;
        if (bytes.length === 0) {
          break;
        }
        // The rest of a short read, or where the module reads on, a window at a
        // time: the next asked for as it checksums this one, as long as the
        // read that will take it.
        const next = offset + done;
        if (next < end) {
          this.readAhead(blob, next, Math.min(done < length ? Math.min(length - done, this.chunkSize) : want, end - next));
        }
      }
      return done;
    } catch {
      return -1;
    }
  }

  // What the job leaves behind goes at its end: its streams, its read ahead, its buffers.
  async close() {
    this.open.splice(0).forEach((stream) => stream.reader.cancel().catch(() => {}));
    await this.ahead?.reading;
    this.ahead = null;
    await this.dropAhead();
    for (const held of [this.span, this.piece]) {
      held.bytes.buffer.transfer?.(0);
      Object.assign(held, noSlice());
    }
    if (this.spare?.byteLength > 0) {
      this.spare.transfer?.(0);  // else lost to a read that failed
    }
  }
}
