// Change detection: the folder's files, each opened when the copy reaches
// its piece, must still be the files the scan looked at, and be so still once
// read; a file that changed is a read failure of its piece.
#pragma once

#include <cstddef>
#include <vector>

#include "disc/disc_layout.h"
#include "pack/folder_scan.h"
#include "platform/folder_listing.h"
#include "writing/payload_copy.h"

namespace quarnel {

// Piece i + 1 is the layout's file i, then come the empty files.
class FolderFiles final : public PieceFile {
public:
    FolderFiles(const Directory& folder, const FolderScan& scan, const disc::DiscLayout& layout,
                const std::vector<const disc::Entry*>& empty_files)
        : folder_(folder), scan_(scan), layout_(layout), empty_files_(empty_files)
    {
    }

    [[nodiscard]] std::size_t count() const { return layout_.files.size() + empty_files_.size(); }
    [[nodiscard]] const disc::Entry& entry(std::size_t piece) const;

    FileHandle open(std::size_t piece) noexcept override;
    [[nodiscard]] int verify(std::size_t piece, const FileHandle& file) noexcept override;

private:
    [[nodiscard]] bool is_same_file(std::size_t piece, const FileState& now) const;

    const Directory& folder_;
    const FolderScan& scan_;
    const disc::DiscLayout& layout_;
    const std::vector<const disc::Entry*>& empty_files_;
};

}  // namespace quarnel
