// The web page's entry points into the format library, called from the page's
// Web Worker (web/worker/). The worker reads the chosen file in slices; the
// bytes it hands over are checksummed and checked here, with the same code and
// in the same words as the command-line programs, and every text, name and
// size the page shows or needs comes from here. Nothing here reaches the
// operating system: the ways out are the imports declared first (web/module/file_reads.js).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "convert/convert_messages.h"
#include "disc/disc_layout.h"
#include "image/checksum.h"
#include "image/header_area.h"
#include "image/image_reader.h"
#include "image/image_source.h"
#include "inspect/inspect_messages.h"
#include "inspect/inspect_report.h"
#include "pack/pack_messages.h"

extern "C" {
// Fills `length` bytes at `buffer` from the file at `offset`; the count read, or -1 when the file cannot be read.
double quarnel_js_read(double offset, std::uint8_t* buffer, std::size_t length);
// The furthest byte of the file read so far, and the file's size.
void quarnel_js_progress(double done, double total);
// A check split over two workers: the other checksums the `length` bytes of
// payload at `offset` from `at` on, and quarnel_js_table() later fills
// `length` bytes at `table` with their entries: 0, or -1 when it could not.
void quarnel_js_split(double offset, double length, double at);
double quarnel_js_table(std::uint8_t* table, std::size_t length);
}

namespace quarnel::web {

// The folder as the worker hands it over (web/worker/folder.js, handOver),
// the one place its form is told: each entry by one quarnel_pack_entry()
// call, a directory before what it holds, its name first put in
// quarnel_pack_text(); a label likewise, before the root. The tree is built
// as the calls come, each directory's children sized at once so that the
// pointers to its files stay valid.
class FolderBuilder {
public:
    // 0, or -1 when no directory is left to take the entry or a number is no size.
    [[nodiscard]] int add(std::string name, bool directory, double size, double modified, std::uint32_t count)
    {
        disc::Entry* entry = &root_;
        if (started_) {
            if (open_.empty()) {
                failed_ = true;
                return -1;
            }
            Open& parent = open_.back();
            entry = &parent.directory->children[parent.next++];
            if (parent.next == parent.directory->children.size()) {
                open_.pop_back();
            }
        }
        started_ = true;
        if (!(size >= 0 && size < 0x1p64)) {
            failed_ = true;
            return -1;
        }
        entry->name = std::move(name);
        entry->directory = directory;
        entry->size = static_cast<std::uint64_t>(size);
        entry->modified = static_cast<std::int64_t>(std::floor(modified));
        if (!directory) {
            files_.push_back(entry);
        } else if (count > 0) {
            entry->children.resize(count);
            open_.push_back({entry, 0});
        }
        return 0;
    }

    // The whole folder once every directory has its entries, else null.
    const disc::Entry* root() const
    {
        return started_ && !failed_ && open_.empty() && root_.directory ? &root_ : nullptr;
    }
    // The file entries in the order handed over, which the worker's file numbers follow.
    const std::vector<const disc::Entry*>& files() const { return files_; }

private:
    struct Open {
        disc::Entry* directory;
        std::size_t next;
    };
    disc::Entry root_;
    bool started_ = false;
    bool failed_ = false;
    std::vector<Open> open_;
    std::vector<const disc::Entry*> files_;
};

// One conversion or check at a time: the worker runs its jobs in turn, each starting from a fresh state.
struct State {
    std::vector<std::uint8_t> chunk;
    std::vector<std::uint8_t> header_area;
    std::uint64_t source_length = 0;
    ModemModel model = ModemModel::Default;
    std::string image_name;
    std::string text;     // the report, or empty
    std::string message;  // the command line's error line, or empty
    std::uint64_t payload_offset = 0;
    std::uint64_t payload_length = 0;
    DiscFiles files;         // a valid image's disc: its tree, or the fault that stopped it
    std::string disc_fault;  // that fault's line, or empty
    // A packing: the folder as the worker hands it over, then the disc's
    // metadata and, in data order, each extent's file by its place among
    // the folder's files.
    std::string pending;  // the next name or label, as UTF-8
    std::optional<std::string> label;
    FolderBuilder folder;
    std::vector<std::uint8_t> metadata;
    std::vector<std::uint32_t> file_order;
    std::vector<std::uint32_t> file_padding;  // the zeros after each, in data order
};

namespace {

// The slice the worker reads at a time: large enough that a slice costs
// little beyond its bytes, small enough that memory stays flat (the module's
// memory has a fixed size, set in web/CMakeLists.txt).
constexpr std::size_t kChunkSize = std::size_t{1} << 20;
static_assert(kChunkSize % kBlockSize == 0);

// A job reading this much or more goes on two workers at once (where the
// page has two): below it the second's start and its table cost more than
// its half of the reading saves.
constexpr std::uint64_t kLeastSplit = 2 * kChunkSize;

// Where a job of `total` bytes splits: at a whole number of `unit`s (the
// worker's chunks, the check's windows) near its half, or 0 for no split.
constexpr std::uint64_t split_at(std::uint64_t total, std::uint64_t unit)
{
    return total < kLeastSplit ? 0 : total / 2 / unit * unit;
}

// The models the page offers, by their code: a model's code is its place here.
constexpr std::array kModels{ModemModel::Default, ModemModel::E220};

std::optional<ModemModel> model_of(int code)
{
    if (code < 0 || static_cast<std::size_t>(code) >= kModels.size()) {
        return std::nullopt;
    }
    return kModels.at(static_cast<std::size_t>(code));
}

State& state()
{
    static State instance;
    return instance;
}

// A length from JavaScript, a whole number below 2^53, under quarnel's own rule.
bool is_convertible_length(double length)
{
    constexpr double kAboveAnyLength = 0x1p53;
    return length >= 0 && length < kAboveAnyLength && std::floor(length) == length &&
           quarnel::is_convertible_length(static_cast<std::uint64_t>(length));
}

class PageImageSource final : public ImageSource {
public:
    explicit PageImageSource(std::uint64_t size) : size_(size) {}
    std::uint64_t size() const override { return size_; }
    [[nodiscard]] std::int64_t read_at(std::uint64_t offset, std::span<std::uint8_t> buffer) override
    {
        const std::size_t length =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size_ - std::min(offset, size_)));
        const double got = length == 0 ? 0 : quarnel_js_read(static_cast<double>(offset), buffer.data(), length);
        if (got < 0) {
            return -1;
        }
        // The reader goes front to back but for a few small reads: the furthest byte read is the progress.
        if (offset + static_cast<std::uint64_t>(got) > furthest_) {
            furthest_ = offset + static_cast<std::uint64_t>(got);
            quarnel_js_progress(static_cast<double>(furthest_), static_cast<double>(size_));
        }
        return static_cast<std::int64_t>(got);
    }

private:
    std::uint64_t size_;
    std::uint64_t furthest_ = 0;
};

// The payload windows of a check, where another worker may take a large
// payload's second half: this module reads and checksums the windows before
// the split, and takes the other's checksums of the rest, without its bytes.
class SplitWindows final : public PayloadWindows {
public:
    SplitWindows(ImageSource& source, bool splits) : source_(source), own_(source), splits_(splits) {}

    void begin(std::uint64_t offset, std::uint64_t length, std::size_t window_size, std::size_t block_size) override
    {
        own_.begin(offset, length, window_size, block_size);
        length_ = length;
        window_size_ = window_size;
        done_ = 0;
        at_ = 0;
        const std::uint64_t at = split_at(length, window_size);
        // Only the image record's payload is that large; the other worker checksums the blocks quarnel writes.
        if (splits_ && block_size == kBlockSize && at > 0 && quarnel::is_convertible_length(length) &&
            offset + length <= source_.size()) {
            splits_ = false;
            at_ = at;
            table_.assign((block_count_for(length) - at_ / kBlockSize) * kTableEntrySize, 0);
            taken_ = false;
            quarnel_js_split(static_cast<double>(offset), static_cast<double>(length), static_cast<double>(at_));
        }
    }

    [[nodiscard]] std::int64_t next(std::span<const std::uint8_t>& bytes,
                                    std::span<const std::uint8_t>& checksums) override
    {
        if (at_ == 0 || done_ < at_) {
            const std::int64_t got = own_.next(bytes, checksums);
            done_ += static_cast<std::uint64_t>(std::max<std::int64_t>(got, 0));
            return got;
        }
        if (!taken_) {
            if (quarnel_js_table(table_.data(), table_.size()) != 0) {
                return -1;
            }
            taken_ = true;
        }
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(window_size_, length_ - done_));
        bytes = {};
        checksums = std::span(table_).subspan(static_cast<std::size_t>((done_ - at_) / kBlockSize * kTableEntrySize),
                                              (length + kBlockSize - 1) / kBlockSize * kTableEntrySize);
        done_ += length;
        return static_cast<std::int64_t>(length);
    }

private:
    ImageSource& source_;
    SourceWindows own_;
    bool splits_;
    std::uint64_t length_ = 0;
    std::size_t window_size_ = 0;
    std::uint64_t done_ = 0;  // the payload's bytes handed over
    std::uint64_t at_ = 0;    // where the other worker's part starts, 0 for none
    bool taken_ = false;
    std::vector<std::uint8_t> table_;
};

}  // namespace
}  // namespace quarnel::web

using quarnel::web::state;

extern "C" {

// The models, by code from 0 to quarnel_model_count() - 1, each with its name as /model: takes it.
int quarnel_model_count() { return static_cast<int>(quarnel::web::kModels.size()); }
const char* quarnel_model_name(int model) { return quarnel::model_name(quarnel::web::model_of(model)).data(); }

// Starts a conversion of a source of `source_length` bytes for the model of
// code `model`: 0, or -1 with the refusal in quarnel_message().
int quarnel_convert_begin(double source_length, int model)
{
    quarnel::web::State& s = state();
    s = {};
    const std::optional<quarnel::ModemModel> known = quarnel::web::model_of(model);
    if (!known) {
        s.message = quarnel::messages::kUsage;  // as the command line answers what it cannot take
        return -1;
    }
    if (!quarnel::web::is_convertible_length(source_length)) {
        s.message = quarnel::messages::kBadSourceLength;
        return -1;
    }
    s.source_length = static_cast<std::uint64_t>(source_length);
    s.model = *known;
    s.header_area.assign(quarnel::header_area_size(quarnel::block_count_for(s.source_length)), 0);
    s.chunk.resize(quarnel::web::kChunkSize);
    return 0;
}

// Where the worker puts each slice of the source, and how large a slice is.
std::uint8_t* quarnel_chunk_buffer() { return state().chunk.data(); }
std::size_t quarnel_chunk_size() { return quarnel::web::kChunkSize; }

// Where a job reading `total` bytes splits over two workers, at a chunk; 0
// where it does not (below quarnel_least_split()).
double quarnel_split_at(double total)
{
    return static_cast<double>(quarnel::web::split_at(static_cast<std::uint64_t>(total), quarnel::web::kChunkSize));
}
double quarnel_least_split() { return static_cast<double>(quarnel::web::kLeastSplit); }

// Checksums the `length` bytes of the chunk buffer, the source's bytes from
// `offset` (a whole number of chunks), into the image record's table.
void quarnel_convert_chunk(double offset, std::size_t length)
{
    quarnel::web::State& s = state();
    const std::span<std::uint8_t> table = quarnel::image_checksum_table(s.header_area);
    const std::span<const std::uint8_t> data(s.chunk.data(), std::min(length, s.chunk.size()));
    quarnel::checksum_blocks(data, static_cast<std::uint64_t>(offset) / quarnel::kBlockSize, table);
}

// The table's entries of the source's blocks from `offset` (a whole number of
// chunks) to its end: a job split over two workers checksums its second part
// in another module, whose entries are copied into this one's before finish.
std::uint8_t* quarnel_convert_table_at(double offset)
{
    const std::span<std::uint8_t> table = quarnel::image_checksum_table(state().header_area);
    return table.data() + static_cast<std::uint64_t>(offset) / quarnel::kBlockSize * quarnel::kTableEntrySize;
}
std::size_t quarnel_convert_table_size(double offset)
{
    const std::uint64_t blocks = quarnel::block_count_for(state().source_length);
    const std::uint64_t first = static_cast<std::uint64_t>(offset) / quarnel::kBlockSize;
    return static_cast<std::size_t>(first < blocks ? (blocks - first) * quarnel::kTableEntrySize : 0);
}

// Once every chunk is checksummed: the header area, which goes before the
// source's own bytes in the image.
const std::uint8_t* quarnel_convert_finish()
{
    quarnel::web::State& s = state();
    quarnel::build_header_area(s.header_area, static_cast<std::uint32_t>(s.source_length), s.model);
    return s.header_area.data();
}
std::size_t quarnel_header_area_size() { return state().header_area.size(); }

// Where the worker puts the image's name, as UTF-8, before quarnel_check().
char* quarnel_name_buffer(std::size_t length)
{
    quarnel::web::State& s = state();
    s = {};
    s.image_name.assign(length, '\0');
    return s.image_name.data();
}

// Checks an image of `image_size` bytes read through quarnel_js_read, a large
// payload's second half on another worker where `splits` is 1: 0 when it is
// valid, -1 otherwise. The report is in quarnel_text(), the failure's line in
// quarnel_message(); a valid image's ISO lies at quarnel_payload_offset() for
// quarnel_payload_length() bytes.
int quarnel_check(double image_size, int splits)
{
    quarnel::web::State& s = state();
    quarnel::web::PageImageSource source(static_cast<std::uint64_t>(image_size));
    quarnel::web::SplitWindows windows(source, splits == 1);
    const quarnel::ImageReport report = quarnel::read_image(source, nullptr, &windows);
    s.text.clear();
    (void)quarnel::write_report(s.image_name, report, nullptr, [&s](std::string_view piece) {
        s.text += piece;
        return 0;
    });
    if (!report.valid()) {
        s.message = quarnel::inspect_messages::fault_message(report);
        return -1;
    }
    const quarnel::RecordReport& image = report.records.back();
    s.payload_offset = image.payload_offset();
    s.payload_length = image.header.payload_length;
    s.files = quarnel::list_disc_files(source, report);
    if (!s.files.readable()) {
        s.disc_fault = quarnel::inspect_messages::disc_fault_message(s.files.fault);
    }
    return 0;
}

// A valid image's disc, as /files lists it: its files and folders in the
// listing's order, each in the folder of the item its parent names (-1: the
// root), a file's bytes at its offset in the image; or, when the tree cannot
// be read safely, the fault's line and no items.
std::size_t quarnel_disc_item_count() { return state().disc_fault.empty() ? state().files.listing.items.size() : 0; }
const char* quarnel_disc_item_name(std::size_t i)
{
    const auto& listing = state().files.listing;
    return listing.names.at(listing.items.at(i).name_at);  // each name ends in a NUL
}
int quarnel_disc_item_parent(std::size_t i)
{
    const std::uint32_t parent = state().files.listing.items.at(i).parent;
    return parent == quarnel::disc::kInRoot ? -1 : static_cast<int>(parent);
}
int quarnel_disc_item_is_folder(std::size_t i) { return state().files.listing.items.at(i).directory ? 1 : 0; }
double quarnel_disc_item_size(std::size_t i) { return static_cast<double>(state().files.listing.items.at(i).size); }
double quarnel_disc_item_offset(std::size_t i)
{
    return static_cast<double>(state().payload_offset + std::uint64_t{state().files.listing.items.at(i).sector} *
                                                            quarnel::disc::kDiscSectorSize);
}
const char* quarnel_disc_fault() { return state().disc_fault.c_str(); }

const char* quarnel_text() { return state().text.c_str(); }
const char* quarnel_message() { return state().message.c_str(); }
double quarnel_payload_offset() { return static_cast<double>(state().payload_offset); }
double quarnel_payload_length() { return static_cast<double>(state().payload_length); }

// The refusal when the source cannot be read, or changes while it is read.
const char* quarnel_unreadable_source_message() { return quarnel::messages::kUnableToReadSource.data(); }

// The refusal when the image to save cannot be stored (the browser's temporary file).
const char* quarnel_unwritable_destination_message() { return quarnel::messages::kUnableToWriteDestination.data(); }

// What quarnel prints once it has written the image.
const char* quarnel_success_message() { return quarnel::messages::kSuccess.data(); }

// The error line for `description`, as the programs word one.
const char* quarnel_error_line(const char* description)
{
    static std::string line;
    line = quarnel::inspect_messages::error_line(description);
    return line.c_str();
}

// A packing's start: the folder is handed over next (FolderBuilder tells how).
void quarnel_pack_begin() { state() = {}; }

// Where the worker puts the next name, or the label, as UTF-8 of `length` bytes.
char* quarnel_pack_text(std::size_t length)
{
    quarnel::web::State& s = state();
    s.pending.assign(length, '\0');
    return s.pending.data();
}

// The text put in quarnel_pack_text() is the volume label.
void quarnel_pack_label() { state().label = std::move(state().pending); }

// The next entry of the folder, named by the text put in quarnel_pack_text():
// a directory (`directory` 1) of `count` entries, which come next, or a file of
// `size` bytes; `modified` in seconds since the epoch. 0, or -1 when it is more
// than the folder holds.
int quarnel_pack_entry(int directory, double size, double modified, std::uint32_t count)
{
    quarnel::web::State& s = state();
    return s.folder.add(std::move(s.pending), directory != 0, size, modified, count);
}

// Lays out the disc of the folder handed over for the model of code `model`
// with quarnel-pack's code: 0, then the disc is checksummed
// chunk by chunk (quarnel_convert_chunk) and quarnel_convert_finish() gives
// its header area; or -1 with quarnel-pack's refusal in quarnel_message(),
// the paths below the folder's name.
int quarnel_pack_layout(int model)
{
    quarnel::web::State& s = state();
    const std::optional<quarnel::ModemModel> known = quarnel::web::model_of(model);
    if (!known) {
        s.message = quarnel::pack_messages::kUsage;
        return -1;
    }
    const quarnel::disc::Entry* root = s.folder.root();
    if (root == nullptr) {
        s.message = quarnel::inspect_messages::error_line("the page handed over a folder it could not describe");
        return -1;
    }
    quarnel::disc::DiscLayout layout;
    quarnel::disc::Refusal refusal;
    if (quarnel::disc::lay_out_disc(*root, s.label, layout, refusal) != 0) {
        s.message = quarnel::pack_messages::refusal(refusal, root->name);
        return -1;
    }
    std::unordered_map<const quarnel::disc::Entry*, std::uint32_t> place;
    const std::vector<const quarnel::disc::Entry*>& files = s.folder.files();
    for (std::size_t i = 0; i < files.size(); ++i) {
        place.emplace(files[i], static_cast<std::uint32_t>(i));
    }
    for (const quarnel::disc::FileExtent& extent : layout.files) {
        s.file_order.push_back(place.at(extent.entry));
        s.file_padding.push_back(extent.padding());
    }
    // Held whole: the worker reads it out of the module's memory as one piece.
    s.metadata.resize(layout.metadata_size);
    layout.metadata->fill(0, s.metadata);
    s.source_length = std::uint64_t{layout.total_sectors} * quarnel::disc::kDiscSectorSize;
    s.model = *known;
    s.header_area.assign(quarnel::header_area_size(quarnel::block_count_for(s.source_length)), 0);
    s.chunk.resize(quarnel::web::kChunkSize);
    s.folder = {};
    return 0;
}

// The laid-out disc: its metadata, then in data order each file by its
// place among the folder's files, each followed by its padding's zeros.
const std::uint8_t* quarnel_pack_metadata() { return state().metadata.data(); }
std::size_t quarnel_pack_metadata_size() { return state().metadata.size(); }
std::size_t quarnel_pack_file_count() { return state().file_order.size(); }
std::uint32_t quarnel_pack_file(std::size_t index) { return state().file_order.at(index); }
double quarnel_pack_disc_size() { return static_cast<double>(state().source_length); }
std::uint32_t quarnel_pack_file_padding(std::size_t index) { return state().file_padding.at(index); }

// quarnel-pack's line for a file it cannot read, or that changed while read: `path` below `folder`, or the
// folder itself where empty, shown as the program shows it.
const char* quarnel_pack_unreadable_message(const char* folder, const char* path)
{
    static std::string line;
    line = quarnel::pack_messages::unable_to_read(quarnel::pack_messages::below(folder, path));
    return line.c_str();
}

// quarnel-pack's line for an image it could not write, `destination` its name.
const char* quarnel_pack_unwritable_message(const char* destination)
{
    static std::string line;
    line = quarnel::pack_messages::unable_to_write_destination(destination);
    return line.c_str();
}

// What quarnel-pack prints once it has written the image.
const char* quarnel_pack_success_message() { return quarnel::pack_messages::kSuccess.data(); }

}  // extern "C"
