// What a file that replaces another takes over from it: the permission bits,
// the owner and group where the caller may set them, extended attributes and
// the ACL; and the permissions a new file gets where nothing is replaced.
#pragma once

#include <filesystem>
#include <optional>

#include "platform/directory.h"
#include "platform/file_attributes.h"
#include "platform/file_io.h"

namespace quarnel {

struct PassedOnMetadata {
    std::optional<unsigned> permissions;  // empty: a new file's permissions
    std::optional<unsigned> owner;        // Linux, of a replaced file
    std::optional<unsigned> group;        // Linux, of a replaced file
    AccessAcl acl;                        // Linux
    FileHandle replaced;                  // Linux: the replaced file, open for its other extended attributes
};

// What the regular file `name` in `directory`, looked at as `file`, passes
// on. Its ACL is read by name, also when the file cannot be opened for
// reading or its attributes cannot be listed.
PassedOnMetadata read_passed_on_metadata(const Directory& directory, const std::filesystem::path& name,
                                         const DirectoryEntry& file);

// What a new file gets in `directory`: exactly what any program's new file
// (open with O_CREAT and 0666) gets there, after the umask or the
// directory's default ACL, as a file made there without a name shows (or,
// where the file system cannot make one, an empty file made and removed at
// once). 0 / -1.
[[nodiscard]] int probe_new_file(const Directory& directory, PassedOnMetadata& passed_on);

// Gives the new file, open as `file` and named `entry` as Directory::entry
// gives it, what was passed on. Best effort for the owner and the extended
// attributes, as cp --preserve=all, but the owning group never gets more than
// it had: where the replaced file has or may have an ACL that is not carried
// over, its group bits (the ACL's mask) are not given to the owning group;
// where it had none, the new file has none either, whatever the directory's
// default ACL gave it. 0, or -1 when the permissions, or the ACL, cannot be
// made what they must be.
[[nodiscard]] int pass_on_metadata(const PassedOnMetadata& passed_on, const FileHandle& file,
                                   const std::filesystem::path& entry);

}  // namespace quarnel
