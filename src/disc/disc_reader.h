// Reads the tree of an ISO 9660 disc, with or without Joliet, whoever wrote
// it: the volume descriptors, then both trees' directory records, checked as
// they are met, so that a disc is listed, and later unpacked, only when its
// tree can be read safely. The disc comes through an ImageSource a record's
// sector at a time: memory follows the directory records, never the files'
// sizes. Rock Ridge and other System Use entries are skipped; so are
// associated files. No operating-system code: the web page builds this too.
//
// Entries come depth-first in the order of each directory's records: a
// folder, then everything below it, then its next sibling.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "image/image_source.h"

namespace quarnel::disc {

enum class DiscNames { JolietWhereThere, Primary };

inline constexpr std::uint32_t kInRoot = UINT32_MAX;  // the parent of the root's entries

// One file or folder; 32 bytes, because a long listing's cost is the memory
// it first touches. Its name is in DiscListing::names.
struct DiscItem {
    std::uint64_t size = 0;          // bytes: a file's data, a folder's records
    std::int64_t time = 0;           // seconds since the epoch, UTC; only when `timed`
    std::uint32_t name_at = 0;       // its name's place in DiscListing::names
    std::uint32_t parent = kInRoot;  // the index of its folder in DiscListing::items
    // Where the bytes lie: from this sector on, contiguous, even for a file
    // of several extents (read as one).
    std::uint32_t sector = 0;
    std::uint16_t name_bytes = 0;
    bool directory = false;
    bool timed = false;  // false when the record holds no date
};
static_assert(sizeof(DiscItem) == 32);

// The names of a listing, each followed by a NUL (no name holds one), in
// blocks that never move as the listing grows, so that each byte is touched
// once however long the names turn out.
class NamePool {
public:
    static constexpr std::uint32_t kFull = UINT32_MAX;

    // Where the name is kept, or kFull when there is no room for it.
    std::uint32_t add(std::string_view name);
    const char* at(std::uint32_t where) const
    {
        return blocks_[where >> kBlockBits].data() + (where & (kBlockBytes - 1));
    }

private:
    static constexpr unsigned kBlockBits = 16;
    static constexpr std::size_t kBlockBytes = std::size_t{1} << kBlockBits;
    // Below kFull's block, so that no place in them is kFull.
    static constexpr std::size_t kMostBlocks = kFull >> kBlockBits;
    std::vector<std::vector<char>> blocks_;
};

struct DiscListing {
    bool joliet = false;  // the names are the Joliet tree's
    std::uint32_t volume_sectors = 0;
    std::optional<std::int64_t> root_time;  // the root folder's, as time()
    std::vector<DiscItem> items;
    // UTF-8: the Joliet name as stored, or the primary name (Latin-1) without
    // its ";1" version nor a trailing '.' of an empty extension.
    NamePool names;

    std::string_view name(std::size_t index) const { return {names.at(items[index].name_at), items[index].name_bytes}; }
    std::optional<std::int64_t> time(std::size_t index) const
    {
        return items[index].timed ? std::optional(items[index].time) : std::nullopt;
    }
    // The item's path from the root: names joined by '/', no '/' in front.
    std::string path(std::size_t index) const;
};

// Goes through the listing in its order, each folder before what it holds,
// as a walk of the tree goes: `leave(folder)` for each folder the walk comes
// out of, deepest first (at the end, all those still open), and `visit(item)`
// for each item, a folder staying open after it. Each returns 0, or -1 to
// stop the walk; -1 too for a listing out of that order.
template <typename Visit, typename Leave>
[[nodiscard]] int walk_listing(const DiscListing& listing, Visit&& visit, Leave&& leave)
{
    std::vector<std::uint32_t> open;
    const auto leave_down_to = [&](std::uint32_t folder) {
        for (; !open.empty() && open.back() != folder; open.pop_back()) {
            if (leave(open.back()) != 0) {
                return -1;
            }
        }
        return open.empty() && folder != kInRoot ? -1 : 0;
    };
    for (std::uint32_t index = 0; index < listing.items.size(); ++index) {
        if (leave_down_to(listing.items[index].parent) != 0 || visit(index) != 0) {
            return -1;
        }
        if (listing.items[index].directory) {
            open.push_back(index);
        }
    }
    return leave_down_to(kInRoot);
}

// The first reason found not to trust a disc's tree; the inspector words each.
enum class DiscFaultKind {
    None,
    ReadFailed,           // the source failed or ended early
    NoPrimaryDescriptor,  // no "CD001" primary volume descriptor from sector 16 on
    BadBlockSize,         // a logical block size other than 2048 bytes
    VolumeBeyondDisc,     // the volume claims more sectors than the disc holds
    ExtentOutsideVolume,  // a file's or folder's sectors run past the volume's end
    DirectoryLoop,        // a folder holds itself or one of its ancestors
    SharedDirectory,      // two folders share sectors
    FileOverDescriptors,  // a file's sectors overlap the volume descriptors
    FileOverDirectory,    // a file's sectors overlap a folder's records
    Interleaved,          // a record with a file unit size or an interleave gap
    BrokenMultiExtent,    // a file of several extents that are not one contiguous run
    RecordCrossesSector,  // a directory record runs across a sector boundary
    RecordPastDirectory,  // a directory record runs past its folder's extent
    RecordTooShort,       // a record too short for its fixed fields and name
    ForbiddenCharacter,   // a name with '/' or NUL
    ReservedName,         // an empty name, ".", "..", or 0x00 / 0x01 past the first two records
    OddJolietName,        // a Joliet name of an odd number of bytes
    UnpairedSurrogate,    // a Joliet name with half of a UTF-16 pair
    PathTooLong,          // a path of more than kMaxListedPathBytes
    TooLarge,             // more records or directory bytes than the volume can hold
};

inline constexpr std::size_t kMaxListedPathBytes = 4096;

struct DiscFault {
    DiscFaultKind kind = DiscFaultKind::None;
    bool in_tree = false;   // found in a tree's records, not in the descriptors
    bool joliet = false;    // found in the Joliet tree
    std::string directory;  // the folder whose records hold it, as a path ("" the root)
};

// Reads the disc that starts at `offset` in `source` and is `length` bytes
// long; both trees are checked, the listing holds the one `names` asks for.
// 0, or -1 with `fault` filled (the listing then holds what was read).
[[nodiscard]] int read_disc_listing(ImageSource& source, std::uint64_t offset, std::uint64_t length,
                                    DiscListing& listing, DiscFault& fault,
                                    DiscNames names = DiscNames::JolietWhereThere);

}  // namespace quarnel::disc
