#include "io/file_metadata.h"

#include "io/platform.h"
#include "io/startup.h"
#include "io/temporary_file.h"

#ifdef __linux__
#include <algorithm>
#include <cerrno>
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

// Linux's names and limits for extended attributes: ACLs are the attribute
// system.posix_acl_access; a name list and a value hold 64 KiB at most.
constexpr const char* kAccessAclName = "system.posix_acl_access";
constexpr std::size_t kMaxAttributeBytes = 65536;
constexpr unsigned kGroupBits = 070;

// The ACL attribute read through the open file, or by `path` where one is
// given; Windows: none.
AccessAcl read_access_acl(const FileHandle& file, const std::string& path = {})
{
#ifdef _WIN32
    (void)file, (void)path;
    return {};
#elif defined(__linux__)
    std::string value(kMaxAttributeBytes, '\0');
    const ssize_t length = path.empty() ? ::fgetxattr(file.descriptor(), kAccessAclName, value.data(), value.size())
                                        : ::getxattr(path.c_str(), kAccessAclName, value.data(), value.size());
    if (length >= 0) {
        value.resize(static_cast<std::size_t>(length));
        return {AccessAcl::State::Present, std::move(value)};
    }
    const bool none = errno == ENODATA || errno == ENOTSUP || errno == EOPNOTSUPP;
    return {none ? AccessAcl::State::None : AccessAcl::State::Unknown, {}};
#endif
}

// The replaced file's ACL, also when it could not be opened for reading:
// then through a handle that needs no right to read it (O_PATH), checked to
// be the file looked at, whose /proc name reads that very file's attribute.
AccessAcl replaced_access_acl(const KeptMetadata& kept, const Directory& directory, const fs::path& name,
                              const DirectoryEntry& looked_at)
{
    if (kept.replaced.is_open()) {
        return read_access_acl(kept.replaced);
    }
#ifdef _WIN32
    (void)directory, (void)name, (void)looked_at;
    return {};
#elif defined(__linux__)
    const FileHandle file(::openat(directory.native_handle(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!file.is_open() || ::fstat(file.descriptor(), &info) != 0 || info.st_dev != looked_at.device ||
        info.st_ino != looked_at.inode) {
        return {AccessAcl::State::Unknown, {}};
    }
    return read_access_acl(file, "/proc/self/fd/" + std::to_string(file.descriptor()));
#endif
}

// Whether the file was given the ACL; never on Windows.
bool give_access_acl(const FileHandle& file, const AccessAcl& acl)
{
#ifdef _WIN32
    (void)file, (void)acl;
    return false;
#elif defined(__linux__)
    return acl.state == AccessAcl::State::Present &&
           ::fsetxattr(file.descriptor(), kAccessAclName, acl.value.data(), acl.value.size(), 0) == 0;
#endif
}

// A new file with what any program's new file gets in the directory: one
// without a name (Linux's O_TMPFILE); where there can be none, an empty one
// under a temporary name, gone with the handle. Nothing can be learnt from
// either while it is open to others. Windows: none is needed.
FileHandle create_probe(const Directory& directory, TemporaryFile& named)
{
#ifdef _WIN32
    (void)directory, (void)named;
    return FileHandle();
#elif defined(__linux__)
    FileHandle unnamed = directory.create_unnamed();
    if (unnamed.is_open() || errno != EOPNOTSUPP || named.create(directory, true) != 0) {
        return unnamed;
    }
    return FileHandle(::dup(named.handle().descriptor()));
#endif
}

// The permission bits of an open file (-1 when it is not open); Windows,
// where none is opened, a new file's.
[[nodiscard]] int read_permissions(const FileHandle& file, unsigned& permissions)
{
#ifdef _WIN32
    (void)file;
    permissions = new_file_permissions();
    return 0;
#elif defined(__linux__)
    struct stat info {};
    if (::fstat(file.descriptor(), &info) != 0) {
        return -1;
    }
    permissions = static_cast<unsigned>(info.st_mode) & 0777U;
    return 0;
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
    const bool group_kept =
        ::fchown(descriptor, owner, group) == 0 || ::fchown(descriptor, static_cast<uid_t>(-1), group) == 0;
    struct stat info {};
    if (::fstat(descriptor, &info) != 0) {
        return -1;
    }
    if (!group_kept || info.st_gid != group) {
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
    std::string names(kMaxAttributeBytes, '\0');
    const ssize_t length = ::flistxattr(from.descriptor(), names.data(), names.size());
    names.resize(static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
    std::string value(kMaxAttributeBytes, '\0');
    for (std::size_t start = 0; start < names.size();) {
        const std::size_t end = names.find('\0', start);
        const std::string name = names.substr(start, end - start);
        start = end == std::string::npos ? names.size() : end + 1;
        // The ACL goes by name, whether or not the list could be read.
        const bool skipped = name == "security.capability" || name == kAccessAclName;
        const ssize_t size = skipped ? -1 : ::fgetxattr(from.descriptor(), name.c_str(), value.data(), value.size());
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
    KeptMetadata kept{file.permissions, file.owner, file.group, {}, open_replaced(directory, name, file)};
    kept.acl = replaced_access_acl(kept, directory, name, file);
    return kept;
}

int probe_new_file(const Directory& directory, KeptMetadata& kept)
{
    TemporaryFile named;
    const FileHandle probe = create_probe(directory, named);
    unsigned permissions = 0;
    if (read_permissions(probe, permissions) != 0) {
        return -1;
    }
    kept.permissions = permissions;
    kept.acl = read_access_acl(probe);
    return kept.acl.state == AccessAcl::State::Unknown ? -1 : 0;
}

int pass_on_metadata(const KeptMetadata& kept, const FileHandle& file, const fs::path& entry)
{
    unsigned permissions = kept.permissions.value_or(new_file_permissions());
    const bool replacing = kept.owner && kept.group;
    if (replacing) {
        if (give_owner(file, *kept.owner, *kept.group, permissions) != 0) {
            return -1;
        }
        if (kept.replaced.is_open()) {
            copy_extended_attributes(kept.replaced, file);
        }
    }
    const bool acl_given = give_access_acl(file, kept.acl);
    if (!replacing && kept.acl.state == AccessAcl::State::Present) {
        // The ACL gives a new file all its permission bits; without it the file is not what others' new files are.
        return acl_given ? 0 : -1;
    }
    if (!acl_given && kept.acl.state != AccessAcl::State::None) {
        permissions &= ~kGroupBits;  // they were the ACL's mask, not the owning group's rights
    }
    return set_permissions(file, entry, permissions);
}

}  // namespace quarnel
