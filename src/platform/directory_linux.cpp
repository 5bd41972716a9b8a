#include "platform/directory.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace quarnel {
namespace fs = std::filesystem;

namespace {

// Linux's limit for a link's target.
constexpr std::size_t kMaxLinkLength = 4096;
constexpr unsigned kPermissionBits = 0777;
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

// CAP_FOWNER, which lifts the sticky rule for the caller.
bool may_act_as_any_owner()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> data{};
    return ::syscall(SYS_capget, &header, data.data()) == 0 && (data[0].effective & (1U << CAP_FOWNER)) != 0;
}

// File systems where two spellings of a name may be one file that two
// lookups do not show as one: those that ignore case, FUSE (whose inode
// numbers may belong to the spelling looked up) and SMB; and a casefolded
// ext4 or f2fs directory (chattr +F).
bool may_ignore_case(int directory)
{
    constexpr long kNtfsMagic = 0x5346544e;  // ntfs3 and the old ntfs
    struct statfs system {};
    if (::fstatfs(directory, &system) != 0) {
        return true;
    }
    const std::array<long, 7> types = {MSDOS_SUPER_MAGIC, EXFAT_SUPER_MAGIC, kNtfsMagic,     FUSE_SUPER_MAGIC,
                                       CIFS_SUPER_MAGIC,  SMB2_SUPER_MAGIC,  SMB_SUPER_MAGIC};
    if (std::find(types.begin(), types.end(), static_cast<long>(system.f_type)) != types.end()) {
        return true;
    }
    const FileHandle opened(::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    int flags = 0;  // an int, whatever the ioctl's definition says
    return opened.is_open() && ::ioctl(opened.descriptor(), FS_IOC_GETFLAGS, &flags) == 0 &&
           (static_cast<unsigned>(flags) & FS_CASEFOLD_FL) != 0;
}

// The path the kernel knows an open descriptor by, links resolved; empty
// when it cannot tell.
std::string path_of(int descriptor)
{
    const std::string link =
        descriptor == AT_FDCWD ? std::string("/proc/self/cwd") : "/proc/self/fd/" + std::to_string(descriptor);
    std::string text(kMaxLinkLength, '\0');
    const ssize_t length = ::readlink(link.c_str(), text.data(), text.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= text.size()) {
        return {};
    }
    text.resize(static_cast<std::size_t>(length));
    return text;
}

// Equal but for the case of ASCII letters; a character beyond ASCII matches
// any other, since how the file system folds those is not known here.
bool equal_ignoring_case(std::string_view a, std::string_view b)
{
    const auto is_continuation = [](char c) { return (static_cast<unsigned char>(c) & 0xC0U) == 0x80U; };
    const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const bool wide = static_cast<unsigned char>(a[i]) >= 0x80U;
        if (wide != (static_cast<unsigned char>(b[j]) >= 0x80U) || (!wide && fold(a[i]) != fold(b[j]))) {
            return false;
        }
        ++i;
        ++j;
        while (wide && i < a.size() && is_continuation(a[i])) {
            ++i;
        }
        while (wide && j < b.size() && is_continuation(b[j])) {
            ++j;
        }
    }
    return i == a.size() && j == b.size();
}

}  // namespace

std::optional<Directory> Directory::open_directory(const fs::path& path) const
{
    Directory opened;
    // O_PATH: a handle to name things by, that needs no right to read the directory.
    opened.handle_ = FileHandle(::openat(native_handle(), path.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!opened.handle_.is_open()) {
        return std::nullopt;
    }
    return opened;
}

int Directory::native_handle() const { return handle_.is_open() ? handle_.descriptor() : AT_FDCWD; }

// Names are relative to the descriptor: the path stays empty, and the name is what stays.
fs::path Directory::entry(const fs::path& name) const { return path_ / name; }

// statx, which also tells the owner, the group, the file's identity and
// whether it is append-only or immutable.
DirectoryEntry Directory::look_at(const fs::path& name) const
{
    using Kind = DirectoryEntry::Kind;
    DirectoryEntry found;
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
    return found;
}

int Directory::read_link(const fs::path& name, fs::path& target) const
{
    std::string text(kMaxLinkLength, '\0');
    const ssize_t length = ::readlinkat(native_handle(), name.c_str(), text.data(), text.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= text.size()) {
        return -1;
    }
    text.resize(static_cast<std::size_t>(length));
    target = std::move(text);
    return 0;
}

bool Directory::may_write(const fs::path& name, const DirectoryEntry& /*file*/) const
{
    return ::faccessat(native_handle(), name.c_str(), W_OK, AT_EACCESS) == 0;
}

bool Directory::may_follow_link(const DirectoryEntry& link) const { return is_trusted_in(native_handle(), link.owner); }

bool Directory::may_replace(const DirectoryEntry& file) const
{
    if (!is_trusted_in(native_handle(), file.owner)) {
        return false;
    }
    // Any sticky directory: only its owner, the file's, or one who may act
    // as any file's owner renames over another's file (EPERM after the whole
    // image was written, else).
    struct stat info {};
    return ::fstat(native_handle(), &info) != 0 || (info.st_mode & S_ISVTX) == 0 || file.owner == ::geteuid() ||
           file.owner == info.st_uid || may_act_as_any_owner();
}

// Not known to be locked when the question cannot be asked: the rename then tells.
bool Directory::is_locked() const
{
    struct statx info {};
    return ::statx(native_handle(), "", AT_EMPTY_PATH, STATX_TYPE, &info) == 0 &&
           (info.stx_attributes & kLockedAttributes) != 0;
}

bool Directory::holds(const fs::path& name, const DirectoryEntry& looked_at, const FileHandle& file) const
{
    if (looked_at.kind == DirectoryEntry::Kind::Missing || looked_at.kind == DirectoryEntry::Kind::Unreadable) {
        return false;  // nothing there to lose, or nothing the run could replace
    }
    struct stat held {};
    if (::fstat(file.descriptor(), &held) != 0) {
        return true;
    }
    if (held.st_dev == looked_at.device && held.st_ino == looked_at.inode) {
        return true;
    }
    if (looked_at.kind == DirectoryEntry::Kind::Other) {
        // Two nodes of one device open the same disc, whatever their inodes.
        struct stat found {};
        return ::fstatat(native_handle(), name.c_str(), &found, AT_SYMLINK_NOFOLLOW) == 0 &&
               ((S_ISBLK(held.st_mode) && S_ISBLK(found.st_mode)) ||
                (S_ISCHR(held.st_mode) && S_ISCHR(found.st_mode))) &&
               held.st_rdev == found.st_rdev;
    }
    if (held.st_dev != looked_at.device || !may_ignore_case(native_handle())) {
        return false;
    }
    const std::string held_path = path_of(file.descriptor());
    const std::string directory_path = path_of(native_handle());
    if (held_path.empty() || directory_path.empty()) {
        return true;
    }
    return equal_ignoring_case(held_path, (fs::path(directory_path) / name).native());
}

FileHandle Directory::create_exclusive(const fs::path& name, bool as_any_new_file) const
{
    // O_NOFOLLOW: a link planted under the name is refused, never written through.
    const mode_t permissions = as_any_new_file ? 0666 : S_IRUSR | S_IWUSR;
    return FileHandle(
        ::openat(native_handle(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, permissions));
}

FileHandle Directory::create_unnamed() const
{
    // O_EXCL: it can never be given a name.
    FileHandle file(::openat(native_handle(), ".", O_RDWR | O_TMPFILE | O_EXCL | O_CLOEXEC, 0666));
    if (!file.is_open() && errno == EISDIR) {
        errno = EOPNOTSUPP;  // what a kernel that does not know O_TMPFILE says
    }
    return file;
}

int Directory::rename(const fs::path& from, const fs::path& to) const
{
    return ::renameat(native_handle(), from.c_str(), native_handle(), to.c_str()) == 0 ? 0 : -1;
}

// An O_PATH descriptor cannot be flushed: the directory is opened again, for
// reading; where the caller may not read it, the file system is flushed
// through the file.
int Directory::flush(const fs::path& name) const
{
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
}

int Directory::flush_file_system() const
{
    const FileHandle directory(::openat(native_handle(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return directory.is_open() && ::syncfs(directory.descriptor()) == 0 ? 0 : -1;
}

void remove_entry_signal_safe(int directory, const fs::path::value_type* entry)
{
    (void)::unlinkat(directory, entry, 0);
}

}  // namespace quarnel
