#include "io/directory.h"

#include <cerrno>
#include <string>

#include "io/platform.h"

#ifdef __linux__
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quarnel {
namespace fs = std::filesystem;

namespace {

// Linux's limit for a link's target.
constexpr std::size_t kMaxLinkLength = 4096;
constexpr unsigned kPermissionBits = 0777;

}  // namespace

std::optional<Directory> Directory::open_directory(const fs::path& path) const
{
    Directory opened;
#ifdef _WIN32
    opened.path_ = path_ / path;
#elif defined(__linux__)
    // O_PATH: a handle to name things by, that needs no right to read the directory.
    opened.handle_ = FileHandle(::openat(native_handle(), path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!opened.handle_.is_open()) {
        return std::nullopt;
    }
#endif
    return opened;
}

int Directory::native_handle() const
{
#ifdef _WIN32
    return -1;
#elif defined(__linux__)
    return handle_.is_open() ? handle_.descriptor() : AT_FDCWD;
#endif
}

// On Linux the path stays empty and the name is what stays.
fs::path Directory::entry(const fs::path& name) const { return path_ / name; }

// symlink_status on Windows; fstatat, which also tells the owner, the group
// and the file's identity, on Linux.
DirectoryEntry Directory::look_at(const fs::path& name) const
{
    using Kind = DirectoryEntry::Kind;
    DirectoryEntry found;
#ifdef _WIN32
    std::error_code error;
    const fs::file_status status = fs::symlink_status(entry(name), error);
    const fs::file_type type = status.type();
    found.kind = type == fs::file_type::not_found ? Kind::Missing
                 : type == fs::file_type::symlink ? Kind::Link
                 : type == fs::file_type::regular ? Kind::Regular
                 : type == fs::file_type::none    ? Kind::Unreadable
                                                  : Kind::Other;
    found.permissions = static_cast<unsigned>(status.permissions() & fs::perms::all);
#elif defined(__linux__)
    struct stat info {};
    if (::fstatat(native_handle(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        found.kind = errno == ENOENT ? Kind::Missing : Kind::Unreadable;
        return found;
    }
    found.kind = S_ISLNK(info.st_mode) ? Kind::Link : S_ISREG(info.st_mode) ? Kind::Regular : Kind::Other;
    found.permissions = static_cast<unsigned>(info.st_mode) & kPermissionBits;
    found.owner = info.st_uid;
    found.group = info.st_gid;
    found.device = info.st_dev;
    found.inode = info.st_ino;
#endif
    return found;
}

int Directory::read_link(const fs::path& name, fs::path& target) const
{
#ifdef _WIN32
    std::error_code error;
    target = fs::read_symlink(entry(name), error);
    return error ? -1 : 0;
#elif defined(__linux__)
    std::string text(kMaxLinkLength, '\0');
    const ssize_t length = ::readlinkat(native_handle(), name.c_str(), text.data(), text.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= text.size()) {
        return -1;
    }
    text.resize(static_cast<std::size_t>(length));
    target = std::move(text);
    return 0;
#endif
}

bool Directory::may_write(const fs::path& name, const DirectoryEntry& file) const
{
#ifdef _WIN32
    (void)name;
    return (file.permissions & static_cast<unsigned>(fs::perms::owner_write)) != 0;
#elif defined(__linux__)
    (void)file;
    return ::faccessat(native_handle(), name.c_str(), W_OK, AT_EACCESS) == 0;
#endif
}

bool Directory::may_follow_link(const DirectoryEntry& link) const
{
#ifdef _WIN32
    (void)link;
    return true;
#elif defined(__linux__)
    struct stat info {};
    if (::fstat(native_handle(), &info) != 0) {
        return false;
    }
    const bool shared = (info.st_mode & S_ISVTX) != 0 && (info.st_mode & S_IWOTH) != 0;
    return !shared || link.owner == ::geteuid() || link.owner == info.st_uid;
#endif
}

FileHandle Directory::create_exclusive(const fs::path& name) const
{
#ifdef _WIN32
    return quarnel::create_exclusive(entry(name));
#elif defined(__linux__)
    // O_NOFOLLOW: a link planted under the name is refused, never written through.
    return FileHandle(
        ::openat(native_handle(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR));
#endif
}

int Directory::rename(const fs::path& from, const fs::path& to) const
{
#ifdef _WIN32
    std::error_code error;
    fs::rename(entry(from), entry(to), error);
    return error ? -1 : 0;
#elif defined(__linux__)
    return ::renameat(native_handle(), from.c_str(), native_handle(), to.c_str()) == 0 ? 0 : -1;
#endif
}

}  // namespace quarnel
