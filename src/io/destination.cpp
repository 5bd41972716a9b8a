#include "io/destination.h"

#include <optional>
#include <utility>

namespace quarnel {
namespace fs = std::filesystem;

namespace {

// Linux gives up on a chain of more links than this (ELOOP).
constexpr int kMaxLinkHops = 40;

struct PathParts {
    fs::path directory;
    fs::path name;
};

// "dir/name", "name" (in "."), "/name" (in "/"); a path ending in a separator has no name.
PathParts split(const fs::path& path)
{
    const fs::path directory = path.parent_path();
    return {directory.empty() ? fs::path(".") : directory, path.filename()};
}

}  // namespace

int resolve_destination(const fs::path& destination, Destination& resolved)
{
    Directory base;  // where a relative link points from; at first the working directory
    fs::path path = destination;
    for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
        const PathParts parts = split(path);
        if (parts.name.empty()) {
            return -1;  // "" or a path ending in a separator names no file
        }
        std::optional<Directory> directory = base.open_directory(parts.directory);
        if (!directory) {
            return -1;
        }
        const DirectoryEntry entry = directory->look_at(parts.name);
        switch (entry.kind) {
        case DirectoryEntry::Kind::Missing:
            resolved = {std::move(*directory), parts.name, {}};
            return 0;
        case DirectoryEntry::Kind::Link:
            if (!directory->may_follow_link(entry) || directory->read_link(parts.name, path) != 0) {
                return -1;
            }
            base = std::move(*directory);
            continue;
        case DirectoryEntry::Kind::Regular:
            if (!directory->may_write(parts.name, entry)) {
                return -1;
            }
            resolved.kept = keep_metadata(*directory, parts.name, entry);
            resolved.directory = std::move(*directory);
            resolved.name = parts.name;
            return 0;
        default:
            return -1;  // a directory, a device, or what cannot be looked at
        }
    }
    return -1;
}

}  // namespace quarnel
