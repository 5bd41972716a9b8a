// The disc as the payload's pieces, each made when the copy reaches it: its
// metadata, then each file's bytes with the zeros that fill its last sector,
// then the empty files' of none, so that no file holds a piece.
#pragma once

#include <cstddef>
#include <vector>

#include "disc/disc_layout.h"
#include "pack/folder_files.h"
#include "writing/payload_copy.h"

namespace quarnel {

// The disc's metadata, made a chunk at a time as the copy reaches it.
class MetadataPiece final : public PieceBytes {
public:
    explicit MetadataPiece(const disc::MetadataBytes& metadata) : metadata_(metadata) {}
    [[nodiscard]] int fill(std::uint64_t offset, std::span<std::uint8_t> into) const noexcept override;

private:
    const disc::MetadataBytes& metadata_;
};

// Piece 0 is the metadata; piece i + 1 is `files`' piece i + 1.
class DiscPieces final : public PieceList {
public:
    DiscPieces(const disc::DiscLayout& layout, FolderFiles& files)
        : layout_(layout), metadata_(*layout.metadata), files_(files)
    {
    }

    [[nodiscard]] std::size_t size() const noexcept override { return files_.count() + 1; }
    [[nodiscard]] PayloadPiece piece(std::size_t index) const noexcept override;

private:
    const disc::DiscLayout& layout_;
    const MetadataPiece metadata_;
    FolderFiles& files_;
};

// The tree's empty files, in its order: an empty file has no extent, so its
// piece, empty, comes after all else is read, and it too is opened and
// checked for a change during the run.
void collect_empty_files(const disc::Entry& directory, std::vector<const disc::Entry*>& found);

}  // namespace quarnel
