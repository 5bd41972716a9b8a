// The functions web_binding.cpp imports, linked in with --js-library. Each
// hands the call on to the worker (web/worker/serve.js), which gives them as
// Module.readInto, Module.progress, Module.split and Module.tableInto when it
// creates the module.
mergeInto(LibraryManager.library, {
  quarnel_js_read: function (offset, buffer, length) {
    // The read waits for the file: the module pauses here until it is done (Asyncify).
    return Asyncify.handleAsync(() => Module['readInto'](offset, buffer, length));
  },
  quarnel_js_progress: function (done, total) {
    Module['progress'](done, total);
  },
  quarnel_js_split: function (offset, length, at) {
    Module['split'](offset, length, at);
  },
  quarnel_js_table: function (table, length) {
    // It waits for the other worker's table, as a read waits for the file.
    return Asyncify.handleAsync(() => Module['tableInto'](table, length));
  },
});
