#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_io.h"

namespace quarnel {

// A block device is measurable too; opened non-blocking, so that a FIFO
// without a writer cannot hold the open, and blocking again once it is known
// to be neither.
FileHandle open_measurable_source(const std::filesystem::path& path)
{
    FileHandle file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (!file.is_open() || ::fstat(file.descriptor(), &info) != 0 ||
        !(S_ISREG(info.st_mode) || S_ISBLK(info.st_mode))) {
        return FileHandle();
    }
    const int flags = ::fcntl(file.descriptor(), F_GETFL);
    if (flags < 0 || ::fcntl(file.descriptor(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return FileHandle();
    }
    return file;
}

// O_NOFOLLOW: a link planted under the name is refused, never written through.
FileHandle create_exclusive(const std::filesystem::path& path)
{
    return FileHandle(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR));
}

int sync_file(const FileHandle& file) { return ::fsync(file.descriptor()) == 0 ? 0 : -1; }

// Advice alone: whether or not it starts anything, the flush of the whole
// file system that follows is what makes the file durable.
int start_sync_file(const FileHandle& file)
{
    (void)::sync_file_range(file.descriptor(), 0, 0, SYNC_FILE_RANGE_WRITE);
    return 0;
}

}  // namespace quarnel
