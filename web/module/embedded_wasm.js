// Linked in with --pre-js, inside the module's closure. The module carries its
// WebAssembly as a data: URL (SINGLE_FILE), which Emscripten's loader first
// tries to fetch(); the page's Content-Security-Policy refuses that, and the
// browser logs the refusal. The loader's own decoder hands the bytes over instead.
// They are compiled at once, which a worker may do: WebKit now and then never
// settles WebAssembly.instantiate()'s promise (one page load in 40 to 70),
// which left the page waiting for its module for good.
Module['instantiateWasm'] = function (imports, receiveInstance) {
  try {
    const module = simdModule() ?? new WebAssembly.Module(tryParseAsDataURI(wasmBinaryFile));
    receiveInstance(new WebAssembly.Instance(module, imports), module);
  } catch (error) {
    readyPromiseReject(error);
  }
  return {};  // the exports are the instance's, taken by receiveInstance
};

// The SIMD build's WebAssembly, where the page carries it (assemble_page.cmake):
// its checksum is the faster, and an engine without SIMD refuses to compile it.
function simdModule() {
  if (typeof quarnelSimdWasm !== 'string') {
    return null;
  }
  try {
    return new WebAssembly.Module(tryParseAsDataURI(quarnelSimdWasm));
  } catch {
    return null;
  }
}
