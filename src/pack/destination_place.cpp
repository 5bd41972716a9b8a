#include "pack/destination_place.h"

#include "output/destination.h"
#include "pack/path_text.h"

namespace quarnel {

bool is_known(const FileState& state) { return state.device != 0 || state.inode != 0; }

bool is_same_identity(const FileState& a, const FileState& b)
{
    return is_known(a) && a.device == b.device && a.inode == b.inode;
}

DestinationPlace find_destination(const std::filesystem::path& destination)
{
    DestinationPlace place;
    Destination resolved;
    if (resolve_destination(destination, FileHandle(), resolved) != Resolution::Resolved ||
        read_entry_state(resolved.directory, ".", place.directory) != 0) {
        return {};
    }
    place.name = utf8_of(resolved.name);
    if (read_entry_state(resolved.directory, resolved.name, place.file) != 0) {
        place.file = {};
    }
    return place;
}

}  // namespace quarnel
