#include "image/image_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "image/checksum.h"

namespace quarnel {
namespace {

constexpr std::size_t kRecordsInImage = 2;
constexpr std::size_t kImageRecord = 1;  // its index among the records
// Payload bytes read at a time; the table window is sized to match. A small
// payload gets smaller windows, down to the least: each fresh page of a
// buffer costs a fault, which is a small image's whole check.
constexpr std::size_t kPayloadWindow = std::size_t{1} << 20;
constexpr std::size_t kLeastPayloadWindow = std::size_t{128} << 10;
constexpr std::uint64_t kWindowsOfASmallPayload = 16;

// The first field, in the order of the header, that quarnel would never have written.
std::optional<FieldDeviation> first_deviation(const RecordHeader& header, std::size_t record)
{
    const auto bytes = bytes_of(header);
    for (const HeaderFieldRow& row : kHeaderFields) {
        FieldDeviation found{record, row.field, 0, {}};
        bool written = false;
        if (row.kind == FieldKind::Text) {
            const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(row.offset);
            found.text.assign(first, first + static_cast<std::ptrdiff_t>(row.width));
            written = found.text == written_text(row);
        } else {
            found.number = field_number(bytes, row);
            if (row.kind == FieldKind::Number) {
                written = found.number == row.number;
            } else {
                written = record == kImageRecord ? is_convertible_length(std::uint64_t{found.number})
                                                 : found.number == kSignatureBlockSize;
            }
        }
        if (!written) {
            return found;
        }
    }
    return std::nullopt;
}

class Reader {
public:
    Reader(ImageSource& source, PayloadSink* image_payload, PayloadWindows* windows)
        : source_(source), image_payload_(image_payload), windows_(windows)
    {
    }

    ImageReport run();

private:
    void note(ImageFault fault)
    {
        if (report_.fault == ImageFault::None) {
            report_.fault = fault;
        }
    }
    void note(FieldDeviation deviation)
    {
        if (report_.fault == ImageFault::None) {
            report_.fault = ImageFault::UnexpectedField;
            report_.deviation = std::move(deviation);
        }
    }
    bool read_exactly(std::uint64_t offset, std::span<std::uint8_t> buffer);
    // A read's byte count against what it asked for: false after noting a fault.
    bool got_all(std::int64_t got, std::size_t asked);
    bool prologue_is_zero();
    // The offset after the record, or nothing when the rest cannot be read.
    std::optional<std::uint64_t> read_record(std::uint64_t offset, std::size_t index);
    bool check_blocks(RecordReport& record, PayloadSink* sink);
    void check_structure();
    void read_disc();

    ImageSource& source_;
    PayloadSink* image_payload_;
    PayloadWindows* windows_;
    ImageReport report_;
};

bool Reader::read_exactly(std::uint64_t offset, std::span<std::uint8_t> buffer)
{
    return got_all(source_.read_at(offset, buffer), buffer.size());
}

bool Reader::got_all(std::int64_t got, std::size_t asked)
{
    if (got < 0) {
        note(ImageFault::ReadFailed);
        return false;
    }
    if (static_cast<std::uint64_t>(got) != asked) {
        note(ImageFault::Truncated);
        return false;
    }
    return true;
}

bool Reader::prologue_is_zero()
{
    std::array<std::uint8_t, kPrologueSize> prologue{};
    if (!read_exactly(0, prologue)) {
        return false;
    }
    if (std::any_of(prologue.begin(), prologue.end(), [](std::uint8_t b) { return b != 0; })) {
        note(ImageFault::PrologueNotZero);
    }
    return true;
}

ImageReport Reader::run()
{
    report_.file_size = source_.size();
    if (report_.file_size < kPrologueSize) {
        note(ImageFault::Truncated);
        return report_;
    }
    if (!prologue_is_zero()) {
        return report_;
    }
    std::uint64_t offset = kPrologueSize;
    while (offset < report_.file_size && report_.records.size() < kRecordsInImage) {
        const std::optional<std::uint64_t> next = read_record(offset, report_.records.size());
        if (!next) {
            return report_;
        }
        offset = *next;
    }
    if (offset < report_.file_size) {
        note(ImageFault::TrailingData);
    }
    check_structure();
    read_disc();
    return report_;
}

std::optional<std::uint64_t> Reader::read_record(std::uint64_t offset, std::size_t index)
{
    RecordReport& record = report_.records.emplace_back();
    record.offset = offset;
    std::array<std::uint8_t, kRecordHeaderSize> bytes{};
    if (!read_exactly(offset, bytes)) {
        return std::nullopt;
    }
    std::memcpy(&record.header, bytes.data(), bytes.size());
    const RecordHeader& header = record.header;

    if (header.magic != kRecordMagic) {
        note(ImageFault::BadMagic);
    }
    if (std::optional<FieldDeviation> deviation = first_deviation(header, index)) {
        note(std::move(*deviation));
    }
    record.computed_header_checksum = header_checksum_of(header);
    if (!record.header_checksum_good()) {
        note(ImageFault::BadHeaderChecksum);
    }
    const std::uint64_t header_length = header.header_length;
    if (header_length < kRecordHeaderSize || (header_length - kRecordHeaderSize) % kTableEntrySize != 0) {
        note(ImageFault::BadHeaderLength);
        return std::nullopt;
    }
    record.table_entries = (header_length - kRecordHeaderSize) / kTableEntrySize;
    const std::uint64_t payload_length = header.payload_length;
    // Both lengths are 32-bit fields: the sum cannot overflow.
    const std::uint64_t end = offset + header_length + payload_length;
    if (end > report_.file_size) {
        note(ImageFault::Truncated);
        return std::nullopt;
    }
    if (header.block_size == 0) {
        return end;  // already a deviation; the payload has no blocks to check
    }
    if (record.table_entries != (payload_length + header.block_size - 1) / header.block_size) {
        note(ImageFault::TableMismatch);
        return end;
    }
    if (!check_blocks(record, index == kImageRecord ? image_payload_ : nullptr)) {
        return std::nullopt;
    }
    return end;
}

// A function of its own, not inlined: WebKit compiles a hot loop's function
// anew, whole, while it runs (web/CMakeLists.txt), and this loop runs for every block.
[[gnu::noinline]] bool Reader::check_blocks(RecordReport& record, PayloadSink* sink)
{
    const std::size_t block_size = record.header.block_size;
    const std::uint64_t blocks_in_all = record.table_entries;
    const std::uint64_t payload_length = record.header.payload_length;
    const std::uint64_t table_offset = record.offset + kRecordHeaderSize;
    const std::uint64_t payload_offset = record.payload_offset();
    // No larger than the record needs: small records are the common case of damaged input.
    const std::uint64_t most = std::max<std::size_t>(1, kPayloadWindow / block_size);
    const std::uint64_t least =
        std::min<std::uint64_t>(most, std::max<std::size_t>(1, kLeastPayloadWindow / block_size));
    const auto window_blocks = static_cast<std::size_t>(std::min(
        std::max<std::uint64_t>(blocks_in_all, 1), std::clamp(blocks_in_all / kWindowsOfASmallPayload, least, most)));

    SourceWindows own(source_);
    PayloadWindows* const windows = windows_ != nullptr ? windows_ : &own;
    windows->begin(payload_offset, payload_length, window_blocks * block_size, block_size);
    std::vector<std::uint8_t> table(window_blocks * kTableEntrySize);
    for (std::uint64_t first = 0; first < blocks_in_all; first += window_blocks) {
        const auto blocks = static_cast<std::size_t>(std::min<std::uint64_t>(window_blocks, blocks_in_all - first));
        const std::span<std::uint8_t> entries = std::span(table).first(blocks * kTableEntrySize);
        if (!read_exactly(table_offset + first * kTableEntrySize, entries)) {
            return false;
        }
        std::span<const std::uint8_t> data;
        std::span<const std::uint8_t> checksums;
        const auto asked =
            static_cast<std::size_t>(std::min<std::uint64_t>(blocks * block_size, payload_length - first * block_size));
        if (!got_all(windows->next(data, checksums), asked)) {
            return false;
        }
        // Checksums alone are enough for the check, never for the sink or the signature's text.
        if (data.size() != asked && (sink != nullptr || first == 0)) {
            note(ImageFault::ReadFailed);
            return false;
        }
        if (first == 0) {
            const auto head = data.first(std::min(data.size(), kSignatureBlockSize));
            record.payload_head.assign(head.begin(), head.end());
        }
        if (!record.first_bad_block) {
            const auto differs = std::mismatch(checksums.begin(), checksums.end(), entries.begin()).first;
            if (differs != checksums.end()) {
                const std::uint64_t bad =
                    first + static_cast<std::uint64_t>(differs - checksums.begin()) / kTableEntrySize;
                record.first_bad_block = bad;
                record.first_bad_block_offset = payload_offset + bad * block_size;
                note(ImageFault::BadBlockChecksum);
            }
        }
        if (sink != nullptr && !report_.payload_sink_failed && sink->write(data) != 0) {
            report_.payload_sink_failed = true;  // the image is still checked to its end
        }
    }
    record.blocks_checked = true;
    return true;
}

void Reader::check_structure()
{
    if (report_.records.empty()) {
        note(ImageFault::BadSignatureRecord);
        return;
    }
    const RecordReport& signature = report_.records[0];
    const RecordType signature_type = record_type(signature.header.type_code);
    if (signature_type.kind != RecordKind::Signature || signature.header.payload_length != kSignatureBlockSize ||
        !signature_text(signature.payload_head)) {
        note(ImageFault::BadSignatureRecord);
        return;
    }
    if (report_.records.size() < kRecordsInImage) {
        note(ImageFault::BadImageRecord);
        return;
    }
    const RecordType image_type = record_type(report_.records[1].header.type_code);
    if (image_type.kind != RecordKind::Image) {
        note(ImageFault::BadImageRecord);
        return;
    }
    if (signature_type.model != image_type.model) {
        note(ImageFault::MixedModels);
        return;
    }
    report_.model = image_type.model;
}

void Reader::read_disc()
{
    if (report_.records.size() != kRecordsInImage) {
        return;
    }
    const RecordReport& image = report_.records[kImageRecord];
    const std::uint64_t payload_length = image.header.payload_length;
    DiscVolume disc;
    if (read_disc_volume(source_, image.payload_offset(), payload_length, disc) != 0) {
        note(ImageFault::ReadFailed);
        return;
    }
    // A modem's CD-ROM would end in unreadable sectors.
    if (disc.iso9660 && disc.volume_bytes() > payload_length) {
        note(ImageFault::VolumeCutShort);
    }
    report_.disc = std::move(disc);
}

}  // namespace

void SourceWindows::begin(std::uint64_t offset, std::uint64_t length, std::size_t window_size, std::size_t block_size)
{
    offset_ = offset;
    length_ = length;
    block_size_ = block_size;
    bytes_.resize(window_size);
    checksums_.resize(window_size / block_size * kTableEntrySize);
}

std::int64_t SourceWindows::next(std::span<const std::uint8_t>& bytes, std::span<const std::uint8_t>& checksums)
{
    const auto asked = static_cast<std::size_t>(std::min<std::uint64_t>(bytes_.size(), length_));
    const std::int64_t got = source_.read_at(offset_, std::span(bytes_).first(asked));
    if (got == static_cast<std::int64_t>(asked)) {
        bytes = std::span(bytes_).first(asked);
        checksums = std::span(checksums_).first((asked + block_size_ - 1) / block_size_ * kTableEntrySize);
        checksum_blocks(bytes, 0, checksums_, block_size_);
        offset_ += asked;
        length_ -= asked;
    }
    return got;
}

RecordType record_type(std::uint16_t type_code)
{
    for (ModemModel model : {ModemModel::Default, ModemModel::E220}) {
        const TypeCodes codes = type_codes(model);
        if (type_code == codes.signature_record) {
            return {RecordKind::Signature, model};
        }
        if (type_code == codes.image_record) {
            return {RecordKind::Image, model};
        }
    }
    return {};
}

std::optional<std::string> signature_text(std::span<const std::uint8_t> payload)
{
    const auto terminator = std::find(payload.begin(), payload.end(), 0);
    if (terminator == payload.end() || !std::all_of(terminator, payload.end(), [](std::uint8_t b) { return b == 0; })) {
        return std::nullopt;
    }
    std::string text(payload.begin(), terminator);
    if (std::count(text.begin(), text.end(), '\n') != 2 || !text.ends_with('\n') || text.starts_with('\n') ||
        text.find("\n\n") != std::string::npos) {
        return std::nullopt;
    }
    return text;
}

ImageReport read_image(ImageSource& source, PayloadSink* image_payload, PayloadWindows* windows)
{
    return Reader(source, image_payload, windows).run();
}

}  // namespace quarnel
