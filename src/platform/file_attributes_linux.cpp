#include "platform/file_attributes.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace quarnel {
namespace fs = std::filesystem;

namespace {

// ACLs are the attribute system.posix_acl_access; a name list and a value
// hold 64 KiB at most.
constexpr const char* kAccessAclName = "system.posix_acl_access";
constexpr std::size_t kMaxAttributeBytes = 65536;

bool is_file_looked_at(const FileHandle& file, const DirectoryEntry& looked_at)
{
    struct stat info {};
    return file.is_open() && ::fstat(file.descriptor(), &info) == 0 && info.st_dev == looked_at.device &&
           info.st_ino == looked_at.inode;
}

// Through the open file, or by `path` where one is given.
AccessAcl read_acl(const FileHandle& file, const std::string& path)
{
    std::string value(kMaxAttributeBytes, '\0');
    const ssize_t length = path.empty() ? ::fgetxattr(file.descriptor(), kAccessAclName, value.data(), value.size())
                                        : ::getxattr(path.c_str(), kAccessAclName, value.data(), value.size());
    if (length >= 0) {
        value.resize(static_cast<std::size_t>(length));
        return {AccessAcl::State::Present, std::move(value)};
    }
    const bool none = errno == ENODATA || errno == ENOTSUP || errno == EOPNOTSUPP;
    return {none ? AccessAcl::State::None : AccessAcl::State::Unknown, {}};
}

}  // namespace

FileHandle open_for_attributes(const Directory& directory, const fs::path& name, const DirectoryEntry& looked_at)
{
    FileHandle file(
        ::openat(directory.native_handle(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    return is_file_looked_at(file, looked_at) ? std::move(file) : FileHandle();
}

AccessAcl read_access_acl(const FileHandle& file) { return read_acl(file, {}); }

// The handle's /proc name reads that very file's attribute.
AccessAcl read_access_acl(const Directory& directory, const fs::path& name, const DirectoryEntry& looked_at)
{
    const FileHandle file(::openat(directory.native_handle(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!is_file_looked_at(file, looked_at)) {
        return {AccessAcl::State::Unknown, {}};
    }
    return read_acl(file, "/proc/self/fd/" + std::to_string(file.descriptor()));
}

bool give_access_acl(const FileHandle& file, const AccessAcl& acl)
{
    return acl.state == AccessAcl::State::Present &&
           ::fsetxattr(file.descriptor(), kAccessAclName, acl.value.data(), acl.value.size(), 0) == 0;
}

int remove_access_acl(const FileHandle& file)
{
    const bool none = ::fremovexattr(file.descriptor(), kAccessAclName) == 0 || errno == ENODATA || errno == ENOTSUP ||
                      errno == EOPNOTSUPP;
    return none ? 0 : -1;
}

std::optional<unsigned> known_new_file_permissions() { return std::nullopt; }

int read_permissions(const FileHandle& file, unsigned& permissions)
{
    struct stat info {};
    if (::fstat(file.descriptor(), &info) != 0) {
        return -1;
    }
    permissions = static_cast<unsigned>(info.st_mode) & 0777U;
    return 0;
}

int set_permissions(const FileHandle& file, const fs::path& /*entry*/, unsigned permissions)
{
    return ::fchmod(file.descriptor(), static_cast<mode_t>(permissions)) == 0 ? 0 : -1;
}

int give_owner(const FileHandle& file, unsigned owner, unsigned group, bool& group_kept)
{
    const int descriptor = file.descriptor();
    group_kept = ::fchown(descriptor, owner, group) == 0 || ::fchown(descriptor, static_cast<uid_t>(-1), group) == 0;
    struct stat info {};
    if (::fstat(descriptor, &info) != 0) {
        return -1;
    }
    group_kept = group_kept && info.st_gid == group;
    return 0;
}

// File capabilities stay behind, as set-user-ID does; the ACL goes by name,
// whether or not the list could be read.
void copy_extended_attributes(const FileHandle& from, const FileHandle& to)
{
    std::string names(kMaxAttributeBytes, '\0');
    const ssize_t length = ::flistxattr(from.descriptor(), names.data(), names.size());
    names.resize(static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
    std::string value(kMaxAttributeBytes, '\0');
    for (std::size_t start = 0; start < names.size();) {
        const std::size_t end = names.find('\0', start);
        const std::string name = names.substr(start, end - start);
        start = end == std::string::npos ? names.size() : end + 1;
        const bool skipped = name == "security.capability" || name == kAccessAclName;
        const ssize_t size = skipped ? -1 : ::fgetxattr(from.descriptor(), name.c_str(), value.data(), value.size());
        if (size >= 0) {
            (void)::fsetxattr(to.descriptor(), name.c_str(), value.data(), static_cast<std::size_t>(size), 0);
        }
    }
}

FileHandle duplicate(const FileHandle& file) { return FileHandle(::dup(file.descriptor())); }

}  // namespace quarnel
