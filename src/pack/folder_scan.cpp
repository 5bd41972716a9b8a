#include "pack/folder_scan.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "console/console.h"
#include "image/ascii_case.h"
#include "pack/pack_messages.h"
#include "pack/path_text.h"

namespace quarnel {
namespace {

// The time a folder that holds the destination has on the disc when it holds
// nothing else (1970-01-01T00:00:00Z): never its own, which the write of the
// destination, and of its temporary file, changes.
constexpr std::int64_t kUntouchedTime = 0;

}  // namespace

FolderScan::FolderScan(std::string_view shown_folder, DestinationPlace destination)
    : shown_folder_(shown_folder), destination_(std::move(destination))
{
    directories_.push_back({{}, 0});
}

int FolderScan::scan(const Directory& directory, std::uint32_t folder, disc::Entry& node)
{
    std::vector<FolderItem> items;
    if (list_directory(directory, items) != 0) {
        return console::fail(pack_messages::unable_to_read(shown(folder, {})));
    }
    const DestinationMatch destination = match_destination(directory, items);
    if (destination != DestinationMatch::None) {
        node.modified = kUntouchedTime;  // the newest of what else it holds, if anything
    }
    node.children.reserve(items.size());
    for (FolderItem& item : items) {
        if (scan_item(directory, folder, destination, item, node) != 0) {
            return -1;
        }
    }
    return 0;
}

int FolderScan::scan_item(const Directory& directory, std::uint32_t folder, DestinationMatch destination,
                          FolderItem& item, disc::Entry& node)
{
    std::string name = utf8_of(item.name);
    if (destination == DestinationMatch::ByName && item.kind == FolderItem::Kind::File && name == destination_.name) {
        return 0;  // the image being written is never on its own disc
    }
    if (item.kind == FolderItem::Kind::Unreadable) {
        return console::fail(pack_messages::unable_to_read(shown(folder, name)));
    }
    if (item.kind == FolderItem::Kind::Other) {
        return console::fail(pack_messages::not_a_file_or_folder(shown(folder, name)));
    }
    if (item.kind == FolderItem::Kind::Directory) {
        return scan_directory(directory, folder, item, std::move(name), node);
    }
    disc::Entry entry;
    entry.modified = item.state.modified;  // as listed, before check_readable() looks again
    // Told now, so that a file that cannot be read is refused before anything is written.
    if (check_readable(directory, item.name, item.state) != 0) {
        return console::fail(pack_messages::unable_to_read(shown(folder, name)));
    }
    if (destination == DestinationMatch::ByIdentity && is_destination_file(item.state, name)) {
        return 0;
    }
    entry.size = item.state.size;
    if (is_known(item.state)) {
        entry.identity = disc::FileIdentity{item.state.device, item.state.inode};
    }
    entry.source = static_cast<std::uint32_t>(files_.size());
    files_.push_back({item.state, folder});
    entry.name = std::move(name);
    node.children.push_back(std::move(entry));
    return 0;
}

int FolderScan::scan_directory(const Directory& directory, std::uint32_t folder, const FolderItem& item,
                               std::string name, disc::Entry& node)
{
    disc::Entry entry;
    entry.modified = item.state.modified;
    entry.directory = true;
    const std::optional<Directory> child = directory.open_directory(item.name);
    if (!child) {
        return console::fail(pack_messages::unable_to_read(shown(folder, name)));
    }
    const auto number = static_cast<std::uint32_t>(directories_.size());
    directories_.push_back({name, folder});
    if (scan(*child, number, entry) != 0) {
        return -1;
    }
    entry.name = std::move(name);
    node.children.push_back(std::move(entry));
    return 0;
}

std::string FolderScan::path_of(const disc::Entry& file) const
{
    return disc::join_path(directory_path(files_[file.source].directory), file.name);
}

std::string FolderScan::shown(const disc::Entry& file) const
{
    return pack_messages::below(shown_folder_, path_of(file));
}

std::string FolderScan::directory_path(std::uint32_t directory) const
{
    return directory == 0
               ? std::string()
               : disc::join_path(directory_path(directories_[directory].parent), directories_[directory].name);
}

std::string FolderScan::shown(std::uint32_t directory, std::string_view name) const
{
    const std::string path = directory_path(directory);
    return pack_messages::below(shown_folder_, name.empty() ? path : disc::join_path(path, name));
}

FolderScan::DestinationMatch FolderScan::match_destination(const Directory& directory,
                                                           const std::vector<FolderItem>& items) const
{
    FileState state;
    if (!is_known(destination_.directory) || read_entry_state(directory, ".", state) != 0 ||
        !is_same_identity(destination_.directory, state)) {
        return DestinationMatch::None;
    }
    const bool listed = std::any_of(items.begin(), items.end(),
                                    [this](const FolderItem& item) { return utf8_of(item.name) == destination_.name; });
    return listed || !is_known(destination_.file) ? DestinationMatch::ByName : DestinationMatch::ByIdentity;
}

// The identity as the listing, or on Windows check_readable(), told it.
bool FolderScan::is_destination_file(const FileState& state, std::string_view name) const
{
    return is_same_identity(destination_.file, state) &&
           ascii_equal_ignoring_case(name, std::string_view(destination_.name));
}

}  // namespace quarnel
