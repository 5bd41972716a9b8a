#include "pack/disc_pieces.h"

#include <new>

namespace quarnel {

int MetadataPiece::fill(std::uint64_t offset, std::span<std::uint8_t> into) const noexcept
{
    try {
        metadata_.fill(offset, into);
        return 0;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

PayloadPiece DiscPieces::piece(std::size_t index) const noexcept
{
    if (index == 0) {
        return PayloadPiece::made_on_demand(metadata_, layout_.metadata_size);
    }
    if (index > layout_.files.size()) {
        return PayloadPiece::on_demand(files_, 0);
    }
    const disc::FileExtent& extent = layout_.files[index - 1];
    return PayloadPiece::on_demand(files_, extent.length, extent.padding());
}

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

}  // namespace quarnel
