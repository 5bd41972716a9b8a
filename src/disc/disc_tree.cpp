#include "disc/disc_tree.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <numeric>
#include <utility>

#include "disc/disc_names.h"
#include "disc/identifier_order.h"
#include "image/header_area.h"

namespace quarnel::disc {

namespace {

constexpr std::size_t kMaxLevels = 8;
// The primary tree's relocation folder, in the root, and the level of the
// directories moved into it.
constexpr std::string_view kRelocationName = "DEEPER";
constexpr std::size_t kMovedLevel = 3;

// The entry of the primary tree's relocation folder, which the folder does not hold.
const Entry& relocation_entry()
{
    static const Entry entry{{}, true, 0, 0, 0, std::nullopt, {}};
    return entry;
}

// The length of a path `name_units` long below one `parent_units` long, a
// separator between them (the root's path is empty).
std::size_t joined_units(std::size_t parent_units, std::size_t name_units)
{
    return parent_units == 0 ? name_units : parent_units + 1 + name_units;
}

// The directory's children in the tree, in its records' order.
void set_children(TreeShape& shape, const Node& directory, const std::vector<std::uint32_t>& order)
{
    TreeDirectory& row = shape.directories[directory.place];
    row.first_child = static_cast<std::uint32_t>(shape.children.size());
    row.child_count = static_cast<std::uint32_t>(order.size());
    shape.children.insert(shape.children.end(), order.begin(), order.end());
}

// A directory's children while they are added: their nodes, Joliet names
// (the disc's bytes make them again from the entries) and primary names
// before uniqueness, each in the byte order of the UTF-8 names.
struct Children {
    std::vector<std::uint32_t> added;
    std::vector<std::u16string> names;
    std::vector<std::string> natural_names;
};

// The tree checked and named, one node an entry, the root first.
class TreeBuilder {
public:
    explicit TreeBuilder(DiscTrees& trees) : trees_(trees), nodes_(trees.nodes) {}

    std::vector<std::uint32_t> moved;  // the directories the primary tree holds in its relocation folder
    Refusal refusal;

    // `level` is the entry's in the primary tree, where a directory that
    // would lie below the eighth is moved into the relocation folder;
    // `path_units` its Joliet path's length (0 for the root).
    [[nodiscard]] int add(const Entry& entry, std::uint32_t parent, std::size_t level, std::size_t path_units)
    {
        const auto index = static_cast<std::uint32_t>(nodes_.size());
        Node& node = nodes_.emplace_back();
        node.entry = &entry;
        node.parent = parent;
        if (!entry.directory) {
            if (entry.size > kMaxSourceLength) {
                return refuse(RefusalKind::TooLarge, index);
            }
            return set_time(index, entry.modified);
        }
        node.place = add_rows(parent);
        Children children;
        if (add_children(entry, index, level, path_units, children) != 0 ||
            check_case(children.added, children.names) != 0) {
            return -1;
        }
        return arrange(index, level, children);
    }

    void relocate();

    [[nodiscard]] int refuse(RefusalKind kind, std::size_t index, std::string other = {})
    {
        return refuse_path(kind, path_of(index), std::move(other));
    }

    // Rebuilt for a refusal alone, so that no node keeps its path.
    [[nodiscard]] std::string path_of(std::size_t index) const
    {
        return index == 0 ? std::string() : join_path(path_of(nodes_[index].parent), nodes_[index].entry->name);
    }

    [[nodiscard]] int refuse_path(RefusalKind kind, const std::string& path, std::string other = {})
    {
        refusal = {kind, path, std::move(other)};
        return -1;
    }

private:
    // A directory's row in each tree, its parent there the folder's.
    std::uint32_t add_rows(std::uint32_t parent)
    {
        trees_.primary.directories.push_back({parent});
        trees_.joliet.directories.push_back({parent});
        return static_cast<std::uint32_t>(trees_.primary.directories.size() - 1);
    }

    [[nodiscard]] int add_children(const Entry& entry, std::uint32_t index, std::size_t level, std::size_t path_units,
                                   Children& children)
    {
        std::vector<const Entry*> sorted(entry.children.size());
        std::transform(entry.children.begin(), entry.children.end(), sorted.begin(),
                       [](const Entry& child) { return &child; });
        std::sort(sorted.begin(), sorted.end(), [](const Entry* a, const Entry* b) { return a->name < b->name; });
        for (const Entry* child : sorted) {
            std::u16string units;
            if (check_name(child->name, index, path_units, units) != 0) {
                return -1;
            }
            const std::size_t child_path_units = joined_units(path_units, units.size());
            children.names.push_back(std::move(units));
            children.added.push_back(static_cast<std::uint32_t>(nodes_.size()));
            std::size_t child_level = level;
            if (child->directory) {
                child_level = level < kMaxLevels ? level + 1 : kMovedLevel;
                if (level == kMaxLevels) {
                    moved.push_back(static_cast<std::uint32_t>(nodes_.size()));
                }
            }
            if (add(*child, index, child_level, child_path_units) != 0) {
                return -1;
            }
            children.natural_names.push_back(primary_name(child->name, child->directory));
        }
        return 0;
    }

    // Names the children of directory `index` and sets them in each tree's order.
    [[nodiscard]] int arrange(std::uint32_t index, std::size_t level, const Children& children)
    {
        const std::vector<std::uint32_t>& added = children.added;
        const std::vector<std::string> unique = unique_primary_names(children.natural_names);
        std::int64_t newest = nodes_[index].entry->modified;
        for (std::size_t i = 0; i < added.size(); ++i) {
            Node& child = nodes_[added[i]];
            child.primary = child.entry->directory ? unique[i] : unique[i] + ";1";
            newest = i == 0 ? child.time : std::max(newest, child.time);
        }
        std::vector<std::uint32_t> order = added;
        if (level == kMaxLevels) {
            std::erase_if(order, [this](std::uint32_t child) { return nodes_[child].entry->directory; });
        }
        set_children(trees_.primary, nodes_[index], sorted_primary(std::move(order)));
        std::vector<std::size_t> places(added.size());
        std::iota(places.begin(), places.end(), std::size_t{0});
        std::sort(places.begin(), places.end(), [&children](std::size_t a, std::size_t b) {
            return precedes(std::u16string_view(children.names[a]), std::u16string_view(children.names[b]));
        });
        std::vector<std::uint32_t> in_joliet(places.size());
        std::transform(places.begin(), places.end(), in_joliet.begin(), [&added](std::size_t i) { return added[i]; });
        set_children(trees_.joliet, nodes_[index], in_joliet);
        return set_time(index, newest);
    }

    [[nodiscard]] std::vector<std::uint32_t> sorted_primary(std::vector<std::uint32_t> order) const
    {
        std::sort(order.begin(), order.end(), [this](std::uint32_t a, std::uint32_t b) {
            return precedes(std::string_view(nodes_[a].primary), std::string_view(nodes_[b].primary));
        });
        return order;
    }

    // The name of a child of directory `parent`, whose path has `parent_path_units`.
    [[nodiscard]] int check_name(const std::string& name, std::size_t parent, std::size_t parent_path_units,
                                 std::u16string& units)
    {
        const auto refuse_name = [&](RefusalKind kind) { return refuse_path(kind, join_path(path_of(parent), name)); };
        if (utf8_to_utf16(name, units) != 0) {
            return refuse_name(RefusalKind::InvalidUtf8);
        }
        if (units.empty() || units == u"." || units == u"..") {
            return refuse_name(RefusalKind::ReservedName);
        }
        if (std::any_of(units.begin(), units.end(), is_forbidden_in_joliet)) {
            return refuse_name(RefusalKind::ForbiddenCharacter);
        }
        if (units.size() > kMaxJolietUnits) {
            return refuse_name(RefusalKind::NameTooLong);
        }
        if (std::any_of(units.begin(), units.end(), is_forbidden_in_windows)) {
            return refuse_name(RefusalKind::WindowsCharacter);
        }
        if (ends_in_dot_or_space(units)) {
            return refuse_name(RefusalKind::TrailingDotOrSpace);
        }
        if (is_windows_device_name(units)) {
            return refuse_name(RefusalKind::DeviceName);
        }
        if (joined_units(parent_path_units, units.size()) > kMaxJolietPathUnits) {
            return refuse_name(RefusalKind::PathTooLong);
        }
        return 0;
    }

    [[nodiscard]] int check_case(const std::vector<std::uint32_t>& added, const std::vector<std::u16string>& names)
    {
        // The key of each name, and the place among `added` of the first name with it.
        std::map<std::u32string, std::size_t> seen;
        for (std::size_t i = 0; i < added.size(); ++i) {
            const auto [at, inserted] = seen.emplace(caseless_key(names[i]), i);
            if (!inserted) {
                const bool case_only = differ_only_in_case(names[i], names[at->second]);
                return refuse(case_only ? RefusalKind::CaseCollision : RefusalKind::SameNameTwoWays, added[i],
                              path_of(added[at->second]));
            }
        }
        return 0;
    }

    [[nodiscard]] int set_time(std::size_t index, std::int64_t time)
    {
        if (time < kFirstRecordTime || time > kLastRecordTime) {
            return refuse(RefusalKind::DateOutOfRange, index);
        }
        nodes_[index].time = time;
        return 0;
    }

    DiscTrees& trees_;
    std::vector<Node>& nodes_;
};

// Moves the directories that lie too deep for the primary tree into its
// relocation folder, a directory of the root named after all of the root's
// entries; the moved ones are named in the order they were found, the tree
// walked with each folder's entries in the byte order of their names.
// Called once the whole tree is added, with room for one node and its rows.
void TreeBuilder::relocate()
{
    if (moved.empty()) {
        return;
    }
    const auto folder = static_cast<std::uint32_t>(nodes_.size());
    Node& relocation = nodes_.emplace_back();
    relocation.entry = &relocation_entry();
    relocation.place = add_rows(0);
    // The root's names given as add() gives them, so that the ones taken stay taken.
    const std::span<const std::uint32_t> in_joliet_root = trees_.joliet.children_of(nodes_[0]);
    std::vector<const Entry*> in_root(in_joliet_root.size());
    std::transform(in_joliet_root.begin(), in_joliet_root.end(), in_root.begin(),
                   [this](std::uint32_t child) { return nodes_[child].entry; });
    std::sort(in_root.begin(), in_root.end(), [](const Entry* a, const Entry* b) { return a->name < b->name; });
    std::vector<std::string> root_names(in_root.size());
    std::transform(in_root.begin(), in_root.end(), root_names.begin(),
                   [](const Entry* entry) { return primary_name(entry->name, entry->directory); });
    root_names.emplace_back(kRelocationName);
    relocation.primary = unique_primary_names(root_names).back();
    std::vector<std::string> moved_names(moved.size());
    std::transform(moved.begin(), moved.end(), moved_names.begin(),
                   [this](std::uint32_t index) { return primary_name(nodes_[index].entry->name, true); });
    const std::vector<std::string> unique = unique_primary_names(moved_names);
    for (std::size_t i = 0; i < moved.size(); ++i) {
        nodes_[moved[i]].primary = unique[i];
        trees_.primary.directories[nodes_[moved[i]].place].parent = folder;
        relocation.time = i == 0 ? nodes_[moved[i]].time : std::max(relocation.time, nodes_[moved[i]].time);
    }
    set_children(trees_.primary, relocation, sorted_primary(moved));
    const std::span<const std::uint32_t> in_primary_root = trees_.primary.children_of(nodes_[0]);
    std::vector<std::uint32_t> root(in_primary_root.begin(), in_primary_root.end());
    root.push_back(folder);
    set_children(trees_.primary, nodes_[0], sorted_primary(std::move(root)));
}

// The entries below `entry` and itself, and the directories among them.
std::pair<std::size_t, std::size_t> count_entries(const Entry& entry)
{
    std::pair<std::size_t, std::size_t> count{1, entry.directory ? 1 : 0};
    for (const Entry& child : entry.children) {
        const auto [entries, directories] = count_entries(child);
        count.first += entries;
        count.second += directories;
    }
    return count;
}

[[nodiscard]] int name_volume(const Entry& root, std::optional<std::string_view> label, Volume& volume,
                              TreeBuilder& builder)
{
    if (label) {
        if (utf8_to_utf16(*label, volume.joliet_identifier) != 0 ||
            std::any_of(volume.joliet_identifier.begin(), volume.joliet_identifier.end(), is_forbidden_in_joliet)) {
            return builder.refuse_path(RefusalKind::InvalidLabel, {});
        }
        if (volume.joliet_identifier.size() > kMaxJolietLabelUnits) {
            return builder.refuse_path(RefusalKind::LabelTooLong, {});
        }
        volume.primary_identifier = primary_volume_identifier(*label);
        return 0;
    }
    // The folder's name is shortened and mended rather than refused.
    volume.primary_identifier = primary_volume_identifier(root.name);
    if (utf8_to_utf16(root.name, volume.joliet_identifier) != 0) {
        volume.joliet_identifier.assign(volume.primary_identifier.begin(), volume.primary_identifier.end());
    }
    std::replace_if(volume.joliet_identifier.begin(), volume.joliet_identifier.end(), is_forbidden_in_joliet, u'_');
    if (volume.joliet_identifier.size() > kMaxJolietLabelUnits) {
        const bool splits_pair = (volume.joliet_identifier[kMaxJolietLabelUnits] & 0xFC00) == 0xDC00;
        volume.joliet_identifier.resize(kMaxJolietLabelUnits - (splits_pair ? 1 : 0));
    }
    return 0;
}

}  // namespace

int build_trees(const Entry& root, std::optional<std::string_view> label, DiscTrees& trees, Refusal& refusal)
{
    TreeBuilder builder(trees);
    // Reserved whole: growing by doubling would hold the old nodes and the new at once.
    const auto [entries, directories] = count_entries(root);
    trees.nodes.reserve(entries + 1);
    for (TreeShape* shape : {&trees.primary, &trees.joliet}) {
        shape->directories.reserve(directories + 1);
        shape->children.reserve(entries);
    }
    if (name_volume(root, label, trees.volume, builder) != 0 || builder.add(root, 0, 1, 0) != 0) {
        refusal = builder.refusal;
        return -1;
    }
    builder.relocate();
    return 0;
}

}  // namespace quarnel::disc
