#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "platform/file_calls.h"
#include "platform/folder_listing.h"
#include "platform/reparse_point.h"

namespace quarnel {
namespace fs = std::filesystem;

namespace {

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

FolderItem::Kind kind_of(const WIN32_FIND_DATAW& found)
{
    switch (windows_entry_kind(found.dwFileAttributes, found.dwReserved0)) {
    case WindowsEntryKind::Link:
        return FolderItem::Kind::Other;
    case WindowsEntryKind::Directory:
        return FolderItem::Kind::Directory;
    case WindowsEntryKind::File:
        break;
    }
    return FolderItem::Kind::File;
}

}  // namespace

// The listing tells no identity: check_readable() adds it.
int list_directory(const Directory& directory, std::vector<FolderItem>& items)
{
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileExW(directory.entry("*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                       nullptr, FIND_FIRST_EX_LARGE_FETCH);
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
        item.kind = kind_of(found);
        item.state.size = (std::uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow;
        set_time(item.state, found.ftLastWriteTime);
        items.push_back(std::move(item));
    } while (::FindNextFileW(search, &found) != 0);
    const bool complete = ::GetLastError() == ERROR_NO_MORE_FILES;
    ::FindClose(search);
    return complete ? 0 : -1;
}

FileHandle open_in_directory(const Directory& directory, const fs::path& name, FileState& state)
{
    FileHandle file(::_wopen(directory.entry(name).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT));
    if (!file.is_open() || read_file_state(file, state) != 0) {
        return FileHandle();
    }
    return file;
}

// Opening the file is the one way to tell its identity.
int check_readable(const Directory& directory, const fs::path& name, FileState& state)
{
    FileState now;
    if (!open_in_directory(directory, name, now).is_open()) {
        return -1;
    }
    state = now;
    return 0;
}

int read_file_state(const FileHandle& file, FileState& state)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(handle_of(file.descriptor()), &info) == 0) {
        return -1;
    }
    state = state_of(info);
    return 0;
}

int read_path_state(const fs::path& path, FileState& state)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (QueriedFile(path).information(info) != 0) {
        return -1;
    }
    state = state_of(info);
    return 0;
}

int read_entry_state(const Directory& directory, const fs::path& name, FileState& state)
{
    return read_path_state(directory.entry(name), state);
}

// The final path, as the system resolved it: "C:\Users\Me\Drivers"; "C:\"
// names no folder, "\\server\share" its share.
fs::path folder_name(const fs::path& folder)
{
    const std::wstring resolved = QueriedFile(folder).final_path();
    return resolved.empty() ? lexical_folder_name(folder) : fs::path(resolved).filename();
}

}  // namespace quarnel
