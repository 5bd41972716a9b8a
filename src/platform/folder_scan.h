// A folder's tree as a disc is made of it: names (UTF-8), sizes, times and
// which entries are one file. Only regular files and directories are taken;
// a link, a reparse point, a FIFO, a socket or a device is refused, as is an
// entry that cannot be read, so that the disc holds just what was found.
// Linux walks descriptors (openat, O_NOFOLLOW), so a path of any length works
// and nothing met is followed; Windows lists with FindFirstFileW on a \\?\ path.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quarnel {

struct FolderEntry {
    std::string name;  // UTF-8; the folder's own name for the root
    bool directory = false;
    std::uint64_t size = 0;     // a file's bytes
    std::int64_t modified = 0;  // seconds since the epoch, UTC
    // Which file it is: device and inode on Linux, volume serial number and
    // file index on Windows; equal for two names of one file.
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::vector<FolderEntry> children;
};

enum class ScanFault {
    Unopenable,  // the folder itself is missing or not a directory
    Unreadable,  // an entry that cannot be opened or listed
    NotRegular,  // a link, reparse point, FIFO, socket or device
    TooDeep,     // more levels than any disc holds: the walk stops there
};

struct ScanFailure {
    ScanFault fault = ScanFault::Unopenable;
    std::string path;  // the entry, relative to the folder, '/' between names
    int error = 0;     // errno, or GetLastError() on Windows, where there is one
};

// Directories below this many levels are refused, before the stack would suffer.
inline constexpr std::size_t kMaxScanLevels = 64;

// 0 with `root` filled, or -1 with `failure` telling the first entry refused.
[[nodiscard]] int scan_folder(const std::filesystem::path& folder, FolderEntry& root, ScanFailure& failure);

}  // namespace quarnel
