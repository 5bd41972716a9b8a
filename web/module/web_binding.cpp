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
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "convert/convert_messages.h"
#include "image/checksum.h"
#include "image/header_area.h"
#include "image/image_reader.h"
#include "image/image_source.h"
#include "inspect/inspect_messages.h"
#include "inspect/inspect_report.h"

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

// What quarnel prints once it has written the image.
const char* quarnel_success_message() { return quarnel::messages::kSuccess.data(); }

// The error line for `description`, as the programs word one.
const char* quarnel_error_line(const char* description)
{
    static std::string line;
    line = quarnel::inspect_messages::error_line(description);
    return line.c_str();
}

}  // extern "C"
