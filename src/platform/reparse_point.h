// What a Windows directory entry is taken for, told by its attributes and,
// for a reparse point, its tag: the one rule Directory::look_at and
// list_directory share, so that quarnel, quarnel-inspect and quarnel-pack
// agree on what a link is. Plain values, so that any system can test it.
#pragma once

#include <cstdint>

namespace quarnel {

// Windows' values (static_assert'ed against <windows.h> where it exists).
inline constexpr std::uint32_t kWindowsDirectoryAttribute = 0x10;       // FILE_ATTRIBUTE_DIRECTORY
inline constexpr std::uint32_t kWindowsReparsePointAttribute = 0x400;   // FILE_ATTRIBUTE_REPARSE_POINT
inline constexpr std::uint32_t kWindowsNameSurrogateTag = 0x20000000U;  // the bit IsReparseTagNameSurrogate tests

enum class WindowsEntryKind { Link, Directory, File };

// A name surrogate (a symbolic link, a junction, a mount point) names
// another file and is a link, as Linux's symbolic link is; any other reparse
// point (a cloud file's placeholder, deduplication, a WOF-compressed file)
// is the file or folder it stands for, whose contents the system supplies.
constexpr WindowsEntryKind windows_entry_kind(std::uint32_t attributes, std::uint32_t reparse_tag)
{
    if ((attributes & kWindowsReparsePointAttribute) != 0 && (reparse_tag & kWindowsNameSurrogateTag) != 0) {
        return WindowsEntryKind::Link;
    }
    return (attributes & kWindowsDirectoryAttribute) != 0 ? WindowsEntryKind::Directory : WindowsEntryKind::File;
}

}  // namespace quarnel
