// The WebAssembly checksum's own speed, for bench/web_checksum.mjs: run in a
// worker of its own, which loads the page's module named in the message, so
// that the page's worker carries nothing for the benchmark. `rounds` chunks
// of varied bytes checksummed from the module's memory, the reads left out.
'use strict';

onmessage = async ({ data: { module, rounds } }) => {
  importScripts(module);
  const quarnel = await createQuarnel({}).catch((error) => postMessage({ error: String(error) }));
  if (!quarnel) return;
  const chunkSize = quarnel._quarnel_chunk_size();
  quarnel._quarnel_convert_begin(rounds * chunkSize, 0);
  const chunk = quarnel.HEAPU8.subarray(quarnel._quarnel_chunk_buffer(), quarnel._quarnel_chunk_buffer() + chunkSize);
  chunk.forEach((_, i) => { chunk[i] = (i * 2654435761) >>> 24; });
  const start = performance.now();
  for (let round = 0; round < rounds; ++round) {
    quarnel._quarnel_convert_chunk(round * chunkSize, chunkSize);
  }
  const seconds = (performance.now() - start) / 1000;
  // A hash of the header area, checksums and all, so that two builds can be told to agree.
  const area = quarnel._quarnel_convert_finish();
  let hash = 2166136261;
  for (const byte of quarnel.HEAPU8.subarray(area, area + quarnel._quarnel_header_area_size())) {
    hash = Math.imul(hash ^ byte, 16777619) >>> 0;
  }
  postMessage({ bytes: rounds * chunkSize, seconds, hash });
};
