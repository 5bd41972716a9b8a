// The 98-byte header that starts each record of a modem image.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>

#include "image/integers.h"

namespace quarnel {

struct RecordHeader {
    ul32 magic;
    ul32 header_length;  // from the record's start to its payload
    ul16 fixed_one;
    ul16 reserved_after_fixed_one;
    std::array<char, 8> ident_text;
    ul16 reserved_before_type_code;
    ul16 type_code;
    ul32 payload_length;
    std::array<char, 16> date_text;
    std::array<char, 16> time_text;
    std::array<char, 32> label_text;
    ul16 header_checksum;
    ul16 block_size;
    ul16 reserved_at_end;
};

inline constexpr std::size_t kRecordHeaderSize = sizeof(RecordHeader);
inline constexpr std::uint32_t kRecordMagic = 0xA55AAA55;
inline constexpr std::uint16_t kFixedOne = 1;
inline constexpr std::uint16_t kBlockSize = 4096;
// The checksum table that follows a header: one little-endian 16-bit entry a block.
inline constexpr std::size_t kTableEntrySize = 2;
inline constexpr std::string_view kIdentText = "HWEW11.1";
inline constexpr std::string_view kDateText = "2008.06.14";
inline constexpr std::string_view kTimeText = "21.13.06";
inline constexpr std::string_view kLabelText = "INPUT";

// The header fields that hold one value in every image quarnel writes (or,
// for the image record's payload_length, a whole number of sectors below
// 2 GiB), in the order of the header.
enum class HeaderField {
    FixedOne,
    ReservedAfterFixedOne,
    IdentText,
    ReservedBeforeTypeCode,
    PayloadLength,
    DateText,
    TimeText,
    LabelText,
    BlockSize,
    ReservedAtEnd,
};

// How a field's value is written and checked: a number, a text followed by
// zero fill, or the payload length, which each record sets in its own way.
enum class FieldKind { Number, Text, PayloadLength };

struct HeaderFieldRow {
    HeaderField field;
    std::string_view name;  // as the inspector's texts name it
    std::size_t offset;     // from the record's start
    std::size_t width;      // bytes
    FieldKind kind;
    std::uint32_t number;   // what quarnel writes in a Number field
    std::string_view text;  // what quarnel writes in a Text field
};

// The one description of the fixed header fields: the writer fills them from
// it, the reader checks them against it and the inspector names them from it.
inline constexpr HeaderFieldRow kHeaderFields[] = {
    {HeaderField::FixedOne, "fixed_one", 8, 2, FieldKind::Number, kFixedOne, {}},
    {HeaderField::ReservedAfterFixedOne, "zero field at 10", 10, 2, FieldKind::Number, 0, {}},
    {HeaderField::IdentText, "ident_text", 12, 8, FieldKind::Text, 0, kIdentText},
    {HeaderField::ReservedBeforeTypeCode, "zero field at 20", 20, 2, FieldKind::Number, 0, {}},
    {HeaderField::PayloadLength, "payload_length", 24, 4, FieldKind::PayloadLength, 0, {}},
    {HeaderField::DateText, "date_text", 28, 16, FieldKind::Text, 0, kDateText},
    {HeaderField::TimeText, "time_text", 44, 16, FieldKind::Text, 0, kTimeText},
    {HeaderField::LabelText, "label_text", 60, 32, FieldKind::Text, 0, kLabelText},
    {HeaderField::BlockSize, "block_size", 94, 2, FieldKind::Number, kBlockSize, {}},
    {HeaderField::ReservedAtEnd, "zero field at 96", 96, 2, FieldKind::Number, 0, {}},
};

constexpr const HeaderFieldRow& header_field(HeaderField field)
{
    return kHeaderFields[static_cast<std::size_t>(field)];
}

// The rows stand in the order of the enum and of the header, each inside the
// header, its number fields of a width the integers have, its texts fitting.
constexpr bool header_fields_are_consistent()
{
    std::size_t end = 0;
    for (std::size_t i = 0; i < std::size(kHeaderFields); ++i) {
        const HeaderFieldRow& row = kHeaderFields[i];
        const bool number_width = row.kind == FieldKind::Text || row.width == 2 || row.width == 4;
        if (static_cast<std::size_t>(row.field) != i || row.offset < end || !number_width ||
            row.text.size() > row.width) {
            return false;
        }
        end = row.offset + row.width;
    }
    return end <= sizeof(RecordHeader);
}

static_assert(header_fields_are_consistent());

// The struct lays the header out where the table says.
template <typename Member> constexpr bool at_row(std::size_t offset, HeaderField field)
{
    return offset == header_field(field).offset && sizeof(Member) == header_field(field).width;
}
static_assert(sizeof(RecordHeader) == 98);
static_assert(offsetof(RecordHeader, type_code) == 22 && offsetof(RecordHeader, header_checksum) == 92);
static_assert(at_row<ul16>(offsetof(RecordHeader, fixed_one), HeaderField::FixedOne) &&
              at_row<ul16>(offsetof(RecordHeader, reserved_after_fixed_one), HeaderField::ReservedAfterFixedOne) &&
              at_row<std::array<char, 8>>(offsetof(RecordHeader, ident_text), HeaderField::IdentText) &&
              at_row<ul16>(offsetof(RecordHeader, reserved_before_type_code), HeaderField::ReservedBeforeTypeCode) &&
              at_row<ul32>(offsetof(RecordHeader, payload_length), HeaderField::PayloadLength) &&
              at_row<std::array<char, 16>>(offsetof(RecordHeader, date_text), HeaderField::DateText) &&
              at_row<std::array<char, 16>>(offsetof(RecordHeader, time_text), HeaderField::TimeText) &&
              at_row<std::array<char, 32>>(offsetof(RecordHeader, label_text), HeaderField::LabelText) &&
              at_row<ul16>(offsetof(RecordHeader, block_size), HeaderField::BlockSize) &&
              at_row<ul16>(offsetof(RecordHeader, reserved_at_end), HeaderField::ReservedAtEnd));

// The header's bytes, as they lie in the file.
using RecordHeaderBytes = std::array<std::uint8_t, sizeof(RecordHeader)>;

// A header as its bytes and back. Copied with memcpy rather than std::bit_cast,
// which the C++ library of the WebAssembly build (Emscripten 3.1.6) lacks.
inline RecordHeaderBytes bytes_of(const RecordHeader& header)
{
    RecordHeaderBytes bytes;
    std::memcpy(bytes.data(), &header, sizeof header);
    return bytes;
}

inline RecordHeader header_from(const RecordHeaderBytes& bytes)
{
    RecordHeader header;
    std::memcpy(&header, bytes.data(), sizeof header);
    return header;
}

// Writes every Number and Text field of the table into a header.
void write_fixed_fields(RecordHeader& header);

// A Number or PayloadLength field's value in the header's bytes.
std::uint32_t field_number(const RecordHeaderBytes& bytes, const HeaderFieldRow& row);

// A Text field as quarnel writes it: the text, then zero bytes to the field's width.
std::string written_text(const HeaderFieldRow& row);

// The header's own checksum: over the whole header, its checksum field taken as zero.
std::uint16_t header_checksum_of(RecordHeader header);

}  // namespace quarnel
