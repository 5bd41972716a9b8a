// A file's permission bits, owner, extended attributes and access ACL, as
// one primitive per question: Linux's calls, and on Windows what stands in
// for them (nothing to read or carry over but the permissions).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/directory.h"
#include "platform/file_io.h"

namespace quarnel {

// A file's access ACL: Linux's attribute system.posix_acl_access, whose
// mask entry is what the permission bits show for the group.
struct AccessAcl {
    enum class State { None, Present, Unknown };  // Unknown: there may be one, but it could not be read
    State state = State::None;
    std::string value;  // Present: as the kernel stores it
};

// The file `name` in `directory`, opened only to read its extended
// attributes; closed when it cannot be read or is no longer the file looked
// at. Windows: closed.
FileHandle open_for_attributes(const Directory& directory, const std::filesystem::path& name,
                               const DirectoryEntry& looked_at);

// The ACL of an open file; Windows: none.
AccessAcl read_access_acl(const FileHandle& file);
// The ACL of `name` in `directory` through a handle that needs no right to
// read the file, checked to be the file looked at; Windows: none.
AccessAcl read_access_acl(const Directory& directory, const std::filesystem::path& name,
                          const DirectoryEntry& looked_at);
// Whether the file was given the ACL; never on Windows.
bool give_access_acl(const FileHandle& file, const AccessAcl& acl);
// Takes away any ACL the file has (one a directory's default ACL gave it):
// 0 when it has none afterwards.
[[nodiscard]] int remove_access_acl(const FileHandle& file);

// The permission bits a new file gets where the platform knows them without
// making one (Windows); empty where only a new file can tell (Linux).
std::optional<unsigned> known_new_file_permissions();
// The permission bits of an open file; -1 when they cannot be read.
[[nodiscard]] int read_permissions(const FileHandle& file, unsigned& permissions);
// fchmod on Linux; on Windows, which has no such call, by name.
[[nodiscard]] int set_permissions(const FileHandle& file, const std::filesystem::path& entry, unsigned permissions);

// Root keeps owner and group; another user the group, where a member of it.
// `group_kept`: the file's group is `group` afterwards. 0, or -1 when the
// file's owner can no longer be read. Windows: nothing to give, kept.
[[nodiscard]] int give_owner(const FileHandle& file, unsigned owner, unsigned group, bool& group_kept);

// Every extended attribute but the ACL and file capabilities, best effort as
// cp --preserve=all. Windows: nothing.
void copy_extended_attributes(const FileHandle& from, const FileHandle& to);

// Another handle to the same open file; closed on failure.
FileHandle duplicate(const FileHandle& file);

}  // namespace quarnel
