#include <io.h>

#include "platform/file_attributes.h"
#include "platform/startup.h"

namespace quarnel {
namespace fs = std::filesystem;

// No extended attributes, ACLs or owners are carried over on Windows.
FileHandle open_for_attributes(const Directory&, const fs::path&, const DirectoryEntry&) { return FileHandle(); }
AccessAcl read_access_acl(const FileHandle&) { return {}; }
AccessAcl read_access_acl(const Directory&, const fs::path&, const DirectoryEntry&) { return {}; }
bool give_access_acl(const FileHandle&, const AccessAcl&) { return false; }
int remove_access_acl(const FileHandle&) { return 0; }
int give_owner(const FileHandle&, unsigned, unsigned, bool& group_kept)
{
    group_kept = true;
    return 0;
}
void copy_extended_attributes(const FileHandle&, const FileHandle&) {}

// What the C runtime's umask leaves: no new file is needed to tell.
std::optional<unsigned> known_new_file_permissions() { return new_file_permissions(); }

int read_permissions(const FileHandle&, unsigned& permissions)
{
    permissions = new_file_permissions();
    return 0;
}

int set_permissions(const FileHandle&, const fs::path& entry, unsigned permissions)
{
    std::error_code error;
    fs::permissions(entry, static_cast<fs::perms>(permissions), fs::perm_options::replace, error);
    return error ? -1 : 0;
}

FileHandle duplicate(const FileHandle& file) { return FileHandle(::_dup(file.descriptor())); }

}  // namespace quarnel
