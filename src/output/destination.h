// Where the output goes: the destination a command line names, resolved
// under the link rules into a directory, a name in it and what the file it
// replaces passes on.
#pragma once

#include <filesystem>
#include <optional>

#include "output/file_metadata.h"
#include "platform/directory.h"

namespace quarnel {

struct Destination {
    Directory directory;         // holds the destination and its temporary file
    std::filesystem::path name;  // the destination's name in it
    PassedOnMetadata passed_on;  // by the replaced file, or what a new file gets
};

enum class Resolution { Resolved, IsTheSource, Refused };

// A closed `source` (a run that reads no single file) is never the destination.
// IsTheSource: the destination is the open `source`, through whatever
// spelling the walk accepts, however long (Directory::holds), found before
// anything else about it is. Otherwise refuses a destination that exists but is not a regular file, or that the
// caller may not write. A symbolic link is followed, also when it dangles (the
// file it points to is then created), so the file it names is replaced and
// the link stays; in a sticky directory that anyone may write (such as /tmp)
// only a link of the caller's or of the directory's owner is followed, as
// Linux's protected_symlinks does, whether the link is the last part of the
// path or a directory on the way; and there a file of another user's is not
// replaced, as Linux's protected_regular does. A directory that is
// append-only or immutable is refused before anything is made in it. Works a
// directory at a time, so that any path the system accepts works, however
// long. 0 / -1.
[[nodiscard]] Resolution resolve_destination(const std::filesystem::path& destination, const FileHandle& source,
                                             Destination& resolved);

enum class NewFolderPlace { Free, Taken, Refused };

// Where a folder to be made goes: the directory that is to hold it, walked
// to under the same link rules, and its name there. Taken when anything is
// named so, a link too (never followed there); Refused when the path leads
// nowhere or the directory is append-only or immutable.
[[nodiscard]] NewFolderPlace resolve_new_folder(const std::filesystem::path& folder,
                                                std::optional<Directory>& directory, std::filesystem::path& name);

}  // namespace quarnel
