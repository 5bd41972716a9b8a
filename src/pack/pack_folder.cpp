#include "pack/pack_folder.h"

#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "console/console.h"
#include "disc/disc_layout.h"
#include "pack/destination_place.h"
#include "pack/disc_pieces.h"
#include "pack/folder_files.h"
#include "pack/folder_scan.h"
#include "pack/pack_messages.h"
#include "pack/path_text.h"
#include "platform/folder_listing.h"
#include "platform/interrupt.h"
#include "writing/write_image.h"

namespace quarnel {
namespace fs = std::filesystem;

int pack_folder(const PackRequest& request)
{
    const InterruptHandling interrupt_handling(pack_messages::kInterrupted);
    const std::string shown_folder = utf8_of(request.folder);
    const std::string shown_destination = utf8_of(request.destination);

    // "/." so that a folder named through a link is the folder it names.
    const std::optional<Directory> folder = Directory().open_directory(request.folder / ".");
    std::error_code error;
    if (!folder || !fs::is_directory(request.folder, error)) {
        return console::fail(pack_messages::not_a_folder(shown_folder));
    }
    FolderScan scan(shown_folder, find_destination(request.destination));
    disc::Entry root;
    root.name = utf8_of(folder_name(request.folder));  // ".." and "a/" name the folder they lead to
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

    std::vector<const disc::Entry*> empty_files;
    collect_empty_files(root, empty_files);
    FolderFiles files(*folder, scan, layout, empty_files);
    const DiscPieces pieces(layout, files);

    // No one file is the source: the folder's files are never the destination (the scan left it out).
    const FileHandle no_source;
    const ImageWrite write{request.destination,   no_source,
                           request.model,         request.disc_only ? ImageForm::PayloadOnly : ImageForm::ModemImage,
                           CopyMethod::Automatic, kCachedChunkSize,
                           request.progress};
    const WriteFailures failures{
        {},
        [&] { (void)console::fail(pack_messages::unable_to_create_destination(shown_destination)); },
        [&] { (void)console::fail(pack_messages::unable_to_write_destination(shown_destination)); },
        [&](std::size_t piece) {
            // Piece 0 is the metadata, which fails for want of memory alone.
            (void)console::fail(piece == 0 ? std::string(pack_messages::kUnableToAllocate)
                                           : pack_messages::unable_to_read(scan.shown(files.entry(piece))));
        },
    };
    if (write_image(pieces, write, failures) != 0) {
        return -1;
    }
    console::print(pack_messages::kSuccess);
    return 0;
}

}  // namespace quarnel
