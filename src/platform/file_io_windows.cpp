#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include "platform/file_calls.h"
#include "platform/file_io.h"

namespace quarnel {

// A regular file alone is measurable here.
FileHandle open_measurable_source(const std::filesystem::path& path)
{
    FileHandle file(::_wopen(windows_path(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT));
    struct _stat64 info {};
    if (!file.is_open() || ::_fstat64(file.descriptor(), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) {
        return FileHandle();
    }
    return file;
}

FileHandle create_exclusive(const std::filesystem::path& path)
{
    return FileHandle(::_wopen(windows_path(path).c_str(), _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                               _S_IREAD | _S_IWRITE));
}

int sync_file(const FileHandle& file)
{
    const HANDLE handle = handle_of(file.descriptor());
    return handle != INVALID_HANDLE_VALUE && ::FlushFileBuffers(handle) != 0 ? 0 : -1;
}

int start_sync_file(const FileHandle& file) { return sync_file(file); }

}  // namespace quarnel
