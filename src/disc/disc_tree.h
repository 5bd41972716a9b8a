// The folder checked and named as the disc holds it: one node list shared
// by the trees, and each tree's shape over it (a directory's parent and its
// children in the order of its records), so that a tree's writer
// (tree_writer.h) needs nothing of the others. Every refusal of a name, a
// date, a size or the label is made here; disc_layout.h tells the rules.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "disc/disc_entries.h"

namespace quarnel::disc {

// Held for every entry until the disc is written, so kept small: what a
// tree holds of a directory lies in its shape, and a directory's children
// in its shape's one list of them.
struct Node {
    const Entry* entry = nullptr;
    std::int64_t time = 0;     // the recording time: a directory's newest
    std::uint32_t parent = 0;  // in the folder, as the Joliet tree has it; the root's is itself
    // A directory's row in every tree's shape; a file's first sector (its
    // length is its entry's size), 0 when it is empty.
    std::uint32_t place = 0;
    std::string primary;  // "NAME" or "NAME.EXT;1", within the short string's own room
};

// A directory as one tree holds it.
struct TreeDirectory {
    std::uint32_t parent = 0;  // the node of its parent in the tree: the relocation folder for a moved one
    std::uint32_t first_child = 0;
    std::uint32_t child_count = 0;
    std::uint32_t sector = 0;  // its extent's first, set by the tree's writer
    std::uint16_t number = 0;  // in the tree's path table, set by the tree's writer
};

// One tree's directories, at their nodes' `place`, and their children in
// record order (the nodes of the root's are the tree's, ".." aside).
struct TreeShape {
    std::vector<TreeDirectory> directories;
    std::vector<std::uint32_t> children;

    [[nodiscard]] std::span<const std::uint32_t> children_of(const Node& directory) const
    {
        const TreeDirectory& row = directories[directory.place];
        return std::span(children).subspan(row.first_child, row.child_count);
    }
};

struct Volume {
    std::string primary_identifier;
    std::u16string joliet_identifier;
};

// The nodes, the root first (and the primary tree's relocation folder last,
// when it has one), the two trees' shapes and the volume's names.
struct DiscTrees {
    std::vector<Node> nodes;
    TreeShape primary;
    TreeShape joliet;
    Volume volume;
};

// Checks and names the folder `root`: 0, or -1 with `refusal` filled.
[[nodiscard]] int build_trees(const Entry& root, std::optional<std::string_view> label, DiscTrees& trees,
                              Refusal& refusal);

}  // namespace quarnel::disc
