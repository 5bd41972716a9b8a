#include "pack/folder_files.h"

#include <new>
#include <utility>

#include "pack/path_text.h"

namespace quarnel {

const disc::Entry& FolderFiles::entry(std::size_t piece) const
{
    const std::size_t file = piece - 1;
    return file < layout_.files.size() ? *layout_.files[file].entry : *empty_files_[file - layout_.files.size()];
}

FileHandle FolderFiles::open(std::size_t piece) noexcept
{
    try {
        FileState now;
        FileHandle file = open_in_directory(folder_, path_from_utf8(scan_.path_of(entry(piece))), now);
        return file.is_open() && is_same_file(piece, now) ? std::move(file) : FileHandle();
    } catch (const std::bad_alloc&) {
        return FileHandle();  // no room for the path: the file cannot be read
    }
}

int FolderFiles::verify(std::size_t piece, const FileHandle& file) noexcept
{
    const FileState& scanned = scan_.scanned(entry(piece));
    FileState now;
    return read_file_state(file, now) == 0 && is_same_file(piece, now) && now.size == scanned.size &&
                   now.modified == scanned.modified && now.modified_nanoseconds == scanned.modified_nanoseconds
               ? 0
               : -1;
}

bool FolderFiles::is_same_file(std::size_t piece, const FileState& now) const
{
    const FileState& scanned = scan_.scanned(entry(piece));
    return !is_known(scanned) || (now.device == scanned.device && now.inode == scanned.inode);
}

}  // namespace quarnel
