// The web page's entry points into the format library, called from the page's
// Web Worker (web/worker.js). The worker reads the chosen file in slices; the
// bytes it hands over are checksummed and checked here, with the same code and
// in the same words as the command-line programs, and every text, name and
// size the page shows or needs comes from here. Nothing here reaches the
// operating system: the one way out is quarnel_js_read (web/module/file_reads.js).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
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
}

namespace quarnel::web {

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
    // A packing: the folder's entries as the worker encoded them, then the
    // disc's metadata and, in data order, each extent's file by its place
    // among the files of the encoding.
    std::vector<std::uint8_t> folder;
    std::vector<std::uint8_t> metadata;
    std::vector<std::uint32_t> file_order;
};

namespace {

// The slice the worker reads at a time: large enough that a slice costs
// little beyond its bytes, small enough that memory stays flat (the module's
// memory has a fixed size, set in web/CMakeLists.txt).
constexpr std::size_t kChunkSize = std::size_t{1} << 20;
static_assert(kChunkSize % kBlockSize == 0);

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

// Reads the folder as worker.js's encodeFolder() writes it, little-endian:
// the label (u32 length + 1, 0 for none, then its UTF-8), then each entry
// before what it holds: u8 1 for a directory, u32 name length, the UTF-8
// name, f64 size, f64 seconds since the epoch, and for a directory u32 entry
// count and its entries.
class FolderReader {
public:
    explicit FolderReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    [[nodiscard]] int label(std::optional<std::string>& label)
    {
        std::uint32_t length = 0;
        if (number(length) != 0) {
            return -1;
        }
        if (length == 0) {
            return 0;
        }
        return text(length - 1, label.emplace());
    }

    // `files` gets each file entry, in the order of the encoding.
    [[nodiscard]] int entry(disc::Entry& entry, std::vector<const disc::Entry*>& files)
    {
        std::uint8_t directory = 0;
        std::uint32_t name_length = 0;
        double size = 0;
        double modified = 0;
        if (number(directory) != 0 || number(name_length) != 0 || text(name_length, entry.name) != 0 ||
            number(size) != 0 || number(modified) != 0 || !(size >= 0 && size < 0x1p64)) {
            return -1;
        }
        entry.directory = directory != 0;
        entry.size = static_cast<std::uint64_t>(size);
        entry.modified = static_cast<std::int64_t>(std::floor(modified));
        if (!entry.directory) {
            files.push_back(&entry);
            return 0;
        }
        std::uint32_t count = 0;
        if (number(count) != 0 || count > bytes_.size() - at_) {
            return -1;
        }
        // Sized before any child is read, so that the pointers in `files` stay valid.
        entry.children.resize(count);
        for (disc::Entry& child : entry.children) {
            if (this->entry(child, files) != 0) {
                return -1;
            }
        }
        return 0;
    }

    bool ended() const { return at_ == bytes_.size(); }

private:
    template <typename T> [[nodiscard]] int number(T& value)
    {
        if (bytes_.size() - at_ < sizeof(T)) {
            return -1;
        }
        std::memcpy(&value, bytes_.data() + at_, sizeof(T));  // WebAssembly is little-endian
        at_ += sizeof(T);
        return 0;
    }

    [[nodiscard]] int text(std::size_t length, std::string& text)
    {
        if (bytes_.size() - at_ < length) {
            return -1;
        }
        text.assign(reinterpret_cast<const char*>(bytes_.data() + at_), length);
        at_ += length;
        return 0;
    }

    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
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

// Checksums the `length` bytes of the chunk buffer, the source's bytes from
// `offset` (a whole number of chunks), into the image record's table.
void quarnel_convert_chunk(double offset, std::size_t length)
{
    quarnel::web::State& s = state();
    const std::span<std::uint8_t> table = quarnel::image_checksum_table(s.header_area);
    const std::span<const std::uint8_t> data(s.chunk.data(), std::min(length, s.chunk.size()));
    quarnel::checksum_blocks(data, static_cast<std::uint64_t>(offset) / quarnel::kBlockSize, table);
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

// Checks an image of `image_size` bytes read through quarnel_js_read: 0 when
// it is valid, -1 otherwise. The report is in quarnel_text(), the failure's
// line in quarnel_message(); a valid image's ISO lies at
// quarnel_payload_offset() for quarnel_payload_length() bytes.
int quarnel_check(double image_size)
{
    quarnel::web::State& s = state();
    quarnel::web::PageImageSource source(static_cast<std::uint64_t>(image_size));
    const quarnel::ImageReport report = quarnel::read_image(source, nullptr);
    s.text = quarnel::describe_report(s.image_name, report);
    if (!report.valid()) {
        s.message = quarnel::inspect_messages::fault_message(report);
        return -1;
    }
    const quarnel::RecordReport& image = report.records.back();
    s.payload_offset = image.offset + image.header.header_length;
    s.payload_length = image.header.payload_length;
    return 0;
}

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

// Where the worker puts the folder's encoding (FolderReader tells its form).
std::uint8_t* quarnel_pack_buffer(std::size_t length)
{
    quarnel::web::State& s = state();
    s = {};
    s.folder.assign(length, 0);
    return s.folder.data();
}

// Lays out the disc of the folder in quarnel_pack_buffer() for the model of
// code `model` with quarnel-pack's code: 0, then the disc is checksummed
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
    quarnel::web::FolderReader reader(s.folder);
    std::optional<std::string> label;
    quarnel::disc::Entry root;
    std::vector<const quarnel::disc::Entry*> files;
    if (reader.label(label) != 0 || reader.entry(root, files) != 0 || !reader.ended() || !root.directory) {
        s.message = quarnel::inspect_messages::error_line("the page handed over a folder it could not describe");
        return -1;
    }
    quarnel::disc::DiscLayout layout;
    quarnel::disc::Refusal refusal;
    if (quarnel::disc::lay_out_disc(root, label, layout, refusal) != 0) {
        s.message = quarnel::pack_messages::refusal(refusal, root.name);
        return -1;
    }
    std::unordered_map<const quarnel::disc::Entry*, std::uint32_t> place;
    for (std::size_t i = 0; i < files.size(); ++i) {
        place.emplace(files[i], static_cast<std::uint32_t>(i));
    }
    for (const quarnel::disc::FileExtent& extent : layout.files) {
        s.file_order.push_back(place.at(extent.entry));
    }
    // Held whole: the worker reads it out of the module's memory as one piece.
    s.metadata.resize(layout.metadata_size);
    layout.metadata->fill(0, s.metadata);
    s.source_length = std::uint64_t{layout.total_sectors} * quarnel::disc::kDiscSectorSize;
    s.model = *known;
    s.header_area.assign(quarnel::header_area_size(quarnel::block_count_for(s.source_length)), 0);
    s.chunk.resize(quarnel::web::kChunkSize);
    std::vector<std::uint8_t>().swap(s.folder);
    return 0;
}

// The laid-out disc: its metadata, then in data order each file by its
// place among the encoding's files, each zero-padded to the disc's sector.
const std::uint8_t* quarnel_pack_metadata() { return state().metadata.data(); }
std::size_t quarnel_pack_metadata_size() { return state().metadata.size(); }
std::size_t quarnel_pack_file_count() { return state().file_order.size(); }
std::uint32_t quarnel_pack_file(std::size_t index) { return state().file_order.at(index); }
double quarnel_pack_disc_size() { return static_cast<double>(state().source_length); }
std::size_t quarnel_disc_sector_size() { return quarnel::disc::kDiscSectorSize; }

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
