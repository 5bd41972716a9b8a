// Windows' calls on files by path, written once for the platform layer: the
// one form a path takes to them, and a file opened only to be asked about.
// Windows only (file_calls_windows.cpp); Linux has no counterpart.
#pragma once

#include <filesystem>
#include <string>
#include <windows.h>

namespace quarnel {

// The form every path takes to a Windows file call: the file the call would
// reach without it, as an absolute path with the prefix \\?\ (\\?\UNC\ for
// a share), so that no length limit applies. A path already in the device
// namespace (\\?\, \\.\) stays as it is, and so does one that cannot be
// made absolute.
std::wstring windows_path(const std::filesystem::path& path);

// The system's handle behind a C runtime descriptor; not to be closed.
HANDLE handle_of(int descriptor);

// A file or folder opened only to be asked about, links followed: backup
// semantics open a folder too, with no right to read it.
class QueriedFile {
public:
    explicit QueriedFile(const std::filesystem::path& path);
    ~QueriedFile();
    QueriedFile(const QueriedFile&) = delete;
    QueriedFile& operator=(const QueriedFile&) = delete;

    bool is_open() const { return handle_ != INVALID_HANDLE_VALUE; }
    // Its volume, index, size and times; 0 / -1.
    [[nodiscard]] int information(BY_HANDLE_FILE_INFORMATION& info) const;
    // Its path as the system resolved it, in the case the file system keeps,
    // without the \\?\ prefix (\\?\UNC\server\... as \\server\...), so that
    // it parses as any other path; empty when it cannot be told.
    std::wstring final_path() const;

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace quarnel
