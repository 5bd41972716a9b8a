#include "platform/folder_listing.h"

#include "platform/platform.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#elif defined(__linux__)
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstring>
#include <memory>

namespace quarnel {
namespace fs = std::filesystem;

namespace {

#ifdef _WIN32

// A path every call takes however long: absolute, with the \\?\ prefix.
std::wstring extended(const fs::path& path)
{
    std::error_code error;
    const std::wstring full = fs::absolute(path, error).make_preferred().wstring();
    if (error || full.starts_with(L"\\\\?\\")) {
        return path.wstring();
    }
    return full.starts_with(L"\\\\") ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
}

// FILETIME counts 100 ns from 1601; the epoch is 11644473600 s later.
void set_time(FileState& state, FILETIME time)
{
    constexpr std::int64_t kTicksPerSecond = 10'000'000;
    constexpr std::int64_t kEpochSeconds = 11'644'473'600;
    const auto ticks = static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
    state.modified = ticks / kTicksPerSecond - kEpochSeconds;
    state.modified_nanoseconds = static_cast<std::uint32_t>(ticks % kTicksPerSecond) * 100;
}

FileState state_of(const BY_HANDLE_FILE_INFORMATION& info)
{
    FileState state;
    state.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    set_time(state, info.ftLastWriteTime);
    state.device = info.dwVolumeSerialNumber;
    state.inode = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    return state;
}

#elif defined(__linux__)

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

#endif

// The last name of the absolute path, `..` and `.` taken away as written.
fs::path lexical_name(const fs::path& folder)
{
    std::error_code error;
    fs::path normal = fs::absolute(folder, error).lexically_normal();
    if (!normal.has_filename()) {
        normal = normal.parent_path();  // "/a/b/" is "/a/b"; a root stays itself
    }
    return normal.filename();
}

}  // namespace

int list_directory(const Directory& directory, std::vector<FolderItem>& items)
{
#ifdef _WIN32
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileExW(extended(directory.entry("*")).c_str(), FindExInfoBasic, &found,
                                       FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) {
        return -1;
    }
    do {
        const std::wstring_view name(found.cFileName);
        if (name == L"." || name == L"..") {
            continue;
        }
        FolderItem item;
        item.name = std::wstring(name);
        const DWORD attributes = found.dwFileAttributes;
        item.kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? FolderItem::Kind::Other
                    : (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0   ? FolderItem::Kind::Directory
                                                                     : FolderItem::Kind::File;
        item.state.size = (std::uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow;
        set_time(item.state, found.ftLastWriteTime);
        items.push_back(std::move(item));
    } while (::FindNextFileW(search, &found) != 0);
    const bool complete = ::GetLastError() == ERROR_NO_MORE_FILES;
    ::FindClose(search);
    return complete ? 0 : -1;
#elif defined(__linux__)
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
#endif
}

FileHandle open_in_directory(const Directory& directory, const fs::path& name, FileState& state)
{
#ifdef _WIN32
    FileHandle file(::_wopen(extended(directory.entry(name)).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT));
    if (!file.is_open() || read_file_state(file, state) != 0) {
        return FileHandle();
    }
    return file;
#elif defined(__linux__)
    // Not blocking on a FIFO put in the file's place since it was looked at.
    FileHandle file(
        ::openat(directory.native_handle(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (!file.is_open() || ::fstat(file.descriptor(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return FileHandle();
    }
    state = state_of(info);
    return file;
#endif
}

int check_readable(const Directory& directory, const fs::path& name, FileState& state)
{
#ifdef _WIN32
    FileState now;
    if (!open_in_directory(directory, name, now).is_open()) {
        return -1;
    }
    state = now;  // the listing tells no identity here
    return 0;
#elif defined(__linux__)
    (void)state;  // the listing told all of it
    // The effective IDs, as open() uses; one call where an open would take three.
    return ::faccessat(directory.native_handle(), name.c_str(), R_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) == 0 ? 0 : -1;
#endif
}

int read_file_state(const FileHandle& file, FileState& state)
{
#ifdef _WIN32
    BY_HANDLE_FILE_INFORMATION info{};
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the C runtime hands the handle over as an integer.
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(file.descriptor()));
    if (::GetFileInformationByHandle(handle, &info) == 0) {
        return -1;
    }
    state = state_of(info);
    return 0;
#elif defined(__linux__)
    struct stat info {};
    if (::fstat(file.descriptor(), &info) != 0) {
        return -1;
    }
    state = state_of(info);
    return 0;
#endif
}

int read_path_state(const fs::path& path, FileState& state)
{
#ifdef _WIN32
    // Backup semantics: a directory opens too, with no right to read it.
    HANDLE handle = ::CreateFileW(extended(path).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = ::GetFileInformationByHandle(handle, &info) != 0;
    ::CloseHandle(handle);
    if (!known) {
        return -1;
    }
    state = state_of(info);
    return 0;
#elif defined(__linux__)
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return -1;
    }
    state = state_of(info);
    return 0;
#endif
}

int read_entry_state(const Directory& directory, const fs::path& name, FileState& state)
{
#ifdef _WIN32
    return read_path_state(directory.entry(name), state);
#elif defined(__linux__)
    struct stat info {};
    if (::fstatat(directory.native_handle(), name.c_str(), &info, 0) != 0) {
        return -1;
    }
    state = state_of(info);
    return 0;
#endif
}

fs::path folder_name(const fs::path& folder)
{
#ifdef _WIN32
    // The final path, as the system resolved it: "\\?\C:\Users\Me\Drivers".
    HANDLE handle = ::CreateFileW(extended(folder).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return lexical_name(folder);
    }
    std::wstring path(MAX_PATH, L'\0');
    DWORD length = ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                               FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length >= path.size()) {
        path.resize(length);  // the size asked for, the terminating zero included
        length = ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    ::CloseHandle(handle);
    if (length == 0 || length >= path.size()) {
        return lexical_name(folder);
    }
    path.resize(length);
    // Without its prefix the path parses as any other: "C:\" names no folder, "UNC\server\share" its share.
    const std::wstring_view prefix = L"\\\\?\\";
    return fs::path(path.starts_with(prefix) ? path.substr(prefix.size()) : path).filename();
#elif defined(__linux__)
    std::error_code error;
    const fs::path real = fs::canonical(folder, error);
    return error ? lexical_name(folder) : real.filename();
#endif
}

}  // namespace quarnel
