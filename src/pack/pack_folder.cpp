#include "pack/pack_folder.h"

#include <algorithm>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "convert/payload_copy.h"
#include "disc/disc_layout.h"
#include "image/ascii_case.h"
#include "output/destination.h"
#include "output/output_file.h"
#include "pack/pack_messages.h"
#include "platform/folder_listing.h"
#include "platform/interrupt.h"

namespace quarnel {
namespace fs = std::filesystem;

namespace {

// A name as the disc and the messages take it: UTF-8 (on Linux the bytes as they are).
std::string utf8(const fs::path& path)
{
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

fs::path from_utf8(std::string_view text) { return fs::path(std::u8string(text.begin(), text.end())); }

bool is_known(const FileState& state) { return state.device != 0 || state.inode != 0; }

bool is_same_identity(const FileState& a, const FileState& b)
{
    return is_known(a) && a.device == b.device && a.inode == b.inode;
}

// The time a folder that holds the destination has on the disc when it holds
// nothing else (1970-01-01T00:00:00Z): never its own, which the write of the
// destination, and of its temporary file, changes.
constexpr std::int64_t kUntouchedTime = 0;

// Where the image goes, as the output file will resolve it (links followed):
// the directory, by identity, and the name in it.
struct DestinationPlace {
    FileState directory;  // unknown where the destination cannot be resolved: nothing is left out
    std::string name;
    FileState file;  // unknown while there is no such file
};

DestinationPlace find_destination(const fs::path& destination)
{
    DestinationPlace place;
    Destination resolved;
    if (resolve_destination(destination, FileHandle(), resolved) != Resolution::Resolved ||
        read_entry_state(resolved.directory, ".", place.directory) != 0) {
        return {};
    }
    place.name = utf8(resolved.name);
    if (read_entry_state(resolved.directory, resolved.name, place.file) != 0) {
        place.file = {};
    }
    return place;
}

// One walk over the folder: the entries the layout takes, and what each file
// was when it was looked at, so that a change while it is packed shows. A
// file's entry holds its name and, as its source number, its row in one
// table of states; its path is rebuilt from its folder's row when needed.
class FolderScan {
public:
    FolderScan(std::string_view shown_folder, DestinationPlace destination)
        : shown_folder_(shown_folder), destination_(std::move(destination))
    {
        directories_.push_back({{}, 0});
    }

    // 0, or -1 after the refusal was printed.
    [[nodiscard]] int scan(const Directory& directory, std::uint32_t folder, disc::Entry& node)
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
            std::string name = utf8(item.name);
            if (destination == DestinationMatch::ByName && item.kind == FolderItem::Kind::File &&
                name == destination_.name) {
                continue;  // the image being written is never on its own disc
            }
            if (item.kind == FolderItem::Kind::Unreadable) {
                return console::fail(pack_messages::unable_to_read(shown(folder, name)));
            }
            if (item.kind == FolderItem::Kind::Other) {
                return console::fail(pack_messages::not_a_file_or_folder(shown(folder, name)));
            }
            disc::Entry entry;
            entry.modified = item.state.modified;
            if (item.kind == FolderItem::Kind::Directory) {
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
                continue;
            }
            // Told now, so that a file that cannot be read is refused before anything is written.
            if (check_readable(directory, item.name, item.state) != 0) {
                return console::fail(pack_messages::unable_to_read(shown(folder, name)));
            }
            if (destination == DestinationMatch::ByIdentity && is_destination_file(item.state, name)) {
                continue;
            }
            entry.size = item.state.size;
            if (is_known(item.state)) {
                entry.identity = disc::FileIdentity{item.state.device, item.state.inode};
            }
            entry.source = static_cast<std::uint32_t>(files_.size());
            files_.push_back({item.state, folder});
            entry.name = std::move(name);
            node.children.push_back(std::move(entry));
        }
        return 0;
    }

    // A file's path below the folder, '/' between names.
    std::string path_of(const disc::Entry& file) const
    {
        return disc::join_path(directory_path(files_[file.source].directory), file.name);
    }

    std::string shown(const disc::Entry& file) const { return pack_messages::below(shown_folder_, path_of(file)); }

    const FileState& scanned(const disc::Entry& file) const { return files_[file.source].state; }

private:
    struct ScannedFile {
        FileState state;
        std::uint32_t directory;  // its folder's row
    };
    struct ScannedDirectory {
        std::string name;
        std::uint32_t parent;  // the folder itself is row 0
    };

    std::string directory_path(std::uint32_t directory) const
    {
        return directory == 0
                   ? std::string()
                   : disc::join_path(directory_path(directories_[directory].parent), directories_[directory].name);
    }

    std::string shown(std::uint32_t directory, std::string_view name) const
    {
        const std::string path = directory_path(directory);
        return pack_messages::below(shown_folder_, name.empty() ? path : disc::join_path(path, name));
    }

    // How the destination's entry is told among a directory's items: by its
    // name; or, where the file system ignores case and lists it in another
    // spelling, as the entry that is the destination's file and differs from
    // its name only in letter case. None: the destination lies elsewhere.
    enum class DestinationMatch { None, ByName, ByIdentity };

    DestinationMatch match_destination(const Directory& directory, const std::vector<FolderItem>& items) const
    {
        FileState state;
        if (!is_known(destination_.directory) || read_entry_state(directory, ".", state) != 0 ||
            !is_same_identity(destination_.directory, state)) {
            return DestinationMatch::None;
        }
        const bool listed = std::any_of(items.begin(), items.end(), [this](const FolderItem& item) {
            return utf8(item.name) == destination_.name;
        });
        return listed || !is_known(destination_.file) ? DestinationMatch::ByName : DestinationMatch::ByIdentity;
    }

    // The identity as the listing, or on Windows check_readable(), told it.
    bool is_destination_file(const FileState& state, std::string_view name) const
    {
        return is_same_identity(destination_.file, state) &&
               ascii_equal_ignoring_case(name, std::string_view(destination_.name));
    }

    std::string shown_folder_;
    DestinationPlace destination_;
    std::vector<ScannedFile> files_;
    std::vector<ScannedDirectory> directories_;
};

// The folder's files, each opened when the copy reaches its piece (piece
// i + 1 is the layout's file i, then come the empty files): it must still be
// the file looked at, and be so still once read.
class FolderFiles final : public PieceFile {
public:
    FolderFiles(const Directory& folder, const FolderScan& scan, const disc::DiscLayout& layout,
                const std::vector<const disc::Entry*>& empty_files)
        : folder_(folder), scan_(scan), layout_(layout), empty_files_(empty_files)
    {
    }

    std::size_t count() const { return layout_.files.size() + empty_files_.size(); }

    const disc::Entry& entry(std::size_t piece) const
    {
        const std::size_t file = piece - 1;
        return file < layout_.files.size() ? *layout_.files[file].entry : *empty_files_[file - layout_.files.size()];
    }

    FileHandle open(std::size_t piece) noexcept override
    {
        try {
            FileState now;
            FileHandle file = open_in_directory(folder_, from_utf8(scan_.path_of(entry(piece))), now);
            return file.is_open() && is_same_file(piece, now) ? std::move(file) : FileHandle();
        } catch (const std::bad_alloc&) {
            return FileHandle();  // no room for the path: the file cannot be read
        }
    }

    int verify(std::size_t piece, const FileHandle& file) noexcept override
    {
        const FileState& scanned = scan_.scanned(entry(piece));
        FileState now;
        return read_file_state(file, now) == 0 && is_same_file(piece, now) && now.size == scanned.size &&
                       now.modified == scanned.modified && now.modified_nanoseconds == scanned.modified_nanoseconds
                   ? 0
                   : -1;
    }

private:
    bool is_same_file(std::size_t piece, const FileState& now) const
    {
        const FileState& scanned = scan_.scanned(entry(piece));
        return !is_known(scanned) || (now.device == scanned.device && now.inode == scanned.inode);
    }

    const Directory& folder_;
    const FolderScan& scan_;
    const disc::DiscLayout& layout_;
    const std::vector<const disc::Entry*>& empty_files_;
};

// The disc's metadata, made a chunk at a time as the copy reaches it.
class MetadataPiece final : public PieceBytes {
public:
    explicit MetadataPiece(const disc::MetadataBytes& metadata) : metadata_(metadata) {}

    int fill(std::uint64_t offset, std::span<std::uint8_t> into) const noexcept override
    {
        try {
            metadata_.fill(offset, into);
            return 0;
        } catch (const std::bad_alloc&) {
            return -1;
        }
    }

private:
    const disc::MetadataBytes& metadata_;
};

// The disc as pieces, each made when the copy reaches it: its metadata,
// then each file's bytes with the zeros that fill its last sector, then the
// empty files' of none.
class DiscPieces final : public PieceList {
public:
    DiscPieces(const disc::DiscLayout& layout, FolderFiles& files)
        : layout_(layout), metadata_(*layout.metadata), files_(files)
    {
    }

    std::size_t size() const noexcept override { return files_.count() + 1; }

    PayloadPiece piece(std::size_t index) const noexcept override
    {
        if (index == 0) {
            return PayloadPiece::made_on_demand(metadata_, layout_.metadata_size);
        }
        if (index > layout_.files.size()) {
            return PayloadPiece::on_demand(files_, 0);
        }
        const std::uint32_t length = layout_.files[index - 1].length;
        const auto padding = static_cast<std::uint32_t>(disc::sectors_for(length) * disc::kDiscSectorSize - length);
        return PayloadPiece::on_demand(files_, length, padding);
    }

private:
    const disc::DiscLayout& layout_;
    const MetadataPiece metadata_;
    FolderFiles& files_;
};

// The folder's empty files, in the order of its tree.
void collect_empty_files(const disc::Entry& directory, std::vector<const disc::Entry*>& found)
{
    for (const disc::Entry& child : directory.children) {
        if (child.directory) {
            collect_empty_files(child, found);
        } else if (child.size == 0) {
            found.push_back(&child);
        }
    }
}

}  // namespace

int pack_folder(const PackRequest& request)
{
    const InterruptHandling interrupt_handling(pack_messages::kInterrupted);
    const std::string shown_folder = utf8(request.folder);
    const std::string shown_destination = utf8(request.destination);

    // "/." so that a folder named through a link is the folder it names.
    const std::optional<Directory> folder = Directory().open_directory(request.folder / ".");
    std::error_code error;
    if (!folder || !fs::is_directory(request.folder, error)) {
        return console::fail(pack_messages::not_a_folder(shown_folder));
    }
    FolderScan scan(shown_folder, find_destination(request.destination));
    disc::Entry root;
    root.name = utf8(folder_name(request.folder));  // ".." and "a/" name the folder they lead to
    root.directory = true;
    if (FileState state; read_path_state(request.folder, state) == 0) {
        root.modified = state.modified;
    }
    if (scan.scan(*folder, 0, root) != 0) {
        return -1;
    }

    disc::DiscLayout layout;
    disc::Refusal refusal;
    if (disc::lay_out_disc(root, request.label, layout, refusal) != 0) {
        return console::fail(pack_messages::refusal(refusal, shown_folder));
    }

    // An empty file has no extent: its piece, empty, comes after all else is
    // read, so that it too is opened and checked, for a change during the run.
    std::vector<const disc::Entry*> empty_files;
    collect_empty_files(root, empty_files);
    FolderFiles files(*folder, scan, layout, empty_files);
    const DiscPieces pieces(layout, files);
    const std::uint64_t disc_length = std::uint64_t{layout.total_sectors} * disc::kDiscSectorSize;

    std::vector<std::uint8_t> header_area(request.disc_only ? 0 : header_area_size(block_count_for(disc_length)));
    std::vector<std::uint8_t> scratch_table(request.disc_only ? kTableEntrySize * block_count_for(disc_length) : 0);
    OutputFile output;
    // No one file is the source: the folder's files are never the destination (the scan left it out).
    if (output.create(request.destination, FileHandle()) != Resolution::Resolved) {
        return console::fail(pack_messages::unable_to_create_destination(shown_destination));
    }
    if (output.append(header_area) != 0) {
        return console::fail(pack_messages::unable_to_write_destination(shown_destination));
    }
    const Payload payload{{},
                          output.handle(),
                          header_area.size(),
                          request.disc_only ? std::span<std::uint8_t>(scratch_table)
                                            : image_checksum_table(header_area),
                          kCachedChunkSize,
                          &pieces};
    const PayloadOutcome outcome = copy_payload(payload, CopyMethod::Automatic, request.progress);
    switch (outcome.result) {
    case PayloadResult::ReadFailed:
        // Piece 0 is the metadata, which fails for want of memory alone.
        if (outcome.failed_piece == 0) {
            return console::fail(pack_messages::kUnableToAllocate);
        }
        return console::fail(pack_messages::unable_to_read(scan.shown(files.entry(outcome.failed_piece))));
    case PayloadResult::WriteFailed:
        return console::fail(pack_messages::unable_to_write_destination(shown_destination));
    case PayloadResult::Done:
        break;
    }
    if (!request.disc_only) {
        build_header_area(header_area, static_cast<std::uint32_t>(disc_length), request.model);
        if (output.overwrite_start(header_area) != 0) {
            return console::fail(pack_messages::unable_to_write_destination(shown_destination));
        }
    }
    if (output.commit() != 0) {
        return console::fail(pack_messages::unable_to_write_destination(shown_destination));
    }
    console::print(pack_messages::kSuccess);
    return 0;
}

}  // namespace quarnel
