#include "disc/disc_reader.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <iterator>
#include <map>
#include <span>
#include <string_view>
#include <utility>

#include "disc/disc_entries.h"
#include "disc/disc_records.h"

namespace quarnel::disc {

namespace {

constexpr std::uint32_t kFirstDescriptorSector = 16;
constexpr std::uint32_t kMaxDescriptors = 32;  // a real disc has a handful
constexpr std::uint8_t kAssociatedFlag = 0x04;
constexpr std::uint8_t kMultiExtentFlag = 0x80;
constexpr std::size_t kDirectoryWindow = std::size_t{16} * kDiscSectorSize;
constexpr std::uint64_t kReservedItems = std::uint64_t{1} << 20;  // past it, a tree grows its list as it goes
constexpr std::array<std::string_view, 3> kJolietEscapes = {"%/@", "%/C", "%/E"};

using Bytes = std::span<const std::uint8_t>;

// Sectors [start, end) of the volume.
struct Range {
    std::uint32_t start = 0;
    std::uint32_t end = 0;
};

// Disjoint ranges by their start.
class Ranges {
public:
    bool overlaps(Range range) const
    {
        auto next = ranges_.upper_bound(range.start);
        if (next != ranges_.begin() && std::prev(next)->second > range.start) {
            return true;
        }
        return next != ranges_.end() && next->first < range.end;
    }
    // Adds the range, merged with those it overlaps or touches.
    void merge(Range range)
    {
        auto at = ranges_.upper_bound(range.start);
        if (at != ranges_.begin() && std::prev(at)->second >= range.start) {
            --at;
        }
        while (at != ranges_.end() && at->first <= range.end) {
            range = {std::min(range.start, at->first), std::max(range.end, at->second)};
            at = ranges_.erase(at);
        }
        ranges_.emplace(range.start, range.end);
    }

private:
    std::map<std::uint32_t, std::uint32_t> ranges_;
};

template <typename Record> Record load_record(Bytes bytes)
{
    Record record;
    std::memcpy(&record, bytes.first(sizeof record).data(), sizeof record);
    return record;
}

void append_utf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The identifier as UTF-8: Latin-1 bytes, or for Joliet UCS-2/UTF-16 big
// endian; a NUL or a '/' refused as it is met.
[[nodiscard]] DiscFaultKind decode_name(Bytes identifier, bool joliet, std::string& out)
{
    const auto append = [&out](char32_t c) {
        if (c == 0 || c == U'/') {
            return false;
        }
        append_utf8(out, c);
        return true;
    };
    if (!joliet) {
        for (const std::uint8_t byte : identifier) {
            if (!append(byte)) {
                return DiscFaultKind::ForbiddenCharacter;
            }
        }
        return DiscFaultKind::None;
    }
    if (identifier.size() % 2 != 0) {
        return DiscFaultKind::OddJolietName;
    }
    for (std::size_t i = 0; i < identifier.size(); i += 2) {
        char32_t unit = load<ub16>(identifier, i);
        if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return DiscFaultKind::UnpairedSurrogate;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            const char32_t low = i + 3 < identifier.size() ? load<ub16>(identifier, i + 2) : 0;
            if (low < 0xDC00 || low > 0xDFFF) {
                return DiscFaultKind::UnpairedSurrogate;
            }
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        if (!append(unit)) {
            return DiscFaultKind::ForbiddenCharacter;
        }
    }
    return DiscFaultKind::None;
}

// The name a reader shows: the ";1" version dropped, and for a primary file
// the '.' of an empty extension; then checked.
[[nodiscard]] DiscFaultKind shown_name(Bytes identifier, bool joliet, bool directory, std::string& out)
{
    if (identifier.size() == 1 && identifier[0] <= 1) {
        return DiscFaultKind::ReservedName;  // the folder's or its parent's identifier, past their place
    }
    out.clear();
    if (const DiscFaultKind fault = decode_name(identifier, joliet, out); fault != DiscFaultKind::None) {
        return fault;
    }
    const std::size_t version = out.find_last_of(';');
    if (version != std::string::npos && std::all_of(out.begin() + static_cast<std::ptrdiff_t>(version) + 1, out.end(),
                                                    [](char c) { return c >= '0' && c <= '9'; })) {
        out.resize(version);
    }
    if (!joliet && !directory && out.size() > 1 && out.back() == '.') {
        out.pop_back();
    }
    if (out.empty() || out == "." || out == "..") {
        return DiscFaultKind::ReservedName;
    }
    return DiscFaultKind::None;
}

// The record's date as UTC seconds, its offset from GMT (15-minute steps) applied.
std::optional<std::int64_t> utc_time(const RecordingTime& t)
{
    using namespace std::chrono;
    const year_month_day date{year{kFirstRecordYear + t.years_since_1900}, month{t.month}, day{t.day}};
    if (!date.ok() || t.hour > 23 || t.minute > 59 || t.second > 59) {
        return std::nullopt;
    }
    const auto offset = static_cast<std::int8_t>(t.utc_offset);
    const std::int64_t local =
        (sys_days{date} + hours{t.hour} + minutes{t.minute} + seconds{t.second}).time_since_epoch().count();
    const std::int64_t quarters = offset >= -48 && offset <= 52 ? offset : 0;  // one out of range is none
    return local - quarters * 15 * 60;
}

bool is_joliet(const VolumeDescriptor& descriptor)
{
    const std::string_view escapes(descriptor.escape_sequences.data(), 3);
    return std::find(kJolietEscapes.begin(), kJolietEscapes.end(), escapes) != kJolietEscapes.end();
}

// A folder being read, a window of whole sectors of its records at a time
// (no record crosses a sector), so that a large folder costs few reads.
struct Frame {
    std::uint32_t item = kInRoot;  // the folder's item, kInRoot for the root
    Range range;
    std::uint64_t data = 0;    // where its records start on the disc, in bytes
    std::uint32_t length = 0;  // the bytes of its records
    std::vector<std::uint8_t> window;
    std::uint64_t loaded = UINT64_MAX;  // the window held, counted from the first
    std::size_t at = 0;
    std::size_t records = 0;
    std::size_t path_bytes = 0;
};

// A file's first records, while the next ones of its extents are awaited.
// (cppcheck does not see members read through the optional that holds them.)
struct Pending {
    // cppcheck-suppress unusedStructMember
    DiscItem item;
    // cppcheck-suppress unusedStructMember
    std::string name;
    // cppcheck-suppress unusedStructMember
    std::vector<std::uint8_t> identifier;
    std::uint32_t next_sector = 0;
};

class Reader {
public:
    Reader(ImageSource& source, std::uint64_t offset, std::uint64_t length, DiscFault& fault)
        : source_(source), offset_(offset), length_(length), fault_(fault)
    {
    }

    [[nodiscard]] int read(DiscListing& listing, DiscNames names)
    {
        VolumeDescriptor primary{};
        std::optional<VolumeDescriptor> joliet;
        if (read_descriptors(primary, joliet) != 0) {
            return -1;
        }
        listing = DiscListing{};
        listing.volume_sectors = volume_sectors_;
        keep_files_ = !joliet || names == DiscNames::Primary;
        const std::uint64_t records_before = records_left_;
        if (read_tree(primary, false, listing) != 0) {
            return -1;
        }
        if (!joliet) {
            return 0;
        }
        DiscListing joliet_listing;
        joliet_listing.joliet = true;
        joliet_listing.volume_sectors = volume_sectors_;
        // The trees hold the same files as a rule: sized once, the list is
        // never moved as it grows, which is most of a long listing's cost.
        keep_files_ = names == DiscNames::JolietWhereThere;
        if (keep_files_) {
            joliet_listing.items.reserve(
                static_cast<std::size_t>(std::min<std::uint64_t>(records_before - records_left_, kReservedItems)));
        }
        const int status = read_tree(*joliet, true, joliet_listing);
        if (names == DiscNames::JolietWhereThere) {
            listing = std::move(joliet_listing);
        }
        return status;
    }

private:
    [[nodiscard]] int fail(DiscFaultKind kind, const DiscListing* listing = nullptr, std::uint32_t directory = kInRoot)
    {
        fault_.kind = kind;
        fault_.in_tree = in_tree_;
        fault_.joliet = joliet_;
        fault_.directory = listing != nullptr && directory != kInRoot ? listing->path(directory) : "";
        return -1;
    }

    [[nodiscard]] int read_bytes(std::uint64_t at, std::span<std::uint8_t> into)
    {
        if (at > length_ || into.size() > length_ - at) {
            return fail(DiscFaultKind::ReadFailed);
        }
        const std::int64_t got = source_.read_at(offset_ + at, into);
        return got == static_cast<std::int64_t>(into.size()) ? 0 : fail(DiscFaultKind::ReadFailed);
    }

    [[nodiscard]] int read_descriptors(VolumeDescriptor& primary, std::optional<VolumeDescriptor>& joliet)
    {
        bool found = false;
        std::uint32_t sector = kFirstDescriptorSector;
        for (; sector < kFirstDescriptorSector + kMaxDescriptors; ++sector) {
            if (std::uint64_t{sector + 1} * kDiscSectorSize > length_) {
                break;
            }
            VolumeDescriptor descriptor{};
            if (read_bytes(std::uint64_t{sector} * kDiscSectorSize,
                           std::span(reinterpret_cast<std::uint8_t*>(&descriptor), sizeof descriptor)) != 0) {
                return -1;
            }
            const std::string_view identifier(descriptor.standard_identifier.data(), 5);
            if (identifier != kStandardIdentifier) {
                break;
            }
            // A supplementary descriptor of version 2 is ISO 9660:1999's, which is not Joliet.
            if (descriptor.type == kPrimaryDescriptorType && descriptor.version == 1 && !found) {
                primary = descriptor;
                found = true;
            } else if (descriptor.type == kSupplementaryDescriptorType && descriptor.version == 1 && !joliet &&
                       is_joliet(descriptor)) {
                joliet = descriptor;
            } else if (descriptor.type == kTerminatorType) {
                ++sector;
                break;
            }
        }
        descriptors_ = {kFirstDescriptorSector, sector};
        if (!found) {
            return fail(DiscFaultKind::NoPrimaryDescriptor);
        }
        volume_sectors_ = primary.volume_space_size.little;
        if (primary.logical_block_size.little != kDiscSectorSize ||
            (joliet && joliet->logical_block_size.little != kDiscSectorSize)) {
            return fail(DiscFaultKind::BadBlockSize);
        }
        if (std::uint64_t{volume_sectors_} * kDiscSectorSize > length_) {
            return fail(DiscFaultKind::VolumeBeyondDisc);
        }
        // Every record takes 34 bytes at least, and no two folders share a sector.
        directory_bytes_left_ = std::uint64_t{volume_sectors_} * kDiscSectorSize;
        records_left_ = directory_bytes_left_ / (sizeof(DirectoryRecord) + 1);
        return 0;
    }

    // The sectors of a record's extent, its extended attribute record included; -1 outside the volume.
    [[nodiscard]] int extent_range(const DirectoryRecord& record, Range& range) const
    {
        const std::uint64_t start = record.extent.little;
        const std::uint64_t end = start + record.extended_attribute_length + sectors_for(record.data_length.little);
        if (end > volume_sectors_ && end > start) {
            return -1;
        }
        range = {static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(end == start ? start : end)};
        return 0;
    }

    // Starts reading a folder's records, in a new frame on top of the stack.
    [[nodiscard]] int enter(const DirectoryRecord& record, Range range, std::uint32_t item, std::size_t path_bytes,
                            const DiscListing& listing)
    {
        const std::uint32_t length = record.data_length.little;
        if (length > directory_bytes_left_) {
            return fail(DiscFaultKind::TooLarge, &listing, item);
        }
        directory_bytes_left_ -= length;
        Frame frame;
        frame.item = item;
        frame.range = range;
        frame.data = (std::uint64_t{record.extent.little} + record.extended_attribute_length) * kDiscSectorSize;
        frame.length = length;
        frame.path_bytes = path_bytes;
        stack_.push_back(std::move(frame));
        return 0;
    }

    [[nodiscard]] int read_tree(const VolumeDescriptor& descriptor, bool joliet, DiscListing& listing)
    {
        joliet_ = joliet;
        in_tree_ = true;
        stack_.clear();
        const auto root = load_record<DirectoryRecord>(descriptor.root_directory_record);
        listing.root_time = utc_time(root.recording_time);
        Range range;
        if (extent_range(root, range) != 0) {
            return fail(DiscFaultKind::ExtentOutsideVolume);
        }
        if (directories_.overlaps(range)) {
            return fail(DiscFaultKind::SharedDirectory);
        }
        if (files_.overlaps(range)) {
            return fail(DiscFaultKind::FileOverDirectory);
        }
        directories_.merge(range);
        if (enter(root, range, kInRoot, 0, listing) != 0) {
            return -1;
        }
        while (!stack_.empty()) {
            if (stack_.back().at >= stack_.back().length) {
                if (pending_) {
                    return fail(DiscFaultKind::BrokenMultiExtent, &listing, stack_.back().item);
                }
                stack_.pop_back();
                continue;
            }
            if (next_record(listing) != 0) {
                return -1;
            }
        }
        return 0;
    }

    // The record at the top frame's place: checked, listed, and entered when a folder.
    [[nodiscard]] int next_record(DiscListing& listing)
    {
        Frame& frame = stack_.back();
        const std::uint32_t folder = frame.item;
        const auto fail_here = [&](DiscFaultKind kind) { return fail(kind, &listing, folder); };
        if (frame.at / kDirectoryWindow != frame.loaded) {
            // Whole sectors within the extent, so within the volume.
            frame.loaded = frame.at / kDirectoryWindow;
            const std::uint64_t start = frame.loaded * kDirectoryWindow;
            const std::uint64_t sectors_end = std::uint64_t{sectors_for(frame.length)} * kDiscSectorSize;
            frame.window.resize(
                static_cast<std::size_t>(std::min<std::uint64_t>(kDirectoryWindow, sectors_end - start)));
            if (read_bytes(frame.data + start, frame.window) != 0) {
                return -1;
            }
        }
        const std::size_t in_window = frame.at % kDirectoryWindow;
        const std::size_t length = frame.window[in_window];
        const std::size_t in_sector = frame.at % kDiscSectorSize;
        if (length == 0) {  // the rest of the sector is padding
            frame.at += kDiscSectorSize - in_sector;
            return 0;
        }
        if (in_sector + length > kDiscSectorSize) {
            return fail_here(DiscFaultKind::RecordCrossesSector);
        }
        if (frame.at + length > frame.length) {
            return fail_here(DiscFaultKind::RecordPastDirectory);
        }
        const Bytes bytes = Bytes(frame.window).subspan(in_window, length);
        if (length < sizeof(DirectoryRecord) + 1 ||
            sizeof(DirectoryRecord) + bytes[offsetof(DirectoryRecord, identifier_length)] > length) {
            return fail_here(DiscFaultKind::RecordTooShort);
        }
        frame.at += length;
        const auto record = load_record<DirectoryRecord>(bytes);
        const Bytes identifier = bytes.subspan(sizeof(DirectoryRecord), record.identifier_length);
        const std::size_t index = frame.records++;
        if (identifier.size() == 1 && identifier[0] == index && index < 2) {
            return 0;  // the folder itself and its parent
        }
        if (records_left_ == 0) {
            return fail_here(DiscFaultKind::TooLarge);
        }
        --records_left_;
        if ((record.flags & kAssociatedFlag) != 0) {
            return 0;
        }
        const bool directory = (record.flags & kDirectoryFlag) != 0;
        DiscItem item;
        if (const DiscFaultKind fault = shown_name(identifier, joliet_, directory, name_);
            fault != DiscFaultKind::None) {
            return fail_here(fault);
        }
        if (record.file_unit_size != 0 || record.interleave_gap_size != 0) {
            return fail_here(DiscFaultKind::Interleaved);
        }
        Range range;
        if (extent_range(record, range) != 0) {
            return fail_here(DiscFaultKind::ExtentOutsideVolume);
        }
        const std::size_t path_bytes = frame.path_bytes + (frame.path_bytes == 0 ? 0 : 1) + name_.size();
        if (path_bytes > kMaxListedPathBytes) {
            return fail_here(DiscFaultKind::PathTooLong);
        }
        item.parent = folder;
        item.directory = directory;
        item.size = record.data_length.little;
        if (const std::optional<std::int64_t> time = utc_time(record.recording_time)) {
            item.time = *time;
            item.timed = true;
        }
        item.sector = range.start + record.extended_attribute_length;
        if (pending_ || (record.flags & kMultiExtentFlag) != 0) {
            return next_extent(listing, record, identifier, range, item);
        }
        if (directory) {
            return add_directory(listing, record, range, item, path_bytes);
        }
        if (add_file(range, listing, folder) != 0) {
            return -1;
        }
        return keep(listing, item, name_);
    }

    // A file goes in the listing only of the tree asked for: the other one's
    // folders alone are kept, which name where a fault lies.
    [[nodiscard]] int keep(DiscListing& listing, const DiscItem& item, std::string_view name)
    {
        return keep_files_ ? add(listing, item, name) : 0;
    }

    [[nodiscard]] int add(DiscListing& listing, DiscItem item, std::string_view name)
    {
        item.name_at = listing.names.add(name);
        if (item.name_at == NamePool::kFull) {
            return fail(DiscFaultKind::TooLarge, &listing, stack_.back().item);
        }
        item.name_bytes = static_cast<std::uint16_t>(name.size());
        listing.items.push_back(item);
        return 0;
    }

    [[nodiscard]] int add_directory(DiscListing& listing, const DirectoryRecord& record, Range range,
                                    const DiscItem& item, std::size_t path_bytes)
    {
        if (directories_.overlaps(range)) {
            const bool ancestor = std::any_of(stack_.begin(), stack_.end(), [&](const Frame& frame) {
                return frame.range.start < range.end && range.start < frame.range.end;
            });
            return fail(ancestor ? DiscFaultKind::DirectoryLoop : DiscFaultKind::SharedDirectory, &listing,
                        stack_.back().item);
        }
        if (files_.overlaps(range)) {
            return fail(DiscFaultKind::FileOverDirectory, &listing, stack_.back().item);
        }
        directories_.merge(range);
        if (add(listing, item, name_) != 0) {
            return -1;
        }
        return enter(record, range, static_cast<std::uint32_t>(listing.items.size() - 1), path_bytes, listing);
    }

    [[nodiscard]] int add_file(Range range, const DiscListing& listing, std::uint32_t folder)
    {
        if (range.start == range.end) {
            return 0;
        }
        if (range.start < descriptors_.end && descriptors_.start < range.end) {
            return fail(DiscFaultKind::FileOverDescriptors, &listing, folder);
        }
        if (directories_.overlaps(range)) {
            return fail(DiscFaultKind::FileOverDirectory, &listing, folder);
        }
        files_.merge(range);
        return 0;
    }

    // A record of a file of several extents: each but the last flagged, all
    // of one name, each extent starting where the one before ends.
    [[nodiscard]] int next_extent(DiscListing& listing, const DirectoryRecord& record, Bytes identifier, Range range,
                                  const DiscItem& item)
    {
        const std::uint32_t folder = stack_.back().item;
        if (item.directory) {
            return fail(DiscFaultKind::BrokenMultiExtent, &listing, folder);
        }
        if (pending_) {
            DiscItem& first = pending_->item;
            if (!std::equal(identifier.begin(), identifier.end(), pending_->identifier.begin(),
                            pending_->identifier.end()) ||
                first.size % kDiscSectorSize != 0 || record.extended_attribute_length != 0 ||
                (item.size != 0 && range.start != pending_->next_sector)) {
                return fail(DiscFaultKind::BrokenMultiExtent, &listing, folder);
            }
            first.size += item.size;
            pending_->next_sector = range.end;
        } else {
            pending_ = Pending{item, name_, std::vector<std::uint8_t>(identifier.begin(), identifier.end()), range.end};
        }
        if (add_file(range, listing, folder) != 0) {
            return -1;
        }
        if ((record.flags & kMultiExtentFlag) == 0) {
            const int kept = keep(listing, pending_->item, pending_->name);
            pending_.reset();
            return kept;
        }
        return 0;
    }

    ImageSource& source_;
    std::uint64_t offset_;
    std::uint64_t length_;
    DiscFault& fault_;
    std::uint32_t volume_sectors_ = 0;
    Range descriptors_;
    std::uint64_t directory_bytes_left_ = 0;
    std::uint64_t records_left_ = 0;
    bool in_tree_ = false;
    bool joliet_ = false;
    bool keep_files_ = true;
    Ranges directories_;  // of both trees
    Ranges files_;
    std::vector<Frame> stack_;
    std::optional<Pending> pending_;
    std::string name_;  // the record's shown name, one buffer for all
};

}  // namespace

std::uint32_t NamePool::add(std::string_view name)
{
    if (blocks_.empty() || blocks_.back().size() + name.size() + 1 > kBlockBytes) {
        if (blocks_.size() == kMostBlocks || name.size() + 1 > kBlockBytes) {
            return kFull;
        }
        blocks_.emplace_back().reserve(kBlockBytes);
    }
    std::vector<char>& block = blocks_.back();
    const auto where = static_cast<std::uint32_t>(((blocks_.size() - 1) << kBlockBits) + block.size());
    block.insert(block.end(), name.begin(), name.end());
    block.push_back('\0');
    return where;
}

std::string DiscListing::path(std::size_t index) const
{
    std::vector<std::uint32_t> chain;
    for (auto at = static_cast<std::uint32_t>(index); at != kInRoot && at < items.size(); at = items[at].parent) {
        chain.push_back(at);
    }
    std::string joined;
    for (auto link = chain.rbegin(); link != chain.rend(); ++link) {
        joined += joined.empty() ? "" : "/";
        joined += name(*link);
    }
    return joined;
}

int read_disc_listing(ImageSource& source, std::uint64_t offset, std::uint64_t length, DiscListing& listing,
                      DiscFault& fault, DiscNames names)
{
    fault = DiscFault{};
    Reader reader(source, offset, length, fault);
    return reader.read(listing, names);
}

}  // namespace quarnel::disc
