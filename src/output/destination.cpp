#include "output/destination.h"

#include <optional>
#include <utility>
#include <vector>

namespace quarnel {
namespace fs = std::filesystem;

namespace {

// Linux gives up on a chain of more links than this (ELOOP).
constexpr int kMaxLinkHops = 40;

// The parts of a path still to walk, the next one last; a path ending in a
// separator ends in an empty part, which names no file.
void push_parts(const fs::path& path, std::vector<fs::path>& pending)
{
    const fs::path relative = path.relative_path();
    const std::vector<fs::path> parts(relative.begin(), relative.end());
    pending.insert(pending.end(), parts.rbegin(), parts.rend());
}

// The directory a path starts from: its root, or `relative_to`.
std::optional<Directory> starting_directory(const fs::path& path, const Directory& relative_to)
{
    return relative_to.open_directory(path.has_root_path() ? path.root_path() : fs::path("."));
}

// The last part of the destination, found in `directory`: a new file, or a
// regular file the caller may replace there. Refused: a directory where no
// name can be removed or renamed over (it would keep the temporary file),
// anything but a regular file, and a file the caller may not write or, in a
// shared sticky directory, that belongs to someone else.
[[nodiscard]] int take_final_entry(Directory&& directory, const fs::path& name, const DirectoryEntry& entry,
                                   Destination& resolved)
{
    if (directory.is_locked()) {
        return -1;
    }
    if (entry.kind == DirectoryEntry::Kind::Missing) {
        PassedOnMetadata passed_on;
        if (probe_new_file(directory, passed_on) != 0) {
            return -1;
        }
        resolved = {std::move(directory), name, std::move(passed_on)};
        return 0;
    }
    if (entry.kind != DirectoryEntry::Kind::Regular || entry.locked || !directory.may_write(name, entry) ||
        !directory.may_replace(entry)) {
        return -1;  // a directory, a device, or what cannot be looked at
    }
    resolved.passed_on = read_passed_on_metadata(directory, name, entry);
    resolved.directory = std::move(directory);
    resolved.name = name;
    return 0;
}

// Walks the path a part at a time, as the kernel does, so that the link rule
// holds for every link on the way, a directory part's too; stops at the last
// part, a link there followed only when `follow_last` says so. 0, with the
// directory that holds it, its name and what it is, or -1.
[[nodiscard]] int walk_to_last_part(const fs::path& path, bool follow_last, std::optional<Directory>& directory,
                                    fs::path& last, DirectoryEntry& entry)
{
    directory = starting_directory(path, Directory());
    std::vector<fs::path> pending;
    push_parts(path, pending);
    int hops = 0;
    while (directory && !pending.empty()) {
        fs::path name = std::move(pending.back());
        pending.pop_back();
        if (name.empty()) {
            return -1;  // "" or a path ending in a separator names no file
        }
        entry = directory->look_at(name);
        if (entry.kind == DirectoryEntry::Kind::Link && (follow_last || !pending.empty())) {
            fs::path target;
            if (++hops > kMaxLinkHops || !directory->may_follow_link(entry) ||
                directory->read_link(name, target) != 0) {
                return -1;
            }
            if (target.has_root_path()) {
                directory = starting_directory(target, *directory);
            }
            push_parts(target, pending);
        } else if (pending.empty()) {
            last = std::move(name);
            return 0;
        } else if (entry.kind == DirectoryEntry::Kind::Other) {
            directory = directory->open_directory(name);  // not a link: looked at just now, and never followed
        } else {
            return -1;  // a file, or nothing, where a directory must be
        }
    }
    return -1;
}

}  // namespace

Resolution resolve_destination(const fs::path& destination, const FileHandle& source, Destination& resolved)
{
    std::optional<Directory> directory;
    fs::path name;
    DirectoryEntry entry;
    if (walk_to_last_part(destination, true, directory, name, entry) != 0) {
        return Resolution::Refused;
    }
    if (source.is_open() && directory->holds(name, entry, source)) {
        return Resolution::IsTheSource;
    }
    return take_final_entry(std::move(*directory), name, entry, resolved) == 0 ? Resolution::Resolved
                                                                               : Resolution::Refused;
}

NewFolderPlace resolve_new_folder(const fs::path& folder, std::optional<Directory>& directory, fs::path& name)
{
    fs::path path = folder;
    while (!path.has_filename() && path.has_relative_path()) {
        path = path.parent_path();  // "out/" names the folder out
    }
    DirectoryEntry entry;
    if (walk_to_last_part(path, false, directory, name, entry) != 0 || directory->is_locked()) {
        return NewFolderPlace::Refused;
    }
    return entry.kind == DirectoryEntry::Kind::Missing ? NewFolderPlace::Free : NewFolderPlace::Taken;
}

}  // namespace quarnel
