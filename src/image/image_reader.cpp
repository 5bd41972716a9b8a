#include "image/image_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "image/checksum.h"

namespace quarnel {
namespace {

constexpr std::size_t kRecordsInImage = 2;
// Payload bytes read at a time; the table window is sized to match.
constexpr std::size_t kPayloadWindow = std::size_t{1} << 20;

template <std::size_t N> bool is_zero_filled_text(const std::array<char, N>& field)
{
    const auto terminator = std::find(field.begin(), field.end(), '\0');
    return std::all_of(terminator, field.end(), [](char c) { return c == '\0'; });
}

bool has_fixed_fields(const RecordHeader& header)
{
    return header.fixed_one == kFixedOne && header.zero_10 == 0 && header.zero_20 == 0 && header.zero_96 == 0 &&
           header.ident_text == fixed_text<8>(kIdentText) && is_zero_filled_text(header.date_text) &&
           is_zero_filled_text(header.time_text) && is_zero_filled_text(header.label_text);
}

class Reader {
public:
    Reader(ImageSource& source, PayloadSink* image_payload) : source_(source), image_payload_(image_payload) {}

    ImageReport run();

private:
    void note(ImageFault fault)
    {
        if (report_.fault == ImageFault::None) {
            report_.fault = fault;
        }
    }
    bool read_exactly(std::uint64_t offset, std::span<std::uint8_t> buffer);
    bool prologue_is_zero();
    // The offset after the record, or nothing when the rest cannot be read.
    std::optional<std::uint64_t> read_record(std::uint64_t offset, bool is_image_record);
    bool check_blocks(RecordReport& record, PayloadSink* sink);
    void check_structure();

    ImageSource& source_;
    PayloadSink* image_payload_;
    ImageReport report_;
};

bool Reader::read_exactly(std::uint64_t offset, std::span<std::uint8_t> buffer)
{
    const std::int64_t got = source_.read_at(offset, buffer);
    if (got < 0) {
        note(ImageFault::ReadFailed);
        return false;
    }
    if (static_cast<std::uint64_t>(got) != buffer.size()) {
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
        const std::optional<std::uint64_t> next = read_record(offset, report_.records.size() == 1);
        if (!next) {
            return report_;
        }
        offset = *next;
    }
    if (offset < report_.file_size) {
        note(ImageFault::TrailingData);
    }
    check_structure();
    return report_;
}

std::optional<std::uint64_t> Reader::read_record(std::uint64_t offset, bool is_image_record)
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
    if (!has_fixed_fields(header)) {
        note(ImageFault::BadFixedFields);
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
        note(ImageFault::ZeroBlockSize);
        return end;
    }
    if (record.table_entries != (payload_length + header.block_size - 1) / header.block_size) {
        note(ImageFault::TableMismatch);
        return end;
    }
    if (!check_blocks(record, is_image_record ? image_payload_ : nullptr)) {
        return std::nullopt;
    }
    return end;
}

bool Reader::check_blocks(RecordReport& record, PayloadSink* sink)
{
    const std::size_t block_size = record.header.block_size;
    const std::uint64_t payload_length = record.header.payload_length;
    const std::uint64_t table_offset = record.offset + kRecordHeaderSize;
    const std::uint64_t payload_offset = record.offset + record.header.header_length;
    const std::size_t window_blocks = std::max<std::size_t>(1, kPayloadWindow / block_size);

    std::vector<std::uint8_t> payload(window_blocks * block_size);
    std::vector<std::uint8_t> table(window_blocks * kTableEntrySize);
    for (std::uint64_t first = 0; first < record.table_entries; first += window_blocks) {
        const auto blocks =
            static_cast<std::size_t>(std::min<std::uint64_t>(window_blocks, record.table_entries - first));
        const auto length =
            static_cast<std::size_t>(std::min<std::uint64_t>(blocks * block_size, payload_length - first * block_size));
        const std::span<std::uint8_t> entries(table.data(), blocks * kTableEntrySize);
        const std::span<std::uint8_t> data(payload.data(), length);
        if (!read_exactly(table_offset + first * kTableEntrySize, entries) ||
            !read_exactly(payload_offset + first * block_size, data)) {
            return false;
        }
        if (first == 0) {
            const auto head = data.first(std::min(data.size(), kSignatureBlockSize));
            record.payload_head.assign(head.begin(), head.end());
        }
        for (std::size_t i = 0; i < blocks && !record.first_bad_block; ++i) {
            const std::size_t at = i * block_size;
            const std::uint16_t computed = block_checksum(data.subspan(at, std::min(block_size, length - at)));
            if (computed != load_ul16(entries, i * kTableEntrySize)) {
                record.first_bad_block = first + i;
                record.first_bad_block_offset = payload_offset + (first + i) * block_size;
                note(ImageFault::BadBlockChecksum);
            }
        }
        if (sink != nullptr && sink->write(data) != 0) {
            note(ImageFault::SinkFailed);
            return false;
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
    const TypeCodeMeaning signature_meaning = describe_type_code(signature.header.type_code);
    if (signature_meaning.kind != RecordKind::Signature || signature.header.payload_length != kSignatureBlockSize ||
        !signature_text(signature.payload_head)) {
        note(ImageFault::BadSignatureRecord);
        return;
    }
    if (report_.records.size() < kRecordsInImage) {
        note(ImageFault::BadImageRecord);
        return;
    }
    const TypeCodeMeaning image_meaning = describe_type_code(report_.records[1].header.type_code);
    if (image_meaning.kind != RecordKind::Image) {
        note(ImageFault::BadImageRecord);
        return;
    }
    if (signature_meaning.model != image_meaning.model) {
        note(ImageFault::MixedModels);
        return;
    }
    report_.model = image_meaning.model;
}

}  // namespace

std::int64_t MemoryImageSource::read_at(std::uint64_t offset, std::span<std::uint8_t> buffer)
{
    if (offset >= bytes_.size()) {
        return 0;
    }
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), bytes_.size() - offset));
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), count, buffer.begin());
    return static_cast<std::int64_t>(count);
}

TypeCodeMeaning describe_type_code(std::uint16_t type_code)
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

ImageReport read_image(ImageSource& source, PayloadSink* image_payload) { return Reader(source, image_payload).run(); }

}  // namespace quarnel
