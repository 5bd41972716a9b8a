#include "platform/folder_scan.h"

#include "platform/platform.h"

#ifdef __linux__
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <windows.h>
#endif

namespace quarnel {

namespace {

std::string joined(const std::string& path, const std::string& name) { return path.empty() ? name : path + "/" + name; }

[[nodiscard]] int fail(ScanFailure& failure, ScanFault fault, std::string path, int error)
{
    failure = {fault, std::move(path), error};
    return -1;
}

// The folder's own name, whether given with a trailing separator or as ".".
std::filesystem::path folder_name(const std::filesystem::path& folder)
{
    std::error_code error;
    std::filesystem::path full = std::filesystem::absolute(folder, error).lexically_normal();
    if (!full.has_filename()) {
        full = full.parent_path();
    }
    return full.filename();
}

#ifdef __linux__

class OpenDirectory {
public:
    explicit OpenDirectory(int descriptor) : directory_(::fdopendir(descriptor))
    {
        if (directory_ == nullptr) {
            ::close(descriptor);
        }
    }
    ~OpenDirectory()
    {
        if (directory_ != nullptr) {
            ::closedir(directory_);
        }
    }
    OpenDirectory(const OpenDirectory&) = delete;
    OpenDirectory& operator=(const OpenDirectory&) = delete;
    DIR* get() const { return directory_; }

private:
    DIR* directory_;
};

void describe(const struct stat& status, FolderEntry& entry)
{
    entry.directory = S_ISDIR(status.st_mode);
    entry.size = entry.directory ? 0 : static_cast<std::uint64_t>(status.st_size);
    entry.modified = status.st_mtim.tv_sec;
    entry.device = status.st_dev;
    entry.inode = status.st_ino;
}

// Lists the directory open as `descriptor`, which it takes over.
[[nodiscard]] int scan_directory(int descriptor, const std::string& path, std::size_t level, FolderEntry& entry,
                                 ScanFailure& failure)
{
    const OpenDirectory directory(descriptor);
    if (directory.get() == nullptr) {
        return fail(failure, ScanFault::Unreadable, path, errno);
    }
    const int at = ::dirfd(directory.get());
    for (;;) {
        errno = 0;
        const dirent* item = ::readdir(directory.get());
        if (item == nullptr) {
            return errno == 0 ? 0 : fail(failure, ScanFault::Unreadable, path, errno);
        }
        const std::string name = item->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        const std::string child_path = joined(path, name);
        struct stat found {};
        if (::fstatat(at, name.c_str(), &found, AT_SYMLINK_NOFOLLOW) != 0) {
            return fail(failure, ScanFault::Unreadable, child_path, errno);
        }
        if (!S_ISDIR(found.st_mode) && !S_ISREG(found.st_mode)) {
            return fail(failure, ScanFault::NotRegular, child_path, 0);
        }
        // Opened to prove it readable; O_NONBLOCK so that a FIFO put in its place meanwhile does not hang.
        const int child =
            ::openat(at, name.c_str(),
                     O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | (S_ISDIR(found.st_mode) ? O_DIRECTORY : 0));
        if (child < 0) {
            return fail(failure, errno == ELOOP ? ScanFault::NotRegular : ScanFault::Unreadable, child_path, errno);
        }
        struct stat opened {};
        if (::fstat(child, &opened) != 0 || opened.st_dev != found.st_dev || opened.st_ino != found.st_ino ||
            (opened.st_mode & S_IFMT) != (found.st_mode & S_IFMT)) {
            ::close(child);
            return fail(failure, ScanFault::Unreadable, child_path, 0);
        }
        FolderEntry& child_entry = entry.children.emplace_back();
        child_entry.name = name;
        describe(opened, child_entry);
        if (!child_entry.directory) {
            ::close(child);
        } else if (level + 1 > kMaxScanLevels) {
            ::close(child);
            return fail(failure, ScanFault::TooDeep, child_path, 0);
        } else if (scan_directory(child, child_path, level + 1, child_entry, failure) != 0) {
            return -1;
        }
    }
}

}  // namespace

int scan_folder(const std::filesystem::path& folder, FolderEntry& root, ScanFailure& failure)
{
    // The folder itself is the one named, through any link its path holds.
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat status {};
    if (descriptor < 0 || ::fstat(descriptor, &status) != 0) {
        const int error = errno;
        if (descriptor >= 0) {
            ::close(descriptor);
        }
        return fail(failure, ScanFault::Unopenable, {}, error);
    }
    FolderEntry scanned;
    scanned.name = folder_name(folder).string();
    describe(status, scanned);
    if (scan_directory(descriptor, {}, 1, scanned, failure) != 0) {
        return -1;
    }
    root = std::move(scanned);
    return 0;
}

#else

class FindHandle {
public:
    explicit FindHandle(HANDLE handle) : handle_(handle) {}
    ~FindHandle()
    {
        if (handle_ != INVALID_HANDLE_VALUE) {
            ::FindClose(handle_);
        }
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle()
    {
        if (handle_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle_);
        }
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

int last_error() { return static_cast<int>(::GetLastError()); }

// -1 for a name that is no UTF-16 (an unpaired surrogate).
[[nodiscard]] int to_utf8(const std::wstring& wide, std::string& text)
{
    const int length = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), static_cast<int>(wide.size()),
                                             nullptr, 0, nullptr, nullptr);
    if (length <= 0 && !wide.empty()) {
        return -1;
    }
    text.assign(static_cast<std::size_t>(length), '\0');
    (void)::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), static_cast<int>(wide.size()), text.data(),
                                length, nullptr, nullptr);
    return 0;
}

// FILETIME counts 100 ns from 1601; the epoch is 11644473600 s later.
std::int64_t unix_seconds(FILETIME time)
{
    const auto ticks =
        static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    const std::int64_t since_epoch = ticks - 116444736000000000;
    return since_epoch >= 0 ? since_epoch / 10000000 : -((-since_epoch + 9999999) / 10000000);
}

// Opens `path` without following a reparse point, to prove it readable and learn which file it is.
[[nodiscard]] int describe(const std::wstring& path, bool directory, FolderEntry& entry, int& error)
{
    const FileHandle file(::CreateFileW(path.c_str(), directory ? FILE_LIST_DIRECTORY : GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT | (directory ? FILE_FLAG_BACKUP_SEMANTICS : 0),
                                        nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (file.get() == INVALID_HANDLE_VALUE || ::GetFileInformationByHandle(file.get(), &info) == 0) {
        error = last_error();
        return -1;
    }
    entry.directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.size = entry.directory ? 0 : (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    entry.modified = unix_seconds(info.ftLastWriteTime);
    entry.device = info.dwVolumeSerialNumber;
    entry.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    error = 0;
    return (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || entry.directory != directory ||
                   (!directory && ::GetFileType(file.get()) != FILE_TYPE_DISK)
               ? -1
               : 0;
}

[[nodiscard]] int scan_directory(const std::wstring& directory, const std::string& path, std::size_t level,
                                 FolderEntry& entry, ScanFailure& failure)
{
    WIN32_FIND_DATAW data{};
    const FindHandle find(
        ::FindFirstFileExW((directory + L"\\*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0));
    if (find.get() == INVALID_HANDLE_VALUE) {
        return fail(failure, ScanFault::Unreadable, path, last_error());
    }
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        std::string utf8_name;
        if (to_utf8(name, utf8_name) != 0) {
            return fail(failure, ScanFault::Unreadable, path, 0);
        }
        const std::string child_path = joined(path, utf8_name);
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return fail(failure, ScanFault::NotRegular, child_path, 0);
        }
        const std::wstring full = directory + L"\\" + name;
        FolderEntry& child = entry.children.emplace_back();
        child.name = utf8_name;
        int error = 0;
        if (describe(full, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0, child, error) != 0) {
            return fail(failure, error == 0 ? ScanFault::NotRegular : ScanFault::Unreadable, child_path, error);
        }
        if (child.directory && level + 1 > kMaxScanLevels) {
            return fail(failure, ScanFault::TooDeep, child_path, 0);
        }
        if (child.directory && scan_directory(full, child_path, level + 1, child, failure) != 0) {
            return -1;
        }
    } while (::FindNextFileW(find.get(), &data) != 0);
    return ::GetLastError() == ERROR_NO_MORE_FILES ? 0 : fail(failure, ScanFault::Unreadable, path, last_error());
}

}  // namespace

int scan_folder(const std::filesystem::path& folder, FolderEntry& root, ScanFailure& failure)
{
    // Long paths need the \\?\ form, which takes only a full path.
    std::error_code error;
    std::wstring full = std::filesystem::absolute(folder, error).lexically_normal().native();
    while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) {
        full.pop_back();
    }
    if (!full.starts_with(L"\\\\?\\")) {
        full = full.starts_with(L"\\\\") ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
    }
    FolderEntry scanned;
    int open_error = 0;
    if (error || describe(full, true, scanned, open_error) != 0 ||
        to_utf8(folder_name(folder).native(), scanned.name) != 0) {
        return fail(failure, ScanFault::Unopenable, {}, open_error);
    }
    if (scan_directory(full, {}, 1, scanned, failure) != 0) {
        return -1;
    }
    root = std::move(scanned);
    return 0;
}

#endif

}  // namespace quarnel
