// Making a folder of files by name: new folders, the times of what was
// made, a move that never replaces, and the removal an interruption uses.
// One API on Linux and Windows; a name is relative to its Directory.
#pragma once

#include <cstdint>
#include <filesystem>

#include "platform/directory.h"
#include "platform/file_io.h"

namespace quarnel {

// Whether names are made under Windows' rules (no " * : < > ? \\ |, no
// device names, no final '.' or ' '), which a name of another system can
// break, and ':' would open a stream of another file.
#ifdef _WIN32
inline constexpr bool kWindowsNames = true;
#else
inline constexpr bool kWindowsNames = false;
#endif

// A new folder `name` in `directory`: with `private_to_owner` readable and
// searchable by its owner alone, else with what any new folder gets there
// (the umask, a default ACL). -1, errno EEXIST, when the name is taken.
[[nodiscard]] int make_directory(const Directory& directory, const std::filesystem::path& name, bool private_to_owner);

// Sets an open file's modification and access times to `seconds` since the
// epoch (UTC).
[[nodiscard]] int set_file_time(const FileHandle& file, std::int64_t seconds);

// The same for the entry `name` of `directory`, a link not followed.
[[nodiscard]] int set_entry_time(const Directory& directory, const std::filesystem::path& name, std::int64_t seconds);

// Moves `from` in `from_directory` to `to` in `to_directory` (one file
// system) when nothing is named `to` there: -1, errno EEXIST, when something
// is. Where the kernel or the file system cannot refuse in the move itself,
// the name is looked at just before.
[[nodiscard]] int move_without_replacing(const Directory& from_directory, const std::filesystem::path& from,
                                         const Directory& to_directory, const std::filesystem::path& to);

// Removes the empty folder `entry` (as Directory::entry gives it) from the
// directory whose native_handle() is `directory`; async-signal-safe, as
// remove_entry_signal_safe() is for a file.
void remove_directory_signal_safe(int directory, const std::filesystem::path::value_type* entry);

}  // namespace quarnel
