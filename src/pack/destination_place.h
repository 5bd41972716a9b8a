// Where the image goes, told before the folder is walked, so that the walk
// can leave the image being written off its own disc.
#pragma once

#include <filesystem>
#include <string>

#include "platform/folder_listing.h"

namespace quarnel {

// Whether the listing told the entry's identity (not on every file system).
[[nodiscard]] bool is_known(const FileState& state);
[[nodiscard]] bool is_same_identity(const FileState& a, const FileState& b);

// The destination as the output file will resolve it (links followed): the
// directory, by identity, and the name in it.
struct DestinationPlace {
    FileState directory;  // unknown where the destination cannot be resolved: nothing is left out
    std::string name;
    FileState file;  // unknown while there is no such file
};

[[nodiscard]] DestinationPlace find_destination(const std::filesystem::path& destination);

}  // namespace quarnel
