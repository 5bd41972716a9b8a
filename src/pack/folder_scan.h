// One walk over the folder: the entries the layout takes, and what each file
// was when it was looked at, so that a change while it is packed shows. A
// file's entry holds its name and, as its source number, its row in one
// table of states; its path is rebuilt from its folder's row when needed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "disc/disc_layout.h"
#include "pack/destination_place.h"
#include "platform/folder_listing.h"

namespace quarnel {

class FolderScan {
public:
    FolderScan(std::string_view shown_folder, DestinationPlace destination);

    // Adds what `directory` (row `folder`) holds to `node`: 0, or -1 after the refusal was printed.
    [[nodiscard]] int scan(const Directory& directory, std::uint32_t folder, disc::Entry& node);

    // A file's path below the folder, '/' between names.
    [[nodiscard]] std::string path_of(const disc::Entry& file) const;
    // The file's path as the messages name it.
    [[nodiscard]] std::string shown(const disc::Entry& file) const;
    [[nodiscard]] const FileState& scanned(const disc::Entry& file) const { return files_[file.source].state; }

private:
    struct ScannedFile {
        FileState state;
        std::uint32_t directory;  // its folder's row
    };
    struct ScannedDirectory {
        std::string name;
        std::uint32_t parent;  // the folder itself is row 0
    };

    // How the destination's entry is told among a directory's items: by its
    // name; or, where the file system ignores case and lists it in another
    // spelling, as the entry that is the destination's file and differs from
    // its name only in letter case. None: the destination lies elsewhere.
    enum class DestinationMatch { None, ByName, ByIdentity };

    // Adds the item to `node` unless it is the destination: 0, or -1 after the refusal was printed.
    [[nodiscard]] int scan_item(const Directory& directory, std::uint32_t folder, DestinationMatch destination,
                                FolderItem& item, disc::Entry& node);
    [[nodiscard]] int scan_directory(const Directory& directory, std::uint32_t folder, const FolderItem& item,
                                     std::string name, disc::Entry& node);
    [[nodiscard]] std::string directory_path(std::uint32_t directory) const;
    [[nodiscard]] std::string shown(std::uint32_t directory, std::string_view name) const;
    [[nodiscard]] DestinationMatch match_destination(const Directory& directory,
                                                     const std::vector<FolderItem>& items) const;
    [[nodiscard]] bool is_destination_file(const FileState& state, std::string_view name) const;

    std::string shown_folder_;
    DestinationPlace destination_;
    std::vector<ScannedFile> files_;
    std::vector<ScannedDirectory> directories_;
};

}  // namespace quarnel
