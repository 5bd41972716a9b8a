// The layout: the trees built (disc_tree.h), each written by its own writer
// (tree_writer.h) in the sectors after the volume descriptors, then the
// files' extents, the entries of one file sharing one, and the size rule.
#include "disc/disc_layout.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <span>
#include <utility>

#include "disc/disc_records.h"
#include "disc/disc_tree.h"
#include "disc/tree_writer.h"
#include "image/header_area.h"

namespace quarnel::disc {

namespace {

constexpr std::size_t kSector = kDiscSectorSize;
// The system area, then one volume descriptor a tree, then the terminator.
constexpr std::size_t kFirstDescriptorSector = 16;

// The metadata made a range at a time from the laid-out trees: only what
// overlaps the range asked for is made, and nothing is kept.
class LaidOutMetadata final : public MetadataBytes {
public:
    std::vector<Node> nodes;
    Volume volume;
    std::vector<TreeWriter> writers;  // the primary tree's, then the Joliet tree's
    std::uint32_t total_sectors = 0;

    [[nodiscard]] std::uint64_t terminator_sector() const { return kFirstDescriptorSector + writers.size(); }

    void fill(std::uint64_t offset, std::span<std::uint8_t> into) const override
    {
        std::fill(into.begin(), into.end(), std::uint8_t{0});
        const std::uint64_t end = offset + into.size();
        std::array<std::uint8_t, kSector> sector{};
        for (std::uint64_t at = kFirstDescriptorSector; at <= terminator_sector(); ++at) {
            if (at * kSector >= end || (at + 1) * kSector <= offset) {
                continue;
            }
            sector.fill(0);
            if (at == terminator_sector()) {
                VolumeDescriptor terminator{};
                start_descriptor(terminator, kTerminatorType);
                std::memcpy(sector.data(), &terminator, sizeof terminator);
            } else {
                writers[at - kFirstDescriptorSector].store_descriptor(sector, volume, total_sectors);
            }
            copy_overlap(at * kSector, sector, offset, into);
        }
        for (const TreeWriter& writer : writers) {
            writer.fill(offset, into);
        }
    }
};

// For each of `files`, by identity and then in data order, the place in
// `files` of the one of its identity met before it, or UINT32_MAX.
std::vector<std::uint32_t> same_files(const std::vector<Node>& nodes, const std::vector<std::uint32_t>& files)
{
    std::vector<std::uint32_t> same_file(files.size(), UINT32_MAX);
    std::vector<std::uint32_t> by_identity;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (nodes[files[i]].entry->identity) {
            by_identity.push_back(static_cast<std::uint32_t>(i));
        }
    }
    const auto identity = [&](std::uint32_t i) {
        const FileIdentity& id = *nodes[files[i]].entry->identity;
        return std::pair{id.device, id.inode};
    };
    std::stable_sort(by_identity.begin(), by_identity.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return identity(a) < identity(b); });
    for (std::size_t k = 1; k < by_identity.size(); ++k) {
        if (identity(by_identity[k - 1]) == identity(by_identity[k])) {
            same_file[by_identity[k]] = by_identity[k - 1];
        }
    }
    return same_file;
}

// The files' extents from sector `next` on, in the order of the primary
// tree's path table and records; the entries of one file share the extent
// of the first (after a file of its identity and another size, of the last
// of that size). Each file node's `place` becomes its sector.
std::vector<FileExtent> place_files(std::vector<Node>& nodes, const TreeWriter& primary, std::uint64_t& next)
{
    std::vector<std::uint32_t> in_order;
    for (const std::uint32_t directory : primary.directories()) {
        for (const std::uint32_t index : primary.children_of(directory)) {
            const Entry& entry = *nodes[index].entry;
            if (!entry.directory && entry.size != 0) {
                in_order.push_back(index);
            }
        }
    }
    const std::vector<std::uint32_t> same_file = same_files(nodes, in_order);
    std::vector<FileExtent> files;
    // For each file of `in_order`, its extent's place in `files`.
    std::vector<std::uint32_t> extent_of(in_order.size());
    for (std::size_t i = 0; i < in_order.size(); ++i) {
        Node& node = nodes[in_order[i]];
        const Entry& entry = *node.entry;
        const std::uint32_t before = same_file[i];
        if (before != UINT32_MAX && files[extent_of[before]].length == entry.size) {
            extent_of[i] = extent_of[before];
            node.place = files[extent_of[i]].sector;
            continue;
        }
        node.place = static_cast<std::uint32_t>(std::min<std::uint64_t>(next, UINT32_MAX));
        extent_of[i] = static_cast<std::uint32_t>(files.size());
        files.push_back({&entry, node.place, static_cast<std::uint32_t>(entry.size)});
        next += sectors_for(entry.size);
    }
    return files;
}

}  // namespace

int lay_out_disc(const Entry& root, std::optional<std::string_view> label, DiscLayout& layout, Refusal& refusal)
{
    DiscTrees trees;
    if (build_trees(root, label, trees, refusal) != 0) {
        return -1;
    }
    auto metadata = std::make_shared<LaidOutMetadata>();
    metadata->nodes = std::move(trees.nodes);
    metadata->volume = std::move(trees.volume);
    std::vector<TreeWriter>& writers = metadata->writers;
    writers.reserve(2);
    writers.emplace_back(TreeKind::Primary, metadata->nodes, std::move(trees.primary));
    writers.emplace_back(TreeKind::Joliet, metadata->nodes, std::move(trees.joliet));
    for (TreeWriter& writer : writers) {
        if (writer.number_directories() != 0) {
            refusal = {RefusalKind::TooManyDirectories, {}, {}};
            return -1;
        }
    }
    std::uint64_t next = metadata->terminator_sector() + 1;
    for (TreeWriter& writer : writers) {
        writer.place_path_tables(next);
    }
    for (TreeWriter& writer : writers) {
        writer.place_directories(next);
    }
    const std::uint64_t metadata_sectors = next;
    std::vector<FileExtent> files = place_files(metadata->nodes, writers.front(), next);
    // quarnel's own rule for what it carries.
    if (!is_convertible_length(std::uint64_t{next} * kDiscSectorSize)) {
        refusal = {RefusalKind::TooLarge, {}, {}};
        return -1;
    }
    metadata->total_sectors = static_cast<std::uint32_t>(next);
    layout.metadata_size = metadata_sectors * kDiscSectorSize;
    layout.total_sectors = metadata->total_sectors;
    layout.metadata = std::move(metadata);
    layout.files = std::move(files);
    return 0;
}

}  // namespace quarnel::disc
