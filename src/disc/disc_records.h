// The records of an ECMA-119 disc as structs of bytes, each field named and
// at the offset ECMA-119's tables give it (checked below), and the encoders
// that fill them: both-byte-order integers, padded texts and the two forms
// of a date. No operating-system code: the web page builds this too.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "image/integers.h"

namespace quarnel::disc {

// A both-byte-order field: the value little-endian, then big-endian.
template <typename T> struct BothEndian {
    Integer<T, ByteOrder::Little> little;
    Integer<T, ByteOrder::Big> big;

    constexpr BothEndian& operator=(T value)
    {
        little = value;
        big = value;
        return *this;
    }
};
using Both16 = BothEndian<std::uint16_t>;  // 4 bytes
using Both32 = BothEndian<std::uint32_t>;  // 8 bytes

// A directory record's date: one byte each, the year from 1900, and the
// offset from UTC in 15-minute steps.
struct RecordingTime {
    std::uint8_t years_since_1900;
    std::uint8_t month;
    std::uint8_t day;
    std::uint8_t hour;
    std::uint8_t minute;
    std::uint8_t second;
    std::uint8_t utc_offset;
};

// A volume descriptor's date: "YYYYMMDDHHMMSScc" and the offset from UTC;
// all '0' digits and an offset of 0 for none.
struct VolumeTime {
    std::array<char, 16> digits;
    std::uint8_t utc_offset;
};

inline constexpr std::uint8_t kDirectoryFlag = 0x02;

// The fixed part of a directory record; the identifier follows it, then a
// zero byte when the identifier's length is even.
struct DirectoryRecord {
    std::uint8_t length;
    std::uint8_t extended_attribute_length;
    Both32 extent;
    Both32 data_length;
    RecordingTime recording_time;
    std::uint8_t flags;
    std::uint8_t file_unit_size;
    std::uint8_t interleave_gap_size;
    Both16 volume_sequence_number;
    std::uint8_t identifier_length;
};

// The fixed part of a path table record, in the table's byte order; the
// identifier follows it, then a zero byte when its length is odd.
template <ByteOrder Order> struct PathTableRecord {
    std::uint8_t identifier_length;
    std::uint8_t extended_attribute_length;
    Integer<std::uint32_t, Order> extent;
    Integer<std::uint16_t, Order> parent_number;
};

// The root's directory record within a volume descriptor: its identifier is one zero byte.
inline constexpr std::size_t kRootRecordSize = sizeof(DirectoryRecord) + 1;

// The primary and the supplementary volume descriptors; the terminator is
// the first three fields alone. Text fields are bytes, as the Joliet one
// holds UCS-2.
struct VolumeDescriptor {
    std::uint8_t type;
    std::array<char, 5> standard_identifier;
    std::uint8_t version;
    std::uint8_t volume_flags;  // unused in the primary
    std::array<std::uint8_t, 32> system_identifier;
    std::array<std::uint8_t, 32> volume_identifier;
    std::array<std::uint8_t, 8> unused_at_72;
    Both32 volume_space_size;
    std::array<char, 32> escape_sequences;  // unused in the primary
    Both16 volume_set_size;
    Both16 volume_sequence_number;
    Both16 logical_block_size;
    Both32 path_table_size;
    ul32 l_path_table;
    ul32 optional_l_path_table;
    ub32 m_path_table;
    ub32 optional_m_path_table;
    std::array<std::uint8_t, kRootRecordSize> root_directory_record;
    std::array<std::uint8_t, 128> volume_set_identifier;
    std::array<std::uint8_t, 128> publisher_identifier;
    std::array<std::uint8_t, 128> data_preparer_identifier;
    std::array<std::uint8_t, 128> application_identifier;
    std::array<std::uint8_t, 37> copyright_file_identifier;
    std::array<std::uint8_t, 37> abstract_file_identifier;
    std::array<std::uint8_t, 37> bibliographic_file_identifier;
    VolumeTime creation_time;
    VolumeTime modification_time;
    VolumeTime expiration_time;
    VolumeTime effective_time;
    std::uint8_t file_structure_version;
    std::uint8_t reserved_at_882;
    std::array<std::uint8_t, 512> application_use;
    std::array<std::uint8_t, 653> reserved_at_1395;
};

inline constexpr std::uint8_t kPrimaryDescriptorType = 1;
inline constexpr std::uint8_t kSupplementaryDescriptorType = 2;
inline constexpr std::uint8_t kTerminatorType = 255;
inline constexpr std::string_view kStandardIdentifier = "CD001";
inline constexpr std::string_view kJolietLevel3 = "%/E";  // UCS-2 level 3

static_assert(sizeof(RecordingTime) == 7 && sizeof(VolumeTime) == 17);
static_assert(sizeof(DirectoryRecord) == 33 && offsetof(DirectoryRecord, extent) == 2 &&
              offsetof(DirectoryRecord, data_length) == 10 && offsetof(DirectoryRecord, recording_time) == 18 &&
              offsetof(DirectoryRecord, flags) == 25 && offsetof(DirectoryRecord, volume_sequence_number) == 28 &&
              offsetof(DirectoryRecord, identifier_length) == 32);
static_assert(sizeof(PathTableRecord<ByteOrder::Big>) == 8 && offsetof(PathTableRecord<ByteOrder::Big>, extent) == 2 &&
              offsetof(PathTableRecord<ByteOrder::Big>, parent_number) == 6);
static_assert(
    sizeof(VolumeDescriptor) == 2048 && offsetof(VolumeDescriptor, system_identifier) == 8 &&
    offsetof(VolumeDescriptor, volume_identifier) == 40 && offsetof(VolumeDescriptor, volume_space_size) == 80 &&
    offsetof(VolumeDescriptor, escape_sequences) == 88 && offsetof(VolumeDescriptor, volume_set_size) == 120 &&
    offsetof(VolumeDescriptor, logical_block_size) == 128 && offsetof(VolumeDescriptor, path_table_size) == 132 &&
    offsetof(VolumeDescriptor, l_path_table) == 140 && offsetof(VolumeDescriptor, m_path_table) == 148 &&
    offsetof(VolumeDescriptor, root_directory_record) == 156 &&
    offsetof(VolumeDescriptor, volume_set_identifier) == 190 &&
    offsetof(VolumeDescriptor, copyright_file_identifier) == 702 && offsetof(VolumeDescriptor, creation_time) == 813 &&
    offsetof(VolumeDescriptor, effective_time) == 864 && offsetof(VolumeDescriptor, file_structure_version) == 881 &&
    offsetof(VolumeDescriptor, application_use) == 883);

// A directory record's size for an identifier of `identifier_length` bytes, and a path table record's.
constexpr std::size_t record_size(std::size_t identifier_length)
{
    return sizeof(DirectoryRecord) + identifier_length + (identifier_length + 1) % 2;
}
constexpr std::size_t path_record_size(std::size_t identifier_length)
{
    return sizeof(PathTableRecord<ByteOrder::Big>) + identifier_length + identifier_length % 2;
}

// What one directory record tells of an entry.
struct RecordFields {
    std::uint32_t extent = 0;
    std::uint32_t data_length = 0;
    std::int64_t time = 0;  // seconds since the epoch, UTC, kFirstRecordTime .. kLastRecordTime
    bool directory = false;
};

// Writes the record of `fields` and `identifier` at the start of `at`, which
// holds record_size() zero bytes.
void store_directory_record(std::span<std::uint8_t> at, const RecordFields& fields, std::string_view identifier);

// Writes a path table record at the start of `at`, which holds path_record_size() zero bytes.
template <ByteOrder Order>
void store_path_record(std::span<std::uint8_t> at, std::uint32_t extent, std::uint16_t parent_number,
                       std::string_view identifier);

// A volume descriptor's date of `seconds`, or its form for no date.
VolumeTime volume_time(std::optional<std::int64_t> seconds);

// `text` padded with spaces to the field's width.
void store_text(std::span<std::uint8_t> field, std::string_view text);

// `text` as UCS-2 big-endian padded with spaces; an odd last byte stays zero.
void store_ucs2_text(std::span<std::uint8_t> field, std::u16string_view text);

// The descriptor's first fields, as every descriptor starts: its type, "CD001" and version 1.
void start_descriptor(VolumeDescriptor& descriptor, std::uint8_t type);

}  // namespace quarnel::disc
