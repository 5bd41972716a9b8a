// What every program does first, before any file is opened. The order is
// shared (startup.cpp); the calls have a file per system (startup_linux.cpp,
// startup_windows.cpp).
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

// Between startup.cpp and its system's file alone.
namespace startup_system {
// Whether a standard descriptor is closed.
bool is_closed(int descriptor);
// Opens the null device as the closed standard `descriptor`; 0 / -1.
[[nodiscard]] int open_null_device_as(int descriptor);
// 0666 less the file-creation mask.
unsigned read_new_file_permissions();
// A write that cannot be done (a closed pipe, a file-size limit) becomes a
// write error rather than the end of the process.
void ignore_write_signals();
}  // namespace startup_system

}  // namespace quarnel
