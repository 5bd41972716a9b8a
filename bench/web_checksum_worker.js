// The WebAssembly checksum's own speed, for bench/web_convert.mjs: run in a
// worker of its own, the page's module (quarnel_module.js) then this script,
// so that the page's worker carries nothing for the benchmark. `rounds`
// chunks of varied bytes checksummed from the module's memory, the reads left out.
'use strict';

onmessage = async ({ data: { rounds } }) => {
  const quarnel = await createQuarnel({});
  const chunkSize = quarnel._quarnel_chunk_size();
  quarnel._quarnel_convert_begin(rounds * chunkSize, 0);
  const chunk = quarnel.HEAPU8.subarray(quarnel._quarnel_chunk_buffer(), quarnel._quarnel_chunk_buffer() + chunkSize);
  chunk.forEach((_, i) => { chunk[i] = (i * 2654435761) >>> 24; });
  const start = performance.now();
  for (let round = 0; round < rounds; ++round) {
    quarnel._quarnel_convert_chunk(round * chunkSize, chunkSize);
  }
  postMessage({ bytes: rounds * chunkSize, seconds: (performance.now() - start) / 1000 });
};
