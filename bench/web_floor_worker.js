// A read of a Blob alone, for bench/web_convert.mjs's floor: the bytes go
// nowhere, so that what is timed is the engine's read and nothing of the
// page's. Started from a blob: URL in the page itself, whose policy allows
// workers from there alone. It says it has started with an empty message;
// then each message { blobs, way, size, ahead } is answered with { bytes } (or
// { error }) once every blob has been read whole, one after the other:
// - 'stream': its byte stream into one buffer of `size` handed back and forth;
// - 'slices': `blob.slice().arrayBuffer()` of `size` at a time, `ahead` more
//   asked for before the one read is awaited, each buffer let go when read
//   (ArrayBuffer.transfer), else WebKit piles them up for the collector;
// - 'sync': FileReaderSync's readAsArrayBuffer of `size` at a time.
'use strict';

const ways = {
  async stream(blob, size) {
    const reader = blob.stream().getReader({ mode: 'byob' });
    let buffer = new ArrayBuffer(size);
    let bytes = 0;
    for (;;) {
      const { done, value } = await reader.read(new Uint8Array(buffer));
      if (value) {
        buffer = value.buffer;  // the same memory, handed back
        bytes += value.length;
      }
      if (done) {
        return bytes;
      }
    }
  },

  async slices(blob, size, ahead) {
    const reading = [];
    let bytes = 0;
    for (let at = 0, next = 0; at < blob.size; at += size) {
      for (; next < blob.size && next <= at + ahead * size; next += size) {
        reading.push(blob.slice(next, next + size).arrayBuffer());
      }
      const buffer = await reading.shift();
      bytes += buffer.byteLength;
      buffer.transfer?.(0);
    }
    return bytes;
  },

  sync(blob, size) {
    const reader = new FileReaderSync();
    let bytes = 0;
    for (let at = 0; at < blob.size; at += size) {
      const buffer = reader.readAsArrayBuffer(blob.slice(at, at + size));
      bytes += buffer.byteLength;
      buffer.transfer?.(0);
    }
    return bytes;
  },
};

onmessage = async ({ data: { blobs, way, size, ahead } }) => {
  try {
    let bytes = 0;
    for (const blob of blobs) {
      bytes += await ways[way](blob, size, ahead);
    }
    postMessage({ bytes });
  } catch (error) {
    postMessage({ error: String(error) });
  }
};
postMessage({});
