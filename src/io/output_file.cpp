#ifdef _WIN32
#define _CRT_RAND_S  // rand_s
#endif

#include "io/output_file.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <string_view>

#include "io/interrupt.h"
#include "io/startup.h"

#ifdef _WIN32
#include <stdlib.h>
#else
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

namespace quarnel {
namespace fs = std::filesystem;

namespace {

// Linux gives up on a chain of more links than this (ELOOP).
constexpr int kMaxLinkHops = 40;
constexpr int kMaxNameAttempts = 64;

// Unpredictable bits for a temporary name, without exceptions: the system's
// source, else the clock well mixed. Creation is exclusive all the same.
std::uint64_t random_bits()
{
#ifdef _WIN32
    unsigned high = 0;
    unsigned low = 0;
    if (::rand_s(&high) == 0 && ::rand_s(&low) == 0) {
        return (std::uint64_t{high} << 32) | low;
    }
    const std::uint64_t process = 0;
#else
    std::uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits)) {
        return bits;
    }
    const auto process = static_cast<std::uint64_t>(::getpid());
#endif
    // Before the kernel's pool is ready: the clock, the process and a count, mixed.
    static std::uint64_t calls = 0;
    const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return (now ^ (process << 32) ^ ++calls) * 0x9E3779B97F4A7C15U;
}

// A name nobody can guess ahead of us.
std::string temporary_name()
{
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    constexpr std::uint64_t kLetters = sizeof kAlphabet - 1;
    constexpr int kLettersPerDraw = 8;
    std::string name = ".quarnel-";
    std::uint64_t bits = 0;
    for (int i = 0; i < 16; ++i) {
        if (i % kLettersPerDraw == 0) {
            bits = random_bits();
        }
        name += kAlphabet[bits % kLetters];
        bits /= kLetters;
    }
    name += ".tmp";
    return name;
}

#ifndef _WIN32

constexpr std::size_t kMaxLinkLength = 4096;
constexpr unsigned kPermissionBits = 0777;
constexpr std::size_t kMaxAttributeBytes = 65536;  // Linux's limit for a name list and for a value

struct PathParts {
    std::string directory;
    std::string name;
};

// "dir/name", "name" (in "."), "/name" (in "/"); a path ending in a separator has no name.
PathParts split(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {".", path};
    }
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// The kernel's protected_symlinks rule: in a sticky directory anyone may
// write, a link planted by another user is not followed.
bool may_follow_link(int directory, const struct stat& link)
{
    struct stat info {};
    if (::fstat(directory, &info) != 0) {
        return false;
    }
    const bool shared = (info.st_mode & S_ISVTX) != 0 && (info.st_mode & S_IWOTH) != 0;
    return !shared || link.st_uid == ::geteuid() || link.st_uid == info.st_uid;
}

[[nodiscard]] int read_link(int directory, const std::string& name, std::string& target)
{
    target.assign(kMaxLinkLength, '\0');
    const ssize_t length = ::readlinkat(directory, name.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) {
        return -1;
    }
    target.resize(static_cast<std::size_t>(length));
    return 0;
}

// The replaced file, opened only to read its extended attributes; closed when
// it cannot be read or is no longer the file looked at.
FileHandle open_replaced(int directory, const std::string& name, const struct stat& looked_at)
{
    FileHandle file(::openat(directory, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    const bool same = file.is_open() && ::fstat(file.descriptor(), &info) == 0 && info.st_dev == looked_at.st_dev &&
                      info.st_ino == looked_at.st_ino;
    return same ? std::move(file) : FileHandle();
}

// Best effort, as cp --preserve=all: ACLs are the attribute
// system.posix_acl_access. File capabilities stay behind, as set-user-ID does.
void copy_extended_attributes(int from, int to)
{
    std::string names(kMaxAttributeBytes, '\0');
    const ssize_t length = ::flistxattr(from, names.data(), names.size());
    names.resize(static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
    std::string value(kMaxAttributeBytes, '\0');
    for (std::size_t start = 0; start < names.size();) {
        const std::size_t end = names.find('\0', start);
        const std::string name = names.substr(start, end - start);
        start = end == std::string::npos ? names.size() : end + 1;
        const ssize_t size =
            name == "security.capability" ? -1 : ::fgetxattr(from, name.c_str(), value.data(), value.size());
        if (size >= 0) {
            (void)::fsetxattr(to, name.c_str(), value.data(), static_cast<std::size_t>(size), 0);
        }
    }
}

#endif

}  // namespace

OutputFile::~OutputFile() { discard(); }

int OutputFile::create(const fs::path& destination)
{
    if (find_target(destination) != 0) {
        return -1;
    }
    return create_temporary();
}

int OutputFile::append(std::span<const std::uint8_t> bytes) { return write_all(file_, bytes); }

int OutputFile::overwrite_start(std::span<const std::uint8_t> bytes)
{
    if (seek_to_start(file_) != 0) {
        return -1;
    }
    return write_all(file_, bytes);
}

#ifdef _WIN32

// The file a destination names once symbolic links are followed, also when
// the last link dangles: replacing it then creates the file it points to.
int OutputFile::find_target(const fs::path& destination)
{
    fs::path path = destination;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(path, error))) {
            break;
        }
        const fs::path target = fs::read_symlink(path, error);
        if (error) {
            break;
        }
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    target_ = path;
    if (target_.filename().empty()) {
        return -1;  // "" or a path ending in a separator names no file
    }
    std::error_code error;
    const fs::file_status status = fs::status(target_, error);
    if (fs::exists(status)) {
        const fs::perms permissions = status.permissions();
        if (!fs::is_regular_file(status) || (permissions & fs::perms::owner_write) == fs::perms::none) {
            return -1;
        }
        kept_permissions_ = static_cast<unsigned>(permissions & fs::perms::all);
    } else if (status.type() != fs::file_type::not_found) {
        return -1;
    }
    return 0;
}

int OutputFile::create_temporary()
{
    const fs::path directory = target_.parent_path();
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        fs::path candidate = directory / temporary_name();
        const InterruptsHeld held;
        FileHandle file = create_exclusive(candidate);
        if (!file.is_open()) {
            if (errno == EEXIST) {
                continue;
            }
            return -1;
        }
        file_ = std::move(file);
        temporary_ = std::move(candidate);
        return register_file_to_remove(-1, temporary_, file_.descriptor());
    }
    return -1;
}

int OutputFile::pass_on_attributes()
{
    if (!kept_permissions_) {
        return 0;
    }
    std::error_code error;
    fs::permissions(temporary_, static_cast<fs::perms>(*kept_permissions_), fs::perm_options::replace, error);
    return error ? -1 : 0;
}

int OutputFile::commit()
{
    if (pass_on_attributes() != 0 || sync_data(file_) != 0 || file_.close() != 0) {
        return -1;
    }
    InterruptsHeld held;
    std::error_code error;
    fs::rename(temporary_, target_, error);
    if (error) {
        return -1;
    }
    unregister_file_to_remove();
    temporary_.clear();
    held.keep_until_exit();
    return 0;
}

void OutputFile::discard()
{
    if (temporary_.empty()) {
        return;
    }
    const InterruptsHeld held;
    (void)file_.close();  // the file goes anyway
    std::error_code error;
    fs::remove(temporary_, error);
    unregister_file_to_remove();
    temporary_.clear();
}

#else

// Works from the destination's directory alone, so that any path the system
// accepts works, however close to PATH_MAX, and follows links by hand.
int OutputFile::find_target(const fs::path& destination)
{
    FileHandle base;  // where a relative link points from; closed: the working directory
    std::string path = destination.native();
    for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
        const PathParts parts = split(path);
        if (parts.name.empty()) {
            return -1;  // "" or a path ending in a separator names no file
        }
        FileHandle directory(::openat(base.is_open() ? base.descriptor() : AT_FDCWD, parts.directory.c_str(),
                                      O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!directory.is_open()) {
            return -1;
        }
        struct stat entry {};
        if (::fstatat(directory.descriptor(), parts.name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) {
                return -1;
            }
            directory_ = std::move(directory);
            target_ = parts.name;
            return 0;
        }
        if (S_ISLNK(entry.st_mode)) {
            if (!may_follow_link(directory.descriptor(), entry) ||
                read_link(directory.descriptor(), parts.name, path) != 0) {
                return -1;
            }
            base = std::move(directory);
            continue;
        }
        if (!S_ISREG(entry.st_mode) || ::faccessat(directory.descriptor(), parts.name.c_str(), W_OK, AT_EACCESS) != 0) {
            return -1;
        }
        // Read, write and execute bits only: set-user-ID and the like do not pass to new contents.
        kept_permissions_ = static_cast<unsigned>(entry.st_mode) & kPermissionBits;
        kept_owner_ = entry.st_uid;
        kept_group_ = entry.st_gid;
        replaced_ = open_replaced(directory.descriptor(), parts.name, entry);
        directory_ = std::move(directory);
        target_ = parts.name;
        return 0;
    }
    return -1;
}

int OutputFile::create_temporary()
{
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        std::string name = temporary_name();
        const InterruptsHeld held;
        // Private until commit() gives it its final permissions.
        FileHandle file(::openat(directory_.descriptor(), name.c_str(),
                                 O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR));
        if (!file.is_open()) {
            if (errno == EEXIST) {
                continue;
            }
            return -1;
        }
        file_ = std::move(file);
        temporary_ = std::move(name);
        return register_file_to_remove(directory_.descriptor(), temporary_, file_.descriptor());
    }
    return -1;
}

int OutputFile::pass_on_attributes()
{
    const int descriptor = file_.descriptor();
    unsigned permissions = kept_permissions_.value_or(new_file_permissions());
    if (kept_owner_ && kept_group_) {
        // The replacement takes the old file's owner and group when root runs
        // quarnel; another user can give it only the group, and only one they belong to.
        if (::fchown(descriptor, *kept_owner_, *kept_group_) != 0) {
            (void)::fchown(descriptor, static_cast<uid_t>(-1), *kept_group_);
        }
        struct stat info {};
        if (::fstat(descriptor, &info) != 0) {
            return -1;
        }
        if (info.st_gid != *kept_group_) {
            permissions &= ~static_cast<unsigned>(S_IRWXG);  // the old group's rights are not another group's
        }
        if (replaced_.is_open()) {
            copy_extended_attributes(replaced_.descriptor(), descriptor);
        }
    }
    return ::fchmod(descriptor, static_cast<mode_t>(permissions)) == 0 ? 0 : -1;
}

int OutputFile::commit()
{
    if (pass_on_attributes() != 0 || sync_data(file_) != 0 || file_.close() != 0) {
        return -1;
    }
    InterruptsHeld held;
    if (::renameat(directory_.descriptor(), temporary_.c_str(), directory_.descriptor(), target_.c_str()) != 0) {
        return -1;  // the hold ends: a signal that came meanwhile is acted on now
    }
    unregister_file_to_remove();
    temporary_.clear();
    held.keep_until_exit();
    return 0;
}

void OutputFile::discard()
{
    if (temporary_.empty()) {
        return;
    }
    const InterruptsHeld held;
    (void)file_.close();  // the file goes anyway
    (void)::unlinkat(directory_.descriptor(), temporary_.c_str(), 0);
    unregister_file_to_remove();
    temporary_.clear();
}

#endif

}  // namespace quarnel
