#include "platform/directory.h"

#include <cerrno>
#include <string>

#include "platform/platform.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#elif defined(__linux__)
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

namespace quarnel {
namespace fs = std::filesystem;

namespace {

// Linux's limit for a link's target.
constexpr std::size_t kMaxLinkLength = 4096;
constexpr unsigned kPermissionBits = 0777;

#ifdef __linux__

constexpr unsigned kLookedAt = STATX_TYPE | STATX_MODE | STATX_UID | STATX_GID | STATX_INO;
constexpr std::uint64_t kLockedAttributes = STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE;

// What the kernel's protected_symlinks and protected_regular rules let the
// caller follow or replace in a directory: in a sticky directory anyone may
// write, only what belongs to the caller or to the directory's owner.
bool is_trusted_in(int directory, std::optional<unsigned> owner)
{
    struct stat info {};
    if (::fstat(directory, &info) != 0) {
        return false;
    }
    const bool shared = (info.st_mode & S_ISVTX) != 0 && (info.st_mode & S_IWOTH) != 0;
    return !shared || owner == ::geteuid() || owner == info.st_uid;
}

#endif

}  // namespace

std::optional<Directory> Directory::open_directory(const fs::path& path) const
{
    Directory opened;
#ifdef _WIN32
    opened.path_ = path_ / path;
#elif defined(__linux__)
    // O_PATH: a handle to name things by, that needs no right to read the directory.
    opened.handle_ = FileHandle(::openat(native_handle(), path.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
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

// symlink_status on Windows; statx, which also tells the owner, the group,
// the file's identity and whether it is append-only or immutable, on Linux.
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
    struct statx info {};
    if (::statx(native_handle(), name.c_str(), AT_SYMLINK_NOFOLLOW, kLookedAt, &info) != 0) {
        found.kind = errno == ENOENT ? Kind::Missing : Kind::Unreadable;
        return found;
    }
    found.kind = S_ISLNK(info.stx_mode) ? Kind::Link : S_ISREG(info.stx_mode) ? Kind::Regular : Kind::Other;
    found.permissions = static_cast<unsigned>(info.stx_mode) & kPermissionBits;
    found.owner = info.stx_uid;
    found.group = info.stx_gid;
    found.device = makedev(info.stx_dev_major, info.stx_dev_minor);
    found.inode = info.stx_ino;
    found.locked = (info.stx_attributes & kLockedAttributes) != 0;
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
    return is_trusted_in(native_handle(), link.owner);
#endif
}

bool Directory::may_replace(const DirectoryEntry& file) const
{
#ifdef _WIN32
    (void)file;
    return true;
#elif defined(__linux__)
    return is_trusted_in(native_handle(), file.owner);
#endif
}

// Not known to be locked when the question cannot be asked: the rename then tells.
bool Directory::is_locked() const
{
#ifdef _WIN32
    return false;
#elif defined(__linux__)
    struct statx info {};
    return ::statx(native_handle(), "", AT_EMPTY_PATH, STATX_TYPE, &info) == 0 &&
           (info.stx_attributes & kLockedAttributes) != 0;
#endif
}

FileHandle Directory::create_exclusive(const fs::path& name, bool as_any_new_file) const
{
#ifdef _WIN32
    (void)as_any_new_file;  // Windows has no permission bits beyond read-only
    return quarnel::create_exclusive(entry(name));
#elif defined(__linux__)
    // O_NOFOLLOW: a link planted under the name is refused, never written through.
    const mode_t permissions = as_any_new_file ? 0666 : S_IRUSR | S_IWUSR;
    return FileHandle(
        ::openat(native_handle(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, permissions));
#endif
}

FileHandle Directory::create_unnamed() const
{
#ifdef _WIN32
    errno = EOPNOTSUPP;
    return FileHandle();
#elif defined(__linux__)
    // O_EXCL: it can never be given a name.
    FileHandle file(::openat(native_handle(), ".", O_RDWR | O_TMPFILE | O_EXCL | O_CLOEXEC, 0666));
    if (!file.is_open() && errno == EISDIR) {
        errno = EOPNOTSUPP;  // what a kernel that does not know O_TMPFILE says
    }
    return file;
#endif
}

// On Windows the move returns only once it is on the disk.
int Directory::rename(const fs::path& from, const fs::path& to) const
{
#ifdef _WIN32
    constexpr DWORD kFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    return ::MoveFileExW(entry(from).c_str(), entry(to).c_str(), kFlags) != 0 ? 0 : -1;
#elif defined(__linux__)
    return ::renameat(native_handle(), from.c_str(), native_handle(), to.c_str()) == 0 ? 0 : -1;
#endif
}

// An O_PATH descriptor cannot be flushed: the directory is opened again, for
// reading; where the caller may not read it, the file system is flushed
// through the file.
int Directory::flush(const fs::path& name) const
{
#ifdef _WIN32
    (void)name;
    return 0;
#elif defined(__linux__)
    const FileHandle directory(::openat(native_handle(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.is_open()) {
        return ::fsync(directory.descriptor()) == 0 ? 0 : -1;
    }
    if (errno != EACCES) {
        return -1;
    }
    for (const int access : {O_RDONLY, O_WRONLY}) {
        const FileHandle file(
            ::openat(native_handle(), name.c_str(), access | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (file.is_open()) {
            return ::syncfs(file.descriptor()) == 0 ? 0 : -1;
        }
    }
    return -1;
#endif
}

void remove_entry_signal_safe(int directory, const fs::path::value_type* entry)
{
#ifdef _WIN32
    (void)directory;
    (void)::_wunlink(entry);
#elif defined(__linux__)
    (void)::unlinkat(directory, entry, 0);
#endif
}

}  // namespace quarnel
