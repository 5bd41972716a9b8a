#include "disc/disc_layout.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <numeric>
#include <span>

#include "disc/disc_names.h"
#include "disc/disc_records.h"
#include "image/header_area.h"
#include "image/integers.h"

namespace quarnel::disc {

namespace {

constexpr std::size_t kSystemAreaSectors = 16;
constexpr std::size_t kPrimarySector = 16;
constexpr std::size_t kJolietSector = 17;
constexpr std::size_t kTerminatorSector = 18;
constexpr std::size_t kPathTablesSector = 19;
constexpr std::size_t kSector = kDiscSectorSize;
constexpr std::size_t kMaxLevels = 8;
// A path table numbers its directories in 16 bits, from 1.
constexpr std::size_t kMaxDirectories = UINT16_MAX;
// The primary tree's relocation folder, in the root, and the level of the
// directories moved into it.
constexpr std::string_view kRelocationName = "DEEPER";
constexpr std::size_t kMovedLevel = 3;

// Directory records hold the year as an offset from 1900 in one byte.
constexpr std::int64_t kFirstTime = -2208988800;    // 1900-01-01T00:00:00Z
constexpr std::int64_t kLastTime = 5869584000 - 1;  // 2156-01-01T00:00:00Z, less a second
constexpr std::size_t kPrimaryTree = 0;
constexpr std::size_t kJolietTree = 1;

// Held for every entry until the disc is written, so kept small: a
// directory's children lie in its tree's one list of them (Disc::children).
struct Node {
    const Entry* entry = nullptr;
    std::uint32_t parent[2] = {};  // in each tree: a moved directory's primary parent is the relocation folder
    std::uint32_t first_child[2] = {};
    std::uint32_t child_count[2] = {};
    std::uint16_t number[2] = {};  // directory number in each path table
    std::uint32_t sector[2] = {};  // a directory's extent in each tree; a file's in both
    std::uint32_t length[2] = {};
    std::int64_t time = 0;  // the recording time: a directory's newest
    std::string primary;    // "NAME" or "NAME.EXT;1", within the short string's own room
};

// The tree as the disc's bytes are made of it: the nodes, the root first,
// and each tree's children of every directory in order.
struct Disc {
    std::vector<Node> nodes;
    std::vector<std::uint32_t> children[2];

    [[nodiscard]] std::span<const std::uint32_t> children_of(std::size_t index, std::size_t tree) const
    {
        return std::span(children[tree]).subspan(nodes[index].first_child[tree], nodes[index].child_count[tree]);
    }
};

// The entry of the primary tree's relocation folder, which the folder does not hold.
const Entry& relocation_entry()
{
    static const Entry entry{{}, true, 0, 0, 0, std::nullopt, {}};
    return entry;
}

// Identifiers ordered as ECMA-119 9.3: by name, then extension, each padded
// with spaces; the one version number all files have does not decide. A
// Joliet identifier splits at its last '.' alike.
template <typename Unit> bool precedes(std::basic_string_view<Unit> a, std::basic_string_view<Unit> b)
{
    const auto split = [](std::basic_string_view<Unit> id) {
        id = id.substr(0, id.find(Unit{';'}));
        const std::size_t dot = id.rfind(Unit{'.'});
        return dot == std::basic_string_view<Unit>::npos ? std::pair{id, std::basic_string_view<Unit>()}
                                                         : std::pair{id.substr(0, dot), id.substr(dot + 1)};
    };
    const auto padded_compare = [](std::basic_string_view<Unit> x, std::basic_string_view<Unit> y) {
        for (std::size_t i = 0; i < std::max(x.size(), y.size()); ++i) {
            const Unit cx = i < x.size() ? x[i] : Unit{' '};
            const Unit cy = i < y.size() ? y[i] : Unit{' '};
            if (cx != cy) {
                return cx < cy ? -1 : 1;
            }
        }
        return x.size() == y.size() ? 0 : (x.size() < y.size() ? -1 : 1);
    };
    const auto [name_a, extension_a] = split(a);
    const auto [name_b, extension_b] = split(b);
    const int by_name = padded_compare(name_a, name_b);
    return by_name != 0 ? by_name < 0 : padded_compare(extension_a, extension_b) < 0;
}

// The length of a path `name_units` long below one `parent_units` long, a
// separator between them (the root's path is empty).
std::size_t joined_units(std::size_t parent_units, std::size_t name_units)
{
    return parent_units == 0 ? name_units : parent_units + 1 + name_units;
}

// The tree checked and named, one node an entry, the root first.
class Tree : public Disc {
public:
    std::vector<std::size_t> moved;  // the directories the primary tree holds in its relocation folder
    Refusal refusal;

    // `level` is the entry's in the primary tree, where a directory that
    // would lie below the eighth is moved into the relocation folder;
    // `path_units` its Joliet path's length (0 for the root).
    [[nodiscard]] int add(const Entry& entry, std::size_t parent, std::size_t level, std::size_t path_units)
    {
        const std::size_t index = nodes.size();
        Node& node = nodes.emplace_back();
        node.entry = &entry;
        node.parent[kPrimaryTree] = static_cast<std::uint32_t>(parent);
        node.parent[kJolietTree] = static_cast<std::uint32_t>(parent);
        if (!entry.directory) {
            if (entry.size > kMaxSourceLength) {
                return refuse(RefusalKind::TooLarge, index);
            }
            return set_time(index, entry.modified);
        }
        std::vector<const Entry*> children(entry.children.size());
        std::transform(entry.children.begin(), entry.children.end(), children.begin(),
                       [](const Entry& child) { return &child; });
        std::sort(children.begin(), children.end(), [](const Entry* a, const Entry* b) { return a->name < b->name; });
        std::vector<std::size_t> added;
        // The children's Joliet names while they are laid out: the disc's bytes make them again from the entries.
        std::vector<std::u16string> names;
        std::vector<std::string> natural_names;
        for (const Entry* child : children) {
            std::u16string units;
            if (check_name(child->name, index, path_units, units) != 0) {
                return -1;
            }
            const std::size_t child_path_units = joined_units(path_units, units.size());
            names.push_back(std::move(units));
            added.push_back(nodes.size());
            std::size_t child_level = level;
            if (child->directory) {
                child_level = level < kMaxLevels ? level + 1 : kMovedLevel;
                if (level == kMaxLevels) {
                    moved.push_back(nodes.size());
                }
            }
            if (add(*child, index, child_level, child_path_units) != 0) {
                return -1;
            }
            natural_names.push_back(primary_name(child->name, child->directory));
        }
        if (check_case(added, names) != 0) {
            return -1;
        }
        const std::vector<std::string> unique = unique_primary_names(natural_names);
        std::int64_t newest = entry.modified;
        for (std::size_t i = 0; i < added.size(); ++i) {
            Node& child = nodes[added[i]];
            child.primary = child.entry->directory ? unique[i] : unique[i] + ";1";
            newest = i == 0 ? child.time : std::max(newest, child.time);
        }
        std::vector<std::size_t> order = added;
        if (level == kMaxLevels) {
            std::erase_if(order, [this](std::size_t child) { return nodes[child].entry->directory; });
        }
        set_children(index, kPrimaryTree, sorted_primary(std::move(order)));
        std::vector<std::size_t> places(added.size());
        std::iota(places.begin(), places.end(), std::size_t{0});
        std::sort(places.begin(), places.end(),
                  [&names](std::size_t a, std::size_t b) { return precedes<char16_t>(names[a], names[b]); });
        std::transform(places.begin(), places.end(), places.begin(), [&added](std::size_t i) { return added[i]; });
        set_children(index, kJolietTree, places);
        return set_time(index, newest);
    }

    // Moves the directories that lie too deep for the primary tree into its
    // relocation folder, a directory of the root named after all of the
    // root's entries; the moved ones are named in the order they were found,
    // the tree walked with each folder's entries in the byte order of their
    // names. Called once the whole tree is added, with room for one node.
    void relocate()
    {
        if (moved.empty()) {
            return;
        }
        const std::size_t folder = nodes.size();
        Node& relocation = nodes.emplace_back();
        relocation.entry = &relocation_entry();
        // The root's names given as add() gives them, so that the ones taken stay taken.
        const std::span<const std::uint32_t> in_joliet_root = children_of(0, kJolietTree);
        std::vector<const Entry*> in_root(in_joliet_root.size());
        std::transform(in_joliet_root.begin(), in_joliet_root.end(), in_root.begin(),
                       [this](std::uint32_t child) { return nodes[child].entry; });
        std::sort(in_root.begin(), in_root.end(), [](const Entry* a, const Entry* b) { return a->name < b->name; });
        std::vector<std::string> root_names(in_root.size());
        std::transform(in_root.begin(), in_root.end(), root_names.begin(),
                       [](const Entry* entry) { return primary_name(entry->name, entry->directory); });
        root_names.emplace_back(kRelocationName);
        relocation.primary = unique_primary_names(root_names).back();
        std::vector<std::string> moved_names(moved.size());
        std::transform(moved.begin(), moved.end(), moved_names.begin(),
                       [this](std::size_t index) { return primary_name(nodes[index].entry->name, true); });
        const std::vector<std::string> unique = unique_primary_names(moved_names);
        for (std::size_t i = 0; i < moved.size(); ++i) {
            nodes[moved[i]].primary = unique[i];
            nodes[moved[i]].parent[kPrimaryTree] = static_cast<std::uint32_t>(folder);
            relocation.time = i == 0 ? nodes[moved[i]].time : std::max(relocation.time, nodes[moved[i]].time);
        }
        set_children(folder, kPrimaryTree, sorted_primary(moved));
        const std::span<const std::uint32_t> in_primary_root = children_of(0, kPrimaryTree);
        std::vector<std::size_t> root(in_primary_root.begin(), in_primary_root.end());
        root.push_back(folder);
        set_children(0, kPrimaryTree, sorted_primary(std::move(root)));
    }

    [[nodiscard]] int refuse(RefusalKind kind, std::size_t index, std::string other = {})
    {
        return refuse_path(kind, path_of(index), std::move(other));
    }

    // Rebuilt for a refusal alone, so that no node keeps its path.
    [[nodiscard]] std::string path_of(std::size_t index) const
    {
        return index == 0 ? std::string()
                          : join_path(path_of(nodes[index].parent[kJolietTree]), nodes[index].entry->name);
    }

    [[nodiscard]] int refuse_path(RefusalKind kind, const std::string& path, std::string other = {})
    {
        refusal = {kind, path, std::move(other)};
        return -1;
    }

private:
    [[nodiscard]] std::vector<std::size_t> sorted_primary(std::vector<std::size_t> order) const
    {
        std::sort(order.begin(), order.end(),
                  [this](std::size_t a, std::size_t b) { return precedes<char>(nodes[a].primary, nodes[b].primary); });
        return order;
    }

    // The directory's children in the tree, in its records' order.
    void set_children(std::size_t index, std::size_t tree, const std::vector<std::size_t>& order)
    {
        nodes[index].first_child[tree] = static_cast<std::uint32_t>(children[tree].size());
        nodes[index].child_count[tree] = static_cast<std::uint32_t>(order.size());
        children[tree].insert(children[tree].end(), order.begin(), order.end());
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

    [[nodiscard]] int check_case(const std::vector<std::size_t>& added, const std::vector<std::u16string>& names)
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
        if (time < kFirstTime || time > kLastTime) {
            return refuse(RefusalKind::DateOutOfRange, index);
        }
        nodes[index].time = time;
        return 0;
    }
};

std::size_t count_entries(const Entry& entry)
{
    return std::accumulate(entry.children.begin(), entry.children.end(), std::size_t{1},
                           [](std::size_t sum, const Entry& child) { return sum + count_entries(child); });
}

// A node's identifier as the tree's directory record holds it, the Joliet
// one made again from the entry's name, checked already.
std::string identifier_bytes(const Node& node, std::size_t tree)
{
    if (tree == kPrimaryTree) {
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

void store_record(std::span<std::uint8_t> at, const Node& node, std::size_t tree, std::string_view identifier)
{
    const bool directory = node.entry->directory;
    store_directory_record(
        at, {node.sector[directory ? tree : 0], node.length[directory ? tree : 0], node.time, directory}, identifier);
}

// Places the records of `directory` in the tree, none across a sector, and
// calls `place(offset, node, identifier)` for each; the extent's size back.
template <typename Place>
std::uint32_t place_records(const Disc& disc, std::size_t directory, std::size_t tree, Place place)
{
    const std::vector<Node>& nodes = disc.nodes;
    std::size_t offset = 0;
    const auto next = [&offset, &place](const Node& node, std::string_view identifier) {
        const std::size_t size = record_size(identifier.size());
        if (offset % kDiscSectorSize + size > kDiscSectorSize) {
            offset = sectors_for(offset) * kDiscSectorSize;
        }
        place(offset, node, identifier);
        offset += size;
    };
    next(nodes[directory], std::string_view("\0", 1));
    next(nodes[nodes[directory].parent[tree]], std::string_view("\1", 1));
    for (const std::size_t child : disc.children_of(directory, tree)) {
        next(nodes[child], identifier_bytes(nodes[child], tree));
    }
    return static_cast<std::uint32_t>(sectors_for(offset) * kDiscSectorSize);
}

struct Volume {
    std::string primary_identifier;
    std::u16string joliet_identifier;
};

[[nodiscard]] int name_volume(const Entry& root, std::optional<std::string_view> label, Volume& volume, Tree& tree)
{
    if (label) {
        if (utf8_to_utf16(*label, volume.joliet_identifier) != 0 ||
            std::any_of(volume.joliet_identifier.begin(), volume.joliet_identifier.end(), is_forbidden_in_joliet)) {
            return tree.refuse_path(RefusalKind::InvalidLabel, {});
        }
        if (volume.joliet_identifier.size() > kMaxJolietLabelUnits) {
            return tree.refuse_path(RefusalKind::LabelTooLong, {});
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

// The directories of one tree in path-table order (ECMA-119 6.9.1): a
// breadth-first walk with each directory's children in identifier order
// gives them by level, then parent number, then identifier.
std::vector<std::uint32_t> path_table_order(Disc& disc, std::size_t tree)
{
    std::vector<std::uint32_t> order{0};
    for (std::size_t i = 0; i < order.size(); ++i) {
        disc.nodes[order[i]].number[tree] = static_cast<std::uint16_t>(i + 1);
        const std::span<const std::uint32_t> children = disc.children_of(order[i], tree);
        std::copy_if(children.begin(), children.end(), std::back_inserter(order),
                     [&disc](std::size_t child) { return disc.nodes[child].entry->directory; });
    }
    return order;
}

struct PathTable {
    std::uint32_t size = 0;
    std::uint32_t little_endian_sector = 0;
    std::uint32_t big_endian_sector = 0;
};

// One record of a path table, its identifier `identifier`.
void store_table_record(std::span<std::uint8_t> at, const Disc& disc, std::size_t index, std::size_t tree,
                        std::string_view identifier, bool big_endian)
{
    const Node& node = disc.nodes[index];
    const std::uint16_t parent = disc.nodes[node.parent[tree]].number[tree];
    if (big_endian) {
        store_path_record<ByteOrder::Big>(at, node.sector[tree], parent, identifier);
    } else {
        store_path_record<ByteOrder::Little>(at, node.sector[tree], parent, identifier);
    }
}

struct Descriptor {
    std::uint8_t type;
    std::size_t tree;
    const PathTable* path_table;
    std::uint32_t total_sectors;
};

void store_descriptor(std::span<std::uint8_t> at, const Descriptor& descriptor, const Volume& volume, const Node& root)
{
    VolumeDescriptor d{};
    start_descriptor(d, descriptor.type);
    const bool joliet = descriptor.tree == kJolietTree;
    for (const std::span<std::uint8_t> text :
         {std::span<std::uint8_t>(d.system_identifier), std::span<std::uint8_t>(d.volume_identifier),
          std::span<std::uint8_t>(d.volume_set_identifier), std::span<std::uint8_t>(d.publisher_identifier),
          std::span<std::uint8_t>(d.data_preparer_identifier), std::span<std::uint8_t>(d.application_identifier),
          std::span<std::uint8_t>(d.copyright_file_identifier), std::span<std::uint8_t>(d.abstract_file_identifier),
          std::span<std::uint8_t>(d.bibliographic_file_identifier)}) {
        const bool volume_identifier = text.data() == d.volume_identifier.data();
        if (joliet) {
            store_ucs2_text(text, volume_identifier ? std::u16string_view(volume.joliet_identifier) : u"");
        } else {
            store_text(text, volume_identifier ? std::string_view(volume.primary_identifier) : "");
        }
    }
    d.volume_space_size = descriptor.total_sectors;
    if (joliet) {
        std::copy(kJolietLevel3.begin(), kJolietLevel3.end(), d.escape_sequences.begin());
    }
    d.volume_set_size = 1;
    d.volume_sequence_number = 1;
    d.logical_block_size = kDiscSectorSize;
    d.path_table_size = descriptor.path_table->size;
    d.l_path_table = descriptor.path_table->little_endian_sector;
    d.m_path_table = descriptor.path_table->big_endian_sector;
    store_record(d.root_directory_record, root, descriptor.tree, std::string_view("\0", 1));
    d.creation_time = volume_time(root.time);
    d.modification_time = volume_time(root.time);
    d.expiration_time = volume_time(std::nullopt);
    d.effective_time = volume_time(std::nullopt);
    d.file_structure_version = 1;
    std::memcpy(at.first(sizeof d).data(), &d, sizeof d);
}

void store_terminator(std::span<std::uint8_t> at)
{
    VolumeDescriptor d{};
    start_descriptor(d, kTerminatorType);
    std::memcpy(at.first(sizeof d).data(), &d, sizeof d);
}

// Copies what of `bytes`, which lie at `at` in the metadata, falls in
// `into`, which starts at `offset`.
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

// The metadata made a range at a time from the laid-out tree: only what
// overlaps the range asked for is made, and nothing is kept.
class LaidOutMetadata final : public MetadataBytes {
public:
    Disc disc;
    std::array<std::vector<std::uint32_t>, 2> orders;  // each tree's directories in path-table order
    std::array<PathTable, 2> tables;
    Volume volume;
    std::uint32_t total_sectors = 0;

    void fill(std::uint64_t offset, std::span<std::uint8_t> into) const override
    {
        std::fill(into.begin(), into.end(), std::uint8_t{0});
        const std::uint64_t end = offset + into.size();
        const auto overlaps = [offset, end](std::uint64_t at, std::uint64_t size) {
            return at < end && offset < at + size;
        };
        std::array<std::uint8_t, kSector> sector{};
        for (const std::size_t at : {kPrimarySector, kJolietSector, kTerminatorSector}) {
            if (!overlaps(at * kSector, kSector)) {
                continue;
            }
            sector.fill(0);
            if (at == kTerminatorSector) {
                store_terminator(sector);
            } else {
                const std::size_t t = at == kPrimarySector ? kPrimaryTree : kJolietTree;
                store_descriptor(sector,
                                 {at == kPrimarySector ? kPrimaryDescriptorType : kSupplementaryDescriptorType, t,
                                  &tables[t], total_sectors},
                                 volume, disc.nodes[0]);
            }
            copy_overlap(at * kSector, sector, offset, into);
        }
        std::array<std::uint8_t, kSector> record{};
        for (const std::size_t t : {kPrimaryTree, kJolietTree}) {
            for (const bool big_endian : {false, true}) {
                const std::uint64_t at =
                    std::uint64_t{big_endian ? tables[t].big_endian_sector : tables[t].little_endian_sector} * kSector;
                for (std::uint64_t within = 0; const std::uint32_t index : orders[t]) {
                    if (!overlaps(at, tables[t].size) || at + within >= end) {
                        break;
                    }
                    const std::string identifier =
                        index == 0 ? std::string(1, '\0') : identifier_bytes(disc.nodes[index], t);
                    const std::size_t size = path_record_size(identifier.size());
                    if (overlaps(at + within, size)) {
                        std::fill_n(record.begin(), size, std::uint8_t{0});
                        store_table_record(record, disc, index, t, identifier, big_endian);
                        copy_overlap(at + within, std::span(record).first(size), offset, into);
                    }
                    within += size;
                }
            }
            // The directories lie in path-table order, one after another.
            const auto first = std::partition_point(orders[t].begin(), orders[t].end(), [&](std::uint32_t index) {
                const Node& node = disc.nodes[index];
                return std::uint64_t{node.sector[t]} * kSector + node.length[t] <= offset;
            });
            for (auto it = first; it != orders[t].end(); ++it) {
                const Node& directory = disc.nodes[*it];
                const std::uint64_t extent = std::uint64_t{directory.sector[t]} * kSector;
                if (extent >= end) {
                    break;
                }
                (void)place_records(disc, *it, t, [&](std::size_t at, const Node& node, std::string_view id) {
                    const std::size_t size = record_size(id.size());
                    if (overlaps(extent + at, size)) {
                        std::fill_n(record.begin(), size, std::uint8_t{0});
                        store_record(record, node, t, id);
                        copy_overlap(extent + at, std::span(record).first(size), offset, into);
                    }
                });
            }
        }
    }
};

}  // namespace

std::string join_path(std::string_view parent, std::string_view name)
{
    std::string path(parent);
    if (!path.empty() && path.back() != '/' && path.back() != '\\') {
        path += '/';
    }
    return path.append(name);
}

int lay_out_disc(const Entry& root, std::optional<std::string_view> label, DiscLayout& layout, Refusal& refusal)
{
    Tree tree;
    const auto refused = [&refusal, &tree] {
        refusal = tree.refusal;
        return -1;
    };
    Volume volume;
    // Reserved whole: growing by doubling would hold the old nodes and the new at once.
    const std::size_t entries = count_entries(root);
    tree.nodes.reserve(entries + 1);
    tree.children[kPrimaryTree].reserve(entries);
    tree.children[kJolietTree].reserve(entries);
    if (name_volume(root, label, volume, tree) != 0 || tree.add(root, 0, 1, 0) != 0) {
        return refused();
    }
    tree.relocate();
    std::vector<Node>& nodes = tree.nodes;

    auto metadata = std::make_shared<LaidOutMetadata>();
    std::array<std::vector<std::uint32_t>, 2>& orders = metadata->orders;
    std::array<PathTable, 2>& tables = metadata->tables;
    std::uint64_t next = kPathTablesSector;
    for (const std::size_t t : {kPrimaryTree, kJolietTree}) {
        orders[t] = path_table_order(tree, t);
        if (orders[t].size() > kMaxDirectories) {
            (void)tree.refuse_path(RefusalKind::TooManyDirectories, {});
            return refused();
        }
        const std::uint64_t size = std::accumulate(
            orders[t].begin(), orders[t].end(), std::uint64_t{0}, [&nodes, t](std::uint64_t sum, std::size_t index) {
                return sum + path_record_size(index == 0 ? 1 : identifier_bytes(nodes[index], t).size());
            });
        tables[t].size = static_cast<std::uint32_t>(size);
    }
    for (const std::size_t t : {kPrimaryTree, kJolietTree}) {
        const std::uint64_t sectors = std::max<std::uint64_t>(1, sectors_for(tables[t].size));
        tables[t].little_endian_sector = static_cast<std::uint32_t>(next);
        tables[t].big_endian_sector = static_cast<std::uint32_t>(next + sectors);
        next += 2 * sectors;
    }
    for (const std::size_t t : {kPrimaryTree, kJolietTree}) {
        for (const std::size_t index : orders[t]) {
            nodes[index].length[t] = place_records(tree, index, t, [](std::size_t, const Node&, std::string_view) {});
            nodes[index].sector[t] = static_cast<std::uint32_t>(next);
            next += nodes[index].length[t] / kDiscSectorSize;
        }
    }
    const std::uint64_t metadata_sectors = next;

    // The files in the order of the primary tree's path table and records;
    // the entries of one file share the extent of the first (after a file
    // of its identity and another size, of the last of that size).
    std::vector<std::uint32_t> in_order;
    for (const std::size_t directory : orders[kPrimaryTree]) {
        for (const std::uint32_t index : tree.children_of(directory, kPrimaryTree)) {
            const Entry& entry = *nodes[index].entry;
            if (!entry.directory && entry.size != 0) {
                in_order.push_back(index);
            }
        }
    }
    // Each file with an identity, by its identity, then in data order: the one of it met before it.
    std::vector<std::uint32_t> same_file(in_order.size(), UINT32_MAX);
    {
        std::vector<std::uint32_t> by_identity;
        for (std::size_t i = 0; i < in_order.size(); ++i) {
            if (nodes[in_order[i]].entry->identity) {
                by_identity.push_back(static_cast<std::uint32_t>(i));
            }
        }
        const auto identity = [&](std::uint32_t i) {
            const FileIdentity& id = *nodes[in_order[i]].entry->identity;
            return std::pair{id.device, id.inode};
        };
        std::stable_sort(by_identity.begin(), by_identity.end(),
                         [&](std::uint32_t a, std::uint32_t b) { return identity(a) < identity(b); });
        for (std::size_t k = 1; k < by_identity.size(); ++k) {
            if (identity(by_identity[k - 1]) == identity(by_identity[k])) {
                same_file[by_identity[k]] = by_identity[k - 1];
            }
        }
    }
    std::vector<FileExtent> files;
    // For each file of `in_order`, its extent's place in `files`.
    std::vector<std::uint32_t> extent_of(in_order.size());
    for (std::size_t i = 0; i < in_order.size(); ++i) {
        Node& node = nodes[in_order[i]];
        const Entry& entry = *node.entry;
        node.length[0] = static_cast<std::uint32_t>(entry.size);
        const std::uint32_t before = same_file[i];
        if (before != UINT32_MAX && files[extent_of[before]].length == entry.size) {
            extent_of[i] = extent_of[before];
            node.sector[0] = files[extent_of[i]].sector;
            continue;
        }
        node.sector[0] = static_cast<std::uint32_t>(std::min<std::uint64_t>(next, UINT32_MAX));
        extent_of[i] = static_cast<std::uint32_t>(files.size());
        files.push_back({&entry, node.sector[0], node.length[0]});
        next += sectors_for(entry.size);
    }
    // quarnel's own rule for what it carries.
    if (!is_convertible_length(std::uint64_t{next} * kDiscSectorSize)) {
        (void)tree.refuse_path(RefusalKind::TooLarge, {});
        return refused();
    }
    static_assert(kSystemAreaSectors == kPrimarySector);

    metadata->total_sectors = static_cast<std::uint32_t>(next);
    metadata->volume = std::move(volume);
    metadata->disc.nodes = std::move(tree.nodes);
    metadata->disc.children[kPrimaryTree] = std::move(tree.children[kPrimaryTree]);
    metadata->disc.children[kJolietTree] = std::move(tree.children[kJolietTree]);
    layout.metadata_size = metadata_sectors * kDiscSectorSize;
    layout.total_sectors = metadata->total_sectors;
    layout.metadata = std::move(metadata);
    layout.files = std::move(files);
    return 0;
}

}  // namespace quarnel::disc
