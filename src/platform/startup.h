// What both programs do first, before any file is opened.
#pragma once

namespace quarnel {

// Makes sure the standard descriptors 0, 1 and 2 are open (onto the null
// device where the caller closed one), so that no file of ours can take a
// standard stream's place; a closed pipe or a file-size limit becomes a write
// error; and the file-creation mask is read while no other thread runs.
// 0, or -1 when a standard descriptor cannot be opened.
[[nodiscard]] int prepare_process();

// The permission bits a newly made file of this process gets: 0666 less the
// file-creation mask.
unsigned new_file_permissions();

}  // namespace quarnel
