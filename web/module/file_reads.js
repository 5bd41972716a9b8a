// The two functions web_binding.cpp imports, linked in with --js-library.
// Both hand the call on to the worker (web/worker/serve.js), which gives them as
// Module.readInto and Module.progress when it creates the module.
mergeInto(LibraryManager.library, {
  quarnel_js_read: function (offset, buffer, length) {
    // The read waits for the file: the module pauses here until it is done (Asyncify).
    return Asyncify.handleAsync(() => Module['readInto'](offset, buffer, length));
  },
  quarnel_js_progress: function (done, total) {
    Module['progress'](done, total);
  },
});
