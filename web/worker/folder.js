// The page's Web Worker, part 2 of 4: a folder handed over to the module.

// The folder as the page gives it:
// { name, modified, directories: [{ path, modified }], files: [{ path, file }] },
// paths below the folder with '/' between names, times in milliseconds as
// File.lastModified gives them. As a tree of quarnel-pack's entries: each
// { name, directory, size, modified, children (a Map by name), index (a
// file's place in folder.files) }.
function folderTree(folder) {
  const node = (name) => ({ name, directory: true, size: 0, modified: folder.modified, children: new Map() });
  const root = node(folder.name);
  const directoryAt = (path) => path.split('/').reduce((parent, name) => {
    if (!parent.children.has(name)) {
      parent.children.set(name, node(name));
    }
    return parent.children.get(name);
  }, root);
  const parentOf = (path) => (path.includes('/') ? directoryAt(path.slice(0, path.lastIndexOf('/'))) : root);
  const leaf = (path) => path.slice(path.lastIndexOf('/') + 1);
  folder.directories.forEach(({ path, modified }) => {
    directoryAt(path).modified = modified;
  });
  folder.files.forEach(({ path, file }, index) => {
    parentOf(path).children.set(leaf(path), { name: leaf(path), directory: false, size: file.size,
      modified: file.lastModified, index });
  });
  return root;
}

// Hands the folder and the label (or null) over to the module as
// web_binding.cpp's FolderBuilder takes them, each entry before what it holds,
// a time in whole seconds, rounded down as st_mtime's are. The places in
// folder.files of the files in the order handed over, which the module's
// file order refers to.
function handOver(folder, label) {
  const utf8 = new TextEncoder();
  const put = (text) => {
    const bytes = utf8.encode(text);
    quarnel.HEAPU8.set(bytes, quarnel._quarnel_pack_text(bytes.length));
  };
  quarnel._quarnel_pack_begin();
  if (label !== null) {
    put(label);
    quarnel._quarnel_pack_label();
  }
  const files = [];
  const add = (node) => {
    put(node.name);
    quarnel._quarnel_pack_entry(node.directory ? 1 : 0, node.size, Math.floor(node.modified / 1000),
      node.directory ? node.children.size : 0);
    if (node.directory) {
      node.children.forEach(add);
    } else {
      files.push(node.index);
    }
  };
  add(folderTree(folder));
  return files;
}
