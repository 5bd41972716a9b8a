#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/folder_listing.h"

namespace quarnel {
namespace fs = std::filesystem;

namespace {

FileState state_of(const struct stat& info)
{
    return {static_cast<std::uint64_t>(info.st_size), static_cast<std::int64_t>(info.st_mtim.tv_sec),
            static_cast<std::uint32_t>(info.st_mtim.tv_nsec), static_cast<std::uint64_t>(info.st_dev),
            static_cast<std::uint64_t>(info.st_ino)};
}

FolderItem::Kind kind_of(mode_t mode)
{
    return S_ISREG(mode)   ? FolderItem::Kind::File
           : S_ISDIR(mode) ? FolderItem::Kind::Directory
                           : FolderItem::Kind::Other;
}

struct DirectoryCloser {
    void operator()(DIR* stream) const { (void)::closedir(stream); }
};

}  // namespace

int list_directory(const Directory& directory, std::vector<FolderItem>& items)
{
    const int descriptor = ::openat(directory.native_handle(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) {
        return -1;
    }
    const std::unique_ptr<DIR, DirectoryCloser> stream(::fdopendir(descriptor));
    if (!stream) {
        (void)::close(descriptor);
        return -1;
    }
    errno = 0;
    while (const dirent* found = ::readdir(stream.get())) {
        const char* name = found->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
            continue;
        }
        FolderItem item;
        item.name = name;
        struct stat info {};
        if (::fstatat(::dirfd(stream.get()), name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
            item.kind = kind_of(info.st_mode);
            item.state = state_of(info);
        }
        items.push_back(std::move(item));
        errno = 0;
    }
    return errno == 0 ? 0 : -1;
}

FileHandle open_in_directory(const Directory& directory, const fs::path& name, FileState& state)
{
    // Not blocking on a FIFO put in the file's place since it was looked at.
    FileHandle file(
        ::openat(directory.native_handle(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (!file.is_open() || ::fstat(file.descriptor(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return FileHandle();
    }
    state = state_of(info);
    return file;
}

// The listing told all of `state`.
int check_readable(const Directory& directory, const fs::path& name, FileState& /*state*/)
{
    // The effective IDs, as open() uses; one call where an open would take three.
    return ::faccessat(directory.native_handle(), name.c_str(), R_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) == 0 ? 0 : -1;
}

int read_file_state(const FileHandle& file, FileState& state)
{
    struct stat info {};
    if (::fstat(file.descriptor(), &info) != 0) {
        return -1;
    }
    state = state_of(info);
    return 0;
}

int read_path_state(const fs::path& path, FileState& state)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return -1;
    }
    state = state_of(info);
    return 0;
}

int read_entry_state(const Directory& directory, const fs::path& name, FileState& state)
{
    struct stat info {};
    if (::fstatat(directory.native_handle(), name.c_str(), &info, 0) != 0) {
        return -1;
    }
    state = state_of(info);
    return 0;
}

fs::path folder_name(const fs::path& folder)
{
    std::error_code error;
    const fs::path real = fs::canonical(folder, error);
    return error ? lexical_folder_name(folder) : real.filename();
}

}  // namespace quarnel
