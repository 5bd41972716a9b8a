#include "disc/tree_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>
#include <utility>

#include "disc/disc_names.h"
#include "disc/disc_records.h"

namespace quarnel::disc {

namespace {

constexpr std::size_t kSector = kDiscSectorSize;
// A path table numbers its directories in 16 bits, from 1.
constexpr std::size_t kMaxDirectories = UINT16_MAX;
// The identifiers of a directory's own record and of its parent's.
constexpr std::string_view kSelf("\0", 1);
constexpr std::string_view kParent("\1", 1);

// `primary` in a primary tree's text field, `joliet` as UCS-2 in a Joliet one's.
void store_volume_text(TreeKind kind, std::span<std::uint8_t> field, std::string_view primary,
                       std::u16string_view joliet)
{
    if (kind == TreeKind::Joliet) {
        store_ucs2_text(field, joliet);
    } else {
        store_text(field, primary);
    }
}

}  // namespace

void copy_overlap(std::uint64_t at, std::span<const std::uint8_t> bytes, std::uint64_t offset,
                  std::span<std::uint8_t> into)
{
    const std::uint64_t begin = std::max(at, offset);
    const std::uint64_t end = std::min(at + bytes.size(), offset + into.size());
    if (begin < end) {
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(begin - at), end - begin,
                    into.begin() + static_cast<std::ptrdiff_t>(begin - offset));
    }
}

TreeWriter::TreeWriter(TreeKind kind, const std::vector<Node>& nodes, TreeShape shape)
    : kind_(kind), nodes_(&nodes), shape_(std::move(shape))
{
}

// A breadth-first walk with each directory's children in identifier order
// gives the directories by level, then parent number, then identifier
// (ECMA-119 6.9.1).
int TreeWriter::number_directories()
{
    order_.assign(1, 0);
    for (std::size_t i = 0; i < order_.size(); ++i) {
        const Node& directory = (*nodes_)[order_[i]];
        shape_.directories[directory.place].number = static_cast<std::uint16_t>(i + 1);
        const std::span<const std::uint32_t> children = shape_.children_of(directory);
        std::copy_if(children.begin(), children.end(), std::back_inserter(order_),
                     [this](std::uint32_t child) { return (*nodes_)[child].entry->directory; });
    }
    return order_.size() > kMaxDirectories ? -1 : 0;
}

void TreeWriter::place_path_tables(std::uint64_t& next)
{
    const std::uint64_t size =
        std::accumulate(order_.begin(), order_.end(), std::uint64_t{0}, [this](std::uint64_t sum, std::uint32_t index) {
            return sum + path_record_size(index == 0 ? kSelf.size() : identifier(index).size());
        });
    table_.size = static_cast<std::uint32_t>(size);
    const std::uint64_t sectors = std::max<std::uint64_t>(1, sectors_for(table_.size));
    table_.little_endian_sector = static_cast<std::uint32_t>(next);
    table_.big_endian_sector = static_cast<std::uint32_t>(next + sectors);
    next += 2 * sectors;
}

void TreeWriter::place_directories(std::uint64_t& next)
{
    for (const std::uint32_t index : order_) {
        const std::uint64_t bytes = place_records(index, [](std::size_t, std::uint32_t, std::string_view) {});
        shape_.directories[(*nodes_)[index].place].sector = static_cast<std::uint32_t>(next);
        next += bytes / kSector;
    }
    directories_end_ = static_cast<std::uint32_t>(next);
}

void TreeWriter::store_descriptor(std::span<std::uint8_t> at, const Volume& volume, std::uint32_t total_sectors) const
{
    VolumeDescriptor d{};
    start_descriptor(d, kind_ == TreeKind::Joliet ? kSupplementaryDescriptorType : kPrimaryDescriptorType);
    for (const std::span<std::uint8_t> text :
         {std::span<std::uint8_t>(d.system_identifier), std::span<std::uint8_t>(d.volume_set_identifier),
          std::span<std::uint8_t>(d.publisher_identifier), std::span<std::uint8_t>(d.data_preparer_identifier),
          std::span<std::uint8_t>(d.application_identifier), std::span<std::uint8_t>(d.copyright_file_identifier),
          std::span<std::uint8_t>(d.abstract_file_identifier),
          std::span<std::uint8_t>(d.bibliographic_file_identifier)}) {
        store_volume_text(kind_, text, {}, {});
    }
    store_volume_text(kind_, d.volume_identifier, volume.primary_identifier, volume.joliet_identifier);
    d.volume_space_size = total_sectors;
    if (kind_ == TreeKind::Joliet) {
        std::copy(kJolietLevel3.begin(), kJolietLevel3.end(), d.escape_sequences.begin());
    }
    d.volume_set_size = 1;
    d.volume_sequence_number = 1;
    d.logical_block_size = kDiscSectorSize;
    d.path_table_size = table_.size;
    d.l_path_table = table_.little_endian_sector;
    d.m_path_table = table_.big_endian_sector;
    store_record(d.root_directory_record, 0, kSelf);
    const std::int64_t newest = (*nodes_)[0].time;
    d.creation_time = volume_time(newest);
    d.modification_time = volume_time(newest);
    d.expiration_time = volume_time(std::nullopt);
    d.effective_time = volume_time(std::nullopt);
    d.file_structure_version = 1;
    std::memcpy(at.first(sizeof d).data(), &d, sizeof d);
}

void TreeWriter::fill(std::uint64_t offset, std::span<std::uint8_t> into) const
{
    fill_path_table(false, offset, into);
    fill_path_table(true, offset, into);
    fill_directories(offset, into);
}

// A node's identifier as the tree's directory record holds it, the Joliet
// one made again from the entry's name, checked already.
std::string TreeWriter::identifier(std::uint32_t index) const
{
    const Node& node = (*nodes_)[index];
    if (kind_ == TreeKind::Primary) {
        return node.primary;
    }
    std::u16string units;
    (void)utf8_to_utf16(node.entry->name, units);
    std::string bytes;
    for (const char16_t unit : units) {
        bytes += static_cast<char>(unit >> 8);
        bytes += static_cast<char>(unit & 0xFF);
    }
    return bytes;
}

const TreeDirectory& TreeWriter::row(std::uint32_t directory) const
{
    return shape_.directories[(*nodes_)[directory].place];
}

// The directories lie one after another in path-table order, so each one's
// extent ends where the next one's starts.
std::uint64_t TreeWriter::extent_bytes(std::uint32_t directory) const
{
    const TreeDirectory& at = row(directory);
    const std::uint32_t next_sector = at.number < order_.size() ? row(order_[at.number]).sector : directories_end_;
    return static_cast<std::uint64_t>(next_sector - at.sector) * kSector;
}

void TreeWriter::store_record(std::span<std::uint8_t> at, std::uint32_t index, std::string_view identifier) const
{
    const Node& node = (*nodes_)[index];
    if (node.entry->directory) {
        const auto bytes = static_cast<std::uint32_t>(extent_bytes(index));
        store_directory_record(at, {row(index).sector, bytes, node.time, true}, identifier);
    } else {
        store_directory_record(at, {node.place, static_cast<std::uint32_t>(node.entry->size), node.time, false},
                               identifier);
    }
}

// Places the records of `directory`, none across a sector, and calls
// `place(offset, node, identifier)` for each; the extent's size back.
template <typename Place> std::uint64_t TreeWriter::place_records(std::uint32_t directory, Place place) const
{
    std::size_t offset = 0;
    const auto next = [&offset, &place](std::uint32_t index, std::string_view identifier) {
        const std::size_t size = record_size(identifier.size());
        if (offset % kSector + size > kSector) {
            offset = sectors_for(offset) * kSector;
        }
        place(offset, index, identifier);
        offset += size;
    };
    next(directory, kSelf);
    next(row(directory).parent, kParent);
    for (const std::uint32_t child : children_of(directory)) {
        next(child, identifier(child));
    }
    return sectors_for(offset) * kSector;
}

void TreeWriter::fill_path_table(bool big_endian, std::uint64_t offset, std::span<std::uint8_t> into) const
{
    const std::uint64_t end = offset + into.size();
    const std::uint64_t at =
        std::uint64_t{big_endian ? table_.big_endian_sector : table_.little_endian_sector} * kSector;
    if (at >= end || at + table_.size <= offset) {
        return;
    }
    for (std::uint64_t within = 0; const std::uint32_t index : order_) {
        if (at + within >= end) {
            break;
        }
        const std::string id = index == 0 ? std::string(kSelf) : identifier(index);
        const std::size_t size = path_record_size(id.size());
        if (offset < at + within + size) {
            std::array<std::uint8_t, kSector> record{};
            const TreeDirectory& directory = row(index);
            const std::uint16_t parent = row(directory.parent).number;
            if (big_endian) {
                store_path_record<ByteOrder::Big>(record, directory.sector, parent, id);
            } else {
                store_path_record<ByteOrder::Little>(record, directory.sector, parent, id);
            }
            copy_overlap(at + within, std::span(record).first(size), offset, into);
        }
        within += size;
    }
}

void TreeWriter::fill_directories(std::uint64_t offset, std::span<std::uint8_t> into) const
{
    const std::uint64_t end = offset + into.size();
    const auto first = std::partition_point(order_.begin(), order_.end(), [&](std::uint32_t index) {
        return std::uint64_t{row(index).sector} * kSector + extent_bytes(index) <= offset;
    });
    std::array<std::uint8_t, kSector> record{};
    for (auto it = first; it != order_.end(); ++it) {
        const std::uint64_t extent = std::uint64_t{row(*it).sector} * kSector;
        if (extent >= end) {
            break;
        }
        (void)place_records(*it, [&](std::size_t at, std::uint32_t index, std::string_view id) {
            const std::size_t size = record_size(id.size());
            if (extent + at < end && offset < extent + at + size) {
                std::fill_n(record.begin(), size, std::uint8_t{0});
                store_record(record, index, id);
                copy_overlap(extent + at, std::span(record).first(size), offset, into);
            }
        });
    }
}

}  // namespace quarnel::disc
