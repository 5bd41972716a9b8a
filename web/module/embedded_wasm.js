// Linked in with --pre-js, inside the module's closure. The module carries its
// WebAssembly as a data: URL (SINGLE_FILE), which Emscripten's loader first
// tries to fetch(); the page's Content-Security-Policy refuses that, and the
// browser logs the refusal. The loader's own decoder hands the bytes over instead.
Module['instantiateWasm'] = function (imports, receiveInstance) {
  WebAssembly.instantiate(tryParseAsDataURI(wasmBinaryFile), imports).then(
    (result) => receiveInstance(result.instance, result.module), readyPromiseReject);
  return {};  // the exports come later, through receiveInstance
};
