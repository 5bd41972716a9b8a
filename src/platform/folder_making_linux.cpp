#include "platform/folder_making.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quarnel {
namespace fs = std::filesystem;

namespace {

struct Times {
    timespec both[2];
    explicit Times(std::int64_t seconds) : both{{seconds, 0}, {seconds, 0}} {}
};

}  // namespace

int make_directory(const Directory& directory, const fs::path& name, bool private_to_owner)
{
    const mode_t permissions = private_to_owner ? S_IRWXU : 0777;
    return ::mkdirat(directory.native_handle(), name.c_str(), permissions) == 0 ? 0 : -1;
}

int set_file_time(const FileHandle& file, std::int64_t seconds)
{
    const Times times(seconds);
    return ::futimens(file.descriptor(), times.both) == 0 ? 0 : -1;
}

int set_entry_time(const Directory& directory, const fs::path& name, std::int64_t seconds)
{
    const Times times(seconds);
    return ::utimensat(directory.native_handle(), name.c_str(), times.both, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : -1;
}

int move_without_replacing(const Directory& from_directory, const fs::path& from, const Directory& to_directory,
                           const fs::path& to)
{
    const int source = from_directory.native_handle();
    const int target = to_directory.native_handle();
    if (::renameat2(source, from.c_str(), target, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return -1;
    }
    // A file system that cannot refuse in the move (some FUSE ones): a name
    // that appears between the look and the move is the one race left.
    struct stat info {};
    if (::fstatat(target, to.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return -1;
    }
    if (errno != ENOENT) {
        return -1;
    }
    return ::renameat(source, from.c_str(), target, to.c_str()) == 0 ? 0 : -1;
}

void remove_directory_signal_safe(int directory, const fs::path::value_type* entry)
{
    (void)::unlinkat(directory, entry, AT_REMOVEDIR);
}

}  // namespace quarnel
