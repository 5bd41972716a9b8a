#include "platform/folder_making.h"

#include <cerrno>

#include <io.h>
#include <windows.h>

namespace quarnel {
namespace fs = std::filesystem;

namespace {

// FILETIME counts 100 ns from 1601-01-01, 11,644,473,600 s before the epoch.
FILETIME file_time(std::int64_t seconds)
{
    const auto ticks = static_cast<std::uint64_t>((seconds + 11644473600) * 10000000);
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

int set_handle_time(HANDLE handle, std::int64_t seconds)
{
    const FILETIME time = file_time(seconds);
    return ::SetFileTime(handle, nullptr, &time, &time) != 0 ? 0 : -1;
}

// errno as the callers test it.
int failed()
{
    const DWORD error = ::GetLastError();
    errno = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? EEXIST : EIO;
    return -1;
}

}  // namespace

int make_directory(const Directory& directory, const fs::path& name, bool /*private_to_owner*/)
{
    // Windows: what the parent passes on; the folder is made below one of the caller's own.
    return ::CreateDirectoryW(directory.entry(name).c_str(), nullptr) != 0 ? 0 : failed();
}

int set_file_time(const FileHandle& file, std::int64_t seconds)
{
    return set_handle_time(reinterpret_cast<HANDLE>(::_get_osfhandle(file.descriptor())), seconds);
}

int set_entry_time(const Directory& directory, const fs::path& name, std::int64_t seconds)
{
    const HANDLE handle = ::CreateFileW(directory.entry(name).c_str(), FILE_WRITE_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return -1;
    }
    const int result = set_handle_time(handle, seconds);
    ::CloseHandle(handle);
    return result;
}

int move_without_replacing(const Directory& from_directory, const fs::path& from, const Directory& to_directory,
                           const fs::path& to)
{
    // Without MOVEFILE_REPLACE_EXISTING the move refuses a name that exists.
    return ::MoveFileExW(from_directory.entry(from).c_str(), to_directory.entry(to).c_str(), MOVEFILE_WRITE_THROUGH) !=
                   0
               ? 0
               : failed();
}

void remove_directory_signal_safe(int /*directory*/, const fs::path::value_type* entry)
{
    (void)::RemoveDirectoryW(entry);
}

}  // namespace quarnel
