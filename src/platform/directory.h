// A directory that files are looked at, created and renamed in by name: the
// primitives the output file is written over, one API with a file per system
// (directory_linux.cpp, directory_windows.cpp). On Linux it is an O_PATH
// descriptor and names are relative to it, so that a path of any length works
// and a directory renamed meanwhile stays the one looked at; on Windows it is
// the directory's path, names joined to it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "platform/file_io.h"

namespace quarnel {

// What a name in a directory stands for, its links not followed.
struct DirectoryEntry {
    enum class Kind { Missing, Link, Regular, Other, Unreadable };
    Kind kind = Kind::Unreadable;
    unsigned permissions = 0;       // the read, write and execute bits
    std::optional<unsigned> owner;  // Linux: the owner and group a successor can be given
    std::optional<unsigned> group;
    std::uint64_t device = 0;  // Linux: which file it is, to recognise it when opened
    std::uint64_t inode = 0;
    bool locked = false;  // Linux: append-only or immutable, so no rename may replace it
};

class Directory {
public:
    Directory() = default;  // the working directory

    // The directory `path` names, taken from this one when relative; on
    // Linux a link as its last part is refused, so that whoever walks a path
    // decides about each link. On Windows it is not opened, and a missing one
    // shows when a file is created.
    [[nodiscard]] std::optional<Directory> open_directory(const std::filesystem::path& path) const;

    // The descriptor names are relative to (AT_FDCWD for the working
    // directory); -1 on Windows, where `entry` gives a full path instead.
    int native_handle() const;
    // A name of this directory as the platform's calls take it: the name
    // itself on Linux; on Windows the joined path, absolute, with the prefix
    // \\?\ that every Windows file call of the platform layer is given.
    std::filesystem::path entry(const std::filesystem::path& name) const;

    // On Windows a link is a reparse point that is a name surrogate (a
    // symbolic link, a junction, a mount point): platform/reparse_point.h.
    DirectoryEntry look_at(const std::filesystem::path& name) const;
    // Linux: the link's text; Windows: the path it resolves to, -1 when it
    // leads nowhere.
    [[nodiscard]] int read_link(const std::filesystem::path& name, std::filesystem::path& target) const;
    // Whether the caller may write the regular file `name` looked at as `file`.
    bool may_write(const std::filesystem::path& name, const DirectoryEntry& file) const;
    // Linux's protected_symlinks rule, for a link found in this directory: in
    // a sticky directory anyone may write (such as /tmp), only a link of the
    // caller's or of the directory's owner is followed. Windows has no such
    // directories.
    bool may_follow_link(const DirectoryEntry& link) const;
    // Linux's protected_regular rule, for a regular file found in this
    // directory: in such a shared sticky directory only a file of the
    // caller's or of the directory's owner is replaced, since another user
    // could change the new file after the run; and in any sticky directory
    // the rule the kernel applies to the rename, which CAP_FOWNER lifts
    // there. Windows: always.
    bool may_replace(const DirectoryEntry& file) const;
    // Whether this directory is append-only or immutable (Linux's chattr +a,
    // +i): no name in it can then be removed or renamed over. Windows: never.
    bool is_locked() const;
    // Whether `name`, looked at as `looked_at`, is the open `file`: the same file
    // (two nodes of one device count as one), or, on a file system that
    // ignores case or cannot tell (FUSE, whose inode numbers may differ for
    // two spellings of one name; SMB), a path that differs from the file's
    // own only in case. In doubt, it is.
    bool holds(const std::filesystem::path& name, const DirectoryEntry& looked_at, const FileHandle& file) const;

    // A new file, open for reading and writing, readable and writable by its
    // owner alone, or with `as_any_new_file` the permissions (and on Linux
    // the ACL) any program's new file gets here; a closed handle, errno
    // EEXIST, when the name is taken.
    FileHandle create_exclusive(const std::filesystem::path& name, bool as_any_new_file = false) const;
    // Linux: a new file with no name in this directory (O_TMPFILE), so
    // nobody else can open it, with what any program's new file gets here; a
    // closed handle, errno EOPNOTSUPP, where the file system cannot make one.
    FileHandle create_unnamed() const;
    // Renames `from` over `to`, both in this directory, the rename itself
    // written through to the disk on Windows; 0 / -1.
    [[nodiscard]] int rename(const std::filesystem::path& from, const std::filesystem::path& to) const;
    // Makes the names in this directory durable (fsync), so that a rename
    // done survives a power cut. On Linux, in a directory the caller may not
    // read, the whole file system that holds `name` is flushed instead.
    // Windows: nothing left to do after rename(). 0 / -1.
    [[nodiscard]] int flush(const std::filesystem::path& name) const;
    // Makes everything written on the file system that holds this directory
    // durable (syncfs): many new files and folders at once, each file begun
    // by start_sync_file(). Windows: nothing left, each file was flushed. 0 / -1.
    [[nodiscard]] int flush_file_system() const;

private:
    FileHandle handle_;           // Linux: the O_PATH descriptor; closed for the working directory
    std::filesystem::path path_;  // Windows: the path; empty for the working directory, and on Linux
};

// The longest entry (as Directory::entry gives it) the removals below take:
// Linux's relative paths up to PATH_MAX with its NUL, Windows' full paths.
#ifdef _WIN32
inline constexpr std::size_t kLongestEntry = 32767;
#else
inline constexpr std::size_t kLongestEntry = 4095;
#endif

// Removes `entry` (as Directory::entry gives it) from the directory whose
// native_handle() is `directory`: unlinkat on Linux, _wunlink on Windows,
// both async-signal-safe, so that a signal handler may call it.
void remove_entry_signal_safe(int directory, const std::filesystem::path::value_type* entry);

}  // namespace quarnel
