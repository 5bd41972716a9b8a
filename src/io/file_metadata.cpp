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

#ifdef __linux__

constexpr const char* kAccessAclName = "system.posix_acl_access";
constexpr std::size_t kMaxAttributeBytes = 65536;  // Linux's limit for a name list and for a value

// The outcome of reading the ACL attribute: its value, or why there is none.
AccessAcl access_acl_read(ssize_t length, const std::string& value)
{
    if (length >= 0) {
        return {AccessAcl::State::Present, value.substr(0, static_cast<std::size_t>(length))};
    }
    const bool none = errno == ENODATA || errno == ENOTSUP || errno == EOPNOTSUPP;
    return {none ? AccessAcl::State::None : AccessAcl::State::Unknown, {}};
}

// The replaced file's ACL: through its open handle, else through a handle
// that needs no right to read it (O_PATH), checked to be the file looked at,
// whose /proc name reads the attribute of that very file.
AccessAcl read_access_acl(const FileHandle& replaced, const Directory& directory, const fs::path& name,
                          const DirectoryEntry& looked_at)
{
    std::string value(kMaxAttributeBytes, '\0');
    if (replaced.is_open()) {
        return access_acl_read(::fgetxattr(replaced.descriptor(), kAccessAclName, value.data(), value.size()), value);
    }
    const FileHandle file(::openat(directory.native_handle(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!file.is_open() || ::fstat(file.descriptor(), &info) != 0 || info.st_dev != looked_at.device ||
        info.st_ino != looked_at.inode) {
        return {AccessAcl::State::Unknown, {}};
    }
    const std::string path = "/proc/self/fd/" + std::to_string(file.descriptor());
    return access_acl_read(::getxattr(path.c_str(), kAccessAclName, value.data(), value.size()), value);
}

// The owning group's own rights in an ACL (its ACL_GROUP_OBJ entry), as
// group permission bits; none when the ACL cannot be read. An entry is a
// little-endian tag and permissions of 16 bits and an id of 32, after a
// 4-byte version.
unsigned owning_group_bits(const AccessAcl& acl)
{
    constexpr std::size_t kHeader = 4;
    constexpr std::size_t kEntry = 8;
    constexpr unsigned kGroupObject = 0x04;
    for (std::size_t at = kHeader; acl.state == AccessAcl::State::Present && at + kEntry <= acl.value.size();
         at += kEntry) {
        const auto byte = [&](std::size_t offset) { return static_cast<unsigned char>(acl.value[at + offset]); };
        if ((byte(0) | byte(1) << 8) == kGroupObject) {
            return (byte(2) & 07U) << 3;
        }
    }
    return 0;
}

#endif

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
#ifdef __linux__
    kept.acl = read_access_acl(kept.replaced, directory, name, file);
#endif
    return kept;
}

int probe_new_file(const Directory& directory, KeptMetadata& kept)
{
#ifdef _WIN32
    (void)directory;
    kept.permissions = new_file_permissions();
    return 0;
#elif defined(__linux__)
    // A file without a name; where there can be none, an empty one gone at
    // once, so that nothing can be learnt from it while it is open to others.
    TemporaryFile named;
    FileHandle unnamed = directory.create_unnamed();
    if (!unnamed.is_open() && (errno != EOPNOTSUPP || named.create(directory, true) != 0)) {
        return -1;
    }
    const int probe = unnamed.is_open() ? unnamed.descriptor() : named.handle().descriptor();
    struct stat info {};
    if (::fstat(probe, &info) != 0) {
        return -1;
    }
    kept.permissions = static_cast<unsigned>(info.st_mode) & 0777U;
    std::string value(kMaxAttributeBytes, '\0');
    kept.acl = access_acl_read(::fgetxattr(probe, kAccessAclName, value.data(), value.size()), value);
    return kept.acl.state == AccessAcl::State::Unknown ? -1 : 0;
#endif
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
#ifdef __linux__
    const bool acl_given =
        kept.acl.state == AccessAcl::State::Present &&
        ::fsetxattr(file.descriptor(), kAccessAclName, kept.acl.value.data(), kept.acl.value.size(), 0) == 0;
    if (!replacing && kept.acl.state == AccessAcl::State::Present) {
        // The ACL gives a new file all its permission bits; without it the file is not what others' new files are.
        return acl_given ? 0 : -1;
    }
    if (!acl_given && kept.acl.state != AccessAcl::State::None) {
        permissions = (permissions & ~070U) | (permissions & owning_group_bits(kept.acl));
    }
#endif
    return set_permissions(file, entry, permissions);
}

}  // namespace quarnel
