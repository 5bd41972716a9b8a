// The 98-byte header that starts each record of a modem image.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "image/integers.h"

namespace quarnel {

struct RecordHeader {
    ul32 magic;
    ul32 header_length;  // from the record's start to its payload
    ul16 fixed_one;
    ul16 zero_10;
    std::array<char, 8> ident_text;
    ul16 zero_20;
    ul16 type_code;
    ul32 payload_length;
    std::array<char, 16> date_text;
    std::array<char, 16> time_text;
    std::array<char, 32> label_text;
    ul16 header_checksum;
    ul16 block_size;
    ul16 zero_96;
};

static_assert(sizeof(RecordHeader) == 98);
static_assert(offsetof(RecordHeader, type_code) == 22);
static_assert(offsetof(RecordHeader, header_checksum) == 92);

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

// The header's own checksum: over the whole header, its checksum field taken as zero.
std::uint16_t header_checksum_of(RecordHeader header);

// Copies text into a fixed-width field and zero-fills the rest of it.
template <std::size_t N> constexpr std::array<char, N> fixed_text(std::string_view text)
{
    std::array<char, N> field{};
    for (std::size_t i = 0; i < text.size() && i < N; ++i) {
        field[i] = text[i];
    }
    return field;
}

}  // namespace quarnel
