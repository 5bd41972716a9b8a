// The layout of a CD-ROM image made from a folder: ECMA-119 with a Joliet
// tree beside the primary one. Entries in; out the metadata bytes (system
// area, volume descriptors, path tables, directories: everything before the
// first file's data; made as asked for) and each file's extent, so that a
// driver can stream the disc as the metadata, then each file's bytes
// zero-padded to a sector.
//
// The primary tree follows interchange level 1: 8.3 names of d-characters,
// ";1" on files, made unique within a directory (disc_names.h tells how),
// and at most eight levels (the root is the first): a directory that would
// lie on the ninth is moved into the relocation folder DEEPER in the root
// (DEEPER_1, ... when a name of the root's takes it) and its own directories
// follow it, those again that would lie on the ninth moved in there too.
// The moved ones are named there as a directory's entries are, in the order
// they are met, the tree walked with each folder's entries in the byte order
// of their names. The relocation folder is the primary tree's alone.
// The Joliet tree holds the names exactly (UCS-2 level 3, UTF-16 big-endian,
// no ";1", which the readers would otherwise show). No operating-system
// code: the web page builds this too.
//
// Sectors: 16 of system area, the primary and the Joliet descriptors, the
// terminator, the L and M path tables of the primary tree then of the Joliet
// one, the primary directories then the Joliet ones in path-table order, and
// the files, in the order of the primary tree's path table and records, each
// from a sector. An empty file has no data and its records point at sector 0.
// Entries come in any order: each directory's are sorted first, so the same
// folder gives the same bytes. Times are UTC with an offset of 0; a
// directory's is the newest of what it holds (an empty one's its own), and
// the volume's that of the root.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "disc/disc_entries.h"

namespace quarnel::disc {

struct FileExtent {
    const Entry* entry = nullptr;  // the first of the entries that share the extent
    std::uint32_t sector = 0;
    std::uint32_t length = 0;  // bytes; zero-padded on the disc to whole sectors

    // The zeros that follow the file's bytes to its last sector's end.
    [[nodiscard]] std::uint32_t padding() const { return static_cast<std::uint32_t>(sector_padding(length)); }
};

// The metadata's bytes, made from the laid-out tree whenever they are asked
// for, so that no directory's sectors are held (a folder of 65,534 empty
// folders has 256 MiB of them).
class MetadataBytes {
public:
    virtual ~MetadataBytes() = default;
    // Fills `into` with the metadata's bytes from `offset` on, within its
    // size. Const: any thread may fill any range at any time while the
    // layout and the entries live. Throws std::bad_alloc alone.
    virtual void fill(std::uint64_t offset, std::span<std::uint8_t> into) const = 0;
};

// Refers to the entries laid out: they must outlive it.
struct DiscLayout {
    std::shared_ptr<const MetadataBytes> metadata;  // sectors 0 .. the first file's
    std::uint64_t metadata_size = 0;                // bytes, whole sectors
    std::vector<FileExtent> files;  // in data order, contiguous after the metadata; empty files have none
    std::uint32_t total_sectors = 0;
};

// Lays out the disc of the folder `root` (a directory entry named as the
// folder). Without a label the volume is named after the folder. 0, or -1
// with `refusal` filled and `layout` untouched.
[[nodiscard]] int lay_out_disc(const Entry& root, std::optional<std::string_view> label, DiscLayout& layout,
                               Refusal& refusal);

}  // namespace quarnel::disc
