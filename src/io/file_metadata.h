// What a file that replaces another keeps of it: the permission bits, the
// owner and group where the caller may set them, extended attributes and
// ACLs; and the permissions a new file gets where nothing is replaced.
#pragma once

#include <filesystem>
#include <optional>

#include "io/directory.h"
#include "io/file_io.h"

namespace quarnel {

struct KeptMetadata {
    std::optional<unsigned> permissions;  // empty: a new file's permissions
    std::optional<unsigned> owner;        // Linux
    std::optional<unsigned> group;        // Linux
    FileHandle replaced;                  // Linux: the replaced file, open for its extended attributes
};

// What the regular file `name` in `directory`, looked at as `file`, passes on.
KeptMetadata keep_metadata(const Directory& directory, const std::filesystem::path& name, const DirectoryEntry& file);

// Gives the new file, open as `file` and named `entry` as Directory::entry
// gives it, what was kept. Best effort for the owner and the extended
// attributes, as cp --preserve=all; 0, or -1 when the permissions cannot be set.
[[nodiscard]] int pass_on_metadata(const KeptMetadata& kept, const FileHandle& file,
                                   const std::filesystem::path& entry);

}  // namespace quarnel
