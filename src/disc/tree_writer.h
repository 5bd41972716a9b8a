// One tree of the disc written: the primary tree or the Joliet one, each a
// writer over the shared nodes that owns its shape, its path-table order and
// numbers, its directories' extents, its path tables, its directory records
// and its volume descriptor. Another tree (or a boot catalogue) would be
// one more writer beside them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "disc/disc_tree.h"

namespace quarnel::disc {

// How a tree names its entries and its volume: level-1 names in a primary
// descriptor, or UCS-2 in a supplementary one.
enum class TreeKind { Primary, Joliet };

class TreeWriter {
public:
    // `nodes` must outlive the writer and stay where they are.
    TreeWriter(TreeKind kind, const std::vector<Node>& nodes, TreeShape shape);

    // Numbers the directories in path-table order: -1 when more than a path table numbers.
    [[nodiscard]] int number_directories();
    // Places the little-endian then the big-endian path table from sector `next` on.
    void place_path_tables(std::uint64_t& next);
    // Places the directories, in path-table order, from sector `next` on.
    void place_directories(std::uint64_t& next);

    // The directories in path-table order, and each one's children in record order.
    [[nodiscard]] const std::vector<std::uint32_t>& directories() const { return order_; }
    [[nodiscard]] std::span<const std::uint32_t> children_of(std::uint32_t directory) const
    {
        return shape_.children_of((*nodes_)[directory]);
    }

    // The tree's volume descriptor, into `at`'s 2048 zero bytes.
    void store_descriptor(std::span<std::uint8_t> at, const Volume& volume, std::uint32_t total_sectors) const;
    // What of the path tables and directories lies in `into`, which starts at
    // `offset` of the disc; `into` holds zero bytes there.
    void fill(std::uint64_t offset, std::span<std::uint8_t> into) const;

private:
    struct PathTable {
        std::uint32_t size = 0;
        std::uint32_t little_endian_sector = 0;
        std::uint32_t big_endian_sector = 0;
    };

    [[nodiscard]] std::string identifier(std::uint32_t index) const;
    [[nodiscard]] const TreeDirectory& row(std::uint32_t directory) const;
    [[nodiscard]] std::uint64_t extent_bytes(std::uint32_t directory) const;
    void store_record(std::span<std::uint8_t> at, std::uint32_t index, std::string_view identifier) const;
    template <typename Place> std::uint64_t place_records(std::uint32_t directory, Place place) const;
    void fill_path_table(bool big_endian, std::uint64_t offset, std::span<std::uint8_t> into) const;
    void fill_directories(std::uint64_t offset, std::span<std::uint8_t> into) const;

    TreeKind kind_;
    const std::vector<Node>* nodes_;
    TreeShape shape_;
    std::vector<std::uint32_t> order_;  // the directories' nodes in path-table order
    PathTable table_;
    std::uint32_t directories_end_ = 0;  // the sector after the last directory's extent
};

// Copies what of `bytes`, which lie at `at` on the disc, falls in `into`,
// which starts at `offset`.
void copy_overlap(std::uint64_t at, std::span<const std::uint8_t> bytes, std::uint64_t offset,
                  std::span<std::uint8_t> into);

}  // namespace quarnel::disc
