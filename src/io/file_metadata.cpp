#include "io/file_metadata.h"

#include "io/platform.h"
#include "io/startup.h"

#ifdef __linux__
#include <algorithm>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

namespace quarnel {
namespace fs = std::filesystem;

namespace {

// The replaced file, opened only to read its extended attributes; closed when
// it cannot be read or is no longer the file looked at. Windows: closed.
FileHandle open_replaced(const Directory& directory, const fs::path& name, const DirectoryEntry& looked_at)
{
#ifdef _WIN32
    (void)directory, (void)name, (void)looked_at;
    return FileHandle();
#elif defined(__linux__)
    FileHandle file(
        ::openat(directory.native_handle(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    const bool same = file.is_open() && ::fstat(file.descriptor(), &info) == 0 && info.st_dev == looked_at.device &&
                      info.st_ino == looked_at.inode;
    return same ? std::move(file) : FileHandle();
#endif
}

// Root keeps owner and group; another user the group, where a member of it.
// The old group's rights are not another group's: they go from
// `permissions` when the group could not be kept. 0 / -1. Windows: nothing.
[[nodiscard]] int give_owner(const FileHandle& file, unsigned owner, unsigned group, unsigned& permissions)
{
#ifdef _WIN32
    (void)file, (void)owner, (void)group, (void)permissions;
    return 0;
#elif defined(__linux__)
    const int descriptor = file.descriptor();
    if (::fchown(descriptor, owner, group) != 0) {
        (void)::fchown(descriptor, static_cast<uid_t>(-1), group);
    }
    struct stat info {};
    if (::fstat(descriptor, &info) != 0) {
        return -1;
    }
    if (info.st_gid != group) {
        permissions &= ~static_cast<unsigned>(S_IRWXG);
    }
    return 0;
#endif
}

// Linux's extended-attribute calls (flistxattr, fgetxattr, fsetxattr), best
// effort as cp --preserve=all: ACLs are the attribute system.posix_acl_access.
// File capabilities stay behind, as set-user-ID does. Windows: nothing.
void copy_extended_attributes(const FileHandle& from, const FileHandle& to)
{
#ifdef _WIN32
    (void)from, (void)to;
#elif defined(__linux__)
    constexpr std::size_t kMaxAttributeBytes = 65536;  // Linux's limit for a name list and for a value
    std::string names(kMaxAttributeBytes, '\0');
    const ssize_t length = ::flistxattr(from.descriptor(), names.data(), names.size());
    names.resize(static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
    std::string value(kMaxAttributeBytes, '\0');
    for (std::size_t start = 0; start < names.size();) {
        const std::size_t end = names.find('\0', start);
        const std::string name = names.substr(start, end - start);
        start = end == std::string::npos ? names.size() : end + 1;
        const ssize_t size = name == "security.capability"
                                 ? -1
                                 : ::fgetxattr(from.descriptor(), name.c_str(), value.data(), value.size());
        if (size >= 0) {
            (void)::fsetxattr(to.descriptor(), name.c_str(), value.data(), static_cast<std::size_t>(size), 0);
        }
    }
#endif
}

// fchmod on Linux; on Windows, which has no such call, by name.
[[nodiscard]] int set_permissions(const FileHandle& file, const fs::path& entry, unsigned permissions)
{
#ifdef _WIN32
    (void)file;
    std::error_code error;
    fs::permissions(entry, static_cast<fs::perms>(permissions), fs::perm_options::replace, error);
    return error ? -1 : 0;
#elif defined(__linux__)
    (void)entry;
    return ::fchmod(file.descriptor(), static_cast<mode_t>(permissions)) == 0 ? 0 : -1;
#endif
}

}  // namespace

KeptMetadata keep_metadata(const Directory& directory, const fs::path& name, const DirectoryEntry& file)
{
    // Read, write and execute bits only: set-user-ID and the like do not pass to new contents.
    return {file.permissions, file.owner, file.group, open_replaced(directory, name, file)};
}

int pass_on_metadata(const KeptMetadata& kept, const FileHandle& file, const fs::path& entry)
{
    unsigned permissions = kept.permissions.value_or(new_file_permissions());
    if (kept.owner && kept.group) {
        if (give_owner(file, *kept.owner, *kept.group, permissions) != 0) {
            return -1;
        }
        if (kept.replaced.is_open()) {
            copy_extended_attributes(kept.replaced, file);
        }
    }
    return set_permissions(file, entry, permissions);
}

}  // namespace quarnel
