// A folder's contents as a disc is made of them: the names in one directory,
// each with its kind, size, modification time and identity, looked at
// without following links; and a file of it opened for reading. A file per
// system (folder_listing_linux.cpp, folder_listing_windows.cpp).
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "platform/directory.h"
#include "platform/file_io.h"

namespace quarnel {

struct FileState {
    std::uint64_t size = 0;
    std::int64_t modified = 0;  // seconds since the epoch, UTC
    std::uint32_t modified_nanoseconds = 0;
    // With `inode`, which file it is: 0 and 0 where it is not known (Windows
    // tells it of an open file alone).
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileState&) const = default;
};

struct FolderItem {
    // Other: a link (on Windows, as Directory::look_at says), a FIFO, a
    // socket, a device. A Windows reparse point that is no link is the file
    // or folder it stands for.
    enum class Kind { File, Directory, Other, Unreadable };
    std::filesystem::path name;
    Kind kind = Kind::Unreadable;
    FileState state;
};

// The items of `directory`, "." and ".." left out, in the order the system
// gives them. -1 when the directory cannot be read.
[[nodiscard]] int list_directory(const Directory& directory, std::vector<FolderItem>& items);

// The regular file `name` of `directory`, open for reading, with what it is
// now in `state`; a link is not followed. A closed handle when it cannot be
// opened.
FileHandle open_in_directory(const Directory& directory, const std::filesystem::path& name, FileState& state);

// Whether the file `name` of `directory`, listed as `state`, may be opened
// for reading: on Linux told by its permissions, without opening it; on
// Windows by opening it, which also fills in the identity the listing lacks.
// -1 when it may not.
[[nodiscard]] int check_readable(const Directory& directory, const std::filesystem::path& name, FileState& state);

// What the open file is now; -1 when it cannot be told.
[[nodiscard]] int read_file_state(const FileHandle& file, FileState& state);

// What the file `path` names is, links followed; -1 when there is none (on
// Windows, or none that can be opened for reading).
[[nodiscard]] int read_path_state(const std::filesystem::path& path, FileState& state);

// What the entry `name` of `directory` is (`.`: the directory itself), links
// followed, its identity told on Windows too; -1 when it cannot be told.
[[nodiscard]] int read_entry_state(const Directory& directory, const std::filesystem::path& name, FileState& state);

// The name the folder `folder` has in its parent, however it is spelt: links
// followed, `.` and `..` resolved, and on Windows in the letter case the
// file system keeps; empty for a root (`/`, `C:\`). Where the system cannot
// tell, the name its absolute path ends in.
std::filesystem::path folder_name(const std::filesystem::path& folder);
// That name from the absolute path alone, `.` and `..` taken away as
// written: folder_name's answer where the system cannot tell.
std::filesystem::path lexical_folder_name(const std::filesystem::path& folder);

}  // namespace quarnel
